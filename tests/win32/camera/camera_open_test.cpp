// Opening with and without stored settings, closing, and Initialize/Release cycles.
#include "camera/camera_fixture.h"

#include <psapi.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "camera/camera.h"

// Nothrow allocations of this program can be made to fail: the count of successes to allow
// before one failure, or -1 for none.
static std::atomic<int> g_nothrowSuccesses{-1};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  int left = g_nothrowSuccesses.load();
  if (left == 0) {
    g_nothrowSuccesses = -1;
    return nullptr;
  }
  if (left > 0) g_nothrowSuccesses = left - 1;
  return std::malloc(size ? size : 1);
}

namespace {

using OpenTest = CameraTest;

void ExpectValues(const std::string& path, const std::vector<std::pair<const char*, int>>& expected) {
  for (const auto& [name, value] : expected) EXPECT_EQ(value, Dword(path, name)) << path << " " << name;
}

TEST_F(OpenTest, FirstRunWritesItsValuesAndTheGroupsAppearAtRelease) {
  const QelvanHandle h = Open();
  ExpectValues(CameraPath(0), {{"Size", 0}, {"Color", 2}, {"SubSample", 0}, {"WaitTime", 1}, {"Clock", 2}});
  ExpectValues(CameraPath(0, "Size_00"),
               {{"TH", 752}, {"TV", 480}, {"EH", 752}, {"EV", 480}, {"EHS", 0}, {"EVS", 0}, {"Buf", 4}});
  EXPECT_FALSE(KeyExists(CameraPath(0, "Size_01")));
  EXPECT_FALSE(KeyExists(CameraPath(1)));
  // The same open already loads the values it has just written.
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetWaitTime", h));
  EXPECT_EQ(24, Qelvan<int>("Qelvan_GetColorMode", h));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetSubSample", h));
  for (const char* group : {"Gain", "Filter", "Gray"}) EXPECT_FALSE(KeyExists(CameraPath(0, group))) << group;
  EXPECT_TRUE(Errors(h).empty());

  ASSERT_EQ(1, Release(h));
  ExpectValues(CameraPath(0, "Gain"), {{"Global", 16}, {"ColorG1", 0}, {"ColorR", 0}, {"ColorB", 0}, {"ColorG2", 0},
                                       {"Exposure", 480}, {"V_Mirror", 0}, {"H_Mirror", 0}, {"AutoIris", 0}});
  ExpectValues(CameraPath(0, "Filter"), {{"Brightness", 0}, {"Contrast", 0}, {"Hue", 0}, {"Saturation", 0},
                                         {"Sharpness", 0}, {"R_Gain", 100}, {"G_Gain", 100}, {"B_Gain", 100},
                                         {"Gamma", 100}, {"BayerMode", 2}});
  ExpectValues(CameraPath(0, "Gray"), {{"Mode", 0}, {"GainR1", 128}, {"GainG1", 128}, {"GainG2", 128},
                                       {"GainB1", 128}, {"OffsetR1", 0}, {"OffsetG1", 0}, {"OffsetG2", 0},
                                       {"OffsetB1", 0}});
}

TEST_F(OpenTest, StoredAnalogGroupReachesTheSensorInPushOrder) {
  const std::string gain = CameraPath(0, "Gain");
  const std::pair<const char*, int> stored[] = {{"Global", 20}, {"ColorG1", 0},  {"ColorR", 0},
                                                {"ColorB", 0},  {"ColorG2", 0},  {"Exposure", 300},
                                                {"V_Mirror", 1}, {"H_Mirror", 0}, {"AutoIris", 1}};
  for (const auto& [name, value] : stored) SetDword(gain, name, value);
  const uint32_t before = LogCount(0);
  const QelvanHandle h = Open();
  const RegWrites writes = WritesSince(0, before);
  ASSERT_GE(writes.size(), 4u);
  // Gain 20 is written with its offset of 16; then exposure; then mirror V on, then mirror H
  // off, each rewriting register 13 from the cached flags.
  const RegWrites tail(writes.end() - 4, writes.end());
  EXPECT_EQ(53, tail[0].first);
  EXPECT_EQ(36, tail[0].second);
  EXPECT_EQ((std::pair<int, int>(11, 300)), tail[1]);
  EXPECT_EQ(13, tail[2].first);
  EXPECT_EQ(13, tail[3].first);
  EXPECT_EQ(0x20, tail[3].second & 0x30);  // V on (bit 4 clear), H off (bit 5 set)
  EXPECT_EQ(0x20, Regs(0).regs[13] & 0x30);
  int ok = 0;
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetAutoIris", h, &ok));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetMirrorV", h));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetMirrorH", h));
  ASSERT_EQ(1, Release(h));
  ExpectValues(gain, {{"Global", 20}, {"Exposure", 300}, {"V_Mirror", 1}, {"H_Mirror", 0}, {"AutoIris", 1}});
}

TEST_F(OpenTest, StoredPresetIsAppliedAndAnInvalidOneFallsBackToTheFullWindow) {
  struct Case {
    int eh, ehs;
    int expectEh, expectEhs, expectError;
  } cases[] = {{640, 56, 640, 56, 0}, {700, 100, 752, 0, ERR_GEOMETRY}, {652, 100, 652, 100, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.eh);
    SetDword(CameraPath(0), "Size", 1);
    SetPreset(0, 0, 752, 480, 752, 480, 0, 0, 4);
    SetPreset(0, 1, 752, 480, c.eh, 480, c.ehs, 0, 4);
    const QelvanHandle h = Open();
    int g[6];
    Window(h, g);
    EXPECT_EQ(752, g[0]);
    EXPECT_EQ(c.expectEhs, g[1]);
    EXPECT_EQ(c.expectEh, g[2]);
    EXPECT_EQ(480, g[3]);
    EXPECT_EQ(0, g[4]);
    EXPECT_EQ(480, g[5]);
    EXPECT_EQ(c.expectEh, Qelvan<int>("Qelvan_Width", h));
    // The sensor window: width register 4, column start 1 from the right-hand margin.
    const vcam_regs r = Regs(0);
    EXPECT_EQ(c.expectEh, r.regs[4]);
    EXPECT_EQ(752 - c.expectEhs - c.expectEh + 1, r.regs[1]);
    const std::vector<int> errors = Errors(h);
    if (c.expectError)
      EXPECT_EQ(std::vector<int>{c.expectError}, errors);
    else
      EXPECT_TRUE(errors.empty());
    Release(h);
  }
}

TEST_F(OpenTest, FirstRunWithoutACameraSavesBothMirrorsOff) {
  ASSERT_EQ(0u, vcamctl_detach(0));
  const QelvanHandle h = Open();
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetMirrorV", h));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetMirrorH", h));
  ASSERT_EQ(1, Release(h));
  EXPECT_EQ(0, Dword(CameraPath(0, "Gain"), "V_Mirror"));
  EXPECT_EQ(0, Dword(CameraPath(0, "Gain"), "H_Mirror"));
}

TEST_F(OpenTest, CloseKeepsTheHandleUsable) {
  const QelvanHandle h = Open();
  EXPECT_EQ(1, Qelvan<int>("Qelvan_Close", h));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_Close", h));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetWaitTime", h));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetDeviceNumber", h, 0));
  char name[32] = {};
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetDeviceName", h, 0, name, 32));
  EXPECT_STREQ("QelvanZ51QK2-RVN_01", name);
  EXPECT_TRUE(Errors(h).empty());
}

// Committed private memory. Wine reports PrivateUsage as 0; PagefileUsage counts.
size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS pmc = {};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  return pmc.PagefileUsage;
}

// The device object and the acquisition, each in turn failing to be made.
TEST_F(OpenTest, AnObjectThatCannotBeMadeLeavesNoHalfInstance) {
  for (int made = 0; made <= 1; ++made) {
    SCOPED_TRACE(made);
    CQelvan camera;
    g_nothrowSuccesses = made;
    EXPECT_EQ(0, camera.Open(nullptr));
    g_nothrowSuccesses = -1;
    EXPECT_EQ(ERR_MEMORY, camera.PopError());
    EXPECT_EQ(0, camera.EnumDeviceW(nullptr));
    EXPECT_EQ(ERR_NOT_READY, camera.PopError());
  }
  // The device made before the acquisition failed is freed, frame buffers and all.
  const size_t before = PrivateBytes();
  ASSERT_NE(0u, before);
  for (int i = 0; i < 10; ++i) {
    CQelvan camera;
    g_nothrowSuccesses = 1;
    camera.Open(nullptr);
    g_nothrowSuccesses = -1;
  }
  EXPECT_LT(PrivateBytes(), before + 1024 * 1024);
}

HANDLE NewEvent() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }

TEST_F(OpenTest, HundredCyclesLeaveNoHandleAndNoMemoryBehind) {
  // The next free handle value shows a leaked handle: check once that it can.
  HANDLE probe = NewEvent();
  CloseHandle(probe);
  HANDLE again = NewEvent();
  HANDLE held = NewEvent();
  EXPECT_EQ(probe, again);
  EXPECT_NE(probe, held);
  CloseHandle(held);
  CloseHandle(again);

  for (int i = 0; i < 5; ++i) ASSERT_EQ(1, Release(Open()));  // warm-up: first-run keys, caches
  ASSERT_TRUE(HandlesSettleAt(0, 0));
  HANDLE before = NewEvent();
  CloseHandle(before);
  const size_t memoryBefore = PrivateBytes();
  ASSERT_NE(0u, memoryBefore);

  for (int i = 0; i < 100; ++i) {
    const QelvanHandle h = Qelvan<QelvanHandle>("Qelvan_Initialize", window.hwnd());
    ASSERT_NE(0, h);
    ASSERT_EQ(1, Qelvan<int>("Qelvan_Release", h));
  }

  EXPECT_TRUE(HandlesSettleAt(0, 0)) << Info(0).handles_open << " camera handles still open";
  HANDLE after = NewEvent();
  CloseHandle(after);
  EXPECT_EQ(before, after) << "a handle leaked";
  // Each instance allocates frame buffers of about 1.4 MB: a leak of one of them, or of much
  // smaller pieces a hundred times, exceeds this.
  const size_t memoryAfter = PrivateBytes();
  EXPECT_LT(memoryAfter, memoryBefore + 512 * 1024) << memoryBefore << " -> " << memoryAfter;
}

}  // namespace
