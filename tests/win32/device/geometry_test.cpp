// Frame buffer geometry, the window copy and its YUV/interlaced forms, without a camera.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "device/qelvan_device.h"

namespace {

// A frame buffer the size the device allocated, filled with a recognisable pattern.
std::vector<uint8_t> PatternFrame(const CQLVSdkLib& dev) {
  std::vector<uint8_t> raw(static_cast<size_t>(dev.RingBytes()));
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7 + 3);
  return raw;
}

TEST(FrameBuffers, FullWindowSizes) {
  CQLVSdkLib dev;
  ASSERT_EQ(dev.AllocateFrameBuffers(752, 0, 752, 480, 0, 480, 4), 0);
  EXPECT_EQ(dev.PixelsPerFrame(), 360960);
  EXPECT_EQ(dev.TransferPixels(), 361472);  // 353 x 1024
  EXPECT_EQ(dev.RingBytes(), 722944);
  EXPECT_EQ(dev.RgbScratchBytes(), 1082880);
  EXPECT_EQ(dev.RingCount(), 4);
  EXPECT_EQ(dev.TransferBytes(), 361472);
  dev.SetWideTransfer(1);
  EXPECT_EQ(dev.TransferBytes(), 722944);
  // Every ring buffer is locked global memory, zeroed, and distinct.
  for (int i = 0; i < 4; ++i) {
    uint8_t* p = dev.RingData(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[722943], 0);
    for (int j = 0; j < i; ++j) EXPECT_NE(p, dev.RingData(j));
  }
  ASSERT_NE(dev.RawFrame(), nullptr);
  EXPECT_EQ(dev.RingData(4), nullptr);
}

TEST(FrameBuffers, RoundingAndRejectedGeometry) {
  CQLVSdkLib dev;
  ASSERT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 10, 0, 10, 4), 0);
  EXPECT_EQ(dev.TransferPixels(), 1024);
  ASSERT_EQ(dev.AllocateFrameBuffers(1024, 0, 1024, 1, 0, 1, 4), 0);
  EXPECT_EQ(dev.TransferPixels(), 1024);  // already a multiple: not rounded further
  // The transfer covers the lines up to the last output line, not the raw lines.
  ASSERT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 40, 5, 6, 4), 0);
  EXPECT_EQ(dev.TransferPixels(), 2048);  // 100 x 11 = 1100

  EXPECT_EQ(dev.AllocateFrameBuffers(100, 0, 101, 10, 0, 10, 4), 3);
  EXPECT_EQ(dev.AllocateFrameBuffers(0, 0, 0, 10, 0, 10, 4), 3);
  EXPECT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 10, 5, 6, 4), 4);
  EXPECT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 0, 0, 0, 4), 4);
  EXPECT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 10, 0, 10, 1), 1);
  // Offsets that would copy outside a line or before the frame.
  EXPECT_EQ(dev.AllocateFrameBuffers(100, 5, 96, 10, 0, 10, 4), 3);
  EXPECT_EQ(dev.AllocateFrameBuffers(100, -1, 50, 10, 0, 10, 4), 3);
  EXPECT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 10, -1, 5, 4), 4);
  // Sizes whose byte counts do not fit 32 bits are refused instead of wrapping.
  EXPECT_EQ(dev.AllocateFrameBuffers(65536, 0, 65536, 65536, 0, 65536, 4), 7);
  EXPECT_EQ(dev.AllocateFrameBuffers(1, 0, 1, 0x7FFFFFFF, 0, 1, 4), 7);
  // None of the refusals touched the buffers of the last good allocation.
  EXPECT_EQ(dev.TransferPixels(), 2048);
  EXPECT_NE(dev.RingData(3), nullptr);
}

TEST(FrameBuffers, FreeKeepsRingCount) {
  CQLVSdkLib dev;
  ASSERT_EQ(dev.AllocateFrameBuffers(100, 0, 100, 10, 0, 10, 4), 0);
  dev.FreeFrameBuffers();
  EXPECT_EQ(dev.RawFrame(), nullptr);
  EXPECT_EQ(dev.RingData(0), nullptr);
  EXPECT_EQ(dev.RingCount(), 4);
  uint8_t dest[16];
  EXPECT_EQ(dev.GetShotFrame(dest, sizeof(dest)), 14);
  EXPECT_EQ(dev.GetStreamFrame(dest, sizeof(dest)), 14);
}

TEST(FrameBuffers, LargeFlagAtThreeMillionBytes) {
  CQLVSdkLib dev;
  // 3000 x 1024 pixels: 3072000 bytes in 8-bit mode.
  ASSERT_EQ(dev.AllocateFrameBuffers(3000, 0, 3000, 1024, 0, 1024, 2), 0);
  dev.UpdateLargeFlag();
  EXPECT_EQ(dev.LargeShot(), 1);
  EXPECT_EQ(dev.Block().large, 1);
  // One 1024-pixel block less is below the limit in 8-bit mode, above it in 16-bit mode.
  ASSERT_EQ(dev.AllocateFrameBuffers(2999, 0, 2999, 1024, 0, 1024, 2), 0);
  dev.UpdateLargeFlag();
  EXPECT_EQ(dev.LargeShot(), 0);
  EXPECT_EQ(dev.Block().large, 0);
  dev.SetWideTransfer(1);
  dev.UpdateLargeFlag();
  EXPECT_EQ(dev.LargeShot(), 1);
  // The whole sensor in 16-bit mode is not large.
  ASSERT_EQ(dev.AllocateFrameBuffers(752, 0, 752, 480, 0, 480, 4), 0);
  dev.UpdateLargeFlag();
  EXPECT_EQ(dev.LargeShot(), 0);
}

TEST(CopyWindow, WorkedExampleWithOffsets) {
  CQLVSdkLib dev;
  ASSERT_EQ(dev.AllocateFrameBuffers(10, 2, 6, 5, 1, 3, 4), 0);
  std::vector<uint8_t> raw(static_cast<size_t>(dev.RingBytes()));
  std::iota(raw.begin(), raw.end(), 0);
  std::vector<uint8_t> dest(20, 0xEE);
  EXPECT_EQ(dev.CopyWindow(dest.data(), raw.data()), 0);
  const uint8_t expected[18] = {12, 13, 14, 15, 16, 17, 22, 23, 24, 25, 26, 27, 32, 33, 34, 35, 36, 37};
  EXPECT_EQ(std::vector<uint8_t>(dest.begin(), dest.begin() + 18),
            std::vector<uint8_t>(expected, expected + 18));
  EXPECT_EQ(dest[18], 0xEE);

  // 16-bit pixels: the same pixels, two bytes each.
  dev.SetWideTransfer(1);
  std::vector<uint8_t> dest16(40, 0xEE);
  EXPECT_EQ(dev.CopyWindow(dest16.data(), raw.data()), 0);
  for (int i = 0; i < 18; ++i) {
    const int pixel = expected[i];
    EXPECT_EQ(dest16[2 * i], raw[2 * pixel]) << i;
    EXPECT_EQ(dest16[2 * i + 1], raw[2 * pixel + 1]) << i;
  }
  EXPECT_EQ(dest16[36], 0xEE);
}

TEST(CopyWindow, WholeFrameCopiesIgnorePadding) {
  CQLVSdkLib dev;
  ASSERT_EQ(dev.AllocateFrameBuffers(752, 0, 752, 480, 0, 480, 4), 0);
  std::vector<uint8_t> raw = PatternFrame(dev);
  {
    std::vector<uint8_t> dest(360960 + 8, 0xEE);
    EXPECT_EQ(dev.CopyWindow(dest.data(), raw.data()), 0);
    EXPECT_TRUE(std::equal(dest.begin(), dest.begin() + 360960, raw.begin()));
    EXPECT_EQ(dest[360960], 0xEE);
  }
  dev.SetWideTransfer(1);
  {
    std::vector<uint8_t> dest(721920 + 8, 0xEE);
    EXPECT_EQ(dev.CopyWindow(dest.data(), raw.data()), 0);
    EXPECT_TRUE(std::equal(dest.begin(), dest.begin() + 721920, raw.begin()));
    EXPECT_EQ(dest[721920], 0xEE);  // the 512 padding pixels are not copied
  }
  // Binning by 2 on the full window: 376 x 240.
  dev.SetWideTransfer(0);
  ASSERT_EQ(dev.AllocateFrameBuffers(376, 0, 376, 240, 0, 240, 4), 0);
  raw = PatternFrame(dev);
  std::vector<uint8_t> dest(90240 + 8, 0xEE);
  EXPECT_EQ(dev.CopyWindow(dest.data(), raw.data()), 0);
  EXPECT_TRUE(std::equal(dest.begin(), dest.begin() + 90240, raw.begin()));
  EXPECT_EQ(dest[90240], 0xEE);
}

TEST(CopyWindow, RefusesGeometryThatDoesNotMatchTheBuffers) {
  CQLVSdkLib dev;
  uint8_t dest[64];
  std::vector<uint8_t> raw(64);
  // Nothing allocated yet.
  EXPECT_NE(dev.CopyWindow(dest, raw.data()), 0);
  ASSERT_EQ(dev.AllocateFrameBuffers(10, 0, 10, 2, 0, 2, 2), 0);
  // The geometry defaults describe a 1339-pixel pitch the 2048-byte buffers cannot hold.
  dev.ResetGeometry();
  std::vector<uint8_t> big(static_cast<size_t>(dev.RingBytes()));
  std::vector<uint8_t> out(1280 * 1028 * 2);
  EXPECT_EQ(dev.CopyWindow(out.data(), big.data()), 14);
  EXPECT_EQ(dev.CopyWindow(nullptr, big.data()), 14);
}

TEST(CopyWindow, YuvAndInterlacedForms) {
  CQLVSdkLib dev;
  ASSERT_EQ(dev.AllocateFrameBuffers(4, 0, 4, 2, 0, 2, 2), 0);
  std::vector<uint8_t> raw(static_cast<size_t>(dev.RingBytes()));
  // Line 0: black then white (Y0 U Y1 V), line 1: pure red pair, pure blue pair.
  const uint8_t yuyv[16] = {16, 128, 16, 128, 235, 128, 235, 128,
                            81, 90, 81, 240, 41, 240, 41, 110};
  std::copy(yuyv, yuyv + 16, raw.begin());
  uint8_t bgr[4 * 2 * 3];
  ASSERT_EQ(dev.ConvertYuvFrame(bgr, raw.data(), 0, 0), 0);
  const uint8_t black[3] = {0, 0, 0}, white[3] = {255, 255, 255};
  EXPECT_TRUE(std::equal(black, black + 3, bgr + 0));
  EXPECT_TRUE(std::equal(white, white + 3, bgr + 9));
  // Red: B low, R high; blue: B high, R low (studio-range rounding tolerance of 2).
  EXPECT_LE(bgr[12], 2);
  EXPECT_GE(bgr[14], 253);
  EXPECT_GE(bgr[18], 253);
  EXPECT_LE(bgr[20], 2);
  // A sub-rectangle writes only its own pixels.
  uint8_t part[4 * 2 * 3];
  std::fill(part, part + sizeof(part), 0x55);
  ASSERT_EQ(dev.ConvertYuvWindow(part, raw.data(), 0, 0, 2, 0, 3, 0), 0);
  EXPECT_EQ(part[0], 0x55);
  EXPECT_TRUE(std::equal(white, white + 3, part + 6));
  EXPECT_EQ(part[12], 0x55);

  // Interlaced: even lines stored first, then the odd ones.
  ASSERT_EQ(dev.AllocateFrameBuffers(2, 0, 2, 4, 0, 4, 2), 0);
  std::vector<uint8_t> fields(static_cast<size_t>(dev.RingBytes()));
  const uint8_t stored[8] = {0, 0, 2, 2, 1, 1, 3, 3};  // lines 0, 2 | 1, 3
  std::copy(stored, stored + 8, fields.begin());
  uint8_t frame[8];
  ASSERT_EQ(dev.CopyInterlaced(frame, fields.data()), 0);
  const uint8_t expected[8] = {0, 0, 1, 1, 2, 2, 3, 3};
  EXPECT_TRUE(std::equal(expected, expected + 8, frame));
}

TEST(SensorTables, BlankingAndWindowRegisters) {
  size_t n = 5;
  EXPECT_EQ(SensorSequence(0x1234, &n), nullptr);
  EXPECT_EQ(n, 0u);

  EXPECT_EQ(HorizontalBlanking(752), 64);
  EXPECT_EQ(HorizontalBlanking(570), 64);
  EXPECT_EQ(HorizontalBlanking(376), 284);
  EXPECT_EQ(HorizontalBlanking(569), (663 - 569) & 0xFFFC);

  SensorWindow w = ComputeSensorWindow(0, 0, 752, 480, 1);
  EXPECT_EQ(w.columnStart, 1);
  EXPECT_EQ(w.rowStart, 4);
  EXPECT_EQ(w.height, 480);
  EXPECT_EQ(w.width, 752);
  w = ComputeSensorWindow(5, 3, 101, 77, 1);
  EXPECT_EQ(w.columnStart, 6);
  EXPECT_EQ(w.rowStart, 7);
  EXPECT_EQ(w.width, 102);
  EXPECT_EQ(w.height, 78);
  w = ComputeSensorWindow(5, 3, 101, 77, 2);
  EXPECT_EQ(w.columnStart, 9);
  EXPECT_EQ(w.rowStart, 8);
  EXPECT_EQ(w.width, 104);
  EXPECT_EQ(w.height, 80);
  w = ComputeSensorWindow(9, 1, 101, 77, 4);
  EXPECT_EQ(w.columnStart, 17);
  EXPECT_EQ(w.rowStart, 12);
  EXPECT_EQ(w.width, 104);
  EXPECT_EQ(w.height, 80);
}

}  // namespace
