#!/usr/bin/env bash
# Runs every libFuzzer target of the `fuzz` preset for a while, a few at a time, with the
# limits the targets must keep: no input may take longer than 2 s or hold more than 512 MB.
# Each target starts from the regression files of the test data folder its source names
# ("// replay: <folder>") and grows its own corpus in the work folder; targets that read XML
# (a name with "xml" in it) get the XML syntax of fuzz/xml.dict. At the end one line a
# target tells how far it got and whether it found anything; the exit status is non-zero when
# any target stopped on a crash, a timeout or the memory limit.
#
# Usage: fuzz/run_all.sh [seconds per target (600)] [targets at a time (3)] [work folder]
# Build first: cmake --preset fuzz && cmake --build --preset fuzz

set -u

# AddressSanitizer keeps 256 MB of freed memory in quarantine by default, half the limit by
# itself; a smaller quarantine, with freed memory given back to the system, leaves the limit
# to what the code under test holds. A caller's own ASAN_OPTIONS win.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64:allocator_release_to_os_interval_ms=1000}

seconds=${1:-600}
jobs=${2:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
work=${3:-$root/build/fuzz/runs}
bin=$root/build/fuzz/fuzz

mkdir -p "$work"
targets=()
for source in "$root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    if [[ ! -x $bin/orbelle_$name ]]; then
        echo "missing $bin/orbelle_$name: build the fuzz preset first" >&2
        exit 2
    fi
    targets+=("$name")
done

run_target() {
    local name=$1
    local folder
    folder=$(sed -n 's|^// replay: ||p' "$root/fuzz/$name.cpp")
    local options=()
    if [[ $name == *xml* ]]; then options+=(-dict="$root/fuzz/xml.dict"); fi
    mkdir -p "$work/$name/corpus" "$work/$name/findings"
    "$bin/orbelle_$name" "$work/$name/corpus" "$root/tests/data/$folder" "${options[@]}" \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=512 -malloc_limit_mb=512 \
        -print_final_stats=1 -artifact_prefix="$work/$name/findings/" \
        >"$work/$name/log.txt" 2>&1
    echo $? >"$work/$name/status"
}

running=0
for name in "${targets[@]}"; do
    run_target "$name" &
    running=$((running + 1))
    if ((running >= jobs)); then
        wait -n
        running=$((running - 1))
    fi
done
wait

failed=0
for name in "${targets[@]}"; do
    status=$(cat "$work/$name/status")
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name/log.txt" | tail -n 1)
    findings=$(find "$work/$name/findings" -type f | wc -l)
    echo "$name: ${runs:-?} executions, exit $status, $findings findings"
    if [[ $status != 0 || $findings != 0 ]]; then failed=1; fi
done
exit $failed
