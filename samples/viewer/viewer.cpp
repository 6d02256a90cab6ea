// qelvan-viewer: GUI sample for the Qelvan camera library. A main window with the live preview
// in a child window and a status bar (camera, picture size and scale, frames shown per second of
// those the camera makes, frames the camera made that were not shown, the pixel under the cursor).
// Menus: Camera (select; busy cameras greyed), Capture (start/stop, snapshot, record, trigger
// mode), View (fit, 1:1, 2:1, histogram), Settings (the library's three dialogs). Text follows the
// system language, Japanese or English.
//
// Built like any application: QelvanSdk.h and the import library, nothing else.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "QelvanSdk.h"

namespace {

const int kPreviewChildId = 6540;  // the id the library gives its preview child window
const int kSensorWidth = 752, kSensorHeight = 480;

enum MenuId {
  ID_CAMERA_FIRST = 100,  // 100..131: camera numbers
  ID_CAPTURE_START = 200,
  ID_CAPTURE_STOP,
  ID_CAPTURE_SNAPSHOT,
  ID_CAPTURE_QUICK_SNAPSHOT,
  ID_CAPTURE_STOP_RECORDING,
  ID_CAPTURE_TRIGGER,
  ID_CAPTURE_RECORD_FIRST = 210,  // + index into kRecordSeconds
  ID_SETTINGS_CAMERA = 300,
  ID_SETTINGS_ANALOG,
  ID_SETTINGS_IMAGE,
  ID_FILE_EXIT = 400,
  ID_VIEW_FIT = 500,  // + zoom: 0 fit, 1 actual size, 2 double size
  ID_VIEW_ACTUAL,
  ID_VIEW_DOUBLE,
  ID_VIEW_HISTOGRAM,
};
const int kRecordSeconds[] = {3, 5, 10, 30};
const UINT_PTR kStatusTimer = 1;
const UINT_PTR kFrameTimer = 2;      // the copy of the frame behind the readout and histogram
const DWORD kFramePeriodMs = 250;
const int kPanelWidth = 272;         // the histogram panel: 256 bins and a margin
const int kHistogramStatsId = 10;

// Every text the viewer shows, in both languages.
struct Texts {
  const wchar_t *title, *camera, *capture, *settings, *file, *exit, *start, *stop, *snapshot,
      *recordFor, *seconds, *cameraDlg, *analogDlg, *imageDlg, *noCamera, *busy, *statusCamera,
      *statusStopped, *statusRecording, *fps, *lost, *saved, *saveFailed, *startFailed,
      *recordFailed, *recorded, *filterBmp, *filterRaw, *filterJpeg, *filterPng, *filterTiff,
      *of, *rateTip, *lostTip, *recordLost, *recordFile, *recordShort, *deepBitmap, *snapFailed,
      *quickSnapshot, *stopRecording, *view, *fit, *actual, *twice, *histogram, *trigger,
      *waitingTrigger, *framesReceived, *triggerFailed, *mean;
};

const Texts kEnglish = {
    L"Qelvan Viewer", L"&Camera", L"C&apture", L"&Settings", L"&File", L"E&xit",
    L"&Start preview", L"S&top preview", L"Snapshot &to file...", L"&Record for",
    L"seconds", L"&Camera settings...", L"&Analog settings...", L"&Image filters...",
    L"no camera", L"busy", L"Camera", L"stopped", L"recording", L"fps", L"lost", L"Saved",
    L"The frame could not be saved", L"The preview could not start", L"The recording could not start",
    L"Recorded", L"Bitmap (*.bmp)", L"Raw image (*.raw)", L"JPEG (*.jpg)", L"PNG (*.png)",
    L"TIFF (*.tif)", L"of",
    L"Frames shown per second, of the frames the camera makes per second",
    L"Frames the camera made since the preview started that were not shown",
    L"The camera was lost: the recording ended early", L"The file could not be written further: the recording ended early",
    L"The recording ended early",
    L"Frames of 10-bit samples cannot be saved as a bitmap that viewers read correctly: use PNG or TIFF",
    L"No frame could be taken", L"&Quick snapshot (PNG)\tF5", L"Stop &recording", L"&View",
    L"&Fit to window\tCtrl+0", L"&Actual size (1:1)\tCtrl+1", L"&Double size (2:1)\tCtrl+2",
    L"&Histogram\tCtrl+H", L"&Trigger mode\tCtrl+T", L"waiting for trigger", L"frames",
    L"Trigger mode could not start", L"mean"};

const Texts kJapanese = {
    L"Qelvan ビューア", L"カメラ(&C)", L"キャプチャ(&A)", L"設定(&S)", L"ファイル(&F)",
    L"終了(&X)", L"プレビュー開始(&S)", L"プレビュー停止(&T)", L"スナップショットを保存(&T)...",
    L"録画(&R)", L"秒", L"カメラ設定(&C)...", L"アナログ設定(&A)...", L"画像フィルタ(&I)...",
    L"カメラなし", L"使用中", L"カメラ", L"停止中", L"録画中", L"fps", L"欠落", L"保存しました",
    L"画像を保存できませんでした", L"プレビューを開始できませんでした", L"録画を開始できませんでした",
    L"録画しました", L"ビットマップ (*.bmp)", L"RAW 画像 (*.raw)", L"JPEG (*.jpg)", L"PNG (*.png)",
    L"TIFF (*.tif)", L"/",
    L"1 秒あたりの表示フレーム数 / カメラが 1 秒に作るフレーム数",
    L"プレビュー開始後にカメラが作ったが表示されなかったフレーム数",
    L"カメラが切断されたため、録画が途中で終了しました", L"ファイルに書き込めなくなったため、録画が途中で終了しました",
    L"録画が途中で終了しました",
    L"10 ビットのフレームはビットマップでは正しく読めません。PNG か TIFF を使ってください",
    L"フレームを取得できませんでした", L"クイックスナップショット (PNG)(&Q)\tF5", L"録画停止(&R)",
    L"表示(&V)", L"ウィンドウに合わせる(&F)\tCtrl+0", L"等倍 1:1(&A)\tCtrl+1", L"2 倍 2:1(&D)\tCtrl+2",
    L"ヒストグラム(&H)\tCtrl+H", L"トリガーモード(&T)\tCtrl+T", L"トリガー待ち", L"フレーム",
    L"トリガーモードを開始できませんでした", L"平均"};

const Texts* T = &kEnglish;

// The last frame copied out of the library: rows top first, each padded to 4 bytes.
struct Frame {
  std::vector<unsigned char> pixels;
  int width = 0, height = 0, bits = 0, stride = 0;
  DWORD taken = 0;
};

struct Viewer {
  HWND main = nullptr;
  HWND status = nullptr;
  HWND view = nullptr;   // holds the library's preview window, which is clipped to it
  HWND panel = nullptr;  // the histogram, at the right when shown
  // Zoom (0 fit, 1 or 2 screen pixels per picture pixel), the picture's place in the view and
  // how far it was dragged from the centre.
  int zoom = 0;
  RECT picture = {};
  POINT pan = {};
  bool dragging = false;
  POINT dragFrom = {};
  // Trigger mode: the library waits for the camera's trigger and sends each frame.
  bool trigger = false;
  long triggered = 0;
  Frame frame;
  // The pixel under the cursor, in picture coordinates; x < 0 when none.
  POINT pointer = {-1, -1};
  // 256 bins per channel (one for monochrome, B G R for colour) of the last copied frame.
  bool histogram = false;
  unsigned bins[3][256] = {};
  int channels = 0;
  QelvanHandle camera = 0;
  int number = 0;
  bool previewing = false;
  // Frames announced by WM_CAMERA_FRAME since the start, and the library's own rate.
  long frames = 0;
  int rate10 = 0;
  int width = 0, height = 0;
  DWORD started = 0;
  double sensorRate = 0;
  // Frames shown per second, measured over the last second or more.
  long rateFrames = 0;
  DWORD rateSince = 0;
  double shownRate = 0;
  // A recording in progress: its file, the seconds asked for and when it should be done.
  std::wstring recordFile;
  int recordSeconds = 0;
  DWORD recordDeadline = 0;
  // What the last snapshot or recording gave, shown for a while.
  std::wstring notice;
  DWORD noticeUntil = 0;
  // A probe instance that asks the library whether another program streams from a camera.
  QelvanHandle probe = 0;
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

// Whether another program streams from the camera, as the library judges it (a claim left by a
// program that ended does not count): entering capture mode on a second instance runs the
// library's busy test and starts nothing.
bool CameraBusy(int number) {
  if (!g.probe && !(g.probe = Qelvan_Initialize(nullptr))) return false;
  bool busy = false;
  if (Qelvan_SetDeviceNumber(g.probe, number)) {
    if (Qelvan_Capture(g.probe))
      Qelvan_StopPreview(g.probe);
    else
      for (int code; (code = Qelvan_GetLastError(g.probe)) != 0;) busy |= code == ERR_DEVICE_UNAVAILABLE;
  }
  while (Qelvan_GetLastError(g.probe) != 0) {
  }
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

SIZE PictureSize();

void UpdateStatus() {
  wchar_t text[128];
  char name[256] = "";
  if (!Qelvan_GetDeviceName(g.camera, g.number, name, sizeof name)) {
    Qelvan_GetLastError(g.camera);
    std::snprintf(name, sizeof name, "-");
  }
  std::swprintf(text, 128, L"%ls %d: %hs", T->statusCamera, g.number, name);
  const bool notice = !g.notice.empty() && static_cast<LONG>(GetTickCount() - g.noticeUntil) < 0;
  SendMessageW(g.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(notice ? g.notice.c_str() : text));
  // The picture's size and the scale it is shown at.
  const SIZE size = PictureSize();
  const int scale = size.cx > 0 ? static_cast<int>((g.picture.right - g.picture.left) * 100L / size.cx) : 0;
  std::swprintf(text, 128, L"%ld x %ld, %d%%", size.cx, size.cy, scale);
  SendMessageW(g.status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));
  const DWORD now = GetTickCount();
  if (g.trigger) {
    std::swprintf(text, 128, L"%ls, %ld %ls", T->waitingTrigger, g.triggered, T->framesReceived);
  } else if (!g.recordFile.empty()) {
    const long left = static_cast<long>(g.recordSeconds) - static_cast<long>((now - g.started) / 1000);
    std::swprintf(text, 128, L"%ls %ld s", T->statusRecording, left > 0 ? left : 0);
  } else if (g.previewing) {
    if (now - g.rateSince >= 1000) {
      g.shownRate = (g.frames - g.rateFrames) * 1000.0 / (now - g.rateSince);
      g.rateFrames = g.frames;
      g.rateSince = now;
    }
    std::swprintf(text, 128, L"%.1f %ls %.1f %ls", g.shownRate, T->of, g.sensorRate, T->fps);
  } else {
    std::swprintf(text, 128, L"%ls", T->statusStopped);
  }
  SendMessageW(g.status, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(text));
  long lost = 0;
  if (g.previewing && g.recordFile.empty()) {
    const long made = static_cast<long>(g.sensorRate * (now - g.started) / 1000.0);
    lost = made > g.frames ? made - g.frames : 0;
  }
  std::swprintf(text, 128, L"%ls %ld", T->lost, lost);
  if (g.trigger) text[0] = 0;  // frames come when triggered: none is lost
  SendMessageW(g.status, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(text));
}

// Shows what a snapshot or recording gave in the status bar's first part for ten seconds.
void Notice(const std::wstring& text) {
  g.notice = text;
  g.noticeUntil = GetTickCount() + 10000;
  SendMessageW(g.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// The figures start again (after a start, a pause or a recording).
void ResetFigures() {
  g.frames = g.rateFrames = 0;
  g.rate10 = 0;
  g.shownRate = 0;
  g.started = g.rateSince = GetTickCount();
}

RECT PreviewArea() {
  RECT client, bar;
  GetClientRect(g.main, &client);
  GetWindowRect(g.status, &bar);
  client.bottom -= bar.bottom - bar.top;
  if (client.bottom < client.top) client.bottom = client.top;
  return client;
}

HWND PreviewWindow() { return GetDlgItem(g.view, kPreviewChildId); }

int SubSampleShift() {
  const int mode = Qelvan_GetSubSample(g.camera);
  return mode > 0 ? mode & 3 : 0;  // modes 1, 2, 3 (and 17, 18, 19) halve, quarter, eighth
}

// The picture's size: the last frame's, or before any frame the capture window's.
SIZE PictureSize() {
  if (g.width > 0 && g.height > 0) return {g.width, g.height};
  return {Qelvan_Width(g.camera) >> SubSampleShift(), Qelvan_Height(g.camera) >> SubSampleShift()};
}

// Where a picture of this size starts in a view: centred when it fits, else moved by the pan but
// always covering the view. The pan is trimmed to what was possible.
int Place(int view, int picture, LONG* pan) {
  const int centred = (view - picture) / 2;
  if (picture <= view) {
    *pan = 0;
    return centred;
  }
  const int at = std::max(view - picture, std::min(0, centred + static_cast<int>(*pan)));
  *pan = at - centred;
  return at;
}

// The library's preview window runs on a thread of its own; disabled, it leaves the mouse to the
// view beneath it, which reads out the pixel and pans.
void PassMouseToView() {
  HWND preview = PreviewWindow();
  if (preview && IsWindowEnabled(preview)) EnableWindow(preview, FALSE);
}

// Places the view and the histogram panel in the client area, and the picture in the view:
// fitted keeping its aspect, or at 1:1 or 2:1. The library scales each frame to its window.
void Layout() {
  const RECT area = PreviewArea();
  const bool histogram = g.histogram;
  const int vw = std::max(0, static_cast<int>(area.right) - (histogram ? kPanelWidth : 0)), vh = area.bottom;
  MoveWindow(g.view, 0, 0, vw, vh, TRUE);
  if (histogram) MoveWindow(g.panel, vw, 0, area.right - vw, vh, TRUE);
  const SIZE size = PictureSize();
  int pw = size.cx * g.zoom, ph = size.cy * g.zoom;
  if (g.zoom == 0 && size.cx > 0 && size.cy > 0) {
    const double scale = std::min(static_cast<double>(vw) / size.cx, static_cast<double>(vh) / size.cy);
    pw = std::max(1, static_cast<int>(size.cx * scale));
    ph = std::max(1, static_cast<int>(size.cy * scale));
  }
  const int x = Place(vw, pw, &g.pan.x), y = Place(vh, ph, &g.pan.y);
  g.picture = {x, y, x + pw, y + ph};
  Qelvan_SetPreviewWindow(g.camera, g.view, x, y, pw, ph);
  if (HWND preview = PreviewWindow()) MoveWindow(preview, x, y, pw, ph, TRUE);
  PassMouseToView();
}

int BitsPerPixel() {
  switch (Qelvan_GetColorMode(g.camera)) {
    case 10: return 16;
    case 24: return 24;
    case 32: return 32;
    case 42: return 48;
    case 58: return 64;
    default: return 8;
  }
}

// Copies the current frame out of the library (under its frame lock, so always a whole frame).
bool TakeFrame() {
  if ((!g.previewing && !g.trigger) || g.width <= 0 || g.height <= 0) return false;
  Frame& f = g.frame;
  f.bits = BitsPerPixel();
  f.width = g.width;
  f.height = g.height;
  f.stride = (f.width * f.bits / 8 + 3) & ~3;
  f.pixels.resize(static_cast<size_t>(f.stride) * f.height);
  if (!Qelvan_GetImage(g.camera, f.pixels.data(), static_cast<int>(f.pixels.size()), 1)) {
    while (Qelvan_GetLastError(g.camera) != 0) {
    }
    f.width = 0;
    return false;
  }
  f.taken = GetTickCount();
  return true;
}

unsigned Sample(const unsigned char* p, int i) { return (p[2 * i] | p[2 * i + 1] << 8) & 0x3FF; }

// The pixel under the cursor as a camera user reads it: the sample of a monochrome frame (10-bit
// frames 0..1023), or red, green and blue of a colour frame's converted pixel (the frame the
// library hands out is demosaiced), at its place on the sensor.
std::wstring Readout() {
  const Frame& f = g.frame;
  const int x = g.pointer.x, y = g.pointer.y;
  if (x < 0 || y < 0 || x >= f.width || y >= f.height) return L"";
  const unsigned char* p = f.pixels.data() + static_cast<size_t>(y) * f.stride + static_cast<size_t>(x) * (f.bits / 8);
  int ehs = 0, evs = 0;
  Qelvan_GetCaptureWindowEx(g.camera, nullptr, &ehs, nullptr, nullptr, &evs, nullptr);
  const int shift = SubSampleShift();
  // The sensor mirrors the readout, so a mirrored picture's first column is the window's last.
  const int sx = ehs + ((Qelvan_GetMirrorH(g.camera) > 0 ? f.width - 1 - x : x) << shift);
  const int sy = evs + ((Qelvan_GetMirrorV(g.camera) > 0 ? f.height - 1 - y : y) << shift);
  wchar_t text[96];
  if (f.bits == 8)
    std::swprintf(text, 96, L"x %d, y %d: gray %u", sx, sy, p[0]);
  else if (f.bits == 16)
    std::swprintf(text, 96, L"x %d, y %d: gray %u (10-bit)", sx, sy, Sample(p, 0));
  else if (f.bits <= 32)
    std::swprintf(text, 96, L"x %d, y %d: RGB %u %u %u", sx, sy, p[2], p[1], p[0]);
  else
    std::swprintf(text, 96, L"x %d, y %d: RGB %u %u %u (10-bit)", sx, sy, Sample(p, 2), Sample(p, 1), Sample(p, 0));
  return text;
}

void ShowReadout() {
  const std::wstring text = Readout();
  SendMessageW(g.status, SB_SETTEXTW, 4, reinterpret_cast<LPARAM>(text.c_str()));
}

// 256 bins per channel of the copied frame (10-bit samples by their top eight bits), and the
// channels' means in the frame's own units under the plot.
void UpdateHistogram() {
  const Frame& f = g.frame;
  std::memset(g.bins, 0, sizeof g.bins);
  g.channels = f.bits <= 16 ? 1 : 3;
  const int step = f.bits / 8, wide = f.bits == 16 || f.bits >= 48;
  double sums[3] = {};
  for (int y = 0; y < f.height; ++y) {
    const unsigned char* p = f.pixels.data() + static_cast<size_t>(y) * f.stride;
    for (int x = 0; x < f.width; ++x, p += step)
      for (int c = 0; c < g.channels; ++c) {
        const unsigned v = wide ? Sample(p, c) : p[c];
        ++g.bins[c][wide ? v >> 2 : v];
        sums[c] += v;
      }
  }
  const double n = static_cast<double>(f.width) * f.height;
  wchar_t text[128];
  if (g.channels == 1)
    std::swprintf(text, 128, L"%ls %.1f", T->mean, n > 0 ? sums[0] / n : 0);
  else
    std::swprintf(text, 128, L"%ls R %.1f  G %.1f  B %.1f", T->mean, n > 0 ? sums[2] / n : 0, n > 0 ? sums[1] / n : 0,
                  n > 0 ? sums[0] / n : 0);
  SetDlgItemTextW(g.panel, kHistogramStatsId, text);
  InvalidateRect(g.panel, nullptr, FALSE);
}

// A few times a second: a new copy of the frame for the readout and the histogram, when shown.
void RefreshFrame() {
  const bool histogram = g.histogram;
  if ((!histogram && g.pointer.x < 0) || !TakeFrame()) return;
  if (histogram) UpdateHistogram();
  ShowReadout();
}

// The plot: each channel's bins as a line in its colour (gray for monochrome), scaled to the
// fullest bin.
void PaintHistogram(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT r;
  GetClientRect(window, &r);
  r.bottom -= 24;  // the figures below
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  unsigned top = 1;
  for (int c = 0; c < g.channels; ++c)
    for (unsigned n : g.bins[c]) top = std::max(top, n);
  const int left = 8, h = r.bottom - 8;
  const COLORREF colours[] = {RGB(80, 130, 255), RGB(60, 220, 60), RGB(255, 70, 70)};
  for (int c = 0; c < g.channels; ++c) {
    HPEN pen = CreatePen(PS_SOLID, 1, g.channels == 1 ? RGB(220, 220, 220) : colours[c]);
    HGDIOBJ old = SelectObject(dc, pen);
    POINT line[256];
    for (int i = 0; i < 256; ++i)
      line[i] = {left + i, r.bottom - 1 - static_cast<LONG>(static_cast<double>(g.bins[c][i]) * h / top)};
    Polyline(dc, line, 256);
    SelectObject(dc, old);
    DeleteObject(pen);
  }
  EndPaint(window, &ps);
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: {
      RECT r;
      GetClientRect(window, &r);
      MoveWindow(GetDlgItem(window, kHistogramStatsId), 8, r.bottom - 22, r.right - 16, 20, TRUE);
      return 0;
    }
    case WM_PAINT:
      PaintHistogram(window);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void ShowHistogram(bool show) {
  g.histogram = show;
  ShowWindow(g.panel, show ? SW_SHOW : SW_HIDE);
  CheckMenuItem(GetMenu(g.main), ID_VIEW_HISTOGRAM, show ? MF_CHECKED : MF_UNCHECKED);
  Layout();
  if (show) RefreshFrame();
}

void SetZoom(int zoom) {
  g.zoom = zoom;
  g.pan = {};
  CheckMenuRadioItem(GetMenu(g.main), ID_VIEW_FIT, ID_VIEW_DOUBLE, ID_VIEW_FIT + zoom, MF_BYCOMMAND);
  Layout();
  UpdateStatus();
}

// The mouse over the view: the pixel under the cursor is read out; a drag with the left button
// moves a picture larger than the view.
LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case WM_LBUTTONDOWN:
      g.dragging = true;
      g.dragFrom = at;
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (g.dragging && message == WM_LBUTTONUP) ReleaseCapture();
      g.dragging = false;
      return 0;
    case WM_MOUSELEAVE:
      g.pointer = {-1, -1};
      ShowReadout();
      return 0;
    case WM_MOUSEMOVE: {
      TRACKMOUSEEVENT leave = {sizeof leave, TME_LEAVE, window, 0};
      TrackMouseEvent(&leave);
      if (g.dragging && (wParam & MK_LBUTTON)) {
        g.pan.x += at.x - g.dragFrom.x;
        g.pan.y += at.y - g.dragFrom.y;
        g.dragFrom = at;
        Layout();
      }
      const SIZE size = PictureSize();
      const int pw = g.picture.right - g.picture.left, ph = g.picture.bottom - g.picture.top;
      if (!PtInRect(&g.picture, at) || pw <= 0 || ph <= 0) {
        g.pointer = {-1, -1};
      } else {
        // As the library scales: picture column trunc(x * width / shown width), and so for rows.
        const int x = at.x - g.picture.left, y = at.y - g.picture.top;
        g.pointer.x = std::min(static_cast<int>(size.cx) - 1, static_cast<int>(static_cast<float>(size.cx) / pw * x));
        g.pointer.y = std::min(static_cast<int>(size.cy) - 1, static_cast<int>(static_cast<float>(size.cy) / ph * y));
        if (GetTickCount() - g.frame.taken >= kFramePeriodMs || g.frame.width == 0) TakeFrame();
      }
      ShowReadout();
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void StopPreview();

bool StartPreview(bool quiet = false) {
  if (g.previewing) return true;
  if (g.trigger) StopPreview();
  Layout();
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
  PassMouseToView();
  ResetFigures();
  g.sensorRate = SensorFrameRate();
  UpdateStatus();
  return true;
}

void FinishRecording();

void StopPreview() {
  if (!g.recordFile.empty()) g.recordDeadline = GetTickCount();  // stopped on purpose
  Qelvan_StopPreview(g.camera);  // a recording still running is finished with what it has
  FinishRecording();
  Qelvan_Close(g.camera);  // removes the preview window as well
  // Frames announced before the stop are not counted in what comes next (trigger mode counts
  // every frame it receives).
  for (MSG stale; PeekMessageW(&stale, g.main, WM_CAMERA_FRAME, WM_CAMERA_FRAME, PM_REMOVE);) {
  }
  g.previewing = false;
  g.trigger = false;
  g.dragging = false;
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
  Layout();
  if (was) StartPreview();
  UpdateStatus();
}

void SaveSnapshot(const wchar_t* file, int type);

// A snapshot named from the time (snapshot-20260115-093012-345.png), in the current folder.
void QuickSnapshot() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  wchar_t file[64];
  std::swprintf(file, 64, L"snapshot-%04d%02d%02d-%02d%02d%02d-%03d.png", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  SaveSnapshot(file, QELVAN_FILE_PNG);
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
  SaveSnapshot(file, types[index]);
}

// Saves the current frame (a new one when the preview is stopped) and says so.
void SaveSnapshot(const wchar_t* file, int type) {
  // Bitmaps of 10-bit samples are misread (16 bits as RGB555) or refused by common viewers.
  const int mode = Qelvan_GetColorMode(g.camera);
  if (type == QELVAN_FILE_BMP && (mode == 10 || mode == 42 || mode == 58)) {
    MessageBoxW(g.main, T->deepBitmap, T->title, MB_OK | MB_ICONWARNING);
    return;
  }
  // A frame to save: the live one, the last triggered one, or one taken now.
  if (!g.previewing && !g.trigger && !Qelvan_SnapShot(g.camera, nullptr, 0, 1)) {
    Complain(T->snapFailed);
    return;
  }
  if (!Qelvan_SaveImageW(g.camera, file, type)) {
    DeleteFileW(file);  // nothing half-written stays behind
    Complain(T->saveFailed);
    return;
  }
  Notice(std::wstring(T->saved) + L": " + file);
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
  Layout();
  if (!Qelvan_RecordW(g.camera, file, seconds * 1000, g.previewing ? 0 : 1)) {
    Complain(T->recordFailed);
    return;
  }
  g.previewing = true;
  PassMouseToView();
  g.recordFile = file;
  g.recordSeconds = seconds;
  g.started = GetTickCount();
  // The recorder times from its first frame; the timer below checks for the finished file.
  g.recordDeadline = g.started + seconds * 1000 + 60000;
  UpdateStatus();
}

unsigned Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24; }

bool ReadAt(HANDLE f, unsigned long long offset, void* bytes, DWORD count) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  return SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && ReadFile(f, bytes, count, &got, nullptr) && got == count;
}

// What a finished recording holds. The library has finished the file once its RIFF chunks (one,
// or several for a long recording) have their sizes and together make the file.
struct RecordingFile {
  bool finished = false;
  long frames = 0;
  double seconds = 0;
};

RecordingFile ReadRecording(const std::wstring& name) {
  RecordingFile r;
  HANDLE f = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return r;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(f, &size) != 0 && size.QuadPart > 0;
  unsigned long long at = 0;
  while (ok && at < static_cast<unsigned long long>(size.QuadPart)) {
    unsigned char head[12];
    ok = ReadAt(f, at, head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 && Le32(head + 4) != 0;
    at += 8ull + Le32(head + 4);
  }
  r.finished = ok && at == static_cast<unsigned long long>(size.QuadPart);
  unsigned char header[52];
  if (r.finished && ReadAt(f, 0, header, sizeof header)) {
    const unsigned usPerFrame = Le32(header + 32);
    r.frames = static_cast<long>(Le32(header + 48));
    // A long recording counts all its frames in the extended header.
    const unsigned long long end = 20ull + Le32(header + 16);
    for (unsigned long long pos = 24; pos + 12 <= end;) {
      unsigned char chunk[24];
      if (!ReadAt(f, pos, chunk, sizeof chunk)) break;
      if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "odml", 4) == 0 &&
          std::memcmp(chunk + 12, "dmlh", 4) == 0) {
        r.frames = static_cast<long>(Le32(chunk + 20));
        break;
      }
      pos += 8ull + Le32(chunk + 4);
    }
    r.seconds = r.frames * (usPerFrame / 1e6);
  }
  CloseHandle(f);
  return r;
}

// Says what the recording that just ended holds and why it ended, once the library has
// finished the file: the camera's loss, a failed write, or a stop before the time asked.
void FinishRecording() {
  if (g.recordFile.empty()) return;
  const bool stopped = static_cast<LONG>(GetTickCount() - g.recordDeadline) >= 0 &&
                       GetTickCount() - g.started < static_cast<DWORD>(g.recordSeconds) * 1000 + 60000;
  const std::wstring name = g.recordFile;
  g.recordFile.clear();
  const RecordingFile r = ReadRecording(name);
  std::wstring errors;
  bool lost = false, unwritable = false;
  for (int code; (code = Qelvan_GetLastError(g.camera)) != 0;) {
    lost |= code == ERR_DEVICE_LOST || code == ERR_TRANSFER;
    unwritable |= code == ERR_FILE;
    wchar_t item[64];
    std::swprintf(item, 64, L"%ls%hs (%d)", errors.empty() ? L"" : L", ", ErrorName(code), code);
    errors += item;
  }
  wchar_t what[512];
  std::swprintf(what, 512, L"%ls: %ld frames, %.1f s (%d s asked)", T->recorded, r.frames, r.seconds, g.recordSeconds);
  Notice(r.finished ? what : T->recordFailed);
  const wchar_t* problem = !r.finished ? T->recordFailed
                           : lost      ? T->recordLost
                           : unwritable ? T->recordFile
                           : r.frames == 0 || (!stopped && r.seconds + 0.5 < g.recordSeconds) ? T->recordShort
                                                                                            : nullptr;
  if (!problem) return;
  std::wstring text = std::wstring(problem) + L"\n" + name + L"\n";
  if (r.finished) text += std::wstring(what) + L"\n";
  text += errors.empty() ? L"no error code recorded" : errors;
  MessageBoxW(g.main, text.c_str(), T->title, MB_OK | MB_ICONWARNING);
}

void CheckRecording(bool now);

// Ends the recording now (the file keeps what it has) and goes on with the preview.
void StopRecording() {
  if (g.recordFile.empty()) return;
  g.recordDeadline = GetTickCount();
  CheckRecording(true);
}

void CheckRecording(bool now) {
  if (g.recordFile.empty()) return;
  if (!now && !ReadRecording(g.recordFile).finished && static_cast<LONG>(GetTickCount() - g.recordDeadline) < 0)
    return;
  // Done, overdue or stopped: a stop finishes the file with what it has.
  Qelvan_StopPreview(g.camera);
  FinishRecording();
  // Preview goes on with the frame messages back at this window.
  if (Qelvan_CallBackPreview(g.camera, g.main, nullptr, 0, 1)) {
    PassMouseToView();
    ResetFigures();
  } else {
    StopPreview();
    Complain(T->startFailed);
  }
}

// Trigger mode shows each frame the camera's trigger fires; leaving it goes back to the preview.
void ToggleTrigger() {
  if (g.trigger) {
    StopPreview();
    StartPreview();
    return;
  }
  StopPreview();
  Layout();
  if (!Qelvan_Trigger(g.camera, g.main, nullptr, 0, 1)) {
    Complain(T->triggerFailed);
    UpdateStatus();
    return;
  }
  g.trigger = true;
  g.triggered = 0;
  PassMouseToView();
  g.width = g.height = 0;
  UpdateStatus();
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
  AppendMenuW(capture, MF_STRING, ID_CAPTURE_QUICK_SNAPSHOT, T->quickSnapshot);
  HMENU record = CreatePopupMenu();
  for (int i = 0; i < 4; ++i) {
    wchar_t item[32];
    std::swprintf(item, 32, L"%d %ls...", kRecordSeconds[i], T->seconds);
    AppendMenuW(record, MF_STRING, ID_CAPTURE_RECORD_FIRST + i, item);
  }
  AppendMenuW(capture, MF_POPUP, reinterpret_cast<UINT_PTR>(record), T->recordFor);
  AppendMenuW(capture, MF_STRING, ID_CAPTURE_STOP_RECORDING, T->stopRecording);
  AppendMenuW(capture, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(capture, MF_STRING, ID_CAPTURE_TRIGGER, T->trigger);
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(capture), T->capture);
  HMENU view = CreatePopupMenu();
  AppendMenuW(view, MF_STRING, ID_VIEW_FIT, T->fit);
  AppendMenuW(view, MF_STRING, ID_VIEW_ACTUAL, T->actual);
  AppendMenuW(view, MF_STRING, ID_VIEW_DOUBLE, T->twice);
  AppendMenuW(view, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(view, MF_STRING, ID_VIEW_HISTOGRAM, T->histogram);
  CheckMenuRadioItem(view, ID_VIEW_FIT, ID_VIEW_DOUBLE, ID_VIEW_FIT, MF_BYCOMMAND);
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), T->view);
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
  ResetFigures();  // the rate and the lost count start again after the pause
  g.width = g.height = 0;
  UpdateStatus();
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      g.main = window;
      g.status = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | SBARS_TOOLTIPS,
                                 0, 0, 0, 0, window, nullptr, GetModuleHandleW(nullptr), nullptr);
      const int parts[] = {190, 320, 500, 565, -1};
      SendMessageW(g.status, SB_SETPARTS, 5, reinterpret_cast<LPARAM>(parts));
      SendMessageW(g.status, SB_SETTIPTEXTW, 2, reinterpret_cast<LPARAM>(T->rateTip));
      SendMessageW(g.status, SB_SETTIPTEXTW, 3, reinterpret_cast<LPARAM>(T->lostTip));
      const HINSTANCE instance = GetModuleHandleW(nullptr);
      g.view = CreateWindowExW(0, L"QelvanView", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, window,
                               nullptr, instance, nullptr);
      g.panel = CreateWindowExW(0, L"QelvanHistogram", L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0, window, nullptr,
                                instance, nullptr);
      HWND stats = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, g.panel,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHistogramStatsId)), instance, nullptr);
      SendMessageW(stats, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
      SetTimer(window, kStatusTimer, 500, nullptr);
      SetTimer(window, kFrameTimer, kFramePeriodMs, nullptr);
      return 0;
    }
    case WM_SIZE:
      SendMessageW(g.status, WM_SIZE, 0, 0);
      Layout();
      return 0;
    case WM_TIMER:
      if (wParam == kFrameTimer) {
        RefreshFrame();
        return 0;
      }
      CheckRecording(false);
      UpdateStatus();
      PassMouseToView();  // also the window of a start the viewer did not make (a dialog's restart)
      return 0;
    case WM_CAMERA_FRAME:
      if (const auto* info = reinterpret_cast<const FrameInfo*>(wParam)) {
        ++g.frames;
        if (g.trigger) ++g.triggered;
        g.rate10 = info->frameRate;
        const bool resized = info->width != g.width || info->height != g.height;
        g.width = info->width;
        g.height = info->height;
        if (resized) Layout();
        if (g.trigger) {
          RefreshFrame();  // each triggered frame at once: there may be no next one soon
          UpdateStatus();
        }
        return 0;
      }
      [[fallthrough]];  // a failed frame carries its error code like WM_CAMERA_ERROR
    case WM_CAMERA_ERROR:
      // The camera stopped delivering (unplugged, or no frame for seconds): stop cleanly once.
      if (lParam == ERR_DEVICE_LOST && g.previewing) {
        const bool recording = !g.recordFile.empty();
        StopPreview();  // a recording reports its own end
        if (!recording) {
          while (Qelvan_GetLastError(g.camera) != 0) {
          }
          MessageBoxW(window, L"ERR_DEVICE_LOST", T->title, MB_OK | MB_ICONWARNING);
        }
      }
      return 0;
    case WM_INITMENUPOPUP: {
      HMENU menu = reinterpret_cast<HMENU>(wParam);
      if (menu == GetSubMenu(GetMenu(window), 1)) FillCameraMenu(menu);
      EnableMenuItem(GetMenu(window), ID_CAPTURE_START, g.previewing ? MF_GRAYED : MF_ENABLED);
      EnableMenuItem(GetMenu(window), ID_CAPTURE_STOP, g.previewing ? MF_ENABLED : MF_GRAYED);
      EnableMenuItem(GetMenu(window), ID_CAPTURE_STOP_RECORDING, g.recordFile.empty() ? MF_GRAYED : MF_ENABLED);
      for (int i = 0; i < 4; ++i)
        EnableMenuItem(GetMenu(window), ID_CAPTURE_RECORD_FIRST + i, g.trigger ? MF_GRAYED : MF_ENABLED);
      EnableMenuItem(GetMenu(window), ID_CAPTURE_TRIGGER, g.recordFile.empty() ? MF_ENABLED : MF_GRAYED);
      CheckMenuItem(GetMenu(window), ID_CAPTURE_TRIGGER, g.trigger ? MF_CHECKED : MF_UNCHECKED);
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
      else if (id == ID_CAPTURE_QUICK_SNAPSHOT) QuickSnapshot();
      else if (id == ID_CAPTURE_STOP_RECORDING) StopRecording();
      else if (id == ID_CAPTURE_TRIGGER && g.recordFile.empty()) ToggleTrigger();
      else if (id >= ID_VIEW_FIT && id <= ID_VIEW_DOUBLE) SetZoom(id - ID_VIEW_FIT);
      else if (id == ID_VIEW_HISTOGRAM) ShowHistogram(!g.histogram);
      else if (id == ID_SETTINGS_CAMERA) OpenDialog(Qelvan_SetCameraDlg);
      else if (id == ID_SETTINGS_ANALOG) OpenDialog(Qelvan_SetAnalogDlg);
      else if (id == ID_SETTINGS_IMAGE) OpenDialog(Qelvan_SetImageDlg);
      else if (id == ID_FILE_EXIT) DestroyWindow(window);
      return 0;
    }
    case WM_DESTROY:
      KillTimer(window, kStatusTimer);
      KillTimer(window, kFrameTimer);
      g.recordFile.clear();  // closing ends a recording: the library finishes its file
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
  // The view that holds the library's preview window, and the histogram panel.
  wc.lpfnWndProc = ViewProc;
  wc.lpszClassName = L"QelvanView";
  wc.hIcon = nullptr;
  RegisterClassExW(&wc);
  wc.lpfnWndProc = PanelProc;
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = L"QelvanHistogram";
  RegisterClassExW(&wc);
  RECT frame = {0, 0, kSensorWidth, kSensorHeight + 24};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, TRUE, 0);
  HWND window = CreateWindowExW(0, L"QelvanViewer", T->title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20,
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

  ACCEL keys[] = {{FVIRTKEY, VK_F5, ID_CAPTURE_QUICK_SNAPSHOT},
                  {FVIRTKEY | FCONTROL, '0', ID_VIEW_FIT},
                  {FVIRTKEY | FCONTROL, '1', ID_VIEW_ACTUAL},
                  {FVIRTKEY | FCONTROL, '2', ID_VIEW_DOUBLE},
                  {FVIRTKEY | FCONTROL, 'H', ID_VIEW_HISTOGRAM},
                  {FVIRTKEY | FCONTROL, 'T', ID_CAPTURE_TRIGGER}};
  HACCEL accelerators = CreateAcceleratorTableW(keys, sizeof keys / sizeof keys[0]);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (TranslateAcceleratorW(window, accelerators, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  DestroyAcceleratorTable(accelerators);
  Qelvan_Release(g.camera);
  if (g.probe) Qelvan_Release(g.probe);
  return static_cast<int>(msg.wParam);
}
