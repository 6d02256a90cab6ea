#include "output/frame_converter.h"

#include <climits>
#include <cstring>

#include "imaging/auto_iris.h"
#include "imaging/demosaic.h"
#include "imaging/filters.h"
#include "imaging/gray.h"
#include "imaging/pixel_walk.h"
#include "output/measure_windows.h"

namespace frameconv {
namespace {

using imaging::RowRoutine;

// Samples of the 16-bit members are 10-bit values.
constexpr int32_t kSampleBits = 10;

bool HasPixels(const CDibImage* image) {
  return image && image->Pixels() && image->Width() > 0 && image->Height() > 0;
}

bool SameLayout(const CDibImage* a, const CDibImage* b) {
  return HasPixels(a) && HasPixels(b) && a->Width() == b->Width() &&
         a->Height() == b->Height() && a->BitCount() == b->BitCount() &&
         a->Stride() == b->Stride();
}

bool SameSize(const CDibImage* a, const CDibImage* b) {
  return HasPixels(a) && HasPixels(b) && a->Width() == b->Width() && a->Height() == b->Height();
}

// Runs an in-place routine over the whole image.
int InPlace(CDibImage* image, RowRoutine routine, void* record) {
  if (!HasPixels(image)) return 0;
  void* param = record;
  return image->Transfer(routine, image, nullptr, 0, 0, record ? &param : nullptr, 0);
}

// Filter members by the colour type: 8-bit mono, 16-bit mono, 8-bit colour, 16-bit colour.
enum Member { kMono8 = 0, kMono16 = 1, kColor8 = 2, kColor16 = 3 };

int MemberOf(int32_t colorType) {
  switch (colorType) {
    case 0: return kMono8;
    case 1: return kMono16;
    case 2:
    case 3: return kColor8;
    default: return kColor16;
  }
}

const RowRoutine kGamma[] = {imaging::GammaMono8, imaging::GammaMono16, imaging::GammaColor8,
                             imaging::GammaColor16};
const RowRoutine kContrast[] = {imaging::ContrastMono8, imaging::ContrastMono16,
                                imaging::ContrastColor8, imaging::ContrastColor16};
const RowRoutine kSharpen[] = {imaging::SharpenMono8, imaging::SharpenMono16,
                               imaging::SharpenColor8, imaging::SharpenColor16};
const RowRoutine kBrightness[] = {imaging::BrightnessMono8, imaging::BrightnessMono16,
                                  imaging::BrightnessColor8, imaging::BrightnessColor16};

// Cell gains of gray mode 1, with the optional gray balance measurement first.
void ApplyCellGains(CDibImage* raw, ConvertSettings* s, ConvertChanges* changes) {
  imaging::GrayRecord record = {s->bayerMode,
                                s->grayGain[kCellR],
                                s->grayGain[kCellG1],
                                s->grayGain[kCellG2],
                                s->grayGain[kCellB],
                                s->grayOffset[kCellR],
                                s->grayOffset[kCellG1],
                                s->grayOffset[kCellG2],
                                s->grayOffset[kCellB],
                                s->colorType == 0 ? 8 : kSampleBits};
  if (s->grayBalance != 0) {
    InPlace(raw, imaging::MeasureGrayBalance, &record);
    s->grayGain[kCellR] = record.gain_r;
    s->grayGain[kCellG1] = record.gain_g1;
    s->grayGain[kCellG2] = record.gain_g2;
    s->grayGain[kCellB] = record.gain_b;
    s->grayBalance = NextGrayBalanceCounter(s->grayBalance);
    changes->grayGains = true;
    changes->grayBalanceCounter = true;
  }
  // Offsets alone do not start the pass.
  if (record.gain_r != 128 || record.gain_g1 != 128 || record.gain_g2 != 128 ||
      record.gain_b != 128)
    InPlace(raw, s->colorType == 0 ? imaging::CellGain8 : imaging::CellGain16, &record);
}

// Gray mode 2: demosaic into rgb24 and reduce to one luminance byte per pixel in mono8.
void DemosaicToGray(const FrameImages& images, ConvertSettings* s, ConvertChanges* changes) {
  CDibImage* rgb = images.rgb24;
  CDibImage* mono = images.mono8;
  if (!SameSize(rgb, mono) || rgb->BitCount() != 24 || mono->BitCount() != 8) {
    // Nothing to draw into; the white balance words still behave as on any frame.
    ConvertBayer(nullptr, mono, s, changes);
    return;
  }
  ConvertBayer(rgb, mono, s, changes);
  mono->Transfer(imaging::ColorToGray, rgb, nullptr, 0, 0, nullptr, 0);
}

// Keeps the sharpening copy in the output's exact layout.
CDibImage* ScratchFor(const FrameImages& images, CDibImage* out) {
  CDibImage* scratch = images.scratch;
  if (!scratch || !HasPixels(out)) return nullptr;
  if (!SameLayout(scratch, out) && !scratch->CreateLike(out)) return nullptr;
  return SameLayout(scratch, out) ? scratch : nullptr;
}

}  // namespace

CDibImage* RawImageOf(const FrameImages& images, int32_t colorType) {
  return colorType == 1 || colorType == 4 || colorType == 5 ? images.mono16 : images.mono8;
}

CDibImage* OutputImageOf(const FrameImages& images, int32_t colorType) {
  switch (colorType) {
    case 0: return images.mono8;
    case 1: return images.mono16;
    case 2: return images.rgb24;
    case 3: return images.rgb32;
    case 4: return images.rgb48;
    case 5: return images.rgb64;
    default: return nullptr;
  }
}

int32_t NextGlobalGain(int32_t gain, int32_t minimum, double f) {
  const double product = static_cast<double>(gain < 4 ? 4 : gain) * f;
  double limited = product;
  // Far outside any gain; keeps the conversion defined for a nonsense read.
  if (limited > 1e6) limited = 1e6;
  if (limited < -1e6) limited = -1e6;
  int32_t n = static_cast<int32_t>(limited);
  if (f > 1.0 && n <= 4) n = 4;
  if (n < minimum) n = minimum;
  if (n > kMaxAutoGain) n = kMaxAutoGain;
  return n;
}

int32_t NextExposureLines(int32_t lines, int32_t maximum, double f) {
  const double product = static_cast<double>(lines & 0xFFFF) * f;
  double limited = product;
  if (limited < 0.0) limited = 0.0;
  if (limited > 65535.0) limited = 65535.0;
  int32_t n = static_cast<int32_t>(static_cast<uint16_t>(limited));
  if (n < 1) n = 1;
  if (n > maximum) n = maximum;
  return n;
}

int32_t NextGrayBalanceCounter(int32_t counter) {
  if (counter > 0) return counter - 1;
  if (counter < 0 && counter > INT32_MIN) return counter - 1;
  return counter;
}

int AutoIrisStep(CDibImage* raw, int32_t mode, SensorAccess* sensor, ConvertChanges* changes) {
  if (mode != 1 && mode != 2) return 0;
  if (!HasPixels(raw)) return 0;
  int32_t means[imaging::kAutoIrisWindows];
  MeasureAutoIrisWindows(raw, means);
  const double f = imaging::AutoIrisFactor(means);
  if ((f > 0.6 && f < 1.2) || !sensor) return 1;
  if (mode == 2) {
    const int32_t n = NextGlobalGain(sensor->GlobalGain(), sensor->MinimumGlobalGain(), f);
    sensor->SetGlobalGain(n);
    changes->autoIris = kAutoIrisGain;
    changes->autoIrisValue = n;
  } else {
    const int32_t n = NextExposureLines(sensor->ExposureLines(), sensor->MaximumExposureLines(), f);
    sensor->SetExposureLines(n);
    changes->autoIris = kAutoIrisExposure;
    changes->autoIrisValue = n;
  }
  return 1;
}

int ConvertBayer(CDibImage* out, CDibImage* raw, ConvertSettings* s, ConvertChanges* changes) {
  const bool wide = raw && raw->BitCount() == 16;
  if (s->whiteBalance[0] != 0) {
    imaging::BayerMeasureRecord measured = {0, 0, 0, s->bayerMode};
    int result = 0;
    if (HasPixels(raw)) {
      void* param = &measured;
      result = raw->Transfer(wide ? imaging::MeasureBayerGains16 : imaging::MeasureBayerGains8,
                             raw, nullptr, 0, 0, &param, 0);
    }
    // A scene without one of the colours keeps the previous gains.
    if (imaging::StoreMeasuredGains(result, measured, &s->bayerGain[0], &s->bayerGain[1],
                                    &s->bayerGain[2]))
      changes->bayerGains = true;
    if (s->whiteBalance[0] != 0 && s->whiteBalance[1] != 0 && s->whiteBalance[2] != 0) {
      s->whiteBalance[0] = s->whiteBalance[1] = s->whiteBalance[2] = 0;
      changes->whiteBalanceWords = true;
    }
  }
  // Each depth of raw has its own output depths: 8-bit into 24/32 bpp, 16-bit into 48/64 bpp.
  if (!SameSize(out, raw)) return 1;
  const int out_bpp = out->BytesPerPixel();
  const bool depths_fit = wide ? (out_bpp == 6 || out_bpp == 8)
                                : (raw->BitCount() == 8 && (out_bpp == 3 || out_bpp == 4));
  if (!depths_fit) return 1;
  imaging::BayerRecord record = {s->bayerMode, s->bayerGain[0], s->bayerGain[1], s->bayerGain[2]};
  void* param = &record;
  out->Transfer(wide ? imaging::DemosaicInterior16 : imaging::DemosaicInterior8, raw, nullptr, 0,
                0, &param, 0);
  out->Transfer(wide ? imaging::DemosaicBorder16 : imaging::DemosaicBorder8, raw, nullptr, 0, 0,
                &param, 0);
  return 1;
}

void ConvertFrameImages(const FrameImages& images, ConvertSettings* s, SensorAccess* sensor,
                        ConvertChanges* changes) {
  const int32_t type = s->colorType;
  if (type < 0 || type > 5) return;
  CDibImage* raw = RawImageOf(images, type);
  CDibImage* out = OutputImageOf(images, type);

  AutoIrisStep(raw, s->autoIris, sensor, changes);

  if (type <= 1) {
    if (s->grayMode == 1)
      ApplyCellGains(raw, s, changes);
    else if (s->grayMode == 2)
      DemosaicToGray(images, s, changes);
  } else {
    ConvertBayer(out, raw, s, changes);
  }

  if (!HasPixels(out)) return;
  const int member = MemberOf(type);
  if (type >= 2 && (s->hue != 0 || s->saturation != 0)) {
    imaging::HueRecord hue = {s->hue, 0, s->saturation, kSampleBits};
    InPlace(out, type <= 3 ? imaging::HueSaturation8 : imaging::HueSaturation16, &hue);
  }
  if (s->gamma != 100) {
    imaging::FilterRecord record = {s->gamma, kSampleBits};
    InPlace(out, kGamma[member], &record);
  }
  if (s->contrast != 0) {
    imaging::FilterRecord record = {s->contrast, kSampleBits};
    InPlace(out, kContrast[member], &record);
  }
  if (s->sharpness != 0) {
    if (CDibImage* scratch = ScratchFor(images, out)) {
      std::memcpy(scratch->Pixels(), out->Pixels(),
                  static_cast<size_t>(out->Stride()) * static_cast<size_t>(out->Height()));
      imaging::FilterRecord record = {s->sharpness, kSampleBits};
      void* param = &record;
      out->Transfer(kSharpen[member], scratch, nullptr, 0, 0, &param, 0);
    }
  }
  if (s->brightness != 0) {
    imaging::FilterRecord record = {s->brightness, kSampleBits};
    InPlace(out, kBrightness[member], &record);
  }
}

}  // namespace frameconv
