// Run-time choice between the SSE2 and the scalar paths of the pixel routines.
#pragma once

namespace imaging {

// True when the processor has SSE2 and the SSE2 paths are enabled.
bool UseSse2();

// Turns the SSE2 paths off or back on (they are on by default where the processor has SSE2).
// Tests use it to compare both paths; results are identical either way.
void SetSse2Enabled(bool enabled);

// True when the processor itself has SSE2.
bool CpuHasSse2();

}  // namespace imaging
