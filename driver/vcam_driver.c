/* The virtual camera: a WDM driver that plays up to 32 cameras and an always-present control
 * device.
 *
 * Threads: Wine dispatches every request of the driver host on one thread, so dispatch routines
 * never wait. Frame reads are queued and completed by the worker thread at the sensor's frame
 * timing, on a trigger, or at the transfer time-out. One spin lock guards every camera's state;
 * frames are rendered outside it from a snapshot of the sensor.
 *
 * Unplugging against a frame in flight: the worker marks the read it renders as the camera's
 * read in flight. A detach marks the camera as going away and waits (briefly) for that read to
 * be completed before it deletes the device; the worker, seeing the mark when it comes back to
 * complete the read, fails it as unplugged instead. The frame cache belongs to the worker alone:
 * others only ask for it to be dropped. */
#include <ntddk.h>

#include "vcam_control.h"
#include "vcam_sensor.h"

#define VCAM_TAG 0x6D616356u /* "Vcam" */
#define UNTIL_CLEARED 0xFFFFFFFFu
#define CACHE_BYTES (VCAM_MAX_FRAME_BYTES + 4096u)

typedef struct DEVEXT {
    int camera; /* -1 on the control device */
} DEVEXT;

/* Per-handle state: the replies waiting on pipe 1. */
typedef struct HANDLE_CTX {
    LIST_ENTRY link;
    PFILE_OBJECT file;
    int stage; /* 2: status packet next, 1: reply next, 0: empty packets */
    uint8_t status[VCAM_PACKET];
    uint8_t reply[VCAM_PACKET];
} HANDLE_CTX;

typedef struct CAMERA {
    int attached;
    PDEVICE_OBJECT device;
    vcam_sensor sensor;
    LIST_ENTRY reads;   /* pending frame reads */
    LIST_ENTRY handles; /* HANDLE_CTX */
    uint32_t timeout_ms;
    LONGLONG next_frame; /* 100 ns units: end of the frame the sensor is reading out */
    uint32_t frame_seq;
    uint32_t triggers;
    uint32_t fault_short, fault_fail, fault_command, fault_stall, fault_slow;
    vcam_camera_info info; /* counters; the rest is filled in on request */
    PIRP in_flight;        /* the read the worker renders now, off the list */
    int going;             /* a detach is under way: no frame goes out any more */
    KEVENT idle;           /* set while no read is in flight */
    int cache_stale;       /* set by others, taken by the worker: drop the cached frame */
    /* Worker-only: the last rendered frame, reused while nothing that shapes it changed. */
    uint8_t* cache;
    int cache_valid;
    uint32_t cache_frame, cache_len;
    vcam_sensor cache_sensor;
} CAMERA;

static PDRIVER_OBJECT g_driver;
static PDEVICE_OBJECT g_control;
static CAMERA g_cams[VCAM_MAX_CAMERAS];
static KSPIN_LOCK g_lock;
static KEVENT g_wake;
static PVOID g_worker;
static volatile LONG g_stop;
static uint32_t g_pacing = 1;
static uint32_t g_control_handles;
static uint32_t g_frames_withheld;
static uint32_t g_detach_waits;
/* How long a detach waits for a frame in flight before it gives up with "busy". */
#define DETACH_WAIT_MS 5000

/* ---- helpers ---------------------------------------------------------------------------- */

static LONGLONG now_100ns(void)
{
    LARGE_INTEGER freq, t = KeQueryPerformanceCounter(&freq);
    LONGLONG f = freq.QuadPart ? freq.QuadPart : 10000000;
    return t.QuadPart / f * 10000000 + t.QuadPart % f * 10000000 / f;
}

static void* irp_data(PIRP irp)
{
    PMDL mdl = irp->MdlAddress;
    if (!mdl)
        return NULL;
    if ((mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) &&
        mdl->MappedSystemVa)
        return mdl->MappedSystemVa;
    return MmGetMdlVirtualAddress(mdl);
}

static NTSTATUS finish(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static CAMERA* camera_of(PDEVICE_OBJECT device)
{
    int n = ((DEVEXT*)device->DeviceExtension)->camera;
    return n >= 0 && n < VCAM_MAX_CAMERAS ? &g_cams[n] : NULL;
}

static void wake_worker(void)
{
    KeSetEvent(&g_wake, IO_NO_INCREMENT, FALSE);
}

static void build_name(WCHAR* out, const WCHAR* prefix, int number)
{
    int i = 0, j;
    for (j = 0; prefix[j]; j++)
        out[i++] = prefix[j];
    if (number >= 0) {
        out[i++] = L'-';
        out[i++] = (WCHAR)qlv_device_suffix((uint32_t)number);
    }
    out[i] = 0;
}

/* Takes a queued read off its list unless its cancel routine already owns it. Lock held. */
static int take_read(PIRP irp)
{
    if (IoSetCancelRoutine(irp, NULL) == NULL)
        return 0;
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    return 1;
}

static void complete_list(LIST_ENTRY* done)
{
    while (!IsListEmpty(done)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(done), IRP, Tail.Overlay.ListEntry);
        if (!NT_SUCCESS(irp->IoStatus.Status))
            irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

/* Moves every queued read of a camera (or of one file object) to done. Lock held. */
static void drain_reads(CAMERA* cam, PFILE_OBJECT file, NTSTATUS status, LIST_ENTRY* done)
{
    LIST_ENTRY* e = cam->reads.Flink;
    while (e != &cam->reads) {
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        e = e->Flink;
        if (file && IoGetCurrentIrpStackLocation(irp)->FileObject != file)
            continue;
        if (!take_read(irp))
            continue;
        cam->info.reads_pending--;
        if (status == STATUS_CANCELLED)
            cam->info.reads_cancelled++;
        else
            cam->info.reads_disconnected++;
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = 0;
        InsertTailList(done, &irp->Tail.Overlay.ListEntry);
    }
}

static void clear_counters(CAMERA* cam)
{
    uint32_t handles = cam->info.handles_open, pending = cam->info.reads_pending;
    RtlZeroMemory(&cam->info, sizeof cam->info);
    cam->info.handles_open = handles;
    cam->info.reads_pending = pending;
}

static LONGLONG period_100ns(const CAMERA* cam)
{
    return (LONGLONG)vcam_sensor_frame_period_us(&cam->sensor) * 10;
}

/* Brings the free-running frame schedule up to now. Lock held. */
static void advance_schedule(CAMERA* cam, LONGLONG now)
{
    LONGLONG period = period_100ns(cam);
    if (cam->next_frame <= now) {
        LONGLONG missed = (now - cam->next_frame) / period + 1;
        cam->next_frame += missed * period;
        cam->frame_seq += (uint32_t)missed;
        cam->info.sensor_frames += (uint32_t)missed;
    }
}

/* Sets a camera to its defaults. Lock held. */
static void camera_defaults(CAMERA* cam, int number, int mono, uint16_t chip)
{
    vcam_sensor_init(&cam->sensor, number, mono, chip);
    cam->timeout_ms = VCAM_DEFAULT_TIMEOUT_MS;
    cam->triggers = 0;
    cam->fault_short = cam->fault_fail = cam->fault_command = cam->fault_stall = 0;
    cam->fault_slow = 0;
    cam->frame_seq = 0;
    cam->next_frame = now_100ns() + period_100ns(cam);
    cam->cache_stale = 1;
    clear_counters(cam);
}

static NTSTATUS attach_camera(int number, int mono, uint16_t chip)
{
    WCHAR dev_name[48], link_name[48];
    UNICODE_STRING dev_u, link_u;
    PDEVICE_OBJECT device;
    CAMERA* cam = &g_cams[number];
    KIRQL irql;
    NTSTATUS status;

    if (cam->attached)
        return STATUS_OBJECT_NAME_COLLISION;
    build_name(dev_name, L"\\Device\\" QLV_WIDE(QLV_DRIVER_BASE_NAME), number);
    build_name(link_name, L"\\DosDevices\\" QLV_WIDE(QLV_DRIVER_BASE_NAME), number);
    RtlInitUnicodeString(&dev_u, dev_name);
    RtlInitUnicodeString(&link_u, link_name);
    status = IoCreateDevice(g_driver, sizeof(DEVEXT), &dev_u, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &device);
    if (!NT_SUCCESS(status))
        return status;
    ((DEVEXT*)device->DeviceExtension)->camera = number;
    status = IoCreateSymbolicLink(&link_u, &dev_u);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;

    KeAcquireSpinLock(&g_lock, &irql);
    InitializeListHead(&cam->reads);
    InitializeListHead(&cam->handles);
    cam->in_flight = NULL;
    cam->going = 0;
    cam->info.handles_open = 0;
    cam->info.reads_pending = 0;
    camera_defaults(cam, number, mono, chip ? chip : VCAM_DEFAULT_CHIP);
    cam->device = device;
    cam->attached = 1;
    KeReleaseSpinLock(&g_lock, irql);
    return STATUS_SUCCESS;
}

/* Unplugs a camera: its reads fail, its handles are forgotten, its name disappears. */
static NTSTATUS detach_camera(int number)
{
    WCHAR link_name[48];
    UNICODE_STRING link_u;
    CAMERA* cam = &g_cams[number];
    LIST_ENTRY done, handles;
    PDEVICE_OBJECT device;
    KIRQL irql;

    if (!cam->attached)
        return STATUS_DEVICE_NOT_CONNECTED;
    InitializeListHead(&done);
    InitializeListHead(&handles);
    KeAcquireSpinLock(&g_lock, &irql);
    cam->going = 1;
    if (cam->in_flight) {
        /* The worker is rendering a read of this camera: let it finish (it fails the read),
         * then delete the device. The worker completes requests without this thread. */
        LARGE_INTEGER timeout;
        timeout.QuadPart = -(LONGLONG)DETACH_WAIT_MS * 10000;
        g_detach_waits++;
        KeReleaseSpinLock(&g_lock, irql);
        KeWaitForSingleObject(&cam->idle, Executive, KernelMode, FALSE, &timeout);
        KeAcquireSpinLock(&g_lock, &irql);
        if (cam->in_flight) {
            cam->going = 0;
            KeReleaseSpinLock(&g_lock, irql);
            return STATUS_DEVICE_BUSY;
        }
    }
    cam->attached = 0;
    cam->going = 0;
    drain_reads(cam, NULL, STATUS_DEVICE_NOT_CONNECTED, &done);
    while (!IsListEmpty(&cam->handles))
        InsertTailList(&handles, RemoveHeadList(&cam->handles));
    cam->info.handles_open = 0;
    device = cam->device;
    cam->device = NULL;
    KeReleaseSpinLock(&g_lock, irql);

    complete_list(&done);
    while (!IsListEmpty(&handles))
        ExFreePoolWithTag(CONTAINING_RECORD(RemoveHeadList(&handles), HANDLE_CTX, link), VCAM_TAG);
    build_name(link_name, L"\\DosDevices\\" QLV_WIDE(QLV_DRIVER_BASE_NAME), number);
    RtlInitUnicodeString(&link_u, link_name);
    IoDeleteSymbolicLink(&link_u);
    IoDeleteDevice(device);
    return STATUS_SUCCESS;
}

/* ---- the worker ----------------------------------------------------------------------- */

/* Fills a read's buffer with a frame from the cache, rendering it when needed. */
static void deliver(CAMERA* cam, const vcam_sensor* snap, uint32_t frame, uint8_t* out,
                    uint32_t count, int stale)
{
    uint32_t len = count < CACHE_BYTES ? count : CACHE_BYTES;
    if (stale)
        cam->cache_valid = 0;
    if (!cam->cache)
        cam->cache = ExAllocatePoolWithTag(NonPagedPool, CACHE_BYTES, VCAM_TAG);
    if (!cam->cache) {
        vcam_sensor_render(snap, frame, out, count);
        return;
    }
    if (!cam->cache_valid || cam->cache_len != len ||
        RtlCompareMemory(&cam->cache_sensor, snap, sizeof *snap) != sizeof *snap) {
        vcam_sensor_render(snap, frame, cam->cache, len);
        cam->cache_sensor = *snap;
        cam->cache_len = len;
        cam->cache_valid = 1;
    } else if (cam->cache_frame != frame) {
        /* Same state, next frame: without noise only the moving part changes. */
        if (snap->noise)
            vcam_sensor_render(snap, frame, cam->cache, len);
        else
            vcam_sensor_render_rows(snap, frame, cam->cache, len, VCAM_MOVING_TOP,
                                    VCAM_MOVING_BOTTOM);
    }
    cam->cache_frame = frame;
    RtlCopyMemory(out, cam->cache, len);
    if (count > len)
        RtlZeroMemory(out + len, count - len);
}

static vcam_sensor g_snap; /* worker-only */

/* Handles time-outs and at most one frame of one camera. Returns 1 if a frame went out. */
static int service_camera(CAMERA* cam, LONGLONG now, LONGLONG* next_wake)
{
    LIST_ENTRY done, *e;
    PIRP frame_irp = NULL;
    uint32_t frame = 0, count = 0;
    int fail = 0, shorten = 0, stale = 0, slow = 0, gone;
    KIRQL irql;

    InitializeListHead(&done);
    KeAcquireSpinLock(&g_lock, &irql);
    if (!cam->attached) {
        KeReleaseSpinLock(&g_lock, irql);
        return 0;
    }
    for (e = cam->reads.Flink; e != &cam->reads;) {
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        LONGLONG deadline;
        RtlCopyMemory(&deadline, irp->Tail.Overlay.DriverContext, sizeof deadline);
        e = e->Flink;
        if (deadline && deadline <= now) {
            if (take_read(irp)) {
                cam->info.reads_pending--;
                cam->info.reads_timed_out++;
                irp->IoStatus.Status = STATUS_IO_TIMEOUT;
                InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
            }
        } else if (deadline && deadline < *next_wake) {
            *next_wake = deadline;
        }
    }

    if (!IsListEmpty(&cam->reads) && !cam->fault_stall && !cam->going) {
        int ready;
        if (cam->sensor.ports[VCAM_P_TRIGGER] == 1)
            ready = cam->triggers > 0;
        else if (g_pacing) {
            ready = now >= cam->next_frame;
            if (!ready && cam->next_frame < *next_wake)
                *next_wake = cam->next_frame;
        } else
            ready = 1;
        for (e = cam->reads.Flink; ready && e != &cam->reads; e = e->Flink) {
            PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
            if (take_read(irp)) {
                frame_irp = irp;
                break;
            }
        }
    }
    if (frame_irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(frame_irp);
        uint32_t asked = stack->Parameters.DeviceIoControl.OutputBufferLength;
        cam->info.reads_pending--;
        cam->in_flight = frame_irp;
        KeClearEvent(&cam->idle);
        stale = cam->cache_stale;
        cam->cache_stale = 0;
        if (cam->fault_slow) {
            slow = 1;
            if (cam->fault_slow != UNTIL_CLEARED)
                cam->fault_slow--;
        }
        if (cam->sensor.ports[VCAM_P_TRIGGER] == 1) {
            cam->triggers--;
            cam->frame_seq++;
            cam->info.sensor_frames++;
        } else if (g_pacing) {
            advance_schedule(cam, now);
        } else {
            cam->frame_seq++;
            cam->info.sensor_frames++;
        }
        frame = cam->sensor.moving ? cam->frame_seq : 0;
        /* A read moves exactly what it asks for: the image, then padding. */
        count = asked;
        if (cam->fault_fail) {
            fail = 1;
            if (cam->fault_fail != UNTIL_CLEARED)
                cam->fault_fail--;
            cam->info.reads_failed++;
        } else {
            if (cam->fault_short) {
                shorten = 1;
                if (cam->fault_short != UNTIL_CLEARED)
                    cam->fault_short--;
                cam->info.reads_short++;
            }
            g_snap = cam->sensor;
        }
    }
    KeReleaseSpinLock(&g_lock, irql);

    complete_list(&done);
    if (!frame_irp)
        return 0;
    if (!fail) {
        uint8_t* out = irp_data(frame_irp);
        if (out && count)
            deliver(cam, &g_snap, frame, out, count, stale);
    }
    if (slow) {
        LARGE_INTEGER hold;
        hold.QuadPart = -1000 * 10000LL;
        KeDelayExecutionThread(KernelMode, FALSE, &hold);
    }
    /* The camera may have been unplugged while the frame was rendered. */
    KeAcquireSpinLock(&g_lock, &irql);
    gone = cam->going || !cam->attached;
    if (gone) {
        cam->info.reads_disconnected++;
        if (!fail)
            g_frames_withheld++;
    } else if (!fail) {
        cam->info.frames_delivered++;
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (gone)
        finish(frame_irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    else if (fail)
        finish(frame_irp, STATUS_IO_DEVICE_ERROR, 0);
    else
        finish(frame_irp, STATUS_SUCCESS, shorten ? count / 2 : count);
    KeAcquireSpinLock(&g_lock, &irql);
    cam->in_flight = NULL;
    KeSetEvent(&cam->idle, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&g_lock, irql);
    return 1;
}

static VOID NTAPI worker(PVOID unused)
{
    LONGLONG wait = 10000000;
    (void)unused;
    while (!g_stop) {
        LARGE_INTEGER timeout;
        LONGLONG now, next_wake = 0;
        int n, busy = 1;
        timeout.QuadPart = -(wait > 0 ? wait : 1);
        KeWaitForSingleObject(&g_wake, Executive, KernelMode, FALSE, &timeout);
        while (busy && !g_stop) {
            busy = 0;
            now = now_100ns();
            next_wake = now + 10000000;
            for (n = 0; n < VCAM_MAX_CAMERAS; n++)
                busy |= service_camera(&g_cams[n], now, &next_wake);
        }
        wait = next_wake - now_100ns();
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- camera requests ------------------------------------------------------------------ */

static HANDLE_CTX* find_handle(CAMERA* cam, PFILE_OBJECT file)
{
    LIST_ENTRY* e;
    for (e = cam->handles.Flink; e != &cam->handles; e = e->Flink) {
        HANDLE_CTX* h = CONTAINING_RECORD(e, HANDLE_CTX, link);
        if (h->file == file)
            return h;
    }
    return NULL;
}

static VOID NTAPI cancel_read(PDEVICE_OBJECT device, PIRP irp)
{
    CAMERA* cam = camera_of(device);
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g_lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    if (cam) {
        cam->info.reads_pending--;
        cam->info.reads_cancelled++;
    }
    KeReleaseSpinLock(&g_lock, irql);
    finish(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS queue_read(CAMERA* cam, PIRP irp)
{
    KIRQL irql;
    LONGLONG now = now_100ns();
    LONGLONG deadline;

    IoMarkIrpPending(irp);
    KeAcquireSpinLock(&g_lock, &irql);
    /* Time-out 0 waits without limit. */
    deadline = cam->timeout_ms ? now + (LONGLONG)cam->timeout_ms * 10000 : 0;
    RtlCopyMemory(irp->Tail.Overlay.DriverContext, &deadline, sizeof deadline);
    IoSetCancelRoutine(irp, cancel_read);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
        KeReleaseSpinLock(&g_lock, irql);
        finish(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    if (g_pacing && cam->sensor.ports[VCAM_P_TRIGGER] != 1)
        advance_schedule(cam, now);
    InsertTailList(&cam->reads, &irp->Tail.Overlay.ListEntry);
    cam->info.reads_pending++;
    KeReleaseSpinLock(&g_lock, irql);
    wake_worker();
    return STATUS_PENDING;
}

static NTSTATUS camera_ioctl(CAMERA* cam, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint32_t* in = irp->AssociatedIrp.SystemBuffer;
    HANDLE_CTX* h;
    KIRQL irql;
    uint32_t pipe;
    int slot;

    switch (code) {
    case VCAM_IOCTL_PIPE_OUT: slot = VCAM_CODE_PIPE_OUT; break;
    case VCAM_IOCTL_PIPE_IN: slot = VCAM_CODE_PIPE_IN; break;
    case VCAM_IOCTL_PIPE_OUT_LARGE: slot = VCAM_CODE_PIPE_OUT_LARGE; break;
    case VCAM_IOCTL_PIPE_IN_LARGE: slot = VCAM_CODE_PIPE_IN_LARGE; break;
    case VCAM_IOCTL_SET_TIMEOUT: slot = VCAM_CODE_SET_TIMEOUT; break;
    default: slot = VCAM_CODE_OTHER; break;
    }
    cam->info.requests[slot]++;

    if (slot == VCAM_CODE_OTHER)
        return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!in || in_len < 4)
        return finish(irp, STATUS_INVALID_PARAMETER, 0);
    if (slot == VCAM_CODE_SET_TIMEOUT) {
        if (in_len < 8)
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
        cam->timeout_ms = in[1];
        return finish(irp, STATUS_SUCCESS, 0);
    }

    pipe = in[0];
    if (pipe == 2)
        return queue_read(cam, irp);

    h = find_handle(cam, stack->FileObject);
    if (pipe == 0) {
        uint8_t reply[VCAM_PACKET], packet[VCAM_PACKET];
        uint8_t* data = irp_data(irp);
        uint32_t len = data ? out_len : 0;
        uint8_t trigger_before = cam->sensor.ports[VCAM_P_TRIGGER];
        int answers;

        RtlZeroMemory(packet, sizeof packet);
        if (len)
            RtlCopyMemory(packet, data, len < VCAM_PACKET ? len : VCAM_PACKET);
        KeAcquireSpinLock(&g_lock, &irql);
        cam->info.commands++;
        if (cam->fault_command) {
            if (cam->fault_command != UNTIL_CLEARED)
                cam->fault_command--;
            cam->info.commands_failed++;
            KeReleaseSpinLock(&g_lock, irql);
            return finish(irp, STATUS_IO_DEVICE_ERROR, 0);
        }
        answers = vcam_sensor_command(&cam->sensor, packet, len, reply);
        if (trigger_before == 1 && cam->sensor.ports[VCAM_P_TRIGGER] != 1)
            cam->triggers = 0;
        KeReleaseSpinLock(&g_lock, irql);
        if (h) {
            h->stage = answers ? 2 : 0;
            RtlZeroMemory(h->status, sizeof h->status);
            h->status[0] = packet[0];
            h->status[1] = 1; /* done */
            RtlCopyMemory(h->reply, reply, sizeof reply);
        }
        if (!IsListEmpty(&cam->reads))
            wake_worker();
        return finish(irp, STATUS_SUCCESS, out_len);
    }
    if (pipe == 1) {
        uint8_t* data = irp_data(irp);
        if (data && out_len) {
            const uint8_t* src = NULL;
            if (h && h->stage == 2)
                src = h->status;
            else if (h && h->stage == 1)
                src = h->reply;
            RtlZeroMemory(data, out_len);
            if (src)
                RtlCopyMemory(data, src, out_len < VCAM_PACKET ? out_len : VCAM_PACKET);
        }
        if (h && h->stage)
            h->stage--;
        return finish(irp, STATUS_SUCCESS, out_len);
    }
    return finish(irp, STATUS_INVALID_PARAMETER, 0);
}

/* ---- control requests ----------------------------------------------------------------- */

static void fill_info(const CAMERA* cam, vcam_camera_info* out)
{
    vcam_window w;
    *out = cam->info;
    out->attached = (uint32_t)cam->attached;
    out->mono = cam->sensor.mono;
    out->chip = cam->sensor.chip;
    out->moving = cam->sensor.moving;
    out->noise = cam->sensor.noise;
    out->timeout_ms = cam->timeout_ms;
    out->trigger_mode = cam->sensor.ports[VCAM_P_TRIGGER];
    out->triggers_pending = cam->triggers;
    out->fault_short_read = cam->fault_short;
    out->fault_fail_read = cam->fault_fail;
    out->fault_fail_command = cam->fault_command;
    out->fault_stall = cam->fault_stall;
    out->fault_slow_frame = cam->fault_slow;
    out->frame_period_us = vcam_sensor_frame_period_us(&cam->sensor);
    out->transfer_bytes = vcam_sensor_transfer_bytes(&cam->sensor);
    vcam_sensor_window(&cam->sensor, &w);
    out->width = (uint32_t)w.out_width;
    out->height = (uint32_t)w.out_height;
    out->wide = (uint32_t)vcam_sensor_wide(&cam->sensor);
}

static NTSTATUS control_ioctl(PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buf = irp->AssociatedIrp.SystemBuffer;
    vcam_request req;
    CAMERA* cam;
    KIRQL irql;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR written = 0;
    int n;

    if (stack->Parameters.DeviceIoControl.IoControlCode != VCAM_IOCTL_CONTROL)
        return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!buf || in_len < sizeof req)
        return finish(irp, STATUS_INVALID_PARAMETER, 0);
    RtlCopyMemory(&req, buf, sizeof req);
    if (req.op != VCAM_OP_DRIVER_INFO && req.op != VCAM_OP_RESET && req.op != VCAM_OP_PACING &&
        req.camera >= VCAM_MAX_CAMERAS)
        return finish(irp, STATUS_INVALID_PARAMETER, 0);
    cam = req.camera < VCAM_MAX_CAMERAS ? &g_cams[req.camera] : NULL;

    switch (req.op) {
    case VCAM_OP_DRIVER_INFO: {
        vcam_driver_info info;
        if (out_len < sizeof info)
            return finish(irp, STATUS_BUFFER_TOO_SMALL, 0);
        RtlZeroMemory(&info, sizeof info);
        KeAcquireSpinLock(&g_lock, &irql);
        info.version = VCAM_VERSION;
        info.pacing = g_pacing;
        info.control_handles = g_control_handles;
        info.frames_withheld = g_frames_withheld;
        info.detach_waits = g_detach_waits;
        for (n = 0; n < VCAM_MAX_CAMERAS; n++) {
            if (!g_cams[n].attached)
                continue;
            info.attached_mask |= 1u << n;
            info.camera_handles += g_cams[n].info.handles_open;
            info.pending_reads += g_cams[n].info.reads_pending;
        }
        KeReleaseSpinLock(&g_lock, irql);
        RtlCopyMemory(buf, &info, sizeof info);
        written = sizeof info;
        break;
    }
    case VCAM_OP_RESET:
        for (n = 1; n < VCAM_MAX_CAMERAS; n++)
            if (g_cams[n].attached)
                detach_camera(n);
        if (!g_cams[0].attached) {
            status = attach_camera(0, 0, VCAM_DEFAULT_CHIP);
        } else {
            KeAcquireSpinLock(&g_lock, &irql);
            camera_defaults(&g_cams[0], 0, 0, VCAM_DEFAULT_CHIP);
            KeReleaseSpinLock(&g_lock, irql);
        }
        g_pacing = 1;
        break;
    case VCAM_OP_ATTACH:
        if (req.arg1 > 0xFFFF)
            return finish(irp, STATUS_INVALID_PARAMETER, 0);
        status = attach_camera((int)req.camera, req.arg0 ? 1 : 0, (uint16_t)req.arg1);
        break;
    case VCAM_OP_DETACH:
        status = detach_camera((int)req.camera);
        break;
    case VCAM_OP_PACING:
        g_pacing = req.arg0 ? 1 : 0;
        break;
    default:
        if (!cam->attached && req.op != VCAM_OP_CAMERA_INFO) {
            status = STATUS_DEVICE_NOT_CONNECTED;
            break;
        }
        KeAcquireSpinLock(&g_lock, &irql);
        switch (req.op) {
        case VCAM_OP_TRIGGER:
            if (cam->sensor.ports[VCAM_P_TRIGGER] != 1) {
                status = STATUS_INVALID_DEVICE_STATE;
            } else {
                /* The count saturates: a wrap would silently drop fired triggers. */
                uint32_t fired = req.arg0 ? req.arg0 : 1;
                cam->triggers = fired > 0xFFFFFFFFu - cam->triggers ? 0xFFFFFFFFu
                                                                   : cam->triggers + fired;
            }
            break;
        case VCAM_OP_FAULT: {
            uint32_t count = req.arg1 ? req.arg1 : UNTIL_CLEARED;
            switch (req.arg0) {
            case VCAM_FAULT_CLEAR:
                cam->fault_short = cam->fault_fail = cam->fault_command = cam->fault_stall = 0;
                cam->fault_slow = 0;
                break;
            case VCAM_FAULT_SHORT_READ: cam->fault_short = count; break;
            case VCAM_FAULT_FAIL_READ: cam->fault_fail = count; break;
            case VCAM_FAULT_STALL: cam->fault_stall = 1; break;
            case VCAM_FAULT_FAIL_COMMAND: cam->fault_command = count; break;
            case VCAM_FAULT_SLOW_FRAME: cam->fault_slow = count; break;
            default: status = STATUS_INVALID_PARAMETER; break;
            }
            break;
        }
        case VCAM_OP_SCENE:
            cam->sensor.moving = req.arg0 ? 1 : 0;
            break;
        case VCAM_OP_NOISE:
            cam->sensor.noise = req.arg0 ? 1 : 0;
            break;
        case VCAM_OP_CAMERA_INFO:
            if (out_len < sizeof(vcam_camera_info)) {
                status = STATUS_BUFFER_TOO_SMALL;
                break;
            }
            fill_info(cam, (vcam_camera_info*)buf);
            written = sizeof(vcam_camera_info);
            break;
        case VCAM_OP_REGS: {
            vcam_regs* r = buf;
            uint32_t i, first, shown;
            if (out_len < sizeof *r) {
                status = STATUS_BUFFER_TOO_SMALL;
                break;
            }
            RtlZeroMemory(r, sizeof *r);
            for (i = 0; i < 256; i++)
                r->regs[i] = vcam_sensor_read_reg(&cam->sensor, (uint8_t)i);
            RtlCopyMemory(r->ports, cam->sensor.ports, sizeof r->ports);
            r->transfer_pixels = cam->sensor.transfer_pixels;
            r->wide_enable = cam->sensor.wide_enable;
            r->log_count = cam->sensor.log_count;
            shown = r->log_count < VCAM_LOG_ENTRIES ? r->log_count : VCAM_LOG_ENTRIES;
            first = r->log_count - shown;
            for (i = 0; i < shown; i++) {
                const vcam_log_entry* e = &cam->sensor.log[(first + i) % VCAM_LOG_SIZE];
                r->log[i].seq = e->seq;
                r->log[i].reg = e->reg;
                r->log[i].value = e->value;
            }
            written = sizeof *r;
            break;
        }
        case VCAM_OP_ROM_READ:
            if (out_len < VCAM_ROM_SIZE) {
                status = STATUS_BUFFER_TOO_SMALL;
                break;
            }
            RtlCopyMemory(buf, cam->sensor.rom, VCAM_ROM_SIZE);
            written = VCAM_ROM_SIZE;
            break;
        case VCAM_OP_ROM_WRITE:
            if (req.arg1 > 0xFF || !vcam_sensor_write_rom(&cam->sensor, req.arg0, (uint8_t)req.arg1))
                status = STATUS_INVALID_PARAMETER;
            break;
        default:
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        KeReleaseSpinLock(&g_lock, irql);
        break;
    }
    wake_worker();
    return finish(irp, status, written);
}

/* ---- dispatch ------------------------------------------------------------------------- */

static NTSTATUS NTAPI dispatch_create(PDEVICE_OBJECT device, PIRP irp)
{
    CAMERA* cam = camera_of(device);
    HANDLE_CTX* h;
    KIRQL irql;

    if (!cam) {
        g_control_handles++;
        return finish(irp, STATUS_SUCCESS, 0);
    }
    h = ExAllocatePoolWithTag(NonPagedPool, sizeof *h, VCAM_TAG);
    if (!h)
        return finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlZeroMemory(h, sizeof *h);
    h->file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    KeAcquireSpinLock(&g_lock, &irql);
    if (!cam->attached) {
        KeReleaseSpinLock(&g_lock, irql);
        ExFreePoolWithTag(h, VCAM_TAG);
        return finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    InsertTailList(&cam->handles, &h->link);
    cam->info.opens++;
    cam->info.handles_open++;
    KeReleaseSpinLock(&g_lock, irql);
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_close(PDEVICE_OBJECT device, PIRP irp)
{
    CAMERA* cam = camera_of(device);
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    HANDLE_CTX* h = NULL;
    LIST_ENTRY done;
    KIRQL irql;

    if (!cam) {
        if (g_control_handles)
            g_control_handles--;
        return finish(irp, STATUS_SUCCESS, 0);
    }
    InitializeListHead(&done);
    KeAcquireSpinLock(&g_lock, &irql);
    if (cam->attached) {
        /* A read still pending on this handle ends with the handle. */
        drain_reads(cam, file, STATUS_CANCELLED, &done);
        h = find_handle(cam, file);
        if (h) {
            RemoveEntryList(&h->link);
            cam->info.closes++;
            cam->info.handles_open--;
        }
    }
    KeReleaseSpinLock(&g_lock, irql);
    complete_list(&done);
    if (h)
        ExFreePoolWithTag(h, VCAM_TAG);
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_cleanup(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_ioctl(PDEVICE_OBJECT device, PIRP irp)
{
    CAMERA* cam = camera_of(device);
    if (!cam)
        return control_ioctl(irp);
    if (!cam->attached)
        return finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    return camera_ioctl(cam, irp);
}

/* ---- load and unload ------------------------------------------------------------------ */

/* Cameras present at start: bit n of the service's Parameters\Cameras value (default 1). */
static uint32_t read_camera_mask(PUNICODE_STRING registry_path)
{
    static const WCHAR suffix[] = L"\\Parameters";
    uint32_t mask = 1;
    USHORT len = registry_path->Length;
    WCHAR* path = ExAllocatePoolWithTag(PagedPool, len + sizeof suffix, VCAM_TAG);
    UNICODE_STRING path_u, value_u;
    OBJECT_ATTRIBUTES attrs;
    HANDLE key;
    struct {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR extra[8];
    } value;
    ULONG got;

    if (!path)
        return mask;
    RtlCopyMemory(path, registry_path->Buffer, len);
    RtlCopyMemory((char*)path + len, suffix, sizeof suffix);
    RtlInitUnicodeString(&path_u, path);
    InitializeObjectAttributes(&attrs, &path_u, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attrs))) {
        RtlInitUnicodeString(&value_u, L"Cameras");
        if (NT_SUCCESS(ZwQueryValueKey(key, &value_u, KeyValuePartialInformation, &value,
                                       sizeof value, &got)) &&
            value.info.Type == REG_DWORD && value.info.DataLength == 4)
            RtlCopyMemory(&mask, value.info.Data, 4);
        ZwClose(key);
    }
    ExFreePoolWithTag(path, VCAM_TAG);
    return mask;
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    WCHAR link_name[48];
    UNICODE_STRING link_u;
    int n;
    (void)driver;

    InterlockedExchange(&g_stop, 1);
    wake_worker();
    if (g_worker) {
        KeWaitForSingleObject(g_worker, Executive, KernelMode, FALSE, NULL);
        ObDereferenceObject(g_worker);
    }
    for (n = 0; n < VCAM_MAX_CAMERAS; n++) {
        if (g_cams[n].attached)
            detach_camera(n);
        if (g_cams[n].cache)
            ExFreePoolWithTag(g_cams[n].cache, VCAM_TAG);
        g_cams[n].cache = NULL;
    }
    build_name(link_name, L"\\DosDevices\\" VCAM_CONTROL_NAME_W, -1);
    RtlInitUnicodeString(&link_u, link_name);
    IoDeleteSymbolicLink(&link_u);
    if (g_control)
        IoDeleteDevice(g_control);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    WCHAR dev_name[48], link_name[48];
    UNICODE_STRING dev_u, link_u;
    HANDLE thread;
    NTSTATUS status;
    uint32_t mask;
    int n;

    g_driver = driver;
    KeInitializeSpinLock(&g_lock);
    KeInitializeEvent(&g_wake, SynchronizationEvent, FALSE);
    for (n = 0; n < VCAM_MAX_CAMERAS; n++)
        KeInitializeEvent(&g_cams[n].idle, NotificationEvent, TRUE);
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_ioctl;
    driver->DriverUnload = driver_unload;

    build_name(dev_name, L"\\Device\\" VCAM_CONTROL_NAME_W, -1);
    build_name(link_name, L"\\DosDevices\\" VCAM_CONTROL_NAME_W, -1);
    RtlInitUnicodeString(&dev_u, dev_name);
    RtlInitUnicodeString(&link_u, link_name);
    status = IoCreateDevice(driver, sizeof(DEVEXT), &dev_u, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &g_control);
    if (!NT_SUCCESS(status))
        return status;
    ((DEVEXT*)g_control->DeviceExtension)->camera = -1;
    status = IoCreateSymbolicLink(&link_u, &dev_u);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_control);
        return status;
    }
    g_control->Flags &= ~DO_DEVICE_INITIALIZING;

    mask = read_camera_mask(registry_path);
    for (n = 0; n < VCAM_MAX_CAMERAS; n++)
        if (mask & (1u << n))
            attach_camera(n, 0, VCAM_DEFAULT_CHIP);

    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, worker, NULL);
    if (!NT_SUCCESS(status)) {
        driver_unload(driver);
        return status;
    }
    ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, NULL, KernelMode, &g_worker, NULL);
    ZwClose(thread);
    return STATUS_SUCCESS;
}
