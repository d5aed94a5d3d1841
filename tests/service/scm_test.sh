#!/usr/bin/env bash
# QuillexHelper against Wine's service control manager: install, the registry it leaves,
# a refused second install, start/pause/continue/stop, and remove.
set -u
BUILD="$1"
WORK="$(mktemp -d)"
fail=0
mkdir -p "$WORK/with blank"
cp "$BUILD/bin/QuillexHelper.exe" "$BUILD/bin/Lacewing.dll" "$WORK/with blank/"
run() { ( cd "$WORK/with blank" && "$BUILD/wine-run" QuillexHelper.exe "$@" ) > "$WORK/out" 2>&1; }
reg() { "$BUILD/wine-run" reg query "$@" 2>/dev/null | tr -d '\r'; }
source "$(dirname "$0")/script_support.sh"
cleanup() { run /remove /silent; rm -rf "$WORK"; }
trap cleanup EXIT

KEY='HKLM\System\CurrentControlSet\Services\Quillex Service'
run /remove /silent  # a leftover of an earlier run
run /install; check "install exit" "$?" "0"
svc=$(reg "$KEY")
value() { echo "$svc" | awk -v n="$1" '$1 == n { $1=""; $2=""; sub(/^  /, ""); print }'; }
check "display name" "$(value DisplayName)" "Quillex Service"
check "type" "$(value Type)" "0x110"
check "start" "$(value Start)" "0x2"
# The console shows only ANSI: read the description from an exported (UTF-16) copy.
( cd "$WORK" && "$BUILD/wine-run" reg export "$KEY" svc.reg /y ) >/dev/null 2>&1
desc=$(iconv -f UTF-16 -t UTF-8 "$WORK/svc.reg" 2>/dev/null | tr -d '\r' | grep '^"Description"=')
check "description" "$desc" '"Description"="Tebrin服务"'

case "$(value ImagePath)" in '"'*'with blank\QuillexHelper.exe"') echo "ok   image path quoted";;
  *) echo "FAIL image path: $(value ImagePath)"; fail=1;; esac
src=$(reg 'HKLM\System\CurrentControlSet\Services\EventLog\Application\Quillex Service')
case "$src" in *EventMessageFile*'QuillexHelper.DLL'*) echo "ok   event source";; *) echo "FAIL event source: $src"; fail=1;; esac
case "$(reg 'HKLM\System\CurrentControlSet\Services\EventLog\Application' /v Sources)" in
  *'Quillex Service'*) echo "ok   sources list";; *) echo "FAIL sources list"; fail=1;; esac

run /install; code=$?
if [ "$code" -ne 0 ]; then echo "ok   second install fails ($code)"; else echo "FAIL second install exit 0"; fail=1; fi

run /start /T:20000; check "start exit" "$?" "0"; check "running" "$(state)" "RUNNING"
run /pause /T:20000; check "pause exit" "$?" "0"; check "paused" "$(state)" "PAUSED"
run /continue /T:20000; check "continue exit" "$?" "0"; check "running again" "$(state)" "RUNNING"
run /stop /T:20000; check "stop exit" "$?" "0"; check "stopped" "$(state)" "STOPPED"
run /remove; check "remove exit" "$?" "0"
gone() { "$BUILD/wine-run" reg query "$1" >/dev/null 2>&1 && echo present || echo gone; }
check "service gone" "$(gone "$KEY")" "gone"
check "source gone" "$(gone 'HKLM\System\CurrentControlSet\Services\EventLog\Application\Quillex Service')" "gone"
exit $fail
