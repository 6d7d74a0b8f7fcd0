#!/usr/bin/env bash
# The main job: build qx, import the bundled demo recording on first use, and show its call
# graph and the busiest thread's top functions.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" >/dev/null
qx="$root/build/Host/qx/qx"
capture="$root/build/demo-capture"

"$qx" --version
if [ ! -f "$capture/demo-capture.session" ]; then
    rm -rf "$capture"
    echo "== importing Demo/demo-recording.txt.gz into $capture"
    "$qx" import "$root/Demo/demo-recording.txt.gz" -o "$capture"
fi

echo
echo "== the capture"
"$qx" info "$capture"

echo
echo "== whole-capture call graph (9 levels, nodes of at least 2%)"
"$qx" callgraph "$capture" --depth 9 --min-percent 2

# The busiest thread is the one with the most samples in the folded stacks by thread id.
busiest="$("$qx" folded "$capture" --tid | awk '{
        split($1, parts, ";"); n = split(parts[1], name, "/"); tid = name[n];
        count[tid] += $NF } END { for (t in count) print count[t], t }' | sort -rn | head -1 | awk '{print $2}')"
if [ -n "$busiest" ]; then
    echo
    echo "== top functions of the busiest thread ($busiest)"
    "$qx" functions "$capture" --threads "$busiest" --top 15
fi

# The demo function with the most own time, from the CSV (the module is the sixth field from
# the end; a function name may itself hold quoted commas). The capture names the demo binary it
# recorded; when that is not on this machine, the build's own demo stands in for it.
hottest="$("$qx" functions "$capture" --format csv | awk -F, 'NR > 1 && $(NF-5) == "demo" {
        name = $0; sub(/,[^,]*,[^,]*,[^,]*,[^,]*,[^,]*,[^,]*$/, "", name); gsub(/^"|"$/, "", name);
        if ($(NF-3) + 0 > best) { best = $(NF-3) + 0; hot = name } } END { print hot }')"
if [ -n "$hottest" ]; then
    echo
    echo "== source of the hottest demo function ($hottest), per-line time"
    "$qx" source "$capture" "$hottest" --debug-dir "$root/build/Demo" || true
fi

cat <<TEXT

Record your own program (needs perf; see README.md):
  $qx record -o /tmp/my-capture -- ./my-program ARGS...
  $qx functions /tmp/my-capture --top 20
TEXT
