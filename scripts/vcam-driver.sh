# Sourced by scripts/winsession: installs the virtual camera driver as a service of the Wine
# prefix (first run) and starts it. Expects $top (the repository) and a running wineserver.

vcam_driver_ensure() {
  # The driver is 64-bit (the 64-bit build makes it); vcam.exe beside it checks that it answers.
  local sys="${QELVAN_VCAM_SYS:-$top/build/win64/bin/qlvnvcam.sys}" name=QlvnVCam bin
  bin=$(dirname "$sys")
  if [ ! -f "$sys" ]; then
    echo "vcam-driver: $sys is not built (make build-win64); the virtual camera is not available" >&2
    return 1
  fi
  # shellcheck source=dist/vcam-service.sh
  . "$top/scripts/dist/vcam-service.sh"
  vcam_service_register "$sys" || {
    echo "vcam-driver: could not create the service $name" >&2
    return 1
  }
  _vcam_try_start "$name" "$bin" 5 && return 0
  # In a prefix's first session the driver host does not come up (the service manager
  # reports a time-out) until the server has been restarted once. When this session owns the
  # server, restart it and hand the new one to winsession, which stops it at the end.
  if [ -n "${server_pid:-}" ]; then
    echo "vcam-driver: restarting the session's wineserver once to start the driver" >&2
    wineserver -k >/dev/null 2>&1
    wait "$server_pid" 2>/dev/null
    wineserver -f -p >/dev/null 2>&1 &
    server_pid=$!
    sleep 0.3
    wine wineboot </dev/null >/dev/null 2>&1
    _vcam_try_start "$name" "$bin" 10 && return 0
  fi
  echo "vcam-driver: the driver does not answer (its host crashed?); stop the session's" \
       "wineserver (wineserver -k with WINEPREFIX=$WINEPREFIX) and start again" >&2
  return 1
}

# Starts the service and waits until the control device answers: sc start returns 1 both when
# the driver already runs and when it failed, and a crashed driver host still shows the service
# as running while its devices no longer answer.
_vcam_try_start() {
  local name=$1 bin=$2 tries=$3 i
  for i in $(seq 1 "$tries"); do
    wine sc start "$name" </dev/null >/dev/null 2>&1
    if [ ! -f "$bin/vcam.exe" ]; then
      wine sc query "$name" 2>/dev/null | grep -q RUNNING && return 0
    elif wine "$bin/vcam.exe" list </dev/null >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.5
  done
  return 1
}
