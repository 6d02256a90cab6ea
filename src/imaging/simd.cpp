#include "imaging/simd.h"

#include <atomic>

namespace imaging {
namespace {

bool Detect(bool ssse3) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return ssse3 ? __builtin_cpu_supports("ssse3") : __builtin_cpu_supports("sse2");
#else
  (void)ssse3;
  return false;
#endif
}

std::atomic<bool> g_simd{true};
std::atomic<bool> g_ssse3{true};

}  // namespace

bool CpuHasSse2() {
  static const bool has = Detect(false);
  return has;
}

bool CpuHasSsse3() {
  static const bool has = Detect(true);
  return has;
}

bool UseSse2() { return g_simd.load(std::memory_order_relaxed) && CpuHasSse2(); }

bool UseSsse3() { return UseSse2() && g_ssse3.load(std::memory_order_relaxed) && CpuHasSsse3(); }

void SetSse2Enabled(bool enabled) { g_simd.store(enabled, std::memory_order_relaxed); }

void SetSsse3Enabled(bool enabled) { g_ssse3.store(enabled, std::memory_order_relaxed); }

}  // namespace imaging
