// SaveImage and Record end to end against the virtual camera (static scene), compared with
// Qelvan_GetImage of the same frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "../acquisition/acquisition_fixture.h"
#include "files_util.h"
#include "output/image_files.h"

using namespace files_test;

namespace {

const uint16_t kBits[] = {8, 16, 24, 32, 48, 64};

struct Image {
  int w = 0, h = 0, stride = 0, bits = 0;
  std::vector<uint8_t> top_down;
  const uint8_t* Row(int y) const { return top_down.data() + static_cast<size_t>(y) * stride; }
};

Image Current(QelvanHandle h, int bits, int w = 752, int hgt = 480) {
  Image img;
  img.w = w, img.h = hgt, img.bits = bits;
  img.stride = (w * (bits / 8) + 3) & ~3;
  img.top_down.assign(static_cast<size_t>(img.stride) * hgt, 0);
  if (!Qelvan_GetImage(h, img.top_down.data(), static_cast<int>(img.top_down.size()), 1)) img.top_down.clear();
  return img;
}

// The 24-bit bottom-up AVI frame expected from an image: 8 bits spread to gray, 10-bit samples
// to their top eight bits, the fourth channel dropped.
std::vector<uint8_t> AviFrame(const Image& img) {
  const size_t stride = (3 * static_cast<size_t>(img.w) + 3) & ~size_t{3};
  std::vector<uint8_t> f(stride * img.h, 0);
  for (int r = 0; r < img.h; ++r) {
    const uint8_t* s = img.Row(img.h - 1 - r);
    uint8_t* d = f.data() + r * stride;
    for (int x = 0; x < img.w; ++x)
      for (int c = 0; c < 3; ++c) {
        uint8_t v;
        switch (img.bits) {
          case 8: v = s[x]; break;
          case 16: v = static_cast<uint8_t>(Get16(img.top_down, (s - img.top_down.data()) + 2 * x) >> 2); break;
          case 24: v = s[3 * x + c]; break;
          case 32: v = s[4 * x + c]; break;
          default: {
            const size_t at = (s - img.top_down.data()) + (img.bits / 8) * x + 2 * c;
            v = static_cast<uint8_t>(Get16(img.top_down, at) >> 2);
          }
        }
        d[3 * x + c] = v;
      }
  }
  return f;
}

// A file that is finished and closed: it opens without sharing.
bool Closed(const std::string& name) {
  HANDLE f = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  return true;
}

// Checks a finished AVI: sizes, counts, index; returns the frame count (-1 when broken).
int CheckAvi(const std::string& name, int w, int h, std::vector<uint8_t>* first = nullptr) {
  const std::vector<uint8_t> f = ReadAll(name);
  const uint32_t F = static_cast<uint32_t>(h) * ((3 * w + 3) & ~3);
  if (f.size() < 240) return -1;
  const uint32_t n = Get32(f, 48);
  EXPECT_EQ(Get32(f, 140), n) << name;
  EXPECT_EQ(Get32(f, 4), f.size() - 8) << name;
  EXPECT_EQ(Get32(f, 64), static_cast<uint32_t>(w)) << name;
  EXPECT_EQ(Get32(f, 68), static_cast<uint32_t>(h)) << name;
  EXPECT_EQ(Get32(f, 60), F + 8) << name;
  EXPECT_EQ(Get32(f, 224), 4 + n * (8 + F)) << name;
  const size_t idx = 232 + static_cast<size_t>(n) * (8 + F);
  if (f.size() != idx + 8 + 16 * n) {
    ADD_FAILURE() << name << " size " << f.size() << " for " << n << " frames";
    return -1;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[idx]), 4), "idx1");
  EXPECT_EQ(Get32(f, idx + 4), 16 * n);
  for (uint32_t k = 0; k < n; ++k) EXPECT_EQ(Get32(f, idx + 16 + 16 * k), 4 + k * (8 + F)) << k;
  // The measured timing: microseconds per frame and scale agree.
  if (n > 0) {
    EXPECT_NEAR(Get32(f, 128) / 10.0, Get32(f, 32), 1.0) << name;
  }
  if (first && n > 0) first->assign(f.begin() + 240, f.begin() + 240 + F);
  Manifest("avicount " + name + " " + std::to_string(n));
  return static_cast<int>(n);
}

class CameraFiles : public Acquisition {
 protected:
  void SetUp() override {
    Acquisition::SetUp();
    ASSERT_EQ(vcamctl_scene(0, 0), 0u);
  }
  bool WaitClosed(const std::string& name) {
    return WaitUntil([&] { return Closed(name); }, 30000);
  }
};

}  // namespace

TEST_F(CameraFiles, SaveEveryColourTypeAndCode) {
  for (uint16_t bits : kBits) {
    ASSERT_EQ(Qelvan_SetColorMode(h_, bits), 1);
    ASSERT_EQ(Qelvan_Capture(h_), 1) << bits;
    std::vector<uint8_t> shot(752 * 480 * 8);
    ASSERT_EQ(Qelvan_SnapShot(h_, shot.data(), static_cast<int>(shot.size()), 1), 1) << bits;
    const Image img = Current(h_, bits);
    ASSERT_FALSE(img.top_down.empty());
    for (int type = 0; type <= 6; ++type) {
      const std::string name = OutDir() + "cam_" + std::to_string(bits) + "." + std::to_string(type);
      ASSERT_EQ(Qelvan_SaveImage(h_, name.c_str(), type), 1) << bits << " " << type;
      const std::vector<uint8_t> f = ReadAll(name);
      if (type == 0) {
        const size_t off = bits == 8 ? 1078 : 54;
        ASSERT_EQ(f.size(), off + img.top_down.size());
        for (int r = 0; r < img.h; ++r)
          ASSERT_TRUE(std::equal(img.Row(img.h - 1 - r), img.Row(img.h - 1 - r) + img.stride, f.begin() + off + r * img.stride))
              << bits << " row " << r;
      } else if (type == 1) {
        EXPECT_TRUE(f == img.top_down) << bits;
      } else if (type == 5 || type == 6) {
        // The same bytes as the writers make of this image directly.
        CDibImage copy;
        ASSERT_EQ(copy.Create(img.w, img.h, bits), 1);
        std::copy(img.top_down.begin(), img.top_down.end(), copy.Pixels());
        const std::string direct = name + ".direct";
        ASSERT_EQ(output::SaveImageFile(direct.c_str(), &copy, type), 1);
        EXPECT_TRUE(ReadAll(direct) == f) << bits << " " << type;
      }
    }
    ASSERT_EQ(Qelvan_StopPreview(h_), 1);
  }
}

TEST_F(CameraFiles, SaveStatesAndRefusals) {
  const std::string name = OutDir() + "state.bmp";
  DeleteFileA(name.c_str());
  // Before any frame: the narrow form refuses; the wide form saves the prepared (blank) image.
  EXPECT_EQ(Qelvan_SaveImage(h_, name.c_str(), 0), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ERR_NOT_READY});
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  const std::wstring wide = L"files_out\\state_w.bmp";
  EXPECT_EQ(Qelvan_SaveImageW(h_, wide.c_str(), 0), 1);
  EXPECT_EQ(ReadAll("files_out\\state_w.bmp").size(), 1078u + 752 * 480);
  std::vector<uint8_t> shot(752 * 480);
  ASSERT_EQ(Qelvan_SnapShot(h_, shot.data(), static_cast<int>(shot.size()), 1), 1);
  // Unknown code, missing folder: 0, nothing recorded, no file.
  EXPECT_EQ(Qelvan_SaveImage(h_, name.c_str(), 7), 0);
  EXPECT_EQ(Qelvan_SaveImage(h_, "files_out\\no such folder\\x.bmp", 0), 0);
  EXPECT_EQ(Qelvan_SaveImage(h_, nullptr, 0), 0);
  EXPECT_TRUE(Errors().empty());
  EXPECT_FALSE(Exists(name));
  // A wide name that needs the whole conversion buffer.
  EXPECT_EQ(Qelvan_SaveImageW(h_, std::wstring(1023, L'a').c_str(), 0), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ERR_NOT_READY});
  // A destination whose writes fail, when Wine opens one.
  if (Qelvan_SaveImage(h_, "Z:\\dev\\full", 1) == 0) {
    for (int type = 0; type <= 6; ++type) EXPECT_EQ(Qelvan_SaveImage(h_, "Z:\\dev\\full", type), 0) << type;
  }
  EXPECT_EQ(Qelvan_SaveImage(h_, name.c_str(), 0), 1);
  ASSERT_EQ(Qelvan_Close(h_), 1);
  EXPECT_EQ(Qelvan_SaveImage(h_, name.c_str(), 0), 0);
  EXPECT_EQ(Errors().front(), ERR_NOT_READY);
}

TEST_F(CameraFiles, RecordTwoSecondsPerColourType) {
  for (uint16_t bits : {8, 16, 24, 64}) {
    ASSERT_EQ(Qelvan_SetColorMode(h_, bits), 1);
    const std::string name = OutDir() + "rec_" + std::to_string(bits) + ".avi";
    const DWORD t0 = GetTickCount();
    ASSERT_EQ(Qelvan_Record(h_, name.c_str(), 2000, 0), 1) << bits;
    ASSERT_TRUE(WaitClosed(name)) << bits;
    const DWORD took = GetTickCount() - t0;
    EXPECT_GE(took, 2000u);
    const Image img = Current(h_, bits);
    ASSERT_FALSE(img.top_down.empty());
    std::vector<uint8_t> first;
    const int n = CheckAvi(name, 752, 480, &first);
    // Frames come at about 56 per second; a loaded machine may skip some.
    EXPECT_GE(n, 40) << bits;
    EXPECT_LE(n, 2 * 56 * static_cast<int>(took) / 1000) << bits;
    EXPECT_TRUE(first == AviFrame(img)) << bits;
    // The scene itself, not a blank frame.
    EXPECT_NE(std::count(first.begin(), first.end(), first[0]), static_cast<ptrdiff_t>(first.size())) << bits;
    EXPECT_TRUE(Errors().empty());
    ASSERT_EQ(Qelvan_StopPreview(h_), 1);
  }
}

TEST_F(CameraFiles, NarrowWindowGivesPaddedRows) {
  // A 94 x 60 window: 282 bytes of pixels, padded to 284.
  ASSERT_EQ(Qelvan_SetCaptureWindowEx(h_, 752, 0, 94, 480, 0, 60), 1);
  const std::string name = OutDir() + "rec_94.avi";
  ASSERT_EQ(Qelvan_Record(h_, name.c_str(), 300, 0), 1);
  ASSERT_TRUE(WaitClosed(name));
  const std::vector<uint8_t> f = ReadAll(name);
  ASSERT_GT(f.size(), 248u);
  EXPECT_EQ(Get32(f, 236), 60u * 284u);
  EXPECT_GT(CheckAvi(name, 94, 60), 0);
}

TEST_F(CameraFiles, RecordRefusals) {
  const int threads = ThreadCount();
  EXPECT_EQ(Qelvan_Record(h_, "", 1000, 0), 0);
  EXPECT_EQ(Qelvan_Record(h_, nullptr, 1000, 0), 0);
  EXPECT_EQ(Qelvan_Record(h_, "files_out\\neg.avi", -1, 0), 0);
  EXPECT_EQ(Errors(), (std::vector<int>{ERR_ARGUMENT, ERR_ARGUMENT, ERR_ARGUMENT}));
  EXPECT_EQ(ThreadCount(), threads);  // acquisition untouched
  EXPECT_EQ(Qelvan_RecordW(h_, std::wstring(1023, L'a').c_str(), 1000, 0), 0);
  EXPECT_EQ(Errors().front(), ERR_FILE);
  EXPECT_EQ(Qelvan_Record(h_, "files_out\\no such folder\\x.avi", 1000, 0), 0);
  EXPECT_EQ(Errors().front(), ERR_FILE);
  EXPECT_TRUE(ThreadsBackToStart());
  EXPECT_EQ(SharedOwner(0), 0u);
  EXPECT_TRUE(HandlesSettleAt(0));
}

TEST_F(CameraFiles, StallBeforeTheFirstFrameDoesNotShortenTheRecording) {
  ASSERT_EQ(vcamctl_fault(0, vcamctl_fault_kind("stall"), 0), 0u);
  const std::string name = OutDir() + "rec_stall.avi";
  ASSERT_EQ(Qelvan_Record(h_, name.c_str(), 1000, 0), 1);
  Sleep(1500);
  ASSERT_EQ(vcamctl_fault(0, vcamctl_fault_kind("clear"), 0), 0u);
  ASSERT_TRUE(WaitClosed(name));
  const std::vector<uint8_t> f = ReadAll(name);
  ASSERT_GT(f.size(), 240u);
  const uint32_t n = Get32(f, 48);
  // At least the requested second of frames, by the measured rate.
  EXPECT_GE(static_cast<uint64_t>(n) * Get32(f, 32), 1000000u);
  EXPECT_GE(n, 20u);
  CheckAvi(name, 752, 480);
}

TEST_F(CameraFiles, EveryStopPathLeavesAFinishedFile) {
  const char* paths[] = {"stop", "close", "release", "detach"};
  for (const char* path : paths) {
    if (std::string(path) != "stop") {
      // A fresh instance and camera for each path.
      ASSERT_EQ(vcamctl_reset(), 0u);
      ASSERT_EQ(vcamctl_scene(0, 0), 0u);
      h_ = Open(window_.hwnd());
      ASSERT_NE(h_, 0);
    }
    const std::string name = OutDir() + "rec_" + path + ".avi";
    ASSERT_EQ(Qelvan_Record(h_, name.c_str(), 60000, 0), 1) << path;
    Sleep(500);
    const std::string p = path;
    if (p == "stop") {
      ASSERT_EQ(Qelvan_StopPreview(h_), 1);
    }
    if (p == "close") {
      ASSERT_EQ(Qelvan_Close(h_), 1);
    }
    if (p == "release") {
      Qelvan_Release(h_);
      opened_.erase(std::find(opened_.begin(), opened_.end(), h_));
    }
    if (p == "detach") {
      ASSERT_EQ(vcamctl_detach(0), 0u);
    }
    ASSERT_TRUE(WaitClosed(name)) << path;
    EXPECT_GT(CheckAvi(name, 752, 480), 0) << path;
    if (p == "detach") Qelvan_StopPreview(h_);
  }
}

TEST_F(CameraFiles, SecondRecordingRefusedAndNoHandlesLeft) {
  const std::string first = OutDir() + "rec_first.avi";
  ASSERT_EQ(Qelvan_Record(h_, first.c_str(), 800, 0), 1);
  EXPECT_EQ(Qelvan_Record(h_, (OutDir() + "rec_second.avi").c_str(), 800, 0), 0);
  EXPECT_EQ(Errors(), std::vector<int>{ERR_NOT_READY});
  ASSERT_TRUE(WaitClosed(first));
  EXPECT_GT(CheckAvi(first, 752, 480), 0);
  ASSERT_EQ(Qelvan_StopPreview(h_), 1);

  // Handles are counted by the slot a new handle gets (Wine's GetProcessHandleCount reads 0):
  // slots are reused lowest first, so one leaked per recording pushes it up.
  const auto freshHandle = [] {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe);
  };
  uintptr_t before = 0;
  for (int i = 0; i < 6; ++i) {
    const std::string name = OutDir() + "rec_row" + std::to_string(i) + ".avi";
    ASSERT_EQ(Qelvan_Record(h_, name.c_str(), 200, 0), 1);
    ASSERT_TRUE(WaitClosed(name));
    EXPECT_GT(CheckAvi(name, 752, 480), 0);
    if (i == 0) before = freshHandle();
  }
  // The last recorder thread may still be closing its handles just after its file is closed.
  EXPECT_TRUE(WaitUntil([&] { return freshHandle() <= before + 2 * 4; }, 10000))
      << "handles leaked over five recordings";
  ASSERT_EQ(Qelvan_StopPreview(h_), 1);
}

namespace {

// A pipe nobody reads: writes to it block once its small buffer is full.
struct BlockingSink {
  const char* name = "\\\\.\\pipe\\qelvan_files_sink";
  HANDLE pipe = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
  ~BlockingSink() {
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  }
  // Reads everything until the writer closes; the byte count.
  size_t Drain() {
    std::vector<uint8_t> buffer(65536);
    size_t total = 0;
    DWORD n = 0;
    while (ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) && n > 0) total += n;
    return total;
  }
};

struct Call {
  std::function<int()> f;
  volatile LONG result = -1;
  HANDLE thread = nullptr;
  static DWORD WINAPI Main(LPVOID p) {
    auto* self = static_cast<Call*>(p);
    InterlockedExchange(&self->result, self->f());
    return 0;
  }
  explicit Call(std::function<int()> fn) : f(std::move(fn)) {
    thread = CreateThread(nullptr, 0, Main, this, 0, nullptr);
  }
  bool Done(DWORD ms) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
  ~Call() {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
};

}  // namespace

TEST_F(CameraFiles, BlockedWritesLeaveTheFrameLockFree) {
  std::vector<uint8_t> image(752 * 480);
  ASSERT_EQ(Qelvan_Capture(h_), 1);
  ASSERT_EQ(Qelvan_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1), 1);
  {
    BlockingSink sink;
    ASSERT_NE(sink.pipe, INVALID_HANDLE_VALUE);
    Call save([&] { return Qelvan_SaveImage(h_, sink.name, 1); });
    ASSERT_TRUE(ConnectNamedPipe(sink.pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
    EXPECT_FALSE(save.Done(300));  // the save is stuck in its write
    Call get([&] { return Qelvan_GetImage(h_, image.data(), static_cast<int>(image.size()), 1); });
    EXPECT_TRUE(get.Done(20000)) << "the frame lock is held during the write";
    EXPECT_EQ(sink.Drain(), image.size());
    ASSERT_TRUE(save.Done(20000));
    EXPECT_EQ(save.result, 1);
  }
  ASSERT_EQ(Qelvan_StopPreview(h_), 1);
  {
    BlockingSink sink;
    ASSERT_NE(sink.pipe, INVALID_HANDLE_VALUE);
    Call record([&] { return Qelvan_Record(h_, sink.name, 60000, 0); });
    ASSERT_TRUE(ConnectNamedPipe(sink.pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
    ASSERT_TRUE(record.Done(20000));
    ASSERT_EQ(record.result, 1);
    // The recorder blocks on its first frame; the preview goes on converting frames.
    Sleep(500);
    for (int i = 0; i < 3; ++i) {
      Call get([&] { return Qelvan_GetImage(h_, image.data(), static_cast<int>(image.size()), 1); });
      EXPECT_TRUE(get.Done(20000)) << "the frame lock is held during the write";
    }
    Call drain([&] { return static_cast<int>(sink.Drain() > 0); });
    Call stop([&] { return Qelvan_StopPreview(h_); });
    EXPECT_TRUE(stop.Done(30000));
    // A pipe cannot be finished in place: the recording reports the file error.
    EXPECT_EQ(Errors().front(), ERR_FILE);
  }
}

// Two recordings asked for at the same moment: one is taken, the other refused, and the one
// taken ends as a whole file.
TEST_F(CameraFiles, TwoRecordsAtOnceOneTakenOneRefused) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  for (int round = 0; round < 5 && !HasFailure(); ++round) {
    SCOPED_TRACE(round);
    const std::string names[2] = {OutDir() + "rec_race" + std::to_string(round) + "a.avi",
                                  OutDir() + "rec_race" + std::to_string(round) + "b.avi"};
    for (const std::string& n : names) DeleteFileA(n.c_str());
    ResetEvent(go);
    volatile LONG waiting = 0;
    const auto record = [&](const std::string& name) {
      InterlockedIncrement(&waiting);
      WaitForSingleObject(go, 30000);
      return Qelvan_Record(h_, name.c_str(), 300, 0);
    };
    Call a([&] { return record(names[0]); });
    Call b([&] { return record(names[1]); });
    ASSERT_TRUE(WaitUntil([&] { return waiting == 2; }));
    SetEvent(go);
    ASSERT_TRUE(a.Done(30000) && b.Done(30000));
    EXPECT_EQ(a.result + b.result, 1) << "accepted: " << a.result << " and " << b.result;
    const std::vector<int> errors = Errors();
    EXPECT_TRUE(std::find(errors.begin(), errors.end(), ERR_NOT_READY) != errors.end()) << "no ERR_NOT_READY";
    for (int i = 0; i < 2; ++i) {
      if ((i == 0 ? a.result : b.result) != 1) continue;
      EXPECT_TRUE(WaitClosed(names[i])) << names[i];
      EXPECT_GT(CheckAvi(names[i], 752, 480), 0) << names[i];
    }
    ASSERT_EQ(Qelvan_StopPreview(h_), 1);
  }
  CloseHandle(go);
}

// A recording refused because capture or trigger mode runs leaves that mode running.
TEST_F(CameraFiles, RecordRefusedInCaptureOrTriggerModeKeepsTheMode) {
  std::vector<uint8_t> image(752 * 480);
  const int size = static_cast<int>(image.size());
  const std::string name = OutDir() + "rec_refused.avi";
  DeleteFileA(name.c_str());

  ASSERT_EQ(Qelvan_Capture(h_), 1);
  ASSERT_EQ(Qelvan_SnapShot(h_, image.data(), size, 1), 1);
  EXPECT_EQ(Qelvan_Record(h_, name.c_str(), 500, 0), 0);
  EXPECT_FALSE(Exists(name));
  EXPECT_EQ(Qelvan_SnapShot(h_, image.data(), size, 1), 1);
  EXPECT_EQ(Qelvan_StartPreview(h_), 0) << "capture mode ended";
  EXPECT_EQ(Qelvan_Capture(h_), 1);
  ASSERT_EQ(Qelvan_StopPreview(h_), 1);

  // Triggers until a frame arrives: the loop may not be waiting for the first one yet.
  const auto triggeredFrame = [&] {
    seen_.clear();
    for (int i = 0; i < 20; ++i) {
      vcamctl_trigger(0, 1);
      if (WaitFrames(1, 1000)) return true;
    }
    return false;
  };
  ASSERT_EQ(Qelvan_Trigger(h_, window_.hwnd(), image.data(), size, 1), 1);
  ASSERT_TRUE(triggeredFrame());
  EXPECT_EQ(Qelvan_Record(h_, name.c_str(), 500, 0), 0);
  EXPECT_FALSE(Exists(name));
  EXPECT_TRUE(triggeredFrame()) << "trigger mode ended";
  ASSERT_EQ(Qelvan_StopPreview(h_), 1);
}

// A recorder stuck in a write (a pipe nobody reads) holds up neither the stop nor other calls;
// once the write goes through, everything ends.
TEST_F(CameraFiles, StopDoesNotWaitForABlockedRecorder) {
  BlockingSink sink;
  ASSERT_NE(sink.pipe, INVALID_HANDLE_VALUE);
  Call record([&] { return Qelvan_Record(h_, sink.name, 60000, 0); });
  ASSERT_TRUE(ConnectNamedPipe(sink.pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);
  ASSERT_TRUE(record.Done(20000));
  ASSERT_EQ(record.result, 1);
  // The header fits the pipe's buffer; the first frame does not.
  ASSERT_TRUE(WaitUntil([&] {
    DWORD queued = 0;
    return PeekNamedPipe(sink.pipe, nullptr, 0, nullptr, &queued, nullptr) && queued > 1024;
  })) << "the recorder wrote no frame";
  bool stopped = false, captured = false;
  {
    Call stop([&] { return Qelvan_StopPreview(h_); });
    WaitUntil([&] { return stop.Done(0) || Camera().reads_pending == 0; });
    Call capture([&] { return Qelvan_Capture(h_); });
    WaitUntil([&] { return stop.Done(0) && capture.Done(0); });
    stopped = stop.Done(0);
    captured = capture.Done(0);
    Call drain([&] { return static_cast<int>(sink.Drain() > 0); });
    EXPECT_TRUE(drain.Done(30000)) << "the recorder did not end after its write went through";
    EXPECT_TRUE(stop.Done(30000));
    EXPECT_EQ(stop.result, 1);
  }
  EXPECT_TRUE(stopped) << "StopPreview waited for the blocked write";
  EXPECT_TRUE(captured) << "Qelvan_Capture waited for the blocked write";
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
}
