// Test fixture over the virtual camera: reset per test, counters, the register-write log, frame
// decoding and condition waits.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "vcamctl.h"

using RegWrites = std::vector<std::pair<int, int>>;

class VirtualCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vcamctl_reset(), 0u) << "the virtual camera driver does not answer";
  }

  static vcam_camera_info Info(int cam) {
    vcam_camera_info info = {};
    EXPECT_EQ(vcamctl_camera_info(cam, &info), 0u);
    return info;
  }
  static vcam_regs Regs(int cam) {
    vcam_regs regs = {};
    EXPECT_EQ(vcamctl_regs(cam, &regs), 0u);
    return regs;
  }
  static uint32_t LogCount(int cam) { return Regs(cam).log_count; }
  // Register writes since the log held `since` entries (at most the last 64).
  static RegWrites WritesSince(int cam, uint32_t since) {
    vcam_regs regs = Regs(cam);
    const uint32_t shown = regs.log_count < VCAM_LOG_ENTRIES ? regs.log_count : VCAM_LOG_ENTRIES;
    const uint32_t first = regs.log_count - shown;
    EXPECT_GE(since, first) << "more writes than the log keeps";
    RegWrites out;
    for (uint32_t i = 0; i < shown; ++i)
      if (first + i >= since) out.emplace_back(regs.log[i].reg, regs.log[i].value);
    return out;
  }
  static uint32_t Transfer(const vcam_regs& r) {
    return r.ports[0] | r.ports[1] << 8 | r.ports[2] << 16 | static_cast<uint32_t>(r.ports[3]) << 24;
  }

  // Polls cond until it holds or timeoutMs passes.
  static bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs = 20000) {
    const DWORD start = GetTickCount();
    while (!cond()) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(2);
    }
    return true;
  }

  // Handles are closed asynchronously in the driver host: wait for the count to settle.
  static bool HandlesSettleAt(int cam, uint32_t count) {
    return WaitUntil([&] { return Info(cam).handles_open == count; }, 5000);
  }

  // Left edge of the moving square in a full-window 8-bit frame of a monochrome camera
  // (row 420 crosses it), minus its first position; -1 when there is no square.
  static int SquarePosition(const uint8_t* frame) {
    const uint8_t* row = frame + 420 * 752;
    const int bg = row[0];
    for (int x = 8; x < 752; ++x)
      if (row[x] > bg + (bg / 2 > 8 ? bg / 2 : 8)) return x - 8;
    return -1;
  }
  // Frames from position b to position a: the square moves 6 pixels a frame on a 688-pixel
  // track, so a distance is unique within +-150 frames.
  static int FrameDistance(int a, int b) {
    for (int k = -150; k <= 150; ++k)
      if (((6 * k - (a - b)) % 688 + 688) % 688 == 0) return k;
    return 1000;
  }
};
