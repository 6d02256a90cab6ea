// Per-camera settings in the current user's registry: capture-size presets, the camera values,
// and the gain, filter and gray groups, under
// HKCU\Software\Dovira\QelvanZ51QK2RVNSdk\Camera_NN.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace settings {

constexpr char kBaseKey[] = "Software\\Dovira\\QelvanZ51QK2RVNSdk";
constexpr int kMaxPresets = 100;

// An open registry key, closed when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }

  // Opens parent\name for reading; false when it does not exist.
  bool Open(HKEY parent, const char* name);
  // Creates or opens parent\name with full access.
  bool Create(HKEY parent, const char* name);
  void Close();
  bool valid() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

  // Reads a 32-bit value. Anything that is not exactly four bytes counts as missing, so a
  // short value never overwrites part of a field.
  bool Query(const char* name, int32_t* value) const;
  bool Set(const char* name, int32_t value) const;

 private:
  HKEY key_ = nullptr;
};

// "Camera_%02d" and "Size_%02d".
void CameraKeyName(int camera, char (&out)[32]);
void PresetKeyName(int preset, char (&out)[32]);

// Opens the base key and then the camera key for reading.
bool OpenCameraKey(int camera, RegKey* key);
// Creates (or opens) the base key and then the camera key.
bool CreateCameraKey(int camera, RegKey* key);

// One capture-size preset: TH, TV, EH, EV, EHS, EVS and Buf, in their stored order.
struct SizePreset {
  int32_t totalWidth = 752;
  int32_t totalHeight = 480;
  int32_t width = 752;
  int32_t height = 480;
  int32_t startX = 0;
  int32_t startY = 0;
  int32_t bufferCount = 4;
};

// The five values of the camera key.
struct CameraValues {
  int32_t size = 0;
  int32_t color = 2;
  int32_t subSample = 0;
  int32_t waitTime = 1;
  int32_t clock = 2;
};

// The analog group of the "Gain" key, in stored order.
struct GainValues {
  int32_t global = 16;
  int32_t colorG1 = 0;
  int32_t colorR = 0;
  int32_t colorB = 0;
  int32_t colorG2 = 0;
  int32_t exposure = 480;
  int32_t mirrorV = 0;
  int32_t mirrorH = 0;
  int32_t autoIris = 0;
};

constexpr int kFilterValueCount = 10;  // filter block positions 0..9
constexpr int kGrayValueCount = 9;     // filter block positions 11..19

// Whether a stored camera value can be used; others count as missing (a negative wait
// would stall the consumer, an unknown colour or sub-sample mode has no images).
bool ValidColor(int32_t value);
bool ValidSubSample(int32_t value);
bool ValidWaitTime(int32_t value);

// The current preset. Where the base key is missing this is a first run: the first-run preset
// and camera values are written and false is returned (the caller keeps its geometry).
// Values missing from the preset key leave their field unchanged.
bool LoadSizePreset(int camera, SizePreset* preset);
// Color, SubSample, WaitTime and Clock; a missing or unusable value leaves its field.
bool LoadCameraValues(int camera, CameraValues* values);

// The "Gain" key read through one scratch word: a missing value repeats the one before it.
// False, with gain unchanged, when a key is missing (the caller supplies the defaults).
bool LoadGain(int camera, GainValues* gain);
bool SaveGain(int camera, const GainValues& gain);

// The ten "Filter" values (positions 0..9) and the nine "Gray" values; a missing value
// leaves its entry. False, with the values unchanged, when a key is missing.
bool LoadFilter(int camera, int32_t (&values)[kFilterValueCount]);
bool SaveFilter(int camera, const int32_t (&values)[kFilterValueCount]);
bool LoadGray(int camera, int32_t (&values)[kGrayValueCount]);
bool SaveGray(int camera, const int32_t (&values)[kGrayValueCount]);

// Defaults used where the keys are missing; FilterBlock::Defaults is built from these two.
extern const int32_t kFilterDefaults[kFilterValueCount];
extern const int32_t kGrayDefaults[kGrayValueCount];

// All presets of a camera and its five values, for the camera settings dialog.
struct PresetList {
  std::vector<SizePreset> presets;
  CameraValues values;
};
// Reads presets from Size_00 up to the first gap, then the five values. False when the camera
// key is missing (the list is left empty).
bool LoadPresetList(int camera, PresetList* list);
// Writes each preset and then the five values; SubSample is stored as 1, 2 or else 0.
bool SavePresetList(int camera, const PresetList& list);

enum class PresetLookup { kNoKey, kNoMatch, kFound };
// The first preset whose window size is width x height.
PresetLookup FindPreset(int camera, int width, int height, SizePreset* preset);

}  // namespace settings
