// CDibImage: the bitmap holder every image of the library lives in. A device-independent
// bitmap header with a 256-entry colour table, the pixel memory and, in the DLL, a memory DC
// with a DIB section for the formats GDI accepts (8 to 32 bits); 48 and 64 bits, and every
// depth in the native build, use plain memory.
//
// Row order: the header declares a positive (bottom-up) height, but the conversion pipeline
// writes the top picture row at the lowest address; consumers that need bottom-up rows turn
// them over themselves.
#pragma once

#include <cstdint>

#include "imaging/row_routine.h"

#ifdef _WIN32
#include <windows.h>
#else
// The same layouts as the Windows structures, for the native build.
struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
using HDC = void*;
using HBITMAP = void*;
using HGDIOBJ = void*;
#endif

class CDibImage {
 public:
  CDibImage() { Init(); }
  ~CDibImage() { Release(); }
  CDibImage(const CDibImage&) = delete;
  CDibImage& operator=(const CDibImage&) = delete;

  // Zeroes header, colour table, handles, sizes and pointers (owns nothing afterwards).
  void Init();
  // width x height at 8, 16, 24, 32, 48 or 64 bits; rows padded to 4 bytes. 1 on success.
  int Create(int32_t width, int32_t height, uint16_t bit_count);
  // Same header and sizes as other (pixels not copied; the new memory is zeroed).
  int CreateLike(const CDibImage* other);
  // Frees everything and returns to the empty state; safe to call repeatedly.
  void Release();
  // Gray ramp in the colour table (and the DC's, when there is one). Always 1.
  int SetGrayPalette();

#ifdef _WIN32
  // BitBlt from source's DC at rect (or the whole source) onto this holder's DC at (x, y).
  void Blit(const CDibImage* source, const imaging::Rect* rect, int32_t x, int32_t y);
#endif

  // Clips the source rectangle (picture coordinates, or the whole source) placed at (x, y)
  // against both holders and hands what is left to the row routine in memory coordinates.
  // Returns the routine's result, or 0 when nothing is left or no routine is given.
  int Transfer(imaging::RowRoutine routine, const CDibImage* source, const imaging::Rect* rect,
               int32_t x, int32_t y, void** extra1, int32_t extra2);
  // Hands both rectangles (default: the whole holder) to a stretch routine; no clipping.
  int StretchTransfer(imaging::StretchRoutine routine, const CDibImage* source,
                      const imaging::Rect* src_rect, const imaging::Rect* dst_rect, void** extra1,
                      int32_t extra2);

#ifdef _WIN32
  // BMP file of the holder as it is in memory (file header, info header, the colour table for
  // 8 bits, then the rows). 1 only when every byte was written.
  int WriteBmp(const char* name) const;
#endif

  uint8_t* Pixels() const { return pixels_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Stride() const { return stride_; }
  uint16_t BitCount() const { return bit_count_; }
  uint16_t BytesPerPixel() const { return static_cast<uint16_t>(bit_count_ / 8); }
  const BITMAPINFOHEADER& Header() const { return header_; }
  const RGBQUAD* ColorTable() const { return colors_; }
  // Header and colour table together, as GDI and the file writers take them.
  const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(&header_); }
  HDC Dc() const { return dc_; }
  HBITMAP Dib() const { return dib_; }

  // The clipping of Transfer on its own: fills the source rectangle in memory rows and the
  // destination column and memory row; false (all zero) when nothing is left.
  static bool ClipTransfer(int32_t dst_width, int32_t dst_height, int32_t src_width,
                           int32_t src_height, const imaging::Rect* rect, int32_t x, int32_t y,
                           imaging::Rect* memory_rect, int32_t* dst_column, int32_t* dst_row);

 private:
  int Allocate(HDC reference);

  BITMAPINFOHEADER header_;
  RGBQUAD colors_[256];
  HDC dc_;
  HBITMAP dib_;
  uint8_t* pixels_;
  int32_t width_;
  int32_t height_;
  int32_t stride_;
  uint16_t bit_count_;
  HGDIOBJ saved_;
  uint8_t* owned_;  // plain pixel block, when the pixels are not a DIB section
};
