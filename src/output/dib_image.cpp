#include "output/dib_image.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

bool SupportedDepth(uint16_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

}  // namespace

void CDibImage::Init() {
  std::memset(&header_, 0, sizeof(header_));
  std::memset(colors_, 0, sizeof(colors_));
  header_.biSize = 40;
  dc_ = nullptr;
  dib_ = nullptr;
  pixels_ = nullptr;
  width_ = height_ = stride_ = 0;
  bit_count_ = 0;
  saved_ = nullptr;
  owned_ = nullptr;
}

void CDibImage::Release() {
#ifdef _WIN32
  if (dib_) {
    if (dc_ && saved_) SelectObject(dc_, saved_);
    DeleteObject(dib_);
    dib_ = nullptr;
    saved_ = nullptr;
    pixels_ = nullptr;
  }
  if (dc_) {
    DeleteDC(dc_);
    dc_ = nullptr;
  }
#endif
  delete[] owned_;
  owned_ = nullptr;
  pixels_ = nullptr;
  width_ = height_ = stride_ = 0;
  bit_count_ = 0;
  std::memset(&header_, 0, sizeof(header_));
  std::memset(colors_, 0, sizeof(colors_));
  header_.biSize = 40;
}

int CDibImage::Create(int32_t width, int32_t height, uint16_t bit_count) {
  // A failed create leaves the holder empty, never holding the previous image.
  Release();
  // Depths other than the six the library uses would give a zero or odd stride.
  if (width <= 0 || height <= 0 || !SupportedDepth(bit_count)) return 0;
  const int64_t row = (static_cast<int64_t>(width) * (bit_count / 8) + 3) & ~int64_t{3};
  if (row > INT32_MAX || row * height > INT32_MAX) return 0;
  header_.biPlanes = 1;
  header_.biWidth = width;
  header_.biHeight = height;
  header_.biBitCount = bit_count;
  header_.biCompression = 0;  // BI_RGB
  width_ = width;
  height_ = height;
  stride_ = static_cast<int32_t>(row);
  bit_count_ = bit_count;
  return Allocate(nullptr);
}

int CDibImage::CreateLike(const CDibImage* other) {
  if (other == this) {
    // Copy the format before releasing it: the holder is its own model.
    if (width_ <= 0 || height_ <= 0 || bit_count_ == 0) {
      Release();
      return 0;
    }
    return Create(width_, height_, bit_count_);
  }
  Release();
  if (!other || other->width_ <= 0 || other->height_ <= 0 || other->bit_count_ == 0) return 0;
  std::memcpy(&header_, &other->header_, sizeof(header_));
  width_ = other->width_;
  height_ = other->height_;
  stride_ = other->stride_;
  bit_count_ = other->bit_count_;
  return Allocate(other->dc_);
}

int CDibImage::Allocate(HDC reference) {
  if (bit_count_ == 8) SetGrayPalette();
#ifdef _WIN32
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(reference, reinterpret_cast<BITMAPINFO*>(&header_), DIB_RGB_COLORS,
                                 &bits, nullptr, 0);
  if (dib) {
    dib_ = dib;
    pixels_ = static_cast<uint8_t*>(bits);
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) {
      Release();
      return 0;
    }
    saved_ = SelectObject(dc_, dib_);
    if (!saved_ || saved_ == HGDI_ERROR) {
      saved_ = nullptr;
      Release();
      return 0;
    }
    return 1;
  }
#else
  (void)reference;
#endif
  const size_t bytes = static_cast<size_t>(stride_) * static_cast<size_t>(height_);
  owned_ = new (std::nothrow) uint8_t[bytes];
  if (!owned_) {
    Release();
    return 0;
  }
  std::memset(owned_, 0, bytes);
  pixels_ = owned_;
  return 1;
}

int CDibImage::SetGrayPalette() {
  RGBQUAD table[256];
  for (int i = 0; i < 256; ++i) {
    const uint8_t v = static_cast<uint8_t>(i);
    table[i] = {v, v, v, 0};
    colors_[i] = table[i];
  }
#ifdef _WIN32
  if (dc_) SetDIBColorTable(dc_, 0, 256, table);
#endif
  return 1;
}

#ifdef _WIN32
void CDibImage::Blit(const CDibImage* source, const imaging::Rect* rect, int32_t x, int32_t y) {
  if (!source) return;
  int32_t left = 0, top = 0, w = source->width_, h = source->height_;
  if (rect) {
    left = rect->left;
    top = rect->top;
    w = rect->right - rect->left;
    h = rect->bottom - rect->top;
  }
  BitBlt(dc_, x, y, w, h, source->dc_, left, top, SRCCOPY);
}
#endif

bool CDibImage::ClipTransfer(int32_t dst_width, int32_t dst_height, int32_t src_width,
                             int32_t src_height, const imaging::Rect* rect, int32_t x, int32_t y,
                             imaging::Rect* memory_rect, int32_t* dst_column, int32_t* dst_row) {
  *memory_rect = {0, 0, 0, 0};
  *dst_column = 0;
  *dst_row = 0;
  const imaging::Rect r = rect ? *rect : imaging::Rect{0, 0, src_width, src_height};
  // 64-bit, so that far-off positions cannot overflow.
  const int64_t tl = x, tt = y;
  const int64_t tr = tl + (int64_t{r.right} - r.left);
  const int64_t tb = tt + (int64_t{r.bottom} - r.top);
  if (tr <= 0 || tb <= 0 || tl >= dst_width || tt >= dst_height) return false;
  int64_t l = std::max<int64_t>(tl, 0), t = std::max<int64_t>(tt, 0);
  const int64_t rr = std::min<int64_t>(tr, dst_width), b = std::min<int64_t>(tb, dst_height);
  int64_t ul = r.left + (l - x), ut = r.top + (t - y);
  int64_t ur = ul + (rr - l), ub = ut + (b - t);
  if (ur <= 0 || ub <= 0 || ul >= src_width || ut >= src_height) return false;
  // A source rectangle starting left of or above the source moves the destination with it.
  if (ul < 0) l -= ul, ul = 0;
  if (ut < 0) ut = 0;
  ur = std::min<int64_t>(ur, src_width);
  ub = std::min<int64_t>(ub, src_height);
  if (ur <= ul || ub <= ut) return false;
  *memory_rect = {static_cast<int32_t>(ul), static_cast<int32_t>(src_height - ub),
                  static_cast<int32_t>(ur), static_cast<int32_t>(src_height - ut)};
  *dst_column = static_cast<int32_t>(l);
  *dst_row = static_cast<int32_t>(dst_height - b);
  return true;
}

int CDibImage::Transfer(imaging::RowRoutine routine, const CDibImage* source,
                        const imaging::Rect* rect, int32_t x, int32_t y, void** extra1,
                        int32_t extra2) {
  if (!source) return 0;
  imaging::Rect memory_rect;
  int32_t column, row;
  if (!ClipTransfer(width_, height_, source->width_, source->height_, rect, x, y, &memory_rect,
                    &column, &row))
    return 0;
  if (!routine) return 0;
  return routine(pixels_, source->pixels_, &memory_rect, column, row, BytesPerPixel(),
                 source->BytesPerPixel(), stride_, source->stride_, extra1, extra2);
}

int CDibImage::StretchTransfer(imaging::StretchRoutine routine, const CDibImage* source,
                               const imaging::Rect* src_rect, const imaging::Rect* dst_rect,
                               void** extra1, int32_t extra2) {
  if (!routine || !source) return 0;
  const imaging::Rect s =
      src_rect ? *src_rect : imaging::Rect{0, 0, source->width_, source->height_};
  const imaging::Rect d = dst_rect ? *dst_rect : imaging::Rect{0, 0, width_, height_};
  return routine(pixels_, source->pixels_, &d, &s, width_, height_, source->width_, source->height_,
                 BytesPerPixel(), source->BytesPerPixel(), stride_, source->stride_, extra1,
                 extra2);
}
