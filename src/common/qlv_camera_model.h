/* Facts about the camera model shared by the library, the virtual camera's driver and its
 * control library: device naming, the sensor array, the registers and ranges the library
 * drives, and how a capture window becomes sensor window registers and, from them, the picture
 * the sensor sends.
 *
 * Plain C with static inline functions and no includes beyond stdint.h, so that the kernel
 * driver can use it as well as the C++ library. */
#ifndef QLV_CAMERA_MODEL_H
#define QLV_CAMERA_MODEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Device objects are "<base>-<suffix>"; number n uses character n of the suffix table. N stands
 * before M: number 22 is "N" and 23 is "M". */
#define QLV_DRIVER_BASE_NAME "QlvnQKZ51RVN"
#define QLV_DEVICE_SUFFIXES "0123456789ABCDEFGHIJKLNMOPQRSTUVWXYZ"
#define QLV_SUFFIX_COUNT 36
#define QLV_DEVICE_SLOTS 32
/* A narrow string literal macro as a wide one: L"" QLV_WIDE(QLV_DRIVER_BASE_NAME). */
#define QLV_WIDE_(s) L##s
#define QLV_WIDE(s) QLV_WIDE_(s)

/* The sensor array. */
#define QLV_SENSOR_WIDTH 752
#define QLV_SENSOR_HEIGHT 480

/* Sensor registers with a fixed meaning outside the initialisation sequences. */
#define QLV_REG_EXPOSURE 11    /* exposure in lines */
#define QLV_REG_READ_MODE 13   /* mirror bits below, binning in the low bits */
/* Colour gains, in the order the library applies them: green 1, red, blue, green 2. */
#define QLV_REG_GAIN_GREEN1 43
#define QLV_REG_GAIN_RED 45
#define QLV_REG_GAIN_BLUE 44
#define QLV_REG_GAIN_GREEN2 46
#define QLV_REG_GLOBAL_GAIN 53

/* Read-mode bits: set means that direction is NOT mirrored. */
#define QLV_READ_MODE_UNMIRRORED_H 0x20
#define QLV_READ_MODE_UNMIRRORED_V 0x10

/* Ranges and defaults of the global gain and the exposure the library offers. */
#define QLV_GLOBAL_GAIN_MIN 0
#define QLV_GLOBAL_GAIN_MAX 63
#define QLV_GLOBAL_GAIN_DEFAULT 16
#define QLV_EXPOSURE_LINES_MIN 1
#define QLV_EXPOSURE_LINES_MAX 32767
#define QLV_EXPOSURE_LINES_DEFAULT 480

/* Character of device number n, 0 when it has none. */
static inline char qlv_device_suffix(uint32_t number)
{
    return number < QLV_SUFFIX_COUNT ? QLV_DEVICE_SUFFIXES[number] : (char)0;
}

/* Binning factor of a sub-sampling mode: 2 for mode 1, 4 for mode 2, else 1. */
static inline int qlv_binning_factor(int subsample)
{
    return subsample == 1 ? 2 : subsample == 2 ? 4 : 1;
}

/* Sensor window registers (1 column start, 2 row start, 3 height, 4 width). */
typedef struct qlv_window_regs {
    uint16_t column_start, row_start, height, width;
} qlv_window_regs;

/* Registers for a window of width x height whose far edges lie column_margin and row_margin
 * pixels inside the array's right and bottom edges. With binning the margins are aligned up
 * and the size rounded up to the binning block (4 or 8); without, the size is rounded up to
 * even. */
static inline qlv_window_regs qlv_window_registers(int column_margin, int row_margin, int width,
                                                   int height, int factor)
{
    const int round = factor == 4 ? 7 : factor == 2 ? 3 : 1;
    const int align = factor == 1 ? 0 : round;
    qlv_window_regs r;
    r.row_start = (uint16_t)(((row_margin + align) & ~align) + 4);
    r.column_start = (uint16_t)(((column_margin + align) & ~align) + 1);
    r.height = (uint16_t)((height + round) & ~round);
    r.width = (uint16_t)((width + round) & ~round);
    return r;
}

static inline int qlv_clamp(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

/* What the sensor reads for a set of window registers: the array rectangle and, after binning
 * by factor, the size of the picture it sends (one line per binned row, no padding between
 * lines). The registers count from the far edges of the array; a rectangle that would reach
 * past the near edge is slid back inside, keeping its size. */
typedef struct qlv_readout {
    int x, y;          /* first array pixel */
    int width, height; /* array pixels */
    int factor;
    int out_width, out_height; /* the picture sent: binned width and rows */
} qlv_readout;

static inline qlv_readout qlv_readout_from_registers(qlv_window_regs r, int factor)
{
    qlv_readout o;
    const int margin_c = qlv_clamp((int)r.column_start - 1, 0, QLV_SENSOR_WIDTH);
    const int margin_r = qlv_clamp((int)r.row_start - 4, 0, QLV_SENSOR_HEIGHT);
    o.factor = factor;
    o.width = qlv_clamp(r.width, 1, QLV_SENSOR_WIDTH);
    o.height = qlv_clamp(r.height, 1, QLV_SENSOR_HEIGHT);
    o.x = qlv_clamp(QLV_SENSOR_WIDTH - margin_c - o.width, 0, QLV_SENSOR_WIDTH - o.width);
    o.y = qlv_clamp(QLV_SENSOR_HEIGHT - margin_r - o.height, 0, QLV_SENSOR_HEIGHT - o.height);
    o.out_width = o.width / factor > 0 ? o.width / factor : 1;
    o.out_height = o.height / factor > 0 ? o.height / factor : 1;
    return o;
}

/* Where a capture window (x, y, width, height) lies in the picture the sensor sends for it,
 * before mirroring: its binned size and the column and line of its first pixel. The sensor's
 * rectangle is rounded up and aligned, so it may start left of and above the window; the
 * window's first binned pixel is the one holding array pixel (x, y), moved back where the
 * window's binned width or height would otherwise run past the picture. */
typedef struct qlv_placement {
    qlv_window_regs regs;
    qlv_readout readout;
    int width, height; /* binned window: width / factor, height / factor */
    int column, line;  /* first pixel of the window in the picture, unmirrored */
} qlv_placement;

static inline qlv_placement qlv_place_window(int x, int y, int width, int height, int factor)
{
    qlv_placement p;
    p.regs = qlv_window_registers(QLV_SENSOR_WIDTH - x - width, QLV_SENSOR_HEIGHT - y - height,
                                  width, height, factor);
    p.readout = qlv_readout_from_registers(p.regs, factor);
    p.width = width / factor;
    p.height = height / factor;
    p.column = qlv_clamp((x - p.readout.x) / factor, 0, p.readout.out_width - p.width);
    p.line = qlv_clamp((y - p.readout.y) / factor, 0, p.readout.out_height - p.height);
    return p;
}

/* The same first pixel in a picture sent with the mirrors on: the sensor flips the whole
 * picture, so the window's columns (lines) count from the other side. */
static inline int qlv_mirrored_offset(int offset, int size, int picture_size, int mirrored)
{
    return mirrored ? picture_size - size - offset : offset;
}

#ifdef __cplusplus
}
#endif
#endif
