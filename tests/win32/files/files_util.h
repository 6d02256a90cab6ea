// Helpers of the file tests: patterned holders, expected pixels computed from the pattern (not
// from the holder), file reading, and the manifest that the Linux-side check reads.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "output/dib_image.h"

namespace files_test {

// Output folder inside the build tree (the tests run in the bin folder).
inline std::string OutDir() {
  CreateDirectoryA("files_out", nullptr);
  return "files_out\\";
}

// 8-bit channel c of picture pixel (x, y), top row y = 0. Smooth ramps, different per row so
// that a flipped picture does not match.
inline uint8_t Byte(int x, int y, int c) { return static_cast<uint8_t>((x * 2 + y * 3 + c * 60) & 0xFF); }
// 10-bit sample of channel c.
inline uint16_t Sample(int x, int y, int c) { return static_cast<uint16_t>((x * 5 + y * 9 + c * 150) % 1024); }
// Fourth byte and fourth sample.
inline uint8_t Fourth8(int x, int y) { return static_cast<uint8_t>((x + 2 * y) & 0xFF); }
inline uint16_t Fourth16(int x, int y) { return static_cast<uint16_t>((x * 3 + y) % 1024); }

inline void Put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }

// A holder of the given depth filled with the pattern, top picture row at the lowest address.
inline bool MakePattern(CDibImage* img, int w, int h, uint16_t bits) {
  if (!img->Create(w, h, bits)) return false;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = img->Pixels() + static_cast<size_t>(y) * img->Stride();
    for (int x = 0; x < w; ++x) {
      uint8_t* p = row + static_cast<size_t>(x) * (bits / 8);
      switch (bits) {
        case 8: p[0] = Byte(x, y, 0); break;
        case 16: Put16(p, Sample(x, y, 0)); break;
        case 24: case 32:
          for (int c = 0; c < 3; ++c) p[c] = Byte(x, y, c);
          if (bits == 32) p[3] = Fourth8(x, y);
          break;
        default:
          for (int c = 0; c < 3; ++c) Put16(p + 2 * c, Sample(x, y, c));
          if (bits == 64) Put16(p + 6, Fourth16(x, y));
      }
    }
  }
  return true;
}

inline std::vector<uint8_t> ReadAll(const std::string& name) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return bytes;
}

inline bool WriteAll(const std::string& name, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline bool Exists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
inline uint32_t GetBE32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// One line per file for the Linux-side check: kind, file, then kind-specific fields.
inline void Manifest(const std::string& line) {
  FILE* f = std::fopen((OutDir() + "manifest.txt").c_str(), "ab");
  if (!f) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

}  // namespace files_test
