// The camera lost while recording, and the long preview soak: callback preview at the full
// window and rate with image settings changing and images read, every frame the camera made
// delivered, and handles, threads and memory flat.
#include <cstdio>
#include <string>
#include <vector>

#include "reliability/reliability.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<uint8_t> ReadFileBytes(const std::string& name) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

// Whether nobody holds the file open any more (an exclusive open succeeds).
bool FileClosed(const std::string& name) {
  HANDLE f = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  return true;
}

// Walks an AVI file chunk by chunk and checks that it is finished and consistent: the RIFF size
// covers the file, the frame counts of both headers equal the frame chunks in "movi" and the
// "idx1" entries, and each entry points at its chunk. Returns the frame count, -1 if broken.
int FinishedAviFrames(const std::vector<uint8_t>& f, uint32_t frameBytes, std::string* why) {
  auto tag = [&](size_t at) { return std::string(reinterpret_cast<const char*>(&f[at]), 4); };
  if (f.size() < 240 || tag(0) != "RIFF" || tag(8) != "AVI ") return *why = "no RIFF AVI header", -1;
  if (Le32(f, 4) != f.size() - 8) return *why = "RIFF size " + std::to_string(Le32(f, 4)) + " for a file of " + std::to_string(f.size()), -1;
  size_t at = 12, movi = 0, moviEnd = 0, idx = 0;
  while (at + 8 <= f.size()) {
    const uint32_t size = Le32(f, at + 4);
    if (tag(at) == "LIST" && tag(at + 8) == "movi") movi = at + 8, moviEnd = at + 8 + size;
    if (tag(at) == "idx1") idx = at;
    at += 8 + size + (size & 1);
  }
  if (at != f.size()) return *why = "chunks overrun the file", -1;
  if (!movi || !idx || moviEnd > f.size()) return *why = "no movi list or no index", -1;
  uint32_t chunks = 0;
  for (size_t c = movi + 4; c + 8 <= moviEnd; c += 8 + Le32(f, c + 4), ++chunks) {
    if (tag(c) != "00db" || Le32(f, c + 4) != frameBytes) return *why = "bad frame chunk " + std::to_string(chunks), -1;
  }
  const uint32_t entries = Le32(f, idx + 4) / 16;
  if (Le32(f, 48) != chunks || Le32(f, 140) != chunks || entries != chunks) {
    return *why = "frames: avih " + std::to_string(Le32(f, 48)) + ", strh " + std::to_string(Le32(f, 140)) +
                  ", chunks " + std::to_string(chunks) + ", index " + std::to_string(entries),
           -1;
  }
  for (uint32_t k = 0; k < entries; ++k) {
    const size_t e = idx + 8 + 16 * k;
    if (tag(e) != "00db" || tag(movi + Le32(f, e + 8)) != "00db") return *why = "index entry " + std::to_string(k) + " misplaced", -1;
  }
  return static_cast<int>(chunks);
}

class RecordingLost : public Acquisition {};

TEST_F(RecordingLost, FileFinishedStopPromptCameraBack) {
  CreateDirectoryA("reliability_out", nullptr);
  const std::string name = "reliability_out\\lost.avi";
  DeleteFileA(name.c_str());
  ASSERT_EQ(Qelvan_Record(h_, name.c_str(), 60000, 0), 1);
  ASSERT_TRUE(WaitCameraFrames(15)) << "no frames while recording";
  ASSERT_EQ(vcamctl_detach(0), 0u);
  // The counters are cleared by the next attach: read what the camera gave before it.
  const uint32_t cameraFrames = Camera().frames_delivered;

  std::vector<int> errors;
  EXPECT_TRUE(WaitUntil([&] {
    for (int e : Errors()) errors.push_back(e);
    return std::find(errors.begin(), errors.end(), ERR_DEVICE_LOST) != errors.end();
  }, 30000)) << "the loss is not in the error history";

  const DWORD start = GetTickCount();
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  const DWORD took = GetTickCount() - start;
  EXPECT_LT(took, 3000u + 15000u) << "stop hung";

  ASSERT_TRUE(WaitUntil([&] { return FileClosed(name); }, 30000)) << "the recording file stays open";
  std::string why;
  const int frames = FinishedAviFrames(ReadFileBytes(name), 480 * ((3 * 752 + 3) & ~3), &why);
  EXPECT_GE(frames, 1) << why;
  // Only frames the camera gave can be in it, and most of them are (it samples every 10 ms).
  EXPECT_LE(static_cast<uint32_t>(frames), cameraFrames);

  ASSERT_EQ(vcamctl_attach(0, 0, 0), 0u);
  EXPECT_EQ(Qelvan_SetDeviceNumber(h_, 0), 1);
  Errors();
  seen_.clear();
  std::vector<uint8_t> buffer(kFrameBytes);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), kFrameBytes, 1), 1);
  EXPECT_TRUE(WaitFrames(3)) << "no frames after re-attach";
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);

  ASSERT_EQ(Qelvan_Release(h_), 1);
  opened_.clear();
  EXPECT_TRUE(HandlesSettleAt(0)) << CameraHandles() << " driver handles left open";
  vcam_driver_info info = {};
  vcamctl_driver_info(&info);
  EXPECT_EQ(info.pending_reads, 0u);
  EXPECT_TRUE(ThreadsBackToStart());
  Figure("camera-lost recording: " + std::to_string(frames) + " of " + std::to_string(cameraFrames) +
         " camera frames in the finished AVI, stop took " + std::to_string(took) + " ms");
}

class Soak : public Acquisition {};

TEST_F(Soak, CallbackPreviewLosesNoFrame) {
  const int seconds = StressSeconds() > 0 ? StressSeconds() : 30;
  std::vector<uint8_t> buffer(kFrameBytes), image(kFrameBytes);
  ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 752, 480, 0, 480), 1);
  const uint32_t cameraStart = Camera().frames_delivered;
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), kFrameBytes, 1), 1);

  uint32_t delivered = 0, errorsPosted = 0, images = 0, filterChanges = 0;
  auto pump = [&](DWORD ms) {
    WaitMessage([&](const CameraMessage& m) {
      if (m.message == WM_CAMERA_FRAME && m.wParam) ++delivered;
      else ++errorsPosted;
      return false;
    }, ms);
    seen_.clear();
  };
  // The figures are taken once the stream and Wine's own threads have settled.
  pump(2000);
  const int threads0 = ThreadCount();
  const uintptr_t handle0 = FreshHandleValue();
  const size_t memory0 = PrivateBytes();
  int threadsMax = threads0;

  const DWORD began = GetTickCount();
  for (int second = 1; GetTickCount() - began < static_cast<DWORD>(seconds) * 1000; ++second) {
    pump(began + second * 1000 - GetTickCount() > 1000 ? 1000 : began + second * 1000 - GetTickCount());
    // One image setting each second, cycling through brightness, contrast, gamma and sharpness.
    const int value = second % 7 - 3;
    switch (second % 4) {
      case 0: EXPECT_EQ(Qelvan_SetBrightness(h_, value * 20), 1); break;
      case 1: EXPECT_EQ(Qelvan_SetContrast(h_, value * 20), 1); break;
      case 2: EXPECT_EQ(Qelvan_SetGamma(h_, 100 + value * 20), 1); break;
      default: EXPECT_EQ(Qelvan_SetSharpness(h_, second % 3), 1); break;
    }
    ++filterChanges;
    if (second % 5 == 0) {
      EXPECT_EQ(Qelvan_GetImage(h_, image.data(), kFrameBytes, 1), 1);
      ++images;
    }
    threadsMax = std::max(threadsMax, ThreadCount());
  }

  // Hold the camera back, then count: every frame it made must have reached this window.
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_STALL, 0), 0u);
  uint32_t made = 0;
  WaitUntil([&] {
    made = Camera().frames_delivered - cameraStart;
    pump(50);
    return delivered >= made && Camera().frames_delivered - cameraStart == made;
  }, 15000);
  pump(300);
  made = Camera().frames_delivered - cameraStart;
  const long lost = static_cast<long>(made) - static_cast<long>(delivered);
  EXPECT_EQ(lost, 0) << made << " frames made, " << delivered << " delivered";
  EXPECT_EQ(errorsPosted, 0u);
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  ASSERT_EQ(vcamctl_fault(0, VCAM_FAULT_CLEAR, 0), 0u);

  const long handleGrowth = static_cast<long>(FreshHandleValue()) - static_cast<long>(handle0);
  const long memoryGrowthKb = (static_cast<long>(PrivateBytes()) - static_cast<long>(memory0)) / 1024;
  // A few pages of slack for the heap's own growth; a leak of one frame buffer per image or
  // setting change would pass it within the run.
  EXPECT_LE(handleGrowth, 8);
  EXPECT_LT(memoryGrowthKb, 1024);
  EXPECT_LE(threadsMax, threads0 + 1);
  Figure("soak: " + std::to_string(seconds) + " s callback preview 752x480, " + std::to_string(made) +
         " frames made, " + std::to_string(delivered) + " delivered, lost " + std::to_string(lost) + ", " +
         std::to_string(filterChanges) + " setting changes, " + std::to_string(images) + " images; growth: handles " +
         std::to_string(handleGrowth / 4) + ", memory " + std::to_string(memoryGrowthKb) + " KB, threads " +
         std::to_string(threadsMax - threads0));
}

}  // namespace
