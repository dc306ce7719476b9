#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs every test:
# the whole suite, then the threaded modules again under ThreadSanitizer.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300

if [ "${WEBSETUP_SKIP_TSAN:-0}" != 1 ]; then
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_TSAN=ON >/dev/null
  cmake --build build-tsan -j"$jobs" --target tsan_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan -L tsan --output-on-failure -j"$jobs" --timeout 600 --no-tests=ignore
fi
