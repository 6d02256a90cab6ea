#include "imaging/simd.h"

#include <atomic>

namespace imaging {
namespace {

enum Feature { kSse2, kSsse3, kAvx2 };

bool Detect(Feature f) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (f) {
    case kSse2:
      return __builtin_cpu_supports("sse2");
    case kSsse3:
      return __builtin_cpu_supports("ssse3");
    case kAvx2:
      return __builtin_cpu_supports("avx2");  // includes the system's YMM support
  }
  return false;
#else
  (void)f;
  return false;
#endif
}

std::atomic<bool> g_simd{true};
std::atomic<bool> g_ssse3{true};
std::atomic<bool> g_avx2{true};

}  // namespace

bool CpuHasSse2() {
  static const bool has = Detect(kSse2);
  return has;
}

bool CpuHasSsse3() {
  static const bool has = Detect(kSsse3);
  return has;
}

bool CpuHasAvx2() {
  static const bool has = Detect(kAvx2);
  return has;
}

bool UseSse2() { return g_simd.load(std::memory_order_relaxed) && CpuHasSse2(); }

bool UseSsse3() { return UseSse2() && g_ssse3.load(std::memory_order_relaxed) && CpuHasSsse3(); }

bool UseAvx2() { return UseSse2() && g_avx2.load(std::memory_order_relaxed) && CpuHasAvx2(); }

void SetAvx2Enabled(bool enabled) { g_avx2.store(enabled, std::memory_order_relaxed); }

void SetSse2Enabled(bool enabled) { g_simd.store(enabled, std::memory_order_relaxed); }

void SetSsse3Enabled(bool enabled) { g_ssse3.store(enabled, std::memory_order_relaxed); }

}  // namespace imaging
