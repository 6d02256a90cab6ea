// The AVI writer, white-box: every header field, chunks and index, and the finished file after a
// size limit or a failed write. Each file is also checked with ffprobe/ffmpeg on the Linux side.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "files_util.h"
#include "output/avi_writer.h"
#include "output/data_file.h"

using namespace files_test;

namespace {

const bool kManifestReset = DeleteFileA("files_out\\manifest.txt") != 0;

// Frame k, bottom row first, rows padded to 4 bytes.
std::vector<uint8_t> Frame(int w, int h, int k) {
  const size_t stride = (3 * static_cast<size_t>(w) + 3) & ~size_t{3};
  std::vector<uint8_t> f(stride * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) f[(h - 1 - y) * stride + 3 * x + c] = Byte(x + 7 * k, y, c);
  return f;
}

// What ffmpeg's bgr24 frames should be: top row first, no padding.
void AppendReference(std::vector<uint8_t>* ref, int w, int h, int k) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) ref->push_back(Byte(x + 7 * k, y, c));
}

std::string Id(const std::vector<uint8_t>& f, size_t at) {
  return std::string(reinterpret_cast<const char*>(f.data() + at), 4);
}

// Checks the whole layout of a finished file of n frames at the given rate.
void CheckFinished(const std::string& name, int w, int h, uint32_t n, uint32_t rate) {
  const std::vector<uint8_t> f = ReadAll(name);
  const uint32_t F = static_cast<uint32_t>(h) * ((3 * w + 3) & ~3);
  const size_t size = 232 + n * (8 + F) + 8 + 16 * n;
  ASSERT_EQ(f.size(), size) << name;
  struct Field {
    size_t at;
    const char* id;
    uint32_t value;
  };
  const Field fields[] = {
      {0, "RIFF", 0}, {4, nullptr, static_cast<uint32_t>(size - 8)}, {8, "AVI ", 0},
      {12, "LIST", 0}, {16, nullptr, 200}, {20, "hdrl", 0}, {24, "avih", 0}, {28, nullptr, 56},
      {32, nullptr, 100000000 / rate}, {40, nullptr, 0}, {44, nullptr, 0x10010},
      {48, nullptr, n}, {52, nullptr, 0}, {56, nullptr, 1}, {60, nullptr, F + 8},
      {64, nullptr, static_cast<uint32_t>(w)}, {68, nullptr, static_cast<uint32_t>(h)},
      {72, nullptr, 0}, {76, nullptr, 0}, {80, nullptr, 0}, {84, nullptr, 0},
      {88, "LIST", 0}, {92, nullptr, 124}, {96, "strl", 0}, {100, "strh", 0},
      {104, nullptr, 64}, {108, "vids", 0}, {112, "DIB ", 0}, {116, nullptr, 0},
      {120, nullptr, 0}, {124, nullptr, 0}, {128, nullptr, 1000000000 / rate},
      {132, nullptr, 10000000}, {136, nullptr, 0}, {140, nullptr, n}, {144, nullptr, F + 8},
      {148, nullptr, 0}, {152, nullptr, 0}, {156, nullptr, 0}, {160, nullptr, 0},
      {164, nullptr, 0}, {168, nullptr, 0}, {172, "strf", 0}, {176, nullptr, 40},
      {180, nullptr, 40}, {184, nullptr, static_cast<uint32_t>(w)},
      {188, nullptr, static_cast<uint32_t>(h)}, {192, nullptr, 1 | 24 << 16}, {196, nullptr, 0},
      {200, nullptr, 0}, {204, nullptr, 0}, {208, nullptr, 0}, {212, nullptr, 0},
      {216, nullptr, 0}, {220, "LIST", 0}, {224, nullptr, 4 + n * (8 + F)}, {228, "movi", 0}};
  for (const Field& field : fields) {
    if (field.id)
      EXPECT_EQ(Id(f, field.at), field.id) << name << " at " << field.at;
    else
      EXPECT_EQ(Get32(f, field.at), field.value) << name << " at " << field.at;
  }
  for (uint32_t k = 0; k < n; ++k) {
    const size_t at = 232 + k * (8 + F);
    EXPECT_EQ(Id(f, at), "00db") << k;
    EXPECT_EQ(Get32(f, at + 4), F) << k;
    const std::vector<uint8_t> expect = Frame(w, h, static_cast<int>(k));
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), f.begin() + at + 8)) << "frame " << k;
  }
  const size_t idx = 232 + n * (8 + F);
  EXPECT_EQ(Id(f, idx), "idx1");
  EXPECT_EQ(Get32(f, idx + 4), 16 * n);
  for (uint32_t k = 0; k < n; ++k) {
    const size_t e = idx + 8 + 16 * k;
    EXPECT_EQ(Id(f, e), "00db");
    EXPECT_EQ(Get32(f, e + 4), 0x10u);
    EXPECT_EQ(Get32(f, e + 8), 4 + k * (8 + F)) << k;
    EXPECT_EQ(Get32(f, e + 12), F);
  }
}

void ForProbe(const std::string& name, int w, int h, int n) {
  std::vector<uint8_t> ref;
  for (int k = 0; k < n; ++k) AppendReference(&ref, w, h, k);
  ASSERT_TRUE(WriteAll(name + ".ref", ref));
  Manifest("avi " + name + " " + std::to_string(n) + " " + name + ".ref " + std::to_string(w) +
           "x" + std::to_string(h));
}

}  // namespace

TEST(AviWriter, LayoutOfAFinishedFile) {
  struct Case {
    int w, h, frames;
    uint32_t rate;
  };
  // 94 wide gives 284-byte rows; width 1 pads each row from 3 to 4 bytes.
  for (const Case& c : {Case{94, 60, 5, 2500}, Case{1, 3, 2, 5600}, Case{160, 120, 1, 3000}}) {
    const std::string name = OutDir() + "avi_" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".avi";
    CAviWriter avi;
    ASSERT_EQ(avi.OpenAvi(name.c_str(), c.w, c.h), 1);
    EXPECT_EQ(avi.FrameBytes(), static_cast<uint32_t>(c.h * ((3 * c.w + 3) & ~3)));
    for (int k = 0; k < c.frames; ++k) {
      const std::vector<uint8_t> frame = Frame(c.w, c.h, k);
      ASSERT_EQ(avi.AddFrame(frame.data()), CAviWriter::kFrameAdded);
    }
    ASSERT_EQ(avi.FinishAvi(c.rate), 1);
    EXPECT_FALSE(avi.IsOpen());
    CheckFinished(name, c.w, c.h, static_cast<uint32_t>(c.frames), c.rate);
    ForProbe(name, c.w, c.h, c.frames);
  }
  EXPECT_EQ(CAviWriter().OpenAvi((OutDir() + "no such folder\\x.avi").c_str(), 8, 8), 0);
}

TEST(AviWriter, RateZeroAndNoFramesStillFinish) {
  const std::string name = OutDir() + "avi_empty.avi";
  CAviWriter avi;
  ASSERT_EQ(avi.OpenAvi(name.c_str(), 8, 8), 1);
  ASSERT_EQ(avi.FinishAvi(0), 1);
  CheckFinished(name, 8, 8, 0, 1);
}

TEST(AviWriter, SizeLimitEndsBeforeTheFileWouldPassIt) {
  const std::string name = OutDir() + "avi_limit.avi";
  const int w = 94, h = 60;
  const uint64_t F = h * 284;
  CAviWriter avi;
  // Exactly three frames and their index fit.
  avi.SetSizeLimit(232 + 3 * (8 + F) + 8 + 3 * 16);
  ASSERT_EQ(avi.OpenAvi(name.c_str(), w, h), 1);
  for (int k = 0; k < 3; ++k)
    ASSERT_EQ(avi.AddFrame(Frame(w, h, k).data()), CAviWriter::kFrameAdded) << k;
  EXPECT_EQ(avi.AddFrame(Frame(w, h, 3).data()), CAviWriter::kFrameTooLarge);
  ASSERT_EQ(avi.FinishAvi(3000), 1);
  CheckFinished(name, w, h, 3, 3000);
  ForProbe(name, w, h, 3);
}

TEST(AviWriter, FailedWriteLeavesAFinishedFileOfTheFramesBefore) {
  const std::string name = OutDir() + "avi_failed.avi";
  const int w = 94, h = 60;
  const int64_t F = h * 284;
  CAviWriter avi;
  ASSERT_EQ(avi.OpenAvi(name.c_str(), w, h), 1);
  CDataFile::SetWriteBudgetForTest(2 * (8 + F) + F / 2);
  EXPECT_EQ(avi.AddFrame(Frame(w, h, 0).data()), CAviWriter::kFrameAdded);
  EXPECT_EQ(avi.AddFrame(Frame(w, h, 1).data()), CAviWriter::kFrameAdded);
  EXPECT_EQ(avi.AddFrame(Frame(w, h, 2).data()), CAviWriter::kFrameFailed);
  EXPECT_EQ(avi.AddFrame(Frame(w, h, 3).data()), CAviWriter::kFrameFailed);
  CDataFile::SetWriteBudgetForTest(-1);
  EXPECT_EQ(avi.FinishAvi(2000), 0);  // reported, but the file is whole
  CheckFinished(name, w, h, 2, 2000);
  ForProbe(name, w, h, 2);
}

TEST(AviWriter, ReopeningClosesTheEarlierFile) {
  const std::string first = OutDir() + "avi_first.avi", second = OutDir() + "avi_second.avi";
  CAviWriter avi;
  ASSERT_EQ(avi.OpenAvi(first.c_str(), 4, 4), 1);
  ASSERT_EQ(avi.AddFrame(Frame(4, 4, 0).data()), CAviWriter::kFrameAdded);
  ASSERT_EQ(avi.OpenAvi(second.c_str(), 4, 4), 1);
  EXPECT_EQ(avi.FrameCount(), 0u);
  HANDLE h = CreateFileA(first.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}
