// The saturation table of the hue/saturation filter, shared by all camera instances.
#pragma once

#include <cstdint>

namespace imaging {

// Sat(i) = (i * (t + 256) * 256 + 0x8000) >> 16 for i = 0..255.
void BuildSaturationTable(int32_t saturation, int32_t* table);

// Copies the shared table for this saturation (rebuilt only when the saturation changed) into
// out[256]. Safe to call from several threads at once.
void CopySaturationTable(int32_t saturation, int32_t* out);

}  // namespace imaging
