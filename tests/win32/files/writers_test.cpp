// Still image writers, white-box: every depth through every file type code. The test checks the
// layouts it can read itself and leaves each file with a reference dump of the expected pixels
// for the Linux-side check with the standard tools.
#include <gtest/gtest.h>

#include <string>

#include "files_util.h"
#include "output/data_file.h"
#include "output/image_files.h"

using namespace files_test;

namespace {

const uint16_t kDepths[] = {8, 16, 24, 32, 48, 64};
const int kWidths[] = {1, 94, 750};
constexpr int kHeight = 48;

// The value a reader should see for channel c (0 red, 1 green, 2 blue, 3 alpha; 0 gray) of
// picture pixel (x, y), from the pattern.
struct Expected {
  int channels;  // 1, 3 or 4
  int depth;     // 8 or 16
};

Expected ExpectedShape(int type, uint16_t bits) {
  const bool jpeg = type >= output::kFileJpeg100 && type <= output::kFileJpeg20;
  const int channels = (bits == 8 || bits == 16) ? 1 : (!jpeg && (bits == 32 || bits == 64)) ? 4 : 3;
  const int depth = (!jpeg && bits >= 16 && bits != 24 && bits != 32) ? 16 : 8;
  return {channels, depth};
}

uint32_t ExpectedValue(int type, uint16_t bits, int x, int y, int c) {
  const bool jpeg = type >= output::kFileJpeg100 && type <= output::kFileJpeg20;
  const int blue_first = c < 3 ? 2 - c : 3;  // reader's red is the holder's third channel
  if (bits == 8) return Byte(x, y, 0);
  if (bits == 16) return jpeg ? (Sample(x, y, 0) >> 2) & 0xFF : Sample(x, y, 0) << 6;
  if (bits == 24 || bits == 32) {
    if (c < 3) return Byte(x, y, blue_first);
    return type == output::kFilePng ? 255u - Fourth8(x, y) : 255u;
  }
  if (c < 3) return jpeg ? (Sample(x, y, blue_first) >> 2) & 0xFF : Sample(x, y, blue_first) << 6;
  return 0xFFFF;
}

// Top-down reference stream as ImageMagick's gray/rgb/rgba maps give it (16-bit: MSB first).
std::vector<uint8_t> Reference(int type, uint16_t bits, int w, int h) {
  Expected e = ExpectedShape(type, bits);
  std::vector<uint8_t> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < e.channels; ++c) {
        uint32_t v = ExpectedValue(type, bits, x, y, e.channels == 1 ? 0 : c);
        if (e.depth == 16) out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
      }
  return out;
}

// Holder value of channel c (blue-first) of picture pixel (x, y) as stored in memory.
uint32_t StoredValue(uint16_t bits, int x, int y, int c) {
  if (bits == 8) return Byte(x, y, 0);
  if (bits == 16) return Sample(x, y, 0);
  if (bits == 24 || bits == 32) return c < 3 ? Byte(x, y, c) : Fourth8(x, y);
  return c < 3 ? Sample(x, y, c) : Fourth16(x, y);
}

// Checks the rows of a BMP or raw file against the pattern; bmp rows are bottom row first.
void CheckRows(const std::vector<uint8_t>& f, size_t offset, int w, int h, uint16_t bits,
               bool bottom_up, const std::string& what) {
  const size_t stride = (static_cast<size_t>(w) * (bits / 8) + 3) & ~size_t{3};
  const int channels = bits == 8 || bits == 16 ? 1 : bits == 24 || bits == 48 ? 3 : 4;
  const bool wide = bits == 16 || bits == 48 || bits == 64;
  for (int r = 0; r < h; ++r) {
    const int y = bottom_up ? h - 1 - r : r;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const size_t at = offset + r * stride + static_cast<size_t>(x) * (bits / 8) + c * (wide ? 2 : 1);
        const uint32_t got = wide ? Get16(f, at) : f[at];
        if (got != StoredValue(bits, x, y, c)) {
          ADD_FAILURE() << what << " pixel " << x << "," << y << " channel " << c << ": " << got;
          return;
        }
      }
  }
}

std::string Name(int type, uint16_t bits, int w) {
  static const char* ext[] = {"bmp", "raw", "q100.jpg", "q70.jpg", "q20.jpg", "png", "tif"};
  return OutDir() + "img_" + std::to_string(bits) + "_" + std::to_string(w) + "." + ext[type];
}

}  // namespace

TEST(ImageWriters, EveryDepthWidthAndCode) {
  for (uint16_t bits : kDepths)
    for (int w : kWidths) {
      CDibImage src;
      ASSERT_TRUE(MakePattern(&src, w, kHeight, bits));
      const size_t stride = static_cast<size_t>(src.Stride());
      for (int type = 0; type <= 6; ++type) {
        const std::string name = Name(type, bits, w);
        const std::string what = name;
        ASSERT_EQ(output::SaveImageFile(name.c_str(), &src, type), 1) << what;
        const std::vector<uint8_t> f = ReadAll(name);
        ASSERT_GT(f.size(), 8u) << what;
        const Expected e = ExpectedShape(type, bits);
        const char* map = e.channels == 1 ? "gray" : e.channels == 3 ? "rgb" : "rgba";
        const std::string ref = name + ".ref";
        const std::string check = std::string(map) + " " + std::to_string(e.depth) + " " + ref;
        switch (type) {
          case output::kFileBmp: {
            const uint32_t off = bits == 8 ? 1078 : 54;
            EXPECT_EQ(Get16(f, 0), 0x4D42) << what;
            EXPECT_EQ(Get32(f, 2), off + kHeight * stride) << what;
            EXPECT_EQ(f.size(), off + kHeight * stride) << what;
            EXPECT_EQ(Get32(f, 6), 0u) << what;  // both reserved words
            EXPECT_EQ(Get32(f, 10), off) << what;
            EXPECT_EQ(Get32(f, 14), 40u);
            EXPECT_EQ(static_cast<int>(Get32(f, 18)), w);
            EXPECT_EQ(static_cast<int>(Get32(f, 22)), kHeight);
            EXPECT_EQ(Get16(f, 26), 1);
            EXPECT_EQ(Get16(f, 28), bits);
            for (size_t at = 30; at < 54; ++at) EXPECT_EQ(f[at], 0) << what << " header byte " << at;
            if (bits == 8) {
              for (int i = 0; i < 256; ++i) {
                EXPECT_EQ(Get32(f, 54 + 4 * i), static_cast<uint32_t>(i * 0x010101)) << what << " entry " << i;
              }
            }
            if (bits == 24 && w == 750) {
              EXPECT_EQ((Get32(f, 2) - 54) / kHeight, 2252u);
            }
            CheckRows(f, off, w, kHeight, bits, true, what);
            // Standard readers handle only 8, 24 and 32 bits.
            if (bits == 8 || bits == 24 || bits == 32)
              Manifest("bmp " + name + " " + (bits == 8 ? "gray 8 " : "rgb 8 ") + ref);
            if (bits == 8 || bits == 24 || bits == 32) {
              Expected b = {bits == 8 ? 1 : 3, 8};
              std::vector<uint8_t> r;
              for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < w; ++x)
                  for (int c = 0; c < b.channels; ++c) r.push_back(Byte(x, y, b.channels == 1 ? 0 : 2 - c));
              ASSERT_TRUE(WriteAll(ref, r));
            }
            continue;
          }
          case output::kFileRaw:
            EXPECT_EQ(f.size(), kHeight * stride) << what;
            CheckRows(f, 0, w, kHeight, bits, false, what);
            continue;
          case output::kFilePng: {
            static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
            EXPECT_TRUE(std::equal(sig, sig + 8, f.begin())) << what;
            EXPECT_EQ(GetBE32(f, 16), static_cast<uint32_t>(w)) << what;
            EXPECT_EQ(GetBE32(f, 20), static_cast<uint32_t>(kHeight)) << what;
            EXPECT_EQ(f[24], e.depth) << what;
            EXPECT_EQ(f[25], e.channels == 1 ? 0 : e.channels == 3 ? 2 : 6) << what;
            EXPECT_EQ(f[28], 0) << what << " interlace";
            Manifest("png " + name + " " + check);
            break;
          }
          case output::kFileTiff:
            EXPECT_EQ(Get32(f, 0), 0x002A4949u) << what;
            Manifest("tiff " + name + " " + check + " " + std::to_string(e.channels) + " " +
                     std::to_string(static_cast<size_t>(w) * e.channels * e.depth / 8 * kHeight));
            break;
          default: {
            // Progressive (SOF2) with one component for gray, three for colour.
            bool sof2 = false;
            for (size_t i = 2; i + 9 < f.size(); ++i)
              if (f[i] == 0xFF && f[i + 1] == 0xC2) {
                sof2 = true;
                EXPECT_EQ(f[i + 9], e.channels) << what;
                break;
              }
            EXPECT_TRUE(sof2) << what;
            const int quality = type == 2 ? 100 : type == 3 ? 70 : 20;
            Manifest("jpeg " + name + " " + map + " 8 " + ref + " " + std::to_string(quality) +
                     " " + std::to_string(bits) + "_" + std::to_string(w));
          }
        }
        ASSERT_TRUE(WriteAll(ref, Reference(type, bits, w, kHeight))) << what;
      }
    }
}

TEST(ImageWriters, RefusedInputsMakeNoFile) {
  CDibImage src;
  ASSERT_TRUE(MakePattern(&src, 20, 10, 24));
  const std::string name = OutDir() + "refused.bmp";
  DeleteFileA(name.c_str());
  EXPECT_EQ(output::SaveImageFile(name.c_str(), &src, 7), 0);
  EXPECT_EQ(output::SaveImageFile(name.c_str(), &src, -1), 0);
  EXPECT_FALSE(Exists(name));
  for (int type = 0; type <= 6; ++type) {
    CDibImage empty;
    EXPECT_EQ(output::SaveImageFile(name.c_str(), &empty, type), 0) << type;
    EXPECT_EQ(output::SaveImageFile(name.c_str(), nullptr, type), 0) << type;
    EXPECT_EQ(output::SaveImageFile(nullptr, &src, type), 0) << type;
    EXPECT_EQ(output::SaveImageFile((OutDir() + "no such folder\\x.img").c_str(), &src, type), 0);
  }
  EXPECT_FALSE(Exists(name));
}

TEST(ImageWriters, FailingWritesReportFailure) {
  CDibImage src, large;
  ASSERT_TRUE(MakePattern(&src, 94, 60, 24));
  // Written in several pieces: a failure after the first pieces went out.
  ASSERT_TRUE(MakePattern(&large, 750, 200, 48));
  const std::string name = OutDir() + "failing.out";
  // No room at all, room for part of the header, room for half the file, and for the large
  // picture three quarters of it.
  for (int part : {0, 1, 2, 3})
    for (int type = 0; type <= 6; ++type) {
      const CDibImage& pic = part == 3 ? large : src;
      ASSERT_EQ(output::SaveImageFile(name.c_str(), &pic, type), 1);
      const int64_t whole = static_cast<int64_t>(ReadAll(name).size());
      const int64_t budget = part == 0 ? 0 : part == 1 ? 20 : part == 2 ? whole / 2 : whole * 3 / 4;
      CDataFile::SetWriteBudgetForTest(budget);
      const int result = output::SaveImageFile(name.c_str(), &pic, type);
      CDataFile::SetWriteBudgetForTest(-1);
      EXPECT_EQ(result, 0) << "type " << type << " budget " << budget << " of " << whole;
      // The file was closed: it can be opened without sharing.
      HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_NE(h, INVALID_HANDLE_VALUE) << type;
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  // A device that is always full, when Wine opens it.
  CDataFile probe;
  if (probe.OpenForWrite("Z:\\dev\\full")) {
    probe.Close();
    for (int type = 0; type <= 6; ++type)
      EXPECT_EQ(output::SaveImageFile("Z:\\dev\\full", &src, type), 0) << type;
  }
}

TEST(ImageWriters, JpegFatalErrorReturnsZeroWithTheFileClosed) {
  CDibImage wide;
  ASSERT_EQ(wide.Create(70000, 1, 8), 1);
  const std::string name = OutDir() + "too_wide.jpg";
  EXPECT_EQ(output::SaveImageFile(name.c_str(), &wide, output::kFileJpeg70), 0);
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  // The writer is usable again afterwards.
  CDibImage small;
  ASSERT_TRUE(MakePattern(&small, 16, 16, 8));
  EXPECT_EQ(output::SaveImageFile(name.c_str(), &small, output::kFileJpeg70), 1);
}

TEST(ImageWriters, OverwritingAShorterFileLeavesNoTail) {
  CDibImage big, small;
  ASSERT_TRUE(MakePattern(&big, 200, 100, 24));
  ASSERT_TRUE(MakePattern(&small, 10, 10, 8));
  const std::string name = OutDir() + "overwrite.raw";
  ASSERT_EQ(output::SaveImageFile(name.c_str(), &big, output::kFileRaw), 1);
  ASSERT_EQ(output::SaveImageFile(name.c_str(), &small, output::kFileRaw), 1);
  EXPECT_EQ(ReadAll(name).size(), 10u * 12u);
}
