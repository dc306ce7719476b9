#!/usr/bin/env bash
# The whole product, as a user meets it: websetup asks the local stand-in
# of the maker's services (maker-services) which installer to fetch, shows
# its window, downloads the signed demo installer, verifies it, installs the
# demo product and starts it.
#
# With a display (DISPLAY or WAYLAND_DISPLAY) the real window opens for you
# to click through. Without one, tests/e2e/demo_walk.py starts Xvfb and
# clicks through the window as a person would (xdotool, at the places the
# window's probe reports), saving a screenshot of each page under
# build/demo/shots/.
#
# Everything the setup writes stays under build/demo/ (install folder,
# registry store, logs, cache). DEMO_INSTALL_ROOT=/some/folder installs the
# product there instead.
#
# --windows runs the Windows build instead: build-win64/bin/websetup.exe
# under Wine (scripts/build-windows.sh makes it), against the same
# maker-services, serving the Authenticode-signed Windows installer. Wine
# keeps what the setup writes in a prefix of the demo's own, under
# build/demo-win/ (shots in build/demo-win/shots/ without a display).
set -euo pipefail
cd "$(dirname "$0")/.."

windows=0
[ "${1:-}" = "--windows" ] && windows=1

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target websetup maker-services sample-installer-artefacts skin-art

if [ "$windows" = 1 ]; then
  WEBSETUP_HOST_BUILD="$PWD/build" scripts/build-windows.sh --arch x86_64
  if [ -z "${DISPLAY:-}" ]; then
    exec python3 tests/e2e/demo_walk.py --windows "$PWD/build" "$PWD/build-win64"
  fi
  # With a display the same walk is left to you: the driver starts the
  # services and the setup on your display, and waits for the setup to end.
  exec python3 tests/e2e/demo_walk.py --windows --by-hand "$PWD/build" "$PWD/build-win64"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec python3 tests/e2e/demo_walk.py "$PWD/build"
fi

demo="$PWD/build/demo"
artefacts="$PWD/build/sample-installer"
rm -rf "$demo"
mkdir -p "$demo/served" "$demo/shots"
cp "$artefacts/setup_orlastra.exe" "$artefacts/downloader.xml" "$demo/served/"
# The banner service hands out these pictures, per language.
build/bin/skin-art --banners "$demo/served"

pids=()
cleanup() { for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

build/bin/maker-services --port 0 --port-file "$demo/port" --root "$demo/served" \
  --journal "$demo/journal.jsonl" >"$demo/maker-services.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$demo/port" ] && break; sleep 0.05; done
base="http://127.0.0.1:$(cat "$demo/port")"

export WEBSETUP_SERVICES_BASE="$base"
export WEBSETUP_TRUSTED_CA="$artefacts/test-ca.pem"
export WEBSETUP_SIGNER_PINS="$artefacts/signer.sha256"
export WEBSETUP_REGISTRY="$demo/registry"
export WEBSETUP_CACHE_ROOT="$demo/cache"
export WEBSETUP_RUN_ROOT="$demo/run"
export APPDATA="$demo/appdata"
export ProgramFiles="${DEMO_INSTALL_ROOT:-$demo/programs}"
export WEBSETUP_OPEN_COMMAND=/bin/true   # no browser windows from the demo
export ORLASTRA_STARTED_FILE="$demo/product-started.txt"
export SAMPLE_INSTALLER_SECONDS="${SAMPLE_INSTALLER_SECONDS:-3}"

echo "== websetup against $base"
build/bin/websetup >"$demo/websetup.out" 2>&1 &
setup=$!

echo "Click through the setup window; the script waits until the setup ends."
wait "$setup" || true

echo
log=$(ls -t "$APPDATA"/RUDarodiridu/logs/*/*.log 2>/dev/null | grep -v _Setup_ | head -n 1 || true)
echo "installed to:  $(find "$ProgramFiles" -name Orlastra.exe 2>/dev/null | head -n 1)"
echo "log file:      $log"
[ -n "$log" ] && grep -h " Average speed: " "$log" | tail -n 1 | sed 's/^.*Average speed: /download speed: /'
if [ -s "$ORLASTRA_STARTED_FILE" ]; then
  echo "product started: $(head -n 1 "$ORLASTRA_STARTED_FILE")"
fi
echo
echo "== what the maker's services received ($demo/journal.jsonl)"
python3 - "$demo/journal.jsonl" <<'EOF'
import json, sys, urllib.parse
funnel, ga4, errors = [], [], []
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r["path"].endswith("/g/collect"):
        q = urllib.parse.parse_qs(r["query"])
        cat, act = q.get("ep.qm_category", [""])[0], q.get("ep.qm_action", [""])[0]
        lab = q.get("ep.qm_label", [""])[0]
        (errors if act == "FlowError" else ga4).append(f"{cat}/{act}" + (f" ({lab})" if lab else ""))
    elif r["path"].endswith("/collect") and r["body"].strip().startswith("{"):
        a = json.loads(r["body"]).get("actions", {})
        funnel.append(f'{a.get("event_category")}/{a.get("event_action")}')
print(f"funnel steps ({len(funnel)}):", ", ".join(funnel))
print(f"GA4 events ({len(ga4)}):", ", ".join(ga4))
print(f"flow errors ({len(errors)}):", ", ".join(errors) or "none")
EOF
