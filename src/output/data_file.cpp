#include "output/data_file.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {
std::atomic<int64_t> writeBudget{-1};
}  // namespace

void CDataFile::SetWriteBudgetForTest(int64_t bytes) { writeBudget = bytes; }

void CDataFile::Release() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  view_ = nullptr;
  mapping_ = nullptr;
  file_ = INVALID_HANDLE_VALUE;
  buffer_.reset();
  data_ = end_ = cursor_ = nullptr;
  size_ = 0;
}

const uint8_t* CDataFile::LoadFromModule(const char* name, const char* type) {
  return Load(name, GetModuleHandleA(nullptr), type);
}

const uint8_t* CDataFile::Load(const char* name, HMODULE module, const char* type) {
  Release();
  if (name == nullptr) return nullptr;
  size_t size = 0;
  if (type != nullptr) {
    HRSRC info = FindResourceA(module, name, type);
    if (info == nullptr) return nullptr;
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr) return nullptr;
    const void* locked = LockResource(loaded);
    if (locked == nullptr) return nullptr;
    data_ = static_cast<const uint8_t*>(locked);
    size = SizeofResource(module, info);
  } else {
    HANDLE file = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER fileSize;
    bool ok = GetFileSizeEx(file, &fileSize) && fileSize.QuadPart >= 0 &&
              fileSize.QuadPart < 0x7FFFFFFF;
    if (ok) {
      size = static_cast<size_t>(fileSize.QuadPart);
      // At least one byte, so that an empty file still yields data (of size 0).
      buffer_.reset(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
      DWORD read = 0;
      // A short or failed read must not pass unread memory off as the file.
      ok = buffer_ && (size == 0 || (ReadFile(file, buffer_.get(), static_cast<DWORD>(size), &read,
                                              nullptr) &&
                                     read == size));
    }
    CloseHandle(file);
    if (!ok) {
      buffer_.reset();
      return nullptr;
    }
    data_ = buffer_.get();
  }
  if (data_ == nullptr) return nullptr;
  size_ = size;
  cursor_ = data_;
  end_ = data_ + size;
  return data_;
}

bool CDataFile::ReadInt32(int32_t* value) {
  if (cursor_ == nullptr || end_ - cursor_ < 4) return false;
  uint32_t v = static_cast<uint32_t>(cursor_[0]) | static_cast<uint32_t>(cursor_[1]) << 8 |
               static_cast<uint32_t>(cursor_[2]) << 16 | static_cast<uint32_t>(cursor_[3]) << 24;
  if (value != nullptr) *value = static_cast<int32_t>(v);
  cursor_ += 4;
  return true;
}

bool CDataFile::OpenForWrite(const char* name, bool readBack) {
  Release();
  if (name == nullptr || name[0] == '\0') return false;
  const DWORD tries[2] = {GENERIC_READ | GENERIC_WRITE, GENERIC_WRITE};
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int i = readBack ? 0 : 1; i < 2 && file == INVALID_HANDLE_VALUE; ++i) {
    file = CreateFileA(name, tries[i], 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      file = CreateFileA(name, tries[i], 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  file_ = file;
  size_ = static_cast<size_t>(FileSize());
  return true;
}

bool CDataFile::Write(const void* bytes, size_t count) {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    int64_t budget = writeBudget.load();
    if (budget >= 0) {
      if (budget < static_cast<int64_t>(chunk)) {
        writeBudget = 0;
        SetLastError(ERROR_DISK_FULL);
        return false;
      }
      writeBudget -= chunk;
    }
    DWORD written = 0;
    if (!WriteFile(file_, p, chunk, &written, nullptr) || written != chunk) return false;
    p += chunk;
    count -= chunk;
  }
  return true;
}

bool CDataFile::Read(void* bytes, size_t count) {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  uint8_t* p = static_cast<uint8_t*>(bytes);
  while (count > 0) {
    const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!ReadFile(file_, p, chunk, &got, nullptr) || got != chunk) return false;
    p += chunk;
    count -= chunk;
  }
  return true;
}

bool CDataFile::Seek(uint64_t offset) {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != 0;
}

bool CDataFile::SeekEnd() {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return SetFilePointerEx(file_, zero, nullptr, FILE_END) != 0;
}

uint64_t CDataFile::FileSize() const {
  if (file_ == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_, &size) || size.QuadPart < 0) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

bool CDataFile::Tell(uint64_t* position) const {
  if (file_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(file_, zero, &at, FILE_CURRENT)) return false;
  if (position != nullptr) *position = static_cast<uint64_t>(at.QuadPart);
  return true;
}
