// CDataFile: a whole file or module resource held in memory, with a cursor over it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

class CDataFile {
 public:
  CDataFile() = default;
  ~CDataFile() { Release(); }
  CDataFile(const CDataFile&) = delete;
  CDataFile& operator=(const CDataFile&) = delete;

  // Loads from a resource of module when type is non-null (not copied), else reads the file
  // name whole into an owned buffer. Returns the data, or null on failure.
  const uint8_t* Load(const char* name, HMODULE module, const char* type);
  // Load from the executable's own module.
  const uint8_t* LoadFromModule(const char* name, const char* type);
  // Drops everything held: file, mapping, view, buffer.
  void Release();

  const uint8_t* Data() const { return data_; }
  const uint8_t* End() const { return end_; }
  const uint8_t* Cursor() const { return cursor_; }
  size_t Size() const { return size_; }
  // Reads a little-endian 32-bit value at the cursor and moves past it; false at the end.
  bool ReadInt32(int32_t* value);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  const uint8_t* data_ = nullptr;
  const uint8_t* end_ = nullptr;
  const uint8_t* cursor_ = nullptr;
  size_t size_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
};
