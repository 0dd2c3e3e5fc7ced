#!/bin/sh
# Builds the native fuzz targets of tests/fuzz (clang-14, libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) into $BUILD_DIR/fuzz and runs
# each one, in turn, from its seed corpus. Fails when a target finds a crash,
# a sanitizer fault, a hang or a broken property.
#
#   scripts/fuzz.sh                      a bounded run (what scripts/test.sh runs)
#   scripts/fuzz.sh -runs 5000000        more executions per target
#   scripts/fuzz.sh -time 120 share_text a time per target, for some targets only
#
# -runs and -time both bound each target: it stops at whichever comes first
# (defaults: 200000 executions, 12 seconds; -time alone: no bound on the
# executions). New inputs go to $BUILD_DIR/fuzz/corpus/<target>, so that later
# runs start from them; the seeds in tests/fuzz/corpus/<target> are only read.
# A failing input is kept as $BUILD_DIR/fuzz/artifacts/<target>-crash-...;
# rerun it with $BUILD_DIR/fuzz/fuzz_<target> <file>.
set -eu
. "$(dirname "$0")/env.sh"

all="import_record registry_script share_text domain_labels trace_buffer"
runs=""
time=""
while [ $# -gt 0 ]; do
    case "$1" in
    -runs) runs="$2"; shift 2 ;;
    -time) time="$2"; shift 2 ;;
    -*) kalvora_fail "unknown option '$1'" "usage: scripts/fuzz.sh [-runs N] [-time SECONDS] [target ...]" ;;
    *) break ;;
    esac
done
[ -n "$runs" ] || { [ -n "$time" ] && runs=-1; } || runs=200000
time="${time:-12}"
targets="${*:-$all}"

"$KALVORA_ROOT/scripts/setup.sh" fuzz
dir="$BUILD_DIR/fuzz"
mkdir -p "$dir"
if ! { CC=clang-14 CXX=clang++-14 cmake -S "$KALVORA_ROOT/tests/fuzz" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$dir" -j "$(nproc)"; } >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    kalvora_fail "building the fuzz targets failed (log above)" "check that clang-14 and libclang-rt-14-dev are installed (scripts/setup.sh fuzz does it)"
fi
rm -f "$dir.log"

# Reports name source lines where the symbolizer is installed (llvm-14).
[ -x /usr/bin/llvm-symbolizer-14 ] && export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14

failed=""
for t in $targets; do
    [ -x "$dir/fuzz_$t" ] || kalvora_fail "no fuzz target '$t'" "targets: $all"
    mkdir -p "$dir/corpus/$t" "$dir/artifacts"
    log="$dir/fuzz_$t.log"
    # -timeout: one input that runs for 10 s counts as a hang.
    if "$dir/fuzz_$t" -runs="$runs" -max_total_time="$time" -timeout=10 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$dir/artifacts/$t-" "$dir/corpus/$t" "$KALVORA_ROOT/tests/fuzz/corpus/$t" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed="$failed $t"
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $t: ${execs:-?} executions, $status"
    [ "$status" = ok ] || tail -n 40 "$log"
done

if [ -n "$failed" ]; then
    echo "fuzz targets failed:$failed (inputs in $dir/artifacts)" >&2
    exit 1
fi
