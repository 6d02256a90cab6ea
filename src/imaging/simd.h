// Run-time choice between the SIMD and the scalar paths of the pixel routines.
#pragma once

namespace imaging {

// True when the processor has SSE2 and the SIMD paths are enabled.
bool UseSse2();
// True when, in addition, the processor has SSSE3 and the SSSE3 paths are enabled.
bool UseSsse3();

// True when, in addition, the processor and the system support AVX2 and the AVX2 paths are
// enabled.
bool UseAvx2();

// Turns all SIMD paths off or back on (on by default where the processor has them). Tests use
// it to compare the paths; results are identical either way.
void SetSse2Enabled(bool enabled);
// Turns only the SSSE3 paths off or back on, leaving SSE2.
void SetSsse3Enabled(bool enabled);
// Turns only the AVX2 paths off or back on.
void SetAvx2Enabled(bool enabled);

bool CpuHasSse2();
bool CpuHasSsse3();
bool CpuHasAvx2();

}  // namespace imaging
