// Times the imaging routines and the colour chains on 752 x 480 frames in the 32-bit build.
// Each figure is the fastest of several batches, in milliseconds per frame, with the median.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "frames.h"
#include "imaging/simd.h"

namespace {

// Milliseconds per call: the median and the fastest of several batches. Wall-clock time is
// all there is under Wine; on a machine shared with other work the fastest batch is the one
// least disturbed, the median shows how disturbed the run was.
struct Timing {
  double median, best;
};

Timing TimeMs(const std::function<void()>& work, int batches = 15, int per_batch = 10) {
  std::vector<double> ms;
  work();  // warm up
  for (int b = 0; b < batches; ++b) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < per_batch; ++i) work();
    auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() / per_batch);
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front()};
}

}  // namespace

int main() {
  bench::Frames f;
  bench::ChainSettings s;
  std::printf("SIMD paths: SSE2 %s, SSSE3 %s, AVX2 %s\n", imaging::UseSse2() ? "on" : "off",
              imaging::UseSsse3() ? "on" : "off", imaging::UseAvx2() ? "on" : "off");
  struct Item {
    const char* name;
    std::function<void()> work;
  };
  uint8_t* rgb = f.rgb24.data();
  uint8_t* rgb48 = f.rgb48.data();
  // Filters read a demosaiced frame that nothing writes, so every round sees the same picture.
  const uint8_t* in = f.rgb24_in.data();
  const Item items[] = {
      {"DemosaicInterior8",
       [&] { bench::Call(imaging::DemosaicInterior8, rgb, f.raw8.data(), f.all, 3, 1, &s.bayer); }},
      {"DemosaicBorder8",
       [&] { bench::Call(imaging::DemosaicBorder8, rgb, f.raw8.data(), f.all, 3, 1, &s.bayer); }},
      {"DemosaicWhole8", [&] { f.Demosaic(rgb, f.raw8.data(), 3, 1, s.bayer); }},
      {"DemosaicInterior16",
       [&] {
         bench::Call(imaging::DemosaicInterior16, rgb48, f.raw16.data(), f.all, 6, 2, &s.bayer);
       }},
      {"HueSaturation8", [&] { bench::Call(imaging::HueSaturation8, rgb, in, f.all, 3, 3, &s.hue); }},
      {"GammaColor8", [&] { bench::Call(imaging::GammaColor8, rgb, in, f.all, 3, 3, &s.gamma); }},
      {"ContrastColor8",
       [&] { bench::Call(imaging::ContrastColor8, rgb, in, f.all, 3, 3, &s.contrast); }},
      {"GammaContrastColor8",
       [&] {
         bench::Call(imaging::GammaContrastColor8, rgb, in, f.all, 3, 3, &s.gamma_contrast);
       }},
      {"SharpenColor8",
       [&] { bench::Call(imaging::SharpenColor8, rgb, in, f.all, 3, 3, &s.sharpness); }},
      {"BrightnessColor8",
       [&] { bench::Call(imaging::BrightnessColor8, rgb, in, f.all, 3, 3, &s.brightness); }},
      {"ColourChain8", [&] { bench::ColourChain8(f, s); }},
      {"ColourChain10", [&] { bench::ColourChain10(f, s); }},
  };
  Timing whole{}, chain{};
  for (const Item& item : items) {
    const Timing t = TimeMs(item.work);
    std::printf("%-20s %8.3f ms per frame (median %.3f)\n", item.name, t.best, t.median);
    if (std::string(item.name) == "DemosaicWhole8") whole = t;
    if (std::string(item.name) == "ColourChain8") chain = t;
  }
  // The whole-frame demosaicing at each lower level too, for comparison.
  const int best = imaging::CpuHasAvx2() ? 3 : (imaging::CpuHasSsse3() ? 2 : 1);
  const char* build = sizeof(void*) == 8 ? "x86-64 -O3" : "i686 -O3 -msse2 -mfpmath=sse";
  const char* arch = sizeof(void*) == 8 ? "x86-64" : "i686";
  for (int level = 0; level < best; ++level) {
    bench::SetLevel(level);
    const Timing t = TimeMs([&] { f.Demosaic(rgb, f.raw8.data(), 3, 1, s.bayer); });
    std::printf(
        "SUMMARY %s under Wine: demosaic 8-bit whole frame: %.3f ms per frame (%s, %s, fastest "
        "batch; median %.3f)\n",
        arch, t.best, build, bench::LevelName(), t.median);
  }
  bench::SetLevel(best);
  std::printf(
      "SUMMARY %s under Wine: demosaic 8-bit whole frame: %.3f ms per frame (%s, %s, fastest "
      "batch; median %.3f)\n",
      arch, whole.best, build, bench::LevelName(), whole.median);
  std::printf(
      "SUMMARY %s under Wine: colour chain 8-bit: %.3f ms per frame (%s, %s, fastest batch; "
      "median %.3f)\n",
      arch, chain.best, build, bench::LevelName(), chain.median);
  return 0;
}
