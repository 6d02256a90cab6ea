// Listing, naming and selecting cameras; the device-use table shared with other programs.
#include "camera/device_claim.h"
#include "camera/camera_fixture.h"
#include "device/qelvan_device.h"

namespace {

using SelectTest = CameraTest;

using NameList = char[10][256];
using WideNameList = wchar_t[10][256];

TEST_F(SelectTest, CamerasZeroAndTwoListTwoNamesThenEightEmptyOnes) {
  ASSERT_EQ(0u, vcamctl_attach(2, 0, 0));
  const QelvanHandle h = Open();
  NameList names;
  std::memset(names, 'x', sizeof names);
  ASSERT_EQ(2, Qelvan<int>("Qelvan_EnumDevice", h, names));
  EXPECT_STREQ("QelvanZ51QK2-RVN_01", names[0]);
  EXPECT_STREQ("QelvanZ51QK2-RVN_02", names[1]);
  for (int i = 2; i < 10; ++i) EXPECT_STREQ("", names[i]) << i;

  WideNameList wide;
  std::memset(wide, 0x55, sizeof wide);
  ASSERT_EQ(2, Qelvan<int>("Qelvan_EnumDeviceW", h, wide));
  EXPECT_STREQ(L"QelvanZ51QK2-RVN_01", wide[0]);
  EXPECT_STREQ(L"QelvanZ51QK2-RVN_02", wide[1]);
  for (int i = 2; i < 10; ++i) EXPECT_STREQ(L"", wide[i]) << i;

  // By device number, not by place in the list.
  char name[64];
  ASSERT_EQ(1, Qelvan<int>("Qelvan_GetDeviceName", h, 2, name, 64));
  EXPECT_STREQ("QelvanZ51QK2-RVN_03", name);
  wchar_t wname[64];
  ASSERT_EQ(1, Qelvan<int>("Qelvan_GetDeviceNameW", h, 2, wname, 64));
  EXPECT_STREQ(L"QelvanZ51QK2-RVN_03", wname);
  EXPECT_TRUE(Errors(h).empty());
}

TEST_F(SelectTest, WideListingShowsTheLastNarrowOne) {
  const QelvanHandle h = Open();
  ASSERT_EQ(0u, vcamctl_attach(5, 0, 0));
  WideNameList wide;
  EXPECT_EQ(1, Qelvan<int>("Qelvan_EnumDeviceW", h, wide));
  NameList names;
  EXPECT_EQ(2, Qelvan<int>("Qelvan_EnumDevice", h, names));
  EXPECT_EQ(2, Qelvan<int>("Qelvan_EnumDeviceW", h, wide));
  EXPECT_STREQ(L"QelvanZ51QK2-RVN_02", wide[1]);
}

TEST_F(SelectTest, ListingStopsAtTenEntries) {
  for (int n = 1; n < 12; ++n) ASSERT_EQ(0u, vcamctl_attach(n, 0, 0));
  const QelvanHandle h = Open();
  struct {
    NameList names;
    char guard[256];
  } list;
  std::memset(&list, 'x', sizeof list);
  EXPECT_EQ(10, Qelvan<int>("Qelvan_EnumDevice", h, list.names));
  EXPECT_STREQ("QelvanZ51QK2-RVN_10", list.names[9]);
  for (char c : list.guard) ASSERT_EQ('x', c);
  struct {
    WideNameList names;
    wchar_t guard[256];
  } wide;
  std::memset(&wide, 0x55, sizeof wide);
  EXPECT_EQ(10, Qelvan<int>("Qelvan_EnumDeviceW", h, wide.names));
  for (wchar_t c : wide.guard) ASSERT_EQ(0x5555, c);
  EXPECT_TRUE(Errors(h).empty());

  EXPECT_EQ(0, Qelvan<int>("Qelvan_EnumDevice", h, static_cast<char(*)[256]>(nullptr)));
  EXPECT_EQ(0, Qelvan<int>("Qelvan_EnumDeviceW", h, static_cast<wchar_t(*)[256]>(nullptr)));
  EXPECT_EQ((std::vector<int>{ERR_ARGUMENT, ERR_ARGUMENT}), Errors(h));
}

TEST_F(SelectTest, NameChecksInOrderAndAShortBufferGetsACutName) {
  const QelvanHandle h = Open();
  struct Case {
    int number, length, result, error;
  } cases[] = {{0, 14, 0, ERR_ARGUMENT}, {32, 14, 0, ERR_ARGUMENT}, {32, 64, 0, ERR_ARGUMENT},
               {-1, 64, 0, ERR_ARGUMENT}, {3, 64, 0, ERR_DEVICE_UNAVAILABLE}, {0, 15, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.number << " length " << c.length);
    char narrow[80];
    std::memset(narrow, 'x', sizeof narrow);
    EXPECT_EQ(c.result, Qelvan<int>("Qelvan_GetDeviceName", h, c.number, narrow, c.length));
    EXPECT_EQ(c.error, LastError(h));
    wchar_t wide[80];
    std::wmemset(wide, L'x', 80);
    EXPECT_EQ(c.result, Qelvan<int>("Qelvan_GetDeviceNameW", h, c.number, wide, c.length));
    EXPECT_EQ(c.error, LastError(h));
    if (c.result) {
      // Fifteen characters hold fourteen and the terminator; nothing is written beyond.
      EXPECT_STREQ("QelvanZ51QK2-R", narrow);
      EXPECT_EQ('x', narrow[15]);
      EXPECT_STREQ(L"QelvanZ51QK2-R", wide);
      EXPECT_EQ(L'x', wide[15]);
    } else {
      EXPECT_EQ('x', narrow[0]);
    }
  }
  EXPECT_EQ(0, Qelvan<int>("Qelvan_GetDeviceName", h, 0, static_cast<char*>(nullptr), 64));
  EXPECT_EQ(ERR_ARGUMENT, LastError(h));
}

TEST_F(SelectTest, GroupsMoveWithTheSelectionAndThePushReachesOnlyTheNewCamera) {
  ASSERT_EQ(0u, vcamctl_attach(2, 0, 0));
  SetDword(CameraPath(2, "Gain"), "Global", 30);
  SetDword(CameraPath(2, "Gain"), "Exposure", 222);
  SetDword(CameraPath(2, "Filter"), "Brightness", 40);
  const QelvanHandle h = Open();
  EXPECT_FALSE(KeyExists(CameraPath(0, "Gain")));
  const uint32_t log0 = LogCount(0), log2 = LogCount(2);
  ASSERT_EQ(1, Qelvan<int>("Qelvan_SetDeviceNumber", h, 2));
  // Saved under the old number...
  EXPECT_EQ(16, Dword(CameraPath(0, "Gain"), "Global"));
  EXPECT_EQ(100, Dword(CameraPath(0, "Filter"), "Gamma"));
  EXPECT_EQ(128, Dword(CameraPath(0, "Gray"), "GainR1"));
  // ...pushed to the new camera only, after its initialisation.
  EXPECT_TRUE(WritesSince(0, log0).empty());
  const RegWrites writes = WritesSince(2, log2);
  ASSERT_GE(writes.size(), 4u);
  EXPECT_EQ((std::pair<int, int>(53, 46)), writes[writes.size() - 4]);
  EXPECT_EQ((std::pair<int, int>(11, 222)), writes[writes.size() - 3]);
  EXPECT_TRUE(Errors(h).empty());

  // Release saves under the selected camera, also after a listing.
  NameList names;
  EXPECT_EQ(2, Qelvan<int>("Qelvan_EnumDevice", h, names));
  SetDword(CameraPath(0, "Gain"), "Global", 5);
  ASSERT_EQ(1, Release(h));
  EXPECT_EQ(30, Dword(CameraPath(2, "Gain"), "Global"));
  EXPECT_EQ(222, Dword(CameraPath(2, "Gain"), "Exposure"));
  EXPECT_EQ(40, Dword(CameraPath(2, "Filter"), "Brightness"));
  EXPECT_EQ(5, Dword(CameraPath(0, "Gain"), "Global"));
}

TEST_F(SelectTest, AnAbsentOrUnpluggedNumberIsRefusedAndChangesNothing) {
  ASSERT_EQ(0u, vcamctl_attach(2, 0, 0));
  const QelvanHandle h = Open();
  NameList names;
  ASSERT_EQ(2, Qelvan<int>("Qelvan_EnumDevice", h, names));
  ASSERT_EQ(0u, vcamctl_detach(2));  // unplugged since the listing
  for (int number : {2, 5, 32, -1}) {
    SCOPED_TRACE(number);
    const uint32_t log0 = LogCount(0);
    EXPECT_EQ(0, Qelvan<int>("Qelvan_SetDeviceNumber", h, number));
    EXPECT_EQ(ERR_DEVICE_UNAVAILABLE, LastError(h));
    EXPECT_TRUE(WritesSince(0, log0).empty());
  }
  // Still on camera 0: the groups go there.
  ASSERT_EQ(1, Release(h));
  EXPECT_TRUE(KeyExists(CameraPath(0, "Gain")));
  EXPECT_FALSE(KeyExists(CameraPath(2, "Gain")));
  EXPECT_FALSE(KeyExists(CameraPath(5, "Gain")));
}

// White-box: two claims in one process.
TEST_F(SelectTest, ClaimsAreSeenAndReleasedOnlyByTheirOwner) {
  DeviceClaim a, b;
  ASSERT_TRUE(a.Open());
  ASSERT_TRUE(b.Open());
  EXPECT_FALSE(a.Busy(0));
  ASSERT_TRUE(a.Claim(0));
  EXPECT_FALSE(a.Busy(0));  // one's own claim does not block
  EXPECT_TRUE(b.Busy(0));
  b.Release(0);
  EXPECT_TRUE(b.Busy(0));  // left to its owner
  a.Release(0);
  EXPECT_FALSE(b.Busy(0));
  EXPECT_NE(0u, a.OwnerWord());
  EXPECT_NE(a.OwnerWord(), b.OwnerWord());
}

// Another program streams from camera 0: this one lists, names and switches, but writes
// nothing to that camera, and leaves the other program's claim alone.
TEST_F(SelectTest, AnotherProgramsStreamIsLeftAlone) {
  ASSERT_EQ(0u, vcamctl_attach(2, 0, 0));
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "QelvanTestClaimReady");
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, "QelvanTestClaimStop");
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string path(exe);
  path = path.substr(0, path.find_last_of("\\/") + 1) + "camera_claim_child.exe";
  std::string command = "\"" + path + "\" 0 QelvanTestClaimReady QelvanTestClaimStop";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 60000)) << "the other program did not start streaming";

  const uint32_t log0 = LogCount(0);
  const uint32_t framesBefore = Info(0).frames_delivered;
  const QelvanHandle h = Open();
  NameList names;
  EXPECT_EQ(2, Qelvan<int>("Qelvan_EnumDevice", h, names));
  char name[32];
  EXPECT_EQ(1, Qelvan<int>("Qelvan_GetDeviceName", h, 0, name, 32));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetDeviceNumber", h, 2));
  EXPECT_EQ(1, Qelvan<int>("Qelvan_SetDeviceNumber", h, 0));
  EXPECT_TRUE(Errors(h).empty());
  EXPECT_TRUE(WritesSince(0, log0).empty());
  EXPECT_EQ(320u, Info(0).width);
  ASSERT_EQ(1, Release(h));
  // Frames keep coming to the other program at its own size.
  EXPECT_TRUE(WaitUntil([&] { return Info(0).frames_delivered > framesBefore + 3; }));

  // Its record survives this program's release.
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "DOVIRA_USBCAMERA");
  ASSERT_NE(nullptr, mapping);
  auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(nullptr, view);
  uint32_t owner = 0;
  std::memcpy(&owner, view + 1792000, 4);
  EXPECT_NE(0u, owner);
  EXPECT_STREQ("QelvanSdk_Z51QK2_RVN.dll", reinterpret_cast<const char*>(view + 1792000 + 12));
  UnmapViewOfFile(view);
  CloseHandle(mapping);

  SetEvent(stop);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
  DWORD code = 999;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(0u, code) << "frames of the other program failed or changed size";
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(ready);
  CloseHandle(stop);
}

}  // namespace
