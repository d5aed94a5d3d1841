#!/usr/bin/env bash
# The QuillexHelper program in console mode, driven as the web page and the user would:
# probe (headless browser and curl), other texts, port fallback, bounded heads, silent clients,
# launch of a stand-in client beside it with the hand-over on the pipe, and Ctrl+C.
set -u
BUILD="$1"
WORK="$(mktemp -d)"
fail=0
svc_pid=""
holder_pid=""
cleanup() {
  [ -n "$svc_pid" ] && kill "$svc_pid" 2>/dev/null
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
source "$(dirname "$0")/script_support.sh"

# The service with its library and the stand-in client in one folder, as installed.
mkdir -p "$WORK/app" "$WORK/bare"
cp "$BUILD/bin/QuillexHelper.exe" "$BUILD/bin/Lacewing.dll" "$WORK/app/"
cp "$BUILD/launch-standin/Ferrant.exe" "$WORK/app/"
printf 'OrvoQUILLEXZN\nread\n' > "$WORK/app/standin.cfg"
cp "$BUILD/bin/QuillexHelper.exe" "$BUILD/bin/Lacewing.dll" "$WORK/bare/"

wait_for 90 ports_free || echo "note: ports 10000-10004 are busy elsewhere"

# Another program holds port 10000: the service must take a later one.
python3 - <<'PY' &
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
for _ in range(100):
    try:
        s.bind(("127.0.0.1", 10000)); break
    except OSError:
        time.sleep(0.3)
s.listen(1); time.sleep(120)
PY
holder_pid=$!
sleep 1

start_service() {  # folder
  ( cd "$1" && exec "$BUILD/wine-run" QuillexHelper.exe /console ) > "$WORK/console.out" 2>&1 &
  svc_pid=$!
  wait_for 40 grep -q "Hosting on port" "$WORK/console.out"
}
start_service "$WORK/app" || { echo "FAIL service did not host"; cat "$WORK/console.out"; exit 1; }
port=$(grep -o 'port [0-9]*' "$WORK/console.out" | grep -o '[0-9]*$')
case "$port" in 1000[1-4]) echo "ok   port fallback ($port)";; *) echo "FAIL port fallback: $port"; fail=1;; esac
URL=http://127.0.0.1:$port

check "probe (curl)" "$(curl -s -m 10 "$URL/isInstallQuillex")" "result=1"
check "other text" "$(curl -s -m 10 "$URL/isinstallquillex")" ""
check "non-GET" "$(curl -s -m 10 -o /dev/null -w '%{http_code}' -X POST "$URL/isInstallQuillex")" "405"
big=$(head -c 10240 /dev/zero | tr '\0' a)
check "10 KiB head" "$(curl -s -m 10 -o /dev/null -w '%{http_code}' "$URL/$big")" "400"

# Silent clients hold connections open; a probe is still answered at once.
python3 - "$port" <<'PY' &
import socket, time
import sys
socks = [socket.create_connection(("127.0.0.1", int(sys.argv[1]))) for _ in range(3)]
time.sleep(8)
PY
silent_pid=$!
sleep 0.5
check "probe beside silent clients" "$(curl -s -m 3 "$URL/isInstallQuillex")" "result=1"
kill $silent_pid 2>/dev/null

# The page's own way: a headless browser loads the probe.
if command -v chromium >/dev/null; then
  dom=$(timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$WORK/chromium" --dump-dom "$URL/isInstallQuillex" 2>/dev/null)
  case "$dom" in *result=1*) echo "ok   probe (browser)";; *) echo "FAIL probe (browser): $dom"; fail=1;; esac
else
  echo "FAIL chromium missing"; fail=1
fi

# Launch: the stand-in gets the text on its command line and over the pipe.
rm -f "$WORK/app/standin.out"
curl -s -m 60 "$URL/Ferrant?url=a&usr=b&sid=c" > /dev/null
wait_for 30 test -f "$WORK/app/standin.out"
check "launch command line" "$(sed -n 1p "$WORK/app/standin.out" | grep -o 'Ferrant.exe.*')" "Ferrant.exe url=a&usr=b&sid=c"
check "launch pipe" "$(sed -n '2,$p' "$WORK/app/standin.out" | tr '\n' ' ')" "pipe url=a&usr=b&sid=c"
rm -f "$WORK/app/standin.out"
curl -s -m 60 "$URL/Ferrant" > /dev/null
wait_for 30 test -f "$WORK/app/standin.out"
check "launch without text" "$(sed -n 1p "$WORK/app/standin.out" | grep -o 'Ferrant.exe.*')" "Ferrant.exe"

# Ctrl+C stops the console run.
kill -INT "$svc_pid"
if wait_for 20 bash -c "! kill -0 $svc_pid 2>/dev/null"; then echo "ok   Ctrl+C stops"; else echo "FAIL Ctrl+C"; fail=1; kill -9 "$svc_pid"; fi
svc_pid=""

# No client beside the service: the request returns at once.
start_service "$WORK/bare" || { echo "FAIL bare service did not host"; exit 1; }
URL=http://127.0.0.1:$(grep -o 'port [0-9]*' "$WORK/console.out" | grep -o '[0-9]*$')
t0=$(date +%s%N)
curl -s -m 20 "$URL/Ferrant?url=a&usr=b&sid=c" > /dev/null
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
if [ "$ms" -lt 5000 ]; then echo "ok   missing client returns ($ms ms)"; else echo "FAIL missing client took $ms ms"; fail=1; fi
kill -INT "$svc_pid"; wait_for 20 bash -c "! kill -0 $svc_pid 2>/dev/null" || kill -9 "$svc_pid"; svc_pid=""

exit $fail
