// Streaming through WaitFrame/GetStreamFrame at the full window against the virtual camera:
// frames per second delivered to the consumer, and the consumer thread's CPU time per frame.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "device/qelvan_device.h"
#include "vcamctl.h"

namespace {

double ThreadCpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) return 0.0;
  auto ms = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

struct Result {
  int frames = 0;
  double seconds = 0;
  double cpuMsPerFrame = 0;
  double modelledFps = 0;
  int lost = 0;
  int delivered = 0;  // frames the camera sent to the transfer thread
  int sensor = 0;     // frames the free-running sensor produced meanwhile
};

bool Run(CQelvanZ51QKRVNSdk& dev, int wide, DWORD durationMs, Result* out) {
  dev.SetWideTransfer(wide);
  if (dev.SetCaptureWindow(0, 0, 752, 480, 0) != 0) return false;
  vcam_camera_info info = {};
  vcamctl_camera_info(0, &info);
  out->modelledFps = info.frame_period_us ? 1e6 / info.frame_period_us : 0;
  std::vector<uint8_t> frame(752 * 480 * (wide ? 2 : 1));
  if (dev.StartStreaming() != 0) return false;
  // Warm-up: the first frame.
  int rc = 2;
  while (rc == 2) rc = dev.WaitFrame();
  if (rc != 3) return false;
  dev.GetStreamFrame(frame.data(), frame.size());

  HANDLE self = GetCurrentThread();
  LARGE_INTEGER freq, start, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  const double cpuStart = ThreadCpuMs(self);
  vcamctl_camera_info(0, &info);
  const uint32_t delivered0 = info.frames_delivered;
  const uint32_t sensor0 = info.sensor_frames;
  int frames = 0;
  for (;;) {
    rc = dev.WaitFrame();
    if (rc == 3) {
      dev.GetStreamFrame(frame.data(), frame.size());
      ++frames;
    } else if (rc != 2) {
      break;
    }
    QueryPerformanceCounter(&now);
    if ((now.QuadPart - start.QuadPart) * 1000 / freq.QuadPart >= durationMs) break;
  }
  const double cpu = ThreadCpuMs(self) - cpuStart;
  dev.StopStreaming();
  vcamctl_camera_info(0, &info);
  out->frames = frames;
  out->seconds = static_cast<double>(now.QuadPart - start.QuadPart) / freq.QuadPart;
  out->cpuMsPerFrame = frames ? cpu / frames : 0;
  // Frames the camera delivered that the consumer never took (it always takes the newest).
  out->lost = static_cast<int>(info.frames_delivered - delivered0) - frames;
  out->delivered = static_cast<int>(info.frames_delivered - delivered0);
  out->sensor = static_cast<int>(info.sensor_frames - sensor0);
  return rc == 2 || rc == 3;
}

}  // namespace

int main() {
  if (vcamctl_reset() != 0) {
    fprintf(stderr, "bench_device: the virtual camera does not answer\n");
    return 1;
  }
  vcamctl_scene(0, 1);
  CQelvanZ51QKRVNSdk dev;
  const DWORD ms = 5000;
  struct Case {
    const char* name;
    int wide;
    int paced;
  } cases[] = {{"8-bit", 0, 1}, {"16-bit", 1, 1}, {"8-bit unpaced", 0, 0}, {"16-bit unpaced", 1, 0}};
  int status = 0;
  for (const Case& c : cases) {
    vcamctl_pacing(c.paced);
    Result r;
    if (!Run(dev, c.wide, ms, &r)) {
      printf("device streaming %s: run failed\n", c.name);
      status = 1;
      continue;
    }
    const double fps = r.frames / r.seconds;
    if (c.paced) {
      printf("SUMMARY device streaming 752x480 %s: %.1f fps delivered via WaitFrame/GetStreamFrame "
             "(camera models %.1f fps), consumer CPU %.3f ms/frame\n",
             c.name, fps, r.modelledFps, r.cpuMsPerFrame);
    } else {
      printf("SUMMARY device streaming 752x480 %s: %.1f fps delivered (driver as fast as asked), "
             "consumer CPU %.3f ms/frame\n",
             c.name, fps, r.cpuMsPerFrame);
    }
    printf("  %s: %d frames in %.2f s; the transfer thread read %d of the sensor's %d frames, the "
           "consumer took %d (it skips to the newest)\n",
           c.name, r.frames, r.seconds, r.delivered, r.sensor, r.frames);
    if (c.paced)
      printf("SUMMARY device streaming 752x480 %s: transfer thread read %d of %d sensor frames\n",
             c.name, r.delivered, r.sensor);
  }
  vcamctl_pacing(1);
  return status;
}
