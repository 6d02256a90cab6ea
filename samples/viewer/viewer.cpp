// qelvan-viewer: GUI sample for the Qelvan camera library. A main window with the live preview
// in a child window and a status bar (camera, window size, frames per second, lost frames).
// Menus: Camera (select; busy cameras greyed), Capture (start/stop, snapshot, record), Settings
// (the library's three dialogs). Text follows the system language, Japanese or English.
//
// Built like any application: QelvanSdk.h and the import library, nothing else.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "QelvanSdk.h"

namespace {

const int kPreviewChildId = 6540;  // the id the library gives its preview child window
const int kSensorWidth = 752, kSensorHeight = 480;

enum MenuId {
  ID_CAMERA_FIRST = 100,  // 100..131: camera numbers
  ID_CAPTURE_START = 200,
  ID_CAPTURE_STOP,
  ID_CAPTURE_SNAPSHOT,
  ID_CAPTURE_RECORD_FIRST = 210,  // + index into kRecordSeconds
  ID_SETTINGS_CAMERA = 300,
  ID_SETTINGS_ANALOG,
  ID_SETTINGS_IMAGE,
  ID_FILE_EXIT = 400,
};
const int kRecordSeconds[] = {3, 5, 10, 30};
const UINT_PTR kStatusTimer = 1;

// Every text the viewer shows, in both languages.
struct Texts {
  const wchar_t *title, *camera, *capture, *settings, *file, *exit, *start, *stop, *snapshot,
      *recordFor, *seconds, *cameraDlg, *analogDlg, *imageDlg, *noCamera, *busy, *statusCamera,
      *statusStopped, *statusRecording, *fps, *lost, *saved, *saveFailed, *startFailed,
      *recordFailed, *recorded, *filterBmp, *filterRaw, *filterJpeg, *filterPng, *filterTiff;
};

const Texts kEnglish = {
    L"Qelvan Viewer", L"&Camera", L"C&apture", L"&Settings", L"&File", L"E&xit",
    L"&Start preview", L"S&top preview", L"Snapshot &to file...", L"&Record for",
    L"seconds", L"&Camera settings...", L"&Analog settings...", L"&Image filters...",
    L"no camera", L"busy", L"Camera", L"stopped", L"recording", L"fps", L"lost", L"Saved",
    L"The frame could not be saved", L"The preview could not start", L"The recording could not start",
    L"Recorded", L"Bitmap (*.bmp)", L"Raw image (*.raw)", L"JPEG (*.jpg)", L"PNG (*.png)",
    L"TIFF (*.tif)"};

const Texts kJapanese = {
    L"Qelvan ビューア", L"カメラ(&C)", L"キャプチャ(&A)", L"設定(&S)", L"ファイル(&F)",
    L"終了(&X)", L"プレビュー開始(&S)", L"プレビュー停止(&T)", L"スナップショットを保存(&T)...",
    L"録画(&R)", L"秒", L"カメラ設定(&C)...", L"アナログ設定(&A)...", L"画像フィルタ(&I)...",
    L"カメラなし", L"使用中", L"カメラ", L"停止中", L"録画中", L"fps", L"欠落", L"保存しました",
    L"画像を保存できませんでした", L"プレビューを開始できませんでした", L"録画を開始できませんでした",
    L"録画しました", L"ビットマップ (*.bmp)", L"RAW 画像 (*.raw)", L"JPEG (*.jpg)", L"PNG (*.png)",
    L"TIFF (*.tif)"};

const Texts* T = &kEnglish;

struct Viewer {
  HWND main = nullptr;
  HWND status = nullptr;
  QelvanHandle camera = 0;
  int number = 0;
  bool previewing = false;
  // Frames announced by WM_CAMERA_FRAME since the start, and the library's own rate.
  long frames = 0;
  int rate10 = 0;
  int width = 0, height = 0;
  DWORD started = 0;
  double sensorRate = 0;
  // A recording in progress: its file and when it should be done.
  std::wstring recordFile;
  DWORD recordDeadline = 0;
} g;

const char* ErrorName(int code) {
  static const char* names[] = {"none",          "ERR_NOT_READY", "ERR_DEVICE_UNAVAILABLE",
                                "ERR_THREAD",    "ERR_WINDOW",    "ERR_MEMORY",
                                "ERR_DEVICE_IO", "ERR_GEOMETRY",  "ERR_TRANSFER",
                                "ERR_ARGUMENT",  "unknown",       "ERR_NOT_SUPPORTED",
                                "ERR_FILE",      "ERR_DEVICE_LOST"};
  return code >= 0 && code <= 13 ? names[code] : "unknown";
}

// The library's recorded error codes, newest first, as text for a message box.
std::wstring Errors() {
  std::wstring text;
  for (int i = 0, code; i < 20 && (code = Qelvan_GetLastError(g.camera)) != 0; ++i) {
    wchar_t item[64];
    std::swprintf(item, 64, L"%ls%hs (%d)", text.empty() ? L"" : L", ", ErrorName(code), code);
    text += item;
  }
  return text.empty() ? L"no error code recorded" : text;
}

void Complain(const wchar_t* what) {
  const std::wstring text = std::wstring(what) + L"\n" + Errors();
  MessageBoxW(g.main, text.c_str(), T->title, MB_OK | MB_ICONWARNING);
}

bool CameraBusy(int number) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "DOVIRA_USBCAMERA");
  if (!mapping) return false;
  bool busy = false;
  if (const auto* view = static_cast<const unsigned char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))) {
    DWORD owner;
    std::memcpy(&owner, view + 0x1B5800 + number * 140, sizeof owner);
    busy = owner != 0;
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return busy;
}

// The rate the sensor runs at, from its timing registers (see qelvan-capture).
double SensorFrameRate() {
  int ok[4] = {};
  const int hblank = Qelvan_ReadRegister(g.camera, 5, &ok[0]);
  const int vblank = Qelvan_ReadRegister(g.camera, 6, &ok[1]);
  const int clock = Qelvan_GetHalfClock(g.camera, &ok[2]);
  const int lines = Qelvan_GetExposureTime(g.camera, &ok[3]);
  if (!ok[0] || !ok[1] || !ok[2] || !ok[3]) return 0;
  const int shift = Qelvan_GetSubSample(g.camera) > 0 ? Qelvan_GetSubSample(g.camera) : 0;
  const double width = Qelvan_Width(g.camera) >> shift, height = Qelvan_Height(g.camera) >> shift;
  const double hz[] = {24e6, 12e6, 48e6, 40e6, 20e6, 10e6};
  const double line = width + hblank;
  double clocks = (height + vblank) * line;
  if (lines * line > clocks) clocks = lines * line;
  return clocks > 0 ? (clock >= 0 && clock <= 5 ? hz[clock] : 24e6) / clocks : 0;
}

void UpdateStatus() {
  wchar_t text[128];
  char name[256] = "";
  if (!Qelvan_GetDeviceName(g.camera, g.number, name, sizeof name)) {
    Qelvan_GetLastError(g.camera);
    std::snprintf(name, sizeof name, "-");
  }
  std::swprintf(text, 128, L"%ls %d: %hs", T->statusCamera, g.number, name);
  SendMessageW(g.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text));
  std::swprintf(text, 128, L"%d x %d", g.width ? g.width : Qelvan_Width(g.camera),
                g.height ? g.height : Qelvan_Height(g.camera));
  SendMessageW(g.status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));
  if (!g.recordFile.empty())
    std::swprintf(text, 128, L"%ls", T->statusRecording);
  else if (g.previewing)
    std::swprintf(text, 128, L"%.1f %ls", g.rate10 / 10.0, T->fps);
  else
    std::swprintf(text, 128, L"%ls", T->statusStopped);
  SendMessageW(g.status, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(text));
  long lost = 0;
  if (g.previewing && g.recordFile.empty()) {
    const long made = static_cast<long>(g.sensorRate * (GetTickCount() - g.started) / 1000.0);
    lost = made > g.frames ? made - g.frames : 0;
  }
  std::swprintf(text, 128, L"%ls %ld", T->lost, lost);
  SendMessageW(g.status, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(text));
}

RECT PreviewArea() {
  RECT client, bar;
  GetClientRect(g.main, &client);
  GetWindowRect(g.status, &bar);
  client.bottom -= bar.bottom - bar.top;
  if (client.bottom < client.top) client.bottom = client.top;
  return client;
}

// At program start a failure goes to the status bar instead of a message box.
bool StartPreview(bool quiet = false) {
  if (g.previewing) return true;
  const RECT area = PreviewArea();
  Qelvan_SetPreviewWindow(g.camera, g.main, 0, 0, area.right, area.bottom);
  if (!Qelvan_CallBackPreview(g.camera, g.main, nullptr, 0, 1)) {
    if (!quiet) {
      Complain(T->startFailed);
    } else {
      UpdateStatus();
      const std::wstring text = std::wstring(T->startFailed) + L": " + Errors();
      SendMessageW(g.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    return false;
  }
  g.previewing = true;
  g.frames = 0;
  g.rate10 = 0;
  g.started = GetTickCount();
  g.sensorRate = SensorFrameRate();
  UpdateStatus();
  return true;
}

void StopPreview() {
  Qelvan_StopPreview(g.camera);
  Qelvan_Close(g.camera);  // removes the preview window as well
  g.previewing = false;
  g.recordFile.clear();
  InvalidateRect(g.main, nullptr, TRUE);
  UpdateStatus();
}

void SelectCamera(int number) {
  if (number == g.number) return;
  const bool was = g.previewing;
  StopPreview();
  if (!Qelvan_SetDeviceNumber(g.camera, number)) {
    Complain(T->startFailed);
    return;
  }
  g.number = number;
  g.width = g.height = 0;
  if (was) StartPreview();
  UpdateStatus();
}

void Snapshot() {
  wchar_t file[MAX_PATH] = L"frame.png";
  std::wstring filter;
  const wchar_t* names[] = {T->filterBmp, T->filterRaw, T->filterJpeg, T->filterPng, T->filterTiff};
  const wchar_t* patterns[] = {L"*.bmp", L"*.raw", L"*.jpg", L"*.png", L"*.tif"};
  const wchar_t* extensions[] = {L"bmp", L"raw", L"jpg", L"png", L"tif"};
  const int types[] = {QELVAN_FILE_BMP, QELVAN_FILE_RAW, QELVAN_FILE_JPEG, QELVAN_FILE_PNG, QELVAN_FILE_TIFF};
  for (int i = 0; i < 5; ++i) {
    filter += names[i];
    filter += L'\0';
    filter += patterns[i];
    filter += L'\0';
  }
  filter += L'\0';
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = g.main;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 4;
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"png";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return;
  int index = static_cast<int>(dialog.nFilterIndex) - 1;
  if (index < 0 || index > 4) index = 3;
  // A typed extension wins over the chosen type.
  if (const wchar_t* dot = std::wcsrchr(file, L'.'))
    for (int i = 0; i < 5; ++i)
      if (_wcsicmp(dot + 1, extensions[i]) == 0) index = i;
  if (!g.previewing) Qelvan_SnapShot(g.camera, nullptr, 0, 1);  // a frame to save
  if (!Qelvan_SaveImageW(g.camera, file, types[index])) {
    DeleteFileW(file);  // nothing half-written stays behind
    Complain(T->saveFailed);
    return;
  }
  SendMessageW(g.status, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(T->saved));
}

void Record(int seconds) {
  wchar_t file[MAX_PATH] = L"clip.avi";
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = g.main;
  dialog.lpstrFilter = L"AVI (*.avi)\0*.avi\0";
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"avi";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return;
  const RECT area = PreviewArea();
  Qelvan_SetPreviewWindow(g.camera, g.main, 0, 0, area.right, area.bottom);
  if (!Qelvan_RecordW(g.camera, file, seconds * 1000, g.previewing ? 0 : 1)) {
    Complain(T->recordFailed);
    return;
  }
  g.previewing = true;
  g.recordFile = file;
  // The recorder times from its first frame; the timer below checks for the finished file.
  g.recordDeadline = GetTickCount() + seconds * 1000 + 60000;
  UpdateStatus();
}

// A finished recording: the library closed the file and wrote its RIFF size.
bool RecordingFinished() {
  HANDLE f = CreateFileW(g.recordFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  unsigned char header[8] = {};
  DWORD got = 0;
  ReadFile(f, header, sizeof header, &got, nullptr);
  const DWORD size = GetFileSize(f, nullptr);
  CloseHandle(f);
  DWORD riff;
  std::memcpy(&riff, header + 4, 4);
  return got == 8 && riff != 0 && riff + 8 == size;
}

void CheckRecording() {
  if (g.recordFile.empty()) return;
  const bool done = RecordingFinished();
  if (!done && static_cast<LONG>(GetTickCount() - g.recordDeadline) < 0) return;
  g.recordFile.clear();
  if (done) {
    SendMessageW(g.status, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(T->recorded));
    // Recording took over the frame messages; hand them back to this window.
    Qelvan_CallBackPreview(g.camera, g.main, nullptr, 0, 1);
    g.frames = 0;
    g.started = GetTickCount();
  } else {
    StopPreview();
    Complain(T->recordFailed);
  }
}

HMENU BuildMenu() {
  HMENU bar = CreateMenu();
  HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, ID_FILE_EXIT, T->exit);
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), T->file);
  HMENU camera = CreatePopupMenu();  // filled when it opens
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(camera), T->camera);
  HMENU capture = CreatePopupMenu();
  AppendMenuW(capture, MF_STRING, ID_CAPTURE_START, T->start);
  AppendMenuW(capture, MF_STRING, ID_CAPTURE_STOP, T->stop);
  AppendMenuW(capture, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(capture, MF_STRING, ID_CAPTURE_SNAPSHOT, T->snapshot);
  HMENU record = CreatePopupMenu();
  for (int i = 0; i < 4; ++i) {
    wchar_t item[32];
    std::swprintf(item, 32, L"%d %ls...", kRecordSeconds[i], T->seconds);
    AppendMenuW(record, MF_STRING, ID_CAPTURE_RECORD_FIRST + i, item);
  }
  AppendMenuW(capture, MF_POPUP, reinterpret_cast<UINT_PTR>(record), T->recordFor);
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(capture), T->capture);
  HMENU settings = CreatePopupMenu();
  AppendMenuW(settings, MF_STRING, ID_SETTINGS_CAMERA, T->cameraDlg);
  AppendMenuW(settings, MF_STRING, ID_SETTINGS_ANALOG, T->analogDlg);
  AppendMenuW(settings, MF_STRING, ID_SETTINGS_IMAGE, T->imageDlg);
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(settings), T->settings);
  return bar;
}

// The camera menu lists the attached cameras each time it opens; busy ones are greyed.
void FillCameraMenu(HMENU menu) {
  while (GetMenuItemCount(menu) > 0) DeleteMenu(menu, 0, MF_BYPOSITION);
  for (int number = 0; number < 32; ++number) {
    char name[256];
    if (!Qelvan_GetDeviceName(g.camera, number, name, sizeof name)) continue;
    const bool busy = number != g.number && CameraBusy(number);
    wchar_t item[300];
    std::swprintf(item, 300, L"%d: %hs%ls%ls", number, name, busy ? L"  - " : L"", busy ? T->busy : L"");
    UINT flags = MF_STRING | (number == g.number ? MF_CHECKED : 0) | (busy ? MF_GRAYED : 0);
    AppendMenuW(menu, flags, ID_CAMERA_FIRST + number, item);
  }
  while (Qelvan_GetLastError(g.camera) != 0) {
  }
  if (GetMenuItemCount(menu) == 0) AppendMenuW(menu, MF_STRING | MF_GRAYED, 0, T->noCamera);
}

// The dialogs are modal and act on the running preview themselves: the camera dialog pauses
// and restarts it, the analog and filter dialogs change the live picture as the user edits.
void OpenDialog(int (*dialog)(QelvanHandle, HWND)) {
  if (!dialog(g.camera, g.main)) {
    Complain(T->settings);
    return;
  }
  g.frames = 0;  // the rate and the lost count start again after the pause
  g.started = GetTickCount();
  g.width = g.height = 0;
  UpdateStatus();
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      g.main = window;
      g.status = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                 window, nullptr, GetModuleHandleW(nullptr), nullptr);
      const int parts[] = {220, 320, 420, -1};
      SendMessageW(g.status, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(parts));
      SetTimer(window, kStatusTimer, 500, nullptr);
      return 0;
    }
    case WM_SIZE: {
      SendMessageW(g.status, WM_SIZE, 0, 0);
      const RECT area = PreviewArea();
      if (HWND preview = GetDlgItem(window, kPreviewChildId))
        MoveWindow(preview, 0, 0, area.right, area.bottom, TRUE);
      return 0;
    }
    case WM_TIMER:
      CheckRecording();
      UpdateStatus();
      return 0;
    case WM_CAMERA_FRAME:
      if (const auto* info = reinterpret_cast<const FrameInfo*>(wParam)) {
        ++g.frames;
        g.rate10 = info->frameRate;
        g.width = info->width;
        g.height = info->height;
        return 0;
      }
      [[fallthrough]];  // a failed frame carries its error code like WM_CAMERA_ERROR
    case WM_CAMERA_ERROR:
      // The camera stopped delivering (unplugged, or no frame for seconds): stop cleanly once.
      if (lParam == ERR_DEVICE_LOST && g.previewing) {
        StopPreview();
        while (Qelvan_GetLastError(g.camera) != 0) {
        }
        MessageBoxW(window, L"ERR_DEVICE_LOST", T->title, MB_OK | MB_ICONWARNING);
      }
      return 0;
    case WM_INITMENUPOPUP: {
      HMENU menu = reinterpret_cast<HMENU>(wParam);
      if (menu == GetSubMenu(GetMenu(window), 1)) FillCameraMenu(menu);
      EnableMenuItem(GetMenu(window), ID_CAPTURE_START, g.previewing ? MF_GRAYED : MF_ENABLED);
      EnableMenuItem(GetMenu(window), ID_CAPTURE_STOP, g.previewing ? MF_ENABLED : MF_GRAYED);
      return 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id >= ID_CAMERA_FIRST && id < ID_CAMERA_FIRST + 32) SelectCamera(id - ID_CAMERA_FIRST);
      else if (id >= ID_CAPTURE_RECORD_FIRST && id < ID_CAPTURE_RECORD_FIRST + 4)
        Record(kRecordSeconds[id - ID_CAPTURE_RECORD_FIRST]);
      else if (id == ID_CAPTURE_START) StartPreview();
      else if (id == ID_CAPTURE_STOP) StopPreview();
      else if (id == ID_CAPTURE_SNAPSHOT) Snapshot();
      else if (id == ID_SETTINGS_CAMERA) OpenDialog(Qelvan_SetCameraDlg);
      else if (id == ID_SETTINGS_ANALOG) OpenDialog(Qelvan_SetAnalogDlg);
      else if (id == ID_SETTINGS_IMAGE) OpenDialog(Qelvan_SetImageDlg);
      else if (id == ID_FILE_EXIT) DestroyWindow(window);
      return 0;
    }
    case WM_DESTROY:
      KillTimer(window, kStatusTimer);
      if (g.camera) StopPreview();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  if (PRIMARYLANGID(GetSystemDefaultLangID()) == LANG_JAPANESE) T = &kJapanese;
  // The library's dialogs use the tab, trackbar and up-down controls.
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);

  // Camera number from the command line (qelvan-viewer.exe 2), else 0.
  int number = 0;
  if (__argc > 1) number = std::atoi(__argv[1]);

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH));
  wc.lpszClassName = L"QelvanViewer";
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  RegisterClassExW(&wc);
  RECT frame = {0, 0, kSensorWidth, kSensorHeight + 24};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0);
  HWND window = CreateWindowExW(0, wc.lpszClassName, T->title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, BuildMenu(),
                                instance, nullptr);
  if (!window) return 1;
  // The main window also receives the library's error notifications.
  g.camera = Qelvan_Initialize(window);
  if (!g.camera) {
    MessageBoxW(window, T->startFailed, T->title, MB_OK | MB_ICONERROR);
    DestroyWindow(window);
    return 1;
  }
  ShowWindow(window, show);
  UpdateWindow(window);
  if (number != 0) SelectCamera(number);
  StartPreview(true);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  Qelvan_Release(g.camera);
  return static_cast<int>(msg.wParam);
}
