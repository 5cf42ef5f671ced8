#!/usr/bin/env bash
# Builds the system and runs it: dovecrestd on 127.0.0.1:8080 serving the query form,
# configured through a temporary Vantrel.ini that points at a demo data directory whose
# quota tables (user, printer, setting) the tarn shell makes from demo/quota_demo.sql.
# Stop it with Ctrl-C. DEMO_ONESHOT=1 checks the form and the status page of ALICE and
# stops at once.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDOVECREST_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target dovecrestd Dovecrest tarn

demo=$(mktemp -d /tmp/dovecrest-demo-XXXXXX)
mkdir -p "$demo/data" "$demo/images"
printf '[Setting]\r\nDBPath=%s/data/\r\n' "$demo" > "$demo/Vantrel.ini"
"$build/tarn" --password KT62WB38 "$demo/data" < demo/quota_demo.sql
echo "demo: quota tables made in $demo/data: $("$build/tarn" --password KT62WB38 -c .tables "$demo/data" | tr '\n' ' ')"
port=${DEMO_PORT:-8080}

"$build/dovecrestd" --bind 127.0.0.1 --port "$port" --config-dir "$demo" --images "$demo/images" &
pid=$!
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$demo"' EXIT
for _ in $(seq 50); do
  curl -fs "http://127.0.0.1:$port/Dovecrest.dll" -o "$demo/form.html" && break
  sleep 0.1
done
echo "demo: the query form (GBK) answered $(wc -c < "$demo/form.html") bytes"
curl -fs -d "UNAME=alice" "http://127.0.0.1:$port/Dovecrest.dll/Query" -o "$demo/status.html"
if tail -c 16 "$demo/status.html" | grep -q '</center></html>'; then
  echo "demo: the quota status page of ALICE answered $(wc -c < "$demo/status.html") bytes"
else
  echo "demo: the quota status page failed: $(head -c 300 "$demo/status.html")" >&2
  exit 1
fi
echo "demo: open http://127.0.0.1:$port/Dovecrest.dll in a browser (Ctrl-C stops the server)"
if [ "${DEMO_ONESHOT:-0}" = 1 ]; then exit 0; fi
wait $pid
