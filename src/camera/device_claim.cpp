#include "camera/device_claim.h"

#include <cstring>

#include "common/critical_section.h"
#include "common/qlv_camera_model.h"

namespace {

constexpr char kSharedRegionName[] = "DOVIRA_USBCAMERA";
constexpr DWORD kSharedRegionSize = 0x460000;
constexpr DWORD kSharedRegionZeroed = 32768;
constexpr size_t kUseTableOffset = 12800u * 140u;
constexpr char kModuleName[] = "QelvanSdk_Z51QK2_RVN.dll";
constexpr int kSlots = QLV_DEVICE_SLOTS;

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
  if (!view || number < 0 || number >= kSlots) return nullptr;
  return reinterpret_cast<DeviceUseRecord*>(view + kUseTableOffset) + number;
}

uint32_t ModuleWord() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))); }

// Owner words: the top bit keeps them apart from the window handles other programs store in the
// table; then 19 bits of the process id (ids are multiples of 4) and a 12-bit sequence that no
// two live instances of this process share.
constexpr uint32_t kOwnerMark = 0x80000000u;
constexpr int kSequences = 4096;

uint32_t ProcessBits(DWORD pid) { return ((pid >> 2) & 0x7FFFFu) << 12; }

struct OwnerWords {
  common::CriticalSection lock;
  bool live[kSequences] = {};
  int next = 0;
};
OwnerWords& Words() {
  static OwnerWords words;
  return words;
}

uint32_t AllocateOwnerWord() {
  OwnerWords& w = Words();
  common::ScopedLock hold(w.lock);
  int seq = w.next;
  // Past 4096 live instances the sequence has to repeat; below that it never does.
  for (int tries = 0; tries < kSequences && w.live[seq]; ++tries) seq = (seq + 1) % kSequences;
  w.live[seq] = true;
  w.next = (seq + 1) % kSequences;
  return kOwnerMark | ProcessBits(GetCurrentProcessId()) | static_cast<uint32_t>(seq);
}

void FreeOwnerWord(uint32_t word) {
  OwnerWords& w = Words();
  common::ScopedLock hold(w.lock);
  w.live[word & (kSequences - 1)] = false;
}

bool OwnerWordLive(uint32_t word) {
  OwnerWords& w = Words();
  common::ScopedLock hold(w.lock);
  return w.live[word & (kSequences - 1)];
}

// Who holds each claim: a region of its own beside the device-use table, whose layout other
// programs rely on. Every process of this library keeps it mapped for its life and writes its
// record before the claim, so a claim of ours without a record belongs to a process that ended.
constexpr char kOwnerRegionName[] = "QelvanSdk_Z51QK2_RVN_DeviceOwners";

#pragma pack(push, 1)
struct DeviceOwnerRecord {
  uint32_t owner;         // the owner word of the device-use record it describes
  uint32_t processId;
  uint64_t processStart;  // creation time, so a reused process id is not taken for the owner
};
#pragma pack(pop)

uint64_t ProcessStart(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

DeviceOwnerRecord* OwnerTable() {
  static DeviceOwnerRecord* const table = [] {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DeviceOwnerRecord) * kSlots, kOwnerRegionName);
    return mapping ? static_cast<DeviceOwnerRecord*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
  }();
  return table;
}

DeviceOwnerRecord* OwnerRecord(int number) {
  DeviceOwnerRecord* table = OwnerTable();
  if (!table || number < 0 || number >= kSlots) return nullptr;
  return table + number;
}

bool ProcessEnded(DWORD pid, const uint64_t* start) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0 || (start && ProcessStart(process) != *start);
  CloseHandle(process);
  return ended;
}

// Whether the owner of a claim is known to be gone.
bool ClaimOwnerEnded(int number, uint32_t owner) {
  if (!OwnerTable()) return false;  // nothing to judge by: trust the claim
  const DeviceOwnerRecord* record = OwnerRecord(number);
  if (record->owner == owner && record->processId != 0) return ProcessEnded(record->processId, &record->processStart);
  // Another program's library: no record to judge by.
  if (!(owner & kOwnerMark)) return false;
  // One of this process's instances: alive while its word is.
  if ((owner & 0x7FFFF000u) == ProcessBits(GetCurrentProcessId())) return !OwnerWordLive(owner);
  // Ours, from a process that wrote no record here: the records died with the last process
  // that had them mapped, so its owner ended too.
  return true;
}

}  // namespace

DeviceClaim::DeviceClaim() : owner_(AllocateOwnerWord()) {}

DeviceClaim::~DeviceClaim() {
  // Every claim this owner may still hold, so that none outlives it.
  for (int n = 0; n < kSlots; ++n) Release(n);
  FreeOwnerWord(owner_);
  if (view_) UnmapViewOfFile(view_);
  if (mapping_) CloseHandle(mapping_);
}

bool DeviceClaim::Open() {
  OwnerTable();  // mapped before any claim is judged or made
  mapping_ = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedRegionName);
  if (mapping_) view_ = static_cast<uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!view_) {
    if (mapping_) CloseHandle(mapping_);
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSharedRegionSize,
                                  kSharedRegionName);
    const bool created = mapping_ && GetLastError() != ERROR_ALREADY_EXISTS;
    if (mapping_) view_ = static_cast<uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view_ && created) std::memset(view_, 0, kSharedRegionZeroed);
  }
  return view_ != nullptr;
}

bool DeviceClaim::Claim(int number) {
  DeviceUseRecord* record = UseRecord(view_, number);
  if (!record) return false;
  // The owner record first: a claim of ours is never seen without it while we live.
  if (DeviceOwnerRecord* owner = OwnerRecord(number)) {
    owner->owner = owner_;
    owner->processId = GetCurrentProcessId();
    owner->processStart = ProcessStart(GetCurrentProcess());
  }
  record->owner = owner_;
  record->module = ModuleWord();
  record->state = 0;
  std::memset(record->name, 0, sizeof record->name);
  std::memcpy(record->name, kModuleName, sizeof kModuleName);
  return true;
}

void DeviceClaim::Release(int number) {
  DeviceUseRecord* record = UseRecord(view_, number);
  if (!record) return;
  if (record->owner == owner_ && record->module == ModuleWord() && record->state == 0) {
    record->owner = 0;
    record->module = 0;
    record->state = 0;
    std::memset(record->name, 0, sizeof record->name);
  }
  DeviceOwnerRecord* owner = OwnerRecord(number);
  if (owner && owner->owner == owner_) *owner = DeviceOwnerRecord{};
}

bool DeviceClaim::Busy(int number) const {
  const DeviceUseRecord* record = UseRecord(view_, number);
  return record && record->owner != 0 && record->owner != owner_ && !ClaimOwnerEnded(number, record->owner);
}
