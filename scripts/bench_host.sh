#!/usr/bin/env bash
# Requests per second of dovecrestd serving the query-form page, measured with wrk
# (32 keep-alive clients), beside nginx serving the same 807 bytes from a file on the
# same machine; then both again while 10,000 idle connections are held open.
#   scripts/bench_host.sh            # 10 s per run
#   DURATION=30s scripts/bench_host.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --host-bench
build=${BUILD_DIR:-build/bench}
duration=${DURATION:-10s}
clients=${CLIENTS:-32}
idle=${IDLE:-10000}
host_port=${HOST_PORT:-18080}
nginx_port=${NGINX_PORT:-18081}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDOVECREST_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target dovecrestd Dovecrest >/dev/null

# Idle connections need descriptors: this shell's children inherit the raised limit.
ulimit -n "$(ulimit -Hn)"
if (( $(ulimit -n) < idle + 1500 )); then
  echo "bench_host: the descriptor limit $(ulimit -n) is too low for $idle idle connections" >&2
  exit 1
fi

work=$(mktemp -d /tmp/dovecrest-bench-host-XXXXXX)
chmod 755 "$work"  # nginx workers may run as another user
host_pid=""
nginx_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

printf '[Setting]\nDBPath=%s/db/\n' "$work" >"$work/Vantrel.ini"
# Long timeouts, so that the idle connections stay open through the runs.
"$build/dovecrestd" --port "$host_port" --config-dir "$work" --extension "$build/Dovecrest.so" \
  --header-timeout 600 --idle-timeout 600 2>/dev/null &
host_pid=$!

url_host="http://127.0.0.1:$host_port/Dovecrest.dll"
for _ in $(seq 50); do curl -sf -o "$work/form.html" "$url_host" && break; sleep 0.1; done
size=$(stat -c %s "$work/form.html")
[ "$size" -eq 807 ] || { echo "bench_host: the form page has $size bytes, not 807" >&2; exit 1; }

mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes auto;
worker_rlimit_nofile $((idle * 2 + 1000));
error_log $work/nginx/logs/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections $((idle + 1000)); }
http {
  access_log off;
  keepalive_requests 100000000;
  keepalive_timeout 600s;
  client_header_timeout 600s;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    location = /Dovecrest.dll { default_type text/html; alias $work/form.html; }
  }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>/dev/null &
nginx_pid=$!
url_nginx="http://127.0.0.1:$nginx_port/Dovecrest.dll"
for _ in $(seq 50); do curl -sf -o /dev/null "$url_nginx" && break; sleep 0.1; done
cmp -s <(curl -sf "$url_nginx") "$work/form.html" || { echo "bench_host: nginx does not serve the page" >&2; exit 1; }

# Holds $2 idle connections to port $1 (from 127.0.0.10 on, 200 per address, below the
# host's per-client limit) until its standard input closes.
cat >"$work/hold.py" <<'EOF'
import socket, sys
port, count = int(sys.argv[1]), int(sys.argv[2])
held = []
for i in range(count):
    s = socket.socket()
    s.bind(("127.0.0.%d" % (10 + i // 200), 0))
    s.connect(("127.0.0.1", port))
    held.append(s)
print("holding", len(held), flush=True)
sys.stdin.read()
EOF

rps() {  # requests per second of wrk against $1
  wrk -t2 -c"$clients" -d"$duration" "$1" | awk '/^Requests\/sec:/ {print $2}'
}

with_idle() {  # rps of $2 while $idle connections to port $1 are held
  local result
  coproc HOLD { python3 "$work/hold.py" "$1" "$idle"; }
  read -r _ _ <&"${HOLD[0]}"
  result=$(rps "$2")
  eval "exec ${HOLD[1]}>&-"
  wait "$HOLD_PID" 2>/dev/null || true
  echo "$result"
}

echo "form page (807 bytes), $clients keep-alive clients, wrk -t2 -d$duration, $(nproc) cores"
host_plain=$(rps "$url_host")
nginx_plain=$(rps "$url_nginx")
host_idle=$(with_idle "$host_port" "$url_host")
nginx_idle=$(with_idle "$nginx_port" "$url_nginx")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
printf '%-28s %14s %14s %8s\n' "" "dovecrestd" "nginx" "ratio"
printf '%-28s %14s %14s %8s\n' "requests/s" "$host_plain" "$nginx_plain" "$(ratio "$host_plain" "$nginx_plain")"
printf '%-28s %14s %14s %8s\n' "requests/s, $idle idle open" "$host_idle" "$nginx_idle" "$(ratio "$host_idle" "$nginx_idle")"
