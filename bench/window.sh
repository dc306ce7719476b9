#!/usr/bin/env bash
# The window's weight and speed: the real websetup under Xvfb against
# maker-services, N runs of the happy road (tick, Install, download at full
# speed, verification, install, the product started). Prints the medians
# and maxima of the time to the first frame, the resident memory at the
# setting page and its peak from Install to the end, the longest stall of
# the window thread, and the size of the executable stripped.
#
#   bench/window.sh [--runs N] [--build DIR] [--keep] [--carousel SECONDS]
#
#   --runs N     runs (default 5)
#   --build DIR  build folder with bin/websetup, bin/maker-services and the
#                sample installer (default <repo>/build); runs go to
#                DIR/bench/window/
#   --keep       keep each run's folder (logs, probe files, journal)
#   --carousel S one more run that stays S seconds on the running page
#                (the download held slow) while the carousel slides; its
#                memory must not grow by more than 1 MiB
#
# Exits 1 when a goal was missed.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
args=(--build "$here/../build")
while [[ $# -gt 0 ]]; do
  case "$1" in
    --runs) args+=(--runs "$2"); shift 2 ;;
    --build) args+=(--build "$(cd "$2" && pwd)"); shift 2 ;;
    --keep) args+=(--keep); shift ;;
    --carousel) args+=(--carousel "$2"); shift 2 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
for tool in Xvfb xdotool python3 strip; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
exec python3 "$here/bench_window.py" "${args[@]}"
