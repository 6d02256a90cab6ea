// Still image writers. Every writer goes through CDataFile, so each byte written is checked and
// the file is closed on every path.
#include "output/image_files.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <tiffio.h>

#include "imaging/format.h"
#include "output/data_file.h"

using imaging::Rect;

namespace {

bool HasPixels(const CDibImage* image) {
  return image != nullptr && image->Pixels() != nullptr && image->Width() > 0 &&
         image->Height() > 0 && image->BitCount() >= 8;
}

// Pixels prepared for one writer: plain memory, so that no GDI objects are made per save.
struct Prepared {
  std::unique_ptr<uint8_t[]> bytes;
  int32_t stride = 0;
};

// Runs a row routine over the whole source into fresh memory of dst_bpp bytes per pixel and
// rows of dst_stride bytes (the source's padding rule when 0). Padding bytes are left as they
// are unless the routine writes them.
bool Prepare(const CDibImage* src, imaging::RowRoutine routine, uint16_t dst_bpp,
             int32_t dst_stride, Prepared* out) {
  const int32_t w = src->Width(), h = src->Height();
  out->stride = dst_stride > 0 ? dst_stride : static_cast<int32_t>((static_cast<size_t>(w) * dst_bpp + 3) & ~size_t{3});
  out->bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(out->stride) * h]);
  if (!out->bytes) return false;
  const Rect whole = {0, 0, w, h};
  return routine(out->bytes.get(), src->Pixels(), &whole, 0, 0, dst_bpp, src->BytesPerPixel(),
                 out->stride, src->Stride(), nullptr, 0) != 0;
}

// Bytes of prepared rows a writer holds at a time: large frames go out in pieces of this size
// instead of through a copy of the whole picture.
constexpr size_t kChunkBytes = 128 * 1024;

// Rows per piece for rows of row_bytes bytes: at least one.
int32_t ChunkRows(size_t row_bytes) {
  return static_cast<int32_t>(row_bytes >= kChunkBytes ? 1 : kChunkBytes / row_bytes);
}

// The start of a BMP file: file header, info header and the gray table up to 8 bits.
bool WriteBmpHead(CDataFile* file, const BITMAPINFOHEADER& header, const RGBQUAD* colors,
                  int32_t height, int32_t stride) {
  const bool table = header.biBitCount <= 8;
  const uint32_t offset = table ? 1078u : 54u;
  const uint32_t size = offset + static_cast<uint32_t>(height) * static_cast<uint32_t>(stride);
  // One write for all of it: each write is a system call.
  static_assert(sizeof header == 40, "BMP info header");
  uint8_t head[1078] = {'B', 'M'};
  std::memcpy(head + 2, &size, 4);
  std::memcpy(head + 10, &offset, 4);
  std::memcpy(head + 14, &header, sizeof header);
  if (table) std::memcpy(head + 54, colors, 256 * sizeof(RGBQUAD));
  return file->Write(head, offset);
}

// The BMP file: the head, then the rows as given.
int WriteBmpFile(const char* name, const BITMAPINFOHEADER& header, const RGBQUAD* colors,
                 const uint8_t* pixels, int32_t height, int32_t stride) {
  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  const bool ok = WriteBmpHead(&file, header, colors, height, stride) &&
                  file.Write(pixels, static_cast<size_t>(height) * static_cast<size_t>(stride));
  return ok ? 1 : 0;
}

// The BMP file of a holder: the head, then its rows turned over (last row first), padding
// included (the holder keeps it zeroed), a piece at a time.
int WriteBmpTurnedOver(const char* name, const CDibImage* source, const RGBQUAD* colors) {
  const int32_t h = source->Height();
  const size_t stride = static_cast<size_t>(source->Stride());
  const int32_t rows = ChunkRows(stride);
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[rows * stride]);
  if (!piece) return 0;
  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  if (!WriteBmpHead(&file, source->Header(), colors, h, source->Stride())) return 0;
  for (int32_t done = 0; done < h;) {
    const int32_t n = std::min(rows, h - done);
    for (int32_t i = 0; i < n; ++i)
      std::memcpy(piece.get() + i * stride,
                  source->Pixels() + static_cast<size_t>(h - 1 - done - i) * stride, stride);
    if (!file.Write(piece.get(), n * stride)) return 0;
    done += n;
  }
  return 1;
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
  if (wide) {
    // The 16-bit samples carry 10 significant bits; readers that honour sBIT can show the
    // sensor's own values. The opaque alpha is full 16-bit.
    png_color_8 significant = {};
    significant.red = significant.green = significant.blue = significant.gray = 10;
    significant.alpha = 16;
    png_set_sBIT(png, info, &significant);
  }
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
// Rows are taken bottom memory row first: the memory holds the picture bottom-up.
int EncodeJpeg(JpegDest* dest, const uint8_t* base, int32_t width, int32_t height,
               int32_t stride, int components, int quality, int progressive) {
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
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  // The samples are blue-first in memory; the library reads them in that order.
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(
        base + static_cast<ptrdiff_t>(height - 1 - static_cast<int32_t>(cinfo.next_scanline)) * stride);
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
  return WriteBmpFile(name, header_, colors_, pixels_, height_, stride_);
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
  return EncodeJpeg(&dest, holder->Pixels(), holder->Width(), holder->Height(), holder->Stride(),
                    holder->BitCount() == 8 ? 1 : 3, quality, progressive);
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
  // One strip of rows without their padding. The rows are prepared a piece at a time and
  // handed over as scanlines; libtiff's own buffer is set to the same size, so it writes the
  // strip out in pieces too instead of holding all of it.
  const size_t row = static_cast<size_t>(source->Width()) * samples * bits / 8;
  const int32_t height = source->Height();
  const int32_t rows = ChunkRows(row);
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[rows * row]);
  if (!piece) return 0;

  CDataFile file;
  if (!file.OpenForWrite(name)) return 0;
  TIFF* tif = TIFFClientOpen(name, "w", &file, TiffRead, TiffWrite, TiffSeek, TiffClose,
                             TiffSize, TiffMap, TiffUnmap);
  if (tif == nullptr) return 0;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(source->Width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
  // Baseline readers expect a resolution; the camera has none, so the customary 72 per inch.
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0f);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (samples == 4) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  bool ok = TIFFWriteBufferSetup(tif, nullptr, static_cast<tmsize_t>(kChunkBytes)) == 1;
  const size_t src_stride = static_cast<size_t>(source->Stride());
  for (int32_t y0 = 0; ok && y0 < height;) {
    const int32_t n = std::min(rows, height - y0);
    const uint8_t* from = source->Pixels() + static_cast<size_t>(y0) * src_stride;
    if (prepare != nullptr) {
      const Rect part = {0, 0, source->Width(), n};
      ok = prepare(piece.get(), from, &part, 0, 0, source->BytesPerPixel(),
                   source->BytesPerPixel(), static_cast<int32_t>(row),
                   static_cast<int32_t>(src_stride), nullptr, 0) != 0;
    } else {
      for (int32_t i = 0; i < n; ++i) std::memcpy(piece.get() + i * row, from + i * src_stride, row);
    }
    // Opaque fourth sample for 32 bits, as for 64.
    if (samples == 4 && bits == 8)
      for (size_t i = 3; i < row * n; i += 4) piece[i] = 255;
    for (int32_t i = 0; ok && i < n; ++i)
      ok = TIFFWriteScanline(tif, piece.get() + i * row, static_cast<uint32_t>(y0 + i), 0) == 1;
    y0 += n;
  }
  ok = ok && TIFFFlush(tif) == 1;
  TIFFClose(tif);
  return ok ? 1 : 0;
}

int SaveImageFile(const char* name, const CDibImage* source, int type) {
  if (name == nullptr || !HasPixels(source)) return 0;
  const uint16_t bits = source->BitCount();
  const int32_t w = source->Width(), h = source->Height();
  Prepared ready;
  switch (type) {
    case kFileBmp: {
      RGBQUAD gray[256];
      for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        gray[i] = {v, v, v, 0};
      }
      return WriteBmpTurnedOver(name, source, gray);
    }
    case kFileRaw: {
      CDataFile file;
      if (!file.OpenForWrite(name)) return 0;
      return file.Write(source->Pixels(), static_cast<size_t>(h) * source->Stride()) ? 1 : 0;
    }
    case kFileJpeg100:
    case kFileJpeg70:
    case kFileJpeg20: {
      imaging::RowRoutine prepare = nullptr;
      uint16_t out_bpp = 3;
      switch (bits) {
        case 8: prepare = imaging::CopyRowsReversed, out_bpp = 1; break;
        case 16: prepare = imaging::Reduce16To8Reversed, out_bpp = 1; break;
        case 24:
        case 32: prepare = imaging::Copy3ChannelsReversed; break;
        case 48:
        case 64: prepare = imaging::Reduce48To24Reversed; break;
        default: return 0;
      }
      // CopyRowsReversed copies the smaller stride: give it the 8-bit one.
      if (!Prepare(source, prepare, out_bpp, 0, &ready)) return 0;
      const int quality = type == kFileJpeg100 ? 100 : type == kFileJpeg70 ? 70 : 20;
      std::vector<JOCTET> buffer(kJpegBuffer);
      CDataFile file;
      if (!file.OpenForWrite(name)) return 0;
      JpegDest dest{};
      dest.file = &file;
      dest.buffer = buffer.data();
      return EncodeJpeg(&dest, ready.bytes.get(), w, h, ready.stride, out_bpp, quality, 1);
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
      if (!Prepare(source, prepare, source->BytesPerPixel(), source->Stride(), &ready)) return 0;
      return WritePng(name, ready.bytes.get(), w, h, bits);
    }
    case kFileTiff:
      return WriteTiff(name, source);
    default:
      return 0;
  }
}

}  // namespace output
