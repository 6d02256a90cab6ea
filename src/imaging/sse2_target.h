// Include last in a file of SSE2 paths. Everything defined after it, lambdas included, is
// compiled for SSE2 even where the baseline (i686) lacks it; those paths are only taken after
// a run-time check. Files that include it end with QELVAN_SSE2_END.
#pragma once

#include <emmintrin.h>

#if defined(__GNUC__) && !defined(__SSE2__)
#define QELVAN_SSE2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"sse2\")")
#define QELVAN_SSE2_END _Pragma("GCC pop_options")
#else
#define QELVAN_SSE2_BEGIN
#define QELVAN_SSE2_END
#endif
#define QELVAN_SSE2
#define QELVAN_ALWAYS_INLINE inline __attribute__((always_inline))
