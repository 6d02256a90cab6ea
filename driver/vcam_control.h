/* Requests of the virtual camera's control device, shared by the driver and its clients.
 *
 * Every request is one DeviceIoControl with VCAM_IOCTL_CONTROL on the control device: the input
 * is a vcam_request, the output (when the operation has one) the structure named beside it. */
#ifndef VCAM_CONTROL_H
#define VCAM_CONTROL_H

#include <stdint.h>

#define VCAM_CONTROL_NAME "QlvnVCamCtl"
#define VCAM_CONTROL_NAME_W L"QlvnVCamCtl"
#define VCAM_CONTROL_PATH "\\\\.\\QlvnVCamCtl"
#define VCAM_SERVICE_NAME "QlvnVCam"
#define VCAM_MAX_CAMERAS 32
#define VCAM_VERSION 1

/* CTL_CODE(0x22, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define VCAM_IOCTL_CONTROL 0x00222400u

/* The camera device's control codes. */
#define VCAM_IOCTL_PIPE_OUT 0x0022204Eu
#define VCAM_IOCTL_PIPE_IN 0x00222051u
#define VCAM_IOCTL_PIPE_OUT_LARGE 0x002220A6u
#define VCAM_IOCTL_PIPE_IN_LARGE 0x002220A9u
#define VCAM_IOCTL_SET_TIMEOUT 0x002220A0u
#define VCAM_DEFAULT_TIMEOUT_MS 3000u

enum vcam_op {
    VCAM_OP_DRIVER_INFO = 1, /* out: vcam_driver_info */
    VCAM_OP_RESET = 2,       /* camera 0 only, defaults, counters cleared */
    VCAM_OP_ATTACH = 3,      /* camera, arg0 = 1 for monochrome, arg1 = chip version (0: default) */
    VCAM_OP_DETACH = 4,      /* camera */
    VCAM_OP_TRIGGER = 5,     /* camera, arg0 = number of triggers */
    VCAM_OP_FAULT = 6,       /* camera, arg0 = vcam_fault_kind, arg1 = count (0: until cleared) */
    VCAM_OP_SCENE = 7,       /* camera, arg0 = 1 moving, 0 static */
    VCAM_OP_NOISE = 8,       /* camera, arg0 = 1 on */
    VCAM_OP_CAMERA_INFO = 9, /* camera; out: vcam_camera_info (also for detached cameras) */
    VCAM_OP_REGS = 10,       /* camera; out: vcam_regs */
    VCAM_OP_ROM_READ = 11,   /* camera; out: 2048 bytes, addresses 0x1800-0x1FFF */
    VCAM_OP_ROM_WRITE = 12,  /* camera, arg0 = address, arg1 = value */
    VCAM_OP_PACING = 13      /* arg0 = 1: frames at the sensor's rate; 0: as fast as asked */
};

enum vcam_fault_kind {
    VCAM_FAULT_CLEAR = 0,
    VCAM_FAULT_SHORT_READ = 1,   /* frame reads return half the bytes asked */
    VCAM_FAULT_FAIL_READ = 2,    /* frame reads fail with a device error */
    VCAM_FAULT_STALL = 3,        /* no frames at all until cleared */
    VCAM_FAULT_FAIL_COMMAND = 4, /* command packets on pipe 0 fail */
    VCAM_FAULT_SLOW_FRAME = 5    /* frames are held 1 s after rendering (a slow transfer) */
};

typedef struct vcam_request {
    uint32_t op;
    uint32_t camera;
    uint32_t arg0;
    uint32_t arg1;
} vcam_request;

typedef struct vcam_driver_info {
    uint32_t version;
    uint32_t attached_mask; /* bit n: camera n attached */
    uint32_t pacing;
    uint32_t control_handles; /* open handles on the control device */
    uint32_t camera_handles;  /* open handles on all cameras */
    uint32_t pending_reads;   /* frame reads waiting, all cameras */
    /* Frames rendered for a read whose camera was unplugged before the frame could go out: the
     * read failed as unplugged instead (since the driver started). */
    uint32_t frames_withheld;
    /* Detaches that waited for a frame in flight to finish (since the driver started). */
    uint32_t detach_waits;
} vcam_driver_info;

/* Request counters by control code, in this order. */
enum {
    VCAM_CODE_PIPE_OUT,
    VCAM_CODE_PIPE_IN,
    VCAM_CODE_PIPE_OUT_LARGE,
    VCAM_CODE_PIPE_IN_LARGE,
    VCAM_CODE_SET_TIMEOUT,
    VCAM_CODE_OTHER,
    VCAM_CODE_COUNT
};

typedef struct vcam_camera_info {
    uint32_t attached;
    uint32_t mono;
    uint32_t chip;
    uint32_t moving;
    uint32_t noise;
    uint32_t timeout_ms;
    uint32_t trigger_mode;     /* port 11 */
    uint32_t triggers_pending; /* fired triggers not yet used by a read */
    uint32_t fault_short_read; /* remaining counts; 0xFFFFFFFF: until cleared */
    uint32_t fault_fail_read;
    uint32_t fault_fail_command;
    uint32_t fault_stall;
    uint32_t frame_period_us;
    uint32_t transfer_bytes;
    uint32_t width, height;    /* delivered image size */
    uint32_t wide;             /* 1: 16-bit samples */
    /* Counters, cleared by attach and reset. */
    uint32_t frames_delivered;
    uint32_t sensor_frames;    /* frames the free-running sensor produced */
    uint32_t reads_timed_out;
    uint32_t reads_failed;     /* failed by a fault */
    uint32_t reads_short;
    uint32_t reads_cancelled;  /* by close, cancel or process exit */
    uint32_t reads_disconnected;
    uint32_t commands;         /* packets on pipe 0 */
    uint32_t commands_failed;
    uint32_t opens;
    uint32_t closes;
    uint32_t handles_open;     /* now */
    uint32_t reads_pending;    /* now */
    uint32_t requests[VCAM_CODE_COUNT];
    uint32_t fault_slow_frame;
} vcam_camera_info;

#define VCAM_LOG_ENTRIES 64

typedef struct vcam_regs {
    uint16_t regs[256];
    uint8_t ports[16];
    uint32_t transfer_pixels;
    uint32_t wide_enable;
    uint32_t log_count; /* writes since attach; the last min(count, 64) are in log */
    struct {
        uint32_t seq;
        uint8_t reg;
        uint8_t pad;
        uint16_t value;
    } log[VCAM_LOG_ENTRIES]; /* oldest first */
} vcam_regs;

#endif
