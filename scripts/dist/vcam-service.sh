# Sourced by the virtual camera's installers: registers qlvnvcam.sys as the kernel-driver service
# QlvnVCam of the current Wine prefix, for the 64-bit driver host.

# Debian's `wine` wrapper runs built-in programs such as sc as 32-bit programs, and a service
# that a 32-bit sc creates is marked WOW64: it would run in the 32-bit driver host, which cannot
# load a 64-bit driver. So the service is made by the 64-bit sc.
vcam_wine64() {
  if [ -x /usr/lib/wine/wine64 ]; then
    /usr/lib/wine/wine64 "$@"
  else
    wine64 "$@"
  fi
}

# vcam_service_register SYS_PATH: creates the service, or points it at SYS_PATH.
vcam_service_register() {
  local sys=$1 name=QlvnVCam key='HKLM\System\CurrentControlSet\Services\QlvnVCam' winsys
  winsys="Z:${sys//\//\\}"
  # A service from the time the driver was 32-bit: made again for the 64-bit host.
  if wine reg query "$key" /v WOW64 </dev/null >/dev/null 2>&1; then
    vcam_wine64 sc stop "$name" </dev/null >/dev/null 2>&1
    vcam_wine64 sc delete "$name" </dev/null >/dev/null 2>&1
  fi
  if ! vcam_wine64 sc query "$name" </dev/null >/dev/null 2>&1; then
    vcam_wine64 sc create "$name" type= kernel start= demand binPath= "$winsys" </dev/null >/dev/null 2>&1
  else
    # The driver may have moved since the service was created.
    wine reg add "$key" /v ImagePath /t REG_EXPAND_SZ /d "$winsys" /f </dev/null >/dev/null 2>&1
  fi
}
