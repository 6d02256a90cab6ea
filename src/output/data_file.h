// CDataFile: the one file class of the library's readers and writers. Reading: a whole file or
// module resource held in memory, with a cursor over it. Writing: every write is checked.
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

  // Write side. OpenForWrite drops whatever was held, then truncates an existing file or
  // creates a new one (no sharing); false when neither works. With readBack the file is also
  // opened for reading where it can be (not a pipe that only takes data).
  bool OpenForWrite(const char* name, bool readBack = false);
  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
  // True only when every byte was written.
  bool Write(const void* bytes, size_t count);
  // Reads count bytes at the current position of a file opened with readBack; true only when
  // all were read.
  bool Read(void* bytes, size_t count);
  // Moves the write position to an absolute offset, or to the end; false on failure.
  bool Seek(uint64_t offset);
  bool SeekEnd();
  // Ends the file at the current write position.
  bool Truncate() { return IsOpen() && SetEndOfFile(file_) != 0; }
  // Current write position; false when there is no file.
  bool Tell(uint64_t* position) const;
  // Current size of the open file, 0 when none.
  uint64_t FileSize() const;
  void Close() { Release(); }

  // Test seam: once this many more bytes have been written (process-wide), writes fail.
  // A negative value turns the limit off.
  static void SetWriteBudgetForTest(int64_t bytes);

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
