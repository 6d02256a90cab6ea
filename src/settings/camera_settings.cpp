// The settings value type: defaults, the measured words, comparisons, the plain filter table and
// the registry's gain group.
#include "settings/camera_settings.h"

#include <algorithm>

namespace settings {

bool FilterBlock::operator==(const FilterBlock& other) const {
  return std::equal(value, value + kFilterCount, other.value);
}

// The stored groups' defaults are the one table: positions 0..9 are the "Filter" group, 11..19
// the "Gray" group; the words no group stores start cleared.
FilterBlock FilterBlock::Defaults() {
  FilterBlock block;
  for (int i = 0; i < kFilterValueCount; ++i) block[i] = kFilterDefaults[i];
  for (int i = 0; i < kGrayValueCount; ++i) block[kFilterGrayMode + i] = kGrayDefaults[i];
  return block;
}

void FilterBlock::TakeMeasured(const FilterBlock& from) {
  static const int kMeasured[] = {
      kFilterGainRed,          kFilterGainGreen,        kFilterGainBlue,
      kFilterGrayGain + 0,     kFilterGrayGain + 1,     kFilterGrayGain + 2,
      kFilterGrayGain + 3,     kFilterWhiteBalance + 0, kFilterWhiteBalance + 1,
      kFilterWhiteBalance + 2, kFilterGrayBalance,
  };
  for (int slot : kMeasured) value[slot] = from.value[slot];
}

int32_t& AnalogValues::operator[](AnalogField field) {
  int32_t* const fields[kAnalogFieldCount] = {&globalGain,      &colorGainGreen1, &colorGainRed,
                                              &colorGainBlue,   &colorGainGreen2, &exposureLines,
                                              &mirrorV,         &mirrorH,         &autoIris};
  return *fields[field];
}

int32_t AnalogValues::operator[](AnalogField field) const {
  return const_cast<AnalogValues&>(*this)[field];
}

bool AnalogValues::operator==(const AnalogValues& other) const {
  for (int f = 0; f < kAnalogFieldCount; ++f)
    if ((*this)[static_cast<AnalogField>(f)] != other[static_cast<AnalogField>(f)]) return false;
  return true;
}

bool PlainFilterRange(int number, FilterRange* range) {
  static const FilterRange kTable[29] = {
      {-1, 0, 0},
      {kFilterBrightness, -255, 255},      // 1
      {kFilterContrast, -127, 127},        // 2
      {kFilterHue, -360, 360},             // 3
      {kFilterSaturation, -255, 255},      // 4
      {kFilterSharpness, 0, 30},           // 5
      {-1, 0, 0},                          // 6 packed Bayer gains
      {kFilterGainRed, 0, 400},            // 7
      {kFilterGainGreen, 0, 400},          // 8
      {kFilterGainBlue, 0, 400},           // 9
      {-1, 0, 0},                          // 10 automatic white balance
      {kFilterGamma, 0, 200},              // 11
      {kFilterBayerMode, 0, 3},            // 12
      {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0}, {-1, 0, 0},  // 13..18 sensor
      {kFilterGrayMode, 0, 2},             // 19
      {kFilterGrayGain + 0, 0, 255},       // 20
      {kFilterGrayGain + 1, 0, 255},       // 21
      {kFilterGrayGain + 2, 0, 255},       // 22
      {kFilterGrayGain + 3, 0, 255},       // 23
      {kFilterGrayOffset + 0, -255, 255},  // 24
      {kFilterGrayOffset + 1, -255, 255},  // 25
      {kFilterGrayOffset + 2, -255, 255},  // 26
      {kFilterGrayOffset + 3, -255, 255},  // 27
      {kFilterGrayBalance, 0, 1},          // 28
  };
  if (number < 1 || number > 28 || kTable[number].slot < 0) return false;
  *range = kTable[number];
  return true;
}

AnalogValues FromGain(const GainValues& gain) {
  AnalogValues a;
  a.globalGain = gain.global;
  a.colorGainGreen1 = gain.colorG1;
  a.colorGainRed = gain.colorR;
  a.colorGainBlue = gain.colorB;
  a.colorGainGreen2 = gain.colorG2;
  a.exposureLines = gain.exposure;
  a.mirrorV = gain.mirrorV;
  a.mirrorH = gain.mirrorH;
  a.autoIris = gain.autoIris;
  return a;
}

GainValues ToGain(const AnalogValues& analog) {
  GainValues g;
  g.global = analog.globalGain;
  g.colorG1 = analog.colorGainGreen1;
  g.colorR = analog.colorGainRed;
  g.colorB = analog.colorGainBlue;
  g.colorG2 = analog.colorGainGreen2;
  g.exposure = analog.exposureLines;
  g.mirrorV = analog.mirrorV;
  g.mirrorH = analog.mirrorH;
  g.autoIris = analog.autoIris;
  return g;
}

}  // namespace settings
