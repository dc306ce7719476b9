#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang and runs each for
# SECONDS (default 60). New inputs go to the build folder's own corpus,
# beside the committed seeds of tests/fuzz/corpus/<target>/; a crash stops
# the run with the input that caused it saved under <build>/fuzz/artifacts/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# WEBSETUP_FUZZ_BUILD names the build folder (default build-fuzz);
# scripts/test.sh points it at its clang build, whose options are the same.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
build=${WEBSETUP_FUZZ_BUILD:-build-fuzz}

if [ ! -f "$build/CMakeCache.txt" ] || ! grep -q '^WEBSETUP_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DWEBSETUP_THREAD_SAFETY=ON -DWEBSETUP_FUZZ=ON >/dev/null
fi
# WEBSETUP_FUZZ_NO_BUILD=1: the caller has just built them.
if [ "${WEBSETUP_FUZZ_NO_BUILD:-0}" != 1 ]; then
  cmake --build "$build" -j"$(nproc)" --target fuzz_targets
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in tests/fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

work="$build/fuzz"
mkdir -p "$work/artifacts"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$work/corpus/$t"
  echo "== fuzz $t (${seconds}s)"
  # Leaks are reported by the ASan pass of the unit tests; here they would
  # only stop a run at its first cached object.
  if ! ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
      "$build/bin/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$work/artifacts/${t}-" \
      "$work/corpus/$t" "tests/fuzz/corpus/$t" >"$work/$t.log" 2>&1; then
    tail -n 40 "$work/$t.log" >&2
    failed+=("$t")
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$work/$t.log" | tail -n 1 || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: crashes in ${failed[*]} (inputs in $work/artifacts/)" >&2
  exit 1
fi
