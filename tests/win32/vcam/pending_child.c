/* Opens a camera, starts a frame read that cannot complete, and exits with it pending. */
#include <stdio.h>
#include <stdlib.h>

#include "vcamctl.h"

static HANDLE g_cam;

static DWORD WINAPI reader(void* unused)
{
    static uint8_t buf[361472];
    DWORD moved;
    (void)unused;
    vcamraw_pipe(g_cam, VCAM_IOCTL_PIPE_IN, 2, buf, sizeof buf, &moved);
    return 0;
}

int main(int argc, char** argv)
{
    int camera = argc > 1 ? atoi(argv[1]) : 0;
    vcam_camera_info info;
    DWORD start = GetTickCount();
    g_cam = vcamraw_open(camera);
    if (g_cam == INVALID_HANDLE_VALUE)
        return 2;
    vcamraw_set_timeout(g_cam, 600000);
    CreateThread(NULL, 0, reader, NULL, 0, NULL);
    /* Exit only once the driver holds the read. */
    do {
        Sleep(5);
        if (vcamctl_camera_info(camera, &info) != 0 || GetTickCount() - start > 30000)
            return 3;
    } while (info.reads_pending == 0);
    ExitProcess(0);
}
