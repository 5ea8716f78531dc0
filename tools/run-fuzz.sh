#!/usr/bin/env bash
# Builds the libFuzzer targets of the image code and the trace reader with clang (ASan + UBSan) in
# BUILD_DIR and runs each for SECONDS, starting from the seed corpus under
# tests/fuzz/corpus. Fails when any target finds a crash, a leak, or a broken
# image rule; the input that did it is kept in BUILD_DIR/artifacts.
#
#   tools/run-fuzz.sh BUILD_DIR SECONDS
set -euo pipefail

if [[ $# -ne 2 || ! $2 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build=$1
seconds=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# The fuzz folder is configured on its own: fuzzing needs only the image code,
# not the rest of the tree built with clang.
cmake -S "$root/tests/fuzz" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2

failed=0
summary=()
for name in srecord addr_assign load_place trace_reader; do
    target="$build/kestrel_fuzz_$name"
    corpus="$build/corpus/$name"      # grows as the run finds new paths; the seeds stay as they are
    artifacts="$build/artifacts/$name/"
    log="$build/fuzz-$name.log"
    mkdir -p "$corpus" "$artifacts"
    rm -f "$artifacts"/*
    echo "== fuzzing $name for ${seconds}s"
    status=0
    "$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts" "$corpus" "$root/tests/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [[ $status -ne 0 ]] || compgen -G "$artifacts*" >/dev/null; then
        failed=1
        tail -n 40 "$log" >&2
        summary+=("$name: FAILED after ${runs:-?} executions (status $status); inputs in $artifacts")
    else
        summary+=("$name: ${runs:-?} executions, no crash")
    fi
done

printf '%s\n' "${summary[@]}"
exit $failed
