// Initialize/Release cycles: without a camera, with the camera opened, and with a preview run in
// each cycle. Handles, threads, memory, window classes and the virtual camera's handles stay
// flat. Each measure is first shown to see a deliberate leak, since a measure that cannot fail
// proves nothing (Wine's handle and GDI counters always read 0).
#include <functional>
#include <string>

#include "reliability/reliability.h"

namespace {

DWORD WINAPI WaitOnEvent(LPVOID event) { return WaitForSingleObject(event, INFINITE); }

// The atom a freshly registered window class gets: like handle slots, atoms are reused lowest
// first, so registered classes that are never removed push it up.
ATOM FreshClassAtom() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "QelvanReliabilityProbeClass";
  const ATOM atom = RegisterClassA(&wc);
  UnregisterClassA(wc.lpszClassName, wc.hInstance);
  return atom;
}

struct Usage {
  intptr_t handle;
  int threads;
  intptr_t bytes;
  int classAtom;
};

class Lifetime : public Acquisition {
 protected:
  Usage Measure() {
    Pump(50);
    WaitUntil([&] { return ThreadCount() <= threadsBefore_; }, 5000);
    return {static_cast<intptr_t>(FreshHandleValue()), ThreadCount(), static_cast<intptr_t>(PrivateBytes()),
            FreshClassAtom()};
  }
  // Runs warm-up cycles, then the counted ones, and returns the growth of each measure.
  Usage Growth(int cycles, const std::function<void()>& cycle) {
    for (int i = 0; i < 3; ++i) cycle();
    const Usage before = Measure();
    for (int i = 0; i < cycles && !HasFatalFailure(); ++i) cycle();
    const Usage after = Measure();
    return {after.handle - before.handle, after.threads - before.threads, after.bytes - before.bytes,
            after.classAtom - before.classAtom};
  }
  void Report(const char* name, int cycles, const Usage& g) {
    const double per = 1000.0 / cycles;
    char line[256];
    std::snprintf(line, sizeof line,
                  "lifetime %s: %d cycles, growth per 1000 cycles: handles %.0f, threads %.0f, private KB %.0f, "
                  "window classes %.0f, camera handles %u",
                  name, cycles, g.handle / 4 * per, g.threads * per, g.bytes / 1024.0 * per, g.classAtom * per,
                  CameraHandlesWithout());
    Figure(line);
  }
  // Driver handles open on the camera beyond those of the fixture's own instance.
  unsigned CameraHandlesWithout() { return CameraHandles() - baseHandles_; }
  // Flat: no handle slot, no thread, no window class; memory within what heap growth and
  // caches explain (a per-cycle leak of one small image would pass it in a few dozen cycles).
  void ExpectFlat(const Usage& g) {
    EXPECT_LE(g.handle / 4, 2) << "handle slots leaked";
    EXPECT_LE(g.threads, 0) << "threads left running";
    EXPECT_LE(g.bytes, 4 << 20) << "private bytes grew";
    EXPECT_LE(g.classAtom, 1) << "window classes left registered";
    EXPECT_TRUE(WaitUntil([&] { return CameraHandlesWithout() == 0; }, 5000)) << "driver handles left open";
  }
  void SetUp() override {
    Acquisition::SetUp();
    baseHandles_ = CameraHandles();
  }
  unsigned baseHandles_ = 0;
};

TEST_F(Lifetime, MeasuresSeeDeliberateLeaks) {
  std::vector<HANDLE> events;
  std::vector<HANDLE> threads;
  std::vector<void*> blocks;
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  int classes = 0;
  const Usage g = Growth(100, [&] {
    events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (threads.size() < 10)
      threads.push_back(CreateThread(nullptr, 0, WaitOnEvent, stop, 0, nullptr));
    blocks.push_back(VirtualAlloc(nullptr, 64 << 10, MEM_COMMIT, PAGE_READWRITE));
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    const std::string name = "QelvanLeakedClass" + std::to_string(classes++);
    wc.lpszClassName = name.c_str();
    RegisterClassA(&wc);
  });
  EXPECT_GE(g.handle / 4, 100);
  EXPECT_GE(g.threads, 7);
  EXPECT_GT(g.bytes, 4 << 20);
  EXPECT_GE(g.classAtom, 100);
  SetEvent(stop);
  for (HANDLE t : threads) WaitForSingleObject(t, 10000), CloseHandle(t);
  for (HANDLE e : events) CloseHandle(e);
  for (void* b : blocks) VirtualFree(b, 0, MEM_RELEASE);
  for (int i = 0; i < classes; ++i)
    UnregisterClassA(("QelvanLeakedClass" + std::to_string(i)).c_str(), GetModuleHandleA(nullptr));
  CloseHandle(stop);
}

TEST_F(Lifetime, CyclesWithoutCamera) {
  ASSERT_EQ(vcamctl_detach(0), 0u);
  const int cycles = Scaled(200, 10000);
  const Usage g = Growth(cycles, [&] {
    const QelvanHandle h = Qelvan_Initialize(window_.hwnd());
    ASSERT_NE(h, 0);
    ASSERT_EQ(Qelvan_Release(h), 1);
  });
  Report("no camera", cycles, g);
  ExpectFlat(g);
}

TEST_F(Lifetime, CyclesWithCameraOpened) {
  const int cycles = Scaled(50, 1000);
  const Usage g = Growth(cycles, [&] {
    const QelvanHandle h = Qelvan_Initialize(window_.hwnd());
    ASSERT_NE(h, 0);
    ASSERT_EQ(Qelvan_Release(h), 1);
  });
  Report("camera opened", cycles, g);
  ExpectFlat(g);
}

TEST_F(Lifetime, CyclesWithPreview) {
  // The fixture's instance stays idle; each cycle previews from a new one into a child window.
  const int cycles = Scaled(50, 1000);
  const Usage g = Growth(cycles, [&] {
    const QelvanHandle h = Qelvan_Initialize(window_.hwnd());
    ASSERT_NE(h, 0);
    Qelvan_SetColorMode(h, 24);
    ASSERT_EQ(Qelvan_SetPreviewWindow(h, window_.hwnd(), 0, 0, 160, 120), 1);
    ASSERT_EQ(Qelvan_Preview(h), 1);
    ASSERT_TRUE(WaitCameraFrames(1));
    ASSERT_EQ(Qelvan_StopPreview(h), 1);
    ASSERT_EQ(Qelvan_Release(h), 1);
    seen_.clear();
  });
  Report("preview", cycles, g);
  ExpectFlat(g);
}

}  // namespace
