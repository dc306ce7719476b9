#!/usr/bin/env bash
# Installs what the build needs, checks the include arrows, builds
# everything and runs every test: the whole suite; the libraries once more
# with clang's thread-safety analysis; the threaded modules again under
# ThreadSanitizer; the whole suite again under AddressSanitizer and UBSan;
# then the Windows pass: the i686 product build and the x86_64 build whose
# tests run under Wine (scripts/build-windows.sh).
# Exits non-zero on any failure. WEBSETUP_SKIP_CLANG=1, WEBSETUP_SKIP_TSAN=1,
# WEBSETUP_SKIP_ASAN=1 or WEBSETUP_SKIP_WINDOWS=1 leave a pass out; under
# CI (CI=true) the Windows pass always runs.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# Tests write only into their own folders: a vendor folder that appears at
# the file-system root during the run is a leak, and fails the run.
root_leak=/RUDarodiridu
leak_before=0; [ -e "$root_leak" ] && leak_before=1
check_root_leak() {
  if [ "$leak_before" = 0 ] && [ -e "$root_leak" ]; then
    echo "a test wrote $root_leak at the file-system root" >&2
    exit 1
  fi
}
# The machine's disk may be small: every pass says what is left, and under
# CI (or WEBSETUP_PRUNE=1) a sanitizer or clang build goes once its pass
# is over, as nothing later reads it (a clean clone keeps no build anyway).
prune=0
[ "${CI:-}" = true ] && prune=1
[ -n "${WEBSETUP_PRUNE:-}" ] && prune="$WEBSETUP_PRUNE"
disk_report() {
  echo "== disk: $(df -h --output=avail . | tail -n 1 | tr -d ' ') free for the builds," \
       "$(df -h --output=avail /tmp | tail -n 1 | tr -d ' ') for /tmp"
}
done_with() { [ "$prune" = 1 ] && rm -rf "$@"; disk_report; }
disk_report
scripts/install-deps.sh

windows=1
[ "${WEBSETUP_SKIP_WINDOWS:-0}" = 1 ] && [ "${CI:-}" != true ] && windows=0
# The Windows libraries are built from Debian's sources once per machine
# (cached outside the clone), and the two Windows project builds take a
# quarter of an hour of CPU. Both start now, at the lowest priority, and use
# what the Linux passes leave of the processors (their tests wait on
# sockets and timers much of the time): the sysroots first, then, once the
# Linux build has made the host tools the Windows build calls (the payload
# packer, maker-services), the project. The Windows pass at the end waits
# for it and runs the tests under Wine.
windows_pid=""
linux_built=build/.windows-may-build
if [ "$windows" = 1 ]; then
  mkdir -p build
  rm -f "$linux_built"
  # A session of its own, so a failing Linux pass can end it with all of
  # its compilers.
  setsid nice -n 19 bash -c '
    set -e
    scripts/build-windows.sh --sysroot-only
    while [ ! -e "$1" ]; do sleep 5; done
    WEBSETUP_HOST_BUILD="$PWD/build" scripts/build-windows.sh' _ "$linux_built" \
    >build/windows-build.log 2>&1 &
  windows_pid=$!
  # A new session is a scheduling group of its own, where nice counts only
  # inside the group; the group itself gets the low priority here.
  echo 19 >"/proc/$windows_pid/autogroup" 2>/dev/null || true
  trap '[ -n "$windows_pid" ] && kill -- -"$windows_pid" 2>/dev/null || true' EXIT
fi

scripts/check-includes.sh
scripts/check-format.sh   # the lines the newest commit changed; WEBSETUP_FORMAT_BASE for more

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
touch "$linux_built"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300 --repeat until-pass:2
check_root_leak
disk_report

if [ "${WEBSETUP_SKIP_CLANG:-0}" != 1 ]; then
  echo "== clang -Wthread-safety, fuzz targets"
  # One clang build serves both: the lock analysis of every library, and
  # the libFuzzer targets, for which the same libraries are instrumented.
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Debug \
    -DWEBSETUP_THREAD_SAFETY=ON -DWEBSETUP_FUZZ=ON >/dev/null
  # The program's target pulls in every library.
  cmake --build build-clang -j"$jobs" --target app fuzz_targets
  # A smoke pass of 10 s per target from its seeds; scripts/fuzz.sh runs longer.
  WEBSETUP_FUZZ_BUILD=build-clang WEBSETUP_FUZZ_NO_BUILD=1 scripts/fuzz.sh 10
  done_with build-clang
fi

# The sanitizer passes compile at -O1 with line tables only: the checks and
# the stack traces are the same, the two builds cost far less time.
sanitizer_flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
                 -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")

if [ "${WEBSETUP_SKIP_TSAN:-0}" != 1 ]; then
  echo "== ThreadSanitizer"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_TSAN=ON "${sanitizer_flags[@]}" >/dev/null
  cmake --build build-tsan -j"$jobs" --target tsan_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan -L tsan --output-on-failure -j"$jobs" --timeout 600 --no-tests=ignore --repeat until-pass:2
  done_with build-tsan
fi

if [ "${WEBSETUP_SKIP_ASAN:-0}" != 1 ]; then
  echo "== AddressSanitizer + UBSan"
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_ASAN=ON "${sanitizer_flags[@]}" >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS="detect_leaks=1 abort_on_error=0" \
  UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600 --repeat until-pass:2
  done_with build-asan
fi
check_root_leak

if [ "$windows" = 1 ]; then
  echo "== Windows: the i686 product, the x86_64 tests under Wine"
  rc=0
  wait "$windows_pid" || rc=$?
  windows_pid=""
  if [ "$rc" != 0 ]; then
    tail -n 80 build/windows-build.log >&2
    echo "the Windows build failed (build/windows-build.log)" >&2
    exit 1
  fi
  ctest --test-dir build-win64 --output-on-failure -j"$jobs" --timeout 600 --repeat until-pass:2
  # Tried twice, as every test is.
  scripts/windows/websetup-get-road.sh build-win64 build \
    || scripts/windows/websetup-get-road.sh build-win64 build
  check_root_leak
fi
