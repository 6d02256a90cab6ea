// Compiles the functions that follow for SSE2 even where the baseline (i686) lacks it; they are
// only called after a run-time check.
#pragma once

#include <emmintrin.h>

#if defined(__GNUC__) && !defined(__SSE2__)
#define QELVAN_SSE2 __attribute__((target("sse2")))
#else
#define QELVAN_SSE2
#endif
