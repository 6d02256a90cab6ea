// Two programs and one camera: a second program that previews camera 0 makes it busy for this
// one; the camera is free again when that program ends, normally or killed. The second program is
// of this program's bitness, or of the other one (a 32-bit and a 64-bit program on one machine).
#include <algorithm>
#include <string>
#include <vector>

#include "reliability/reliability.h"

namespace {

int g_busySeen = 0, g_freedAfterEnd = 0, g_freedAfterKill = 0;

class TwoPrograms : public Acquisition {
 public:
  static void TearDownTestSuite() {
    Figure("two programs: busy answer " + std::to_string(g_busySeen) + " times while held; free after " +
           std::to_string(g_freedAfterEnd) + " normal ends and " + std::to_string(g_freedAfterKill) +
           " TerminateProcess kills");
  }

 protected:
  void SetUp() override {
    Acquisition::SetUp();
    ready_ = CreateEventA(nullptr, TRUE, FALSE, "QelvanReliabilityHolderReady");
    quit_ = CreateEventA(nullptr, TRUE, FALSE, "QelvanReliabilityHolderQuit");
    ASSERT_TRUE(ready_ && quit_);
  }
  void TearDown() override {
    if (child_.hProcess) {
      TerminateProcess(child_.hProcess, 9);
      WaitForSingleObject(child_.hProcess, 30000);
      CloseHandle(child_.hProcess);
      CloseHandle(child_.hThread);
    }
    CloseHandle(ready_);
    CloseHandle(quit_);
    Acquisition::TearDown();
  }
  // Starts the holder and waits until it previews.
  void StartHolder(const std::string& holder) {
    std::string command = "\"" + holder + "\" QelvanReliabilityHolderReady QelvanReliabilityHolderQuit";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child_));
    HANDLE waits[2] = {ready_, child_.hProcess};
    ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 60000), WAIT_OBJECT_0) << "the holder did not start previewing";
  }
  DWORD WaitHolderExit() {
    EXPECT_EQ(WaitForSingleObject(child_.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(child_.hProcess, &code);
    return code;
  }
  // While the holder previews, this program's start is refused as busy.
  void ExpectBusy() {
    EXPECT_EQ(Qelvan_StartPreview(h_), 0);
    const std::vector<int> errors = Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), ERR_DEVICE_UNAVAILABLE);  // the first code the refusal recorded
    g_busySeen += !HasFailure();
  }
  void ExpectFreeAndStreaming() {
    ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), nullptr, 0, 1), 1) << "camera still claimed";
    EXPECT_TRUE(WaitFrames(3));
    EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  }

  HANDLE ready_ = nullptr;
  HANDLE quit_ = nullptr;
  PROCESS_INFORMATION child_ = {};
};

// The holder program of this build, or of the build of the other bitness.
class HolderOfBitness : public TwoPrograms, public ::testing::WithParamInterface<bool> {
 protected:
  static std::string Holder(bool otherBitness) {
    if (!otherBitness) return BesideThisProgram("reliability_holder.exe");
    std::string dir = QELVAN_OTHER_BIN;
    std::replace(dir.begin(), dir.end(), '/', '\\');
    return "Z:" + dir + "\\reliability_holder.exe";
  }
  void StartHolder() {
    const std::string holder = Holder(GetParam());
    ASSERT_NE(GetFileAttributesA(holder.c_str()), INVALID_FILE_ATTRIBUTES) << holder << " is not built";
    TwoPrograms::StartHolder(holder);
  }
};

INSTANTIATE_TEST_SUITE_P(TwoPrograms, HolderOfBitness, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "OtherBitness" : "SameBitness");
                         });

TEST_P(HolderOfBitness, BusyWhileHeldFreeAfterNormalEnd) {
  ASSERT_NO_FATAL_FAILURE(StartHolder());
  ExpectBusy();
  SetEvent(quit_);
  EXPECT_EQ(WaitHolderExit(), 0u);
  ExpectFreeAndStreaming();
  g_freedAfterEnd += !HasFailure();
}

// A holder killed mid-stream cannot release its claim; the claim of a process that no longer
// runs must not keep the camera busy.
TEST_P(HolderOfBitness, FreeAfterHolderKilled) {
  const int rounds = Scaled(1, 10);
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    ASSERT_NO_FATAL_FAILURE(StartHolder());
    ExpectBusy();
    ASSERT_TRUE(TerminateProcess(child_.hProcess, 77));
    EXPECT_EQ(WaitHolderExit(), 77u);
    CloseHandle(child_.hProcess);
    CloseHandle(child_.hThread);
    child_ = {};
    EXPECT_NE(SharedOwner(0), 0u) << "the killed holder's record stays in the shared table";
    ExpectFreeAndStreaming();
    EXPECT_TRUE(WaitUntil([] { return SharedOwner(0) == 0; })) << "our stop released the claim we took over";
    g_freedAfterKill += !HasFailure();
    ResetEvent(ready_);
  }
}

// A claim written by a program that keeps no owner record (another library on the machine) is
// still honoured: only a claim known to be dead counts as free.
TEST_F(TwoPrograms, ForeignClaimWithoutOwnerRecordStaysBusy) {
  HANDLE map = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "DOVIRA_USBCAMERA");
  ASSERT_NE(map, nullptr);
  uint8_t* view = static_cast<uint8_t*>(MapViewOfFile(map, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  uint8_t* record = view + 1792000;
  const uint32_t words[3] = {0x00012345u, 0x00400000u, 0};
  std::memcpy(record, words, sizeof words);
  std::strcpy(reinterpret_cast<char*>(record + 12), "QelvanSdk_Z51QK2_RVN.dll");
  ExpectBusy();
  std::memset(record, 0, 140);
  UnmapViewOfFile(view);
  CloseHandle(map);
  ExpectFreeAndStreaming();
}

// Owner words name instances in the machine-wide table. However many instances came and went,
// a new one never carries the word of a live one: camera 0, claimed by a live instance, stays
// busy for every later instance. Four instances after 4095 others span the point where a 12-bit
// sequence would come round to the live instance's word.
class OwnerWords : public Acquisition {};

TEST_F(OwnerWords, NoNewInstanceTakesALiveInstancesOwnerWord) {
  ASSERT_EQ(Qelvan_SetWaitTime(h_, 200), 1);  // fewer frames to convert while the cycles run
  ASSERT_EQ(Qelvan_StartPreview(h_), 1);
  const DWORD start = GetTickCount();
  for (int i = 0; i < 4095; ++i) {
    const QelvanHandle h = Qelvan_Initialize(nullptr);
    ASSERT_NE(h, 0) << i;
    ASSERT_EQ(Qelvan_Release(h), 1) << i;
  }
  Figure("owner words: 4095 Initialize/Release cycles beside a preview took " +
         std::to_string(GetTickCount() - start) + " ms");
  for (int i = 0; i < 4; ++i) {
    const QelvanHandle h = Qelvan_Initialize(nullptr);
    ASSERT_NE(h, 0);
    EXPECT_EQ(Qelvan_StartPreview(h), 0) << "instance " << 4096 + i << " started on the claimed camera";
    const std::vector<int> errors = Errors(h);
    EXPECT_TRUE(std::find(errors.begin(), errors.end(), ERR_DEVICE_UNAVAILABLE) != errors.end()) << i;
    Qelvan_StopPreview(h);
    ASSERT_EQ(Qelvan_Release(h), 1);
  }
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
}

}  // namespace
