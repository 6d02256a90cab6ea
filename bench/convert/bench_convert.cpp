// The whole conversion of one 752 x 480 frame per colour type, neutral and with every filter.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "convert_setup.h"

namespace {

void BM_ConvertFrame(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  const bool all = state.range(1) != 0;
  benchconvert::TypeFrame frame(type);
  const frameconv::ConvertSettings s = benchconvert::Settings(type, all);
  for (auto _ : state) {
    frame.Convert(s);
    benchmark::ClobberMemory();
  }
  state.SetLabel(std::to_string(benchconvert::kBitsOf[type]) + "-bit, " +
                 (all ? "all filters" : "neutral"));
}
BENCHMARK(BM_ConvertFrame)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The headline figure, from a reporter-independent run of its own.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_name.str() == "BM_ConvertFrame/2/1" && run.run_type == Run::RT_Iteration)
        headline_ms_ = run.GetAdjustedRealTime();
  }
  double headline_ms_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.headline_ms_ >= 0)
    std::printf("SUMMARY convert frame 24-bit, all filters, native x86-64: %.3f ms\n",
                reporter.headline_ms_);
  benchmark::Shutdown();
  return 0;
}
