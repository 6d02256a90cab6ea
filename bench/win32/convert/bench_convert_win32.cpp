// The whole conversion of one 752 x 480 frame per colour type in the 32-bit build, neutral and
// with every filter. Each figure is the median of several batches, in milliseconds per frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "convert_setup.h"

namespace {

double MedianMs(benchconvert::TypeFrame& frame, const frameconv::ConvertSettings& s) {
  std::vector<double> ms;
  frame.Convert(s);  // warm up; also sizes the sharpening copy
  for (int b = 0; b < 9; ++b) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) frame.Convert(s);
    auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() / 5);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main() {
  double headline = 0;
  for (int type = 0; type <= 5; ++type) {
    benchconvert::TypeFrame frame(type);
    for (int all = 0; all <= 1; ++all) {
      const double ms = MedianMs(frame, benchconvert::Settings(type, all != 0));
      std::printf("convert frame %2d-bit, %-11s %8.3f ms\n", benchconvert::kBitsOf[type],
                  all ? "all filters" : "neutral", ms);
      if (type == 2 && all) headline = ms;
    }
  }
  std::printf("SUMMARY convert frame 24-bit, all filters: %.3f ms\n", headline);
  return 0;
}
