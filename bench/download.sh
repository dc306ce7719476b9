#!/usr/bin/env bash
# Download benchmark: websetup-get against aria2c (-x4 and -x16), curl and
# axel (-n 4), all fetching from one local nginx on 127.0.0.1, in four
# scenarios: full speed, a rate limit per connection of 100 KiB/s (a slow
# link) and of 8000 KiB/s, and 50 ms before each response (a long round
# trip). Prints wall time, CPU seconds and peak RSS (medians), each tool's
# ratios to aria2c -x4 and to curl, and whether websetup-get met its goals.
#
#   bench/download.sh [--size-mib N] [--runs N] [--slow-runs N] [--only LIST]
#                     [--build DIR] [--threads N]
#
#   --size-mib N   file size in MiB of the full-speed scenario (default 1024)
#   --runs N       runs per tool and scenario; the median is shown (default 3)
#   --slow-runs N  runs per tool of the 100 KiB/s scenario (default 1: a run
#                  of curl alone takes two minutes)
#   --only LIST    comma list of scenarios to run: unlimited, slow, delay,
#                  rate8000 (default all)
#   --build DIR    build folder holding bin/websetup-get (default <repo>/build);
#                  files, nginx config and logs go to DIR/bench/
#   --threads N    pass --threads N to websetup-get (default: its own choice,
#                  4 on 2 CPUs: the connections of aria2c -x4 and axel -n 4)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/.." && pwd)"
size_mib=1024
runs=3
slow_runs=1
only="unlimited,slow,delay,rate8000"
build="$repo/build"
threads=""
# Sizes of the limited scenarios: each takes about ten seconds or more for
# the best tool, long enough that start-up costs do not decide.
slow_mib=12
delay_mib=512
rate8000_mib=256

while [[ $# -gt 0 ]]; do
  case "$1" in
    --size-mib) size_mib="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --slow-runs) slow_runs="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

work="$build/bench"
www="$work/www"
ngx="$work/nginx"
out="$work/out"
mkdir -p "$www" "$ngx/tmp" "$out"
# Run as root without a session folder, websetup-get would keep its file
# lock under /run; the benchmark keeps everything in its own folder.
export WEBSETUP_RUN_ROOT="$work/run"

for tool in nginx aria2c curl axel python3 md5sum; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# nginx-light brings the echo module; its echo_sleep makes the delay.
echo_module=/usr/lib/nginx/modules/ngx_http_echo_module.so
if [[ ",$only," == *,delay,* && ! -f "$echo_module" ]]; then
  echo "missing $echo_module (Debian nginx-light installs it)" >&2; exit 1
fi

# The test files: generated once per size and kept, each with its MD5.
make_file() {
  local mib="$1" name="data-$1MiB.bin"
  if [[ ! -f "$www/$name" || ! -f "$www/$name.md5" ]]; then
    echo "generating $mib MiB test file in $www ..." >&2
    head -c "$((mib * 1024 * 1024))" /dev/urandom > "$www/$name.part"
    md5sum "$www/$name.part" | cut -d' ' -f1 > "$www/$name.md5"
    mv "$www/$name.part" "$www/$name"
  fi
  echo "$name"
}
scenario_args=()
for s in ${only//,/ }; do
  case "$s" in
    unlimited) mib=$size_mib; path=""; n=$runs ;;
    slow) mib=$slow_mib; path="slow/"; n=$slow_runs ;;
    delay) mib=$delay_mib; path="delayed/"; n=$runs ;;
    rate8000) mib=$rate8000_mib; path="rate8000/"; n=$runs ;;
    *) echo "unknown scenario $s" >&2; exit 2 ;;
  esac
  name="$(make_file "$mib")"
  scenario_args+=(--scenario "$s,$path$name,$(cat "$www/$name.md5"),$((mib * 1024 * 1024)),$n")
done

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
user_line=""
if [[ "$(id -u)" == 0 ]]; then user_line="user root;"; fi
load_line=""
if [[ -f "$echo_module" ]]; then load_line="load_module $echo_module;"; fi
cat > "$ngx/nginx.conf" <<CONF
$user_line
$load_line
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
    location /slow/ {
      alias $www/;
      limit_rate 100k;
    }
    location /rate8000/ {
      alias $www/;
      limit_rate 8000k;
    }
    location /delayed/ {
      echo_sleep 0.05;
      echo_exec @delayed_file;
    }
    location @delayed_file {
      rewrite ^/delayed/(.*)\$ /\$1 break;
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

echo "nginx on 127.0.0.1:$port, $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$here/bench_download.py" --base "http://127.0.0.1:$port" --out "$out" \
  --websetup-get "$get" --threads "$threads" "${scenario_args[@]}"
