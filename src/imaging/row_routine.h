// Row routine conventions shared by every pixel routine and by the bitmap holder.
#pragma once

#include <cstdint>

namespace imaging {

// Rectangle with exclusive right and bottom edges.
struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Row routine: (destination pixels, source pixels, source region in memory rows, destination
// column, destination memory row, destination and source bytes per pixel, destination and source
// stride, pointer to the pointer to the parameter record, second extra integer).
// In-place routines get the same buffer twice and write through the destination pointer.
using RowRoutine = int (*)(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                           int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                           int32_t src_stride, void** param, int32_t extra2);

// Declares or defines a row routine of that name with the parameter names the bodies use.
#define QELVAN_ROW_ROUTINE(name)                                                               \
  int name(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x, int32_t dst_y, \
           uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride, int32_t src_stride,         \
           void** param, int32_t extra2)

// Stretch routine: (destination pixels, source pixels, destination rectangle, source rectangle,
// destination width, height, source width, height, destination and source bytes per pixel,
// destination and source stride, the two extra arguments).
using StretchRoutine = int (*)(uint8_t* dst, const uint8_t* src, const Rect* dst_rect,
                               const Rect* src_rect, int32_t dst_width, int32_t dst_height,
                               int32_t src_width, int32_t src_height, uint16_t dst_bpp,
                               uint16_t src_bpp, int32_t dst_stride, int32_t src_stride,
                               void** param, int32_t extra2);

// Parameter records. Every field is a 32-bit signed integer, in this order.
struct GrayRecord {
  int32_t bayer_mode;
  int32_t gain_r, gain_g1, gain_g2, gain_b;          // 128 = 1.0
  int32_t offset_r, offset_g1, offset_g2, offset_b;  // sample units
  int32_t bits;                                      // bits per sample
};

struct BayerRecord {
  int32_t bayer_mode;
  int32_t red_gain, green_gain, blue_gain;  // 100 = 1.0; green is carried, not applied
};

struct BayerMeasureRecord {
  int32_t blue_result;
  int32_t green_result;
  int32_t red_result;
  int32_t bayer_mode;
};

struct FilterRecord {
  int32_t value;
  int32_t bits;
};

struct HueRecord {
  int32_t hue;
  int32_t reserved;  // always 0
  int32_t saturation;
  int32_t bits;
};

// Reads the record behind a row routine's parameter argument (null when absent).
template <typename Record>
inline Record* RecordOf(void** param) {
  return param ? static_cast<Record*>(*param) : nullptr;
}

// Row phase and column phase of a region's first pixel for a BayerMode 0..3.
inline int RowPhaseOf(int32_t bayer_mode) { return bayer_mode & 1; }
inline int ColumnPhaseOf(int32_t bayer_mode) { return (bayer_mode >> 1) & 1; }

}  // namespace imaging
