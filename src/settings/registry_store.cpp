#include "settings/registry_store.h"

#include <cstdio>
#include <cstring>

namespace settings {

namespace {

const char* const kPresetNames[7] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
const char* const kCameraNames[5] = {"Size", "Color", "SubSample", "WaitTime", "Clock"};
const char* const kGainNames[9] = {"Global",   "ColorG1",  "ColorR",   "ColorB",  "ColorG2",
                                   "Exposure", "V_Mirror", "H_Mirror", "AutoIris"};
const char* const kFilterNames[kFilterValueCount] = {"Brightness", "Contrast", "Hue",    "Saturation", "Sharpness",
                                                     "R_Gain",     "G_Gain",   "B_Gain", "Gamma",      "BayerMode"};
const char* const kGrayNames[kGrayValueCount] = {"Mode",     "GainR1",   "GainG1",   "GainG2",  "GainB1",
                                                 "OffsetR1", "OffsetG1", "OffsetG2", "OffsetB1"};

int32_t* PresetField(SizePreset& p, int i) {
  int32_t* fields[7] = {&p.totalWidth, &p.totalHeight, &p.width, &p.height, &p.startX, &p.startY, &p.bufferCount};
  return fields[i];
}

int32_t* GainField(GainValues& g, int i) {
  int32_t* fields[9] = {&g.global,   &g.colorG1, &g.colorR,  &g.colorB,  &g.colorG2,
                        &g.exposure, &g.mirrorV, &g.mirrorH, &g.autoIris};
  return fields[i];
}

void ReadPreset(const RegKey& key, SizePreset* preset) {
  for (int i = 0; i < 7; ++i) key.Query(kPresetNames[i], PresetField(*preset, i));
}

bool WritePreset(const RegKey& camera, int n, const SizePreset& preset) {
  char name[32];
  PresetKeyName(n, name);
  RegKey key;
  if (!key.Create(camera.get(), name)) return false;
  SizePreset copy = preset;
  for (int i = 0; i < 7; ++i) key.Set(kPresetNames[i], *PresetField(copy, i));
  return true;
}

// A camera subkey ("Gain", "Filter", "Gray") for reading or for writing.
bool OpenGroup(int camera, const char* group, RegKey* key) {
  RegKey cam;
  return OpenCameraKey(camera, &cam) && key->Open(cam.get(), group);
}

bool CreateGroup(int camera, const char* group, RegKey* key) {
  RegKey cam;
  return CreateCameraKey(camera, &cam) && key->Create(cam.get(), group);
}

template <int N>
bool LoadValues(int camera, const char* group, const char* const (&names)[N], int32_t (&values)[N]) {
  RegKey key;
  if (!OpenGroup(camera, group, &key)) return false;
  for (int i = 0; i < N; ++i) key.Query(names[i], &values[i]);
  return true;
}

template <int N>
bool SaveValues(int camera, const char* group, const char* const (&names)[N], const int32_t (&values)[N]) {
  RegKey key;
  if (!CreateGroup(camera, group, &key)) return false;
  for (int i = 0; i < N; ++i) key.Set(names[i], values[i]);
  return true;
}

}  // namespace

const int32_t kFilterDefaults[kFilterValueCount] = {0, 0, 0, 0, 0, 100, 100, 100, 100, 2};
const int32_t kGrayDefaults[kGrayValueCount] = {0, 128, 128, 128, 128, 0, 0, 0, 0};

bool RegKey::Open(HKEY parent, const char* name) {
  Close();
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  key_ = key;
  return true;
}

bool RegKey::Create(HKEY parent, const char* name) {
  Close();
  HKEY key = nullptr;
  char emptyClass[1] = "";
  if (RegCreateKeyExA(parent, name, 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  key_ = key;
  return true;
}

void RegKey::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

bool RegKey::Query(const char* name, int32_t* value) const {
  if (!key_) return false;
  int32_t v = 0;
  DWORD size = sizeof v;
  if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
      size != sizeof v)
    return false;
  *value = v;
  return true;
}

bool RegKey::Set(const char* name, int32_t value) const {
  if (!key_) return false;
  return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

void CameraKeyName(int camera, char (&out)[32]) { std::snprintf(out, sizeof out, "Camera_%02d", camera); }

void PresetKeyName(int preset, char (&out)[32]) {
  std::memset(out, 0, sizeof out);
  std::snprintf(out, sizeof out, "Size_%02d", preset);
}

bool OpenCameraKey(int camera, RegKey* key) {
  RegKey base;
  char name[32];
  CameraKeyName(camera, name);
  return base.Open(HKEY_CURRENT_USER, kBaseKey) && key->Open(base.get(), name);
}

bool CreateCameraKey(int camera, RegKey* key) {
  RegKey base;
  char name[32];
  CameraKeyName(camera, name);
  return base.Create(HKEY_CURRENT_USER, kBaseKey) && key->Create(base.get(), name);
}

bool ValidColor(int32_t value) { return value >= 0 && value <= 5; }
bool ValidSubSample(int32_t value) { return value >= 0 && value <= 2; }
bool ValidWaitTime(int32_t value) { return value >= 0; }

bool LoadSizePreset(int camera, SizePreset* preset) {
  RegKey base;
  if (!base.Open(HKEY_CURRENT_USER, kBaseKey)) {
    // First run: write the full-sensor preset and the camera values, then keep the built-in
    // geometry for this open.
    RegKey cam;
    char name[32];
    CameraKeyName(camera, name);
    if (!base.Create(HKEY_CURRENT_USER, kBaseKey) || !cam.Create(base.get(), name)) return false;
    if (!WritePreset(cam, 0, SizePreset())) return false;
    const CameraValues first;
    const int32_t values[5] = {first.size, first.color, first.subSample, first.waitTime, first.clock};
    for (int i = 0; i < 5; ++i) cam.Set(kCameraNames[i], values[i]);
    return false;
  }
  base.Close();
  RegKey cam;
  if (!OpenCameraKey(camera, &cam)) return false;
  int32_t n = 0;
  if (!cam.Query("Size", &n)) return false;
  char name[32];
  PresetKeyName(n, name);
  RegKey key;
  if (!key.Open(cam.get(), name)) return false;
  ReadPreset(key, preset);
  return true;
}

bool LoadCameraValues(int camera, CameraValues* values) {
  RegKey cam;
  if (!OpenCameraKey(camera, &cam)) return false;
  int32_t v = 0;
  if (cam.Query("Color", &v) && ValidColor(v)) values->color = v;
  if (cam.Query("SubSample", &v) && ValidSubSample(v)) values->subSample = v;
  if (cam.Query("WaitTime", &v) && ValidWaitTime(v)) values->waitTime = v;
  if (cam.Query("Clock", &v)) values->clock = v;
  return true;
}

bool LoadGain(int camera, GainValues* gain) {
  RegKey key;
  if (!OpenGroup(camera, "Gain", &key)) return false;
  int32_t scratch = 0;
  for (int i = 0; i < 9; ++i) {
    key.Query(kGainNames[i], &scratch);
    *GainField(*gain, i) = scratch;
  }
  return true;
}

bool SaveGain(int camera, const GainValues& gain) {
  RegKey key;
  if (!CreateGroup(camera, "Gain", &key)) return false;
  GainValues copy = gain;
  for (int i = 0; i < 9; ++i) key.Set(kGainNames[i], *GainField(copy, i));
  return true;
}

bool LoadFilter(int camera, int32_t (&values)[kFilterValueCount]) {
  return LoadValues(camera, "Filter", kFilterNames, values);
}
bool SaveFilter(int camera, const int32_t (&values)[kFilterValueCount]) {
  return SaveValues(camera, "Filter", kFilterNames, values);
}
bool LoadGray(int camera, int32_t (&values)[kGrayValueCount]) { return LoadValues(camera, "Gray", kGrayNames, values); }
bool SaveGray(int camera, const int32_t (&values)[kGrayValueCount]) {
  return SaveValues(camera, "Gray", kGrayNames, values);
}

bool LoadPresetList(int camera, PresetList* list) {
  RegKey cam;
  if (!OpenCameraKey(camera, &cam)) return false;
  list->presets.clear();
  for (int n = 0; n < kMaxPresets; ++n) {
    char name[32];
    PresetKeyName(n, name);
    RegKey key;
    if (!key.Open(cam.get(), name)) break;
    SizePreset preset;
    ReadPreset(key, &preset);
    list->presets.push_back(preset);
  }
  int32_t* fields[5] = {&list->values.size, &list->values.color, &list->values.subSample, &list->values.waitTime,
                        &list->values.clock};
  for (int i = 0; i < 5; ++i) cam.Query(kCameraNames[i], fields[i]);
  return true;
}

bool SavePresetList(int camera, const PresetList& list) {
  RegKey cam;
  if (!CreateCameraKey(camera, &cam)) return false;
  const int count = static_cast<int>(list.presets.size()) < kMaxPresets ? static_cast<int>(list.presets.size())
                                                                          : kMaxPresets;
  for (int n = 0; n < count; ++n)
    if (!WritePreset(cam, n, list.presets[n])) break;
  const int32_t sub = list.values.subSample == 1 || list.values.subSample == 2 ? list.values.subSample : 0;
  const int32_t values[5] = {list.values.size, list.values.color, sub, list.values.waitTime, list.values.clock};
  for (int i = 0; i < 5; ++i) cam.Set(kCameraNames[i], values[i]);
  return true;
}

PresetLookup FindPreset(int camera, int width, int height, SizePreset* preset) {
  RegKey cam;
  if (!OpenCameraKey(camera, &cam)) return PresetLookup::kNoKey;
  for (int n = 0; n < kMaxPresets; ++n) {
    char name[32];
    PresetKeyName(n, name);
    RegKey key;
    if (!key.Open(cam.get(), name)) break;
    SizePreset candidate;
    ReadPreset(key, &candidate);
    if (candidate.width == width && candidate.height == height) {
      *preset = candidate;
      return PresetLookup::kFound;
    }
  }
  return PresetLookup::kNoMatch;
}

}  // namespace settings
