// Opening, device selection, closing, the device-use table and the registry groups.
#include "camera/camera.h"

#include "device/qelvan_device.h"
#include "output/dib_image.h"
#include "settings/registry_store.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr char kSharedRegionName[] = "DOVIRA_USBCAMERA";
constexpr DWORD kSharedRegionSize = 0x460000;
constexpr DWORD kSharedRegionZeroed = 32768;
constexpr size_t kUseTableOffset = 12800u * 140u;
constexpr char kModuleName[] = "QelvanSdk_Z51QK2_RVN.dll";
constexpr char kCameraDisplayName[] = "QelvanZ51QK2-RVN";
constexpr int kListEntries = 10;
constexpr int kNameEntryChars = 256;
constexpr uint16_t kMirrorRegister = 13;

#pragma pack(push, 1)
struct DeviceUseRecord {
  uint32_t owner;
  uint32_t module;
  uint32_t state;
  char name[128];
};
#pragma pack(pop)
static_assert(sizeof(DeviceUseRecord) == 140, "the record layout is shared with other programs");

DeviceUseRecord* UseRecord(uint8_t* view, int number) {
  if (!view || number < 0 || number >= DEVICE_SLOTS) return nullptr;
  return reinterpret_cast<DeviceUseRecord*>(view + kUseTableOffset) + number;
}

uint32_t ModuleWord() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))); }

// Who holds each claim: a region of its own beside the device-use table, whose layout other
// programs rely on. A claim whose process has ended no longer counts, so a program killed while
// streaming does not keep its camera busy for ever.
constexpr char kOwnerRegionName[] = "QelvanSdk_Z51QK2_RVN_DeviceOwners";

#pragma pack(push, 1)
struct DeviceOwnerRecord {
  uint32_t owner;       // the owner word of the device-use record it describes
  uint32_t processId;
  uint64_t processStart;  // creation time, so a reused process id is not taken for the owner
};
#pragma pack(pop)

uint64_t ProcessStart(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

// One view per process, kept until it ends.
DeviceOwnerRecord* OwnerRecord(int number) {
  static DeviceOwnerRecord* const table = [] {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DeviceOwnerRecord) * DEVICE_SLOTS, kOwnerRegionName);
    return mapping ? static_cast<DeviceOwnerRecord*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
  }();
  if (!table || number < 0 || number >= DEVICE_SLOTS) return nullptr;
  return table + number;
}

// Whether the process that made the claim with this owner word is known to have ended. A claim
// without an owner record (another program's library) is taken as live.
bool ClaimOwnerEnded(int number, uint32_t owner) {
  const DeviceOwnerRecord* record = OwnerRecord(number);
  if (!record || record->owner != owner || record->processId == 0) return false;
  const uint64_t start = record->processStart;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, record->processId);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || ProcessStart(process) != start;
  CloseHandle(process);
  return ended;
}

// "QelvanZ51QK2-RVN_NN", cut to fit size characters with the terminator.
void FormatDeviceName(char* out, size_t size, int number) {
  std::snprintf(out, size, "%s_%02d", kCameraDisplayName, number);
}

bool WideDeviceName(wchar_t* out, int length, int number) {
  char narrow[64];
  FormatDeviceName(narrow, sizeof narrow, number);
  wchar_t wide[64];
  const int n = MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 64);
  if (n <= 0) return false;
  const int chars = n - 1 < length - 1 ? n - 1 : length - 1;
  std::memcpy(out, wide, chars * sizeof(wchar_t));
  out[chars] = L'\0';
  return true;
}

}  // namespace

// --- Opening --------------------------------------------------------------------------------

int CQelvan::Open(HWND notifyWindow) {
  // Stored first, so that even a failure to join the region reaches the application's window.
  notificationWindow = notifyWindow;
  sharedMapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedRegionName);
  if (sharedMapping) sharedView = static_cast<uint8_t*>(MapViewOfFile(sharedMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!sharedView) {
    if (sharedMapping) CloseHandle(sharedMapping);
    sharedMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSharedRegionSize,
                                       kSharedRegionName);
    const bool created = sharedMapping && GetLastError() != ERROR_ALREADY_EXISTS;
    if (sharedMapping) sharedView = static_cast<uint8_t*>(MapViewOfFile(sharedMapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (sharedView && created) std::memset(sharedView, 0, kSharedRegionZeroed);
  }
  if (!sharedView) {
    PushError(ERR_MEMORY);
    return 0;
  }

  // A camera another program streams from is selected but left untouched until it is free.
  initPending = DeviceBusy(0);
  device = initPending ? new (std::nothrow) CQelvanZ51QKRVNSdk(CQelvanZ51QKRVNSdk::DeferInit{})
                       : new (std::nothrow) CQelvanZ51QKRVNSdk();
  CDibImage** images[] = {&image8, &image16, &image24, &image32, &image48, &image64, &scratchImage, &displayImage};
  bool complete = device != nullptr;
  for (CDibImage** image : images) {
    *image = new (std::nothrow) CDibImage();
    complete = complete && *image;
  }
  if (!complete) {
    // Half an instance is no instance: later calls see no device.
    FreeDeviceObjects();
    PushError(ERR_MEMORY);
    return 0;
  }
  cameraNumber = 0;

  LoadSizePreset();
  // A stored window that is empty, or not inside the sensor, gives way to the whole sensor.
  if (!WindowIsValid() || width == 0 || height == 0) {
    PushError(ERR_GEOMETRY);
    totalWidth = width = kSensorWidth;
    totalHeight = height = kSensorHeight;
    startX = startY = 0;
  }
  if (!initPending) device->SetCaptureWindow(startX, startY, width, height, subSample);
  previewX = 0;
  previewY = 0;
  previewW = width;
  previewH = height;

  LoadFilter(cameraNumber);
  LoadGray(cameraNumber);
  LoadGain(cameraNumber);
  if (!initPending) PushAnalogSettings();
  LoadCameraValues();
  return 1;
}

void CQelvan::FreeDeviceObjects() {
  delete device;
  device = nullptr;
  CDibImage** images[] = {&image8, &image16, &image24, &image32, &image48, &image64, &scratchImage, &displayImage};
  for (CDibImage** image : images) {
    delete *image;
    *image = nullptr;
  }
}

void CQelvan::PushAnalogSettings() {
  device->SetGlobalGain(globalGain);
  device->SetColorGain(43, colorGainGreen1);
  device->SetColorGain(45, colorGainRed);
  device->SetColorGain(44, colorGainBlue);
  device->SetColorGain(46, colorGainGreen2);
  device->SetExposureLines(exposureLines);
  device->SetMirrorV(mirrorV);
  device->SetMirrorH(mirrorH);
}

// --- Closing --------------------------------------------------------------------------------

void CQelvan::CloseInstance() {
  // A start or snapshot on another thread must not use the single-shot handle or the window
  // while they go.
  ModeGuard guard(modeLock_);
  // The worker draws through the window's DC: it stops before the DC and window go.
  StopAcquisition();
  DestroyPreviewWindow();
  frameAvailable = 0;
  if (device) device->CloseSingleShot();
}

int CQelvan::Close() {
  CloseInstance();
  return 1;
}

// --- The device-use table -------------------------------------------------------------------

int CQelvan::ClaimDevice(int number) {
  DeviceUseRecord* record = UseRecord(sharedView, number);
  if (!record) return 0;
  record->owner = ownerWord;
  record->module = ModuleWord();
  record->state = 0;
  std::memset(record->name, 0, sizeof record->name);
  std::memcpy(record->name, kModuleName, sizeof kModuleName);
  if (DeviceOwnerRecord* owner = OwnerRecord(number)) {
    owner->owner = ownerWord;
    owner->processId = GetCurrentProcessId();
    owner->processStart = ProcessStart(GetCurrentProcess());
  }
  return 1;
}

int CQelvan::ReleaseDevice(int number) {
  DeviceUseRecord* record = UseRecord(sharedView, number);
  if (!record) return 0;
  if (record->owner == ownerWord && record->module == ModuleWord() && record->state == 0) {
    record->owner = 0;
    record->module = 0;
    record->state = 0;
    std::memset(record->name, 0, sizeof record->name);
  }
  DeviceOwnerRecord* owner = OwnerRecord(number);
  if (owner && owner->owner == ownerWord) *owner = DeviceOwnerRecord{};
  return 1;
}

bool CQelvan::DeviceBusy(int number) const {
  const DeviceUseRecord* record = UseRecord(sharedView, number);
  return record && record->owner != 0 && record->owner != ownerWord && !ClaimOwnerEnded(number, record->owner);
}

// --- Listing and naming ---------------------------------------------------------------------

int CQelvan::EnumDevice(char names[10][256]) {
  if (!RequireDevice()) return 0;
  if (!names) return PushError(ERR_ARGUMENT), 0;
  // One refresh gives a consistent snapshot of what is attached.
  device->EnumerateDevices();
  int found = 0;
  for (int n = 0; n < DEVICE_SLOTS && found < kListEntries; ++n) {
    if (!device->IsDevicePresent(n)) continue;
    ++found;
    FormatDeviceName(names[found - 1], kNameEntryChars, found);
  }
  for (int i = found; i < kListEntries; ++i) names[i][0] = '\0';
  return found;
}

int CQelvan::EnumDeviceW(wchar_t names[10][256]) {
  if (!RequireDevice()) return 0;
  if (!names) return PushError(ERR_ARGUMENT), 0;
  // Shows the presence table as the last narrow listing (or the open) left it.
  int found = 0;
  for (int n = 0; n < DEVICE_SLOTS && found < kListEntries; ++n) {
    if (!device->IsDevicePresent(n)) continue;
    ++found;
    if (!WideDeviceName(names[found - 1], kNameEntryChars, found)) names[found - 1][0] = L'\0';
  }
  for (int i = found; i < kListEntries; ++i) names[i][0] = L'\0';
  return found;
}

int CQelvan::GetDeviceName(int number, char* buffer, int length) {
  if (!RequireDevice()) return 0;
  if (length <= 14 || !buffer) return PushError(ERR_ARGUMENT), 0;
  if (number < 0 || number >= DEVICE_SLOTS) return PushError(ERR_ARGUMENT), 0;
  if (!device->IsDevicePresent(number)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  FormatDeviceName(buffer, static_cast<size_t>(length), number + 1);
  return 1;
}

int CQelvan::GetDeviceNameW(int number, wchar_t* buffer, int length) {
  if (!RequireDevice()) return 0;
  if (length <= 14 || !buffer) return PushError(ERR_ARGUMENT), 0;
  if (number < 0 || number >= DEVICE_SLOTS) return PushError(ERR_ARGUMENT), 0;
  if (!device->IsDevicePresent(number)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  if (!WideDeviceName(buffer, length, number + 1)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  return 1;
}

// --- Selection ------------------------------------------------------------------------------

bool CQelvan::ProbeDevice(int number) const {
  char path[DEVICE_PATH_CHARS];
  if (number < 0 || number >= DEVICE_SLOTS || !FormatDevicePath(path, sizeof path, DRIVER_BASE_NAME, number))
    return false;
  HANDLE h = nullptr;
  const bool present = OpenDriver(&h, path) && h != INVALID_HANDLE_VALUE;
  if (present) CloseDriver(&h);
  return present;
}

int CQelvan::SetDeviceNumber(int number) {
  if (!RequireDevice()) return 0;
  // Re-initialising the device replaces its frame buffers: not under a running worker, and not
  // under a start, snapshot or window change on another thread.
  ModeGuard guard(modeLock_);
  if (mode != MODE_IDLE) return PushError(ERR_NOT_READY), 0;
  // The listing may be stale: a camera unplugged since then must not be selected.
  if (!ProbeDevice(number)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;

  SaveGain(cameraNumber);
  SaveFilter(cameraNumber);
  SaveGray(cameraNumber);

  if (DeviceBusy(number)) {
    // Another program streams from it: select it, but send it nothing until it is free.
    device->ResetGeometry();
    if (device->SelectDevice(static_cast<uint32_t>(number)) != DEV_OK) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
    initPending = true;
  } else {
    if (device->InitDevice(static_cast<uint32_t>(number)) != DEV_OK) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
    initPending = false;
  }

  LoadGain(number);
  LoadFilter(number);
  LoadGray(number);
  if (!initPending) PushAnalogSettings();

  uint8_t sampling = 0;
  if (device->ReadSrom(SROM_SAMPLING_ADDRESS, &sampling)) {
    if (sampling == 1) device->SetSamplingMode(0);
    else if (sampling == 2) device->SetSamplingMode(1);
  }
  cameraNumber = number;
  return 1;
}

// --- Registry groups ------------------------------------------------------------------------

settings::SizePreset CQelvan::GeometryPreset() const {
  settings::SizePreset p;
  p.totalWidth = totalWidth;
  p.totalHeight = totalHeight;
  p.width = width;
  p.height = height;
  p.startX = startX;
  p.startY = startY;
  p.bufferCount = bufferCount;
  return p;
}

void CQelvan::SetGeometry(const settings::SizePreset& p) {
  totalWidth = p.totalWidth;
  totalHeight = p.totalHeight;
  width = p.width;
  height = p.height;
  startX = p.startX;
  startY = p.startY;
  bufferCount = p.bufferCount;
}

bool CQelvan::LoadSizePreset() {
  settings::SizePreset p = GeometryPreset();
  const bool loaded = settings::LoadSizePreset(cameraNumber, &p);
  SetGeometry(p);
  return loaded;
}

bool CQelvan::LoadCameraValues() {
  settings::CameraValues v;
  v.color = colorType;
  v.subSample = subSample;
  v.waitTime = waitTime;
  v.clock = clock;
  const bool loaded = settings::LoadCameraValues(cameraNumber, &v);
  colorType = v.color;
  subSample = v.subSample;
  waitTime = v.waitTime;
  clock = v.clock;
  return loaded;
}

int CQelvan::ReadMirrorFlag(bool vertical) {
  uint16_t r13 = 0;
  // An unanswered read says nothing about the mirror: take it as off rather than flipping
  // every later picture.
  if (!device->ReadSensorRegister(kMirrorRegister, &r13)) return 0;
  return (r13 & (vertical ? 0x10 : 0x20)) ? 0 : 1;
}

void CQelvan::LoadGain(int number) {
  settings::GainValues g;
  if (!settings::LoadGain(number, &g)) {
    g = settings::GainValues();
    g.global = GLOBAL_GAIN_DEFAULT;
    int answer = 0;
    device->QueryColorGain(43, &answer);
    g.colorG1 = answer;
    g.exposure = EXPOSURE_LINES_DEFAULT;
    g.mirrorV = ReadMirrorFlag(true);
    g.mirrorH = ReadMirrorFlag(false);
  }
  globalGain = g.global;
  colorGainGreen1 = g.colorG1;
  colorGainRed = g.colorR;
  colorGainBlue = g.colorB;
  colorGainGreen2 = g.colorG2;
  exposureLines = g.exposure;
  mirrorV = g.mirrorV;
  mirrorH = g.mirrorH;
  autoIris = g.autoIris;
}

void CQelvan::SaveGain(int number) {
  settings::GainValues g;
  g.global = globalGain;
  g.colorG1 = colorGainGreen1;
  g.colorR = colorGainRed;
  g.colorB = colorGainBlue;
  g.colorG2 = colorGainGreen2;
  g.exposure = exposureLines;
  g.mirrorV = mirrorV;
  g.mirrorH = mirrorH;
  g.autoIris = autoIris;
  settings::SaveGain(number, g);
}

void CQelvan::LoadFilter(int number) {
  int32_t values[settings::kFilterValueCount];
  std::memcpy(values, filterValues, sizeof values);
  if (settings::LoadFilter(number, values)) {
    std::memcpy(filterValues, values, sizeof values);
    return;
  }
  std::memcpy(filterValues, settings::kFilterDefaults, sizeof settings::kFilterDefaults);
  // The unstored words that follow the stored ones start cleared too.
  for (int i = settings::kFilterValueCount; i < settings::kFilterValueCount + 9; ++i) filterValues[i] = 0;
}

void CQelvan::SaveFilter(int number) {
  int32_t values[settings::kFilterValueCount];
  std::memcpy(values, filterValues, sizeof values);
  settings::SaveFilter(number, values);
}

void CQelvan::LoadGray(int number) {
  int32_t values[settings::kGrayValueCount];
  std::memcpy(values, filterValues + kFilterGrayMode, sizeof values);
  if (!settings::LoadGray(number, values)) std::memcpy(values, settings::kGrayDefaults, sizeof values);
  std::memcpy(filterValues + kFilterGrayMode, values, sizeof values);
}

void CQelvan::SaveGray(int number) {
  int32_t values[settings::kGrayValueCount];
  std::memcpy(values, filterValues + kFilterGrayMode, sizeof values);
  settings::SaveGray(number, values);
}
