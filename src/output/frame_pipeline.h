// The frame pipeline of one camera: the images a frame passes through, keyed by colour type,
// and what happens to a frame once the device has filled the raw image: conversion, drawing
// into a window, the copy into an application's buffer, the copy for a file or a recording.
//
// There are two sets of images. The worker fills and converts its own set without any lock,
// then publishes it by swapping the two sets under the pipeline's lock (Lock()); readers of the
// published set (the current image, files, the recorder) hold that lock while they read, and
// so wait for a swap, never for a conversion.
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

  // The lock around the published images: held by their readers while they read, and by the
  // worker while it publishes.
  common::CriticalSection& Lock() const { return lock_; }

  // Sizes the images of a colour type for a width x height frame, in both sets, and leaves the
  // worker's set a copy of the published one. Under the lock, with no conversion running. False
  // when one could not be made (the images stay as far as they were sized).
  bool Prepare(ColorType type, int width, int height);
  ColorType Prepared() const { return prepared_; }

  // ---- The worker's set: only the thread that converts (the worker, or a snapshot while none
  // runs) uses these, without the lock.
  // The image that receives the sensor samples.
  CDibImage* Raw(ColorType type);
  CDibImage* Raw() { return Raw(prepared_); }
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
  // Copies the converted output image into a buffer, as CopyOut does.
  bool CopyOutConverted(void* buffer, int size, int topDown) const;
  // Makes the converted frame the published one (the lock is held): the two sets trade places.
  void Publish() { published_ ^= 1; }

  // ---- The published set: under the lock.
  // The output image of a colour type.
  const CDibImage* Output(ColorType type) const;
  const CDibImage* Output() const { return Output(prepared_); }
  // Bytes a buffer needs for the output image, rows padded as in memory.
  int64_t OutputBytes(ColorType type) const;
  // Copies the output image of a colour type into a buffer, top row first (topDown) or bottom
  // row first. False when the image was never sized or the buffer is null or short.
  bool CopyOut(ColorType type, void* buffer, int size, int topDown) const;
  // Copies the output image of a colour type into an image of its own (reshaped when needed):
  // false when there is no such image or it was never sized.
  bool CopyOutput(ColorType type, CDibImage* copy) const;
  // Makes copy the shape of that output image (nothing when it already is): false when there is
  // no such image or the copy could not be made.
  bool ShapeLikeOutput(ColorType type, CDibImage* copy) const;

 private:
  // The images of one frame; the raw image of 8-bit samples is also the 8-bit output image, and
  // the one of 16-bit samples the 16-bit one.
  struct ImageSet {
    CDibImage image8, image16, image24, image32, image48, image64;
    CDibImage* Raw(ColorType type) { return WideSamples(type) ? &image16 : &image8; }
    const CDibImage* Output(ColorType type) const;
    CDibImage* Output(ColorType type) { return const_cast<CDibImage*>(static_cast<const ImageSet&>(*this).Output(type)); }
  };
  ImageSet& Work() { return sets_[published_ ^ 1]; }
  const ImageSet& Work() const { return sets_[published_ ^ 1]; }
  const ImageSet& Published() const { return sets_[published_]; }
  static bool Size(ImageSet* set, ColorType type, int w, int h);
  static bool CopyImageOut(const CDibImage* image, void* buffer, int size, int topDown);

  mutable common::CriticalSection lock_;
  ColorType prepared_ = ColorType::kMono8;
  ImageSet sets_[2];
  // Which set is published; changed by Publish under the lock, by the converting thread only.
  int published_ = 0;
  // The worker's own: the copy sharpening reads, and the image scaled into the window.
  CDibImage scratch_, display_;
};

// Turns a copy of an output image into the bottom-up 24-bit frame an AVI stream takes.
// The three work images are the caller's, sized width x height (24, 24, 8 bits); returns the
// one that holds the frame.
const CDibImage* AviFrame(CDibImage* copy, CDibImage* a, CDibImage* b, CDibImage* c);

}  // namespace output
