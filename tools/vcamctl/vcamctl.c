/* Control library of the virtual camera (see vcamctl.h). */
#include "vcamctl.h"

#include <stdio.h>
#include <string.h>

DWORD vcamctl_request(uint32_t op, uint32_t camera, uint32_t arg0, uint32_t arg1, void* out,
                      DWORD out_len)
{
    vcam_request req = {op, camera, arg0, arg1};
    DWORD got = 0, err = 0;
    HANDLE h = CreateFileA(VCAM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (!DeviceIoControl(h, VCAM_IOCTL_CONTROL, &req, sizeof req, out, out_len, &got, NULL))
        err = GetLastError();
    CloseHandle(h);
    return err;
}

DWORD vcamctl_driver_info(vcam_driver_info* info)
{
    return vcamctl_request(VCAM_OP_DRIVER_INFO, 0, 0, 0, info, sizeof *info);
}
DWORD vcamctl_reset(void) { return vcamctl_request(VCAM_OP_RESET, 0, 0, 0, NULL, 0); }
DWORD vcamctl_attach(int camera, int mono, unsigned chip)
{
    return vcamctl_request(VCAM_OP_ATTACH, (uint32_t)camera, mono ? 1 : 0, chip, NULL, 0);
}
DWORD vcamctl_detach(int camera) { return vcamctl_request(VCAM_OP_DETACH, (uint32_t)camera, 0, 0, NULL, 0); }
DWORD vcamctl_trigger(int camera, unsigned count)
{
    return vcamctl_request(VCAM_OP_TRIGGER, (uint32_t)camera, count, 0, NULL, 0);
}
DWORD vcamctl_fault(int camera, int kind, unsigned count)
{
    return vcamctl_request(VCAM_OP_FAULT, (uint32_t)camera, (uint32_t)kind, count, NULL, 0);
}
DWORD vcamctl_scene(int camera, int moving)
{
    return vcamctl_request(VCAM_OP_SCENE, (uint32_t)camera, moving ? 1 : 0, 0, NULL, 0);
}
DWORD vcamctl_noise(int camera, int on)
{
    return vcamctl_request(VCAM_OP_NOISE, (uint32_t)camera, on ? 1 : 0, 0, NULL, 0);
}
DWORD vcamctl_pacing(int on) { return vcamctl_request(VCAM_OP_PACING, 0, on ? 1 : 0, 0, NULL, 0); }
DWORD vcamctl_camera_info(int camera, vcam_camera_info* info)
{
    return vcamctl_request(VCAM_OP_CAMERA_INFO, (uint32_t)camera, 0, 0, info, sizeof *info);
}
DWORD vcamctl_regs(int camera, vcam_regs* regs)
{
    return vcamctl_request(VCAM_OP_REGS, (uint32_t)camera, 0, 0, regs, sizeof *regs);
}
DWORD vcamctl_rom_read(int camera, uint8_t rom[2048])
{
    return vcamctl_request(VCAM_OP_ROM_READ, (uint32_t)camera, 0, 0, rom, 2048);
}
DWORD vcamctl_rom_write(int camera, unsigned address, unsigned value)
{
    return vcamctl_request(VCAM_OP_ROM_WRITE, (uint32_t)camera, address, value, NULL, 0);
}

static const char* const k_fault_names[] = {"clear", "short-read", "fail-read", "stall",
                                            "fail-command", "slow-frame"};
#define FAULT_KINDS ((int)(sizeof k_fault_names / sizeof k_fault_names[0]))

int vcamctl_fault_kind(const char* name)
{
    int i;
    for (i = 0; i < FAULT_KINDS; i++)
        if (strcmp(name, k_fault_names[i]) == 0)
            return i;
    return -1;
}

const char* vcamctl_fault_name(int kind)
{
    return kind >= 0 && kind < FAULT_KINDS ? k_fault_names[kind] : "?";
}

const char* vcamctl_error_text(DWORD error)
{
    switch (error) {
    case 0: return "success";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "the virtual camera driver is not running (run the program through scripts/winrun)";
    case ERROR_ACCESS_DENIED:
        return "the virtual camera driver host has crashed; restart the Wine session";
    case ERROR_DEVICE_NOT_CONNECTED: return "that camera is not attached";
    case ERROR_ALREADY_EXISTS: return "that camera is already attached";
    case ERROR_BUSY: return "the camera is still delivering a frame; try again";
    case ERROR_INVALID_PARAMETER: return "invalid argument";
    case ERROR_BAD_COMMAND: /* STATUS_INVALID_DEVICE_STATE */
        return "the camera is not in trigger mode (controller port 11 is 0)";
    case ERROR_INVALID_FUNCTION: return "request not understood by the driver";
    case ERROR_SEM_TIMEOUT: return "timed out";
    case ERROR_IO_DEVICE: return "device error";
    case ERROR_OPERATION_ABORTED: return "cancelled";
    default: return "unexpected error";
    }
}

/* ---- camera pipes ---- */

char vcamraw_suffix(int camera)
{
    return camera >= 0 && camera < QLV_DEVICE_SLOTS ? qlv_device_suffix((uint32_t)camera) : '?';
}

void vcamraw_path(int camera, char* path)
{
    sprintf(path, "\\\\.\\%s-%c", QLV_DRIVER_BASE_NAME, vcamraw_suffix(camera));
}

HANDLE vcamraw_open(int camera)
{
    char path[32];
    vcamraw_path(camera, path);
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}

DWORD vcamraw_pipe(HANDLE h, DWORD code, uint32_t pipe, void* buffer, DWORD length, DWORD* moved)
{
    DWORD got = 0;
    if (!DeviceIoControl(h, code, &pipe, sizeof pipe, buffer, length, &got, NULL)) {
        if (moved)
            *moved = 0;
        return GetLastError();
    }
    if (moved)
        *moved = got;
    return 0;
}

DWORD vcamraw_command(HANDLE h, const uint8_t packet[64])
{
    uint8_t copy[64];
    DWORD moved, err;
    memcpy(copy, packet, 64);
    err = vcamraw_pipe(h, VCAM_IOCTL_PIPE_IN, 0, copy, 64, &moved);
    return err ? err : moved == 64 ? 0 : ERROR_GEN_FAILURE;
}

DWORD vcamraw_query(HANDLE h, const uint8_t packet[64], uint8_t reply[64])
{
    DWORD moved, err = vcamraw_command(h, packet);
    if (err)
        return err;
    vcamraw_pipe(h, VCAM_IOCTL_PIPE_OUT, 1, reply, 64, &moved);
    err = vcamraw_pipe(h, VCAM_IOCTL_PIPE_OUT, 1, reply, 64, &moved);
    return err ? err : moved == 64 ? 0 : ERROR_GEN_FAILURE;
}

DWORD vcamraw_read_reg(HANDLE h, uint8_t reg, uint16_t* value)
{
    uint8_t p[64] = {0x0C, reg}, r[64];
    DWORD err = vcamraw_query(h, p, r);
    *value = err ? 0 : (uint16_t)(r[0] << 8 | r[1]);
    return err;
}

DWORD vcamraw_write_reg(HANDLE h, uint8_t reg, uint16_t value)
{
    uint8_t p[64] = {0x04, reg, (uint8_t)(value >> 8), (uint8_t)value};
    return vcamraw_command(h, p);
}

DWORD vcamraw_read_port(HANDLE h, uint8_t port, uint8_t* value)
{
    uint8_t p[64] = {0x26, port}, r[64];
    DWORD err = vcamraw_query(h, p, r);
    *value = err ? 0 : r[0];
    return err;
}

DWORD vcamraw_write_port(HANDLE h, uint8_t port, uint8_t value)
{
    uint8_t p[64] = {0x25, port, value};
    return vcamraw_command(h, p);
}

DWORD vcamraw_read_rom(HANDLE h, uint16_t address, uint8_t* value)
{
    uint8_t p[64] = {0x41, 0x51, 0x02, 0x01, (uint8_t)(address >> 8), (uint8_t)address}, r[64];
    DWORD err = vcamraw_query(h, p, r);
    *value = err ? 0 : r[0];
    return err;
}

DWORD vcamraw_write_rom(HANDLE h, uint8_t index, uint8_t value)
{
    uint8_t p[64] = {0x40, 0x51, 0x03, 0x18, index, value};
    return vcamraw_command(h, p);
}

DWORD vcamraw_set_transfer(HANDLE h, uint32_t pixels)
{
    uint8_t p[64] = {0x09, (uint8_t)pixels, (uint8_t)(pixels >> 8), (uint8_t)(pixels >> 16),
                     (uint8_t)(pixels >> 24)};
    return vcamraw_command(h, p);
}

DWORD vcamraw_set_timeout(HANDLE h, uint32_t milliseconds)
{
    uint32_t block[11] = {1, milliseconds};
    DWORD got;
    return DeviceIoControl(h, VCAM_IOCTL_SET_TIMEOUT, block, sizeof block, NULL, 0, &got, NULL)
               ? 0
               : GetLastError();
}

DWORD vcamraw_read_frame(HANDLE h, void* buffer, DWORD length, DWORD* moved)
{
    uint8_t p[64] = {0x02};
    DWORD ignored;
    vcamraw_pipe(h, VCAM_IOCTL_PIPE_OUT, 0, p, 64, &ignored);
    return vcamraw_pipe(h, length > 3071999 ? VCAM_IOCTL_PIPE_IN_LARGE : VCAM_IOCTL_PIPE_IN, 2,
                        buffer, length, moved);
}

DWORD vcamraw_set_window(HANDLE h, int x, int y, int width, int height, int binning,
                         int* out_width, int* out_height)
{
    int f = qlv_binning_factor(binning);
    qlv_placement p = qlv_place_window(x, y, width, height, f);
    int bw = width / f;
    uint16_t mode = 0;
    uint32_t pixels = (uint32_t)(p.readout.out_width * p.readout.out_height + 1023) / 1024 * 1024;
    DWORD err;
    if ((err = vcamraw_read_reg(h, 13, &mode)) != 0)
        return err;
    mode = (uint16_t)((mode & 0xFFF0) | (f == 2 ? 5 : f == 4 ? 10 : 0));
    vcamraw_write_reg(h, 13, mode);
    vcamraw_write_reg(h, 114, f == 1 ? 16 : 0);
    vcamraw_write_reg(h, 5, bw >= 570 ? 64 : (uint16_t)((663 - bw) & 0xFFFC));
    vcamraw_write_reg(h, 6, 45);
    vcamraw_set_transfer(h, pixels);
    vcamraw_write_reg(h, 1, p.regs.column_start);
    vcamraw_write_reg(h, 2, p.regs.row_start);
    vcamraw_write_reg(h, 3, p.regs.height);
    vcamraw_write_reg(h, 4, p.regs.width);
    vcamraw_write_port(h, 0, (uint8_t)pixels);
    vcamraw_write_port(h, 1, (uint8_t)(pixels >> 8));
    vcamraw_write_port(h, 2, (uint8_t)(pixels >> 16));
    err = vcamraw_write_port(h, 3, (uint8_t)(pixels >> 24));
    if (out_width)
        *out_width = p.readout.out_width;
    if (out_height)
        *out_height = p.readout.out_height;
    return err;
}
