#!/usr/bin/env bash
# Download benchmark: websetup-get against aria2c, curl and axel, all
# fetching one file from a local nginx on 127.0.0.1, first at full speed and
# then with a per-connection rate limit (where splitting a download over
# several connections pays). Prints wall time, CPU seconds and peak RSS
# (medians) and each tool's ratio to the best peer.
#
#   bench/download.sh [--size-mib N] [--runs N] [--rate R] [--build DIR] [--threads N]
#
#   --size-mib N  file size in MiB (default 1024)
#   --runs N      runs per tool and scenario; the median is shown (default 3)
#   --rate R      nginx limit_rate per connection for the second scenario
#                 (default 20m, nginx units)
#   --build DIR   build folder holding bin/websetup-get (default <repo>/build);
#                 files, nginx config and logs go to DIR/bench/
#   --threads N   pass --threads N to websetup-get (default: its own choice)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/.." && pwd)"
size_mib=1024
runs=3
rate=20m
build="$repo/build"
threads=""

while [[ $# -gt 0 ]]; do
  case "$1" in
    --size-mib) size_mib="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --rate) rate="$2"; shift 2 ;;
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

work="$build/bench"
www="$work/www"
ngx="$work/nginx"
out="$work/out"
mkdir -p "$www" "$ngx/tmp" "$out"

for tool in nginx aria2c curl axel python3 md5sum; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# The test file: generated once per size and kept, with its MD5 beside it.
name="data-${size_mib}MiB.bin"
if [[ ! -f "$www/$name" || ! -f "$www/$name.md5" ]]; then
  echo "generating $size_mib MiB test file in $www ..."
  head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$www/$name.part"
  md5sum "$www/$name.part" | cut -d' ' -f1 > "$www/$name.md5"
  mv "$www/$name.part" "$www/$name"
fi
md5="$(cat "$www/$name.md5")"

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
user_line=""
if [[ "$(id -u)" == 0 ]]; then user_line="user root;"; fi
cat > "$ngx/nginx.conf" <<CONF
$user_line
worker_processes 2;
daemon on;
pid $ngx/nginx.pid;
error_log $ngx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  client_body_temp_path $ngx/tmp/body;
  proxy_temp_path $ngx/tmp/proxy;
  fastcgi_temp_path $ngx/tmp/fastcgi;
  uwsgi_temp_path $ngx/tmp/uwsgi;
  scgi_temp_path $ngx/tmp/scgi;
  types { application/octet-stream bin; }
  server {
    listen 127.0.0.1:$port;
    root $www;
    location /limited/ {
      alias $www/;
      limit_rate $rate;
    }
  }
}
CONF

stop_nginx() {
  if [[ -f "$ngx/nginx.pid" ]]; then
    local pid
    pid="$(cat "$ngx/nginx.pid")"
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    rm -f "$ngx/nginx.pid"
  fi
  rm -rf "$out"
}
trap stop_nginx EXIT
rm -f "$ngx/nginx.pid"
nginx -p "$ngx" -c "$ngx/nginx.conf" -e "$ngx/error.log"
for _ in $(seq 100); do [[ -s "$ngx/nginx.pid" ]] && break; sleep 0.05; done
[[ -s "$ngx/nginx.pid" ]] || { echo "nginx did not start; see $ngx/error.log" >&2; exit 1; }

get="$build/bin/websetup-get"
if [[ ! -x "$get" ]]; then
  echo "NOTE: $get is not built; websetup-get is left out of this run."
  get=""
fi

echo "file $name ($size_mib MiB, md5 $md5), nginx on 127.0.0.1:$port, $runs runs each, $(nproc) CPUs"
python3 "$here/bench_download.py" --base "http://127.0.0.1:$port" --name "$name" --md5 "$md5" \
  --out "$out" --runs "$runs" --size "$((size_mib * 1024 * 1024))" --rate "$rate" \
  --websetup-get "$get" --threads "$threads"
