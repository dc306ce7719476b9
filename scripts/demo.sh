#!/usr/bin/env bash
# Builds websetup and runs it once in debug mode, so its log lines show on
# the terminal and in the log file under $APPDATA/RUDarodiridu/logs/. The
# setup runs until it is asked to quit; the demo asks after a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target websetup

export APPDATA="${APPDATA:-$PWD/build/demo/appdata}"
mkdir -p "$APPDATA"
echo "demo: build/bin/websetup debug   (APPDATA=$APPDATA)"
build/bin/websetup debug &
pid=$!
sleep "${DEMO_SECONDS:-3}"
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" || true
echo "demo: newest log file:"
ls -t "$APPDATA"/RUDarodiridu/logs/*/*.log 2>/dev/null | head -n 1
