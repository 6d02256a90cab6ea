// The configuration-file loader and the stored registry settings fed mutated valid inputs and
// random bytes (seeded; QELVAN_SEED repeats a run). Nothing may crash; a readable file always
// loads; an instance opened over bad settings keeps its geometry and modes inside the camera's
// limits, and either previews or refuses, and stops promptly.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "reliability/reliability.h"

namespace {

uint32_t SeedFromEnvironment() {
  const char* seed = std::getenv("QELVAN_SEED");
  const uint32_t s = seed ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)) : GetTickCount() | 1;
  std::printf("input files: seed %u\n", s);
  std::fflush(stdout);
  return s;
}

struct Rng {
  uint32_t s;
  uint32_t Next() {
    s ^= s << 13, s ^= s >> 17, s ^= s << 5;
    return s;
  }
  int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }
  bool OneIn(int n) { return Next() % n == 0; }
  int Int() {
    static const int kEdges[] = {0, 1, -1, 2, 3, 7, 8, 16, INT_MIN, INT_MAX, 255, 256, 65535, 752, 753, 480, 481, 100};
    switch (Next() % 4) {
      case 0: return kEdges[Next() % std::size(kEdges)];
      case 1: return Range(-1000, 1000);
      default: return static_cast<int>(Next());
    }
  }
};

bool WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// A configuration file: whole records, then cut, flipped, extended or replaced by noise.
std::vector<uint8_t> ConfigCase(Rng& r) {
  std::vector<uint8_t> f(8 * r.Range(0, 64));
  for (uint8_t& b : f) b = static_cast<uint8_t>(r.Next());
  switch (r.Next() % 6) {
    case 0: f.resize(r.Range(0, static_cast<int>(f.size()))); break;  // cut anywhere
    case 1: for (int i = r.Range(1, 8); i > 0 && !f.empty(); --i) f[r.Next() % f.size()] ^= 1u << r.Range(0, 7); break;
    case 2: f.resize(f.size() + r.Range(1, 7), 0xFF); break;           // a partial record at the end
    case 3: f.assign(r.Range(0, 7), 0x5A); break;                     // shorter than one record
    case 4: f.resize(r.OneIn(20) ? 1 << 20 : r.Range(0, 65536)); for (uint8_t& b : f) b = static_cast<uint8_t>(r.Next()); break;
    default: break;                                                     // valid as it is
  }
  return f;
}

class InputFiles : public Acquisition {};

TEST_F(InputFiles, ConfigurationFilesMutatedAndRandom) {
  const int cases = Scaled(300, 5000);
  Rng r{SeedFromEnvironment()};
  CreateDirectoryA("reliability_out", nullptr);
  int loaded = 0, refused = 0;
  for (int i = 0; i < cases; ++i) {
    const std::string name = "reliability_out\\config" + std::to_string(i % 2) + ".bin";
    const std::vector<uint8_t> bytes = ConfigCase(r);
    ASSERT_TRUE(WriteBytes(name, bytes));
    SCOPED_TRACE("case " + std::to_string(i) + ", " + std::to_string(bytes.size()) + " bytes");
    if (r.OneIn(10)) {
      // A file another program holds without sharing cannot be read: refused, nothing else.
      HANDLE held = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
      EXPECT_EQ(Qelvan_LoadConfigFileA(h_, name.c_str()), 0);
      CloseHandle(held);
      ++refused;
    } else if (r.OneIn(8)) {
      // Two threads loading two files into one instance at once (one file cannot be read by
      // both: the loader opens it without sharing).
      const std::string second = name + ".2";
      ASSERT_TRUE(WriteBytes(second, ConfigCase(r)));
      int other = -1;
      std::thread t([&] { other = Qelvan_LoadConfigFileA(h_, second.c_str()); });
      EXPECT_EQ(Qelvan_LoadConfigFileW(h_, std::wstring(name.begin(), name.end()).c_str()), 1);
      t.join();
      EXPECT_EQ(other, 1);
      loaded += 2;
    } else {
      EXPECT_EQ(Qelvan_LoadConfigFileA(h_, name.c_str()), 1);
      ++loaded;
    }
  }
  // A folder is no file.
  EXPECT_EQ(Qelvan_LoadConfigFileA(h_, "reliability_out"), 0);
  // The instance still works after all of it.
  std::vector<uint8_t> buffer(kFrameBytes);
  ASSERT_EQ(Qelvan_CallBackPreview(h_, window_.hwnd(), buffer.data(), kFrameBytes, 1), 1);
  EXPECT_TRUE(WaitFrames(2));
  EXPECT_EQ(Qelvan_StopPreview(h_), 1);
  Figure("config files: " + std::to_string(cases) + " mutated and random files, " + std::to_string(loaded) +
         " loads, " + std::to_string(refused) + " held files refused, 0 crashes");
}

// One stored value: its key under the camera key ("" for the camera key itself) and name.
struct Stored {
  const char* key;
  const char* name;
  DWORD good;
};

const Stored kStored[] = {
    {"", "Size", 0}, {"", "Color", 2}, {"", "SubSample", 0}, {"", "WaitTime", 1}, {"", "Clock", 2},
    {"Size_00", "TH", 752}, {"Size_00", "TV", 480}, {"Size_00", "EH", 752}, {"Size_00", "EV", 480},
    {"Size_00", "EHS", 0}, {"Size_00", "EVS", 0}, {"Size_00", "Buf", 4},
    {"Size_01", "TH", 752}, {"Size_01", "TV", 480}, {"Size_01", "EH", 320}, {"Size_01", "EV", 240},
    {"Size_01", "EHS", 16}, {"Size_01", "EVS", 8}, {"Size_01", "Buf", 4},
    {"Gain", "Global", 16}, {"Gain", "ColorG1", 0}, {"Gain", "ColorR", 0}, {"Gain", "ColorB", 0},
    {"Gain", "ColorG2", 0}, {"Gain", "Exposure", 480}, {"Gain", "V_Mirror", 0}, {"Gain", "H_Mirror", 0},
    {"Gain", "AutoIris", 0},
    {"Filter", "Brightness", 0}, {"Filter", "Contrast", 0}, {"Filter", "Hue", 0}, {"Filter", "Saturation", 0},
    {"Filter", "Sharpness", 0}, {"Filter", "R_Gain", 100}, {"Filter", "G_Gain", 100}, {"Filter", "B_Gain", 100},
    {"Filter", "Gamma", 100}, {"Filter", "BayerMode", 2},
    {"Gray", "Mode", 0}, {"Gray", "GainR1", 128}, {"Gray", "GainG1", 128}, {"Gray", "GainG2", 128},
    {"Gray", "GainB1", 128}, {"Gray", "OffsetR1", 0}, {"Gray", "OffsetG1", 0}, {"Gray", "OffsetG2", 0},
    {"Gray", "OffsetB1", 0},
};
constexpr const char* kCameraKey = "Software\\Dovira\\QelvanZ51QK2RVNSdk\\Camera_00";

// Writes a valid set of stored settings, then spoils some: out-of-range and random numbers,
// wrong types and lengths, missing values and keys. Returns a description of what it spoiled.
std::string StoreSpoiledSettings(Rng& r) {
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
  const int spoil = r.Range(1, 6);
  std::string what;
  for (const Stored& v : kStored) {
    const std::string path = std::string(kCameraKey) + (*v.key ? "\\" : "") + v.key;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) continue;
    DWORD value = v.good;
    if (r.Range(0, static_cast<int>(std::size(kStored)) - 1) < spoil) {
      what += std::string(" ") + v.key + "/" + v.name;
      switch (r.Next() % 8) {
        case 0: {
          const char text[] = "not a number";
          RegSetValueExA(key, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
          what += "=text";
          RegCloseKey(key);
          continue;
        }
        case 1: {
          const BYTE shortValue[3] = {0xFF, 0xFF, 0xFF};
          const DWORD len = static_cast<DWORD>(r.Range(0, 3));
          RegSetValueExA(key, v.name, 0, REG_BINARY, shortValue, len);
          what += "=" + std::to_string(len) + " bytes";
          RegCloseKey(key);
          continue;
        }
        case 2:
          what += "=missing";
          RegCloseKey(key);
          continue;
        default:
          value = static_cast<DWORD>(r.Int());
          what += "=" + std::to_string(static_cast<int>(value));
      }
    }
    RegSetValueExA(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
  }
  if (r.OneIn(8)) {
    static const char* const kSubkeys[] = {"Gain", "Filter", "Gray", "Size_00"};
    const char* gone = kSubkeys[r.Next() % std::size(kSubkeys)];
    RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kCameraKey) + "\\" + gone).c_str());
    what += std::string(" no ") + gone;
  }
  return what;
}

TEST_F(InputFiles, StoredSettingsMutatedAndRandom) {
  // Each case opens the camera (sensor set-up takes a few hundred milliseconds): a few dozen
  // here, as many as the time allows under soak.
  const int cases = StressSeconds() > 0 ? INT_MAX : 8;
  const DWORD budgetMs = StressSeconds() > 0 ? static_cast<DWORD>(StressSeconds()) * 1000 : 0;
  Rng r{SeedFromEnvironment()};
  ASSERT_EQ(Qelvan_Release(h_), 1);
  opened_.clear();
  std::vector<uint8_t> buffer(kFrameBytes);
  int previewed = 0, refused = 0, run = 0;
  DWORD slowestStop = 0;
  const DWORD began = GetTickCount();
  for (; run < cases && (!budgetMs || GetTickCount() - began < budgetMs); ++run) {
    const std::string what = StoreSpoiledSettings(r);
    SCOPED_TRACE("case " + std::to_string(run) + ":" + what);
    const QelvanHandle h = Qelvan_Initialize(window_.hwnd());
    ASSERT_NE(h, 0);
    // Whatever was stored, what the instance holds stays inside the camera.
    int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0;
    Qelvan_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev);
    EXPECT_TRUE(eh >= 1 && ehs >= 0 && ehs + eh <= 752 && ev >= 1 && evs >= 0 && evs + ev <= 480)
        << eh << "x" << ev << " at " << ehs << "," << evs;
    EXPECT_TRUE(Qelvan_Width(h) >= 1 && Qelvan_Width(h) <= 752 && Qelvan_Height(h) >= 1 && Qelvan_Height(h) <= 480);
    const int colour = Qelvan_GetColorMode(h);
    EXPECT_TRUE(colour == 8 || colour == 10 || colour == 24 || colour == 32 || colour == 42 || colour == 58) << colour;
    EXPECT_GE(Qelvan_GetWaitTime(h), 0);
    // It previews or refuses, and stops promptly either way.
    seen_.clear();
    if (Qelvan_CallBackPreview(h, window_.hwnd(), buffer.data(), kFrameBytes, 1) == 1) {
      if (WaitMessage([](const CameraMessage& m) { return m.message == WM_CAMERA_FRAME; }, 15000)) ++previewed;
    } else {
      ++refused;
    }
    const DWORD start = GetTickCount();
    EXPECT_EQ(Qelvan_StopPreview(h), 1);
    slowestStop = std::max(slowestStop, GetTickCount() - start);
    EXPECT_LT(GetTickCount() - start, 3000u + 15000u);
    ASSERT_EQ(Qelvan_Release(h), 1);
    ASSERT_TRUE(HandlesSettleAt(0)) << CameraHandles() << " driver handles left open";
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(previewed, 0);
  Figure("stored settings: " + std::to_string(run) + " spoiled setting sets, " + std::to_string(previewed) +
         " previewed, " + std::to_string(refused) + " refused, slowest stop " + std::to_string(slowestStop) +
         " ms, 0 crashes");
}

}  // namespace

namespace {

// Stored values far out of range (all at once, high and then low): each is refused or
// clamped at open. An empty stored window used to be taken as the capture window.
class StoredExtremes : public Acquisition {};

TEST_F(StoredExtremes, CameraValuesRefusedOrClamped) {
  ASSERT_EQ(Qelvan_Release(h_), 1);
  opened_.clear();
  struct Value {
    const char* key;
    const char* name;
    int value;
  };
  const std::vector<Value> variants[] = {
      {{"", "Color", 99}, {"", "SubSample", 77}, {"", "WaitTime", -1}, {"", "Clock", 1234}, {"Size_00", "EH", 0}},
      {{"", "Color", -1}, {"", "SubSample", INT_MIN}, {"", "WaitTime", INT_MIN}, {"", "Clock", -5}, {"", "Size", 99},
       {"Size_00", "EV", 0}},
  };
  std::vector<uint8_t> buffer(kFrameBytes);
  for (const std::vector<Value>& variant : variants) {
    SCOPED_TRACE(std::string("variant with Color ") + std::to_string(variant[0].value));
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
    const QelvanHandle first = Qelvan_Initialize(window_.hwnd());  // stores the first-run values
    ASSERT_NE(first, 0);
    ASSERT_EQ(Qelvan_Release(first), 1);
    for (const Value& v : variant) {
      HKEY key;
      const std::string path = std::string(kCameraKey) + (*v.key ? "\\" : "") + v.key;
      ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key), 0) << path;
      RegSetValueExA(key, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.value), sizeof v.value);
      RegCloseKey(key);
    }
    const QelvanHandle h = Qelvan_Initialize(window_.hwnd());
    ASSERT_NE(h, 0);
    const int colour = Qelvan_GetColorMode(h);
    EXPECT_TRUE(colour == 8 || colour == 10 || colour == 24 || colour == 32 || colour == 42 || colour == 58) << colour;
    EXPECT_GE(Qelvan_GetWaitTime(h), 0);
    EXPECT_TRUE(Qelvan_GetSubSample(h) >= 0 && Qelvan_GetSubSample(h) <= 19) << Qelvan_GetSubSample(h);
    EXPECT_TRUE(Qelvan_Width(h) >= 1 && Qelvan_Height(h) >= 1) << Qelvan_Width(h) << "x" << Qelvan_Height(h);
    seen_.clear();
    ASSERT_EQ(Qelvan_CallBackPreview(h, window_.hwnd(), buffer.data(), kFrameBytes, 1), 1);
    EXPECT_TRUE(WaitFrames(1, 10000));
    const DWORD start = GetTickCount();
    EXPECT_EQ(Qelvan_StopPreview(h), 1);
    EXPECT_LT(GetTickCount() - start, 3000u + 15000u);
    ASSERT_EQ(Qelvan_Release(h), 1);
  }
}

}  // namespace
