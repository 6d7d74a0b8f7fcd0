#!/usr/bin/env bash
# Import speed on the text of each recording, apart from the cost of starting a process and
# creating a capture: each file is made into a long recording of the same program
# (repeat-recording.py: copies one after another in time, at least MIN_MB megabytes), and
# `qx import` and the Perl folder each read it once per run.
#   Benchmarks/Importers/import-throughput.sh QX_BINARY RUNS MIN_MB FILE...
# Prints one Markdown table row per file: the long text's size, the best wall time, CPU time and
# peak memory of each over RUNS runs, both speeds in MB/s and their ratio.
set -euo pipefail
qx="$(realpath "$1")"
runs="$2"
minMb="$3"
shift 3
here="$(cd "$(dirname "$0")" && pwd)"
# Texts and captures on tmpfs when there is one, so that the disk does not time either tool.
base="${TMPDIR:-/tmp}"
[ -d /dev/shm ] && base=/dev/shm
work="$(mktemp -d "$base/import-throughput.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Best wall seconds, its CPU seconds (user + system) and the largest peak RSS in MB of a command.
measure() {
    local best="" cpu="" rss=0
    for ((i = 0; i < runs; i++)); do
        rm -rf "$work/capture"
        /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$@" >/dev/null 2>&1
        read -r wall user system kb <"$work/time"
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$wall"
            cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')
        fi
        ((kb / 1024 > rss)) && rss=$((kb / 1024))
    done
    echo "$best $cpu $rss"
}

echo "| recording | text | Perl wall (CPU) s | Perl MB/s | qx wall (CPU) s | qx peak RSS | qx MB/s | speed-up |"
echo "|---|---|---|---|---|---|---|---|"
for file in "$@"; do
    long="$work/$(basename "$file")"
    python3 "$here/repeat-recording.py" "$file" $((minMb * 1000000)) >"$long"
    size=$(stat -c %s "$long")
    read -r perlWall perlCpu _ < <(measure perl "$here/fold-perf-script.pl" "$long")
    read -r qxWall qxCpu qxRss < <(measure "$qx" import "$long" -o "$work/capture")
    awk -v f="$(basename "$file")" -v s="$size" -v pw="$perlWall" -v pc="$perlCpu" -v qw="$qxWall" \
        -v qc="$qxCpu" -v qr="$qxRss" 'BEGIN {
            printf "| %s | %.0f MB | %.2f (%.2f) | %.0f | %.2f (%.2f) | %d MB | %.0f | %.1fx |\n",
                f, s / 1e6, pw, pc, s / 1e6 / pw, qw, qc, qr, s / 1e6 / qw, pw / qw }'
    rm -f "$long"
done
