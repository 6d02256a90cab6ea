/* Sensor and controller model of the virtual camera.
 *
 * Plain C with no kernel or C library dependency (only memcpy/memset), so the same file is
 * compiled into the driver and into native unit tests. Nothing here locks: the caller owns the
 * object and serialises access. */
#ifndef VCAM_SENSOR_H
#define VCAM_SENSOR_H

#include <stdint.h>

#include "qlv_camera_model.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VCAM_ARRAY_W QLV_SENSOR_WIDTH
#define VCAM_ARRAY_H QLV_SENSOR_HEIGHT
#define VCAM_REG_COUNT 256
#define VCAM_PORT_COUNT 16
#define VCAM_ROM_BASE 0x1800u
#define VCAM_ROM_SIZE 0x800u
#define VCAM_ROM_SAMPLING_MODE 0x1EB0u
#define VCAM_LOG_SIZE 64
#define VCAM_PACKET 64
#define VCAM_DEFAULT_CHIP 0x1313u
/* 752 x 480 rounded up to whole kilopixels: what the controller sends after power-up. */
#define VCAM_DEFAULT_TRANSFER 361472u
/* Largest frame the controller can hold: the whole array in 16-bit samples. */
#define VCAM_MAX_FRAME_BYTES (VCAM_ARRAY_W * VCAM_ARRAY_H * 2)

/* Registers and ports with a meaning in the model. */
enum {
    VCAM_R_CHIP = 0,
    VCAM_R_COL_START = 1,
    VCAM_R_ROW_START = 2,
    VCAM_R_HEIGHT = 3,
    VCAM_R_WIDTH = 4,
    VCAM_R_HBLANK = 5,
    VCAM_R_VBLANK = 6,
    VCAM_R_EXPOSURE = 11,
    VCAM_R_RESET = 12,
    VCAM_R_READ_MODE = 13,
    VCAM_R_GAIN = 53,
    VCAM_P_IO = 7,
    VCAM_P_TRIGGER = 11,
    VCAM_P_WIDE = 14,
    VCAM_P_CLOCK = 15
};

/* Command codes of the 64-byte packets on pipe 0. */
enum {
    VCAM_CMD_TRANSFER_RESET = 0x01,
    VCAM_CMD_FRAME_REQUEST = 0x02,
    VCAM_CMD_SENSOR_WRITE = 0x04,
    VCAM_CMD_DEVICE_INIT = 0x06,
    VCAM_CMD_TRANSFER_SIZE = 0x09,
    VCAM_CMD_SET_WIDE = 0x0A,
    VCAM_CMD_SENSOR_READ = 0x0C,
    VCAM_CMD_PORT_WRITE = 0x25,
    VCAM_CMD_PORT_READ = 0x26,
    VCAM_CMD_ROM_WRITE = 0x40,
    VCAM_CMD_ROM_READ = 0x41
};

typedef struct vcam_log_entry {
    uint32_t seq; /* 1 for the first write since the log was cleared */
    uint8_t reg;
    uint8_t pad;
    uint16_t value;
} vcam_log_entry;

typedef struct vcam_sensor {
    uint16_t regs[VCAM_REG_COUNT];
    uint8_t ports[VCAM_PORT_COUNT];
    uint8_t rom[VCAM_ROM_SIZE];
    uint16_t chip;       /* value of the read-only register 0 */
    uint8_t mono;        /* 1: no colour filter */
    uint8_t moving;      /* 1: part of the scene moves from frame to frame */
    uint8_t noise;       /* 1: deterministic per-frame noise */
    uint8_t wide_enable; /* last flag of the 16-bit switch command */
    uint8_t pad[2];
    uint32_t transfer_pixels; /* programmed transfer size */
    uint32_t log_count;       /* register writes since the log was cleared */
    vcam_log_entry log[VCAM_LOG_SIZE];
} vcam_sensor;

/* Picture window as decoded from the window registers, with the binning factor and mirrors. */
typedef struct vcam_window {
    int x, y;          /* first pixel of the window on the array */
    int width, height; /* window size in array pixels */
    int factor;        /* binning: 1, 2 or 4 */
    int out_width, out_height; /* size of the delivered (binned) image */
    int mirror_h, mirror_v;
} vcam_window;

/* Power-up state: registers at their defaults, controller ports cleared, ROM contents for the
 * camera with the given number. */
void vcam_sensor_init(vcam_sensor* s, int number, int mono, uint16_t chip);
/* Register defaults only, as at power-up. */
void vcam_sensor_reset_registers(vcam_sensor* s);
void vcam_sensor_write_reg(vcam_sensor* s, uint8_t reg, uint16_t value);
uint16_t vcam_sensor_read_reg(const vcam_sensor* s, uint8_t reg);
void vcam_sensor_write_port(vcam_sensor* s, uint8_t port, uint8_t value);
uint8_t vcam_sensor_read_port(const vcam_sensor* s, uint8_t port);
/* Serial ROM; addresses outside 0x1800-0x1FFF read 0xFF and ignore writes. */
uint8_t vcam_sensor_read_rom(const vcam_sensor* s, uint32_t address);
int vcam_sensor_write_rom(vcam_sensor* s, uint32_t address, uint8_t value);

/* Runs one command packet of len bytes (missing bytes count as zero). Returns 1 and fills
 * reply (64 bytes) when the command answers, 0 otherwise. */
int vcam_sensor_command(vcam_sensor* s, const uint8_t* packet, uint32_t len, uint8_t* reply);

void vcam_sensor_window(const vcam_sensor* s, vcam_window* w);
int vcam_sensor_wide(const vcam_sensor* s);
/* Bytes a frame read moves: the transfer size, doubled in 16-bit mode. */
uint32_t vcam_sensor_transfer_bytes(const vcam_sensor* s);
uint32_t vcam_sensor_clock_hz(const vcam_sensor* s);
/* Frame period in microseconds from clock, window, blanking and exposure. */
uint32_t vcam_sensor_frame_period_us(const vcam_sensor* s);

/* Scene radiance in 10-bit units at full brightness (before exposure and gain); channel
 * 0 blue, 1 green, 2 red. frame selects the moving part and the noise. */
int vcam_scene_value(const vcam_sensor* s, int x, int y, int channel, uint32_t frame);
/* Colour of the filter over array pixel (x, y): 0 blue, 1 green, 2 red. */
int vcam_filter_channel(int x, int y);
/* Sample at array pixel (x, y) of a full-resolution readout: 10 bits, exposure and gain
 * applied, the filter's channel on a colour sensor, luminance on a monochrome one. */
int vcam_sensor_sample(const vcam_sensor* s, int x, int y, uint32_t frame);

/* Renders a frame into out (cap bytes): the binned window in delivery order, 1 byte a pixel
 * or a little-endian word in 16-bit mode, then zero padding. Returns the bytes of image data
 * written before the padding. */
uint32_t vcam_sensor_render(const vcam_sensor* s, uint32_t frame, uint8_t* out, uint32_t cap);

/* Array rows where frames differ when only the frame number changes (no noise). */
#define VCAM_MOVING_TOP 396
#define VCAM_MOVING_BOTTOM 444
/* Brings a frame rendered from the same state for another frame number up to date by
 * re-rendering only the lines that show array rows top..bottom-1. */
void vcam_sensor_render_rows(const vcam_sensor* s, uint32_t frame, uint8_t* out, uint32_t cap,
                             int top, int bottom);

#ifdef __cplusplus
}
#endif
#endif
