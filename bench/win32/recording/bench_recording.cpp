// A 60-second recording at the full window in 24 bits, as a new user would make it (first-run
// settings): the file's size and RIFF chunks, the frames written against the frames the sensor
// made meanwhile, how long the finish took, and whether the system's AVI reader (avifil32) and
// ffprobe (run as a Unix program, its answer read from a file) open it and read every frame.
// The file is deleted afterwards unless "keep" is given. Arguments: [seconds] [keep].
#include <windows.h>
#include <vfw.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QelvanSdk.h"
#include "../bench_clock.h"
#include "vcamctl.h"

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Top-level RIFF chunks and the frame total ("dmlh", else the main header), -1 when broken.
struct Layout {
  int chunks = -1;
  long frames = -1;
  long firstChunkFrames = -1;
  uint64_t bytes = 0;
};

Layout ReadLayout(const std::string& name) {
  Layout l;
  HANDLE f = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return l;
  LARGE_INTEGER size;
  GetFileSizeEx(f, &size);
  l.bytes = static_cast<uint64_t>(size.QuadPart);
  auto readAt = [&](uint64_t at, void* p, DWORD n) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(at);
    DWORD got = 0;
    return SetFilePointerEx(f, to, nullptr, FILE_BEGIN) && ReadFile(f, p, n, &got, nullptr) && got == n;
  };
  uint8_t h[52];
  if (readAt(0, h, sizeof h)) {
    l.frames = l.firstChunkFrames = static_cast<long>(Le32(h + 48));
    for (uint64_t at = 24, end = 20ull + Le32(h + 16); at + 24 <= end;) {
      uint8_t c[24];
      if (!readAt(at, c, sizeof c)) break;
      if (!std::memcmp(c, "LIST", 4) && !std::memcmp(c + 8, "odml", 4) && !std::memcmp(c + 12, "dmlh", 4))
        l.frames = static_cast<long>(Le32(c + 20));
      at += 8ull + Le32(c + 4);
    }
    int chunks = 0;
    uint64_t at = 0;
    while (at < l.bytes) {
      uint8_t c[12];
      if (!readAt(at, c, sizeof c) || std::memcmp(c, "RIFF", 4)) break;
      ++chunks;
      at += 8ull + Le32(c + 4);
    }
    if (at == l.bytes) l.chunks = chunks;
  }
  CloseHandle(f);
  return l;
}

// Frames the system's reader reports and how many of them it read (-1 when it cannot open it).
std::pair<long, long> SystemReader(const std::string& name) {
  AVIFileInit();
  long reported = -1, read = 0;
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  if (AVIFileOpenA(&file, name.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0 &&
      AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
    reported = AVIStreamLength(stream);
    std::vector<uint8_t> buffer(4u << 20);
    for (LONG k = AVIStreamStart(stream); k < AVIStreamStart(stream) + reported; ++k) {
      LONG bytes = 0, samples = 0;
      if (AVIStreamRead(stream, k, 1, buffer.data(), static_cast<LONG>(buffer.size()), &bytes, &samples) != 0 ||
          bytes <= 0)
        break;
      ++read;
    }
  }
  if (stream) AVIStreamRelease(stream);
  if (file) AVIFileRelease(file);
  AVIFileExit();
  return {reported, read};
}

std::string UnixName(const std::string& name) {
  typedef char*(CDECL * ToUnix)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  wchar_t wide[MAX_PATH];
  char full[MAX_PATH];
  if (!toUnix || !GetFullPathNameA(name.c_str(), MAX_PATH, full, nullptr) ||
      !MultiByteToWideChar(CP_ACP, 0, full, -1, wide, MAX_PATH))
    return "";
  char* unix = toUnix(wide);
  if (!unix) return "";
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

// ffprobe's count of the frames it reads, -1 when it did not answer. Wine starts Unix programs
// but cannot wait for them, so the answer comes through a file.
long Ffprobe(const std::string& name, DWORD timeoutMs) {
  const std::string answer = name + ".ffprobe.txt";
  DeleteFileA(answer.c_str());
  const std::string unixFile = UnixName(name), unixAnswer = UnixName(answer);
  if (unixFile.empty() || unixAnswer.empty()) return -1;
  std::string cmd = "/usr/bin/ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                    "stream=nb_read_frames -of default=nw=1 -o " + unixAnswer + " " + unixFile;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA("Z:\\usr\\bin\\ffprobe", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    Sleep(500);
    FILE* f = std::fopen(answer.c_str(), "rb");
    if (!f) continue;
    char line[128] = {};
    const bool got = std::fgets(line, sizeof line, f) && std::strchr(line, '\n');
    std::fclose(f);
    long n = -1;
    if (got && std::sscanf(line, "nb_read_frames=%ld", &n) == 1) {
      DeleteFileA(answer.c_str());
      return n;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    if (char* slash = std::strrchr(path, '\\')) {
      *slash = '\0';
      SetCurrentDirectoryA(path);
    }
  }
  const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 60;
  const bool keep = argc > 2 && std::strcmp(argv[2], "keep") == 0;
  if (vcamctl_reset() != 0) {
    std::printf("SUMMARY recording: no virtual camera, not measured\n");
    return 0;
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Dovira\\QelvanZ51QK2RVNSdk");
  const QelvanHandle h = Qelvan_Initialize(nullptr);
  if (!h) {
    std::printf("SUMMARY recording: camera did not open, not measured\n");
    return 0;
  }
  CreateDirectoryA("files_out", nullptr);
  const std::string name = "files_out\\bench_long.avi";
  DeleteFileA(name.c_str());
  Qelvan_SetColorMode(h, 24);
  vcam_camera_info before = {};
  vcamctl_camera_info(0, &before);
  const double started = NowMs();
  if (!Qelvan_Record(h, name.c_str(), seconds * 1000, 0)) {
    std::printf("SUMMARY recording: Record failed (error %d)\n", Qelvan_GetLastError(h));
    Qelvan_Release(h);
    return 1;
  }
  // The sensor's frames over the recording itself: sampled when the requested time has passed.
  Sleep(static_cast<DWORD>(seconds) * 1000);
  vcam_camera_info after = {};
  vcamctl_camera_info(0, &after);
  const double recorded = NowMs();
  // Finished once the recorder lets go of the file (it opens it without sharing).
  bool finished = false;
  while (!finished && NowMs() - started < seconds * 1000.0 + 600000) {
    HANDLE f = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      CloseHandle(f);
      finished = true;
    } else {
      Sleep(50);
    }
  }
  const double closed = NowMs();
  Qelvan_StopPreview(h);
  const int error = Qelvan_GetLastError(h);
  Qelvan_Release(h);
  if (!finished) {
    std::printf("SUMMARY recording: the file was not finished within 10 minutes of the end\n");
    return 1;
  }

  const Layout l = ReadLayout(name);
  const unsigned sensor = after.sensor_frames - before.sensor_frames;
  const double readStart = NowMs();
  const std::pair<long, long> sys = SystemReader(name);
  const double sysMs = NowMs() - readStart;
  const double probeStart = NowMs();
  const long probe = Ffprobe(name, 900000);
  const double probeMs = NowMs() - probeStart;
  std::printf("recording %d s at 752x480, 24 bits: %.2f GB in %d RIFF chunks, %ld frames (%ld in the first chunk); "
              "sensor made %u frames in the %d s; finish took %.1f s after the requested end; last error %d\n",
              seconds, l.bytes / 1e9, l.chunks, l.frames, l.firstChunkFrames, sensor, seconds,
              (closed - recorded) / 1000.0, error);
  std::printf("system reader (avifil32): %s, reports %ld frames, read %ld, %.1f s\n",
              sys.first >= 0 ? "opens it" : "cannot open it", sys.first, sys.second, sysMs / 1000.0);
  std::printf("ffprobe -count_frames: %ld frames, %.1f s\n", probe, probeMs / 1000.0);
  const bool sysOk = sys.first > 0 && sys.second == sys.first;
  const bool probeOk = probe == l.frames && probe > 0;
  std::printf("SUMMARY recording: %d s at 752x480 24 bits: %.2f GB, %d chunks, %ld frames written of %u the sensor made "
              "(%.1f fps); avifil32 %s (%ld of the first chunk's frames), ffprobe %s (%ld frames)\n",
              seconds, l.bytes / 1e9, l.chunks, l.frames, sensor, l.frames / static_cast<double>(seconds),
              sysOk ? "opens it and reads every frame it reports" : "FAILS", sys.second, probeOk ? "reads all" : "FAILS",
              probe);
  if (!keep) DeleteFileA(name.c_str());
  return sysOk && probeOk ? 0 : 1;
}
