// Still image writers. Every writer goes through CDataFile, so each byte written is checked and
// the file is closed on every path.
#include "output/image_files.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <tiffio.h>

#include "device/data_file.h"
#include "imaging/format.h"

using imaging::Rect;

namespace {

bool HasPixels(const CDibImage* image) {
  return image != nullptr && image->Pixels() != nullptr && image->Width() > 0 &&
         image->Height() > 0 && image->BitCount() >= 8;
}

// Row routine over the whole source into a holder of the same size.
int Convert(CDibImage* dst, const CDibImage* src, imaging::RowRoutine routine) {
  return dst->Transfer(routine, src, nullptr, 0, 0, nullptr, 0);
}

// ---- PNG ----

void PngWrite(png_structp png, png_bytep data, size_t length) {
  auto* file = static_cast<CDataFile*>(png_get_io_ptr(png));
  if (!file->Write(data, length)) png_error(png, "write failed");
}

void PngFlush(png_structp) {}

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  std::fprintf(stderr, "libpng error: %s\n", message);
  png_longjmp(png, 1);
}

// Nothing with a destructor lives in this frame: the error handler jumps back into it.
int EncodePng(CDataFile* file, png_bytep* rows, int32_t width, int32_t height,
              uint16_t bit_count) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, nullptr);
  if (png == nullptr) return 0;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return 0;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  const bool wide = bit_count == 16 || bit_count == 48 || bit_count == 64;
  int colour = PNG_COLOR_TYPE_GRAY;
  if (bit_count == 24 || bit_count == 48) colour = PNG_COLOR_TYPE_RGB;
  if (bit_count == 32 || bit_count == 64) colour = PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_write_fn(png, file, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
               wide ? 16 : 8, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  if (wide) png_set_swap(png);  // samples are little-endian in memory
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 1;
}

// ---- JPEG ----

struct JpegError {
  jpeg_error_mgr base;
  jmp_buf recover;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp(reinterpret_cast<JpegError*>(cinfo->err)->recover, 1);
}

constexpr size_t kJpegBuffer = 65536;

struct JpegDest {
  jpeg_destination_mgr base;
  CDataFile* file;
  JOCTET* buffer;
};

void JpegInitDest(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDest*>(cinfo->dest);
  dest->base.next_output_byte = dest->buffer;
  dest->base.free_in_buffer = kJpegBuffer;
}

boolean JpegEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDest*>(cinfo->dest);
  if (!dest->file->Write(dest->buffer, kJpegBuffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
  JpegInitDest(cinfo);
  return TRUE;
}

void JpegTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDest*>(cinfo->dest);
  size_t used = kJpegBuffer - dest->base.free_in_buffer;
  if (used > 0 && !dest->file->Write(dest->buffer, used)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Nothing with a destructor lives in this frame: the error handler jumps back into it.
int EncodeJpeg(JpegDest* dest, const CDibImage* holder, int components, int quality,
               int progressive) {
  jpeg_compress_struct cinfo;
  JpegError error;
  cinfo.err = jpeg_std_error(&error.base);
  error.base.error_exit = JpegErrorExit;
  if (setjmp(error.recover)) {
    jpeg_destroy_compress(&cinfo);
    return 0;
  }
  jpeg_create_compress(&cinfo);
  dest->base.init_destination = JpegInitDest;
  dest->base.empty_output_buffer = JpegEmpty;
  dest->base.term_destination = JpegTerm;
  cinfo.dest = &dest->base;
  cinfo.image_width = static_cast<JDIMENSION>(holder->Width());
  cinfo.image_height = static_cast<JDIMENSION>(holder->Height());
  cinfo.input_components = components;
  // The samples are blue-first in memory; the library reads them in that order.
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  // The holder is bottom row first: the last memory row is the top of the picture.
  uint8_t* const base = holder->Pixels();
  const int32_t stride = holder->Stride();
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = base + static_cast<ptrdiff_t>(holder->Height() - 1 -
                                                 static_cast<int32_t>(cinfo.next_scanline)) *
                              stride;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 1;
}

// ---- TIFF ----

tmsize_t TiffRead(thandle_t, void*, tmsize_t) { return 0; }

tmsize_t TiffWrite(thandle_t handle, void* data, tmsize_t size) {
  if (size < 0) return -1;
  return static_cast<CDataFile*>(handle)->Write(data, static_cast<size_t>(size)) ? size : -1;
}

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<CDataFile*>(handle);
  uint64_t target = offset;
  if (whence == SEEK_END) target += file->FileSize();
  if (whence == SEEK_CUR) {
    uint64_t at = 0;
    if (!file->Tell(&at)) return static_cast<toff_t>(-1);
    target += at;
  }
  return file->Seek(target) ? target : static_cast<toff_t>(-1);
}

int TiffClose(thandle_t) { return 0; }

toff_t TiffSize(thandle_t handle) { return static_cast<CDataFile*>(handle)->FileSize(); }

int TiffMap(thandle_t, void**, toff_t*) { return 0; }

void TiffUnmap(thandle_t, void*, toff_t) {}

}  // namespace

#ifdef _WIN32
int CDibImage::WriteBmp(const char* name) const {
  if (name == nullptr || pixels_ == nullptr || width_ <= 0 || height_ <= 0) return 0;
  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  const bool table = bit_count_ <= 8;
  const uint32_t offset = table ? 1078u : 54u;
  const uint32_t size = offset + static_cast<uint32_t>(height_) * static_cast<uint32_t>(stride_);
  uint8_t head[14] = {'B', 'M'};
  std::memcpy(head + 2, &size, 4);
  std::memcpy(head + 10, &offset, 4);
  bool ok = file.Write(head, sizeof head) && file.Write(&header_, sizeof header_) &&
            (!table || file.Write(colors_, sizeof colors_)) &&
            file.Write(pixels_, static_cast<size_t>(height_) * static_cast<size_t>(stride_));
  return ok ? 1 : 0;
}
#endif

namespace output {

int WritePng(const char* name, const uint8_t* pixels, int32_t width, int32_t height,
             uint16_t bit_count) {
  if (name == nullptr || pixels == nullptr || width <= 0 || height <= 0) return 0;
  if (bit_count != 8 && bit_count != 16 && bit_count != 24 && bit_count != 32 &&
      bit_count != 48 && bit_count != 64)
    return 0;
  const size_t stride = (static_cast<size_t>(width) * (bit_count / 8) + 3) & ~size_t{3};
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = const_cast<png_bytep>(pixels + i * stride);
  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  return EncodePng(&file, rows.data(), width, height, bit_count);
}

int WriteJpeg(const char* name, const CDibImage* holder, int quality, int progressive) {
  if (name == nullptr || !HasPixels(holder)) return 0;
  if (holder->BitCount() != 8 && holder->BitCount() != 24) return 0;
  std::vector<JOCTET> buffer(kJpegBuffer);
  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  JpegDest dest{};
  dest.file = &file;
  dest.buffer = buffer.data();
  return EncodeJpeg(&dest, holder, holder->BitCount() == 8 ? 1 : 3, quality, progressive);
}

int WriteTiff(const char* name, const CDibImage* source) {
  if (name == nullptr || !HasPixels(source)) return 0;
  uint16_t bits = 8, photometric = PHOTOMETRIC_RGB, samples = 3;
  imaging::RowRoutine prepare = nullptr;
  switch (source->BytesPerPixel()) {
    case 1: photometric = PHOTOMETRIC_MINISBLACK, samples = 1; break;
    case 2: bits = 16, photometric = PHOTOMETRIC_MINISBLACK, samples = 1;
      prepare = imaging::Widen16Bits10; break;
    case 3: prepare = imaging::Swap24; break;
    case 4: samples = 4, prepare = imaging::Swap24; break;
    case 6: bits = 16, prepare = imaging::Widen48Bits10Swapped; break;
    case 8: bits = 16, samples = 4, prepare = imaging::Widen64Bits10Swapped; break;
    default: return 0;
  }
  CDibImage temp;
  if (prepare != nullptr) {
    if (!temp.CreateLike(source) || !Convert(&temp, source, prepare)) return 0;
  }
  const CDibImage* ready = prepare != nullptr ? &temp : source;
  // One strip of rows without their padding. Opaque fourth sample for 32 bits, as for 64.
  const size_t row = static_cast<size_t>(source->Width()) * samples * bits / 8;
  const size_t height = static_cast<size_t>(source->Height());
  std::vector<uint8_t> strip(row * height);
  for (size_t y = 0; y < height; ++y) {
    uint8_t* out = strip.data() + y * row;
    std::memcpy(out, ready->Pixels() + y * static_cast<size_t>(ready->Stride()), row);
    if (samples == 4 && bits == 8)
      for (size_t x = 3; x < row; x += 4) out[x] = 255;
  }
  temp.Release();

  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  TIFF* tif = TIFFClientOpen(name, "w", &file, TiffRead, TiffWrite, TiffSeek, TiffClose,
                             TiffSize, TiffMap, TiffUnmap);
  if (tif == nullptr) return 0;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(source->Width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(source->Height()));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(source->Height()));
  if (samples == 4) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  const tmsize_t size = static_cast<tmsize_t>(strip.size());
  const bool ok = TIFFWriteEncodedStrip(tif, 0, strip.data(), size) == size && TIFFFlush(tif) == 1;
  TIFFClose(tif);
  return ok ? 1 : 0;
}

int SaveImageFile(const char* name, const CDibImage* source, int type) {
  if (name == nullptr || !HasPixels(source)) return 0;
  const uint16_t bits = source->BitCount();
  const int32_t w = source->Width(), h = source->Height();
  CDibImage temp;
  switch (type) {
    case kFileBmp:
      if (!temp.CreateLike(source) || !Convert(&temp, source, imaging::CopyRowsReversed))
        return 0;
      return temp.WriteBmp(name);
    case kFileRaw: {
      CDataFile file;
      if (!file.OpenForWrite(name)) return 0;
      return file.Write(source->Pixels(), static_cast<size_t>(h) * source->Stride()) ? 1 : 0;
    }
    case kFileJpeg100:
    case kFileJpeg70:
    case kFileJpeg20: {
      imaging::RowRoutine prepare = nullptr;
      uint16_t out_bits = 24;
      switch (bits) {
        case 8: prepare = imaging::CopyRowsReversed, out_bits = 8; break;
        case 16: prepare = imaging::Reduce16To8Reversed, out_bits = 8; break;
        case 24:
        case 32: prepare = imaging::Copy3ChannelsReversed; break;
        case 48:
        case 64: prepare = imaging::Reduce48To24Reversed; break;
        default: return 0;
      }
      if (!temp.Create(w, h, out_bits) || !Convert(&temp, source, prepare)) return 0;
      const int quality = type == kFileJpeg100 ? 100 : type == kFileJpeg70 ? 70 : 20;
      return WriteJpeg(name, &temp, quality, 1);
    }
    case kFilePng: {
      imaging::RowRoutine prepare = nullptr;
      switch (bits) {
        case 8:
        case 24: return WritePng(name, source->Pixels(), w, h, bits);
        case 16: prepare = imaging::Widen16Bits10; break;
        case 32: prepare = imaging::Alpha32; break;
        case 48: prepare = imaging::Widen48Bits10; break;
        case 64: prepare = imaging::Widen64Bits10; break;
        default: return 0;
      }
      if (!temp.CreateLike(source) || !Convert(&temp, source, prepare)) return 0;
      return WritePng(name, temp.Pixels(), w, h, bits);
    }
    case kFileTiff:
      return WriteTiff(name, source);
    default:
      return 0;
  }
}

}  // namespace output
