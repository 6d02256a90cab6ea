/* vcam.exe: controls the virtual camera (attach, detach, trigger, faults, state). */
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vcamctl.h"

static const char k_usage[] =
    "usage: vcam COMMAND [ARGS]\n"
    "  list                                  attached cameras, options and counters\n"
    "  reset                                 camera 0 only, defaults, counters cleared\n"
    "  attach N [--mono] [--chip 0xNNNN]     plug in camera N (0-31)\n"
    "  detach N                              unplug camera N\n"
    "  trigger N [COUNT]                     fire COUNT triggers (default 1)\n"
    "  fault N KIND [COUNT]                  KIND: short-read, fail-read, stall, fail-command,\n"
    "                                        clear; COUNT default 1, 0 = until cleared\n"
    "  scene N moving|static                 motion in the scene (static also freezes noise)\n"
    "  noise N on|off                        deterministic per-frame noise\n"
    "  regs N                                registers, ports and recent register writes\n"
    "  rom N [ADDR [VALUE]]                  dump, read or write the serial ROM\n"
    "  stats N                               frames, opens, handles, requests by code\n"
    "  pacing on|off                         frames at the sensor's rate, or as fast as asked\n";

static int fail(const char* what, DWORD err)
{
    fprintf(stderr, "vcam: %s: %s (error %lu)\n", what, vcamctl_error_text(err), (unsigned long)err);
    return 1;
}

static int usage_error(const char* message)
{
    fprintf(stderr, "vcam: %s\n%s", message, k_usage);
    return 2;
}

/* Parses a number (decimal or 0x hex, digits only: "010" is ten) within [lo, hi]. */
static int parse_num(const char* text, unsigned long lo, unsigned long hi, unsigned long* out)
{
    const char* p;
    char* end;
    unsigned long v;
    int base = 10;
    if (!text)
        return 0;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    for (p = text; *p; p++)
        if (base == 16 ? !isxdigit((unsigned char)*p) : !isdigit((unsigned char)*p))
            return 0;
    if (p == text)
        return 0;
    errno = 0;
    v = strtoul(text, &end, base);
    if (errno || v < lo || v > hi)
        return 0;
    *out = v;
    return 1;
}

static int parse_camera(const char* text, int* camera)
{
    unsigned long v;
    if (!parse_num(text, 0, 31, &v))
        return 0;
    *camera = (int)v;
    return 1;
}

static double fps_of(const vcam_camera_info* c)
{
    return c->frame_period_us ? 1e6 / c->frame_period_us : 0.0;
}

static void print_camera_line(int n, const vcam_camera_info* c)
{
    char path[32];
    vcamraw_path(n, path);
    printf("camera %2d  %-20s %s, chip 0x%04X, scene %s, noise %s, %ux%u %s, %.1f fps%s\n", n, path,
           c->mono ? "mono" : "colour", (unsigned)c->chip, c->moving ? "moving" : "static",
           c->noise ? "on" : "off", (unsigned)c->width, (unsigned)c->height,
           c->wide ? "16-bit" : "8-bit", fps_of(c),
           c->trigger_mode == 1 ? ", trigger mode" : "");
    printf("           frames %u, handles open %u, reads pending %u", (unsigned)c->frames_delivered,
           (unsigned)c->handles_open, (unsigned)c->reads_pending);
    if (c->fault_short_read || c->fault_fail_read || c->fault_fail_command || c->fault_stall ||
        c->fault_slow_frame)
        printf(", faults:%s%s%s%s%s", c->fault_short_read ? " short-read" : "",
               c->fault_fail_read ? " fail-read" : "", c->fault_stall ? " stall" : "",
               c->fault_fail_command ? " fail-command" : "",
               c->fault_slow_frame ? " slow-frame" : "");
    printf("\n");
}

static int cmd_list(void)
{
    vcam_driver_info d;
    DWORD err = vcamctl_driver_info(&d);
    int n;
    if (err)
        return fail("list", err);
    printf("virtual camera driver v%u, pacing %s, %u camera handle(s) open\n", (unsigned)d.version,
           d.pacing ? "on" : "off", (unsigned)d.camera_handles);
    if (!d.attached_mask)
        printf("no camera attached\n");
    for (n = 0; n < 32; n++) {
        vcam_camera_info c;
        if (!(d.attached_mask & (1u << n)))
            continue;
        if ((err = vcamctl_camera_info(n, &c)) != 0)
            return fail("list", err);
        print_camera_line(n, &c);
    }
    return 0;
}

static void print_count(const char* name, unsigned v)
{
    if (v == 0xFFFFFFFFu)
        printf("  %-22s until cleared\n", name);
    else
        printf("  %-22s %u\n", name, v);
}

static int cmd_stats(int n)
{
    static const char* const codes[] = {"0x22204E (pipe out)", "0x222051 (pipe in)",
                                        "0x2220A6 (large out)", "0x2220A9 (large in)",
                                        "0x2220A0 (time-out)", "other"};
    vcam_camera_info c;
    DWORD err = vcamctl_camera_info(n, &c);
    int i;
    if (err)
        return fail("stats", err);
    printf("camera %d: %s\n", n, c.attached ? "attached" : "not attached (last counters)");
    printf("  %-22s %u\n", "frames delivered", (unsigned)c.frames_delivered);
    printf("  %-22s %u\n", "sensor frames", (unsigned)c.sensor_frames);
    printf("  %-22s %u us (%.2f fps)\n", "frame period", (unsigned)c.frame_period_us, fps_of(&c));
    printf("  %-22s %u bytes\n", "frame read size", (unsigned)c.transfer_bytes);
    printf("  %-22s %u ms\n", "transfer time-out", (unsigned)c.timeout_ms);
    printf("  %-22s %u\n", "reads timed out", (unsigned)c.reads_timed_out);
    printf("  %-22s %u\n", "reads failed", (unsigned)c.reads_failed);
    printf("  %-22s %u\n", "reads short", (unsigned)c.reads_short);
    printf("  %-22s %u\n", "reads cancelled", (unsigned)c.reads_cancelled);
    printf("  %-22s %u\n", "reads disconnected", (unsigned)c.reads_disconnected);
    printf("  %-22s %u\n", "reads pending", (unsigned)c.reads_pending);
    printf("  %-22s %u\n", "commands", (unsigned)c.commands);
    printf("  %-22s %u\n", "commands failed", (unsigned)c.commands_failed);
    printf("  %-22s %u\n", "opens", (unsigned)c.opens);
    printf("  %-22s %u\n", "closes", (unsigned)c.closes);
    printf("  %-22s %u\n", "handles open", (unsigned)c.handles_open);
    printf("  %-22s %s\n", "trigger mode", c.trigger_mode == 1 ? "on" : "off");
    printf("  %-22s %u\n", "triggers pending", (unsigned)c.triggers_pending);
    print_count("fault short-read", c.fault_short_read);
    print_count("fault fail-read", c.fault_fail_read);
    print_count("fault fail-command", c.fault_fail_command);
    print_count("fault slow-frame", c.fault_slow_frame);
    printf("  %-22s %s\n", "fault stall", c.fault_stall ? "on" : "off");
    printf("  requests by control code:\n");
    for (i = 0; i < VCAM_CODE_COUNT; i++)
        printf("    %-22s %u\n", codes[i], (unsigned)c.requests[i]);
    return 0;
}

static int cmd_regs(int n)
{
    vcam_regs r;
    DWORD err = vcamctl_regs(n, &r);
    unsigned i, shown;
    if (err)
        return fail("regs", err);
    printf("registers (hex, 8 a line):\n");
    for (i = 0; i < 256; i += 8)
        printf("  %3u: %04X %04X %04X %04X %04X %04X %04X %04X\n", i, r.regs[i], r.regs[i + 1],
               r.regs[i + 2], r.regs[i + 3], r.regs[i + 4], r.regs[i + 5], r.regs[i + 6],
               r.regs[i + 7]);
    printf("ports:");
    for (i = 0; i < 16; i++)
        printf(" %u=0x%02X", i, r.ports[i]);
    printf("\ntransfer size %u pixels, 16-bit %s\n", (unsigned)r.transfer_pixels,
           r.ports[14] ? "on" : "off");
    shown = r.log_count < VCAM_LOG_ENTRIES ? r.log_count : VCAM_LOG_ENTRIES;
    printf("register writes: %u in all, the last %u (oldest first):\n", (unsigned)r.log_count, shown);
    for (i = 0; i < shown; i++)
        printf("  #%u reg %u = %u (0x%04X)\n", (unsigned)r.log[i].seq, r.log[i].reg, r.log[i].value,
               r.log[i].value);
    return 0;
}

static int cmd_rom(int n, int argc, char** argv)
{
    uint8_t rom[2048];
    unsigned long addr, value;
    DWORD err;
    unsigned i, j;
    if (argc >= 1 && !parse_num(argv[0], 0x1800, 0x1FFF, &addr))
        return usage_error("ROM address must be 0x1800-0x1FFF");
    if (argc >= 2) {
        if (!parse_num(argv[1], 0, 255, &value))
            return usage_error("ROM value must be 0-255");
        if ((err = vcamctl_rom_write(n, (unsigned)addr, (unsigned)value)) != 0)
            return fail("rom", err);
        printf("rom 0x%04lX = 0x%02lX\n", addr, value);
        return 0;
    }
    if ((err = vcamctl_rom_read(n, rom)) != 0)
        return fail("rom", err);
    if (argc == 1) {
        printf("rom 0x%04lX = 0x%02X\n", addr, rom[addr - 0x1800]);
        return 0;
    }
    for (i = 0; i < 2048; i += 16) {
        printf("%04X:", 0x1800 + i);
        for (j = 0; j < 16; j++)
            printf(" %02X", rom[i + j]);
        printf("  ");
        for (j = 0; j < 16; j++)
            putchar(rom[i + j] >= 32 && rom[i + j] < 127 ? rom[i + j] : '.');
        printf("\n");
    }
    return 0;
}

static int on_off(const char* text, const char* on, const char* off, int* out)
{
    if (text && strcmp(text, on) == 0)
        return *out = 1, 1;
    if (text && strcmp(text, off) == 0)
        return *out = 0, 1;
    return 0;
}

int main(int argc, char** argv)
{
    const char* cmd = argc > 1 ? argv[1] : NULL;
    int n = 0, flag;
    unsigned long count = 1;
    DWORD err;

    if (!cmd || !strcmp(cmd, "help") || !strcmp(cmd, "--help") || !strcmp(cmd, "-h")) {
        printf("%s", k_usage);
        return cmd ? 0 : 2;
    }
    if (!strcmp(cmd, "list"))
        return cmd_list();
    if (!strcmp(cmd, "reset")) {
        if ((err = vcamctl_reset()) != 0)
            return fail("reset", err);
        printf("virtual camera reset: camera 0 attached with defaults\n");
        return 0;
    }
    if (!strcmp(cmd, "pacing")) {
        if (!on_off(argc > 2 ? argv[2] : NULL, "on", "off", &flag))
            return usage_error("pacing takes on or off");
        if ((err = vcamctl_pacing(flag)) != 0)
            return fail("pacing", err);
        printf("pacing %s\n", flag ? "on" : "off");
        return 0;
    }

    /* The remaining commands name a camera. */
    if (strcmp(cmd, "attach") && strcmp(cmd, "detach") && strcmp(cmd, "trigger") &&
        strcmp(cmd, "fault") && strcmp(cmd, "scene") && strcmp(cmd, "noise") &&
        strcmp(cmd, "regs") && strcmp(cmd, "rom") && strcmp(cmd, "stats"))
        return usage_error("unknown command");
    if (argc < 3 || !parse_camera(argv[2], &n))
        return usage_error("camera number must be 0-31");

    if (!strcmp(cmd, "attach")) {
        int mono = 0, i;
        unsigned long chip = 0x1313;
        for (i = 3; i < argc; i++) {
            if (!strcmp(argv[i], "--mono"))
                mono = 1;
            else if (!strcmp(argv[i], "--chip") && i + 1 < argc && parse_num(argv[i + 1], 1, 0xFFFF, &chip))
                i++;
            else
                return usage_error("attach takes --mono and --chip 0xNNNN");
        }
        if ((err = vcamctl_attach(n, mono, (unsigned)chip)) != 0)
            return fail("attach", err);
        printf("camera %d attached (%s, chip 0x%04lX) as \\\\.\\QlvnQKZ51RVN-%c\n", n,
               mono ? "mono" : "colour", chip, vcamraw_suffix(n));
        return 0;
    }
    if (!strcmp(cmd, "detach")) {
        if ((err = vcamctl_detach(n)) != 0)
            return fail("detach", err);
        printf("camera %d detached\n", n);
        return 0;
    }
    if (!strcmp(cmd, "trigger")) {
        if (argc > 3 && !parse_num(argv[3], 1, 1000000, &count))
            return usage_error("trigger COUNT must be 1-1000000");
        if ((err = vcamctl_trigger(n, (unsigned)count)) != 0)
            return fail("trigger", err);
        printf("camera %d: %lu trigger(s) fired\n", n, count);
        return 0;
    }
    if (!strcmp(cmd, "fault")) {
        int kind = argc > 3 ? vcamctl_fault_kind(argv[3]) : -1;
        if (kind < 0)
            return usage_error("fault KIND is short-read, fail-read, stall, fail-command, slow-frame or clear");
        if (argc > 4 && !parse_num(argv[4], 0, 0xFFFFFFFEul, &count))
            return usage_error("fault COUNT must be a number (0 = until cleared)");
        if ((err = vcamctl_fault(n, kind, (unsigned)count)) != 0)
            return fail("fault", err);
        if (kind == VCAM_FAULT_CLEAR)
            printf("camera %d: faults cleared\n", n);
        else if (kind == VCAM_FAULT_STALL)
            printf("camera %d: stalled until cleared\n", n);
        else if (count == 0)
            printf("camera %d: %s until cleared\n", n, argv[3]);
        else
            printf("camera %d: next %lu %s\n", n, count, argv[3]);
        return 0;
    }
    if (!strcmp(cmd, "scene")) {
        if (!on_off(argc > 3 ? argv[3] : NULL, "moving", "static", &flag))
            return usage_error("scene takes moving or static");
        if ((err = vcamctl_scene(n, flag)) != 0)
            return fail("scene", err);
        printf("camera %d: scene %s\n", n, flag ? "moving" : "static");
        return 0;
    }
    if (!strcmp(cmd, "noise")) {
        if (!on_off(argc > 3 ? argv[3] : NULL, "on", "off", &flag))
            return usage_error("noise takes on or off");
        if ((err = vcamctl_noise(n, flag)) != 0)
            return fail("noise", err);
        printf("camera %d: noise %s\n", n, flag ? "on" : "off");
        return 0;
    }
    if (!strcmp(cmd, "regs"))
        return cmd_regs(n);
    if (!strcmp(cmd, "rom"))
        return cmd_rom(n, argc - 3, argv + 3);
    return cmd_stats(n);
}
