// qelvan-capture: command-line capture sample for the Qelvan camera library.
//
//   qelvan-capture list
//   qelvan-capture info   [options]
//   qelvan-capture snap   [options] FILE         (format from the extension or --format)
//   qelvan-capture record [options] --seconds N FILE.avi
//   qelvan-capture stream [options] --seconds N
//   qelvan-capture trigger [options] --timeout S FILE     (one numbered file per triggered frame)
//   qelvan-capture reg read|write, rom read, port get|set   (registers, serial ROM, I/O port)
//
// Built like any application: QelvanSdk.h and the import library, nothing else.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
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

// Where the option being read came from ("cam.conf:3"), while it is read from a config file.
std::string g_failWhere;

void Fail(const char* format, ...) {
  std::fputs("qelvan-capture: ", stderr);
  if (!g_failWhere.empty()) std::fprintf(stderr, "%s: ", g_failWhere.c_str());
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
  std::vector<std::string> args;  // the words after reg, rom and port
  bool json = false;
  bool raw = false;     // stream: frames to standard output
  int camera = 0;
  int mirror = -1;      // bit 0 horizontal, bit 1 vertical
  int clock = -1;       // the library's clock code
  int autoIris = -1;    // 0 off, 1 exposure, 2 gain
  int whiteBalance = -1;
  int quality = -1;     // QELVAN_FILE_JPEG_* for JPEG files
  int count = 1;        // snap: frames, each to its own numbered file
  bool countGiven = false;  // trigger: stop after count frames
  int timeout = 0;      // trigger: seconds without a trigger before it ends
  long intervalMs = 0;
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
      "  trigger --timeout S FILE        wait for external triggers, one file per frame\n"
      "                          (FILE-0001.ext, ...); ends S s after the last one, or at --count N\n"
      "  reg read R | reg write R V      sensor register R (0..255), values decimal or 0x hex\n"
      "  rom read A                      serial ROM byte A (0..255)\n"
      "  port get | port set V           the general-purpose I/O port (0..255)\n"
      "  --version               the sample's, the header's and the library's versions\n"
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
      "  --quality low|medium|high        JPEG quality 20, 70 (default) or 100\n"
      "  --count N [--interval MS]        snap N frames to FILE-0001.ext, FILE-0002.ext, ...\n"
      "  --mirror h|v|hv|none    mirror the picture\n"
      "  --clock MHZ             sensor clock: 10, 12, 20, 24, 40 or 48\n"
      "  --auto-exposure | --auto-gain   automatic exposure, or automatic gain\n"
      "  --white-balance auto|off        automatic white balance on every frame\n"
      "  --config FILE           options from FILE, one a line ('gain = 20', 'auto-exposure',\n"
      "                          '# comment'); options after --config override it\n"
      "  --json                  list and info as JSON\n"
      "  --raw                   stream: every frame to standard output, rows top-down, each padded\n"
      "                          to 4 bytes (BGR for colour); the report goes to standard error\n"
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

// One of a fixed set of words, each standing for a code.
bool ParseChoice(const std::string& option, const char* text, std::vector<const char*> words, std::vector<int> codes,
                 int* code) {
  std::string list;
  for (size_t i = 0; i < words.size(); ++i) {
    if (_stricmp(text, words[i]) == 0) {
      *code = codes[i];
      return true;
    }
    list += (i ? (i + 1 == words.size() ? " or " : ", ") : "") + std::string(words[i]);
  }
  Fail("%s '%s' is not one of %s", option.c_str(), text, list.c_str());
  return false;
}

// A decimal or 0x hexadecimal number in a range.
bool ParseNumber(const char* what, const std::string& text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || errno != 0 || *end != '\0') {
    Fail("%s needs a number (decimal or 0x hex), got '%s'", what, text.c_str());
    return false;
  }
  if (v < low || v > high) {
    Fail("%s %s is out of range (%ld..%ld)", what, text.c_str(), low, high);
    return false;
  }
  *value = v;
  return true;
}

// reg read R, reg write R V, rom read A, port get, port set V.
int CheckDeviceArgs(Options* o) {
  const std::vector<std::string>& a = o->args;
  const std::string action = a.empty() ? "" : a[0];
  size_t want = 0;
  if (o->command == "reg" && action == "read") want = 2;
  if (o->command == "reg" && action == "write") want = 3;
  if (o->command == "rom" && action == "read") want = 2;
  if (o->command == "port" && action == "get") want = 1;
  if (o->command == "port" && action == "set") want = 2;
  if (want == 0 || a.size() != want) {
    Fail("usage: reg read R | reg write R V | rom read A | port get | port set V (got '%s %s')", o->command.c_str(),
         action.c_str());
    return kUsage;
  }
  long v;
  for (size_t i = 1; i < a.size(); ++i) {
    const char* what = i == 2 ? "value" : o->command == "reg" ? "register" : o->command == "rom" ? "address" : "value";
    if (!ParseNumber(what, a[i], 0, o->command == "reg" && i == 2 ? 65535 : 255, &v)) return kUsage;
  }
  return kOk;
}

std::wstring Wide(const std::string& utf8);
std::string SystemMessage(DWORD error);

// One word of the command line, or of a config file with the place it came from.
struct Word {
  std::string text;
  std::string file;  // empty on the command line
  int line = 0;
  std::string Where() const { return file.empty() ? "" : file + ":" + std::to_string(line); }
};

bool IsFlag(const std::string& option) {
  return option == "--json" || option == "--raw" || option == "--auto-exposure" || option == "--auto-gain";
}

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// A config file holds options, one a line, as on the command line: "gain = 20", "gain 20" or
// "--gain 20", and "auto-exposure" alone for an option without a value; '#' starts a comment.
// Each line becomes an option and its value; the option names are checked with the rest.
bool ReadConfig(const std::string& file, std::vector<Word>* words) {
  HANDLE h = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail("cannot read the config file '%s': %s", file.c_str(), SystemMessage(GetLastError()).c_str());
    return false;
  }
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  bool readOk = true;
  while ((readOk = ReadFile(h, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) text.append(buffer, got);
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (!readOk) {
    Fail("cannot read the config file '%s': %s", file.c_str(), SystemMessage(error).c_str());
    return false;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a UTF-8 byte order mark
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    const size_t split = line.find_first_of("= \t");
    std::string key = Trim(line.substr(0, split));
    std::string value = split == std::string::npos ? "" : Trim(line.substr(split));
    if (!value.empty() && value[0] == '=') value = Trim(value.substr(1));
    const bool hasValue = split != std::string::npos && (line.find('=') != std::string::npos || !value.empty());
    if (key.compare(0, 2, "--") != 0) key = "--" + key;
    g_failWhere = file + ":" + std::to_string(number);
    if (key == "--") {
      Fail("expected an option, as 'gain = 20', got '%s'", line.c_str());
      return false;
    }
    if (key == "--config") {
      Fail("--config cannot be used in a config file");
      return false;
    }
    if (IsFlag(key) && hasValue) {
      Fail("%s takes no value, got '%s'", key.c_str(), value.c_str());
      return false;
    }
    if (!IsFlag(key) && value.empty()) {
      Fail("%s needs a value", key.c_str());
      return false;
    }
    g_failWhere.clear();
    words->push_back({key, file, number});
    if (!IsFlag(key)) words->push_back({value, file, number});
  }
  g_failWhere.clear();
  return true;
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
  if (o->command == "--version") return kOk;
  const bool device = o->command == "reg" || o->command == "rom" || o->command == "port";
  if (o->command != "list" && o->command != "info" && o->command != "snap" && o->command != "record" &&
      o->command != "stream" && o->command != "trigger" && !device) {
    Fail("unknown command '%s' (list, info, snap, record, stream, trigger, reg, rom or port; --help for more)",
         o->command.c_str());
    return kUsage;
  }
  // A config file's options stand where --config names it: options after it override them.
  std::vector<Word> words;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--config") != 0) {
      words.push_back({argv[i], "", 0});
      continue;
    }
    if (i + 1 >= argc) {
      Fail("--config needs a value");
      return kUsage;
    }
    if (!ReadConfig(argv[++i], &words)) return kUsage;
  }
  const int count = static_cast<int>(words.size());
  std::string formatName;
  std::string autoFrom;  // the file (or the command line) that chose the automatic mode
  for (int i = 0; i < count; ++i) {
    const std::string arg = words[i].text;
    g_failWhere = words[i].Where();
    // Options without a value.
    if (IsFlag(arg)) {
      if (arg == "--json" || arg == "--raw") {
        (arg == "--json" ? o->json : o->raw) = true;
      } else {
        // Both from one place is a contradiction; the command line overrides a config file.
        const int mode = arg == "--auto-exposure" ? 1 : 2;
        if (o->autoIris > 0 && o->autoIris != mode && autoFrom == words[i].file) {
          Fail("--auto-exposure and --auto-gain exclude each other");
          return kUsage;
        }
        o->autoIris = mode;
        autoFrom = words[i].file;
      }
      continue;
    }
    if (device && (arg.compare(0, 2, "--") != 0 || (arg.size() > 1 && arg[0] == '-' && std::isdigit(static_cast<unsigned char>(arg[1]))))) {
      o->args.push_back(arg);
      continue;
    }
    if (arg.compare(0, 2, "--") != 0) {
      if (!o->file.empty()) {
        Fail("unexpected argument '%s'", arg.c_str());
        return kUsage;
      }
      o->file = arg;
      continue;
    }
    const char* value = i + 1 < count ? words[i + 1].text.c_str() : nullptr;
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
    } else if (arg == "--timeout") {
      ok = need() && ParseRanged("--timeout", value, {1, 86400}, &v);
      o->timeout = static_cast<int>(v);
    } else if (arg == "--count") {
      ok = need() && ParseRanged("--count", value, {1, 9999}, &v);
      o->count = static_cast<int>(v);
      o->countGiven = true;
    } else if (arg == "--interval") {
      ok = need() && ParseRanged("--interval", value, {0, 3600000}, &v);
      o->intervalMs = v;
    } else if (arg == "--quality") {
      ok = need() && ParseChoice(arg, value, {"low", "medium", "high"},
                                 {QELVAN_FILE_JPEG_LOW, QELVAN_FILE_JPEG, QELVAN_FILE_JPEG_HIGH}, &o->quality);
    } else if (arg == "--mirror") {
      ok = need() && ParseChoice(arg, value, {"none", "h", "v", "hv"}, {0, 1, 2, 3}, &o->mirror);
    } else if (arg == "--clock") {
      // The library's codes: 0 24 MHz, 1 12, 2 48, 3 40, 4 20, 5 10.
      ok = need() && ParseChoice(arg, value, {"24", "12", "48", "40", "20", "10"}, {0, 1, 2, 3, 4, 5}, &o->clock);
    } else if (arg == "--white-balance") {
      ok = need() && ParseChoice(arg, value, {"off", "auto"}, {0, 1}, &o->whiteBalance);
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
  g_failWhere.clear();

  if (device) return CheckDeviceArgs(o);
  if (o->raw && o->command != "stream") {
    Fail("--raw is for stream");
    return kUsage;
  }
  if (o->json && o->command != "list" && o->command != "info") {
    Fail("--json is for list and info");
    return kUsage;
  }
  const bool stills = o->command == "snap" || o->command == "trigger";
  if ((!stills && (o->count != 1 || o->quality >= 0)) || (o->command != "snap" && o->intervalMs != 0)) {
    Fail("--count and --quality are for snap and trigger, --interval for snap");
    return kUsage;
  }
  if ((o->command == "trigger") != (o->timeout != 0)) {
    Fail(o->timeout ? "--timeout is for trigger" : "trigger needs --timeout S");
    return kUsage;
  }
  const bool wantsFile = stills || o->command == "record";
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
  if (stills && o->format < 0) {
    o->format = FormatFromExtension(o->file);
    if (o->format < 0) {
      Fail("cannot tell the format of '%s': use .bmp, .raw, .jpg, .png or .tif, or --format",
           o->file.c_str());
      return kUsage;
    }
  }
  if (o->quality >= 0) {
    if (o->format != QELVAN_FILE_JPEG) {
      Fail("--quality is for JPEG files");
      return kUsage;
    }
    o->format = o->quality;
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

// File names are kept as UTF-8 and handed to the wide file functions and exports, so that any
// name the command line can carry works, whatever the system code page.
std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, nullptr, nullptr);
  return utf8;
}

std::string TempName(const std::string& file) { return file + ".partial"; }

// The library's wide exports pass names on in the system code page: a name with characters
// outside it cannot be written, so it is refused before the camera is touched.
bool NameFitsCodePage(const std::string& file) {
  const std::wstring wide = Wide(file);
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
  if (!lossy) return true;
  Fail("cannot write '%s': the camera library takes file names in the system code page (%u), which "
       "lacks some of its characters; use another name or a system locale that has them",
       file.c_str(), GetACP());
  return false;
}

// Checks that the target can be written by creating and removing the temporary file.
bool CheckWritable(const std::string& file) {
  if (!NameFitsCodePage(file)) return false;
  const DWORD attributes = GetFileAttributesW(Wide(file).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail("cannot write '%s': it is a folder", file.c_str());
    return false;
  }
  const std::string temp = TempName(file);
  HANDLE h = CreateFileW(Wide(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail("cannot write '%s': %s", file.c_str(), SystemMessage(GetLastError()).c_str());
    return false;
  }
  CloseHandle(h);
  DeleteFileW(Wide(temp).c_str());
  return true;
}

bool Commit(const std::string& file) {
  if (!MoveFileExW(Wide(TempName(file)).c_str(), Wide(file).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    Fail("cannot write '%s': %s", file.c_str(), SystemMessage(GetLastError()).c_str());
    DeleteFileW(Wide(TempName(file)).c_str());
    return false;
  }
  return true;
}

long long FileSize(const std::string& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(file).c_str(), GetFileExInfoStandard, &data)) return -1;
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
  if (o.mirror >= 0 && (!Qelvan_SetMirrorH(h, o.mirror & 1) || !Qelvan_SetMirrorV(h, (o.mirror >> 1) & 1)))
    return LibraryFailure(h, "--mirror");
  if (o.clock >= 0 && !Qelvan_SetHalfClock(h, o.clock)) return LibraryFailure(h, "--clock");
  if (o.autoIris >= 0 && !Qelvan_SetAutoIris(h, o.autoIris))
    return LibraryFailure(h, o.autoIris == 1 ? "--auto-exposure" : "--auto-gain");
  if (o.whiteBalance >= 0 && !Qelvan_SetBayerGainAuto(h, o.whiteBalance)) return LibraryFailure(h, "--white-balance");
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

int BitsPerPixel(int reported);

// What info and list print: aligned "label  text" lines, or one JSON object.
class Report {
 public:
  explicit Report(bool json) : json_(json) {}
  // A member whose JSON value is given as JSON text (a number, an object, an array, null).
  void Add(const char* label, const char* key, const std::string& text, const std::string& jsonValue) {
    if (json_)
      members_ += std::string(members_.empty() ? "" : ",\n") + "  \"" + key + "\": " + jsonValue;
    else
      std::printf("%-16s %s\n", label, text.c_str());
  }
  void Print() const {
    if (json_) std::printf("{\n%s\n}\n", members_.c_str());
  }

 private:
  bool json_;
  std::string members_;
};

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string VersionText(int version) {
  return Format("%d.%d.%d.%d", (version >> 24) & 0xFF, (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
}

int List(const Options& o) {
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
  if (!o.json) std::printf("%-6s %-20s %s\n", "number", "name", "state");
  int listed = 0;
  std::string json;
  for (int number = 0; number < 32; ++number) {
    char name[256] = "";
    if (!Qelvan_GetDeviceName(h, number, name, sizeof name)) continue;
    const bool busy = CameraBusy(h, number);
    if (o.json)
      json += Format("%s  {\"number\": %d, \"name\": %s, \"busy\": %s}", json.empty() ? "" : ",\n", number,
                     JsonString(name).c_str(), busy ? "true" : "false");
    else
      std::printf("%-6d %-20s %s\n", number, name, busy ? "busy" : "free");
    ++listed;
  }
  DrainErrors(h);  // the numbers without a camera
  if (o.json)
    std::printf("[\n%s\n]\n", json.c_str());
  else
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
  Report r(o.json);
  char name[256] = "";
  Qelvan_GetDeviceName(h, o.camera, name, sizeof name);
  const std::string version = VersionText(Qelvan_GetDllVersion());
  r.Add("library version", "library_version", version, JsonString(version));
  r.Add("camera", "camera", Format("%d  %s", o.camera, name),
        Format("{\"number\": %d, \"name\": %s}", o.camera, JsonString(name).c_str()));
  QelvanCameraInfo info = {};
  info.size = sizeof info;
  if (!Qelvan_GetCameraInfo(h, &info)) return LibraryFailure(h, "Qelvan_GetCameraInfo");
  r.Add("sensor", "sensor", Format("%d x %d", info.width, info.height),
        Format("{\"width\": %d, \"height\": %d}", info.width, info.height));
  int th, ehs, eh, tv, evs, ev;
  if (!Qelvan_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev))
    return LibraryFailure(h, "Qelvan_GetCaptureWindowEx");
  r.Add("window", "window", Format("%d x %d at %d, %d", eh, ev, ehs, evs),
        Format("{\"x\": %d, \"y\": %d, \"width\": %d, \"height\": %d}", ehs, evs, eh, ev));
  const int sub = Qelvan_GetSubSample(h);
  r.Add("sub-sampling", "subsample", Format("%d", sub), Format("%d", sub));
  const int mode = Qelvan_GetColorMode(h);
  r.Add("colour mode", "colour_mode", Format("%d (%s)", mode, ColourModeText(mode)),
        Format("{\"reported\": %d, \"bits_per_pixel\": %d, \"text\": %s}", mode, BitsPerPixel(mode),
               JsonString(ColourModeText(mode)).c_str()));
  int ok = 0, unreadable = 0;
  const int clock = Qelvan_GetHalfClock(h, &ok);
  unreadable += !ok;
  r.Add("clock", "clock", ok ? ClockText(clock) : "unreadable", ok ? JsonString(ClockText(clock)) : "null");
  const int lines = Qelvan_GetExposureTime(h, &ok);
  int okUs = 0;
  const int us = Qelvan_GetRealExposureTime(h, &okUs);
  if (ok && okUs)
    r.Add("exposure", "exposure",
          Format("%d lines, %d us (%d..%d lines)", lines, us, info.exposureMin, info.exposureMax),
          Format("{\"lines\": %d, \"us\": %d, \"min_lines\": %d, \"max_lines\": %d}", lines, us, info.exposureMin,
                 info.exposureMax));
  else
    r.Add("exposure", "exposure", "unreadable", "null");
  unreadable += !ok || !okUs;
  struct {
    const char* label;
    int (*get)(QelvanHandle, int*);
  } gains[] = {{"global", Qelvan_GetGlobalGain},   {"red", Qelvan_GetColorGainRed},
               {"green1", Qelvan_GetColorGainGreen1}, {"green2", Qelvan_GetColorGainGreen2},
               {"blue", Qelvan_GetColorGainBlue}};
  std::string text, json;
  for (const auto& g : gains) {
    const int value = g.get(h, &ok);
    text += Format(ok ? " %s %d" : " %s ?", g.label, value);
    json += Format(ok ? "%s\"%s\": %d" : "%s\"%s\": null", json.empty() ? "" : ", ", g.label, value);
    unreadable += !ok;
  }
  r.Add("gains", "gains",
        text.substr(1) + Format("  (global %d..%d, colour %d..%d)", info.globalGainMin, info.globalGainMax,
                                info.colorGainMin, info.colorGainMax),
        "{" + json + "}");
  const int bayer = Qelvan_GetBayerMode(h, &ok);
  unreadable += !ok;
  r.Add("bayer mode", "bayer_mode", ok ? Format("%d", bayer) : "unreadable", ok ? Format("%d", bayer) : "null");
  const int mirrorH = Qelvan_GetMirrorH(h), mirrorV = Qelvan_GetMirrorV(h);
  r.Add("mirror", "mirror", Format("%s%s", mirrorH ? "h" : "", mirrorV ? "v" : mirrorH ? "" : "none"),
        Format("{\"h\": %s, \"v\": %s}", mirrorH ? "true" : "false", mirrorV ? "true" : "false"));
  const int autoIris = Qelvan_GetAutoIris(h, &ok);
  const char* autoText = autoIris == 1 ? "exposure" : autoIris == 2 ? "gain" : "off";
  r.Add("automatic", "automatic", ok ? autoText : "unreadable", ok ? JsonString(autoText) : "null");
  unreadable += !ok;
  r.Print();
  if (unreadable) {
    Fail("%d value%s could not be read: %s", unreadable, unreadable == 1 ? "" : "s", DrainErrors(h).c_str());
    return kCamera;
  }
  return kOk;
}

int Version() {
  std::printf("qelvan-capture %s (QelvanSdk.h %s; Qelvan_GetDllVersion %s)\n", QELVAN_SDK_VERSION_STRING,
              QELVAN_SDK_VERSION_STRING, VersionText(Qelvan_GetDllVersion()).c_str());
  return kOk;
}

// reg, rom and port: one register, ROM byte or port value, read or written.
int Device(const Options& o) {
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();
  const std::string& action = o.args[0];
  long a = 0, b = 0;
  if (o.args.size() > 1) a = std::strtol(o.args[1].c_str(), nullptr, 0);
  if (o.args.size() > 2) b = std::strtol(o.args[2].c_str(), nullptr, 0);
  int ok = 0;
  if (o.command == "reg" && action == "read") {
    const int value = Qelvan_ReadRegisterEx(h, static_cast<int>(a), &ok);
    if (!ok) return LibraryFailure(h, "reading the register");
    std::printf("register %ld = %d (0x%04X)\n", a, value, value);
  } else if (o.command == "reg") {
    if (!Qelvan_WriteRegister(h, static_cast<int>(a), static_cast<int>(b))) return LibraryFailure(h, "writing the register");
    std::printf("register %ld <- %ld (0x%04lX)\n", a, b, b);
  } else if (o.command == "rom") {
    const int value = Qelvan_ReadSromID(h, static_cast<int>(a), &ok);
    if (!ok) return LibraryFailure(h, "reading the serial ROM");
    std::printf("rom %ld = %d (0x%02X)\n", a, value, value);
  } else if (action == "get") {
    unsigned char value = 0;
    if (!Qelvan_GetIOPort(h, &value, 0, 0)) return LibraryFailure(h, "reading the I/O port");
    std::printf("port = %d (0x%02X)\n", value, value);
  } else {
    if (!Qelvan_SetIOPort(h, static_cast<int>(a))) return LibraryFailure(h, "writing the I/O port");
    std::printf("port <- %ld (0x%02lX)\n", a, a);
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

extern volatile LONG g_interrupted;
BOOL WINAPI OnConsoleControl(DWORD);

// FILE-0001.ext for the first of a series: the number goes before the extension.
std::string NumberedName(const std::string& file, int number) {
  const size_t dot = file.find_last_of('.');
  const size_t slash = file.find_last_of("/\\");
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasExtension ? file.substr(0, dot) : file;
  return stem + Format("-%04d", number) + (hasExtension ? file.substr(dot) : "");
}

int Snap(const Options& o) {
  const bool series = o.count > 1;
  if (!CheckWritable(series ? NumberedName(o.file, 1) : o.file)) return kFile;
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
  // A series stays in capture mode, which keeps the camera ready between frames.
  if (series && !Qelvan_Capture(h)) return StartFailure(h, o.camera, "preparing the series");
  const DWORD started = GetTickCount();
  for (int i = 1; i <= o.count; ++i) {
    // Frame i is due interval x (i - 1) after the first; a slow frame delays only itself.
    const DWORD due = static_cast<DWORD>(o.intervalMs * (i - 1));
    while (GetTickCount() - started < due && !g_interrupted) Sleep(std::min<DWORD>(due - (GetTickCount() - started), 100));
    if (g_interrupted) {
      Fail("interrupted after %d of %d frames", i - 1, o.count);
      return kInterrupted;
    }
    const std::string file = series ? NumberedName(o.file, i) : o.file;
    if (!Qelvan_SnapShot(h, nullptr, 0, 1)) return StartFailure(h, o.camera, "taking a frame");
    const std::string temp = TempName(file);
    if (!Qelvan_SaveImageW(h, Wide(temp).c_str(), o.format)) {
      DeleteFileW(Wide(temp).c_str());
      Fail("cannot write '%s': the library could not save the frame (%s)", file.c_str(), DrainErrors(h).c_str());
      return kFile;
    }
    if (!Commit(file)) return kFile;
    const int shift = Qelvan_GetSubSample(h) > 0 ? Qelvan_GetSubSample(h) : 0;
    std::printf("snap: %d x %d, colour mode %d, %lld bytes to %s", Qelvan_Width(h) >> shift,
                Qelvan_Height(h) >> shift, Qelvan_GetColorMode(h), FileSize(file), file.c_str());
    if (series) std::printf(" at %.3f s", (GetTickCount() - started) / 1000.0);
    std::printf("\n");
    std::fflush(stdout);
  }
  if (series) Qelvan_StopPreview(h);
  return kOk;
}

// Where progress and results go: standard error while frames go to standard output.
FILE* g_report = stdout;

bool OutputIsConsole() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(g_report == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), &mode) != 0;
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
  std::fprintf(g_report, "%s[%s] %5.1f/%d s  %6ld frames  %5.1f fps%s", console ? "\r" : "", bar,
               done > total ? total : done, total, frames, rate, console ? "" : "\n");
  std::fflush(g_report);
}

// Ends a progress display: a newline after the line redrawn in place.
void ProgressDone() {
  if (OutputIsConsole()) std::fprintf(g_report, "\n");
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
  HANDLE f = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
  HANDLE f = CreateFileW(Wide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
  const DWORD started = GetTickCount();
  if (!Qelvan_RecordW(h, Wide(temp).c_str(), o.seconds * 1000, 0)) {
    DeleteFileW(Wide(temp).c_str());
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
    DeleteFileW(Wide(temp).c_str());
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
  QelvanHandle h = 0;
  std::vector<unsigned char> raw;  // with --raw: one frame, copied out and written to stdout
  bool broken = false;             // stdout no longer takes frames (the reader ended)
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
        // The library's copy of the newest frame, whole: the frame buffer given to the callback
        // could be overwritten by the next frame while it is written out.
        if (!state->raw.empty() && !state->broken) {
          if (!Qelvan_GetImage(state->h, state->raw.data(), static_cast<int>(state->raw.size()), 1) ||
              std::fwrite(state->raw.data(), 1, state->raw.size(), stdout) != state->raw.size())
            state->broken = true;
        }
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

// A message-only window, of a class of its own, that receives the library's frame messages;
// the class goes with it.
class MessageWindow {
 public:
  MessageWindow(WNDPROC proc, const char* name) : name_(name) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    RegisterClassA(&wc);
    window_ = CreateWindowA(name, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!window_) Fail("cannot create the message window: %s", SystemMessage(GetLastError()).c_str());
  }
  ~MessageWindow() { UnregisterClassA(name_, GetModuleHandleA(nullptr)); }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  operator HWND() const { return window_; }

 private:
  const char* name_;
  HWND window_ = nullptr;
};

int Stream(const Options& o) {
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();

  const MessageWindow window(StreamWindowProc, "QelvanCaptureStream");
  if (!window) return kFailed;
  StreamState state;
  state.h = h;
  if (o.raw) {
    const int shift = Qelvan_GetSubSample(h) > 0 ? Qelvan_GetSubSample(h) : 0;
    const int width = Qelvan_Width(h) >> shift, height = Qelvan_Height(h) >> shift;
    const int bits = BitsPerPixel(Qelvan_GetColorMode(h));
    const int stride = (width * bits + 31) / 32 * 4;
    state.raw.resize(static_cast<size_t>(stride) * height);
    _setmode(_fileno(stdout), _O_BINARY);
    std::fprintf(stderr, "stream: raw frames of %d x %d, %d bits per pixel, %d bytes a row, %zu bytes a frame\n",
                 width, height, bits, stride, state.raw.size());
  }
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
  for (DWORD now = started; now - started < duration && !g_interrupted && !state.broken; now = GetTickCount()) {
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

  const long made = static_cast<long>(sensorRate * elapsed + 0.5);
  const long lost = made > state.frames ? made - state.frames : 0;
  std::fflush(stdout);
  std::fprintf(g_report, "stream: %ld frames received in %.1f s (%.1f fps; library %.1f fps), %d x %d at %d bits; "
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

// Triggered frames arrive as messages at a hidden window, which saves each to its own file.
struct TriggerState {
  QelvanHandle h = 0;
  const Options* o = nullptr;
  int saved = 0;
  int failed = 0;  // files that could not be written
  int lastError = 0;
  DWORD last = 0;  // when the last frame came
};

LRESULT CALLBACK TriggerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<TriggerState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message != WM_CAMERA_FRAME || !state) return DefWindowProcA(window, message, wParam, lParam);
  state->last = GetTickCount();
  if (!wParam) {
    state->lastError = static_cast<int>(lParam);
    return 0;
  }
  if (state->o->countGiven && state->saved >= state->o->count) return 0;
  const std::string file = NumberedName(state->o->file, state->saved + 1);
  const std::string temp = TempName(file);
  if (!Qelvan_SaveImageW(state->h, Wide(temp).c_str(), state->o->format) || !Commit(file)) {
    DeleteFileW(Wide(temp).c_str());
    Fail("cannot write '%s': %s", file.c_str(), DrainErrors(state->h).c_str());
    ++state->failed;
    return 0;
  }
  ++state->saved;
  std::printf("trigger: frame %d to %s\n", state->saved, file.c_str());
  std::fflush(stdout);
  return 0;
}

int Trigger(const Options& o) {
  if (!CheckWritable(NumberedName(o.file, 1))) return kFile;
  Camera camera;
  int rc = OpenCamera(camera, o);
  if (rc != kOk) return rc;
  const QelvanHandle h = camera.handle();
  const MessageWindow window(TriggerWindowProc, "QelvanCaptureTrigger");
  if (!window) return kFailed;
  TriggerState state;
  state.h = h;
  state.o = &o;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  if (!Qelvan_SetPreviewWindow(h, nullptr, 0, 0, 0, 0) || !Qelvan_Trigger(h, window, nullptr, 0, 1)) {
    DestroyWindow(window);
    return StartFailure(h, o.camera, "entering trigger mode");
  }
  std::printf("trigger: waiting for triggers on camera %d (ends %d s after the last)\n", o.camera, o.timeout);
  std::fflush(stdout);
  state.last = GetTickCount();
  const DWORD idle = static_cast<DWORD>(o.timeout) * 1000;
  while (GetTickCount() - state.last < idle && !g_interrupted && !(o.countGiven && state.saved >= o.count) &&
         !(state.lastError == ERR_DEVICE_LOST)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  Qelvan_StopPreview(h);
  DestroyWindow(window);
  std::printf("trigger: %d frame%s saved\n", state.saved, state.saved == 1 ? "" : "s");
  // The camera reports a missing trigger as a failed frame at each transfer time-out: not an error.
  const std::string errors = DrainErrors(h);
  if (state.failed) return kFile;
  if (state.lastError == ERR_DEVICE_LOST || errors.find("ERR_DEVICE_LOST") != std::string::npos) {
    Fail("the camera was lost after %d frame%s (%s)", state.saved, state.saved == 1 ? "" : "s", errors.c_str());
    return kCamera;
  }
  if (g_interrupted) return kInterrupted;
  if (state.saved == 0) {
    Fail("no trigger came within %d s", o.timeout);
    return kFailed;
  }
  return kOk;
}

}  // namespace

int main() {
  // The wide command line, as UTF-8: file names in any script reach the wide exports intact.
  int argc = 0;
  wchar_t** wideArgv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; wideArgv && i < argc; ++i) args.push_back(Utf8(wideArgv[i]));
  if (wideArgv) LocalFree(wideArgv);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Options options;
  const int rc = ParseCommandLine(static_cast<int>(args.size()), argv.data(), &options);
  if (rc != kOk) return rc;
  // Ctrl+C ends a recording, a series or a stream cleanly: its files are finished, not cut.
  if (options.command == "snap" || options.command == "record" || options.command == "stream" ||
      options.command == "trigger")
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  if (options.command == "help") return kOk;
  if (options.command == "--version") return Version();
  if (options.command == "list") return List(options);
  if (options.command == "reg" || options.command == "rom" || options.command == "port") return Device(options);
  if (options.command == "info") return Info(options);
  if (options.command == "snap") return Snap(options);
  if (options.command == "record") return Record(options);
  if (options.command == "trigger") return Trigger(options);
  if (options.raw) g_report = stderr;
  return Stream(options);
}
