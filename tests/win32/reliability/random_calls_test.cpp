// Seeded random calls with random arguments over the exports: first from one thread (with a
// spare instance created and released along the way), then from four threads at once on one
// previewing instance. QELVAN_SEED repeats a run; QELVAN_TRACE=1 prints every call before it
// is made. A crash or a hang prints the seed and the call each thread was making.
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "reliability/reliability.h"

namespace {

constexpr int kThreads = 4;

// What each thread is calling now, for the crash and hang reports.
char g_calls[kThreads + 1][160];
uint32_t g_seed = 0;
bool g_trace = false;

void PrintCurrentCalls(const char* why) {
  std::fprintf(stderr, "random calls: %s, seed %u (repeat with QELVAN_SEED=%u)\n", why, g_seed, g_seed);
  for (int t = 0; t <= kThreads; ++t)
    if (g_calls[t][0]) std::fprintf(stderr, "  thread %d: %s\n", t, g_calls[t]);
  std::fflush(stderr);
}

// Prints the report and ends the process: Wine's debugger, started for an unhandled exception,
// can wait forever with no terminal and would hold up the whole soak.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* e) {
  char why[96];
  std::snprintf(why, sizeof why, "exception 0x%08lx at %p", e->ExceptionRecord->ExceptionCode,
                e->ExceptionRecord->ExceptionAddress);
  PrintCurrentCalls(why);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}

struct Rng {
  uint32_t s;
  uint32_t Next() {  // xorshift32
    s ^= s << 13, s ^= s >> 17, s ^= s << 5;
    return s;
  }
  int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }
  bool OneIn(int n) { return Next() % n == 0; }
  // Edge values, small numbers, plausible settings and anything at all.
  int Int() {
    static const int kEdges[] = {0, 1, -1, 2, INT_MIN, INT_MAX, 255, 256, 65535, 65536, 752, 480, 1023, 4096};
    switch (Next() % 8) {
      case 0: return kEdges[Next() % std::size(kEdges)];
      case 1: case 2: return Range(-3, 40);
      case 3: case 4: return Range(-1000, 1000);
      case 5: return Range(0, 800);
      default: return static_cast<int>(Next());
    }
  }
  // A size claimed for a buffer of `real` bytes: never more than it holds.
  int Size(int real) {
    static const int kEdges[] = {0, 1, -1, 2, INT_MIN};
    switch (Next() % 4) {
      case 0: return kEdges[Next() % std::size(kEdges)];
      case 1: return real;
      default: return Range(0, real);
    }
  }
};

// One calling thread's state and scratch memory.
struct Caller {
  int index = 0;
  Rng rng{1};
  QelvanHandle h = 0;        // the instance under test
  QelvanHandle released = 0;  // an instance released before the run
  QelvanHandle spare = 0; // single-thread phase: an extra instance made and released at random
  bool single = false;            // only the single-thread phase makes preview windows and spare instances
  HWND window = nullptr;
  uint8_t* shared = nullptr;        // the frame buffer handed to preview and trigger: lives until all stop
  std::vector<uint8_t> buf = std::vector<uint8_t>(kFrameBytes);
  char names[10][256];
  wchar_t wnames[10][256];
  int ints[64];
  std::string file;

  void Note(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_calls[index], sizeof g_calls[index], format, args);
    va_end(args);
    if (g_trace) {
      std::printf("[%d] %s\n", index, g_calls[index]);
      std::fflush(stdout);
    }
  }
  QelvanHandle Handle() {
    switch (rng.Next() % 16) {
      case 0: return 0;
      case 1: return released;
      case 2: return spare ? spare : h;
      case 3: return static_cast<QelvanHandle>(rng.Next());
      default: return h;
    }
  }
  void* Ptr(void* p) { return rng.OneIn(6) ? nullptr : p; }
  int* Ok() { return rng.OneIn(4) ? nullptr : ints; }
};

using SetFn = int(__cdecl*)(QelvanHandle, int);
using GetFn = int(__cdecl*)(QelvanHandle, int*);
const char* const kNamedFilters[] = {
    "Brightness", "Contrast", "Hue", "Saturation", "Sharpness", "BayerGainRGB", "BayerGainRed",
    "BayerGainGreen", "BayerGainBlue", "BayerGainAuto", "Gamma", "BayerMode", "GlobalGain",
    "ColorGainRed", "ColorGainGreen1", "ColorGainGreen2", "ColorGainBlue", "ExposureTime", "GrayMode",
    "GrayGainR", "GrayGainG1", "GrayGainG2", "GrayGainB", "GrayOffsetR", "GrayOffsetG1", "GrayOffsetG2",
    "GrayOffsetB", "AutoIris", "RealExposureTime"};

// One random call. Excluded: serial ROM writes (they would change the camera's identity at
// random addresses) and the modal dialogs.
void RandomCall(Caller& c) {
  Rng& r = c.rng;
  const QelvanHandle h = c.Handle();
  const int a = r.Int(), b = r.Int();
  switch (r.Next() % 44) {
    case 0: c.Note("GetLastError(%d)", h); Qelvan_GetLastError(h); break;
    case 1: c.Note("EnumDevice(%d)", h); Qelvan_EnumDevice(h, static_cast<char(*)[256]>(c.Ptr(c.names))); break;
    case 2: c.Note("EnumDeviceW(%d)", h); Qelvan_EnumDeviceW(h, static_cast<wchar_t(*)[256]>(c.Ptr(c.wnames))); break;
    case 3: {
      const int len = r.Size(256);
      c.Note("GetDeviceName(%d, %d, len %d)", h, a, len);
      Qelvan_GetDeviceName(h, a, static_cast<char*>(c.Ptr(c.names[0])), len);
      break;
    }
    case 4: {
      const int len = r.Size(256);
      c.Note("GetDeviceNameW(%d, %d, len %d)", h, a, len);
      Qelvan_GetDeviceNameW(h, a, static_cast<wchar_t*>(c.Ptr(c.wnames[0])), len);
      break;
    }
    case 5: {
      const int n = r.OneIn(3) ? a : r.Range(-1, 2);
      c.Note("SetDeviceNumber(%d, %d)", h, n);
      Qelvan_SetDeviceNumber(h, n);
      break;
    }
    case 6: if (r.OneIn(4)) { c.Note("Close(%d)", h); Qelvan_Close(h); } break;
    case 7:
      if (c.single) { c.Note("Preview(%d)", h); Qelvan_Preview(h); }
      break;
    case 8: case 9: case 10: {
      const int size = r.Size(kFrameBytes);
      const HWND w = r.OneIn(5) ? nullptr : c.window;
      c.Note("CallBackPreview(%d, %p, size %d, %d)", h, static_cast<void*>(w), size, a);
      Qelvan_CallBackPreview(h, w, c.Ptr(c.shared), size, a);
      break;
    }
    case 11: c.Note("StartPreview(%d)", h); Qelvan_StartPreview(h); break;
    case 12: if (r.OneIn(3)) { c.Note("StopPreview(%d)", h); Qelvan_StopPreview(h); } break;
    case 13: if (r.OneIn(3)) { c.Note("Capture(%d)", h); Qelvan_Capture(h); } break;
    case 14: {
      const int size = r.Size(kFrameBytes);
      c.Note("SnapShot(%d, size %d, %d)", h, size, a);
      Qelvan_SnapShot(h, c.Ptr(c.buf.data()), size, a);
      break;
    }
    case 15: if (r.OneIn(3)) {
      const int size = r.Size(kFrameBytes);
      c.Note("Trigger(%d, size %d, %d)", h, size, a);
      Qelvan_Trigger(h, r.OneIn(5) ? nullptr : c.window, c.Ptr(c.shared), size, a);
    } break;
    case 16: case 17: {
      const int size = r.Size(kFrameBytes);
      c.Note("GetImage(%d, size %d, %d)", h, size, a);
      Qelvan_GetImage(h, c.Ptr(c.buf.data()), size, a);
      break;
    }
    case 18: c.Note("GetStatus(%d, %d)", h, a); Qelvan_GetStatus(h, a); break;
    case 19:
      if (c.single) {
        const int w = r.Int(), ht = r.Int();
        c.Note("SetPreviewWindow(%d, %d, %d, %d, %d)", h, a, b, w, ht);
        Qelvan_SetPreviewWindow(h, r.OneIn(3) ? nullptr : c.window, a, b, w, ht);
      }
      break;
    case 20: c.Note("SetCaptureWindow(%d, %d, %d)", h, a, b); Qelvan_SetCaptureWindow(h, a, b); break;
    case 21: {
      int v[6];
      for (int& x : v) x = r.OneIn(2) ? r.Int() : r.Range(0, 752);
      c.Note("SetCaptureWindowEx(%d, %d, %d, %d, %d, %d, %d)", h, v[0], v[1], v[2], v[3], v[4], v[5]);
      Qelvan_SetCaptureWindowEx(h, v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    }
    case 22:
      c.Note("GetCaptureWindowEx(%d)", h);
      Qelvan_GetCaptureWindowEx(h, c.Ok(), c.Ok(), c.Ok(), c.Ok(), c.Ok(), c.Ok());
      break;
    case 23: c.Note("Width/Height(%d)", h); Qelvan_Width(h); Qelvan_Height(h); break;
    case 24: {
      c.ints[0] = a;  // the size field, as the caller set it
      c.Note("GetCameraInfo(%d, size %d)", h, a);
      Qelvan_GetCameraInfo(h, static_cast<QelvanCameraInfo*>(c.Ptr(c.ints)));
      break;
    }
    case 25: c.Note("SetFilterValue(%d, %d, %d)", h, a, b); Qelvan_SetFilterValue(h, a, b); break;
    case 26: c.Note("GetFilterValue(%d, %d)", h, a); Qelvan_GetFilterValue(h, a, c.Ok()); break;
    case 27: case 28: {
      const char* name = kNamedFilters[r.Next() % std::size(kNamedFilters)];
      const bool set = r.OneIn(2);
      c.Note("%s%s(%d, %d)", set ? "Set" : "Get", name, h, a);
      if (set)
        QelvanProc<SetFn>((std::string("Qelvan_Set") + name).c_str())(h, a);
      else
        QelvanProc<GetFn>((std::string("Qelvan_Get") + name).c_str())(h, c.Ok());
      break;
    }
    case 29: {
      const int bits = r.OneIn(2) ? a : 8 * r.Range(0, 8);
      c.Note("SetColorMode(%d, %d)", h, bits);
      Qelvan_SetColorMode(h, bits);
      Qelvan_GetColorMode(h);
      break;
    }
    case 30: c.Note("SetSubSample(%d, %d)", h, a); Qelvan_SetSubSample(h, a); Qelvan_GetSubSample(h); break;
    case 31:
      c.Note("SetMirror(%d, %d, %d)", h, a, b);
      Qelvan_SetMirrorH(h, a), Qelvan_SetMirrorV(h, b), Qelvan_GetMirrorH(h), Qelvan_GetMirrorV(h);
      break;
    case 32: c.Note("SetHalfClock(%d, %d)", h, a); Qelvan_SetHalfClock(h, a); Qelvan_GetHalfClock(h, c.Ok()); break;
    case 33: c.Note("SetWaitTime(%d, %d)", h, a); Qelvan_SetWaitTime(h, a); Qelvan_GetWaitTime(h); break;
    case 34: c.Note("ReadRegister(%d, %d)", h, a); Qelvan_ReadRegister(h, a, c.Ok()); Qelvan_ReadRegisterEx(h, b, c.Ok()); break;
    case 35: c.Note("WriteRegister(%d, %d, %d)", h, a, b); Qelvan_WriteRegister(h, a, b); break;
    case 36: c.Note("ReadSromID(%d, %d)", h, a); Qelvan_ReadSromID(h, a, c.Ok()); break;
    case 37:
      c.Note("GetIOPort/SetIOPort(%d, %d)", h, a);
      Qelvan_GetIOPort(h, static_cast<unsigned char*>(c.Ptr(c.buf.data())), a, b);
      Qelvan_SetIOPort(h, a);
      break;
    case 38: {
      const std::string name = c.file + ".img";
      c.Note("SaveImage(%d, %s, %d)", h, name.c_str(), a);
      Qelvan_SaveImage(h, r.OneIn(6) ? nullptr : name.c_str(), r.OneIn(2) ? a : r.Range(0, 7));
      break;
    }
    case 39: if (r.OneIn(4)) {
      const std::string name = c.file + ".avi";
      const int ms = r.Range(-5, 300);
      c.Note("Record(%d, %s, %d ms, %d)", h, name.c_str(), ms, c.single ? a : 0);
      Qelvan_Record(h, name.c_str(), ms, c.single ? a : 0);
    } break;
    case 40: {
      static const char* const kPaths[] = {"", "Z:\\no such\\camera.ini", "reliability_out", "reliability_out\\nothing.ini"};
      const char* path = kPaths[r.Next() % std::size(kPaths)];
      c.Note("LoadConfigFileA(%d, %s)", h, path);
      Qelvan_LoadConfigFileA(h, r.OneIn(5) ? nullptr : path);
      break;
    }
    case 41:
      c.Note("unsupported(%d, %d)", h, a);
      Qelvan_Fps(h, a, b), Qelvan_GetSamplingRate(h, c.Ok()), Qelvan_SetConfigFilter(h, a), Qelvan_GetConfigFilter(h);
      break;
    case 42:
      if (c.single && r.OneIn(4)) {
        if (c.spare) {
          c.Note("Release(spare %d)", c.spare);
          Qelvan_Release(c.spare);
          c.spare = 0;
        } else {
          c.Note("Initialize(spare)");
          c.spare = Qelvan_Initialize(r.OneIn(2) ? nullptr : c.window);
        }
      }
      break;
    default:
      if (r.OneIn(4)) { c.Note("vcam trigger"); vcamctl_trigger(0, 1); }
      break;
  }
}

class RandomCalls : public Acquisition {
 protected:
  void SetUp() override {
    Acquisition::SetUp();
    const char* seed = std::getenv("QELVAN_SEED");
    g_seed = seed ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)) : GetTickCount() | 1;
    g_trace = std::getenv("QELVAN_TRACE") != nullptr;
    std::printf("random calls: seed %u\n", g_seed);
    std::fflush(stdout);
    CreateDirectoryA("reliability_out", nullptr);
    released_ = Qelvan_Initialize(window_.hwnd());
    Qelvan_Release(released_);
    previous_ = SetUnhandledExceptionFilter(OnCrash);
  }
  void TearDown() override {
    SetUnhandledExceptionFilter(previous_);
    Acquisition::TearDown();
    // The recordings and images the calls wrote (a recording holds about a megabyte a frame).
    for (int t = 0; t <= kThreads; ++t) {
      const std::string file = "reliability_out\\random" + std::to_string(t);
      DeleteFileA((file + ".avi").c_str());
      DeleteFileA((file + ".img").c_str());
    }
  }
  Caller MakeCaller(int index, bool single) {
    Caller c;
    c.index = index;
    c.rng.s = g_seed * 2654435761u + index * 40503u + 1;
    c.h = h_;
    c.released = released_;
    c.single = single;
    c.window = window_.hwnd();
    c.shared = shared_.data();
    c.file = "reliability_out\\random" + std::to_string(index);
    return c;
  }
  // Pumps this thread's messages until done() or the time-out; a hang prints the calls in progress.
  void PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
      Pump(20);
      seen_.clear();
      if (GetTickCount() - start > timeoutMs) {
        PrintCurrentCalls("no progress (hang)");
        ADD_FAILURE() << "random calls hang";
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  }
  // After the run: the instance still works, then nothing is left behind.
  void CheckRecovers() {
    g_calls[0][0] = 0;
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
    ASSERT_EQ(Qelvan_Release(h_), 1);
    opened_.clear();
    ASSERT_TRUE(HandlesSettleAt(0)) << CameraHandles() << " driver handles left open";
    vcam_driver_info info = {};
    vcamctl_driver_info(&info);
    EXPECT_EQ(info.pending_reads, 0u);
    h_ = Open(window_.hwnd());
    ASSERT_NE(h_, 0);
    seen_.clear();
    ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), shared_.data(), kFrameBytes, 1), 1);
    EXPECT_TRUE(WaitFrames(3)) << "no frames after the random calls";
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  }

  QelvanHandle released_ = 0;
  std::vector<uint8_t> shared_ = std::vector<uint8_t>(kFrameBytes);
  LPTOP_LEVEL_EXCEPTION_FILTER previous_ = nullptr;
};

TEST_F(RandomCalls, OneThreadWithSpareInstances) {
  const int calls = Scaled(1000, 20000);
  Caller c = MakeCaller(0, true);
  std::atomic<int> done{0};
  // Calls run on this thread; a watchdog thread names a call that never returns.
  std::thread watchdog([&] {
    int last = -1;
    for (DWORD still = GetTickCount(); done.load() < calls;) {
      Sleep(200);
      if (done.load() != last) last = done.load(), still = GetTickCount();
      if (GetTickCount() - still > 60000) {
        PrintCurrentCalls("no progress (hang)");
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
  });
  for (int i = 0; i < calls; ++i, ++done) {
    RandomCall(c);
    if (i % 16 == 0) {
      Pump(0);
      seen_.clear();
    }
  }
  watchdog.join();
  if (c.spare) Qelvan_Release(c.spare);
  CheckRecovers();
  Figure("random calls: " + std::to_string(calls) + " on one thread, seed " + std::to_string(g_seed) + ", 0 crashes");
}

TEST_F(RandomCalls, FourThreadsOnOnePreviewingInstance) {
  const int perThread = Scaled(1000, 20000);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), shared_.data(), kFrameBytes, 1), 1);
  ASSERT_TRUE(WaitFrames(1));
  std::atomic<int> finished{0}, progress{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= kThreads; ++t) {
    threads.emplace_back([&, t] {
      Caller c = MakeCaller(t, false);
      for (int i = 0; i < perThread; ++i, ++progress) RandomCall(c);
      ++finished;
    });
  }
  // This thread owns the window: it keeps pumping so calls that touch the window never wait on it.
  int last = -1;
  DWORD still = GetTickCount();
  PumpUntil([&] {
    if (progress.load() != last) last = progress.load(), still = GetTickCount();
    return finished.load() == kThreads || GetTickCount() - still > 60000;
  }, 3600000);
  if (finished.load() != kThreads) {
    PrintCurrentCalls("no progress (hang)");
    TerminateProcess(GetCurrentProcess(), 3);
  }
  for (std::thread& t : threads) t.join();
  CheckRecovers();
  Figure("random calls: " + std::to_string(kThreads * perThread) + " from " + std::to_string(kThreads) +
         " threads on one previewing instance, seed " + std::to_string(g_seed) + ", 0 crashes, 0 hangs");
}

}  // namespace

namespace {

// Found by the random calls: a long pause between polls (the setting has no upper bound, and
// stored settings may hold anything) held a stop up for the whole pause.
class FoundByRandomCalls : public Acquisition {};

TEST_F(FoundByRandomCalls, LongPauseDoesNotHoldUpStop) {
  std::vector<uint8_t> buffer(kFrameBytes);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), kFrameBytes, 1), 1);
  ASSERT_TRUE(WaitFrames(1));
  ASSERT_EQ(Qelvan_SetWaitTime(h_, 3600000), 1);
  Sleep(100);  // the worker is now in its pause
  const DWORD start = GetTickCount();
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  EXPECT_LT(GetTickCount() - start, 3000u + 15000u) << "stop waited for the pause";
}

}  // namespace

namespace {

// Found by the random calls (seed 14826323, four threads): selecting the device again
// re-initialised it while another thread's snapshot was using its window and frame buffers; the
// process died in the heap. Selection now waits for the snapshot, so every shot succeeds.
TEST_F(FoundByRandomCalls, DeviceSelectionWaitsForSnapshots) {
  // A window other than the whole sensor, which selection sets on the device.
  ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 56, 640, 480, 40, 400), 1);
  std::atomic<bool> done{false};
  std::atomic<int> shots{0}, failed{0};
  std::thread other([&] {
    std::vector<uint8_t> buffer(kFrameBytes);
    while (!done) ++(Qelvan_SnapShot(h_, buffer.data(), kFrameBytes, 1) == 1 ? shots : failed);
  });
  for (int i = 0; i < Scaled(8, 40); ++i) EXPECT_EQ(Qelvan_SetDeviceNumber(h_, 0), 1);
  done = true;
  other.join();
  EXPECT_GT(shots.load(), 0);
  EXPECT_EQ(failed.load(), 0) << "snapshots failed while the device was selected again";
}

}  // namespace
