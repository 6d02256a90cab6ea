#include "output/measure_windows.h"

#include "imaging/format.h"

bool MeasureAutoIrisWindows(CDibImage* raw, int32_t means[imaging::kAutoIrisWindows]) {
  for (int i = 0; i < imaging::kAutoIrisWindows; ++i) means[i] = 0;
  if (!raw || !raw->Pixels()) return false;
  imaging::RowRoutine mean = nullptr;
  if (raw->BitCount() == 8)
    mean = imaging::Mean8;
  else if (raw->BitCount() == 16)
    mean = imaging::Mean16;
  else
    return false;
  imaging::Rect windows[imaging::kAutoIrisWindows];
  imaging::AutoIrisWindows(raw->Width(), raw->Height(), windows);
  // Each window in picture coordinates, placed at its own corner on the same bitmap.
  for (int i = 0; i < imaging::kAutoIrisWindows; ++i)
    means[i] = raw->Transfer(mean, raw, &windows[i], windows[i].left, windows[i].top, nullptr, 0);
  return true;
}
