#!/usr/bin/env bash
# The quota status page under load: dovecrestd serves the demo database to wrk
# (32 keep-alive clients posting UNAME) for 30 s while a second process (the tarn
# shell) keeps updating the `user` table, beside nginx serving a static file of the
# same size. Every answer must be the complete page or an engine message; the host
# must still be running afterwards, with no result tables left in its private
# directory and no more descriptors open than after the first request.
#   scripts/bench_page.sh                  # 30 s per run
#   DURATION=10s UNAME=ALICE scripts/bench_page.sh
#   PRIVATE_ROOT=/dev/shm scripts/bench_page.sh   # the host's temporary directory on tmpfs
#   UPDATER=0 scripts/bench_page.sh                # without the updating process
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --host-bench
build=${BUILD_DIR:-build/bench}
duration=${DURATION:-30s}
clients=${CLIENTS:-32}
uname=${UNAME:-alice}
host_port=${HOST_PORT:-18090}
nginx_port=${NGINX_PORT:-18091}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDOVECREST_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target dovecrestd Dovecrest tarn >/dev/null

work=$(mktemp -d /tmp/dovecrest-bench-page-XXXXXX)
chmod 755 "$work"  # nginx workers may run as another user
host_pid=""
nginx_pid=""
updater_pid=""
private_root=""
cleanup() {
  [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null && wait "$updater_pid" 2>/dev/null || true
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work" "$private_root"
}
trap cleanup EXIT

# The host's temporary directory (where its private directory and result tables go).
private_root=$(mktemp -d "${PRIVATE_ROOT:-$work}/dovecrest-tmp-XXXXXX")
mkdir -p "$work/db"
"$build/tarn" --password KT62WB38 "$work/db" <demo/quota_demo.sql >/dev/null 2>&1
printf '[Setting]\nDBPath=%s/db/\n' "$work" >"$work/Vantrel.ini"
TMPDIR="$private_root" "$build/dovecrestd" --port "$host_port" --config-dir "$work" \
  --extension "$build/Dovecrest.so" 2>"$work/host.log" &
host_pid=$!

url_host="http://127.0.0.1:$host_port/Dovecrest.dll/Query"
for _ in $(seq 50); do curl -sf -o "$work/page.html" -d "UNAME=$uname" "$url_host" && break; sleep 0.1; done
size=$(stat -c %s "$work/page.html")
tail -c 16 "$work/page.html" | grep -q '</center></html>' || { echo "bench_page: no status page" >&2; exit 1; }
fds_before=$(ls "/proc/$host_pid/fd" | wc -l)

mkdir -p "$work/nginx/logs"
cat >"$work/nginx/nginx.conf" <<NGINX
worker_processes auto;
error_log $work/nginx/logs/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_requests 100000000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    # A POST to a static file is refused by nginx: serve it for any method.
    location = /Dovecrest.dll/Query { default_type text/html; error_page 405 =200 \$uri; alias $work/page.html; }
  }
}
NGINX
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>/dev/null &
nginx_pid=$!
url_nginx="http://127.0.0.1:$nginx_port/Dovecrest.dll/Query"
for _ in $(seq 50); do curl -sf -o /dev/null -d "UNAME=$uname" "$url_nginx" && break; sleep 0.1; done
cmp -s <(curl -sf -d "UNAME=$uname" "$url_nginx") "$work/page.html" || {
  echo "bench_page: nginx does not serve the page" >&2
  exit 1
}

# wrk posts the form and sorts every answer: a complete page, an engine message, or broken.
cat >"$work/post.lua" <<LUA
wrk.method = "POST"
wrk.body = "UNAME=$uname"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) complete = 0; messages = 0; broken = 0 end
function response(status, headers, body)
  if status == 200 and body:sub(-16) == "</center></html>" then complete = complete + 1
  elseif status == 200 and body:sub(1, 20) == "Tarn Engine Error # " then messages = messages + 1
  else broken = broken + 1 end
end
function done(summary, latency, requests)
  local c, m, b = 0, 0, 0
  for _, t in ipairs(threads) do c = c + t:get("complete"); m = m + t:get("messages"); b = b + t:get("broken") end
  io.write(string.format("answers: %d complete, %d engine messages, %d broken\n", c, m, b))
end
LUA

# The print-quota service: updates of `user` one after another from another process.
if [ "${UPDATER:-1}" = 1 ]; then
(while :; do echo "UPDATE \"user\" SET USED_P = USED_P + 1 WHERE \"USER\" = 'BOB';"; done) |
  "$build/tarn" --password KT62WB38 "$work/db" >/dev/null 2>"$work/updates.txt" &
updater_pid=$!
fi

echo "status page ($size bytes, UNAME=$uname), $clients keep-alive clients, wrk -t2 -d$duration, $(nproc) cores," \
  "temporary directory on $(df --output=fstype "$private_root" | tail -1)"
wrk -t2 -c"$clients" -d"$duration" -s "$work/post.lua" "$url_host" >"$work/host.txt"
if [ -n "$updater_pid" ]; then
  kill "$updater_pid" 2>/dev/null; wait "$updater_pid" 2>/dev/null || true
  updater_pid=""
fi
wrk -t2 -c"$clients" -d"$duration" -s "$work/post.lua" "$url_nginx" >"$work/nginx.txt"

host_rps=$(awk '/^Requests\/sec:/ {print $2}' "$work/host.txt")
nginx_rps=$(awk '/^Requests\/sec:/ {print $2}' "$work/nginx.txt")
ratio=$(awk -v a="$host_rps" -v b="$nginx_rps" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
grep '^answers' "$work/host.txt" | sed 's/^/dovecrestd /'
grep -E 'Latency|Non-2xx|Socket errors' "$work/host.txt" | sed 's/^/dovecrestd /' || true
printf '%-12s %12s %12s %8s\n' "" "dovecrestd" "nginx" "ratio"
printf '%-12s %12s %12s %8s\n' "requests/s" "$host_rps" "$nginx_rps" "$ratio"

kill -0 "$host_pid" || { echo "bench_page: the host died" >&2; exit 1; }
fds_after=$(ls "/proc/$host_pid/fd" | wc -l)
left=$(find "$private_root" -type f | wc -l)
[ -f "$work/updates.txt" ] && echo "updater: $(grep -c 'rows affected' "$work/updates.txt") updates of user during the run"
echo "host descriptors: $fds_before after the first request, $fds_after after the run; files left in its private directory: $left"
grep -q ' 0 broken' "$work/host.txt" || { echo "bench_page: broken answers" >&2; exit 1; }
