#include <new>
#include <utility>
#include <vector>

#include "camera/camera.h"
#include "output/data_file.h"

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
  EnterCriticalSection(&configLock);
  configList.swap(records);
  LeaveCriticalSection(&configLock);
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
