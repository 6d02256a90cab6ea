// qelvan-capture: command-line capture sample for the Qelvan camera library.
//
//   qelvan-capture list
//   qelvan-capture info   [options]
//   qelvan-capture snap   [options] FILE         (format from the extension or --format)
//   qelvan-capture record [options] --seconds N FILE.avi
//   qelvan-capture stream [options] --seconds N
//
// Built like any application: QelvanSdk.h and the import library, nothing else.
#include <windows.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QelvanSdk.h"

namespace {

// Exit codes, also listed by --help.
enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kCamera = 3, kFile = 4, kInterrupted = 130 };

const int kSensorWidth = 752;
const int kSensorHeight = 480;

const char* ErrorName(int code) {
  switch (code) {
    case ERR_NOT_READY: return "ERR_NOT_READY";
    case ERR_DEVICE_UNAVAILABLE: return "ERR_DEVICE_UNAVAILABLE";
    case ERR_THREAD: return "ERR_THREAD";
    case ERR_WINDOW: return "ERR_WINDOW";
    case ERR_MEMORY: return "ERR_MEMORY";
    case ERR_DEVICE_IO: return "ERR_DEVICE_IO";
    case ERR_GEOMETRY: return "ERR_GEOMETRY";
    case ERR_TRANSFER: return "ERR_TRANSFER";
    case ERR_ARGUMENT: return "ERR_ARGUMENT";
    case ERR_NOT_SUPPORTED: return "ERR_NOT_SUPPORTED";
    case ERR_FILE: return "ERR_FILE";
    case ERR_DEVICE_LOST: return "ERR_DEVICE_LOST";
    default: return "unknown error";
  }
}

void Fail(const char* format, ...) {
  std::fputs("qelvan-capture: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Takes every error code the camera instance recorded, newest first, as "ERR_A, ERR_B (codes 2, 1)".
std::string DrainErrors(QelvanHandle h) {
  std::string names, codes;
  for (int i = 0, code; i < 20 && (code = Qelvan_GetLastError(h)) != 0; ++i) {
    if (!names.empty()) {
      names += ", ";
      codes += ", ";
    }
    names += ErrorName(code);
    codes += std::to_string(code);
  }
  if (names.empty()) return "no error code recorded";
  return names + " (code " + codes + ")";
}

// ---------------------------------------------------------------------------------------------
// Command line

struct Range {
  long low, high;
};

struct Options {
  std::string command;
  std::string file;
  int camera = 0;
  bool hasWindow = false;
  int window[4] = {0, 0, 0, 0};  // x, y, width, height
  int subSample = -1;
  int colourMode = 0;  // bits per pixel; 0 = keep
  long exposureUs = -1;
  int gain = -1;
  int bayerMode = -1;
  int format = -1;  // QELVAN_FILE_*
  int seconds = 0;
  // Software filters, by filter number; set only when given.
  struct Filter {
    const char* option;
    int number;
    Range range;
    bool given;
    int value;
  };
  std::vector<Filter> filters = {
      {"--brightness", 1, {-255, 255}, false, 0}, {"--contrast", 2, {-127, 127}, false, 0},
      {"--hue", 3, {-360, 360}, false, 0},        {"--saturation", 4, {-255, 255}, false, 0},
      {"--sharpness", 5, {0, 30}, false, 0},      {"--gamma", 11, {0, 200}, false, 100},
  };
};

void Usage(FILE* out) {
  std::fputs(
      "usage: qelvan-capture COMMAND [options] [FILE]\n"
      "commands:\n"
      "  list                    cameras with number, name, busy or free\n"
      "  info                    camera information and current settings\n"
      "  snap FILE               one frame to FILE (.bmp .raw .jpg .png .tif)\n"
      "  record --seconds N FILE record an AVI file for N seconds\n"
      "  stream --seconds N      receive frames for N seconds and report the rate\n"
      "options:\n"
      "  --camera N              camera number 0..31 (default 0)\n"
      "  --window X,Y,W,H        capture window on the 752 x 480 sensor\n"
      "  --subsample M           0 full, 1 half, 2 quarter\n"
      "  --colour-mode C         bits per pixel: 8, 16, 24, 32, 48 or 64\n"
      "  --exposure-us N         exposure time in microseconds\n"
      "  --gain N                global gain\n"
      "  --bayer-mode N          Bayer phase 0..3\n"
      "  --brightness N (-255..255)  --contrast N (-127..127)  --gamma N (0..200, 100 neutral)\n"
      "  --hue N (-360..360)  --saturation N (-255..255)  --sharpness N (0..30)\n"
      "  --format bmp|raw|jpeg|png|tiff   file format for snap (default: from the extension)\n"
      "  --seconds N             duration for record and stream (1..86400)\n"
      "exit codes: 0 ok, 1 failed, 2 bad command line, 3 camera error, 4 file error,\n"
      "            130 interrupted (Ctrl+C; a recording is finished and kept)\n",
      out);
}

// Parses a whole decimal integer (optional sign); no trailing characters.
bool ParseInt(const char* text, long* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || end == text) return false;
  *value = v;
  return true;
}

bool ParseRanged(const char* option, const char* text, Range range, long* value) {
  long v;
  if (!ParseInt(text, &v)) {
    Fail("%s needs a whole number, got '%s'", option, text ? text : "");
    return false;
  }
  if (v < range.low || v > range.high) {
    Fail("%s %ld is out of range (%ld..%ld)", option, v, range.low, range.high);
    return false;
  }
  *value = v;
  return true;
}

bool ParseWindow(const char* text, int window[4]) {
  long v[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    const char* comma = std::strchr(p, ',');
    std::string part = comma ? std::string(p, comma - p) : std::string(p);
    if (!ParseInt(part.c_str(), &v[i]) || (i < 3 && !comma) || (i == 3 && comma)) {
      Fail("--window needs X,Y,W,H (four whole numbers), got '%s'", text);
      return false;
    }
    p = comma ? comma + 1 : p;
  }
  if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1 || v[0] + v[2] > kSensorWidth ||
      v[1] + v[3] > kSensorHeight) {
    Fail("--window %s does not fit the %d x %d sensor", text, kSensorWidth, kSensorHeight);
    return false;
  }
  for (int i = 0; i < 4; ++i) window[i] = static_cast<int>(v[i]);
  return true;
}

int FormatFromName(const std::string& name) {
  const char* names[] = {"bmp", "raw", "jpeg", "jpg", "png", "tiff", "tif"};
  const int codes[] = {QELVAN_FILE_BMP,  QELVAN_FILE_RAW, QELVAN_FILE_JPEG, QELVAN_FILE_JPEG,
                       QELVAN_FILE_PNG,  QELVAN_FILE_TIFF, QELVAN_FILE_TIFF};
  for (int i = 0; i < 7; ++i)
    if (_stricmp(name.c_str(), names[i]) == 0) return codes[i];
  return -1;
}

int FormatFromExtension(const std::string& file) {
  const size_t dot = file.find_last_of('.');
  const size_t slash = file.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return -1;
  return FormatFromName(file.substr(dot + 1));
}

// Returns kOk, or the exit code after printing why the command line is wrong.
int ParseCommandLine(int argc, char** argv, Options* o) {
  if (argc < 2) {
    Usage(stderr);
    return kUsage;
  }
  o->command = argv[1];
  if (o->command == "--help" || o->command == "-h" || o->command == "help") {
    Usage(stdout);
    o->command = "help";
    return kOk;
  }
  if (o->command != "list" && o->command != "info" && o->command != "snap" &&
      o->command != "record" && o->command != "stream") {
    Fail("unknown command '%s' (list, info, snap, record or stream; --help for more)",
         o->command.c_str());
    return kUsage;
  }
  std::string formatName;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.compare(0, 2, "--") != 0) {
      if (!o->file.empty()) {
        Fail("unexpected argument '%s'", argv[i]);
        return kUsage;
      }
      o->file = arg;
      continue;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need = [&]() {
      if (!value) Fail("%s needs a value", arg.c_str());
      return value != nullptr;
    };
    long v = 0;
    bool known = true, ok = true;
    if (arg == "--camera") {
      ok = need() && ParseRanged("--camera", value, {0, 31}, &v);
      o->camera = static_cast<int>(v);
    } else if (arg == "--window") {
      ok = need() && ParseWindow(value, o->window);
      o->hasWindow = true;
    } else if (arg == "--subsample") {
      ok = need() && ParseRanged("--subsample", value, {0, 2}, &v);
      o->subSample = static_cast<int>(v);
    } else if (arg == "--colour-mode" || arg == "--color-mode") {
      ok = need() && ParseRanged(arg.c_str(), value, {8, 64}, &v);
      if (ok && v != 8 && v != 16 && v != 24 && v != 32 && v != 48 && v != 64) {
        Fail("%s %ld is not one of 8, 16, 24, 32, 48, 64", arg.c_str(), v);
        ok = false;
      }
      o->colourMode = static_cast<int>(v);
    } else if (arg == "--exposure-us") {
      ok = need() && ParseRanged("--exposure-us", value, {1, 10000000}, &v);
      o->exposureUs = v;
    } else if (arg == "--gain") {
      ok = need() && ParseRanged("--gain", value, {0, 63}, &v);
      o->gain = static_cast<int>(v);
    } else if (arg == "--bayer-mode") {
      ok = need() && ParseRanged("--bayer-mode", value, {0, 3}, &v);
      o->bayerMode = static_cast<int>(v);
    } else if (arg == "--format") {
      ok = need();
      if (ok) {
        formatName = value;
        o->format = FormatFromName(formatName);
        if (o->format < 0) {
          Fail("--format '%s' is not one of bmp, raw, jpeg, png, tiff", value);
          ok = false;
        }
      }
    } else if (arg == "--seconds") {
      ok = need() && ParseRanged("--seconds", value, {1, 86400}, &v);
      o->seconds = static_cast<int>(v);
    } else {
      known = false;
      for (auto& f : o->filters) {
        if (arg != f.option) continue;
        known = true;
        ok = need() && ParseRanged(f.option, value, f.range, &v);
        f.given = true;
        f.value = static_cast<int>(v);
      }
    }
    if (!known) {
      Fail("unknown option '%s' (--help lists the options)", arg.c_str());
      return kUsage;
    }
    if (!ok) return kUsage;
    ++i;  // every option takes one value
  }

  const bool wantsFile = o->command == "snap" || o->command == "record";
  if (wantsFile && o->file.empty()) {
    Fail("%s needs an output file", o->command.c_str());
    return kUsage;
  }
  if (!wantsFile && !o->file.empty()) {
    Fail("%s takes no file argument ('%s')", o->command.c_str(), o->file.c_str());
    return kUsage;
  }
  if ((o->command == "record" || o->command == "stream") && o->seconds == 0) {
    Fail("%s needs --seconds N", o->command.c_str());
    return kUsage;
  }
  if (o->command == "snap" && o->format < 0) {
    o->format = FormatFromExtension(o->file);
    if (o->format < 0) {
      Fail("cannot tell the format of '%s': use .bmp, .raw, .jpg, .png or .tif, or --format",
           o->file.c_str());
      return kUsage;
    }
  }
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Files: the library writes to a temporary name next to the target, which is renamed only once
// the file is complete, so a failure never leaves a partial file behind.

std::string SystemMessage(DWORD error) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                 sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  if (s.empty()) s = "system error " + std::to_string(error);
  return s;
}

std::string TempName(const std::string& file) { return file + ".partial"; }

// Checks that the target can be written by creating and removing the temporary file.
bool CheckWritable(const std::string& file) {
  const DWORD attributes = GetFileAttributesA(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail("cannot write '%s': it is a folder", file.c_str());
    return false;
  }
  const std::string temp = TempName(file);
  HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail("cannot write '%s': %s", file.c_str(), SystemMessage(GetLastError()).c_str());
    return false;
  }
  CloseHandle(h);
  DeleteFileA(temp.c_str());
  return true;
}

bool Commit(const std::string& file) {
  if (!MoveFileExA(TempName(file).c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    Fail("cannot write '%s': %s", file.c_str(), SystemMessage(GetLastError()).c_str());
    DeleteFileA(TempName(file).c_str());
    return false;
  }
  return true;
}

long long FileSize(const std::string& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// ---------------------------------------------------------------------------------------------
// Cameras

// Owns one camera instance.
class Camera {
 public:
  Camera() : h_(Qelvan_Initialize(nullptr)) {}
  ~Camera() {
    if (h_) Qelvan_Release(h_);
  }
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;
  QelvanHandle handle() const { return h_; }

 private:
  QelvanHandle h_;
};

// Reports a failed library call with the error codes it recorded; returns kCamera.
int LibraryFailure(QelvanHandle h, const char* what) {
  Fail("%s failed: %s", what, DrainErrors(h).c_str());
  return kCamera;
}

// Selects the camera, refusing clearly when it is missing. A busy camera is refused when
// acquisition starts (StartFailure).
int SelectCamera(QelvanHandle h, int number) {
  char name[256] = "";
  if (!Qelvan_GetDeviceName(h, number, name, sizeof name)) {
    const std::string errors = DrainErrors(h);
    char names[10][256] = {};
    const int found = Qelvan_EnumDevice(h, names);
    DrainErrors(h);
    if (found == 0 && errors.find("ERR_DEVICE_UNAVAILABLE") != std::string::npos)
      Fail("no camera found");
    else if (errors.find("ERR_DEVICE_UNAVAILABLE") != std::string::npos)
      Fail("no camera at number %d (%d attached; 'qelvan-capture list' shows them)", number, found);
    else
      Fail("camera %d cannot be opened: %s", number, errors.c_str());
    return kCamera;
  }
  if (number != 0 && !Qelvan_SetDeviceNumber(h, number)) return LibraryFailure(h, "selecting the camera");
  return kOk;
}

// Whether another program streams from the camera, as the library judges it (a claim left by a
// program that ended does not count): entering capture mode runs the library's busy test and
// starts nothing. Selects the camera on h.
bool CameraBusy(QelvanHandle h, int number) {
  if (!Qelvan_SetDeviceNumber(h, number)) {
    DrainErrors(h);
    return false;
  }
  const bool entered = Qelvan_Capture(h) != 0;
  const std::string errors = DrainErrors(h);
  if (entered) Qelvan_StopPreview(h);
  DrainErrors(h);
  return !entered && errors.find("ERR_DEVICE_UNAVAILABLE") != std::string::npos;
}

// Applies the settings given on the command line, in the order the camera needs them:
// geometry and colour type first, then what depends on them (exposure in time units).
int ApplySettings(QelvanHandle h, const Options& o) {
  if (o.colourMode && !Qelvan_SetColorMode(h, o.colourMode)) return LibraryFailure(h, "--colour-mode");
  if (o.subSample >= 0 && !Qelvan_SetSubSample(h, o.subSample)) return LibraryFailure(h, "--subsample");
  if (o.hasWindow &&
      !Qelvan_SetCaptureWindowEx(h, kSensorWidth, o.window[0], o.window[2], kSensorHeight, o.window[1],
                                 o.window[3]))
    return LibraryFailure(h, "--window");
  if (o.gain >= 0) {
    QelvanCameraInfo info = {};
    info.size = sizeof info;
    if (Qelvan_GetCameraInfo(h, &info) && (o.gain < info.globalGainMin || o.gain > info.globalGainMax)) {
      Fail("--gain %d is out of range (%d..%d)", o.gain, info.globalGainMin, info.globalGainMax);
      return kUsage;
    }
    DrainErrors(h);
    if (!Qelvan_SetGlobalGain(h, o.gain)) return LibraryFailure(h, "--gain");
  }
  if (o.exposureUs >= 0 && !Qelvan_SetRealExposureTime(h, static_cast<int>(o.exposureUs)))
    return LibraryFailure(h, "--exposure-us");
  if (o.bayerMode >= 0 && !Qelvan_SetBayerMode(h, o.bayerMode)) return LibraryFailure(h, "--bayer-mode");
  for (const auto& f : o.filters)
    if (f.given && !Qelvan_SetFilterValue(h, f.number, f.value)) return LibraryFailure(h, f.option);
  return kOk;
}

int OpenCamera(const Camera& camera, const Options& o) {
  if (!camera.handle()) {
    Fail("the camera library could not create a camera instance");
    return kCamera;
  }
  const int rc = SelectCamera(camera.handle(), o.camera);
  return rc != kOk ? rc : ApplySettings(camera.handle(), o);
}

// The start of acquisition reports a busy or missing camera as ERR_DEVICE_UNAVAILABLE; a camera
// that still answers to its name is busy.
int StartFailure(QelvanHandle h, int number, const char* what) {
  const std::string errors = DrainErrors(h);
  char name[256] = "";
  if (errors.find("ERR_DEVICE_UNAVAILABLE") == std::string::npos) {
    Fail("%s failed: %s", what, errors.c_str());
  } else if (Qelvan_GetDeviceName(h, number, name, sizeof name)) {
    Fail("%s failed: camera %d (%s) is busy: another program is using it (%s)", what, number, name,
         errors.c_str());
  } else {
    DrainErrors(h);
    Fail("%s failed: camera %d is gone (%s)", what, number, errors.c_str());
  }
  return kCamera;
}

// ---------------------------------------------------------------------------------------------
// Commands

int List() {
  Camera camera;
  if (!camera.handle()) {
    Fail("the camera library could not create a camera instance");
    return kCamera;
  }
  const QelvanHandle h = camera.handle();
  char names[10][256] = {};
  const int found = Qelvan_EnumDevice(h, names);
  if (found == 0) {
    const std::string errors = DrainErrors(h);
    if (errors != "no error code recorded") {
      Fail("cannot list cameras: %s", errors.c_str());
      return kCamera;
    }
    Fail("no camera found");
    return kCamera;
  }
  std::printf("%-6s %-20s %s\n", "number", "name", "state");
  int listed = 0;
  for (int number = 0; number < 32; ++number) {
    char name[256] = "";
    if (!Qelvan_GetDeviceName(h, number, name, sizeof name)) continue;
    std::printf("%-6d %-20s %s\n", number, name, CameraBusy(h, number) ? "busy" : "free");
    ++listed;
  }
  DrainErrors(h);  // the numbers without a camera
  std::printf("%d camera%s\n", listed, listed == 1 ? "" : "s");
  return kOk;
}

const char* ColourModeText(int reported) {
  switch (reported) {
    case 8: return "8-bit monochrome";
    case 10: return "10-bit monochrome (16 bits per pixel)";
    case 24: return "24-bit colour";
    case 32: return "32-bit colour";
    case 42: return "48-bit colour (10 bits per sample)";
    case 58: return "64-bit colour (10 bits per sample)";
    default: return "unknown";
  }
}

const char* ClockText(int clock) {
  switch (clock) {
    case 1: return "12 MHz";
    case 2: return "48 MHz";
    case 3: return "40 MHz";
    case 4: return "20 MHz";
    case 5: return "10 MHz";
    default: return "24 MHz";
  }
}

int Info(const Options& o) {
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();
  char name[256] = "";
  Qelvan_GetDeviceName(h, o.camera, name, sizeof name);
  const int version = Qelvan_GetDllVersion();
  std::printf("library version  %d.%d.%d.%d\n", (version >> 24) & 0xFF, (version >> 16) & 0xFF,
              (version >> 8) & 0xFF, version & 0xFF);
  std::printf("camera           %d  %s\n", o.camera, name);
  QelvanCameraInfo info = {};
  info.size = sizeof info;
  if (!Qelvan_GetCameraInfo(h, &info)) return LibraryFailure(h, "Qelvan_GetCameraInfo");
  std::printf("sensor           %d x %d\n", info.width, info.height);
  int th, ehs, eh, tv, evs, ev;
  if (!Qelvan_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev))
    return LibraryFailure(h, "Qelvan_GetCaptureWindowEx");
  std::printf("window           %d x %d at %d, %d\n", eh, ev, ehs, evs);
  std::printf("sub-sampling     %d\n", Qelvan_GetSubSample(h));
  const int mode = Qelvan_GetColorMode(h);
  std::printf("colour mode      %d (%s)\n", mode, ColourModeText(mode));
  int ok = 0, unreadable = 0;
  const int clock = Qelvan_GetHalfClock(h, &ok);
  unreadable += !ok;
  std::printf("clock            %s\n", ok ? ClockText(clock) : "unreadable");
  const int lines = Qelvan_GetExposureTime(h, &ok);
  int okUs = 0;
  const int us = Qelvan_GetRealExposureTime(h, &okUs);
  if (ok && okUs)
    std::printf("exposure         %d lines, %d us (%d..%d lines)\n", lines, us, info.exposureMin,
                info.exposureMax);
  else
    std::printf("exposure         unreadable\n");
  unreadable += !ok || !okUs;
  struct {
    const char* label;
    int (*get)(QelvanHandle, int*);
  } gains[] = {{"global", Qelvan_GetGlobalGain},   {"red", Qelvan_GetColorGainRed},
               {"green1", Qelvan_GetColorGainGreen1}, {"green2", Qelvan_GetColorGainGreen2},
               {"blue", Qelvan_GetColorGainBlue}};
  std::printf("gains           ");
  for (const auto& g : gains) {
    const int value = g.get(h, &ok);
    if (ok)
      std::printf(" %s %d", g.label, value);
    else
      std::printf(" %s ?", g.label);
    unreadable += !ok;
  }
  std::printf("  (global %d..%d, colour %d..%d)\n", info.globalGainMin, info.globalGainMax,
              info.colorGainMin, info.colorGainMax);
  const int bayer = Qelvan_GetBayerMode(h, &ok);
  unreadable += !ok;
  if (ok)
    std::printf("bayer mode       %d\n", bayer);
  else
    std::printf("bayer mode       unreadable\n");
  if (unreadable) {
    Fail("%d value%s could not be read: %s", unreadable, unreadable == 1 ? "" : "s", DrainErrors(h).c_str());
    return kCamera;
  }
  return kOk;
}

// Bits per pixel of a colour mode as the library reports it (10-bit modes report 10, 42, 58).
int BitsPerPixel(int reported) {
  switch (reported) {
    case 10: return 16;
    case 42: return 48;
    case 58: return 64;
    default: return reported;
  }
}

int Snap(const Options& o) {
  if (!CheckWritable(o.file)) return kFile;
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();
  // The library stores 10-bit samples in 16-, 48- and 64-bit bitmaps, which common viewers
  // misread (16 bits as RGB555) or refuse: those depths go to formats that carry them.
  const int bits = BitsPerPixel(Qelvan_GetColorMode(h));
  if (o.format == QELVAN_FILE_BMP && (bits == 16 || bits == 48 || bits == 64)) {
    Fail("a %d-bit frame cannot be saved as a bitmap that viewers read correctly: use .png or .tif, "
         "or --colour-mode 8, 24 or 32 for .bmp",
         bits);
    return kUsage;
  }
  if (!Qelvan_SnapShot(h, nullptr, 0, 1)) return StartFailure(h, o.camera, "taking a frame");
  const std::string temp = TempName(o.file);
  if (!Qelvan_SaveImage(h, temp.c_str(), o.format)) {
    DeleteFileA(temp.c_str());
    Fail("cannot write '%s': the library could not save the frame (%s)", o.file.c_str(),
         DrainErrors(h).c_str());
    return kFile;
  }
  if (!Commit(o.file)) return kFile;
  const int shift = Qelvan_GetSubSample(h) > 0 ? Qelvan_GetSubSample(h) : 0;
  std::printf("snap: %d x %d, colour mode %d, %lld bytes to %s\n", Qelvan_Width(h) >> shift,
              Qelvan_Height(h) >> shift, Qelvan_GetColorMode(h), FileSize(o.file), o.file.c_str());
  return kOk;
}

bool OutputIsConsole() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// A bar, the seconds done, frames and rate: one console line redrawn in place, or into a file or
// pipe a plain line each second (and the final one), so logs hold no carriage returns.
void Progress(double done, int total, long frames, bool last = false) {
  static const bool console = OutputIsConsole();
  static int printedSecond = -1;
  if (!console) {
    const int second = static_cast<int>(done);
    if (!last && second == printedSecond) return;
    printedSecond = second;
  }
  const int width = 30;
  int filled = total > 0 ? static_cast<int>(done / total * width) : 0;
  if (filled > width) filled = width;
  char bar[width + 1];
  for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
  bar[width] = '\0';
  const double rate = done > 0 ? frames / done : 0.0;
  std::printf("%s[%s] %5.1f/%d s  %6ld frames  %5.1f fps%s", console ? "\r" : "", bar,
              done > total ? total : done, total, frames, rate, console ? "" : "\n");
  std::fflush(stdout);
}

// Ends a progress display: a newline after the line redrawn in place.
void ProgressDone() {
  if (OutputIsConsole()) std::printf("\n");
}

// Frame size of the recorded AVI: bottom-up 24-bit rows padded to 4 bytes.
long long AviFrameBytes(int width, int height) { return static_cast<long long>(height) * ((3 * width + 3) & ~3); }

// Reads count bytes at offset; false when the file is shorter.
bool ReadAt(HANDLE f, unsigned long long offset, void* bytes, DWORD count) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  return SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && ReadFile(f, bytes, count, &got, nullptr) &&
         got == count;
}

unsigned Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24; }

// The recording is complete once the library closed the file and wrote its sizes: a long
// recording is several RIFF chunks one after another (OpenDML), which together make the file.
bool AviFinished(const std::string& file) {
  HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;  // still held by the recorder
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(f, &size) != 0 && size.QuadPart > 0;
  unsigned long long at = 0;
  while (ok && at < static_cast<unsigned long long>(size.QuadPart)) {
    unsigned char head[12];
    ok = ReadAt(f, at, head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 && Le32(head + 4) != 0 &&
         std::memcmp(head + 8, at == 0 ? "AVI " : "AVIX", 4) == 0;
    at += 8ull + Le32(head + 4);
  }
  CloseHandle(f);
  return ok && at == static_cast<unsigned long long>(size.QuadPart);
}

struct AviSummary {
  long frames = -1;
  unsigned usPerFrame = 0;
  double Seconds() const { return frames > 0 ? frames * (usPerFrame / 1e6) : 0.0; }
};

// Frames in a finished AVI (the total of the extended header ("odml"/"dmlh") of a long
// recording, else the count in the main header) and the frame period of its main header.
AviSummary ReadAviSummary(const std::string& file) {
  AviSummary summary;
  HANDLE f = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return summary;
  unsigned char header[52];
  long& frames = summary.frames;
  if (ReadAt(f, 0, header, sizeof header)) {
    summary.usPerFrame = Le32(header + 32);
    frames = static_cast<long>(Le32(header + 48));
    // The header list's entries, from after "hdrl" to its end.
    const unsigned long long end = 20ull + Le32(header + 16);
    for (unsigned long long at = 24; at + 12 <= end;) {
      unsigned char chunk[24];
      if (!ReadAt(f, at, chunk, sizeof chunk)) break;
      if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "odml", 4) == 0 &&
          std::memcmp(chunk + 12, "dmlh", 4) == 0) {
        frames = static_cast<long>(Le32(chunk + 20));
        break;
      }
      at += 8ull + Le32(chunk + 4);
    }
  }
  CloseHandle(f);
  return summary;
}

// Ctrl+C, Ctrl+Break or the console closing during a recording: stop it so the library
// finishes the file.
volatile LONG g_interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&g_interrupted, 1);
  return TRUE;
}

int Record(const Options& o) {
  if (!CheckWritable(o.file)) return kFile;
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();
  const std::string temp = TempName(o.file);
  DrainErrors(h);  // only the recording's own errors count below
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  const DWORD started = GetTickCount();
  if (!Qelvan_Record(h, temp.c_str(), o.seconds * 1000, 0)) {
    DeleteFileA(temp.c_str());
    return StartFailure(h, o.camera, "starting the recording");
  }
  // Frames so far, from the file's growth: each is a chunk header and one 24-bit frame of the
  // sub-sampled window.
  const int shift = Qelvan_GetSubSample(h) > 0 ? Qelvan_GetSubSample(h) : 0;
  const long long chunk = AviFrameBytes(Qelvan_Width(h) >> shift, Qelvan_Height(h) >> shift) + 8;
  // The recorder times from its first frame; allow generously for a slow start and the finish.
  const DWORD limit = static_cast<DWORD>(o.seconds) * 1000 + 60000;
  bool finished = false, interrupted = false;
  long frames = 0;
  while (GetTickCount() - started < limit) {
    Sleep(200);
    if (AviFinished(temp)) {
      finished = true;
      break;
    }
    if (g_interrupted) {
      interrupted = true;
      break;
    }
    const long long size = FileSize(temp);
    frames = size > 232 ? static_cast<long>((size - 232) / chunk) : 0;
    Progress((GetTickCount() - started) / 1000.0, o.seconds, frames);
  }
  // Stopping ends a recording still running: the library finishes its file first.
  Qelvan_StopPreview(h);
  Progress((GetTickCount() - started) / 1000.0, o.seconds, frames, true);
  ProgressDone();
  if (interrupted) finished = AviFinished(temp);
  if (!finished) {
    DeleteFileA(temp.c_str());
    Fail("the recording did not finish: %s", DrainErrors(h).c_str());
    return kCamera;
  }
  const std::string errors = DrainErrors(h);
  if (!Commit(o.file)) return kFile;
  const AviSummary avi = ReadAviSummary(o.file);
  std::printf("record: %ld frames in %.1f s (%.1f fps; %d s asked), %lld bytes to %s\n", avi.frames,
              avi.Seconds(), avi.Seconds() > 0 ? avi.frames / avi.Seconds() : 0.0, o.seconds,
              FileSize(o.file), o.file.c_str());
  // The recording ends early, with a finished file of the frames before it, when the camera is
  // lost, a write fails (a full disk) or the file reaches the largest size it can index.
  if (errors.find("ERR_DEVICE_LOST") != std::string::npos || errors.find("ERR_TRANSFER") != std::string::npos) {
    Fail("the camera was lost: the recording ended after %.1f of %d s; %s holds the frames before it (%s)",
         avi.Seconds(), o.seconds, o.file.c_str(), errors.c_str());
    return kCamera;
  }
  if (errors.find("ERR_FILE") != std::string::npos) {
    Fail("the file could not be written further (disk full, or the largest file size reached): the "
         "recording ended after %.1f of %d s (%s)",
         avi.Seconds(), o.seconds, errors.c_str());
    return kFile;
  }
  if (interrupted) {
    Fail("interrupted: the recording was stopped after %.1f of %d s; %s holds what was recorded",
         avi.Seconds(), o.seconds, o.file.c_str());
    return kInterrupted;
  }
  if (avi.frames <= 0) {
    Fail("the recording holds no frame (%s)", errors.c_str());
    return kFailed;
  }
  // A complete recording lasts at least the time asked for, less one frame's rounding.
  if (avi.Seconds() * 1000 + avi.usPerFrame / 1000.0 + 1 < o.seconds * 1000.0) {
    Fail("the recording ended early, after %.1f of %d s (%s)", avi.Seconds(), o.seconds, errors.c_str());
    return kFailed;
  }
  return kOk;
}

// Frame messages arrive at a hidden message-only window.
struct StreamState {
  long frames = 0;
  long failures = 0;
  int lastError = 0;
  int libraryRate10 = 0;
  int width = 0, height = 0, bits = 0;
};

LRESULT CALLBACK StreamWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CAMERA_FRAME) {
    auto* state = reinterpret_cast<StreamState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state) {
      const auto* info = reinterpret_cast<const FrameInfo*>(wParam);
      if (info) {
        ++state->frames;
        state->libraryRate10 = info->frameRate;
        state->width = info->width;
        state->height = info->height;
        state->bits = info->bitsPerPixel;
      } else {
        ++state->failures;
        state->lastError = static_cast<int>(lParam);
      }
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The rate the sensor runs at, from its timing registers: a frame takes (height + vertical
// blanking) lines of (width + horizontal blanking) pixel clocks, and never less than the
// exposure. Returns 0 when the registers cannot be read.
double SensorFrameRate(QelvanHandle h) {
  int ok1 = 0, ok2 = 0, ok3 = 0, ok4 = 0;
  const int hblank = Qelvan_ReadRegister(h, 5, &ok1);
  const int vblank = Qelvan_ReadRegister(h, 6, &ok2);
  const int clock = Qelvan_GetHalfClock(h, &ok3);
  const int lines = Qelvan_GetExposureTime(h, &ok4);
  if (!ok1 || !ok2 || !ok3 || !ok4) return 0.0;
  const int shift = Qelvan_GetSubSample(h) > 0 ? Qelvan_GetSubSample(h) : 0;
  const double width = Qelvan_Width(h) >> shift, height = Qelvan_Height(h) >> shift;
  const double hz[] = {24e6, 12e6, 48e6, 40e6, 20e6, 10e6};
  const double clockHz = clock >= 0 && clock <= 5 ? hz[clock] : 24e6;
  const double line = width + hblank;
  double clocks = (height + vblank) * line;
  if (lines * line > clocks) clocks = lines * line;
  return clocks > 0 ? clockHz / clocks : 0.0;
}

int Stream(const Options& o) {
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();

  WNDCLASSA wc = {};
  wc.lpfnWndProc = StreamWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "QelvanCaptureStream";
  RegisterClassA(&wc);
  HWND window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  if (!window) {
    Fail("cannot create the message window: %s", SystemMessage(GetLastError()).c_str());
    return kFailed;
  }
  StreamState state;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

  // No preview window: frames only come as messages.
  if (!Qelvan_SetPreviewWindow(h, nullptr, 0, 0, 0, 0)) {
    DestroyWindow(window);
    return LibraryFailure(h, "Qelvan_SetPreviewWindow");
  }
  if (!Qelvan_CallBackPreview(h, window, nullptr, 0, 1)) {
    DestroyWindow(window);
    return StartFailure(h, o.camera, "starting the stream");
  }
  const DWORD started = GetTickCount();
  const DWORD duration = static_cast<DWORD>(o.seconds) * 1000;
  DWORD lastDraw = 0;
  for (DWORD now = started; now - started < duration; now = GetTickCount()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (now - lastDraw >= 200) {
      Progress((now - started) / 1000.0, o.seconds, state.frames);
      lastDraw = now;
    }
  }
  const double elapsed = (GetTickCount() - started) / 1000.0;
  const double sensorRate = SensorFrameRate(h);
  Qelvan_StopPreview(h);
  MSG msg;  // frames posted before the stop
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  Progress(elapsed, o.seconds, state.frames, true);
  ProgressDone();
  DestroyWindow(window);
  UnregisterClassA(wc.lpszClassName, wc.hInstance);

  const long made = static_cast<long>(sensorRate * elapsed + 0.5);
  const long lost = made > state.frames ? made - state.frames : 0;
  std::printf("stream: %ld frames received in %.1f s (%.1f fps; library %.1f fps), %d x %d at %d bits; "
              "camera made %ld, lost %ld\n",
              state.frames, elapsed, state.frames / elapsed, state.libraryRate10 / 10.0, state.width,
              state.height, state.bits, made, lost);
  const std::string errors = DrainErrors(h);
  if (state.failures || state.frames == 0) {
    Fail("stream: %ld failed frame%s (last %s); %s", state.failures, state.failures == 1 ? "" : "s",
         state.lastError ? ErrorName(state.lastError) : "none", errors.c_str());
    return kCamera;
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int rc = ParseCommandLine(argc, argv, &options);
  if (rc != kOk) return rc;
  if (options.command == "help") return kOk;
  if (options.command == "list") return List();
  if (options.command == "info") return Info(options);
  if (options.command == "snap") return Snap(options);
  if (options.command == "record") return Record(options);
  return Stream(options);
}
