/* Control library of the virtual camera: the control device's requests as C calls, and the
 * camera's raw pipe protocol for test programs that talk to the driver directly.
 *
 * Every function returns 0 on success or a Win32 error code (GetLastError of the failed call).
 * The control calls open the control device for the one request and close it again. */
#ifndef VCAMCTL_H
#define VCAMCTL_H

#include <stdint.h>
#include <windows.h>

#include "qlv_camera_model.h"
#include "vcam_control.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- control device ---- */
DWORD vcamctl_request(uint32_t op, uint32_t camera, uint32_t arg0, uint32_t arg1, void* out,
                      DWORD out_len);
DWORD vcamctl_driver_info(vcam_driver_info* info);
DWORD vcamctl_reset(void);
DWORD vcamctl_attach(int camera, int mono, unsigned chip); /* chip 0: the default 0x1313 */
DWORD vcamctl_detach(int camera);
DWORD vcamctl_trigger(int camera, unsigned count);
DWORD vcamctl_fault(int camera, int kind, unsigned count); /* count 0: until cleared */
DWORD vcamctl_scene(int camera, int moving);
DWORD vcamctl_noise(int camera, int on);
DWORD vcamctl_pacing(int on);
DWORD vcamctl_camera_info(int camera, vcam_camera_info* info);
DWORD vcamctl_regs(int camera, vcam_regs* regs);
DWORD vcamctl_rom_read(int camera, uint8_t rom[2048]); /* addresses 0x1800-0x1FFF */
DWORD vcamctl_rom_write(int camera, unsigned address, unsigned value);

/* Fault kind by name ("short-read", "fail-read", "stall", "fail-command", "clear"); -1 if
 * unknown. */
int vcamctl_fault_kind(const char* name);
const char* vcamctl_fault_name(int kind);
/* What an error from these calls means for a user of the virtual camera. */
const char* vcamctl_error_text(DWORD error);

/* ---- camera pipes ---- */
/* "\\.\QlvnQKZ51RVN-<suffix>" for camera 0-31 into path (at least 24 bytes). */
void vcamraw_path(int camera, char* path);
char vcamraw_suffix(int camera);
/* Opens a camera as the library does; INVALID_HANDLE_VALUE when it is absent. */
HANDLE vcamraw_open(int camera);
/* One pipe request: code, 4-byte pipe number in, buffer out. *moved gets the count. */
DWORD vcamraw_pipe(HANDLE h, DWORD code, uint32_t pipe, void* buffer, DWORD length, DWORD* moved);
/* A command packet (64 bytes) on pipe 0. */
DWORD vcamraw_command(HANDLE h, const uint8_t packet[64]);
/* Command then the two reply reads; reply gets the second. */
DWORD vcamraw_query(HANDLE h, const uint8_t packet[64], uint8_t reply[64]);
DWORD vcamraw_read_reg(HANDLE h, uint8_t reg, uint16_t* value);
DWORD vcamraw_write_reg(HANDLE h, uint8_t reg, uint16_t value);
DWORD vcamraw_read_port(HANDLE h, uint8_t port, uint8_t* value);
DWORD vcamraw_write_port(HANDLE h, uint8_t port, uint8_t value);
DWORD vcamraw_read_rom(HANDLE h, uint16_t address, uint8_t* value);
DWORD vcamraw_write_rom(HANDLE h, uint8_t index, uint8_t value); /* address 0x1800 + index */
DWORD vcamraw_set_transfer(HANDLE h, uint32_t pixels);
DWORD vcamraw_set_timeout(HANDLE h, uint32_t milliseconds);
/* Frame request command, then one frame read of length bytes. */
DWORD vcamraw_read_frame(HANDLE h, void* buffer, DWORD length, DWORD* moved);
/* Programs the window registers as the library does for (x, y, width, height) and binning
 * mode 0/1/2, plus a transfer size that holds the whole picture; *out_width and *out_height
 * receive the size of the picture the camera then sends (the rounded window, binned), which
 * the requested window lies inside (qlv_place_window says where). */
DWORD vcamraw_set_window(HANDLE h, int x, int y, int width, int height, int binning,
                         int* out_width, int* out_height);

#ifdef __cplusplus
}
#endif
#endif
