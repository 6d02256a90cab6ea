// Still image saves and recording at 752 x 480.
//  - SaveImageFile per file type code and bit count against its floor: the same library calls
//    on the same (already prepared) pixels into a sink that discards, plus writing a file of the
//    same size; medians of rounds that each run every save and its floor.
//  - Frame lock: how long a Qelvan_GetImage call that only takes the lock (its buffer is too
//    small to copy into) waits while saves and a recording run, against a plain preview and one
//    with every filter on.
//  - Recording at 56 fps in colour types 0, 2 and 5: AVI frames against sensor frames, the
//    longest gap between recorded frames (read from the moving square) and the recorder
//    thread's CPU time per frame.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "QelvanSdk.h"
#include "../bench_clock.h"
#include "imaging/format.h"
#include "output/dib_image.h"
#include "output/image_files.h"
#include "vcamctl.h"

namespace {

constexpr int kW = 752, kH = 480;

// A picture like the camera's: bars, ramps, fine detail.
void Fill(CDibImage* img) {
  const int bpp = img->BytesPerPixel();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int b = 0; b < bpp; ++b) {
        int v = y < 160 ? ((x / 94 + b) & 1) * 700 + 48 : y < 320 ? x + b * 40 : (((x >> 2) + (y >> 2)) & 1) * 600 + 96;
        uint8_t* p = img->Pixels() + static_cast<size_t>(y) * img->Stride() + static_cast<size_t>(x) * bpp;
        if (bpp == 2 || bpp >= 6) {
          if (b & 1) continue;
          p[b] = static_cast<uint8_t>(v & 0x3FF), p[b + 1] = static_cast<uint8_t>((v & 0x3FF) >> 8);
        } else {
          p[b] = static_cast<uint8_t>(v >> 2);
        }
      }
}

// ---- floors: the library calls alone, into sinks that discard ----

void PngSink(png_structp, png_bytep, size_t) {}
void PngFlush(png_structp) {}

void PngFloor(const uint8_t* pixels, int bits) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const bool wide = bits == 16 || bits == 48 || bits == 64;
  const int colour = bits <= 16 ? PNG_COLOR_TYPE_GRAY : (bits == 24 || bits == 48) ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_write_fn(png, nullptr, PngSink, PngFlush);
  png_set_IHDR(png, info, kW, kH, wide ? 16 : 8, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  if (wide) png_set_swap(png);
  const size_t stride = (static_cast<size_t>(kW) * (bits / 8) + 3) & ~size_t{3};
  std::vector<png_bytep> rows(kH);
  for (int i = 0; i < kH; ++i) rows[i] = const_cast<png_bytep>(pixels + i * stride);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
}

JOCTET jpegBuffer[65536];
void JpegInit(j_compress_ptr c) { c->dest->next_output_byte = jpegBuffer, c->dest->free_in_buffer = sizeof jpegBuffer; }
boolean JpegEmpty(j_compress_ptr c) { return JpegInit(c), TRUE; }
void JpegTerm(j_compress_ptr) {}

void JpegFloor(const CDibImage* prepared, int quality) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_destination_mgr dest = {};
  dest.init_destination = JpegInit, dest.empty_output_buffer = JpegEmpty, dest.term_destination = JpegTerm;
  c.dest = &dest;
  c.image_width = kW, c.image_height = kH;
  c.input_components = prepared->BitCount() == 8 ? 1 : 3;
  c.in_color_space = prepared->BitCount() == 8 ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = prepared->Pixels() + static_cast<size_t>(kH - 1 - c.next_scanline) * prepared->Stride();
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
}

uint64_t tiffAt = 0, tiffSize = 0;
tmsize_t TiffRead(thandle_t, void*, tmsize_t) { return 0; }
tmsize_t TiffWrite(thandle_t, void*, tmsize_t n) {
  tiffAt += static_cast<uint64_t>(n);
  tiffSize = std::max(tiffSize, tiffAt);
  return n;
}
toff_t TiffSeek(thandle_t, toff_t off, int whence) {
  tiffAt = whence == SEEK_SET ? off : whence == SEEK_END ? tiffSize + off : tiffAt + off;
  return tiffAt;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t) { return tiffSize; }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

void TiffFloor(const std::vector<uint8_t>& strip, int bits) {
  tiffAt = tiffSize = 0;
  const int bpp = bits / 8;
  const uint16_t sampleBits = (bpp == 2 || bpp >= 6) ? 16 : 8;
  const uint16_t samples = static_cast<uint16_t>(bpp * 8 / sampleBits);
  TIFF* t = TIFFClientOpen("floor", "w", nullptr, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap, TiffUnmap);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kW);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kH);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, sampleBits);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kH);
  TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(strip.data()), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
}

// Writing a file of the given size in one call, as the save's own writes would.
void WriteOnce(const std::string& name, const std::vector<uint8_t>& data) {
  HANDLE f = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD n = 0;
  WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
  CloseHandle(f);
}

uint64_t FileBytes(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &a)) return 0;
  return static_cast<uint64_t>(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
}

template <typename F>
double OnceMs(F&& f) {
  const double s = NowMs();
  f();
  return NowMs() - s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Each save against its floor: the same library calls on prepared pixels into a sink, plus one
// write of a file of the save's size. Every round runs every case once, so that a burst of load
// on a shared machine spreads over all cases instead of spoiling one; the ratio is taken per
// round, and the median and the middle half of the rounds are reported.
struct SaveCase {
  int bits = 0, type = 0;
  std::string name, floorName;  // files of its own, each rewritten at the same size every round
  std::function<void()> save, encode;
  std::vector<uint8_t> file;  // bytes of the floor's write
  std::vector<double> saves, encodes, writes, ratios;
};

// Pixels of one depth: the holder the save gets, and what each library gets from the save.
struct Depth {
  CDibImage src, jpegReady, pngReady;
  std::vector<uint8_t> strip;
};

const char* BuildName() { return sizeof(void*) == 8 ? "x86-64" : "i686"; }

void BenchSaves() {
  CreateDirectoryA("files_out", nullptr);
  static const char* names[] = {"BMP", "raw", "JPEG q100", "JPEG q70", "JPEG q20", "PNG", "TIFF"};
  constexpr int kRounds = 32;
  static const int kBits[] = {8, 16, 24, 32, 48, 64};
  std::vector<std::unique_ptr<Depth>> depths;
  std::vector<SaveCase> cases;
  cases.reserve(6 * 7);  // the save functions hold on to their case
  for (int bits : kBits) {
    depths.push_back(std::make_unique<Depth>());
    Depth& d = *depths.back();
    d.src.Create(kW, kH, static_cast<uint16_t>(bits));
    Fill(&d.src);
    d.jpegReady.Create(kW, kH, bits <= 16 ? 8 : 24);
    imaging::RowRoutine jr = bits == 8 ? imaging::CopyRowsReversed
                             : bits == 16 ? imaging::Reduce16To8Reversed
                             : bits <= 32 ? imaging::Copy3ChannelsReversed
                                          : imaging::Reduce48To24Reversed;
    d.jpegReady.Transfer(jr, &d.src, nullptr, 0, 0, nullptr, 0);
    d.pngReady.CreateLike(&d.src);
    std::memcpy(d.pngReady.Pixels(), d.src.Pixels(), static_cast<size_t>(kH) * d.src.Stride());
    const size_t row = static_cast<size_t>(kW) * (bits / 8);
    d.strip.resize(row * kH);
    for (int y = 0; y < kH; ++y)
      std::memcpy(&d.strip[y * row], d.src.Pixels() + static_cast<size_t>(y) * d.src.Stride(), row);
    for (int type = 0; type <= 6; ++type) {
      cases.emplace_back();
      SaveCase& c = cases.back();
      c.bits = bits, c.type = type;
      c.name = "files_out\\bench_save_" + std::to_string(bits) + "_" + std::to_string(type);
      c.floorName = c.name + ".w";
      c.save = [&d, &c, type] { output::SaveImageFile(c.name.c_str(), &d.src, type); };
      c.encode = [] {};
      if (type >= 2 && type <= 4) {
        const int q = type == 2 ? 100 : type == 3 ? 70 : 20;
        c.encode = [&d, q] { JpegFloor(&d.jpegReady, q); };
      } else if (type == 5) {
        c.encode = [&d, bits] { PngFloor(d.pngReady.Pixels(), bits); };
      } else if (type == 6) {
        c.encode = [&d, bits] { TiffFloor(d.strip, bits); };
      }
      // Warm up, and the size of the file for the floor's write.
      c.save();
      c.file.assign(static_cast<size_t>(FileBytes(c.name)), 0x5A);
      WriteOnce(c.floorName, c.file);
      c.encode();
    }
  }
  // Rounds over all cases, each from another starting case. In a round, a case first writes its
  // floor's file once untimed: whatever the case before left behind (the system writing back a
  // large file, say) is paid there and not by the save or the floor. The save runs as it would
  // in use, after other work; the save and the floor take turns at going first.
  for (int r = 0; r < kRounds; ++r)
    for (size_t k = 0; k < cases.size(); ++k) {
      SaveCase& c = cases[(k + static_cast<size_t>(r) * 5) % cases.size()];
      WriteOnce(c.floorName, c.file);
      double s = 0, w = 0;
      if (r % 2 == 0) {
        s = OnceMs(c.save);
        w = OnceMs([&] { WriteOnce(c.floorName, c.file); });
      } else {
        w = OnceMs([&] { WriteOnce(c.floorName, c.file); });
        s = OnceMs(c.save);
      }
      const double e = OnceMs(c.encode);
      c.saves.push_back(s), c.writes.push_back(w), c.encodes.push_back(e);
      c.ratios.push_back(s / (w + e));
    }
  // The files are only for timing: about a hundred megabytes, not left in the build tree.
  for (const SaveCase& c : cases) DeleteFileA(c.name.c_str()), DeleteFileA(c.floorName.c_str());
  double worst = 0;
  std::string worstCase;
  std::string perType[7];
  for (SaveCase& c : cases) {
    std::vector<double> floors(c.writes.size());
    for (size_t i = 0; i < floors.size(); ++i) floors[i] = c.writes[i] + c.encodes[i];
    std::sort(c.ratios.begin(), c.ratios.end());
    const double ratio = c.ratios[c.ratios.size() / 2];
    const double low = c.ratios[c.ratios.size() / 4], high = c.ratios[c.ratios.size() * 3 / 4];
    std::printf("save %-9s %2d bits: %7.2f ms, floor %7.2f ms (library %.2f + write %.2f), ratio %.2f (middle half %.2f-%.2f)\n",
                names[c.type], c.bits, Median(c.saves), Median(floors), Median(c.encodes), Median(c.writes), ratio,
                low, high);
    char part[64];
    std::snprintf(part, sizeof part, "%s%d: %.2f (%.2f-%.2f)", perType[c.type].empty() ? "" : ", ", c.bits, ratio,
                  low, high);
    perType[c.type] += part;
    if (ratio > worst) worst = ratio, worstCase = std::string(names[c.type]) + " " + std::to_string(c.bits) + " bits";
  }
  // BMP and TIFF by depth: the median ratio of the rounds, with the middle half of them. Raw is
  // the control: the same single write as its floor, so its ratio shows the gauge's own error.
  for (int type : {0, 6, 1})
    std::printf("SUMMARY files: %s save vs its floor (library calls + file write), %s, 752x480, median of %d rounds by bits: %s\n",
                names[type], BuildName(), kRounds, perType[type].c_str());
  std::printf("SUMMARY files: SaveImageFile at 752x480, %s, worst median ratio to its floor (library calls + file write) %.2f (%s)\n",
              BuildName(), worst, worstCase.c_str());
}

// ---- camera part ----

struct LockProbe {
  QelvanHandle h = 0;
  int bits = 8;
  volatile LONG stop = 0;
  std::vector<double> waits;
  static DWORD WINAPI Main(LPVOID p) {
    auto* self = static_cast<LockProbe*>(p);
    // A one-byte buffer: the call takes the frame lock, refuses the copy and lets go, so it
    // measures the wait for the lock without holding it long itself.
    uint8_t byte = 0;
    while (!self->stop) {
      const double s = NowMs();
      Qelvan_GetImage(self->h, &byte, 1, 1);
      self->waits.push_back(NowMs() - s);
      Sleep(2);
    }
    return 0;
  }
};

struct ProbeRun {
  LockProbe probe;
  HANDLE thread = nullptr;
  explicit ProbeRun(QelvanHandle h) {
    probe.h = h;
    thread = CreateThread(nullptr, 0, LockProbe::Main, &probe, 0, nullptr);
  }
  // Longest and 99th-percentile call.
  std::pair<double, double> Finish() {
    probe.stop = 1;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    std::vector<double>& w = probe.waits;
    if (w.empty()) return {0, 0};
    std::sort(w.begin(), w.end());
    return {w.back(), w[w.size() * 99 / 100]};
  }
};

double ThreadCpuMs(HANDLE t) {
  FILETIME c, e, k, u;
  if (!GetThreadTimes(t, &c, &e, &k, &u)) return 0;
  auto ms = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 10000.0; };
  return ms(k) + ms(u);
}

std::set<DWORD> Threads() {
  std::set<DWORD> ids;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te = {};
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te))
    if (te.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(te.th32ThreadID);
  CloseHandle(snap);
  return ids;
}

bool WaitClosed(const std::string& name, DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    HANDLE f = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      CloseHandle(f);
      return true;
    }
    Sleep(20);
  }
  return false;
}

// Left edge of the moving square in a bottom-up 24-bit AVI frame (picture row 420), -1 if not
// found: the first of four pixels in a row that differ clearly from the background left of it.
int SquareLeft(const uint8_t* frame) {
  const size_t stride = (3 * kW + 3) & ~3;
  const uint8_t* row = frame + static_cast<size_t>(kH - 1 - 420) * stride;
  auto level = [&](int x) { return row[3 * x] + row[3 * x + 1] + 2 * row[3 * x + 2]; };
  const int background = level(3);
  int run = 0;
  for (int x = 5; x < kW; ++x) {
    run = std::abs(level(x) - background) > 60 ? run + 1 : 0;
    if (run == 4) return x - 3;
  }
  return -1;
}

void BenchCamera() {
  CreateDirectoryA("files_out", nullptr);
  if (vcamctl_reset() != 0) {
    std::printf("SUMMARY files: no virtual camera, recording not measured\n");
    return;
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
  QelvanHandle h = Qelvan_Initialize(nullptr);
  if (!h) {
    std::printf("SUMMARY files: camera did not open, recording not measured\n");
    return;
  }
  Qelvan_SetHalfClock(h, 0);
  Qelvan_SetWaitTime(h, 0);
  Qelvan_SetGlobalGain(h, 16);
  Qelvan_SetExposureTime(h, 480);
  Qelvan_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);

  // Frame lock: GetImage calls during an idle preview, during saves, during recording.
  Qelvan_SetColorMode(h, 24);
  if (!Qelvan_StartPreview(h)) {
    std::printf("SUMMARY files: preview did not start, recording not measured\n");
    Qelvan_Release(h);
    return;
  }
  Sleep(500);
  {
    ProbeRun idle(h);
    Sleep(1500);
    auto r = idle.Finish();
    std::printf("frame lock: lock wait while previewing: longest %.2f ms, p99 %.2f ms\n", r.first, r.second);
  }
  {
    // Every filter on: the conversion is at its longest, and so is any wait behind it.
    static const int kFilters[][2] = {{1, 20}, {2, 10}, {3, 30}, {4, 40}, {5, 10}, {11, 120}};
    for (const auto& f : kFilters) Qelvan_SetFilterValue(h, f[0], f[1]);
    Sleep(300);
    ProbeRun filtered(h);
    Sleep(1500);
    auto r = filtered.Finish();
    std::printf("SUMMARY files: frame lock during a 24-bit preview with every filter on: lock wait longest %.2f ms, p99 %.2f ms\n",
                r.first, r.second);
    for (const auto& f : kFilters) Qelvan_SetFilterValue(h, f[0], f[0] == 11 ? 100 : 0);
  }
  {
    // Saves back to back for a while, so that the percentile has calls behind it.
    ProbeRun saving(h);
    int saves = 0;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 1500;)
      for (int type : {5, 2, 6, 0}) saves += Qelvan_SaveImage(h, "files_out\\bench_cam_save", type);
    auto r = saving.Finish();
    std::printf("SUMMARY files: frame lock during saves (PNG, JPEG, TIFF, BMP of 24 bits, %d saves): lock wait longest %.2f ms, p99 %.2f ms\n",
                saves, r.first, r.second);
  }
  Qelvan_StopPreview(h);

  HWND sink = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  for (int bits : {8, 24, 64}) {
    Qelvan_SetColorMode(h, bits);
    // Frames the library converts per second without a recording, as a reference.
    int converted = 0;
    if (sink && Qelvan_CallBackPreview(h, sink, nullptr, 0, 0)) {
      const DWORD start = GetTickCount();
      MSG msg;
      while (GetTickCount() - start < 2000) {
        while (PeekMessageA(&msg, sink, 0, 0, PM_REMOVE)) converted += msg.message == WM_CAMERA_FRAME && msg.wParam;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      }
      Qelvan_StopPreview(h);
      while (PeekMessageA(&msg, sink, 0, 0, PM_REMOVE)) {
      }
    }
    std::printf("preview %d bits without recording: %.1f frames/s converted\n", bits, converted / 2.0);
    Qelvan_StartPreview(h);
    Sleep(300);
    const std::set<DWORD> before = Threads();
    vcam_camera_info i0 = {};
    vcamctl_camera_info(0, &i0);
    const std::string name = "files_out\\bench_rec_" + std::to_string(bits) + ".avi";
    ProbeRun probe(h);
    if (!Qelvan_Record(h, name.c_str(), 3000, 0)) {
      probe.Finish();
      std::printf("SUMMARY files: Record failed for %d bits\n", bits);
      continue;
    }
    HANDLE recorder = nullptr;
    for (DWORD id : Threads())
      if (!before.count(id)) recorder = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    double cpu = 0;
    // The recorder ends itself; sample its CPU time just before.
    const DWORD start = GetTickCount();
    while (!WaitClosed(name, 50) && GetTickCount() - start < 20000)
      if (recorder) cpu = std::max(cpu, ThreadCpuMs(recorder));
    if (recorder) cpu = std::max(cpu, ThreadCpuMs(recorder)), CloseHandle(recorder);
    vcam_camera_info i1 = {};
    vcamctl_camera_info(0, &i1);
    auto lock = probe.Finish();

    // Frames, and gaps read from the square's position (it moves 6 pixels a frame).
    FILE* f = std::fopen(name.c_str(), "rb");
    uint8_t head[232] = {};
    size_t got = f ? std::fread(head, 1, sizeof head, f) : 0;
    uint32_t frames = 0, usPerFrame = 0;
    std::memcpy(&frames, head + 48, 4);
    std::memcpy(&usPerFrame, head + 32, 4);
    const size_t frameBytes = static_cast<size_t>(kH) * ((3 * kW + 3) & ~3);
    std::vector<uint8_t> frame(frameBytes);
    int longest = 0, prev = -1, unseen = 0;
    long skipped = 0;
    for (uint32_t k = 0; got == sizeof head && k < frames; ++k) {
      std::fseek(f, static_cast<long>(232 + k * (8 + frameBytes) + 8), SEEK_SET);
      if (std::fread(frame.data(), 1, frameBytes, f) != frameBytes) break;
      const int left = SquareLeft(frame.data());
      if (left < 0) ++unseen;
      if (left >= 0 && prev >= 0) {
        const int gap = ((left - prev) % 688 + 688) % 688 / 6;
        longest = std::max(longest, gap);
        if (gap > 1) skipped += gap - 1;
      }
      prev = left;
    }
    if (f) std::fclose(f);
    const uint32_t sensor = i1.sensor_frames - i0.sensor_frames;
    const double fps = usPerFrame ? 1e6 / usPerFrame : 0;
    std::printf("SUMMARY files: record %d bits, 3 s: %u AVI frames at %.1f fps measured, sensor made %u meanwhile "
                "(incl. start and finish); longest gap %d frame(s), %ld skipped by the square (%d frames without it); recorder CPU %.2f ms/frame; "
                "lock wait during recording longest %.2f ms, p99 %.2f ms\n",
                bits, frames, fps, sensor, longest, skipped, unseen, frames ? cpu / frames : 0.0, lock.first, lock.second);
    Qelvan_StopPreview(h);
  }
  if (sink) DestroyWindow(sink);
  Qelvan_Release(h);
}

}  // namespace

int main(int argc, char** argv) {
  // Files go next to the program, inside the build tree, wherever it is started from.
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    if (char* slash = std::strrchr(path, '\\')) {
      *slash = '\0';
      SetCurrentDirectoryA(path);
    }
  }
  // "camera": the recording part only; "saves": the saves only.
  const std::string part = argc < 2 ? "" : argv[1];
  if (part != "camera") BenchSaves();
  if (part != "saves") BenchCamera();
  return 0;
}
