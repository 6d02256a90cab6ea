# Sourced by scripts/winsession: installs the virtual camera driver as a service of the Wine
# prefix (first run) and starts it. Expects $top (the repository) and a running wineserver.

vcam_driver_ensure() {
  local bin="${QELVAN_WIN_BIN:-$top/build/win32/bin}"
  local sys="$bin/qlvnvcam.sys" name=QlvnVCam key='HKLM\System\CurrentControlSet\Services\QlvnVCam'
  local winsys i
  if [ ! -f "$sys" ]; then
    echo "vcam-driver: $sys is not built; the virtual camera is not available" >&2
    return 1
  fi
  winsys="Z:${sys//\//\\}"
  if ! wine sc query "$name" >/dev/null 2>&1; then
    # The 32-bit sc marks the service for the 32-bit driver host at once.
    wine "C:\\windows\\syswow64\\sc.exe" create "$name" type= kernel start= demand binPath= "$winsys" >/dev/null 2>&1 || {
      echo "vcam-driver: could not create the service $name" >&2
      return 1
    }
  else
    # The build directory may have moved since the service was created.
    wine reg add "$key" /v ImagePath /t REG_EXPAND_SZ /d "$winsys" /f >/dev/null 2>&1
  fi
  _vcam_try_start "$name" "$bin" 5 && return 0
  # In a prefix's first session the 32-bit driver host does not come up (the service manager
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
