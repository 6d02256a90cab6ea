// The per-frame conversion from the raw sensor image to the output image of a colour type:
// automatic exposure/gain, cell gains or demosaicing with white balance, then the filters.
// Plain pixel work on bitmap holders; the sensor is reached through SensorAccess.
#pragma once

#include <cstdint>

#include "imaging/row_routine.h"
#include "output/dib_image.h"

namespace frameconv {

// The images of one camera instance; null where the colour type has none.
struct FrameImages {
  CDibImage* mono8 = nullptr;
  CDibImage* mono16 = nullptr;
  CDibImage* rgb24 = nullptr;
  CDibImage* rgb32 = nullptr;
  CDibImage* rgb48 = nullptr;
  CDibImage* rgb64 = nullptr;
  CDibImage* scratch = nullptr;  // copy of the output for sharpening; re-made when unlike it
};

// Gray cells in the order the camera instance keeps them.
enum GrayCell { kCellR = 0, kCellG1 = 1, kCellG2 = 2, kCellB = 3 };

// Image settings as read once at the start of a frame. The conversion updates the measured
// values in place; ConvertChanges says which ones.
struct ConvertSettings {
  int32_t colorType = 0;  // 0..5: 8, 16, 24, 32, 48, 64 bits per pixel
  int32_t bayerMode = 2;
  int32_t grayMode = 0;   // 0 none, 1 cell gains, 2 demosaic and back to gray
  int32_t grayGain[4] = {128, 128, 128, 128};  // by GrayCell; 128 = 1.0
  int32_t grayOffset[4] = {0, 0, 0, 0};
  int32_t bayerGain[3] = {100, 100, 100};      // red, green, blue; 100 = 1.0
  int32_t whiteBalance[3] = {0, 0, 0};         // first word: measure the Bayer gains
  int32_t grayBalance = 0;                     // 0 off, 1 once, negative: every frame
  int32_t hue = 0;
  int32_t saturation = 0;
  int32_t gamma = 100;
  int32_t contrast = 0;
  int32_t sharpness = 0;
  int32_t brightness = 0;
  int32_t autoIris = 0;  // 0 off, 1 exposure, 2 gain
};

enum AutoIrisWrite { kAutoIrisNone = 0, kAutoIrisExposure = 1, kAutoIrisGain = 2 };

// What one conversion changed, for the caller to store and announce.
struct ConvertChanges {
  bool grayGains = false;           // grayGain[] measured
  bool grayBalanceCounter = false;  // grayBalance stepped
  bool bayerGains = false;          // bayerGain[] measured by the white balance
  bool whiteBalanceWords = false;   // a one-time white balance switched itself off
  int autoIris = kAutoIrisNone;     // what the automatic step wrote to the sensor
  int32_t autoIrisValue = 0;        // the gain or exposure it wrote
};

// The sensor settings the automatic exposure/gain step reads and writes.
class SensorAccess {
 public:
  virtual ~SensorAccess() = default;
  virtual int32_t GlobalGain() = 0;
  virtual int32_t MinimumGlobalGain() = 0;
  virtual void SetGlobalGain(int32_t gain) = 0;
  virtual int32_t ExposureLines() = 0;  // 0..0xFFFF
  virtual int32_t MaximumExposureLines() = 0;
  virtual void SetExposureLines(int32_t lines) = 0;
};

constexpr int32_t kMaxAutoGain = 63;

// The raw and output images of a colour type (the same holder for types 0 and 1).
CDibImage* RawImageOf(const FrameImages& images, int32_t colorType);
CDibImage* OutputImageOf(const FrameImages& images, int32_t colorType);

// Gain after a step by factor f: raised to 4 first, at least 4 when rising, then limited to
// minimum..63.
int32_t NextGlobalGain(int32_t gain, int32_t minimum, double f);
// Exposure after a step by factor f: the product as an unsigned 16-bit value, then 1..maximum,
// so that a long exposure that grows saturates instead of wrapping to a short one.
int32_t NextExposureLines(int32_t lines, int32_t maximum, double f);
// The gray balance counter after a measured frame: 1 becomes 0, a negative counter keeps
// counting down but stops at the smallest value instead of wrapping to positive.
int32_t NextGrayBalanceCounter(int32_t counter);

// Automatic exposure (mode 1) or gain (mode 2) from the five window means of raw. Returns 0
// when the mode is off or raw is missing, else 1.
int AutoIrisStep(CDibImage* raw, int32_t mode, SensorAccess* sensor, ConvertChanges* changes);

// Optional white balance measurement on raw, then demosaicing of raw into out. Returns 1.
int ConvertBayer(CDibImage* out, CDibImage* raw, ConvertSettings* settings,
                 ConvertChanges* changes);

// The whole conversion of one frame. Missing or unlike images skip the steps that need them.
void ConvertFrameImages(const FrameImages& images, ConvertSettings* settings,
                        SensorAccess* sensor, ConvertChanges* changes);

}  // namespace frameconv
