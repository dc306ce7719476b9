#!/usr/bin/env bash
# The Windows downloader against the Linux maker-services on loopback: the
# x86_64 websetup-get.exe under Wine fetches a 24 MiB file in segments with
# the right MD5, is killed (-9) half way through a second, paced download,
# and the next run resumes from its task file instead of starting again.
#
#   scripts/windows/websetup-get-road.sh [WIN64_BUILD] [LINUX_BUILD]
#
# Everything it writes stays in a temporary folder (the Wine prefix of the
# Windows build folder aside). Exits non-zero on the first failed check.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WIN64="$(cd "${1:-$ROOT/build-win64}" && pwd)"
HOST="$(cd "${2:-$ROOT/build}" && pwd)"
GET="$WIN64/bin/websetup-get.exe"
[ -f "$GET" ] || { echo "road: no $GET" >&2; exit 1; }
[ -x "$HOST/bin/maker-services" ] || { echo "road: no $HOST/bin/maker-services" >&2; exit 1; }

work="$(mktemp -d /tmp/websetup-get-road.XXXXXX)"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "road: FAILED: $*" >&2; exit 1; }

wine() { "$ROOT/scripts/windows/wine-run.sh" "$@"; }

mkdir -p "$work/root" "$work/out"
head -c $((24 << 20)) /dev/urandom >"$work/root/payload.bin"
md5="$(md5sum "$work/root/payload.bin" | cut -d' ' -f1)"
"$HOST/bin/maker-services" --port 0 --port-file "$work/port" --root "$work/root" \
  --journal "$work/journal.jsonl" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "maker-services did not start"
base="http://127.0.0.1:$(cat "$work/port")"
# The folder as the Windows program sees it (Wine maps / to Z:).
out="Z:${work//\//\\}\\out"

echo "road: a whole download in segments"
wine "$GET" --threads 4 --md5 "$md5" "$base/files/payload.bin" "$out\\whole.bin" \
  || fail "websetup-get.exe did not finish the download"
[ "$(md5sum <"$work/out/whole.bin" | cut -d' ' -f1)" = "$md5" ] || fail "the file's MD5 differs"
ranged="$(grep -c '"Range"\|"range"' "$work/journal.jsonl" || true)"
[ "$ranged" -ge 2 ] || fail "the download was not segmented ($ranged ranged requests)"

echo "road: killed half way, then resumed"
rate="faults/rate=3000000"
wine "$GET" --threads 2 --md5 "$md5" "$base/$rate/payload.bin" "$out\\resumed.bin" &
runner=$!
started=$SECONDS
# A third of the file at 3 MB/s per connection over two connections, which
# takes seconds; the minute allowed is for a loaded machine's slow start.
for _ in $(seq 600); do
  written=$(du -B1 "$work/out/resumed.bin" 2>/dev/null | cut -f1 || echo 0)
  [ "${written:-0}" -ge $((8 << 20)) ] && break
  sleep 0.1
done
# wine-run.sh execs the loader, so the PID is the Windows program's own.
running=no
kill -0 "$runner" 2>/dev/null && running=yes
kill -9 "$runner" 2>/dev/null || true
status=0
wait "$runner" 2>/dev/null || status=$?
WINEPREFIX="$WIN64/wine-prefix" wineserver -k 2>/dev/null || true
if ! ls "$work/out" | grep -qi 'resumed'; then
  # What the next engineer needs to tell a program that never started from
  # a server that never answered.
  echo "road: after $((SECONDS - started)) s the run was running: $running (exit $status);" \
       "out/ holds: $(ls "$work/out" | tr '\n' ' ')" >&2
  echo "road: the server's journal ends with:" >&2
  tail -n 5 "$work/journal.jsonl" >&2 || true
  tail -n 20 "$work/server.log" >&2 || true
  fail "nothing was left to resume from"
fi
before="$(wc -l <"$work/journal.jsonl")"
wine "$GET" --threads 2 --md5 "$md5" "$base/files/payload.bin" "$out\\resumed.bin" \
  || fail "the resumed download did not finish"
[ "$(md5sum <"$work/out/resumed.bin" | cut -d' ' -f1)" = "$md5" ] || fail "the resumed file's MD5 differs"
# A restart from zero would send about 24 MiB again; a resume much less.
sent="$(tail -n +"$((before + 1))" "$work/journal.jsonl" \
  | grep -o '"bytes_sent":[0-9]*' | cut -d: -f2 | paste -sd+ | bc)"
echo "road: the second run fetched $sent of $((24 << 20)) bytes"
[ "${sent:-0}" -lt $((20 << 20)) ] || fail "the second run started again instead of resuming"
echo "road: websetup-get.exe under Wine: ok"
