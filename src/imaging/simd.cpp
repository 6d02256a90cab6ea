#include "imaging/simd.h"

#include <atomic>

namespace imaging {
namespace {

bool DetectSse2() {
#if defined(__x86_64__) || defined(_M_X64)
  return true;
#elif defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#else
  return false;
#endif
}

std::atomic<bool> g_enabled{true};

}  // namespace

bool CpuHasSse2() {
  static const bool has = DetectSse2();
  return has;
}

bool UseSse2() { return g_enabled.load(std::memory_order_relaxed) && CpuHasSse2(); }

void SetSse2Enabled(bool enabled) { g_enabled.store(enabled, std::memory_order_relaxed); }

}  // namespace imaging
