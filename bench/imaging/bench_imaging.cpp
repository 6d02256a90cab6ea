// Benchmarks of the pixel routines on 752 x 480 frames, with OpenCV's bilinear Bayer conversion
// of the same frame for comparison (one thread).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "frames.h"
#include "imaging/format.h"
#include "imaging/gray.h"

namespace {

bench::Frames& F() {
  static bench::Frames frames;
  return frames;
}

struct Records {
  imaging::BayerRecord bayer{2, 110, 100, 130};
  imaging::BayerMeasureRecord measure{0, 0, 0, 2};
  imaging::GrayRecord gray8{2, 140, 128, 130, 150, 2, 0, -1, 3, 8};
  imaging::GrayRecord gray10{2, 140, 128, 130, 150, 2, 0, -1, 3, 10};
  imaging::FilterRecord brightness{20, 10}, contrast{20, 10}, gamma{120, 10}, sharpness{10, 10};
  imaging::HueRecord hue{30, 0, 40, 10};
  imaging::GammaContrastRecord gamma_contrast{120, 20, 10};
};

Records& R() {
  static Records records;
  return records;
}

enum Buffer {
  kRaw8,
  kRaw16,
  kRgb24,
  kRgb48,
  kScratch24,
  kScratch48,
  kMono8Out,
  kMono16Out,
  kRgb24In,
  kRgb48In,
  kMono8In,
  kMono16In
};

uint8_t* Buf(Buffer b) {
  bench::Frames& f = F();
  switch (b) {
    case kRaw8:
      return f.raw8.data();
    case kRaw16:
      return f.raw16.data();
    case kRgb24:
      return f.rgb24.data();
    case kRgb48:
      return f.rgb48.data();
    case kScratch24:
      return f.scratch24.data();
    case kScratch48:
      return f.scratch48.data();
    case kMono8Out:
      return f.mono8_out.data();
    case kMono16Out:
      return f.mono16_out.data();
    case kRgb24In:
      return f.rgb24_in.data();
    case kRgb48In:
      return f.rgb48_in.data();
    case kMono8In:
      return f.mono8_in.data();
    case kMono16In:
      return f.mono16_in.data();
  }
  return nullptr;
}

void RunRoutine(benchmark::State& state, imaging::RowRoutine routine, Buffer dst, Buffer src,
                int dst_bpp, int src_bpp, void* record) {
  for (auto _ : state) {
    int r = bench::Call(routine, Buf(dst), Buf(src), F().all, dst_bpp, src_bpp, record);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
}

void Register() {
  Records& r = R();
  struct Entry {
    const char* name;
    imaging::RowRoutine routine;
    Buffer dst, src;
    int dst_bpp, src_bpp;
    void* record;
  };
  // Filters read a demosaiced frame that nothing writes and write the working frame, so each
  // round filters the same real picture (the routines also run with both buffers the same).
  const Entry entries[] = {
      {"DemosaicInterior8", imaging::DemosaicInterior8, kRgb24, kRaw8, 3, 1, &r.bayer},
      {"DemosaicBorder8", imaging::DemosaicBorder8, kRgb24, kRaw8, 3, 1, &r.bayer},
      {"DemosaicInterior16", imaging::DemosaicInterior16, kRgb48, kRaw16, 6, 2, &r.bayer},
      {"DemosaicBorder16", imaging::DemosaicBorder16, kRgb48, kRaw16, 6, 2, &r.bayer},
      {"MeasureBayerGains8", imaging::MeasureBayerGains8, kRaw8, kRaw8, 1, 1, &r.measure},
      {"MeasureBayerGains16", imaging::MeasureBayerGains16, kRaw16, kRaw16, 2, 2, &r.measure},
      {"HueSaturation8", imaging::HueSaturation8, kRgb24, kRgb24In, 3, 3, &r.hue},
      {"HueSaturation16", imaging::HueSaturation16, kRgb48, kRgb48In, 6, 6, &r.hue},
      {"GammaColor8", imaging::GammaColor8, kRgb24, kRgb24In, 3, 3, &r.gamma},
      {"GammaColor16", imaging::GammaColor16, kRgb48, kRgb48In, 6, 6, &r.gamma},
      {"GammaMono8", imaging::GammaMono8, kMono8Out, kMono8In, 1, 1, &r.gamma},
      {"GammaMono16", imaging::GammaMono16, kMono16Out, kMono16In, 2, 2, &r.gamma},
      {"ContrastColor8", imaging::ContrastColor8, kRgb24, kRgb24In, 3, 3, &r.contrast},
      {"ContrastColor16", imaging::ContrastColor16, kRgb48, kRgb48In, 6, 6, &r.contrast},
      {"ContrastMono8", imaging::ContrastMono8, kMono8Out, kMono8In, 1, 1, &r.contrast},
      {"ContrastMono16", imaging::ContrastMono16, kMono16Out, kMono16In, 2, 2, &r.contrast},
      {"GammaContrastColor8", imaging::GammaContrastColor8, kRgb24, kRgb24In, 3, 3,
       &r.gamma_contrast},
      {"GammaContrastColor16", imaging::GammaContrastColor16, kRgb48, kRgb48In, 6, 6,
       &r.gamma_contrast},
      {"SharpenColor8", imaging::SharpenColor8, kRgb24, kRgb24In, 3, 3, &r.sharpness},
      {"SharpenColor16", imaging::SharpenColor16, kRgb48, kRgb48In, 6, 6, &r.sharpness},
      {"SharpenMono8", imaging::SharpenMono8, kMono8Out, kRaw8, 1, 1, &r.sharpness},
      {"SharpenMono16", imaging::SharpenMono16, kMono16Out, kRaw16, 2, 2, &r.sharpness},
      {"BrightnessColor8", imaging::BrightnessColor8, kRgb24, kRgb24In, 3, 3, &r.brightness},
      {"BrightnessColor16", imaging::BrightnessColor16, kRgb48, kRgb48In, 6, 6, &r.brightness},
      {"BrightnessMono8", imaging::BrightnessMono8, kMono8Out, kMono8In, 1, 1, &r.brightness},
      {"BrightnessMono16", imaging::BrightnessMono16, kMono16Out, kMono16In, 2, 2, &r.brightness},
      {"CellGain8", imaging::CellGain8, kMono8Out, kRaw8, 1, 1, &r.gray8},
      {"CellGain16", imaging::CellGain16, kMono16Out, kRaw16, 2, 2, &r.gray10},
      {"MeasureGrayBalance", imaging::MeasureGrayBalance, kRaw8, kRaw8, 1, 1, &r.gray8},
      {"ColorToGray", imaging::ColorToGray, kMono8Out, kRgb24, 1, 3, nullptr},
      {"Mean8", imaging::Mean8, kRaw8, kRaw8, 1, 1, nullptr},
      {"Mean16", imaging::Mean16, kRaw16, kRaw16, 2, 2, nullptr},
      {"Reduce16To8", imaging::Reduce16To8, kMono8Out, kRaw16, 1, 2, nullptr},
      {"Reduce16To8Reversed", imaging::Reduce16To8Reversed, kMono8Out, kRaw16, 1, 2, nullptr},
      {"Reduce48To24", imaging::Reduce48To24, kScratch24, kRgb48, 3, 6, nullptr},
      {"Reduce48To24Reversed", imaging::Reduce48To24Reversed, kScratch24, kRgb48, 3, 6, nullptr},
      {"Widen16Bits10", imaging::Widen16Bits10, kMono16Out, kRaw16, 2, 2, nullptr},
      {"Widen48Bits10Swapped", imaging::Widen48Bits10Swapped, kScratch48, kRgb48, 6, 6, nullptr},
      {"Swap24", imaging::Swap24, kScratch24, kRgb24, 3, 3, nullptr},
      {"Copy3ChannelsReversed", imaging::Copy3ChannelsReversed, kScratch24, kRgb24, 3, 3, nullptr},
      {"CopyRowsReversed", imaging::CopyRowsReversed, kScratch24, kRgb24, 3, 3, nullptr},
  };
  for (const Entry& e : entries)
    benchmark::RegisterBenchmark(e.name, RunRoutine, e.routine, e.dst, e.src, e.dst_bpp, e.src_bpp,
                                 e.record)
        ->Unit(benchmark::kMicrosecond);
}

void BM_OpenCvBayerBilinear(benchmark::State& state) {
  cv::setNumThreads(1);
  cv::Mat raw(bench::kHeight, bench::kWidth, CV_8UC1, F().raw8.data());
  cv::Mat bgr(bench::kHeight, bench::kWidth, CV_8UC3);
  for (auto _ : state) {
    cv::cvtColor(raw, bgr, cv::COLOR_BayerGB2BGR);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OpenCvBayerBilinear)->Unit(benchmark::kMicrosecond);

void BM_Scale24(benchmark::State& state) {
  static std::vector<uint8_t> preview(376 * 240 * 3);
  imaging::Rect d{0, 0, 376, 240};
  for (auto _ : state) {
    imaging::Scale24(preview.data(), F().rgb24.data(), &d, &F().all, 376, 240, bench::kWidth,
                     bench::kHeight, 3, 3, 376 * 3, bench::kWidth * 3, nullptr, 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Scale24)->Unit(benchmark::kMicrosecond);

void BM_SpreadRows8(benchmark::State& state) {
  static std::vector<uint8_t> frame(752 * 480);
  imaging::Rect r{0, 0, 750, 480};
  for (auto _ : state) {
    imaging::SpreadRows8(frame.data(), frame.data(), &r, 0, 0, 1, 1, 752, 752, nullptr, 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SpreadRows8)->Unit(benchmark::kMicrosecond);

void BM_ColourChain8(benchmark::State& state) {
  bench::ChainSettings s;
  for (auto _ : state) {
    bench::ColourChain8(F(), s);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ColourChain8)->Unit(benchmark::kMicrosecond);

void BM_ColourChain10(benchmark::State& state) {
  bench::ChainSettings s;
  for (auto _ : state) {
    bench::ColourChain10(F(), s);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ColourChain10)->Unit(benchmark::kMicrosecond);

// CPU seconds per call of work, timed over a batch. The routines run on this one thread, and
// its CPU time leaves out the moments when other processes on a shared machine hold the core.
template <typename F>
double BatchSeconds(F work, int calls) {
  auto now = [] {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
  };
  const double t0 = now();
  for (int i = 0; i < calls; ++i) work();
  return (now() - t0) / calls;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  // Plain output, so that the headline lines start at the beginning of a line.
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Headline figures. The demosaicing ratio times the whole frame (interior and border passes)
  // against OpenCV's conversion of the same frame, one thread, in alternating rounds so that
  // both sides see the same machine load; medians of thread CPU time are reported.
  cv::setNumThreads(1);
  bench::Frames& f = F();
  cv::Mat raw(bench::kHeight, bench::kWidth, CV_8UC1, f.raw8.data());
  cv::Mat bgr(bench::kHeight, bench::kWidth, CV_8UC3);
  imaging::BayerRecord bayer{2, 100, 100, 100};
  auto whole_frame = [&] { f.Demosaic(f.rgb24.data(), f.raw8.data(), 3, 1, bayer); };
  std::vector<double> opencv_ms;  // OpenCV's times in the rounds of the last level
  auto ratio_at = [&](int level) {
    bench::SetLevel(level);
    std::vector<double> ratios;
    opencv_ms.clear();
    for (int round = 0; round < 21; ++round) {
      const double theirs = BatchSeconds([&] { cv::cvtColor(raw, bgr, cv::COLOR_BayerGB2BGR); }, 20);
      const double ours = BatchSeconds(whole_frame, 20);
      ratios.push_back(theirs / ours);
      opencv_ms.push_back(theirs * 1e3);
    }
    return Median(ratios);
  };
  // Each level the processor has, then the best one last for the headline.
  const int best = imaging::CpuHasAvx2() ? 3 : (imaging::CpuHasSsse3() ? 2 : 1);
  const char* build = "native x86-64 -O2";
  for (int level = 0; level < best; ++level) {
    const double r = ratio_at(level);
    std::printf("SUMMARY demosaic 8-bit vs OpenCV bilinear: %.2fx (whole frame, %s, %s; OpenCV %.3f ms in the same rounds)\n",
                r, build, bench::LevelName(), Median(opencv_ms));
  }
  const double best_ratio = ratio_at(best);
  const double opencv = Median(opencv_ms);
  // The 16-bit whole frame at each level, alternating levels round by round.
  {
    imaging::BayerRecord wide{2, 110, 100, 130};
    std::vector<std::vector<double>> ms(best + 1);
    for (int round = 0; round < 11; ++round)
      for (int level = 0; level <= best; ++level) {
        bench::SetLevel(level);
        ms[level].push_back(
            BatchSeconds([&] { f.Demosaic(f.rgb48.data(), f.raw16.data(), 6, 2, wide); }, 10) * 1e3);
      }
    for (int level = 0; level <= best; ++level) {
      bench::SetLevel(level);
      std::vector<double> v = ms[level];
      std::sort(v.begin(), v.end());
      std::printf("SUMMARY demosaic 16-bit whole frame into 48 bpp: %.3f ms (median of 11; %.3f to %.3f) (%s, %s)\n",
                  Median(v), v.front(), v.back(), build, bench::LevelName());
    }
    bench::SetLevel(best);
  }

  bench::ChainSettings settings;
  std::vector<double> chain8, chain10, hue8;
  bench::ColourChain8(f, settings);  // warm
  bench::ColourChain10(f, settings);
  auto hue = [&] {
    bench::Call(imaging::HueSaturation8, f.rgb24.data(), f.rgb24_in.data(), f.all, 3, 3, &settings.hue);
  };
  for (int round = 0; round < 21; ++round) {
    chain8.push_back(BatchSeconds([&] { bench::ColourChain8(f, settings); }, 5));
    chain10.push_back(BatchSeconds([&] { bench::ColourChain10(f, settings); }, 5));
    hue8.push_back(BatchSeconds(hue, 5));
  }
  std::cout << std::flush;
  std::printf("SUMMARY demosaic 8-bit vs OpenCV bilinear: %.2fx (whole frame, %s, %s; OpenCV %.3f ms in the same rounds)\n",
              best_ratio, build, bench::LevelName(), opencv);
  std::printf("SUMMARY hue/saturation 8-bit: %.3f ms per frame (%s, %s)\n", Median(hue8) * 1e3, build,
              bench::LevelName());
  std::printf("SUMMARY colour chain 8-bit: %.3f ms per frame (%s, %s)\n", Median(chain8) * 1e3,
              build, bench::LevelName());
  std::printf("SUMMARY colour chain 10-bit: %.3f ms per frame (%s, %s)\n", Median(chain10) * 1e3,
              build, bench::LevelName());
  std::fflush(stdout);
  return 0;
}
