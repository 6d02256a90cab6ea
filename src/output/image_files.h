// Still image files: one dispatcher over the BMP, raw, JPEG, PNG and TIFF writers.
#pragma once

#include <cstdint>

#include "output/dib_image.h"

namespace output {

// File type codes of SaveImageFile.
enum ImageFileType : int {
  kFileBmp = 0,
  kFileRaw = 1,
  kFileJpeg100 = 2,
  kFileJpeg70 = 3,
  kFileJpeg20 = 4,
  kFilePng = 5,
  kFileTiff = 6,
};

// Saves source (any holder depth) as the given file type. 1 on success; 0 for an empty holder,
// an unknown code, an unsupported depth, a file that cannot be made or any failed write.
// Writes nothing before the arguments have been checked.
int SaveImageFile(const char* name, const CDibImage* source, int type);

// PNG of width x height rows in memory order, stride padded to 4 bytes: gray for 8 and 16 bits,
// RGB for 24 and 48, RGBA for 32 and 64; blue-first samples, 16-bit ones little-endian.
int WritePng(const char* name, const uint8_t* pixels, int32_t width, int32_t height,
             uint16_t bit_count);

// JPEG of an 8-bit (gray) or 24-bit holder whose memory holds the picture bottom row first.
int WriteJpeg(const char* name, const CDibImage* holder, int quality, int progressive);

// Uncompressed one-strip TIFF of a holder of 1, 2, 3, 4, 6 or 8 bytes per pixel.
int WriteTiff(const char* name, const CDibImage* source);

}  // namespace output
