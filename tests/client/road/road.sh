#!/usr/bin/env bash
# The whole road from the web page to a copied link, under Wine against the provider stand-in:
# the stand-in on 127.0.0.20, the service installed and started from the loopback bundle, the web
# page's launch request to the service, then the client driven as a user would: logged in by the
# handed-over session, a sample file uploaded in 10 segments, the stand-in holding its bytes, the
# file in the uploaded list and its download link copied. The stand-in fills every reply field the
# client does not read with garbage, so the road passes only if the client reads no more than that.
#
# Usage: road.sh test BUILD          checks every step (the CTest entry road_test)
#        road.sh demo BUILD SHOTS    the same road, a screenshot of each step in SHOTS
# Wine's display and server must be up (ctest through the lock script, or scripts/demo). The
# service, the stand-in and the client are always cleaned up.
set -u
mode=$1
BUILD=$(realpath "$2")
SHOTS=${3:-}
case "$mode" in test | demo) ;; *) echo "road.sh: mode test or demo, not $mode" >&2; exit 2 ;; esac

ADDRESS=127.0.0.20
MAIL=demo@example.com
WEB_SESSION=web-session-7f3a
SAMPLE_SIZE=4194311  # a few MB that 10 segments do not divide evenly
APP=$BUILD/loopback
PROVIDER=$BUILD/provider/ferrant_provider.exe
DRIVER=$BUILD/bin/ferrant_driver.exe

WORK=$(mktemp -d)
fail=0
provider_pid=""
launch_pid=""
service_installed=0
client_closed=1
step=0

win() { printf 'Z:%s' "${1//\//\\}"; }
say() { [ "$mode" = demo ] && echo "  $*"; return 0; }
check() {  # name, got, want
  if [ "$2" == "$3" ]; then
    [ "$mode" = test ] && echo "ok   $1"
  else
    echo "FAIL $1: got [$2] want [$3]"
    fail=1
  fi
}
# Ends the road at a step that later steps need.
must() {  # name, got, want
  check "$@"
  [ "$fail" = 0 ] || exit 1
}
wait_for() {  # seconds, command...
  local n=$(($1 * 10))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}
drive() { "$BUILD/wine-run" "$DRIVER" "$@" 2> "$WORK/driver.err"; }
driver_error() { tr -d '\r' < "$WORK/driver.err" | sed 's/^ferrant_driver: //' | head -3; }
shot() {  # name: a picture of the screen after a step (demo only)
  [ "$mode" = demo ] || return 0
  step=$((step + 1))
  local file
  file=$(printf '%s/%02d-%s' "$SHOTS" "$step" "$1")
  # Cropped to what the windows cover: the rest of the screen is empty.
  if drive screenshot "$(win "$file.bmp")" > /dev/null && convert "$file.bmp" -trim +repage "$file.png" 2> /dev/null; then
    rm -f "$file.bmp"
  fi
}
service() { (cd "$WORK/app" && "$BUILD/wine-run" QuillexHelper.exe "$@") > "$WORK/service.out" 2>&1; }

stop_provider() {
  [ -n "$provider_pid" ] || return 0
  exec 7>&-  # its standard input closes: it stops and lists the files it was sent
  wait_for 30 bash -c "! kill -0 $provider_pid 2>/dev/null" || kill "$provider_pid" 2> /dev/null
  provider_pid=""
}
cleanup() {
  # A client that a failed step left behind goes too, whatever window it shows.
  if [ "$client_closed" = 0 ]; then
    drive --timeout 20 close > /dev/null || drive --timeout 20 end "$(win "$WORK/app/Ferrant.exe")" > /dev/null
  fi
  if [ "$service_installed" = 1 ]; then
    service /stop /T:20000
    service /remove /silent
  fi
  [ -n "$launch_pid" ] && kill "$launch_pid" 2> /dev/null
  stop_provider
  rm -rf "$WORK"
}
trap cleanup EXIT

for f in "$APP/Ferrant.exe" "$APP/QuillexHelper.exe" "$APP/Lacewing.dll" "$PROVIDER" "$DRIVER"; do
  [ -f "$f" ] || { echo "FAIL missing $f (build the targets ferrant_loopback, ferrant_provider, ferrant_driver)"; exit 1; }
done
[ "$mode" = test ] || mkdir -p "$SHOTS"

# The bundle as installed, with the settings beside the client: the control server on the
# stand-in's address, 10 segments per upload.
mkdir -p "$WORK/app" "$WORK/sink"
cp "$APP/Ferrant.exe" "$APP/QuillexHelper.exe" "$APP/Lacewing.dll" "$WORK/app/"
printf '[LoginInfo]\r\nServerAddr=%s\r\n[Setting]\r\nMaxSendFileThread=10\r\n' "$ADDRESS" > "$WORK/app/Setting.ini"
head -c "$SAMPLE_SIZE" /dev/urandom > "$WORK/sample.bin"

echo "1. provider stand-in on $ADDRESS (web 8080, control 20000, data 20001, session 14002; header garbage)"
mkfifo "$WORK/provider.in"
"$BUILD/wine-run" "$PROVIDER" --address "$ADDRESS" --user "$MAIL:demo" --quota 10000000000 --header-garbage \
  --session session-key-1:bind-1 --web-port 8080 --web-session "$WEB_SESSION" \
  --sink file --sink-folder "$(win "$WORK/sink")" < "$WORK/provider.in" > "$WORK/provider.out" 2> "$WORK/provider.err" &
provider_pid=$!
exec 7> "$WORK/provider.in"
wait_for 60 grep -q "ready:" "$WORK/provider.out"
must "stand-in ready" "$(tr -d '\r' < "$WORK/provider.out" | grep -o 'web=[0-9]*')" "web=8080"

echo "2. launcher service installed and started from the bundle"
service /remove /silent  # a leftover of an earlier run
service /install
must "service install" "$?" "0"
service_installed=1
service /start /T:20000
must "service start" "$?" "0"
probe() {
  for p in 10000 10001 10002 10003 10004; do
    [ "$(curl -s -m 2 "http://127.0.0.1:$p/isInstallQuillex")" = "result=1" ] && { port=$p; return 0; }
  done
  return 1
}
port=""
wait_for 60 probe
must "service answers the page's probe" "${port:+yes}" "yes"
say "service on port $port"

echo "3. the web page asks the service to start the client with its session"
client_closed=0
curl -s -m 120 "http://127.0.0.1:$port/Ferrant?url=$ADDRESS:8080&usr=$MAIL&sid=$WEB_SESSION" > /dev/null &
launch_pid=$!
user=$(drive --timeout 90 wait-main | tr -d '\r')
must "logged in by session, no login dialog" "$user$(driver_error)" "user: $MAIL"
shot main-window

echo "4. a sample file of $SAMPLE_SIZE bytes chosen with 浏览 and uploaded"
drive browse > /dev/null
must "浏览 opens the open-file dialog" "$?$(driver_error)" "0"
shot open-file-dialog
drive open "$(win "$WORK/sample.bin")" > /dev/null
must "file chosen in the open-file dialog" "$?$(driver_error)" "0"
done_line=$(drive --timeout 240 wait-uploaded sample.bin | tr -d '\r')
must "upload finished" "$done_line$(driver_error)" "uploaded: sample.bin 100%"
shot uploaded
shopt -s nullglob
parts=("$WORK"/sink/upload-*.part)
must "one file on the stand-in" "${#parts[@]}" "1"
if cmp -s "$WORK/sample.bin" "${parts[0]}"; then same=yes; else same=no; fi
check "the stand-in's bytes equal the file's" "$same" "yes"
file_id=$(basename "${parts[0]}" .part)
file_id=${file_id#upload-}

echo "5. the file in the uploaded list, its link copied"
link=$(drive tab 1 copy-link sample.bin | tr -d '\r' | sed -n 's/^link: //p')
check "link copied" "$link$(driver_error)" "http://$ADDRESS/downAttach.do?file=key$file_id"
shot uploaded-list
drive close > /dev/null
closed=$?
check "client closed" "$closed$(driver_error)" "0"
[ "$closed" = 0 ] && client_closed=1

wait_for 30 bash -c "! kill -0 $launch_pid 2>/dev/null"
check "the service answered the launch request" "$(kill -0 "$launch_pid" 2> /dev/null && echo waiting || echo answered)" "answered"
launch_pid=""
stop_provider
check "uploaded in 10 segments" \
  "$(tr -d '\r' < "$WORK/provider.err" | grep -o "file $file_id \"sample.bin\" .*")" \
  "file $file_id \"sample.bin\" $SAMPLE_SIZE bytes, 10 segments, complete"

if [ "$mode" = demo ]; then
  echo
  echo "link copied: $link"
  echo "screenshots: $SHOTS/"
  (cd "$SHOTS" && ls -1 ./*.png 2> /dev/null | sed 's|^\./|  |')
fi
exit $fail
