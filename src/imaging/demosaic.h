// Bayer demosaicing and the Bayer gain measurement used by the automatic white balance.
#pragma once

#include "imaging/row_routine.h"

namespace imaging {

// Interior pass: every pixel at least two columns and rows away from the region's edges.
// Parameter: BayerRecord. 8-bit raw into 24/32 bpp; 16-bit raw (10-bit samples) into 48/64 bpp.
int DemosaicInterior8(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                      int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                      int32_t src_stride, void** param, int32_t extra2);
int DemosaicInterior16(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                       int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                       int32_t src_stride, void** param, int32_t extra2);

// Border pass: the two outermost rows and columns on each side. Run after the interior pass.
int DemosaicBorder8(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                    int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                    int32_t src_stride, void** param, int32_t extra2);
int DemosaicBorder16(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                     int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                     int32_t src_stride, void** param, int32_t extra2);

// Bayer gain measurement. Parameter: BayerMeasureRecord (reads the mode, writes the three
// results). Returns 1 when it measured; returns 0 and leaves the results untouched when a colour
// class has no samples or a zero mean, so that the caller keeps its previous gains.
int MeasureBayerGains8(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                       int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                       int32_t src_stride, void** param, int32_t extra2);
int MeasureBayerGains16(uint8_t* dst, const uint8_t* src, const Rect* region, int32_t dst_x,
                        int32_t dst_y, uint16_t dst_bpp, uint16_t src_bpp, int32_t dst_stride,
                        int32_t src_stride, void** param, int32_t extra2);

// Stores the measured results, each limited to 400, into the three Bayer gains when the
// measurement ran (result 1); otherwise the gains keep their values. Returns whether it stored.
bool StoreMeasuredGains(int measure_result, const BayerMeasureRecord& measured, int32_t* red_gain,
                        int32_t* green_gain, int32_t* blue_gain);

// Integer factor applied for a Bayer gain (100 = 1.0 gives 128). Limited to 0..2048 so that the
// weighted sums cannot overflow; the accepted gains (0..400) are far inside.
int32_t BayerGainFactor(int32_t gain);

}  // namespace imaging
