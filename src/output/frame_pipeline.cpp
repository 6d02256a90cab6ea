#include "output/frame_pipeline.h"

#include <cstring>

#include "imaging/format.h"

namespace output {

bool ValidColorType(int32_t type) { return type >= 0 && type <= 5; }

int OutputBits(ColorType type) {
  static const int kBits[6] = {8, 16, 24, 32, 48, 64};
  return kBits[static_cast<int>(type)];
}

bool WideSamples(ColorType type) {
  return type == ColorType::kMono10 || type == ColorType::kRgb48 || type == ColorType::kRgb64;
}

int DisplayBits(ColorType type) { return type <= ColorType::kMono10 ? 8 : 24; }

namespace {

// (Re)makes the display image at the client size in the depth of the colour type; a depth
// change counts as much as a size change, or a 24-bit scale would overrun an 8-bit image.
bool FitDisplayImage(CDibImage* display, int cw, int ch, ColorType type) {
  const int bits = DisplayBits(type);
  if (display->Pixels() && display->Width() == cw && display->Height() == ch && display->BitCount() == bits)
    return true;
  if (!display->Create(cw, ch, static_cast<uint16_t>(bits))) return false;
  if (bits == 8) display->SetGrayPalette();
  return true;
}

}  // namespace

bool FramePipeline::Size(ImageSet* set, ColorType type, int w, int h) {
  bool sized = true;
  if (type <= ColorType::kRgb32) sized = set->image8.Create(w, h, 8) && set->image8.SetGrayPalette();
  if (sized && WideSamples(type)) sized = set->image16.Create(w, h, 16);
  if (sized && type != ColorType::kMono10) sized = set->image24.Create(w, h, 24);
  if (sized && type == ColorType::kRgb32) sized = set->image32.Create(w, h, 32);
  if (sized && type == ColorType::kRgb48) sized = set->image48.Create(w, h, 48);
  if (sized && type == ColorType::kRgb64) sized = set->image64.Create(w, h, 64);
  return sized;
}

bool FramePipeline::Prepare(ColorType type, int w, int h) {
  ImageSet& published = sets_[published_];
  bool sized = Size(&published, type, w, h) && scratch_.CreateLike(published.Output(type));
  // The worker's set starts as a copy of the published one, images of other colour types
  // included: a frame rewrites the images of its own type only, so the two sets stay alike in
  // everything a frame leaves alone, and a swap never brings back an older picture there.
  ImageSet& work = Work();
  CDibImage* const from[6] = {&published.image8, &published.image16, &published.image24,
                              &published.image32, &published.image48, &published.image64};
  CDibImage* const to[6] = {&work.image8, &work.image16, &work.image24,
                            &work.image32, &work.image48, &work.image64};
  for (int i = 0; i < 6; ++i) {
    if (!from[i]->Pixels()) {
      to[i]->Release();
      continue;
    }
    if (to[i]->Width() != from[i]->Width() || to[i]->Height() != from[i]->Height() ||
        to[i]->BitCount() != from[i]->BitCount() || !to[i]->Pixels()) {
      if (!to[i]->CreateLike(from[i])) {
        sized = false;
        continue;
      }
    }
    std::memcpy(to[i]->Pixels(), from[i]->Pixels(),
                static_cast<size_t>(from[i]->Stride()) * static_cast<size_t>(from[i]->Height()));
  }
  if (sized) prepared_ = type;
  return sized;
}

CDibImage* FramePipeline::Raw(ColorType type) { return Work().Raw(type); }

const CDibImage* FramePipeline::ImageSet::Output(ColorType type) const {
  switch (type) {
    case ColorType::kMono8: return &image8;
    case ColorType::kMono10: return &image16;
    case ColorType::kRgb24: return &image24;
    case ColorType::kRgb32: return &image32;
    case ColorType::kRgb48: return &image48;
    case ColorType::kRgb64: return &image64;
  }
  return nullptr;
}

const CDibImage* FramePipeline::Output(ColorType type) const { return Published().Output(type); }

void FramePipeline::SpreadRawRows() {
  CDibImage* raw = Raw();
  const int bytesPerSample = raw->BytesPerPixel();
  if (raw->Stride() != raw->Width() * bytesPerSample)
    raw->Transfer(bytesPerSample == 1 ? imaging::SpreadRows8 : imaging::SpreadRows16, raw, nullptr, 0, 0, nullptr, 0);
}

void FramePipeline::Convert(frameconv::ConvertSettings* settings, frameconv::SensorAccess* sensor,
                            frameconv::ConvertChanges* changes) {
  ImageSet& work = Work();
  frameconv::FrameImages images;
  images.mono8 = &work.image8;
  images.mono16 = &work.image16;
  images.rgb24 = &work.image24;
  images.rgb32 = &work.image32;
  images.rgb48 = &work.image48;
  images.rgb64 = &work.image64;
  images.scratch = &scratch_;
  settings->colorType = static_cast<int32_t>(prepared_);
  frameconv::ConvertFrameImages(images, settings, sensor, changes);
}

void FramePipeline::SizeDisplay(HWND window) {
  RECT client;
  if (!window || !IsWindowVisible(window) || !GetClientRect(window, &client) || client.right <= 0 ||
      client.bottom <= 0)
    return;
  FitDisplayImage(&display_, client.right, client.bottom, prepared_);
}

void FramePipeline::Paint(HWND window, HDC dc) {
  const ColorType type = prepared_;
  ImageSet& work = Work();
  // The 8- and 24-bit forms are refreshed on every frame, drawn or not.
  CDibImage* source = type <= ColorType::kMono10 ? &work.image8 : &work.image24;
  switch (type) {
    case ColorType::kMono10: work.image8.Transfer(imaging::Reduce16To8, &work.image16, nullptr, 0, 0, nullptr, 0); break;
    case ColorType::kRgb32: work.image24.Transfer(imaging::Copy32To24, &work.image32, nullptr, 0, 0, nullptr, 0); break;
    case ColorType::kRgb48: work.image24.Transfer(imaging::Reduce48To24, &work.image48, nullptr, 0, 0, nullptr, 0); break;
    case ColorType::kRgb64: work.image24.Transfer(imaging::Reduce48To24, &work.image64, nullptr, 0, 0, nullptr, 0); break;
    default: break;
  }
  if (!window || !dc || !source->Pixels() || !IsWindowVisible(window)) return;
  RECT client;
  if (!GetClientRect(window, &client)) return;
  const int cw = client.right;
  const int ch = client.bottom;
  if (cw <= 0 || ch <= 0) return;

  const int sw = source->Width();
  const int sh = source->Height();
  if (cw == sw && ch == sh && type != ColorType::kMono10) {
    // The images hold the top row first while their headers say bottom-up: drawn with a
    // top-down header they come out upright, every row in its place.
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colors[256];
    } info;
    info.header = source->Header();
    info.header.biHeight = -sh;
    std::memcpy(info.colors, source->ColorTable(), sizeof info.colors);
    StretchDIBits(dc, 0, 0, cw, ch, 0, 0, sw, sh, source->Pixels(), reinterpret_cast<BITMAPINFO*>(&info),
                  DIB_RGB_COLORS, SRCCOPY);
    return;
  }
  if (!FitDisplayImage(&display_, cw, ch, type) || !display_.Dc()) return;
  display_.StretchTransfer(DisplayBits(type) == 8 ? imaging::Scale8 : imaging::Scale24, source, nullptr, nullptr,
                           nullptr, 0);
  BitBlt(dc, 0, 0, cw, ch, display_.Dc(), 0, 0, SRCCOPY);
}

int64_t FramePipeline::OutputBytes(ColorType type) const {
  const CDibImage* image = Output(type);
  return static_cast<int64_t>(image->Stride()) * image->Height();
}

bool FramePipeline::CopyImageOut(const CDibImage* image, void* buffer, int size, int topDown) {
  const int64_t bytes = static_cast<int64_t>(image->Stride()) * image->Height();
  if (!buffer || !image->Pixels() || static_cast<int64_t>(size) < bytes) return false;
  const int rowBytes = image->Stride();
  const int rows = image->Height();
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint8_t* pixels = image->Pixels();
  if (topDown) {
    std::memcpy(out, pixels, static_cast<size_t>(bytes));
    return true;
  }
  for (int i = 0; i < rows; ++i)
    std::memcpy(out + static_cast<size_t>(i) * rowBytes, pixels + static_cast<size_t>(rows - 1 - i) * rowBytes, rowBytes);
  return true;
}

bool FramePipeline::CopyOut(ColorType type, void* buffer, int size, int topDown) const {
  return CopyImageOut(Output(type), buffer, size, topDown);
}

bool FramePipeline::CopyOutConverted(void* buffer, int size, int topDown) const {
  return CopyImageOut(Work().Output(prepared_), buffer, size, topDown);
}

bool FramePipeline::ShapeLikeOutput(ColorType type, CDibImage* copy) const {
  const CDibImage* source = Output(type);
  if (!source || !source->Pixels() || source->Width() <= 0 || source->Height() <= 0) return false;
  if (copy->Pixels() && copy->Width() == source->Width() && copy->Height() == source->Height() &&
      copy->BitCount() == source->BitCount())
    return true;
  return copy->CreateLike(source) != 0;
}

bool FramePipeline::CopyOutput(ColorType type, CDibImage* copy) const {
  if (!ShapeLikeOutput(type, copy)) return false;
  const CDibImage* source = Output(type);
  std::memcpy(copy->Pixels(), source->Pixels(),
              static_cast<size_t>(source->Height()) * static_cast<size_t>(source->Stride()));
  return true;
}

const CDibImage* AviFrame(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c) {
  switch (copy->BitCount()) {
    case 8:
      // GDI spreads the gray levels into blue = green = red.
      b->Blit(copy, nullptr, 0, 0);
      a->Transfer(imaging::Copy3ChannelsReversed, b, nullptr, 0, 0, nullptr, 0);
      return a;
    case 16:
      c->Transfer(imaging::Reduce16To8Reversed, copy, nullptr, 0, 0, nullptr, 0);
      a->Blit(c, nullptr, 0, 0);
      return a;
    case 48:
    case 64:
      b->Transfer(imaging::Reduce48To24Reversed, copy, nullptr, 0, 0, nullptr, 0);
      return b;
    default:
      a->Transfer(imaging::Copy3ChannelsReversed, copy, nullptr, 0, 0, nullptr, 0);
      return a;
  }
}

}  // namespace output
