#include "device/data_file.h"

#include <cstring>
#include <new>

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
