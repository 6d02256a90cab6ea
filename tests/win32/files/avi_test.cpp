// The AVI writer, white-box: every header field, chunks and indexes, single-chunk and OpenDML
// files (with a lowered chunk limit), and the finished file after a failed write. Each file is
// also read back with the system's AVI reader here and with ffprobe/ffmpeg on the Linux side.
#include <gtest/gtest.h>
#include <windows.h>
#include <vfw.h>

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

struct Field {
  size_t at;
  const char* id;
  uint32_t value;
};

void CheckFields(const std::vector<uint8_t>& f, const std::string& name, const Field* begin, const Field* end) {
  for (const Field* field = begin; field != end; ++field) {
    if (field->id)
      EXPECT_EQ(Id(f, field->at), field->id) << name << " at " << field->at;
    else
      EXPECT_EQ(Get32(f, field->at), field->value) << name << " at " << field->at;
  }
}

// The main and stream headers up to the end of the format, the same in both kinds of file.
void CheckHeader(const std::vector<uint8_t>& f, const std::string& name, int w, int h, uint32_t rate,
                 uint32_t riff, uint32_t hdrl, uint32_t strl, uint32_t mainFrames, uint32_t streamFrames) {
  const uint32_t F = static_cast<uint32_t>(h) * ((3 * w + 3) & ~3);
  const Field fields[] = {
      {0, "RIFF", 0}, {4, nullptr, riff}, {8, "AVI ", 0},
      {12, "LIST", 0}, {16, nullptr, hdrl}, {20, "hdrl", 0}, {24, "avih", 0}, {28, nullptr, 56},
      {32, nullptr, 100000000 / rate}, {40, nullptr, 0}, {44, nullptr, 0x10010},
      {48, nullptr, mainFrames}, {52, nullptr, 0}, {56, nullptr, 1}, {60, nullptr, F + 8},
      {64, nullptr, static_cast<uint32_t>(w)}, {68, nullptr, static_cast<uint32_t>(h)},
      {72, nullptr, 0}, {76, nullptr, 0}, {80, nullptr, 0}, {84, nullptr, 0},
      {88, "LIST", 0}, {92, nullptr, strl}, {96, "strl", 0}, {100, "strh", 0},
      {104, nullptr, 64}, {108, "vids", 0}, {112, "DIB ", 0}, {116, nullptr, 0},
      {120, nullptr, 0}, {124, nullptr, 0}, {128, nullptr, 1000000000 / rate},
      {132, nullptr, 10000000}, {136, nullptr, 0}, {140, nullptr, streamFrames}, {144, nullptr, F + 8},
      {148, nullptr, 0}, {152, nullptr, 0}, {156, nullptr, 0}, {160, nullptr, 0},
      {164, nullptr, 0}, {168, nullptr, 0}, {172, "strf", 0}, {176, nullptr, 40},
      {180, nullptr, 40}, {184, nullptr, static_cast<uint32_t>(w)},
      {188, nullptr, static_cast<uint32_t>(h)}, {192, nullptr, 1 | 24 << 16}, {196, nullptr, 0},
      {200, nullptr, 0}, {204, nullptr, 0}, {208, nullptr, 0}, {212, nullptr, 0}, {216, nullptr, 0}};
  CheckFields(f, name, std::begin(fields), std::end(fields));
}

// Frame chunks at, checked against frames first, first + 1, ...
void CheckFrames(const std::vector<uint8_t>& f, size_t at, int w, int h, uint32_t first, uint32_t count) {
  const uint32_t F = static_cast<uint32_t>(h) * ((3 * w + 3) & ~3);
  for (uint32_t k = 0; k < count; ++k, at += 8 + F) {
    ASSERT_LE(at + 8 + F, f.size());
    EXPECT_EQ(Id(f, at), "00db") << first + k;
    EXPECT_EQ(Get32(f, at + 4), F) << first + k;
    const std::vector<uint8_t> expect = Frame(w, h, static_cast<int>(first + k));
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), f.begin() + at + 8)) << "frame " << first + k;
  }
}

// "idx1" at, of count frames whose chunks start 4 bytes into the movie list.
void CheckLegacyIndex(const std::vector<uint8_t>& f, size_t at, uint32_t F, uint32_t count) {
  EXPECT_EQ(Id(f, at), "idx1");
  EXPECT_EQ(Get32(f, at + 4), 16 * count);
  for (uint32_t k = 0; k < count; ++k) {
    const size_t e = at + 8 + 16 * k;
    EXPECT_EQ(Id(f, e), "00db");
    EXPECT_EQ(Get32(f, e + 4), 0x10u);
    EXPECT_EQ(Get32(f, e + 8), 4 + k * (8 + F)) << k;
    EXPECT_EQ(Get32(f, e + 12), F);
  }
}

// Checks the whole layout of a finished single-chunk file of n frames at the given rate.
void CheckFinished(const std::string& name, int w, int h, uint32_t n, uint32_t rate) {
  const std::vector<uint8_t> f = ReadAll(name);
  const uint32_t F = static_cast<uint32_t>(h) * ((3 * w + 3) & ~3);
  const size_t size = 232 + n * (8 + F) + 8 + 16 * n;
  ASSERT_EQ(f.size(), size) << name;
  CheckHeader(f, name, w, h, rate, static_cast<uint32_t>(size - 8), 200, 124, n, n);
  const Field movi[] = {{220, "LIST", 0}, {224, nullptr, 4 + n * (8 + F)}, {228, "movi", 0}};
  CheckFields(f, name, std::begin(movi), std::end(movi));
  CheckFrames(f, 232, w, h, 0, n);
  CheckLegacyIndex(f, 232 + n * (8 + F), F, n);
}

// Checks an OpenDML file field by field: RIFF chunks covering the file (none but the first past
// the limit), header with super index and total, each chunk's frames and standard index, the
// first chunk's "idx1". Returns the frames per chunk.
std::vector<uint32_t> CheckOpenDml(const std::string& name, int w, int h, uint32_t n, uint32_t rate,
                                   uint64_t limit) {
  const std::vector<uint8_t> f = ReadAll(name);
  const uint32_t F = static_cast<uint32_t>(h) * ((3 * w + 3) & ~3);
  std::vector<size_t> riffs;
  for (size_t at = 0; at + 12 <= f.size(); at += 8 + static_cast<size_t>(Get32(f, at + 4))) {
    EXPECT_EQ(Id(f, at), "RIFF") << at;
    EXPECT_EQ(Id(f, at + 8), riffs.empty() ? "AVI " : "AVIX") << at;
    if (!riffs.empty()) {
      EXPECT_LE(8 + Get32(f, at + 4), limit) << "chunk " << riffs.size();
    }
    riffs.push_back(at);
    if (Id(f, at) != "RIFF") return {};
  }
  const uint32_t E = static_cast<uint32_t>(riffs.size());
  EXPECT_EQ(8 + riffs.back() + Get32(f, riffs.back() + 4), f.size()) << "chunks cover the file";
  EXPECT_GE(E, 2u);
  if (E < 2 || ::testing::Test::HasFailure()) return {};

  // Header: the single-chunk one with a super index in the stream list and the total after it.
  const uint32_t grow = 300 + 16 * E;
  const size_t moviList = 220 + grow;
  std::vector<uint32_t> perChunk;
  for (uint32_t k = 0; k < E; ++k) perChunk.push_back(Get32(f, 220 + 32 + 16 * k + 12));
  CheckHeader(f, name, w, h, rate, Get32(f, 4), 200 + grow, 156 + 16 * E, perChunk[0], perChunk[0]);
  const Field ext[] = {{220, "indx", 0}, {224, nullptr, 24 + 16 * E}, {228, nullptr, 4}, {232, nullptr, E},
                       {236, "00db", 0}, {240, nullptr, 0}, {244, nullptr, 0}, {248, nullptr, 0},
                       {252 + 16 * E, "LIST", 0}, {256 + 16 * E, nullptr, 260}, {260 + 16 * E, "odml", 0},
                       {264 + 16 * E, "dmlh", 0}, {268 + 16 * E, nullptr, 248}, {272 + 16 * E, nullptr, n}};
  CheckFields(f, name, std::begin(ext), std::end(ext));
  for (size_t at = 276 + 16 * E; at < moviList; at += 4) EXPECT_EQ(Get32(f, at), 0u) << at;

  uint32_t first = 0;
  for (uint32_t k = 0; k < E; ++k) {
    const size_t list = k == 0 ? moviList : riffs[k] + 12;
    const uint32_t frames = perChunk[k];
    EXPECT_GT(frames, 0u) << k;
    EXPECT_EQ(Id(f, list), "LIST");
    EXPECT_EQ(Id(f, list + 8), "movi");
    const uint32_t ixBytes = 32 + 8 * frames;
    EXPECT_EQ(Get32(f, list + 4), 4 + frames * (8 + F) + ixBytes) << "movi size of chunk " << k;
    CheckFrames(f, list + 12, w, h, first, frames);
    // Standard index at the end of the movie list, where the super index says.
    const size_t ix = list + 12 + static_cast<size_t>(frames) * (8 + F);
    const size_t entry = 220 + 32 + 16 * k;
    EXPECT_EQ(Get32(f, entry), ix) << k;
    EXPECT_EQ(Get32(f, entry + 4), 0u) << k;
    EXPECT_EQ(Get32(f, entry + 8), ixBytes) << k;
    const Field stdIndex[] = {{ix, "ix00", 0}, {ix + 4, nullptr, ixBytes - 8}, {ix + 8, nullptr, 2 | 1 << 24},
                         {ix + 12, nullptr, frames}, {ix + 16, "00db", 0},
                         {ix + 20, nullptr, static_cast<uint32_t>(list + 8)}, {ix + 24, nullptr, 0}, {ix + 28, nullptr, 0}};
    CheckFields(f, name, std::begin(stdIndex), std::end(stdIndex));
    for (uint32_t j = 0; j < frames; ++j) {
      EXPECT_EQ(Get32(f, ix + 32 + 8 * j) + list + 8, list + 12 + j * (8 + F) + 8) << k << "/" << j;
      EXPECT_EQ(Get32(f, ix + 36 + 8 * j), F) << k << "/" << j;
    }
    const size_t after = ix + ixBytes;
    const size_t chunkEnd = riffs[k] + 8 + Get32(f, riffs[k] + 4);
    if (k == 0) {
      // The first chunk stays a whole AVI 1.0 file of its frames; the rest of it is padding.
      CheckLegacyIndex(f, after, F, frames);
      const size_t junk = after + 8 + 16 * frames;
      EXPECT_EQ(Id(f, junk), "JUNK");
      EXPECT_EQ(junk + 8 + Get32(f, junk + 4), chunkEnd);
    } else {
      EXPECT_EQ(after, chunkEnd) << "nothing after the movie list of chunk " << k;
    }
    first += frames;
  }
  EXPECT_EQ(first, n);
  return perChunk;
}

// Reads the file with the system's AVI reader: every frame it reports, compared with what was
// written. Returns the number of frames it reports (-1 when it cannot open the file).
int ReadWithSystemReader(const std::string& name, int w, int h) {
  AVIFileInit();
  int frames = -1;
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  if (AVIFileOpenA(&file, name.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0 &&
      AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
    const LONG start = AVIStreamStart(stream), length = AVIStreamLength(stream);
    EXPECT_EQ(start, 0) << name;
    frames = length;
    std::vector<uint8_t> buffer(static_cast<size_t>(h) * ((3 * w + 3) & ~3));
    for (LONG k = 0; k < length; ++k) {
      LONG bytes = 0, samples = 0;
      const HRESULT hr = AVIStreamRead(stream, start + k, 1, buffer.data(), static_cast<LONG>(buffer.size()),
                                       &bytes, &samples);
      EXPECT_EQ(hr, 0) << name << " frame " << k;
      EXPECT_EQ(bytes, static_cast<LONG>(buffer.size())) << name << " frame " << k;
      if (hr != 0 || bytes != static_cast<LONG>(buffer.size())) break;
      EXPECT_TRUE(buffer == Frame(w, h, static_cast<int>(k))) << name << " frame " << k;
    }
  }
  if (stream) AVIStreamRelease(stream);
  if (file) AVIFileRelease(file);
  AVIFileExit();
  return frames;
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

// Chunked files through a limit that fits exactly three 94 x 60 frames per chunk: the first as an
// AVI 1.0 file with its "idx1", each later one with its "RIFF AVIX" header and "ix00".
TEST(AviWriter, ChunksPastTheLimit) {
  const int w = 94, h = 60;
  const uint64_t F = h * 284;
  const uint64_t limit = 232 + 3 * (8 + F) + 8 + 3 * 16;
  struct Case {
    const char* name;
    int frames;          // offered
    uint32_t maxChunks;  // room in the super index
    int failAt;          // frame whose successor's write fails, -1 for none
    int written;         // frames in the finished file
    std::vector<uint32_t> chunks;
  };
  const Case cases[] = {
      {"one", 3, CAviWriter::kMaxChunks, -1, 3, {3}},
      {"two", 4, CAviWriter::kMaxChunks, -1, 4, {3, 1}},
      {"five", 13, CAviWriter::kMaxChunks, -1, 13, {3, 3, 3, 3, 1}},
      // No room for a third chunk: the file ends like the old 4 GB end.
      {"full", 9, 2, -1, 6, {3, 3}},
      // A failed write in the third chunk: the file ends with the frame before.
      {"failed", 9, CAviWriter::kMaxChunks, 7, 8, {3, 3, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = OutDir() + "avi_chunks_" + c.name + ".avi";
    CAviWriter avi;
    avi.SetChunkLimit(limit, c.maxChunks);
    ASSERT_EQ(avi.OpenAvi(name.c_str(), w, h), 1);
    int added = 0;
    for (int k = 0; k < c.frames; ++k) {
      if (k == c.failAt) CDataFile::SetWriteBudgetForTest(static_cast<int64_t>(8 + F + F / 2));
      const int r = avi.AddFrame(Frame(w, h, k).data());
      EXPECT_EQ(r, k < c.written ? CAviWriter::kFrameAdded
                   : c.failAt >= 0 ? CAviWriter::kFrameFailed
                                   : CAviWriter::kFrameTooLarge) << k;
      added += r == CAviWriter::kFrameAdded;
    }
    CDataFile::SetWriteBudgetForTest(-1);
    EXPECT_EQ(added, c.written);
    EXPECT_EQ(avi.ChunkCount(), c.chunks.size());
    EXPECT_EQ(avi.FinishAvi(2500), c.failAt < 0 ? 1 : 0);
    const uint32_t n = static_cast<uint32_t>(c.written);
    if (c.chunks.size() == 1)
      CheckFinished(name, w, h, n, 2500);  // byte for byte the single-chunk file
    else
      EXPECT_EQ(CheckOpenDml(name, w, h, n, 2500, limit), c.chunks);
    // The system's reader sees at least the first chunk, and every frame it sees is right.
    EXPECT_GE(ReadWithSystemReader(name, w, h), static_cast<int>(c.chunks[0]));
    ForProbe(name, w, h, c.written);
  }
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
