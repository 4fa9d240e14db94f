#!/usr/bin/env bash
# Builds the libFuzzer targets with AddressSanitizer and UndefinedBehaviorSanitizer and runs each for
# the given time, two at a time, on a scratch copy of its corpus. At the end the inputs that reach new
# code are merged into tests/fuzz-corpus/<target>, which the ordinary tests replay.
#   scripts/fuzz.sh [seconds-per-target] [target...]     (default: 600 seconds, every target)
# Environment: FUZZ_JOBS (targets at once, default 2), FUZZ_CORPUS_CAP (new files kept per target,
# default 30), FUZZ_MERGE=0 to leave the repository's corpus alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-600}
shift || true
all_targets=(index_line config_file datagroup_xml command_line run_journal)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
jobs=${FUZZ_JOBS:-2}
cap=${FUZZ_CORPUS_CAP:-30}
build=$root/build-fuzz
work=$build/fuzz-work

max_len() {
    case $1 in
    index_line | datagroup_xml) echo 8192 ;;
    config_file) echo 2048 ;;
    *) echo 1024 ;;
    esac
}

if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTOLLAVAR_FUZZ=ON -DTOLLAVAR_GUI=OFF \
        -DTOLLAVAR_TESTS=OFF -DTOLLAVAR_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}" -- -j2 | { grep -v '^\[' || true; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
    local target=$1 dir=$work/$1
    # The scratch corpus stays between runs, so a later run goes on from where the last one got to.
    mkdir -p "$dir/corpus"
    rm -f "$dir"/{crash,leak,timeout,oom,slow-unit}-*
    cp "$root/tests/fuzz-corpus/$target"/* "$dir/corpus/"
    local dict=()
    [ -f "$root/fuzz/$target.dict" ] && dict=("-dict=$root/fuzz/$target.dict")
    # A slow input counts as a finding: nothing here should take seconds.
    "$build/fuzz/fuzz_$target" "$dir/corpus" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="$dir/" >"$dir/log" 2>&1
}

mkdir -p "$work"
declare -A status
running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    echo "fuzzing $target for ${seconds}s (log: $work/$target/log)"
    mkdir -p "$work/$target"
    (run_one "$target" && echo ok >"$work/$target/status" || echo failed >"$work/$target/status") &
    running=$((running + 1))
done
wait

failed=0
printf '\n%-14s %8s %12s %8s %7s %7s %7s %8s\n' target seconds executions exec/s cov ft corpus rss-mb
for target in "${targets[@]}"; do
    log=$work/$target/log
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    rss=$(grep -o 'stat::peak_rss_mb: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    ran=$(grep -o 'Done [0-9]* runs in [0-9]*' "$log" | grep -o '[0-9]*$' || echo 'stopped')
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' <<<"$last" | grep -o '[0-9]*' || echo '?')
    ft=$(grep -o 'ft: [0-9]*' <<<"$last" | grep -o '[0-9]*' || echo '?')
    corp=$(ls "$work/$target/corpus" | wc -l)
    printf '%-14s %8s %12s %8s %7s %7s %7s %8s\n' "$target" "$ran" "$execs" "$rate" "$cov" "$ft" "$corp" "$rss"
    if [ "$(cat "$work/$target/status")" != ok ]; then
        failed=1
        echo "  FINDING in $target: see $log and $(ls "$work/$target"/{crash,leak,timeout,oom,slow-unit}-* 2>/dev/null | tr '\n' ' ')"
    fi
done

if [ "${FUZZ_MERGE:-1}" = 1 ]; then
    for target in "${targets[@]}"; do
        repo=$root/tests/fuzz-corpus/$target
        before=$(ls "$repo" | wc -l)
        # Only what adds coverage over the kept corpus, small inputs first; the corpus stays small by
        # dropping the largest new files past the cap (hand-written seed-* and regress-* files stay).
        "$build/fuzz/fuzz_$target" -merge=1 -max_len="$(max_len "$target")" "$repo" "$work/$target/corpus" \
            >"$work/$target/merge.log" 2>&1 || echo "merge of $target failed: see $work/$target/merge.log"
        find "$repo" -type f ! -name 'seed-*' ! -name 'regress-*' -size +4k -delete
        mapfile -t generated < <(find "$repo" -type f ! -name 'seed-*' ! -name 'regress-*' -printf '%s %p\n' |
            sort -n | cut -d' ' -f2-)
        for ((i = cap; i < ${#generated[@]}; i++)); do
            rm -f "${generated[$i]}"
        done
        echo "corpus $target: $before -> $(ls "$repo" | wc -l) files"
    done
    du -sh "$root/tests/fuzz-corpus"
fi
exit "$failed"
