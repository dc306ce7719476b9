#!/usr/bin/env bash
# The main job as far as it is built: the setup's start-up and shutdown, and
# the download engine fetching an installer from the local stand-in of the
# maker's services, interrupted and resumed.
#   1. websetup debug: start-up logs to the console and to the log file under
#      $APPDATA/RUDarodiridu/logs/, runs until asked to quit (SIGTERM after a
#      few seconds), then shuts down in order.
#   2. maker-services serves a 64 MiB installer; websetup-get downloads it,
#      is killed half-way, and a second run fetches only what is missing,
#      then checks the MD5.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target websetup websetup-get maker-services

demo="$PWD/build/demo"
export APPDATA="${APPDATA:-$demo/appdata}"
mkdir -p "$APPDATA"

echo "== 1. build/bin/websetup debug   (APPDATA=$APPDATA)"
build/bin/websetup debug &
setup=$!
sleep "${DEMO_SECONDS:-3}"
kill -TERM "$setup" 2>/dev/null || true
wait "$setup" || true
echo "log file: $(ls -t "$APPDATA"/RUDarodiridu/logs/*/*.log 2>/dev/null | head -n 1)"

echo
echo "== 2. resumable download from the local maker-services"
mkdir -p "$demo/files"
installer="$demo/files/setup_orlastra.exe"
[ -f "$installer" ] || head -c $((64 * 1024 * 1024)) /dev/urandom > "$installer"
md5=$(md5sum "$installer" | cut -d' ' -f1)
rm -f "$demo/port" "$demo/setup_orlastra.exe" "$demo/setup_orlastra.exe.xml"
build/bin/maker-services --port 0 --port-file "$demo/port" --root "$demo/files" \
  --journal "$demo/journal.jsonl" &
services=$!
trap 'kill -TERM "$services" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.05; done
url="http://127.0.0.1:$(cat "$demo/port")/faults/rate=4000000/setup_orlastra.exe"

echo "first run, killed after 2 s (each connection limited to 4 MB/s):"
WEBSETUP_GET_QUIET=1 build/bin/websetup-get "$url" "$demo/setup_orlastra.exe" &
get=$!
sleep 2
kill -KILL "$get" 2>/dev/null || true
wait "$get" 2>/dev/null || true
echo "task file left for the resume: $demo/setup_orlastra.exe.xml"
sleep 0.5
before=$(wc -l < "$demo/journal.jsonl")

echo "second run resumes and checks the MD5:"
WEBSETUP_GET_QUIET=1 build/bin/websetup-get --md5 "$md5" "$url" "$demo/setup_orlastra.exe"
sleep 0.5
tail -n +"$((before + 1))" "$demo/journal.jsonl" | python3 -c '
import json, sys
sent = sum(json.loads(l).get("bytes_sent", 0) for l in sys.stdin if l.strip())
print(f"the second run fetched {sent / 2**20:.1f} MiB of 64 MiB")'
echo "requests: $demo/journal.jsonl"
