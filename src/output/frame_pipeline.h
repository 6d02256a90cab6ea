// The frame pipeline of one camera: the images a frame passes through, keyed by colour type,
// and what happens to a frame once the device has filled the raw image: conversion, drawing
// into a window, the copy into an application's buffer, the copy for a file or a recording.
// Callers hold the pipeline's lock (Lock()) around every use of its images.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/critical_section.h"
#include "output/dib_image.h"
#include "output/frame_converter.h"

namespace output {

// The six colour types and what each is made of.
enum class ColorType : int32_t { kMono8 = 0, kMono10 = 1, kRgb24 = 2, kRgb32 = 3, kRgb48 = 4, kRgb64 = 5 };

bool ValidColorType(int32_t type);
// Bits per pixel of the output image: 8, 16, 24, 32, 48, 64.
int OutputBits(ColorType type);
// The sensor sends 16-bit samples (types 1, 4, 5) rather than 8-bit ones.
bool WideSamples(ColorType type);
// The depth the preview draws in: 8 for monochrome, else 24.
int DisplayBits(ColorType type);

class FramePipeline {
 public:
  FramePipeline() = default;
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // The pipeline's lock: the worker holds it from fetch to delivery, readers while they copy.
  common::CriticalSection& Lock() const { return lock_; }

  // Sizes the images of a colour type for a width x height frame. False when one could not be
  // made (the images stay as far as they were sized).
  bool Prepare(ColorType type, int width, int height);
  ColorType Prepared() const { return prepared_; }

  // The image that receives the sensor samples, and the output image, of a colour type.
  CDibImage* Raw(ColorType type);
  const CDibImage* Output(ColorType type) const;
  CDibImage* Raw() { return Raw(prepared_); }
  const CDibImage* Output() const { return Output(prepared_); }

  // After the raw image was filled with packed rows: spreads them to its padded stride.
  void SpreadRawRows();
  // Converts the raw image into the output image of the prepared type.
  void Convert(frameconv::ConvertSettings* settings, frameconv::SensorAccess* sensor,
               frameconv::ConvertChanges* changes);
  // Refreshes the 8- or 24-bit display form and draws it into the window's client area
  // (nothing while the window is hidden or empty).
  void Paint(HWND window, HDC dc);
  // Sizes the display image for the window's client area ahead of the first frame.
  void SizeDisplay(HWND window);

  // Bytes a buffer needs for the output image, rows padded as in memory.
  int64_t OutputBytes(ColorType type) const;
  // Copies the output image of a colour type into a buffer, top row first (topDown) or bottom
  // row first. False when the image was never sized or the buffer is null or short.
  bool CopyOut(ColorType type, void* buffer, int size, int topDown) const;
  // Copies the output image of a colour type into an image of its own (reshaped when needed):
  // false when there is no such image or it was never sized.
  bool CopyOutput(ColorType type, CDibImage* copy) const;

 private:
  void Images(frameconv::FrameImages* images);

  mutable common::CriticalSection lock_;
  ColorType prepared_ = ColorType::kMono8;
  CDibImage image8_, image16_, image24_, image32_, image48_, image64_, scratch_, display_;
};

// Turns a copy of an output image into the bottom-up 24-bit frame an AVI stream takes.
// The three work images are the caller's, sized width x height (24, 24, 8 bits); returns the
// one that holds the frame.
const CDibImage* AviFrame(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c);

}  // namespace output
