#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them.
#   scripts/fuzz.sh smoke          a short run of every target (part of the test command)
#   scripts/fuzz.sh run SECONDS    a long run of every target, figures in build-fuzz/fuzz-*.log
#   scripts/fuzz.sh run SECONDS NAME   one target
# Seeds come from the unit tests (build/FuzzCorpus/NAME) when they have run.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-smoke}"
seconds="${2:-${QX_FUZZ_SMOKE_SECONDS:-30}}"
only="${3:-}"
[ "$mode" = smoke ] && seconds="${QX_FUZZ_SMOKE_SECONDS:-30}"
# The smoke run is part of the test command, so it uses a fixed seed: a failure it finds can be
# reproduced on any machine. Long runs keep libFuzzer's random seed to explore further.
seedOption=()
[ "$mode" = smoke ] && seedOption=(-seed="${QX_FUZZ_SEED:-1}")

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ not found, skipping the fuzz smoke runs"
    exit 0
fi

build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQX_FUZZ=ON -DQX_BUILD_TESTS=OFF \
    -DQX_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" --target fuzzers -j "${QX_JOBS:-$(nproc)}" || { echo "fuzz: build failed"; exit 1; }

status=0
shopt -s nullglob
binaries=("$build"/fuzzers/*)
[ ${#binaries[@]} -eq 0 ] && echo "fuzz: no fuzz targets yet"
for binary in "${binaries[@]}"; do
    name="$(basename "$binary")"
    [ -n "$only" ] && [ "$name" != "$only" ] && continue
    [ -x "$binary" ] || continue
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    seeds="$root/build/FuzzCorpus/$name"
    [ -d "$seeds" ] || seeds=""
    log="$build/fuzz-$name.log"
    echo "fuzz: $name for ${seconds}s"
    if (cd "$build" && "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
            "${seedOption[@]}" -print_final_stats=1 "$corpus" $seeds >"$log" 2>&1); then
        grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" "$log" | tr '\n' ' '
        echo
    else
        echo "fuzz: $name FAILED (see $log)"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
