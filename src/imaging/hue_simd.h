// SSE2 and AVX2 paths of the 8-bit hue/saturation filter; identical results to the scalar path.
#pragma once

#include <cstdint>

namespace imaging {

// Processes the leading pixels of one row (bytes per pixel 3 or 4, the fourth byte kept) in
// groups of eight and returns how many it did; the caller finishes the row. shift is the hue
// position on the 1530-step circle; saturation must lie in -255..255.
int HueSaturationRowSse2(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                         int32_t saturation);

// The same sixteen pixels at a time; needs AVX2.
int HueSaturationRowAvx2(uint8_t* dst, const uint8_t* src, int width, int bpp, int32_t shift,
                         int32_t saturation);

// Staging of wide samples for the 8-bit algorithm, eight at a time; each returns how many it did
// (a multiple of 8) and the caller finishes the rest.
// bytes[i] = min(words[i] >> down, 255).
int NarrowWordsSse2(uint8_t* bytes, const uint8_t* words, int count, int down);
// words[i] = bytes[i] << up; with keep_fourth (4-word pixels) every fourth word is left alone.
int WidenBytesSse2(uint8_t* words, const uint8_t* bytes, int count, int up, bool keep_fourth);

}  // namespace imaging
