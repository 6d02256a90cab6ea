/* Sensor and controller model of the virtual camera (see vcam_sensor.h). */
#include "vcam_sensor.h"

#include <string.h>

/* Register values after power-up. Registers not listed read 0. */
static const struct {
    uint8_t reg;
    uint16_t value;
} k_defaults[] = {
    {VCAM_R_COL_START, 1}, {VCAM_R_ROW_START, 4}, {VCAM_R_HEIGHT, 480}, {VCAM_R_WIDTH, 752},
    {VCAM_R_HBLANK, 94}, {VCAM_R_VBLANK, 45}, {7, 0x0388}, {VCAM_R_EXPOSURE, 480},
    /* Both mirror bits set: no mirroring; low four bits 0: no binning. */
    {VCAM_R_READ_MODE, 0x0330}, {15, 0x0011}, {32, 0x01D1}, {VCAM_R_GAIN, 16}, {71, 0x0080},
    {114, 16}, {175, 0},
};

void vcam_sensor_reset_registers(vcam_sensor* s)
{
    unsigned i;
    memset(s->regs, 0, sizeof s->regs);
    for (i = 0; i < sizeof k_defaults / sizeof k_defaults[0]; i++)
        s->regs[k_defaults[i].reg] = k_defaults[i].value;
    s->regs[VCAM_R_CHIP] = s->chip;
}

static void put_text(uint8_t* dst, const char* text)
{
    while (*text)
        *dst++ = (uint8_t)*text++;
}

void vcam_sensor_init(vcam_sensor* s, int number, int mono, uint16_t chip)
{
    uint8_t* id;
    memset(s, 0, sizeof *s);
    s->chip = chip;
    s->mono = mono ? 1 : 0;
    s->moving = 1;
    s->noise = 0;
    s->wide_enable = 0;
    vcam_sensor_reset_registers(s);
    s->transfer_pixels = VCAM_DEFAULT_TRANSFER;
    s->ports[0] = (uint8_t)VCAM_DEFAULT_TRANSFER;
    s->ports[1] = (uint8_t)(VCAM_DEFAULT_TRANSFER >> 8);
    s->ports[2] = (uint8_t)(VCAM_DEFAULT_TRANSFER >> 16);
    s->ports[3] = (uint8_t)(VCAM_DEFAULT_TRANSFER >> 24);

    /* An erased serial ROM reads 0xFF; the identification block sits at its start. */
    memset(s->rom, 0xFF, sizeof s->rom);
    id = s->rom;
    put_text(id, "QLVNVCAM");
    id[8] = 1;                           /* hardware revision */
    id[9] = (uint8_t)number;             /* camera number */
    id[10] = s->mono ? 1 : 0;            /* sensor kind: 0 colour, 1 monochrome */
    id[11] = (uint8_t)(chip >> 8);
    id[12] = (uint8_t)chip;
    put_text(id + 16, "VC0000");         /* serial number, the last two digits the camera */
    id[22] = (uint8_t)('0' + (number / 10) % 10);
    id[23] = (uint8_t)('0' + number % 10);
    s->rom[VCAM_ROM_SAMPLING_MODE - VCAM_ROM_BASE] = 1;
}

void vcam_sensor_write_reg(vcam_sensor* s, uint8_t reg, uint16_t value)
{
    vcam_log_entry* e = &s->log[s->log_count % VCAM_LOG_SIZE];
    e->seq = s->log_count + 1;
    e->reg = reg;
    e->pad = 0;
    e->value = value;
    s->log_count++;

    if (reg == VCAM_R_CHIP)
        return; /* read-only */
    /* A soft reset restarts the sensor's readout and keeps the register values: the
     * library switches trigger mode on by writing the mode registers and then resetting. */
    if (reg == VCAM_R_RESET)
        value &= (uint16_t)~1u; /* the reset bit clears itself */
    s->regs[reg] = value;
}

uint16_t vcam_sensor_read_reg(const vcam_sensor* s, uint8_t reg)
{
    return reg == VCAM_R_CHIP ? s->chip : s->regs[reg];
}

void vcam_sensor_write_port(vcam_sensor* s, uint8_t port, uint8_t value)
{
    if (port >= VCAM_PORT_COUNT)
        return;
    s->ports[port] = value;
    if (port <= 3)
        s->transfer_pixels = (uint32_t)s->ports[0] | (uint32_t)s->ports[1] << 8 |
                             (uint32_t)s->ports[2] << 16 | (uint32_t)s->ports[3] << 24;
}

uint8_t vcam_sensor_read_port(const vcam_sensor* s, uint8_t port)
{
    return port < VCAM_PORT_COUNT ? s->ports[port] : 0;
}

uint8_t vcam_sensor_read_rom(const vcam_sensor* s, uint32_t address)
{
    if (address < VCAM_ROM_BASE || address >= VCAM_ROM_BASE + VCAM_ROM_SIZE)
        return 0xFF;
    return s->rom[address - VCAM_ROM_BASE];
}

int vcam_sensor_write_rom(vcam_sensor* s, uint32_t address, uint8_t value)
{
    if (address < VCAM_ROM_BASE || address >= VCAM_ROM_BASE + VCAM_ROM_SIZE)
        return 0;
    s->rom[address - VCAM_ROM_BASE] = value;
    return 1;
}

int vcam_sensor_command(vcam_sensor* s, const uint8_t* packet, uint32_t len, uint8_t* reply)
{
    uint8_t p[VCAM_PACKET];
    uint32_t v;
    memset(p, 0, sizeof p);
    memcpy(p, packet, len < VCAM_PACKET ? len : VCAM_PACKET);
    memset(reply, 0, VCAM_PACKET);
    if (len == 0)
        return 0;

    switch (p[0]) {
    case VCAM_CMD_SENSOR_WRITE:
        vcam_sensor_write_reg(s, p[1], (uint16_t)(p[2] << 8 | p[3]));
        return 0;
    case VCAM_CMD_SENSOR_READ:
        v = vcam_sensor_read_reg(s, p[1]);
        reply[0] = (uint8_t)(v >> 8);
        reply[1] = (uint8_t)v;
        return 1;
    case VCAM_CMD_TRANSFER_SIZE:
        v = (uint32_t)p[1] | (uint32_t)p[2] << 8 | (uint32_t)p[3] << 16 | (uint32_t)p[4] << 24;
        s->transfer_pixels = v;
        s->ports[0] = p[1];
        s->ports[1] = p[2];
        s->ports[2] = p[3];
        s->ports[3] = p[4];
        return 0;
    case VCAM_CMD_SET_WIDE:
        s->wide_enable = p[1] ? 1 : 0;
        return 0;
    case VCAM_CMD_PORT_WRITE:
        vcam_sensor_write_port(s, p[1], p[2]);
        return 0;
    case VCAM_CMD_PORT_READ:
        reply[0] = vcam_sensor_read_port(s, p[1]);
        return 1;
    case VCAM_CMD_ROM_WRITE:
        /* Writes carry only the low address byte behind a fixed 0x18. */
        if (p[1] == 0x51 && p[2] == 0x03 && p[3] == 0x18)
            vcam_sensor_write_rom(s, VCAM_ROM_BASE | p[4], p[5]);
        return 0;
    case VCAM_CMD_ROM_READ:
        if (p[1] != 0x51 || p[2] != 0x02 || p[3] != 0x01) {
            reply[0] = 0xFF;
            return 1;
        }
        reply[0] = vcam_sensor_read_rom(s, (uint32_t)p[4] << 8 | p[5]);
        return 1;
    default:
        /* Transfer reset, frame request, device init and unknown codes: nothing to model. */
        return 0;
    }
}

static int clampi(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

void vcam_sensor_window(const vcam_sensor* s, vcam_window* w)
{
    uint16_t mode = s->regs[VCAM_R_READ_MODE];
    qlv_window_regs r;
    qlv_readout o;
    r.column_start = s->regs[VCAM_R_COL_START];
    r.row_start = s->regs[VCAM_R_ROW_START];
    r.height = s->regs[VCAM_R_HEIGHT];
    r.width = s->regs[VCAM_R_WIDTH];
    o = qlv_readout_from_registers(r, (mode & 15) == 5 ? 2 : (mode & 15) == 10 ? 4 : 1);
    w->factor = o.factor;
    w->mirror_h = (mode & 0x20) ? 0 : 1;
    w->mirror_v = (mode & 0x10) ? 0 : 1;
    w->x = o.x;
    w->y = o.y;
    w->width = o.width;
    w->height = o.height;
    w->out_width = o.out_width;
    w->out_height = o.out_height;
}

int vcam_sensor_wide(const vcam_sensor* s)
{
    return s->ports[VCAM_P_WIDE] != 0;
}

uint32_t vcam_sensor_transfer_bytes(const vcam_sensor* s)
{
    return s->transfer_pixels * (vcam_sensor_wide(s) ? 2u : 1u);
}

uint32_t vcam_sensor_clock_hz(const vcam_sensor* s)
{
    switch (s->ports[VCAM_P_CLOCK]) {
    case 1: return 12000000u;
    case 2: return 48000000u;
    case 3: return 40000000u;
    case 4: return 20000000u;
    case 5: return 10000000u;
    default: return 24000000u;
    }
}

uint32_t vcam_sensor_frame_period_us(const vcam_sensor* s)
{
    vcam_window w;
    uint64_t line, frame, exposure, period;
    uint32_t lines = s->regs[VCAM_R_EXPOSURE] & 0x7FFF;
    uint32_t clk = vcam_sensor_clock_hz(s);

    vcam_sensor_window(s, &w);
    line = (uint64_t)w.out_width + s->regs[VCAM_R_HBLANK];
    frame = ((uint64_t)w.out_height + s->regs[VCAM_R_VBLANK]) * line;
    exposure = (uint64_t)(lines ? lines : 1) * line;
    period = (frame > exposure ? frame : exposure) * 1000000u / clk;
    return period < 100 ? 100 : (uint32_t)period;
}

int vcam_filter_channel(int x, int y)
{
    /* Blue at the array's first pixel, green beside it and below it, red diagonally. */
    int cx = x & 1, cy = y & 1;
    if (cx == cy)
        return cx ? 2 : 0;
    return 1;
}

/* Left edge of the moving square in a given frame. */
static int square_left(uint32_t frame)
{
    return 8 + (int)((frame * 6u) % (VCAM_ARRAY_W - 48 - 16));
}

static uint32_t hash3(uint32_t x, uint32_t y, uint32_t f)
{
    uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ f * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

int vcam_scene_value(const vcam_sensor* s, int x, int y, int channel, uint32_t frame)
{
    const int hi = 800, lo = 96;
    (void)s;
    if (y < 160) {
        /* Colour bars: white, yellow, cyan, green, magenta, red, blue, black. */
        static const uint8_t bars[8] = {7, 6, 3, 2, 5, 4, 1, 0}; /* bit 2 red, 1 green, 0 blue */
        int bar = x / 94;
        int bit = channel == 2 ? 4 : channel == 1 ? 2 : 1;
        return (bars[bar > 7 ? 7 : bar] & bit) ? 720 : 48;
    }
    if (y < 240)
        return 16 + x * 1000 / (VCAM_ARRAY_W - 1); /* gray ramp */
    if (y < 360) {
        if (x < 188)
            return ((x >> 2) & 1) ? hi : lo; /* vertical stripes */
        if (x < 376)
            return ((y >> 2) & 1) ? hi : lo; /* horizontal stripes */
        if (x < 564)
            return (((x >> 2) + (y >> 2)) & 1) ? hi : lo; /* small checker */
        return (x - 564) * 120 > (y - 240) * 188 ? hi : lo; /* diagonal edge */
    }
    {
        int left = square_left(frame);
        if (x >= left && x < left + 48 && y >= 396 && y < 444)
            return channel == 2 ? 900 : channel == 1 ? 600 : 200;
        return 160;
    }
}

/* Luminance of the scene, or the filtered channel on a colour sensor. */
static int raw_radiance(const vcam_sensor* s, int x, int y, int channel, uint32_t frame)
{
    if (s->mono)
        return (77 * vcam_scene_value(s, x, y, 2, frame) + 150 * vcam_scene_value(s, x, y, 1, frame) +
                29 * vcam_scene_value(s, x, y, 0, frame)) >> 8;
    return vcam_scene_value(s, x, y, channel, frame);
}

static uint32_t brightness_k(const vcam_sensor* s)
{
    uint32_t lines = s->regs[VCAM_R_EXPOSURE] & 0x7FFF;
    return (lines ? lines : 1) * (uint32_t)s->regs[VCAM_R_GAIN];
}

/* 480 lines at register 53 = 32 (gain x2, what the library programs on its first run) show the
 * scene at its own level, with the gray ramp unclipped; the power-up gain 16 gives half of it. */
static int apply_brightness(uint32_t k, int radiance)
{
    uint64_t v = (uint64_t)radiance * k / (480u * 32u);
    return v > 1023 ? 1023 : (int)v;
}

static int apply_noise(const vcam_sensor* s, int v, int x, int y, uint32_t frame)
{
    if (!s->noise)
        return v;
    v += (int)(hash3((uint32_t)x, (uint32_t)y, frame) % 31u) - 15;
    return clampi(v, 0, 1023);
}

int vcam_sensor_sample(const vcam_sensor* s, int x, int y, uint32_t frame)
{
    int v = apply_brightness(brightness_k(s), raw_radiance(s, x, y, vcam_filter_channel(x, y), frame));
    return apply_noise(s, v, x, y, frame);
}

/* Renders the lines whose array rows meet top..bottom-1 (all lines when all is set). */
static uint32_t render(const vcam_sensor* s, uint32_t frame, uint8_t* out, uint32_t cap, int top,
                       int bottom, int all)
{
    vcam_window w;
    uint16_t lut[1024];
    uint32_t k = brightness_k(s), pos = 0, line_bytes;
    int wide = vcam_sensor_wide(s), f, area, i, j;

    vcam_sensor_window(s, &w);
    f = w.factor;
    area = f * f;
    line_bytes = (uint32_t)w.out_width * (wide ? 2u : 1u);
    for (i = 0; i < 1024; i++)
        lut[i] = (uint16_t)apply_brightness(k, i);

    for (j = 0; j < w.out_height; j++) {
        int by = w.mirror_v ? w.out_height - 1 - j : j;
        int y0 = w.y + by * f;
        if (pos + line_bytes > cap)
            break;
        if (!all && (y0 + f <= top || y0 >= bottom)) {
            pos += line_bytes;
            continue;
        }
        for (i = 0; i < w.out_width; i++) {
            int bx = w.mirror_h ? w.out_width - 1 - i : i;
            int x0 = w.x + bx * f, v;
            /* Binning averages the pixels' own values (exposed and amplified, clipped) of
             * same-colour neighbours: the binned image keeps the mosaic. */
            int ch = vcam_filter_channel(w.x / f + bx, w.y / f + by), r;
            if (f == 1) {
                r = raw_radiance(s, x0, y0, ch, frame);
                v = lut[r > 1023 ? 1023 : r];
            } else {
                int sum = 0, dx, dy;
                for (dy = 0; dy < f; dy++)
                    for (dx = 0; dx < f; dx++) {
                        r = raw_radiance(s, x0 + dx, y0 + dy, ch, frame);
                        sum += lut[r > 1023 ? 1023 : r];
                    }
                v = sum / area;
            }
            v = apply_noise(s, v, x0, y0, frame);
            if (wide) {
                out[pos++] = (uint8_t)v;
                out[pos++] = (uint8_t)(v >> 8);
            } else {
                out[pos++] = (uint8_t)(v >> 2);
            }
        }
    }
    if (all && pos < cap)
        memset(out + pos, 0, cap - pos);
    return pos;
}

uint32_t vcam_sensor_render(const vcam_sensor* s, uint32_t frame, uint8_t* out, uint32_t cap)
{
    return render(s, frame, out, cap, 0, 0, 1);
}

void vcam_sensor_render_rows(const vcam_sensor* s, uint32_t frame, uint8_t* out, uint32_t cap,
                             int top, int bottom)
{
    render(s, frame, out, cap, top, bottom, 0);
}
