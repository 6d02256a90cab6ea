// Still images, recording and the configuration file.
#include <windows.h>

#include "camera/acquisition.h"
#include "camera/camera.h"
#include "output/data_file.h"
#include "output/dib_image.h"
#include "output/image_files.h"

int CQelvan::SaveCurrentImage(const char* name, int type) {
  if (name == nullptr || type < output::kFileBmp || type > output::kFileTiff) return 0;
  // Copied under the pipeline lock, encoded and written outside it, so acquisition never waits
  // for the disk.
  CDibImage copy;
  if (!acquisition_->CopyForFile(&copy)) return 0;
  return output::SaveImageFile(name, &copy, type);
}

int CQelvan::SaveImage(const char* name, int type) {
  if (!RequireDevice()) return 0;
  if (!acquisition_->FrameAvailable()) return PushError(ERR_NOT_READY), 0;
  return SaveCurrentImage(name, type);
}

int CQelvan::SaveImageW(const wchar_t* name, int type) {
  if (!RequireDevice()) return 0;
  char narrow[1024];
  if (name == nullptr || !NarrowFileName(name, narrow)) return PushError(ERR_NOT_READY), 0;
  return SaveCurrentImage(narrow, type);
}

int CQelvan::Record(const char* name, int durationMs, int showWindow) {
  if (!name || !name[0] || durationMs < 0) return PushError(ERR_ARGUMENT), 0;
  if (!device_) {
    // As the failed start of a preview reports it.
    PushError(ERR_NOT_READY);
    PushError(showWindow ? ERR_TRANSFER : ERR_NOT_READY);
    return PushError(ERR_FILE), 0;
  }
  return acquisition_->Record(name, durationMs, showWindow);
}

int CQelvan::RecordW(const wchar_t* name, int durationMs, int showWindow) {
  char narrow[1024];
  if (!name) return PushError(ERR_ARGUMENT), 0;
  if (!NarrowFileName(name, narrow)) return PushError(ERR_FILE), 0;
  return Record(narrow, durationMs, showWindow);
}

int CQelvan::LoadConfigFileA(const char* path) {
  CDataFile file;
  if (file.LoadFromModule(path, nullptr) == nullptr) return 0;
  // The records are read outside the lock; the list is then replaced in one step.
  std::vector<std::pair<int32_t, int32_t>> records;
  try {
    records.reserve(file.Size() / 8);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  int32_t first = 0, second = 0;
  while (file.ReadInt32(&first) && file.ReadInt32(&second)) records.emplace_back(first, second);
  common::ScopedLock hold(configLock_);
  configList_.swap(records);
  return 1;
}

int CQelvan::LoadConfigFileW(const wchar_t* path) {
  char name[1024];
  if (path == nullptr || !NarrowFileName(path, name)) {
    PushError(ERR_FILE);
    return 0;
  }
  return LoadConfigFileA(name);
}

std::vector<std::pair<int32_t, int32_t>> CQelvan::ConfigRecords() const {
  common::ScopedLock hold(configLock_);
  return configList_;
}
