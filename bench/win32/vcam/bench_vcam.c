/* Frame throughput of the virtual camera from a raw-protocol client: paced at the sensor's
 * timing, and unpaced for 8-bit and 16-bit full frames. */
#include <stdio.h>
#include <stdlib.h>

#include "vcamctl.h"

static double now_s(void)
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

/* Reads frames for about `seconds` (at least `min_frames`); returns frames per second. */
static double run(HANDLE h, DWORD bytes, double seconds, int min_frames, int* failures)
{
    static unsigned char buf[2 * 361472];
    double start = now_s(), elapsed;
    int frames = 0;
    do {
        DWORD moved = 0;
        if (vcamraw_read_frame(h, buf, bytes, &moved) != 0 || moved != bytes)
            (*failures)++;
        frames++;
        elapsed = now_s() - start;
    } while (elapsed < seconds || frames < min_frames);
    return frames / elapsed;
}

int main(void)
{
    const DWORD full = 361472;
    vcam_camera_info info;
    int failures = 0;
    double paced, fast8, fast16, static8;
    HANDLE h;

    if (vcamctl_reset() != 0) {
        fprintf(stderr, "bench_vcam: the virtual camera driver is not running\n");
        return 1;
    }
    h = vcamraw_open(0);
    if (h == INVALID_HANDLE_VALUE || vcamraw_set_window(h, 0, 0, 752, 480, 0, NULL, NULL) != 0) {
        fprintf(stderr, "bench_vcam: cannot program camera 0\n");
        return 1;
    }
    vcamctl_camera_info(0, &info);

    run(h, full, 0.2, 3, &failures); /* warm-up */
    paced = run(h, full, 3.0, 60, &failures);
    printf("paced, 8-bit full window at 24 MHz: %.2f fps (model %.2f fps)\n", paced,
           1e6 / info.frame_period_us);

    vcamctl_pacing(0);
    fast8 = run(h, full, 3.0, 30, &failures);
    vcamraw_write_port(h, 14, 1);
    fast16 = run(h, 2 * full, 3.0, 30, &failures);
    vcamraw_write_port(h, 14, 0);
    /* A frozen scene is rendered once, so this measures the transport alone. */
    vcamctl_scene(0, 0);
    static8 = run(h, full, 2.0, 30, &failures);
    CloseHandle(h);
    vcamctl_reset();

    printf("unpaced, 8-bit full frames (%lu bytes): %.1f fps, %.1f MB/s\n", (unsigned long)full, fast8,
           fast8 * full / 1e6);
    printf("unpaced, 16-bit full frames (%lu bytes): %.1f fps, %.1f MB/s\n", (unsigned long)(2 * full),
           fast16, fast16 * 2 * full / 1e6);
    printf("unpaced, 8-bit full frames of a static scene: %.1f fps, %.1f MB/s\n", static8,
           static8 * full / 1e6);
    printf("SUMMARY vcam paced full window: %.2f fps (model %.2f)\n", paced, 1e6 / info.frame_period_us);
    printf("SUMMARY vcam unpaced 8-bit: %.1f fps, %.1f MB/s\n", fast8, fast8 * full / 1e6);
    printf("SUMMARY vcam unpaced 16-bit: %.1f fps, %.1f MB/s\n", fast16, fast16 * 2 * full / 1e6);
    if (failures)
        fprintf(stderr, "bench_vcam: %d frame reads failed\n", failures);
    return failures ? 1 : 0;
}
