#include "imaging/auto_iris.h"

#include "imaging/pixel_walk.h"

namespace imaging {
namespace {

int32_t Fraction(int32_t size, double fraction) {
  double v = size * fraction;
  return static_cast<int32_t>(v);
}

}  // namespace

void AutoIrisWindows(int32_t width, int32_t height, Rect windows[kAutoIrisWindows]) {
  static constexpr double corners[kAutoIrisWindows][4] = {{0.1, 0.1, 0.2, 0.2},
                                                          {0.1, 0.8, 0.2, 0.9},
                                                          {0.45, 0.45, 0.55, 0.55},
                                                          {0.8, 0.1, 0.9, 0.2},
                                                          {0.8, 0.8, 0.9, 0.9}};
  for (int i = 0; i < kAutoIrisWindows; ++i)
    windows[i] = {Fraction(width, corners[i][0]), Fraction(height, corners[i][1]),
                  Fraction(width, corners[i][2]), Fraction(height, corners[i][3])};
}

double AutoIrisFactor(const int32_t means[kAutoIrisWindows]) {
  double f = 1.0;
  for (int i = 0; i < kAutoIrisWindows; ++i) {
    if (means[i] > 200)
      f = f - 0.15;
    else if (means[i] > 160)
      f = f - 0.1;
    else if (means[i] < 100)
      f = f + 0.05;
  }
  return f;
}

}  // namespace imaging
