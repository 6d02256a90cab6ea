// Opening, listing, device selection and the registry groups.
#include "camera/camera.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "camera/acquisition.h"
#include "camera/sensor_timing.h"
#include "device/qelvan_device.h"
#include "settings/registry_store.h"

namespace {

constexpr char kCameraDisplayName[] = "QelvanZ51QK2-RVN";
constexpr int kListEntries = 10;
constexpr int kNameEntryChars = 256;

// "QelvanZ51QK2-RVN_NN", cut to fit size characters with the terminator.
void FormatDeviceName(char* out, size_t size, int number) {
  std::snprintf(out, size, "%s_%02d", kCameraDisplayName, number);
}

bool WideDeviceName(wchar_t* out, int length, int number) {
  char narrow[64];
  FormatDeviceName(narrow, sizeof narrow, number);
  wchar_t wide[64];
  const int n = MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 64);
  if (n <= 0) return false;
  const int chars = n - 1 < length - 1 ? n - 1 : length - 1;
  std::memcpy(out, wide, chars * sizeof(wchar_t));
  out[chars] = L'\0';
  return true;
}

}  // namespace

// --- Opening --------------------------------------------------------------------------------

int CQelvan::Open(HWND notifyWindow) {
  // Stored first, so that even a failure to join the region reaches the application's window.
  errors_.SetWindow(notifyWindow);
  if (!claim_.Open()) {
    PushError(ERR_MEMORY);
    return 0;
  }
  // A camera another program streams from is selected but left untouched until it is free.
  const bool pending = claim_.Busy(0);
  device_.reset(pending ? new (std::nothrow) CQelvanZ51QKRVNSdk(CQelvanZ51QKRVNSdk::DeferInit{})
                        : new (std::nothrow) CQelvanZ51QKRVNSdk());
  if (device_) acquisition_.reset(new (std::nothrow) camera::Acquisition(*device_, settings_, claim_, errors_));
  if (!acquisition_) {
    // Half an instance is no instance: later calls see no device.
    device_.reset();
    PushError(ERR_MEMORY);
    return 0;
  }
  acquisition_->SetInitPending(pending);
  cameraNumber_ = 0;

  LoadSizePreset();
  // A stored window that is empty, or not inside the sensor, gives way to the whole sensor.
  const settings::SizePreset g = settings_.Update([&](settings::CameraSettings& s) {
    if (!CaptureWindowValid(s.geometry, s.stream.subSample) || s.geometry.width == 0 || s.geometry.height == 0) {
      PushError(ERR_GEOMETRY);
      s.geometry.totalWidth = s.geometry.width = QLV_SENSOR_WIDTH;
      s.geometry.totalHeight = s.geometry.height = QLV_SENSOR_HEIGHT;
      s.geometry.startX = s.geometry.startY = 0;
    }
    return s.geometry;
  });
  if (!pending) device_->SetCaptureWindow(g.startX, g.startY, g.width, g.height, settings_.Get().stream.subSample);
  acquisition_->SetPlacement(nullptr, 0, 0, g.width, g.height);

  LoadFilter(0);
  LoadGray(0);
  LoadGain(0);
  if (!pending) PushAnalogSettings(settings_.Get().analog);
  LoadCameraValues();
  return 1;
}

void CQelvan::PushAnalogSettings(const settings::AnalogValues& a) {
  device_->SetGlobalGain(a.globalGain);
  for (settings::AnalogField field : settings::kColorGainFields)
    device_->SetColorGain(settings::ColorGainRegister(field), a[field]);
  device_->SetExposureLines(a.exposureLines);
  device_->SetMirrorV(a.mirrorV);
  device_->SetMirrorH(a.mirrorH);
}

// --- Listing and naming ---------------------------------------------------------------------

int CQelvan::EnumDevice(char names[10][256]) {
  if (!RequireDevice()) return 0;
  if (!names) return PushError(ERR_ARGUMENT), 0;
  // One refresh gives a consistent snapshot of what is attached.
  device_->EnumerateDevices();
  int found = 0;
  for (int n = 0; n < DEVICE_SLOTS && found < kListEntries; ++n) {
    if (!device_->IsDevicePresent(n)) continue;
    ++found;
    FormatDeviceName(names[found - 1], kNameEntryChars, found);
  }
  for (int i = found; i < kListEntries; ++i) names[i][0] = '\0';
  return found;
}

int CQelvan::EnumDeviceW(wchar_t names[10][256]) {
  if (!RequireDevice()) return 0;
  if (!names) return PushError(ERR_ARGUMENT), 0;
  // Shows the presence table as the last narrow listing (or the open) left it.
  int found = 0;
  for (int n = 0; n < DEVICE_SLOTS && found < kListEntries; ++n) {
    if (!device_->IsDevicePresent(n)) continue;
    ++found;
    if (!WideDeviceName(names[found - 1], kNameEntryChars, found)) names[found - 1][0] = L'\0';
  }
  for (int i = found; i < kListEntries; ++i) names[i][0] = L'\0';
  return found;
}

int CQelvan::GetDeviceName(int number, char* buffer, int length) {
  if (!RequireDevice()) return 0;
  if (length <= 14 || !buffer) return PushError(ERR_ARGUMENT), 0;
  if (number < 0 || number >= DEVICE_SLOTS) return PushError(ERR_ARGUMENT), 0;
  if (!device_->IsDevicePresent(number)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  FormatDeviceName(buffer, static_cast<size_t>(length), number + 1);
  return 1;
}

int CQelvan::GetDeviceNameW(int number, wchar_t* buffer, int length) {
  if (!RequireDevice()) return 0;
  if (length <= 14 || !buffer) return PushError(ERR_ARGUMENT), 0;
  if (number < 0 || number >= DEVICE_SLOTS) return PushError(ERR_ARGUMENT), 0;
  if (!device_->IsDevicePresent(number)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  if (!WideDeviceName(buffer, length, number + 1)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  return 1;
}

// --- Selection ------------------------------------------------------------------------------

int CQelvan::SetDeviceNumber(int number) {
  if (!RequireDevice()) return 0;
  // Re-initialising the device replaces its frame buffers: only while nothing runs. An open
  // dialog edits this camera's settings: another camera is not selected under it.
  int result = 0;
  acquisition_->WhenIdle([&] {
    if (cameraDialogOpen_ || analogDialogOpen_ || imageDialogOpen_) {
      PushError(ERR_NOT_READY);
      return;
    }
    result = SelectLocked(number);
  });
  return result;
}

int CQelvan::SelectLocked(int number) {
  // The listing may be stale: a camera unplugged since then must not be selected.
  if (!camera::CameraAnswers(number)) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  SaveAll(cameraNumber_);

  bool pending = claim_.Busy(number);
  if (pending) {
    // Another program streams from it: select it, but send it nothing until it is free.
    device_->ResetGeometry();
    if (device_->SelectDevice(static_cast<uint32_t>(number)) != DEV_OK) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  } else {
    if (device_->InitDevice(static_cast<uint32_t>(number)) != DEV_OK) return PushError(ERR_DEVICE_UNAVAILABLE), 0;
  }
  acquisition_->SetInitPending(pending);

  LoadGain(number);
  LoadFilter(number);
  LoadGray(number);
  if (!pending) PushAnalogSettings(settings_.Get().analog);

  uint8_t sampling = 0;
  if (device_->ReadSrom(SROM_SAMPLING_ADDRESS, &sampling)) {
    if (sampling == 1) device_->SetSamplingMode(0);
    else if (sampling == 2) device_->SetSamplingMode(1);
  }
  cameraNumber_ = number;
  return 1;
}

// --- Registry groups ------------------------------------------------------------------------

bool CQelvan::LoadSizePreset() {
  settings::SizePreset p = settings_.Get().geometry;
  const bool loaded = settings::LoadSizePreset(cameraNumber_, &p);
  settings_.Update([&](settings::CameraSettings& s) { s.geometry = p; });
  return loaded;
}

bool CQelvan::LoadCameraValues() {
  const settings::StreamValues stream = settings_.Get().stream;
  settings::CameraValues v;
  v.color = stream.colorType;
  v.subSample = stream.subSample;
  v.waitTime = stream.waitTime;
  v.clock = stream.clock;
  const bool loaded = settings::LoadCameraValues(cameraNumber_, &v);
  settings_.Update([&](settings::CameraSettings& s) {
    s.stream.colorType = v.color;
    s.stream.subSample = v.subSample;
    s.stream.waitTime = v.waitTime;
    s.stream.clock = v.clock;
  });
  return loaded;
}

int CQelvan::ReadMirrorFlag(bool vertical) {
  uint16_t r13 = 0;
  // An unanswered read says nothing about the mirror: take it as off rather than flipping
  // every later picture.
  if (!device_->ReadSensorRegister(QLV_REG_READ_MODE, &r13)) return 0;
  return (r13 & (vertical ? QLV_READ_MODE_UNMIRRORED_V : QLV_READ_MODE_UNMIRRORED_H)) ? 0 : 1;
}

void CQelvan::LoadGain(int number) {
  settings::GainValues g;
  if (!settings::LoadGain(number, &g)) {
    g = settings::GainValues();
    g.global = GLOBAL_GAIN_DEFAULT;
    int answer = 0;
    device_->QueryColorGain(QLV_REG_GAIN_GREEN1, &answer);
    g.colorG1 = answer;
    g.exposure = EXPOSURE_LINES_DEFAULT;
    g.mirrorV = ReadMirrorFlag(true);
    g.mirrorH = ReadMirrorFlag(false);
  }
  settings_.Update([&](settings::CameraSettings& s) { s.analog = settings::FromGain(g); });
}

void CQelvan::SaveGain(int number) { settings::SaveGain(number, settings::ToGain(settings_.Get().analog)); }

void CQelvan::LoadFilter(int number) {
  settings::FilterBlock block = settings_.Get().filters;
  int32_t values[settings::kFilterValueCount];
  std::memcpy(values, block.value, sizeof values);
  if (settings::LoadFilter(number, values)) {
    std::memcpy(block.value, values, sizeof values);
  } else {
    const settings::FilterBlock defaults = settings::FilterBlock::Defaults();
    std::memcpy(block.value, defaults.value, sizeof values);
    // The unstored words that follow the stored ones start cleared too.
    for (int i = settings::kFilterValueCount; i < settings::kFilterValueCount + 9; ++i) block[i] = 0;
  }
  settings_.Update([&](settings::CameraSettings& s) { s.filters = block; });
}

void CQelvan::SaveFilter(int number) {
  const settings::FilterBlock block = settings_.Get().filters;
  int32_t values[settings::kFilterValueCount];
  std::memcpy(values, block.value, sizeof values);
  settings::SaveFilter(number, values);
}

void CQelvan::LoadGray(int number) {
  const settings::FilterBlock block = settings_.Get().filters;
  int32_t values[settings::kGrayValueCount];
  std::memcpy(values, block.value + settings::kFilterGrayMode, sizeof values);
  if (!settings::LoadGray(number, values)) {
    const settings::FilterBlock defaults = settings::FilterBlock::Defaults();
    std::memcpy(values, defaults.value + settings::kFilterGrayMode, sizeof values);
  }
  settings_.Update([&](settings::CameraSettings& s) {
    std::memcpy(s.filters.value + settings::kFilterGrayMode, values, sizeof values);
  });
}

void CQelvan::SaveGray(int number) {
  const settings::FilterBlock block = settings_.Get().filters;
  int32_t values[settings::kGrayValueCount];
  std::memcpy(values, block.value + settings::kFilterGrayMode, sizeof values);
  settings::SaveGray(number, values);
}

void CQelvan::SaveAll(int number) {
  SaveGain(number);
  SaveFilter(number);
  SaveGray(number);
}
