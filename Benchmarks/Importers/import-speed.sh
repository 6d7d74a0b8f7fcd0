#!/usr/bin/env bash
# Whole-process time of `qx import` against a Perl folder of the same text, file by file:
#   Benchmarks/Importers/import-speed.sh QX_BINARY RUNS FILE...
# Prints one Markdown table row per file: size, mean wall time (and CPU time) of each over RUNS
# runs (perf stat -r), and the ratio of wall times. Each qx run imports into a new directory
# beside the build (a real disk, so fsyncs cost what they cost a user); both commands run under
# the same `sh -c`, so the shell's start-up is on both sides.
set -euo pipefail
qx="$(realpath "$1")"
runs="$2"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d "${TMPDIR:-$(dirname "$qx")}/import-speed.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Mean wall and CPU milliseconds of a command over $runs runs.
measure() {
    perf stat -r "$runs" -e task-clock sh -c "$1" 2>&1 >/dev/null |
        awk '/task-clock/ { cpu = $1 } /seconds time elapsed/ { wall = $1 * 1000 }
             END { printf "%.1f %.1f\n", wall, cpu }'
}

echo "| file | size | Perl wall (CPU) ms | qx import wall (CPU) ms | speed-up (wall) |"
echo "|---|---|---|---|---|"
for file in "$@"; do
    size=$(stat -L -c %s "$file")
    read -r perlWall perlCpu < <(measure "perl '$here/fold-perf-script.pl' '$file' > /dev/null")
    # A new capture directory per run (the shell's pid names it), so that removing the previous
    # run's capture is not timed as part of the import.
    read -r qxWall qxCpu < <(measure "'$qx' import '$file' -o '$work/c'\$\$ > /dev/null 2>&1")
    rm -rf "$work"/c*
    awk -v f="$(basename "$file")" -v s="$size" -v pw="$perlWall" -v pc="$perlCpu" -v qw="$qxWall" -v qc="$qxCpu" \
        'BEGIN { printf "| %s | %.2f MB | %.1f (%.1f) | %.1f (%.1f) | %.1fx |\n", f, s / 1e6, pw, pc, qw, qc, pw / qw }'
done
