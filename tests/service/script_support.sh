# Shared by the service's test scripts; they set BUILD and fail before sourcing it.
check() {  # name, got, want
  if [ "$2" == "$3" ]; then echo "ok   $1"; else echo "FAIL $1: got [$2] want [$3]"; fail=1; fi
}
wait_for() {  # seconds, command...
  local n=$(( $1 * 10 )); shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# The ports belong to the whole machine: another run elsewhere may still hold them for a while.
ports_free() { ! ss -ltnH 2>/dev/null | awk '{print $4}' | grep -qE ':1000[0-4]$'; }
# The installed service's state as the manager tells it (RUNNING, STOPPED, ...).
state() { "$BUILD/wine-run" sc query "Quillex Service" 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
