// Run-time choice between the SIMD and the scalar paths of the pixel routines.
#pragma once

namespace imaging {

// True when the processor has SSE2 and the SIMD paths are enabled.
bool UseSse2();
// True when, in addition, the processor has SSSE3 and the SSSE3 paths are enabled.
bool UseSsse3();

// Turns all SIMD paths off or back on (on by default where the processor has them). Tests use
// it to compare the paths; results are identical either way.
void SetSse2Enabled(bool enabled);
// Turns only the SSSE3 paths off or back on, leaving SSE2.
void SetSsse3Enabled(bool enabled);

bool CpuHasSse2();
bool CpuHasSsse3();

}  // namespace imaging
