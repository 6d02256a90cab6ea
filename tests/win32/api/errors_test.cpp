// The error history and WM_CAMERA_ERROR, on a camera instance and through the exports.
#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/sensor_timing.h"
#include "dll.h"

namespace {

TEST(ErrorHistory, NewestFirstThenZero) {
  CQelvan camera;
  EXPECT_EQ(0, camera.PopError());
  camera.PushError(9);
  camera.PushError(5);
  EXPECT_EQ(5, camera.PopError());
  EXPECT_EQ(9, camera.PopError());
  EXPECT_EQ(0, camera.PopError());
  EXPECT_EQ(0, camera.PopError());
}

TEST(ErrorHistory, KeepsTheLastTwenty) {
  CQelvan camera;
  for (int code = 1; code <= 25; ++code) camera.PushError(code);
  for (int code = 25; code >= 6; --code) EXPECT_EQ(code, camera.PopError());
  EXPECT_EQ(0, camera.PopError());
}

// Two threads push their own rising codes at once. The history must keep exactly the 20 newest
// pushes, newest first: no code twice, each thread's codes in falling order, and each thread's
// kept codes its latest ones without a gap.
TEST(ErrorHistory, ConcurrentPushesNeverMix) {
  CQelvan camera;
  constexpr int kPushes = 5000;
  auto pusher = [&camera](int base) {
    for (int i = 1; i <= kPushes; ++i) camera.PushError(base + i);
  };
  std::thread a(pusher, 100000), b(pusher, 200000);
  a.join();
  b.join();
  std::vector<int> kept;
  for (int i = 0; i < kErrorHistorySize; ++i) kept.push_back(camera.PopError());
  EXPECT_EQ(0, camera.PopError()) << "more than " << kErrorHistorySize << " kept";
  int expectedNext[3] = {0, 100000 + kPushes, 200000 + kPushes};
  for (int code : kept) {
    const int thread = code / 100000;
    ASSERT_TRUE(thread == 1 || thread == 2) << code;
    // Newest first: each thread's next kept code is the one it pushed just before.
    EXPECT_EQ(expectedNext[thread], code);
    expectedNext[thread] = code - 1;
  }
}

TEST(ErrorMessages, EachRecordedErrorPostsOneMessageToTheWindow) {
  TestWindow window;
  ASSERT_NE(nullptr, window.hwnd());
  ErrorHistory camera;
  camera.SetWindow(window.hwnd());
  camera.Push(9);
  camera.Push(5);
  LPARAM codes[4] = {};
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, window.hwnd(), WM_CAMERA_ERROR, WM_CAMERA_ERROR, PM_NOREMOVE));
  EXPECT_EQ(0u, msg.wParam);
  ASSERT_EQ(2, DrainCameraErrors(window.hwnd(), codes, 4));
  EXPECT_EQ(9, codes[0]);
  EXPECT_EQ(5, codes[1]);
}

TEST(ErrorMessages, WithoutAWindowRecordedErrorsPostNothing) {
  CQelvan camera;
  camera.PushError(4);
  LPARAM codes[4];
  EXPECT_EQ(0, DrainCameraErrors(nullptr, codes, 4));
  EXPECT_EQ(4, camera.PopError());
}

TEST(ErrorMessages, PostOnlyLandsInTheThreadQueueWithoutAWindow) {
  CQelvan camera;
  camera.PostError(ERR_NOT_SUPPORTED);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), WM_CAMERA_ERROR, WM_CAMERA_ERROR, PM_REMOVE));
  EXPECT_EQ(nullptr, msg.hwnd);
  EXPECT_EQ(ERR_NOT_SUPPORTED, msg.lParam);
  EXPECT_EQ(0, camera.PopError());  // the history is untouched
}

// Through the exports, on an instance whose camera could not be opened.
class ExportErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, window.hwnd());
    handle = InitializeWithoutDevice(window.hwnd());
    ASSERT_NE(0, handle);
    LPARAM codes[32];
    ASSERT_EQ(1, DrainCameraErrors(window.hwnd(), codes, 32));
    EXPECT_EQ(ERR_MEMORY, codes[0]);
    EXPECT_EQ(ERR_MEMORY, LastError());
    EXPECT_EQ(0, LastError());
  }
  void TearDown() override { Call<int, QelvanHandle>("Qelvan_Release", handle); }

  template <class R, class... A>
  static R Call(const char* name, A... args) {
    return QelvanProc<R(__cdecl*)(A...)>(name)(args...);
  }
  int LastError() { return Call<int, QelvanHandle>("Qelvan_GetLastError", handle); }
  int Posted(LPARAM* codes, int capacity) { return DrainCameraErrors(window.hwnd(), codes, capacity); }

  TestWindow window;
  QelvanHandle handle = 0;
};

TEST_F(ExportErrors, RecordedAndPostOnlyErrors) {
  LPARAM codes[8] = {};
  // SetMirrorH records ERR_NOT_READY; SetMirrorV only posts it.
  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_SetMirrorH", handle, 1)));
  ASSERT_EQ(1, Posted(codes, 8));
  EXPECT_EQ(ERR_NOT_READY, codes[0]);
  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_SetMirrorV", handle, 1)));
  ASSERT_EQ(1, Posted(codes, 8));
  EXPECT_EQ(ERR_NOT_READY, codes[0]);
  EXPECT_EQ(ERR_NOT_READY, LastError());
  EXPECT_EQ(0, LastError());

  EXPECT_EQ(0, (Call<int, QelvanHandle>("Qelvan_Fps", handle)));
  EXPECT_EQ(-1, (Call<int, QelvanHandle>("Qelvan_GetConfigFilter", handle)));
  EXPECT_EQ(-1, (Call<int, QelvanHandle, int>("Qelvan_SetConfigFilter", handle, 5)));
  ASSERT_EQ(3, Posted(codes, 8));
  EXPECT_EQ(ERR_NOT_SUPPORTED, codes[0]);
  EXPECT_EQ(ERR_NOT_SUPPORTED, LastError());
  EXPECT_EQ(ERR_NOT_SUPPORTED, LastError());
  EXPECT_EQ(0, LastError());
}

TEST_F(ExportErrors, StoredSettingsAndTheirRefusals) {
  EXPECT_EQ(1, (Call<int, QelvanHandle, int>("Qelvan_SetColorMode", handle, 16)));
  EXPECT_EQ(10, (Call<int, QelvanHandle>("Qelvan_GetColorMode", handle)));
  EXPECT_EQ(1, (Call<int, QelvanHandle, int>("Qelvan_SetColorMode", handle, 48)));
  EXPECT_EQ(42, (Call<int, QelvanHandle>("Qelvan_GetColorMode", handle)));
  EXPECT_EQ(1, (Call<int, QelvanHandle, int>("Qelvan_SetColorMode", handle, 64)));
  EXPECT_EQ(58, (Call<int, QelvanHandle>("Qelvan_GetColorMode", handle)));
  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_SetColorMode", handle, 12)));
  EXPECT_EQ(58, (Call<int, QelvanHandle>("Qelvan_GetColorMode", handle)));
  EXPECT_EQ(ERR_ARGUMENT, LastError());

  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_SetSubSample", handle, 3)));
  EXPECT_EQ(1, (Call<int, QelvanHandle, int>("Qelvan_SetSubSample", handle, 2)));
  EXPECT_EQ(2, (Call<int, QelvanHandle>("Qelvan_GetSubSample", handle)));
  EXPECT_EQ(1, (Call<int, QelvanHandle, int>("Qelvan_SetWaitTime", handle, 0)));
  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_SetWaitTime", handle, -1)));
  EXPECT_EQ(0, (Call<int, QelvanHandle>("Qelvan_GetWaitTime", handle)));
  EXPECT_EQ(0, LastError());  // the silent refusals record nothing

  EXPECT_EQ(1, (Call<int, QelvanHandle, int>("Qelvan_SetAutoIris", handle, 2)));
  EXPECT_EQ(2, (Call<int, QelvanHandle, int*>("Qelvan_GetAutoIris", handle, nullptr)));
  LPARAM codes[4];
  Posted(codes, 4);
  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_SetAutoIris", handle, 3)));
  ASSERT_EQ(1, Posted(codes, 4));
  EXPECT_EQ(ERR_ARGUMENT, codes[0]);
  EXPECT_EQ(0, LastError());

  int value = 5;
  EXPECT_EQ(0, (Call<int, QelvanHandle, int*>("Qelvan_GetVideoFormat", handle, &value)));
  EXPECT_EQ(0, value);
  EXPECT_EQ(0, (Call<int, QelvanHandle, int>("Qelvan_GetStatus", handle, 0)));
}

TEST_F(ExportErrors, GeometryWithoutACamera) {
  int th = 0, ehs = -1, eh = 0, tv = 0, evs = -1, ev = 0;
  EXPECT_EQ(1, (Call<int, QelvanHandle, int*, int*, int*, int*, int*, int*>("Qelvan_GetCaptureWindowEx", handle, &th,
                                                                             &ehs, &eh, &tv, &evs, &ev)));
  EXPECT_EQ(752, th);
  EXPECT_EQ(0, ehs);
  EXPECT_EQ(752, eh);
  EXPECT_EQ(480, tv);
  EXPECT_EQ(0, evs);
  EXPECT_EQ(480, ev);
  EXPECT_EQ(1, (Call<int, QelvanHandle, int*, int*, int*, int*, int*, int*>("Qelvan_GetCaptureWindowEx", handle,
                                                                             nullptr, nullptr, nullptr, nullptr,
                                                                             nullptr, nullptr)));
  QelvanCameraInfo info = {};
  info.size = sizeof info;
  EXPECT_EQ(0, (Call<int, QelvanHandle, QelvanCameraInfo*>("Qelvan_GetCameraInfo", handle, &info)));
  EXPECT_EQ(ERR_NOT_READY, LastError());
  EXPECT_EQ(1, (Call<int, QelvanHandle>("Qelvan_Close", handle)));
}

TEST(Exposure, LinesAndMicroseconds) {
  EXPECT_EQ(3399, ExposureMicroseconds(100, 752, 0));  // the clock value sits just below 1/24000
  EXPECT_EQ(100, ExposureLinesFor(3400, 752, 0));
  EXPECT_EQ(0, ExposureLinesFor(33, 752, 0));
  EXPECT_EQ(1, ExposureLinesFor(34, 752, 0));
  EXPECT_EQ(660, LineClocks(500));
  EXPECT_EQ(634, LineClocks(570));
  // A refused width stays stored; the arithmetic saturates instead of overflowing.
  EXPECT_EQ(INT_MAX, LineClocks(INT_MAX));
  EXPECT_EQ(INT_MAX, ExposureMicroseconds(32767, INT_MAX, 5));
  EXPECT_EQ(0, ExposureLinesFor(1000, INT_MAX, 0));
  EXPECT_DOUBLE_EQ(8.333333244081587e-05, MillisecondsPerClock(1));
  EXPECT_DOUBLE_EQ(4.166666622040793e-05, MillisecondsPerClock(9));
}

}  // namespace
