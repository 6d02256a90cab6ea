// The settings of one camera as one value: the software filter block, the analog (sensor)
// values, the capture geometry and the stream values, with their ranges and defaults.
// A plain value type: copied, compared and edited without any lock or window.
#pragma once

#include <cstdint>

#include "common/qlv_camera_model.h"
#include "settings/registry_store.h"

namespace settings {

// Positions in the filter block.
enum FilterSlot {
  kFilterBrightness = 0,
  kFilterContrast = 1,
  kFilterHue = 2,
  kFilterSaturation = 3,
  kFilterSharpness = 4,
  kFilterGainRed = 5,
  kFilterGainGreen = 6,
  kFilterGainBlue = 7,
  kFilterGamma = 8,
  kFilterBayerMode = 9,
  kFilterGrayMode = 11,
  kFilterGrayGain = 12,      // 12..15: R, G1, G2, B
  kFilterGrayOffset = 16,    // 16..19: R, G1, G2, B
  kFilterWhiteBalance = 25,  // 25..27
  kFilterGrayBalance = 29,
  kFilterCount = 30,
};

// The 30 words behind the filter numbers of the filter setters.
struct FilterBlock {
  int32_t value[kFilterCount] = {};
  int32_t& operator[](int slot) { return value[slot]; }
  int32_t operator[](int slot) const { return value[slot]; }
  bool operator==(const FilterBlock& other) const;
  bool operator!=(const FilterBlock& other) const { return !(*this == other); }
  // Brightness, contrast, hue, saturation, sharpness 0; gains and gamma 100; Bayer mode 2; gray
  // gains 128, gray offsets 0; everything else 0. Built from the registry store's defaults of
  // the "Filter" and "Gray" groups, so that there is one table of them.
  static FilterBlock Defaults();
  // The measured words a frame conversion may write: colour gains, gray gains, the white
  // balance words and the gray balance counter, copied from another block.
  void TakeMeasured(const FilterBlock& from);
};

// The sensor values by position, in the registry's stored order.
enum AnalogField {
  kAnalogGlobalGain = 0,
  kAnalogGreen1,
  kAnalogRed,
  kAnalogBlue,
  kAnalogGreen2,
  kAnalogExposure,
  kAnalogMirrorV,
  kAnalogMirrorH,
  kAnalogAutoIris,
  kAnalogFieldCount,
};

// The sensor values: gains, exposure in lines, mirrors and the automatic-iris mode.
struct AnalogValues {
  int32_t globalGain = 16;
  int32_t colorGainGreen1 = 0;
  int32_t colorGainRed = 0;
  int32_t colorGainBlue = 0;
  int32_t colorGainGreen2 = 0;
  int32_t exposureLines = 480;
  int32_t mirrorV = 0;
  int32_t mirrorH = 0;
  int32_t autoIris = 0;  // 0 off, 1 exposure, 2 gain
  bool operator==(const AnalogValues& other) const;
  bool operator!=(const AnalogValues& other) const { return !(*this == other); }
  int32_t& operator[](AnalogField field);
  int32_t operator[](AnalogField field) const;
};

// Colour type, sub-sampling, pause between frames and pixel clock.
struct StreamValues {
  int32_t colorType = 0;
  int32_t subSample = 0;
  int32_t waitTime = 10;
  int32_t clock = 0;
};

struct CameraSettings {
  // Cleared: opening a camera fills the block from its stored values or the defaults, and a
  // value missing from the store leaves its word as it was.
  FilterBlock filters;
  AnalogValues analog;
  SizePreset geometry;
  StreamValues stream;
};

// Ranges of the sensor values.
constexpr int kGlobalGainMin = QLV_GLOBAL_GAIN_MIN;
constexpr int kGlobalGainMax = QLV_GLOBAL_GAIN_MAX;
constexpr int kGlobalGainDefault = QLV_GLOBAL_GAIN_DEFAULT;
constexpr int kColorGainMax = QLV_GLOBAL_GAIN_MAX;
constexpr int kExposureLinesMin = QLV_EXPOSURE_LINES_MIN;
constexpr int kExposureLinesMax = QLV_EXPOSURE_LINES_MAX;
constexpr int kExposureLinesDefault = QLV_EXPOSURE_LINES_DEFAULT;

// The colour gain register of an analog field (Green1, Red, Blue, Green2); 0 for the others.
constexpr int ColorGainRegister(AnalogField field) {
  return field == kAnalogGreen1   ? QLV_REG_GAIN_GREEN1
         : field == kAnalogRed    ? QLV_REG_GAIN_RED
         : field == kAnalogBlue   ? QLV_REG_GAIN_BLUE
         : field == kAnalogGreen2 ? QLV_REG_GAIN_GREEN2
                                  : 0;
}
// The four colour gain fields in the order they go to the sensor.
constexpr AnalogField kColorGainFields[4] = {kAnalogGreen1, kAnalogRed, kAnalogBlue, kAnalogGreen2};

// Where a plain filter number (1..28 except 6, 10 and 13..18) keeps its value and what it
// accepts; false for the others.
struct FilterRange {
  int slot, min, max;
};
bool PlainFilterRange(int number, FilterRange* range);

// Analog values to and from the registry's gain group.
AnalogValues FromGain(const GainValues& gain);
GainValues ToGain(const AnalogValues& analog);

}  // namespace settings
