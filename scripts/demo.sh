#!/usr/bin/env bash
# Builds websetup and runs it once in debug mode, so its log lines show on
# the terminal and in the log file under $APPDATA/RUDarodiridu/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target websetup

export APPDATA="${APPDATA:-$PWD/build/demo/appdata}"
mkdir -p "$APPDATA"
echo "demo: running build/bin/websetup debug (APPDATA=$APPDATA)"
build/bin/websetup debug
echo "demo: log files:"
find "$APPDATA/RUDarodiridu/logs" -name '*.log' -newer build/bin/websetup -print 2>/dev/null || true
