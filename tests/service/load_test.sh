#!/usr/bin/env bash
# QuillexHelper installed and started under Wine's service manager, then put under load and faults
# from the Linux side: probes while many connections hold half a request head, hostile requests,
# launches that overlap, then a stop with the default wait while connections and a hand-over are
# still pending, and a silent remove. Loopback only; bounded in count and time.
set -u
BUILD="$1"
WORK="$(mktemp -d)"
APP="$WORK/app"
fail=0
mkdir -p "$APP"
cp "$BUILD/bin/QuillexHelper.exe" "$BUILD/bin/Lacewing.dll" "$BUILD/launch-standin/Ferrant.exe" "$APP/"
printf 'OrvoQUILLEXZN\nread\n' > "$APP/standin.cfg"
run() { ( cd "$APP" && "$BUILD/wine-run" QuillexHelper.exe "$@" ) > "$WORK/out" 2>&1; }
source "$(dirname "$0")/script_support.sh"
cleanup() { run /stop /T:20000; run /remove /silent; rm -rf "$WORK"; }
trap cleanup EXIT

wait_for 90 ports_free || echo "note: ports 10000-10004 are busy elsewhere"
run /remove /silent  # a leftover of an earlier run
run /install; check "install" "$?" "0"
run /start /T:20000; check "start" "$?" "0"
hosting() { ss -ltnH 2>/dev/null | awk '{print $4}' | grep -qE '^127\.0\.0\.1:1000[0-4]$'; }
wait_for 20 hosting || { echo "FAIL service does not listen"; exit 1; }
port=$(ss -ltnH | awk '{print $4}' | grep -oE '^127\.0\.0\.1:1000[0-4]$' | head -1 | cut -d: -f2)

# load.py PHASE PORT: prints "ok ..." / "FAIL ..." lines; holders stay open while the script runs.
cat > "$WORK/load.py" <<'PY'
import socket, sys, threading, time
phase, port = sys.argv[1], int(sys.argv[2])

def ask(path, timeout=3.0):
    t0 = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.sendall(b"GET " + path + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    data = b""
    while True:
        try:
            chunk = s.recv(4096)
        except socket.timeout:
            break
        if not chunk:
            break
        data += chunk
    s.close()
    return data, time.monotonic() - t0

def probe_ok():
    try:
        data, took = ask(b"/isInstallQuillex")
    except OSError as e:
        return False, str(e)
    return data.endswith(b"\r\n\r\nresult=1"), "%.0f ms" % (took * 1000)

def hold(count):
    held = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port), timeout=3)
        s.sendall(b"GET /isInstallQuillex HTTP/1.1\r\nHost: a")  # half a head, then nothing
        held.append(s)
    return held

def report(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + (" (" + detail + ")" if detail else ""), flush=True)

if phase == "held":
    held = hold(40)
    results = [probe_ok() for _ in range(5)]
    report("probes beside 40 held heads", all(r[0] for r in results), ", ".join(r[1] for r in results))
    for s in held:
        s.close()
elif phase == "hostile":
    def raw(data):
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            s.sendall(data)
            s.settimeout(5)
            s.recv(4096)
            s.close()
        except OSError:
            pass
    raw(bytes(range(256)) * 8 + b"\r\n\r\n")
    raw(b"GET /" + b"a" * 200000 + b" HTTP/1.1\r\n\r\n")
    raw(b"GET / HTTP/1.1\r\nX: " + b"b" * 100000 + b"\r\n\r\n")
    raw(b"GET /" + b"%" * 5000 + b" HTTP/1.1\r\n\r\n")
    raw(b"\r\n" * 10000)
    ok, detail = probe_ok()
    report("probe after hostile requests", ok, detail)
    results = []
    def burst():
        results.extend(probe_ok() for _ in range(5))
    threads = [threading.Thread(target=burst) for _ in range(20)]
    for t in threads: t.start()
    for t in threads: t.join()
    report("20 clients x 5 probes at once", len(results) == 100 and all(r[0] for r in results))
elif phase == "launches":
    # Two launches close together, then a probe while they are handed over one after another.
    texts = [b"url=a&usr=one&sid=1", b"url=a&usr=two&sid=2"]
    threads = [threading.Thread(target=ask, args=(b"/Ferrant?" + t, 60)) for t in texts]
    for t in threads: t.start()
    ok, detail = probe_ok()
    report("probe while launches are queued", ok, detail)
    for t in threads: t.join()
elif phase == "pending":
    # A launch whose client never reads the pipe, and held heads: the stop must not wait for them.
    threading.Thread(target=ask, args=(b"/Ferrant?url=a&usr=b&sid=c", 60), daemon=True).start()
    held = hold(20)
    print("holding", flush=True)
    time.sleep(60)
PY

python3 "$WORK/load.py" held "$port" | tee -a "$WORK/load.out"
python3 "$WORK/load.py" hostile "$port" | tee -a "$WORK/load.out"

rm -f "$APP/standin.log"
python3 "$WORK/load.py" launches "$port" | tee -a "$WORK/load.out"
records_at_least() { [ -f "$APP/standin.log" ] && [ "$(grep -c '^----$' "$APP/standin.log")" -ge "$1" ]; }
wait_for 60 records_at_least 2
# Each client got its own text over the pipe: the line after "pipe" repeats its command line's text.
pairs=$(awk '/^----$/ {print cmd "|" got; n=0; next} {n++; if (n==1) {sub(/.*Ferrant.exe /, ""); cmd=$0} if (n==2) mode=$0; if (n==3) got=mode " " $0}' \
  "$APP/standin.log" 2>/dev/null | sort | tr '\n' ' ')
check "overlapping launches each hand their own text" "$pairs" \
  "url=a&usr=one&sid=1|pipe url=a&usr=one&sid=1 url=a&usr=two&sid=2|pipe url=a&usr=two&sid=2 "

printf 'OrvoQUILLEXZN\nignore\n' > "$APP/standin.cfg"
rm -f "$APP/standin.log"
python3 "$WORK/load.py" pending "$port" > "$WORK/pending.out" 2>&1 &
pending_pid=$!
wait_for 20 grep -q holding "$WORK/pending.out"
wait_for 30 records_at_least 1 || echo "note: the silent client did not start"
t0=$(date +%s%N)
run /stop; code=$?
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
check "stop with the default wait while busy" "$code" "0"
[ "$code" = 0 ] || cat "$WORK/out"
check "stopped" "$(state)" "STOPPED"
echo "note: stop took $ms ms"
kill "$pending_pid" 2>/dev/null

run /remove /silent; code=$?
check "silent remove" "$code" "0"
check "silent remove shows nothing" "$(tr -d '\r' < "$WORK/out")" ""
grep -q '^FAIL' "$WORK/load.out" && fail=1
exit $fail
