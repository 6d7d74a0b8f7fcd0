#!/usr/bin/env bash
# Runs quasarix under a virtual X server on the demo capture and saves the main window, with a
# range selected and the panels docked, in the light and the dark theme:
# docs/screenshots/quasarix-light.png and docs/screenshots/quasarix-dark.png, and the modules panel
# in docs/screenshots/quasarix-modules.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cmake --build "$build" --target quasarix qx ZivuDeverUdovIradir >/dev/null
capture="$build/demo-capture"
if [ ! -f "$capture/demo-capture.session" ]; then
    rm -rf "$capture"
    "$build/Host/qx/qx" import "$root/Demo/demo-recording.txt.gz" -o "$capture" >/dev/null
fi
out="$root/docs/screenshots"
mkdir -p "$out"
# A scratch home, so the user's settings and recent captures are neither read nor changed.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
for theme in light dark; do
    HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" QX_NO_MESSAGE_BOXES=1 \
        xvfb-run -a -s "-screen 0 1600x1000x24" \
        "$build/Host/Quasarix/quasarix" --theme "$theme" --select 0.30:0.55 \
        --screenshot "$out/quasarix-$theme.png" "$capture"
    echo "saved $out/quasarix-$theme.png"
done
# The modules panel in front, with a module that has debug information here selected.
HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" QX_NO_MESSAGE_BOXES=1 QX_SHOW_MODULES=libc.so.6 \
    xvfb-run -a -s "-screen 0 1600x1000x24" \
    "$build/Host/Quasarix/quasarix" --theme light --select 0.30:0.55 \
    --screenshot "$out/quasarix-modules.png" "$capture"
echo "saved $out/quasarix-modules.png"
# The source panel on the demo's hottest function and the function list with a butterfly, taken
# by the source panel's app test (needs the tests built).
if cmake --build "$build" --target PluginTests >/dev/null 2>&1; then
    QX_SOURCE_SCREENSHOTS="$out" "$build/Tests/Plugin/PluginTests" \
        --gtest_filter='SourceViewApp.*' >/dev/null
    echo "saved $out/source-light.png, source-dark.png, source-disassembly-dark.png, function-list-dark.png"
fi
