/* QelvanSdk.h: public interface of QelvanSdk_Z51QK2_RVN.dll, the access library for the
 * Qelvan Z51QK2-RVN USB camera (752 x 480 CMOS sensor, monochrome or Bayer colour).
 *
 * Every function is __cdecl. Apart from Qelvan_Initialize and Qelvan_GetDllVersion each takes
 * the camera handle first; an unknown handle makes every function return 0 (-1 for
 * Qelvan_GetColorMode, Qelvan_GetSubSample and Qelvan_GetWaitTime). Actions return 1 on success
 * and 0 on failure; getters that can fail take a trailing int* success flag (may be NULL).
 * The reference made from this header (make docs) describes every function in full. */
/** @file QelvanSdk.h
 * @brief The library's whole interface: types, constants and the 124 exported functions. */
#ifndef QELVAN_SDK_H
#define QELVAN_SDK_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/** @defgroup types Types, messages and constants
 * @brief The handle, the frame and camera descriptions, window messages, modes and file types.
 * @{ */

/** @brief Calling convention of every export: the caller removes the arguments. */
#define QELVAN_API __cdecl

/** @name Version of this header
 * The version of this header and of the library it ships with (the DLL's file version), for
 * compile-time checks: `#if QELVAN_SDK_VERSION_MAJOR == 1 && QELVAN_SDK_VERSION_MINOR >= 144`.
 * Qelvan_GetDllVersion() gives the version of the DLL actually loaded.
 * @{ */
#define QELVAN_SDK_VERSION_MAJOR 1 /**< @brief Major version. */
#define QELVAN_SDK_VERSION_MINOR 144 /**< @brief Minor version. */
#define QELVAN_SDK_VERSION_PATCH 5 /**< @brief Patch level. */
#define QELVAN_SDK_VERSION_BUILD 31 /**< @brief Build number. */
#define QELVAN_SDK_VERSION_STRING "1.144.5.31" /**< @brief The four numbers as text. */
/** @} */

/** @brief A camera handle, from Qelvan_Initialize(); 0 names no camera instance. */
typedef int QelvanHandle;

/** @brief Posted to the frame window for every delivered frame.
 *
 * wParam is the address of the library's FrameInfo for the frame, lParam 0. When a frame fails,
 * wParam is 0 and lParam the error code (ERR_TRANSFER, ERR_MEMORY, ERR_DEVICE_LOST). The message is
 * posted, never sent: the FrameInfo may already describe a later frame when it is read. */
#define WM_CAMERA_FRAME (WM_APP + 2)
/** @brief Posted to the notification window given to Qelvan_Initialize() for every error:
 * wParam 0, lParam the error code. */
#define WM_CAMERA_ERROR (WM_APP + 3)

/** @} */

/** @defgroup errors Error codes
 * @brief Why a call failed.
 *
 * A failing function records its error code in its camera instance's history of the last 20
 * codes, read newest first with Qelvan_GetLastError(), and posts WM_CAMERA_ERROR to the
 * notification window. A few functions only post the message and keep no history entry: their
 * documentation says "posted only". A call with an unknown handle records nothing.
 * @{ */
#define ERR_NOT_READY 1          /**< @brief No camera, a call that conflicts with the acquisition mode, or no frame yet. */
#define ERR_DEVICE_UNAVAILABLE 2 /**< @brief No camera at that number, or it is in use by another program. */
#define ERR_THREAD 3             /**< @brief A worker thread or event could not be created. */
#define ERR_WINDOW 4             /**< @brief The preview window or a dialog could not be made, or no capture-size preset matches. */
#define ERR_MEMORY 5             /**< @brief An image buffer could not be made, or the caller's buffer or structure is too small. */
#define ERR_DEVICE_IO 6          /**< @brief A register access failed, or streaming could not start. */
#define ERR_GEOMETRY 7           /**< @brief The capture window lies outside the sensor, or the sub-sampling is refused. */
#define ERR_TRANSFER 8           /**< @brief A frame transfer failed, or a preview could not start. */
#define ERR_ARGUMENT 9           /**< @brief An argument is out of range, a pointer is null, or a text buffer is too short. */
#define ERR_NOT_SUPPORTED 11     /**< @brief The function does not exist on this camera model. */
#define ERR_FILE 12              /**< @brief A file name could not be converted, or a file could not be opened or written. */
#define ERR_DEVICE_LOST 13       /**< @brief The camera stopped delivering frames while streaming (unplugged). */
/** @} */

/** @addtogroup types
 * @{ */

/** @name Acquisition modes
 * The modes of a camera instance: idle, preview (continuous frames), capture (a frame per
 * Qelvan_SnapShot()) and trigger (a frame per external trigger).
 * @{ */
#define MODE_IDLE 0    /**< @brief Nothing runs. */
#define MODE_PREVIEW 1 /**< @brief Continuous frames: Qelvan_Preview(), Qelvan_CallBackPreview(), Qelvan_StartPreview(), Qelvan_Record(). */
#define MODE_CAPTURE 2 /**< @brief Prepared for single frames: Qelvan_Capture(). */
#define MODE_TRIGGER 3 /**< @brief A frame per external trigger: Qelvan_Trigger(). */
/** @} */

/** @name Still image file types
 * The fileType argument of Qelvan_SaveImage() and Qelvan_SaveImageW().
 * @{ */
#define QELVAN_FILE_BMP 0        /**< @brief Bottom-up Windows bitmap of the frame's own depth. */
#define QELVAN_FILE_RAW 1        /**< @brief The image memory, unchanged: rows top-down, each padded to 4 bytes. */
#define QELVAN_FILE_JPEG_HIGH 2  /**< @brief JPEG, quality 100. */
#define QELVAN_FILE_JPEG 3       /**< @brief JPEG, quality 70. */
#define QELVAN_FILE_JPEG_LOW 4   /**< @brief JPEG, quality 20. */
#define QELVAN_FILE_PNG 5        /**< @brief PNG; 10-bit frames as 16-bit samples. */
#define QELVAN_FILE_TIFF 6       /**< @brief Uncompressed TIFF, one strip; 10-bit frames as 16-bit samples. */
/** @} */

/** @brief Description of the last delivered frame; WM_CAMERA_FRAME carries its address. */
typedef struct FrameInfo {
  int size;         /**< @brief sizeof(FrameInfo): 24, or 32 in a 64-bit process. */
  int width;        /**< @brief Image width in pixels (the capture window after sub-sampling). */
  int height;       /**< @brief Image height in pixels. */
  int bitsPerPixel; /**< @brief 8, 16, 24, 32, 48 or 64. */
  int frameRate;    /**< @brief Measured frames per second x 10 (0 in trigger mode). */
  void* buffer;     /**< @brief The application's frame buffer the frame was copied to, or NULL. */
} FrameInfo;

/** @brief Camera limits for Qelvan_GetCameraInfo(); set size to sizeof(QelvanCameraInfo) first. */
typedef struct QelvanCameraInfo {
  int size;          /**< @brief Set by the caller; at least 36. */
  int width;         /**< @brief Sensor width, 752. */
  int height;        /**< @brief Sensor height, 480. */
  int globalGainMin; /**< @brief Minimum global gain. */
  int globalGainMax; /**< @brief Maximum global gain, 63. */
  int colorGainMin;  /**< @brief Minimum colour gain. */
  int colorGainMax;  /**< @brief Maximum colour gain, 63. */
  int exposureMin;   /**< @brief Minimum exposure in lines, 1. */
  int exposureMax;   /**< @brief Maximum exposure in lines, 32767. */
} QelvanCameraInfo;

/** @} */

/** @defgroup lifetime Instance, version and errors
 * @brief Making and releasing a camera instance, the library's version, the error history.
 * @{ */

/** @brief Makes a camera instance and opens camera number 0.
 *
 * Opening selects camera 0 and applies its stored settings (see the settings note in the
 * overview). The handle is returned even when opening fails; the reason is then in the error
 * history, and calls that need the camera fail with ERR_NOT_READY.
 * @param notifyWindow Window that receives WM_CAMERA_ERROR for every error of this instance;
 *        may be NULL.
 * @return The new handle; 0 when no instance could be made.
 * @par Errors
 * Recorded in the new instance: ERR_MEMORY (the shared device-use table or the camera objects
 * could not be made); ERR_GEOMETRY (the stored capture window did not fit the sensor and was reset to
 * 752 x 480). */
QelvanHandle QELVAN_API Qelvan_Initialize(HWND notifyWindow);
/** @brief Destroys a camera instance: stops acquisition, closes its window and saves its
 * settings for the selected camera.
 *
 * A call still running on another thread with the same handle is waited for; open setting
 * dialogs end as if cancelled.
 * @param h Camera handle.
 * @return 1; 0 for an unknown or already released handle.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_Release(QelvanHandle h);
/** @brief The version of the loaded library.
 * @return 26215711 (0x0190051F): the four version numbers, one byte each from the highest,
 *         1.144.5.31; compare QELVAN_SDK_VERSION_MAJOR and the other version macros.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetDllVersion(void);
/** @brief Takes the newest error code from the instance's history.
 *
 * The history keeps the last 20 codes; each call removes and returns the newest, so repeated
 * calls return them newest first, then 0.
 * @param h Camera handle.
 * @return The newest recorded error code (see @ref errors); 0 when none is left.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetLastError(QelvanHandle h);

/** @} */

/** @defgroup selection Camera selection
 * @brief Listing the attached cameras, naming and selecting one, closing.
 * @{ */

/** @brief Lists the attached cameras.
 *
 * Entry i is "QelvanZ51QK2-RVN_NN" with NN = i + 1, its position in the list (not the camera
 * number; Qelvan_GetDeviceName() names a camera number). Unused entries are emptied.
 * @param h Camera handle.
 * @param names Ten entries of 256 characters; the first ones receive the names.
 * @return The number of cameras listed, at most 10; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (names is NULL). */
int QELVAN_API Qelvan_EnumDevice(QelvanHandle h, char names[10][256]);
/** @brief Wide form of Qelvan_EnumDevice().
 *
 * It does not search for cameras again: it lists what the last Qelvan_EnumDevice() (or the
 * opening) found.
 * @param h Camera handle.
 * @param names Ten entries of 256 wide characters.
 * @return The number of cameras listed, at most 10; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (names is NULL). */
int QELVAN_API Qelvan_EnumDeviceW(QelvanHandle h, wchar_t names[10][256]);
/** @brief The name of the camera at a camera number: "QelvanZ51QK2-RVN_NN" with NN = number + 1.
 * @param h Camera handle.
 * @param number Camera number, 0..31.
 * @param buffer Receives the name, cut to length - 1 characters and terminated.
 * @param length Size of buffer in characters; more than 14.
 * @return 1 on success, 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (length 14 or less, buffer NULL, or
 * number outside 0..31); ERR_DEVICE_UNAVAILABLE (no camera at that number). */
int QELVAN_API Qelvan_GetDeviceName(QelvanHandle h, int number, char* buffer, int length);
/** @brief Wide form of Qelvan_GetDeviceName().
 * @param h Camera handle.
 * @param number Camera number, 0..31.
 * @param buffer Receives the name, cut to length - 1 wide characters and terminated.
 * @param length Size of buffer in wide characters; more than 14.
 * @return 1 on success, 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (length 14 or less, buffer NULL, or
 * number outside 0..31); ERR_DEVICE_UNAVAILABLE (no camera at that number, or the name could not
 * be converted). */
int QELVAN_API Qelvan_GetDeviceNameW(QelvanHandle h, int number, wchar_t* buffer, int length);
/** @brief Selects another camera for this instance.
 *
 * The settings of the camera selected so far (gains, exposure, mirrors, filters) are saved, and
 * the stored ones of the new camera loaded and applied. The capture window, colour mode,
 * sub-sampling, wait time and clock stay as they are. A camera another program streams from can
 * be selected; it is set up when it is first started. Only while idle and with no setting
 * dialog open.
 * @param h Camera handle.
 * @param number Camera number, 0..31.
 * @return 1 on success; 0 on failure, the earlier camera still selected.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, acquisition running, or a setting dialog open);
 * ERR_DEVICE_UNAVAILABLE (no camera answers at that number, or it could not be set up). */
int QELVAN_API Qelvan_SetDeviceNumber(QelvanHandle h, int number);
/** @brief Stops any acquisition and recording, destroys the preview window and forgets the last
 * frame; the handle stays valid and acquisition can start again.
 * @param h Camera handle.
 * @return 1.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_Close(QelvanHandle h);

/** @} */

/** @defgroup acquisition Acquisition
 * @brief Preview, capture and trigger modes, single frames, the current image.
 *
 * A start is refused with ERR_NOT_READY while another mode runs (stop it first with
 * Qelvan_StopPreview()); starting the mode that already runs succeeds. Every start first checks
 * that the camera is free (ERR_DEVICE_UNAVAILABLE when another program streams from it) and
 * that the capture window fits (ERR_GEOMETRY), then sizes the images (ERR_MEMORY) and applies
 * the colour mode, clock, capture window, mirrors, gains and exposure to the camera.
 * @{ */

/** @brief Starts preview mode, drawing every frame in the library's preview window.
 *
 * Frame messages and buffer copies set by an earlier Qelvan_CallBackPreview() are cleared. The
 * window is made as Qelvan_SetPreviewWindow() placed it (none when it was given no parent and
 * four zeros). In preview mode already, the running preview keeps its window.
 * @param h Camera handle.
 * @return 1 when the preview runs; 0 on failure, with a window it made destroyed again.
 * @par Errors
 * ERR_WINDOW (the window could not be made); otherwise a failed start records the codes of
 * Qelvan_StartPreview() and then ERR_TRANSFER (ERR_NOT_READY and ERR_TRANSFER when no camera
 * instance is open or another mode runs). While running: ERR_TRANSFER for a failed frame, ERR_DEVICE_LOST when the camera
 * stops delivering (the run ends). */
int QELVAN_API Qelvan_Preview(QelvanHandle h);
/** @brief Starts preview mode with a message and an optional copy for every frame.
 *
 * Each frame is drawn in the preview window (as for Qelvan_Preview()), copied into buffer when
 * one is given, and announced with WM_CAMERA_FRAME to frameWindow. In preview mode already, the
 * new delivery values replace the old ones.
 * @param h Camera handle.
 * @param frameWindow Receives WM_CAMERA_FRAME for every frame; may be NULL.
 * @param buffer Receives a copy of every frame: rows of the image's stride (padded to 4 bytes),
 *        as many as the image is high; may be NULL.
 * @param size Size of buffer in bytes; at least stride x height, or the frame is not copied
 *        and WM_CAMERA_FRAME carries ERR_MEMORY instead.
 * @param topDown Non-zero: the top row first; 0: the bottom row first (a bottom-up DIB).
 * @return 1 when the preview runs; 0 on failure.
 * @par Errors
 * As Qelvan_Preview(); while running also ERR_MEMORY for a frame that did not fit in buffer. */
int QELVAN_API Qelvan_CallBackPreview(QelvanHandle h, HWND frameWindow, void* buffer, int size,
                                      int topDown);
/** @brief Starts preview mode with the delivery values already set, and makes no window.
 * @param h Camera handle.
 * @return 1 when the preview runs (also when it already ran); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or capture or trigger mode runs); the start's codes
 * (ERR_DEVICE_UNAVAILABLE, ERR_GEOMETRY, ERR_MEMORY) followed by ERR_NOT_READY; ERR_THREAD (no
 * worker thread); ERR_DEVICE_IO (the camera did not start streaming). */
int QELVAN_API Qelvan_StartPreview(QelvanHandle h);
/** @brief Stops any acquisition mode and a recording (which finishes its file first); the
 * preview window stays.
 * @param h Camera handle.
 * @return 1 on success (also when nothing ran); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened). */
int QELVAN_API Qelvan_StopPreview(QelvanHandle h);
/** @brief Enters capture mode: the camera is prepared once, and Qelvan_SnapShot() takes each
 * frame without preparing it again. No thread runs and the camera is not claimed.
 * @param h Camera handle.
 * @return 1 on success (also in capture mode already); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or preview or trigger mode runs); the preparation's
 * codes (ERR_DEVICE_UNAVAILABLE, ERR_GEOMETRY, ERR_MEMORY) followed by ERR_NOT_READY. */
int QELVAN_API Qelvan_Capture(QelvanHandle h);
/** @brief Takes one frame now, converts it and optionally copies it out.
 *
 * From idle the camera is prepared for the shot and the mode stays idle; in capture mode the
 * preparation of Qelvan_Capture() is used. The frame becomes the current image (for
 * Qelvan_GetImage() and Qelvan_SaveImage()). No message is posted on success.
 * @param h Camera handle.
 * @param buffer Receives the frame (rows of the image's stride); may be NULL.
 * @param size Size of buffer in bytes; at least stride x height.
 * @param topDown Non-zero: the top row first; 0: the bottom row first.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or preview or trigger mode runs); the preparation's
 * codes followed by ERR_NOT_READY; ERR_TRANSFER (the frame did not come, or came incomplete: then
 * also posted to the frame window); ERR_MEMORY twice (buffer too small). */
int QELVAN_API Qelvan_SnapShot(QelvanHandle h, void* buffer, int size, int topDown);
/** @brief Enters external-trigger mode: every triggered frame is converted, copied and
 * announced as in Qelvan_CallBackPreview(), with frameRate 0.
 *
 * The camera waits up to 3 s at a time for a trigger; a wait that ends without one is not an
 * error. The preview window is made as for Qelvan_Preview(). Qelvan_StopPreview() ends the mode.
 * @param h Camera handle.
 * @param frameWindow Receives WM_CAMERA_FRAME for every triggered frame; may be NULL.
 * @param buffer Receives a copy of every frame; may be NULL.
 * @param size Size of buffer in bytes.
 * @param topDown Non-zero: the top row first; 0: the bottom row first.
 * @return 1 when the mode runs; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or another mode, trigger mode included, runs);
 * ERR_WINDOW (no window); the preparation's codes followed by ERR_NOT_READY; ERR_THREAD. While
 * running: ERR_TRANSFER for a failed frame, ERR_MEMORY for a frame that did not fit in buffer,
 * ERR_DEVICE_LOST when the camera is gone (the run ends). */
int QELVAN_API Qelvan_Trigger(QelvanHandle h, HWND frameWindow, void* buffer, int size,
                              int topDown);
/** @brief Copies the current image: the last converted frame, or the blank image of the last
 * preparation.
 * @param h Camera handle.
 * @param buffer Receives the image (rows of the image's stride).
 * @param size Size of buffer in bytes; at least stride x height.
 * @param topDown Non-zero: the top row first; 0: the bottom row first.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or no image of the colour mode); ERR_MEMORY twice
 * when the buffer is too small (the first also posted to the frame window), once when buffer is
 * NULL or nothing was ever prepared. */
int QELVAN_API Qelvan_GetImage(QelvanHandle h, void* buffer, int size, int topDown);
/** @brief Kept for other models' programs.
 * @param h Camera handle.
 * @param reserved Ignored.
 * @return Always 0.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetStatus(QelvanHandle h, int reserved);

/** @} */

/** @defgroup window Preview window and capture window
 * @brief Where the preview is drawn, which part of the sensor becomes the image.
 *
 * The capture window is given in sensor pixels: width EH and height EV at EHS, EVS, inside the
 * 752 x 480 sensor (EHS + EH <= 752, EVS + EV <= 480); TH and TV, the total sensor size, are
 * kept with it. The image is the capture window divided by the sub-sampling factor. A new
 * window reaches the camera at once when idle, else at the next start.
 * @{ */

/** @brief Places the preview window for the next start that makes one.
 *
 * With a parent: a child window at (x, y) of that size, into which each frame is scaled. With no
 * parent and any non-zero value: a top-level window centred on the screen, its client area the
 * image size. With no parent and four zeros: no window at all.
 * @param h Camera handle.
 * @param parent Parent window, or NULL.
 * @param x Left of the child window in the parent's client area.
 * @param y Top of the child window.
 * @param width Width of the child window.
 * @param height Height of the child window.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened). */
int QELVAN_API Qelvan_SetPreviewWindow(QelvanHandle h, HWND parent, int x, int y, int width,
                                       int height);
/** @brief Selects a stored capture-size preset by its size.
 *
 * The presets are kept for each camera in the registry (the camera settings dialog writes them);
 * the first one of this width and height is taken whole. A preset that does not fit the sensor
 * is replaced by the whole sensor.
 * @param h Camera handle.
 * @param width Capture window width of the preset (EH).
 * @param height Capture window height of the preset (EV).
 * @return 1 when a preset was found (also when it had to be replaced); 0 otherwise.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_WINDOW (no preset of that size);
 * ERR_GEOMETRY (the preset did not fit and the whole sensor was taken instead). */
int QELVAN_API Qelvan_SetCaptureWindow(QelvanHandle h, int width, int height);
/** @brief Sets the capture window on the sensor.
 *
 * Values that do not fit are still stored, so that the next start fails with ERR_GEOMETRY
 * until a window that fits is set.
 * @param h Camera handle.
 * @param TH Total sensor width (kept, reported; normally 752).
 * @param EHS Left of the window, 0..752.
 * @param EH Width of the window.
 * @param TV Total sensor height (kept, reported; normally 480).
 * @param EVS Top of the window, 0..480.
 * @param EV Height of the window.
 * @return 1 when the window fits; 0 otherwise.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_GEOMETRY (the window does not fit the sensor
 * or the sub-sampling). */
int QELVAN_API Qelvan_SetCaptureWindowEx(QelvanHandle h, int TH, int EHS, int EH, int TV, int EVS,
                                         int EV);
/** @brief Reads the capture window; needs no camera.
 * @param h Camera handle.
 * @param TH Receives the total sensor width; may be NULL.
 * @param EHS Receives the left of the window; may be NULL.
 * @param EH Receives the width of the window; may be NULL.
 * @param TV Receives the total sensor height; may be NULL.
 * @param EVS Receives the top of the window; may be NULL.
 * @param EV Receives the height of the window; may be NULL.
 * @return 1.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetCaptureWindowEx(QelvanHandle h, int* TH, int* EHS, int* EH, int* TV, int* EVS,
                                         int* EV);
/** @brief Capture window width in sensor pixels (EH), before sub-sampling.
 * @param h Camera handle.
 * @return The width.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_Width(QelvanHandle h);
/** @brief Capture window height in sensor pixels (EV), before sub-sampling.
 * @param h Camera handle.
 * @return The height.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_Height(QelvanHandle h);
/** @brief Reads the camera's limits: sensor size, gain and exposure ranges.
 * @param h Camera handle.
 * @param info Structure to fill; its size member must be set to sizeof(QelvanCameraInfo).
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (info is NULL); ERR_MEMORY (size
 * less than 36). */
int QELVAN_API Qelvan_GetCameraInfo(QelvanHandle h, QelvanCameraInfo* info);

/** @} */

/** @defgroup colour Colour mode, sub-sampling, clock and mirrors
 * @brief How the sensor is read out. Colour mode, sub-sampling, clock and wait time take effect at
 * the next start (change them while idle); mirrors at once.
 * @{ */

/** @brief Sets the colour mode of the images.
 *
 * 8: monochrome, 8 bits; 16: monochrome, 10-bit samples in 16-bit words; 24: BGR colour;
 * 32: BGRX colour; 48: BGR colour of 10-bit samples in 16-bit words; 64: the same with a fourth
 * word. The colour modes demosaic the sensor's Bayer pattern.
 * @param h Camera handle.
 * @param bits 8, 16, 24, 32, 48 or 64 bits per pixel.
 * @return 1 on success; 0 for another value.
 * @par Errors
 * ERR_ARGUMENT (another value). */
int QELVAN_API Qelvan_SetColorMode(QelvanHandle h, int bits);
/** @brief Reads the colour mode.
 * @param h Camera handle.
 * @return 8, 10, 24, 32, 42 or 58 for the modes set as 8, 16, 24, 32, 48 and 64 bits per pixel
 *         (the 10-bit modes report their significant bits); -1 for an unknown handle.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetColorMode(QelvanHandle h);
/** @brief Sets the sub-sampling: the image is the capture window divided by 1, 2 or 4.
 * @param h Camera handle.
 * @param mode 0 full size, 1 half, 2 quarter.
 * @return 1 on success; 0 for another value (nothing recorded).
 * @par Errors
 * None: another value is refused silently. */
int QELVAN_API Qelvan_SetSubSample(QelvanHandle h, int mode);
/** @brief Reads the sub-sampling mode.
 * @param h Camera handle.
 * @return 0, 1 or 2; -1 for an unknown handle.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetSubSample(QelvanHandle h);
/** @brief Mirrors the picture left to right, at once.
 * @param h Camera handle.
 * @param on Non-zero mirrors, 0 does not.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened). */
int QELVAN_API Qelvan_SetMirrorH(QelvanHandle h, int on);
/** @brief Reads the horizontal mirror setting (as set, not read from the sensor).
 * @param h Camera handle.
 * @return 1 mirrored, 0 not or on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened). */
int QELVAN_API Qelvan_GetMirrorH(QelvanHandle h);
/** @brief Mirrors the picture top to bottom, at once.
 * @param h Camera handle.
 * @param on Non-zero mirrors, 0 does not.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY, posted only (no camera instance opened). */
int QELVAN_API Qelvan_SetMirrorV(QelvanHandle h, int on);
/** @brief Reads the vertical mirror setting (as set, not read from the sensor).
 * @param h Camera handle.
 * @return 1 mirrored, 0 not or on failure.
 * @par Errors
 * ERR_NOT_READY, posted only (no camera instance opened). */
int QELVAN_API Qelvan_GetMirrorV(QelvanHandle h);
/** @brief Sets the sensor clock for the next start. Not checked: use one of the codes below.
 * @param h Camera handle.
 * @param clock 0 24 MHz, 1 12 MHz, 2 48 MHz, 3 40 MHz, 4 20 MHz, 5 10 MHz.
 * @return 1.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_SetHalfClock(QelvanHandle h, int clock);
/** @brief Reads the clock setting from the camera.
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The clock code (see Qelvan_SetHalfClock()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY, posted only (no camera instance opened, or the camera did not answer). */
int QELVAN_API Qelvan_GetHalfClock(QelvanHandle h, int* ok);
/** @brief Sets the pause of the preview before it waits for each frame, which bounds the frame
 * rate it delivers. Default 10 ms.
 * @param h Camera handle.
 * @param ms Milliseconds, 0 or more.
 * @return 1 on success; 0 for a negative value (nothing recorded).
 * @par Errors
 * None: a negative value is refused silently. */
int QELVAN_API Qelvan_SetWaitTime(QelvanHandle h, int ms);
/** @brief Reads the preview's pause per frame.
 * @param h Camera handle.
 * @return Milliseconds; -1 for an unknown handle.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetWaitTime(QelvanHandle h);

/** @} */

/** @defgroup gains Gains and exposure
 * @brief The sensor's analog gains and exposure, set by number or in microseconds, and the
 * automatic exposure or gain.
 * @{ */

/** @brief Sets the sensor's global analog gain (setting 13 of Qelvan_SetFilterValue()).
 * Written to the sensor at once; also copied to the four colour gain settings. The getter reads the sensor.
 * @param h Camera handle.
 * @param value Gain, from the sensor's lower bound (0) to 63.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range); ERR_DEVICE_IO (the sensor did not take it). */
int QELVAN_API Qelvan_SetGlobalGain(QelvanHandle h, int value);
/** @brief Reads the sensor's global analog gain (setting 13 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGlobalGain()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_DEVICE_IO (the sensor could not be read). */
int QELVAN_API Qelvan_GetGlobalGain(QelvanHandle h, int* ok);
/** @brief Sets the sensor's red analog gain (setting 14 of Qelvan_SetFilterValue()).
 * This sensor has no colour gain registers: the value is kept (and stored with the settings) but changes nothing.
 * @param h Camera handle.
 * @param value Gain, from the sensor's lower bound to 63.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetColorGainRed(QelvanHandle h, int value);
/** @brief Reads the sensor's red analog gain (setting 14 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetColorGainRed()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetColorGainRed(QelvanHandle h, int* ok);
/** @brief Sets the sensor's first green analog gain (setting 15 of Qelvan_SetFilterValue()).
 * Kept but without effect on this sensor, as for Qelvan_SetColorGainRed().
 * @param h Camera handle.
 * @param value Gain, from the sensor's lower bound to 63.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetColorGainGreen1(QelvanHandle h, int value);
/** @brief Reads the sensor's first green analog gain (setting 15 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetColorGainGreen1()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetColorGainGreen1(QelvanHandle h, int* ok);
/** @brief Sets the sensor's second green analog gain (setting 16 of Qelvan_SetFilterValue()).
 * Kept but without effect on this sensor, as for Qelvan_SetColorGainRed().
 * @param h Camera handle.
 * @param value Gain, from the sensor's lower bound to 63.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetColorGainGreen2(QelvanHandle h, int value);
/** @brief Reads the sensor's second green analog gain (setting 16 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetColorGainGreen2()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetColorGainGreen2(QelvanHandle h, int* ok);
/** @brief Sets the sensor's blue analog gain (setting 17 of Qelvan_SetFilterValue()).
 * Kept but without effect on this sensor, as for Qelvan_SetColorGainRed().
 * @param h Camera handle.
 * @param value Gain, from the sensor's lower bound to 63.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetColorGainBlue(QelvanHandle h, int value);
/** @brief Reads the sensor's blue analog gain (setting 17 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetColorGainBlue()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetColorGainBlue(QelvanHandle h, int* ok);
/** @brief Sets the exposure time in sensor lines (setting 18 of Qelvan_SetFilterValue()).
 * Written to the sensor at once; the getter reads the sensor. Qelvan_SetRealExposureTime() sets it in microseconds.
 * @param h Camera handle.
 * @param value Exposure in lines, 1..32767 (the sensor's maximum).
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range); ERR_DEVICE_IO (the sensor did not take it). */
int QELVAN_API Qelvan_SetExposureTime(QelvanHandle h, int value);
/** @brief Reads the exposure time in sensor lines (setting 18 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetExposureTime()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_DEVICE_IO (the sensor could not be read). */
int QELVAN_API Qelvan_GetExposureTime(QelvanHandle h, int* ok);

/** @brief Sets the automatic exposure or gain, which adjusts the sensor on every converted frame
 * towards a middle brightness.
 * @param h Camera handle.
 * @param mode 0 off, 1 automatic exposure, 2 automatic gain.
 * @return 1 on success; 0 for another value.
 * @par Errors
 * ERR_ARGUMENT, posted only (another value). */
int QELVAN_API Qelvan_SetAutoIris(QelvanHandle h, int mode);
/** @brief Reads the automatic exposure or gain mode; needs no camera.
 * @param h Camera handle.
 * @param ok Receives 1; may be NULL.
 * @return 0 off, 1 automatic exposure, 2 automatic gain.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetAutoIris(QelvanHandle h, int* ok);
/** @brief Sets the exposure in microseconds, converted to whole sensor lines.
 *
 * A line lasts (EH + 64 clocks when the capture window is 570 pixels wide or more, else 660
 * clocks) at the clock setting; the exposure is the microseconds divided by the line time,
 * rounded down.
 * @param h Camera handle.
 * @param microseconds Exposure; it must come to 1..32767 lines.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (less than one line, or more than
 * 32767). */
int QELVAN_API Qelvan_SetRealExposureTime(QelvanHandle h, int microseconds);
/** @brief Reads the exposure in microseconds: the lines set times the line time (see
 * Qelvan_SetRealExposureTime()), rounded down.
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return Microseconds; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened). */
int QELVAN_API Qelvan_GetRealExposureTime(QelvanHandle h, int* ok);

/** @} */

/** @defgroup filters Image filters
 * @brief Software filters applied to every converted frame, and the settings by number.
 *
 * The frame conversion applies, in this order: the gray filter (monochrome modes) or the
 * demosaicing with its colour gains and white balance (colour modes), then hue and saturation,
 * gamma, contrast, sharpening and brightness. Filter settings act on the next frame and are
 * stored for the camera when the instance is released or another camera is selected.
 * @{ */

/** @brief Sets an image setting by its number.
 *
 * 1 brightness, 2 contrast, 3 hue, 4 saturation, 5 sharpness, 6 the three Bayer gains packed,
 * 7 to 9 Bayer gains red, green, blue, 10 automatic white balance, 11 gamma, 12 Bayer mode,
 * 13 global gain, 14 to 17 colour gains red, green 1, green 2, blue, 18 exposure in lines,
 * 19 gray mode, 20 to 23 gray gains, 24 to 27 gray offsets, 28 measure the gray gains once
 * (0 or 1; gray mode 1). Each named function documents its setting's range.
 * @param h Camera handle.
 * @param number Setting number, 1..28.
 * @param value The new value, in the setting's range.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (unknown number, or value out of
 * range); ERR_DEVICE_IO (13 or 18: the sensor did not take it). */
int QELVAN_API Qelvan_SetFilterValue(QelvanHandle h, int number, int value);
/** @brief Reads an image setting by its number (see Qelvan_SetFilterValue()); 13 and 18 are
 * read from the sensor.
 * @param h Camera handle.
 * @param number Setting number, 1..28.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_ARGUMENT (unknown number); ERR_DEVICE_IO (13 or
 * 18: the sensor could not be read). */
int QELVAN_API Qelvan_GetFilterValue(QelvanHandle h, int number, int* ok);
/** @brief Sets the brightness filter (setting 1 of Qelvan_SetFilterValue()).
 * Adds the value to every sample (scaled to the sample depth) after the other filters.
 * @param h Camera handle.
 * @param value Brightness, -255..255; 0 turns the filter off.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetBrightness(QelvanHandle h, int value);
/** @brief Reads the brightness filter (setting 1 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBrightness()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBrightness(QelvanHandle h, int* ok);
/** @brief Sets the contrast filter (setting 2 of Qelvan_SetFilterValue()).
 * Stretches (positive) or flattens (negative) the tones around the middle grey.
 * @param h Camera handle.
 * @param value Contrast, -127..127; 0 turns the filter off.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetContrast(QelvanHandle h, int value);
/** @brief Reads the contrast filter (setting 2 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetContrast()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetContrast(QelvanHandle h, int* ok);
/** @brief Sets the hue rotation (setting 3 of Qelvan_SetFilterValue()).
 * Colour modes only (24, 32, 48, 64 bits per pixel).
 * @param h Camera handle.
 * @param value Hue rotation in degrees, -360..360. Hue and saturation both 0 turn the filter off.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetHue(QelvanHandle h, int value);
/** @brief Reads the hue rotation (setting 3 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetHue()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetHue(QelvanHandle h, int* ok);
/** @brief Sets the saturation change (setting 4 of Qelvan_SetFilterValue()).
 * Colour modes only; works together with the hue rotation.
 * @param h Camera handle.
 * @param value Saturation change, -255..255; 0 leaves saturation as it is.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetSaturation(QelvanHandle h, int value);
/** @brief Reads the saturation change (setting 4 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetSaturation()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetSaturation(QelvanHandle h, int* ok);
/** @brief Sets the sharpening filter (setting 5 of Qelvan_SetFilterValue()).
 * @param h Camera handle.
 * @param value Sharpening strength, 0..30; 0 turns the filter off.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetSharpness(QelvanHandle h, int value);
/** @brief Reads the sharpening filter (setting 5 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetSharpness()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetSharpness(QelvanHandle h, int* ok);
/** @brief Sets the three Bayer colour gains at once (setting 6 of Qelvan_SetFilterValue()).
 * The getter returns the three gains packed the same way, each cut to its low 8 bits.
 * @param h Camera handle.
 * @param value Packed gains: bits 0..7 red, 8..15 green, 16..23 blue (each 0..255, 100 = 1.0). Any value is accepted.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_SetBayerGainRGB(QelvanHandle h, int value);
/** @brief Reads the three Bayer colour gains at once (setting 6 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBayerGainRGB()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBayerGainRGB(QelvanHandle h, int* ok);
/** @brief Sets the red gain of the demosaicing (setting 7 of Qelvan_SetFilterValue()).
 * Applied to the colour modes while the picture is demosaiced.
 * @param h Camera handle.
 * @param value Red gain, 0..400; 100 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetBayerGainRed(QelvanHandle h, int value);
/** @brief Reads the red gain of the demosaicing (setting 7 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBayerGainRed()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBayerGainRed(QelvanHandle h, int* ok);
/** @brief Sets the green gain of the demosaicing (setting 8 of Qelvan_SetFilterValue()).
 * @param h Camera handle.
 * @param value Green gain, 0..400; 100 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetBayerGainGreen(QelvanHandle h, int value);
/** @brief Reads the green gain of the demosaicing (setting 8 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBayerGainGreen()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBayerGainGreen(QelvanHandle h, int* ok);
/** @brief Sets the blue gain of the demosaicing (setting 9 of Qelvan_SetFilterValue()).
 * @param h Camera handle.
 * @param value Blue gain, 0..400; 100 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetBayerGainBlue(QelvanHandle h, int value);
/** @brief Reads the blue gain of the demosaicing (setting 9 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBayerGainBlue()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBayerGainBlue(QelvanHandle h, int* ok);
/** @brief Sets the automatic white balance (setting 10 of Qelvan_SetFilterValue()).
 * While on, the red, green and blue gains are measured from the frames and adjusted.
 * @param h Camera handle.
 * @param value 0 off; any other value turns it on (stored as 1).
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_SetBayerGainAuto(QelvanHandle h, int value);
/** @brief Reads the automatic white balance (setting 10 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBayerGainAuto()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBayerGainAuto(QelvanHandle h, int* ok);
/** @brief Sets the gamma correction (setting 11 of Qelvan_SetFilterValue()).
 * @param h Camera handle.
 * @param value Gamma, 0..200; 100 = 1.0 turns the filter off.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGamma(QelvanHandle h, int value);
/** @brief Reads the gamma correction (setting 11 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGamma()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGamma(QelvanHandle h, int* ok);
/** @brief Sets the Bayer phase of the sensor's colour mosaic (setting 12 of Qelvan_SetFilterValue()).
 * Choose the phase that gives true colours; a wrong one swaps red and blue or the greens.
 * @param h Camera handle.
 * @param value Phase 0..3 of the top-left pixel: 0 (row 0, column 0), 1 (row 1, column 0), 2 (row 0, column 1), 3 (row 1, column 1). The default is 2.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetBayerMode(QelvanHandle h, int value);
/** @brief Reads the Bayer phase of the sensor's colour mosaic (setting 12 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetBayerMode()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetBayerMode(QelvanHandle h, int* ok);
/** @brief Sets the gray filter of the monochrome modes (setting 19 of Qelvan_SetFilterValue()).
 * Used by the 8- and 16-bit monochrome modes only.
 * @param h Camera handle.
 * @param value 0 none; 1 per-cell gains and offsets of the 2 x 2 pattern (the gray gains and offsets below); 2 demosaic and convert back to gray (8-bit mode only).
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayMode(QelvanHandle h, int value);
/** @brief Reads the gray filter of the monochrome modes (setting 19 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayMode()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayMode(QelvanHandle h, int* ok);
/** @brief Sets the gray gain of the red cell (setting 20 of Qelvan_SetFilterValue()).
 * Used with gray mode 1.
 * @param h Camera handle.
 * @param value Gain 0..255; 128 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayGainR(QelvanHandle h, int value);
/** @brief Reads the gray gain of the red cell (setting 20 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayGainR()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayGainR(QelvanHandle h, int* ok);
/** @brief Sets the gray gain of the first green cell (setting 21 of Qelvan_SetFilterValue()).
 * Used with gray mode 1.
 * @param h Camera handle.
 * @param value Gain 0..255; 128 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayGainG1(QelvanHandle h, int value);
/** @brief Reads the gray gain of the first green cell (setting 21 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayGainG1()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayGainG1(QelvanHandle h, int* ok);
/** @brief Sets the gray gain of the second green cell (setting 22 of Qelvan_SetFilterValue()).
 * Used with gray mode 1.
 * @param h Camera handle.
 * @param value Gain 0..255; 128 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayGainG2(QelvanHandle h, int value);
/** @brief Reads the gray gain of the second green cell (setting 22 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayGainG2()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayGainG2(QelvanHandle h, int* ok);
/** @brief Sets the gray gain of the blue cell (setting 23 of Qelvan_SetFilterValue()).
 * Used with gray mode 1.
 * @param h Camera handle.
 * @param value Gain 0..255; 128 = 1.0.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayGainB(QelvanHandle h, int value);
/** @brief Reads the gray gain of the blue cell (setting 23 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayGainB()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayGainB(QelvanHandle h, int* ok);
/** @brief Sets the gray offset of the red cell (setting 24 of Qelvan_SetFilterValue()).
 * Used with gray mode 1, together with a gain other than 128.
 * @param h Camera handle.
 * @param value Offset -255..255.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayOffsetR(QelvanHandle h, int value);
/** @brief Reads the gray offset of the red cell (setting 24 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayOffsetR()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayOffsetR(QelvanHandle h, int* ok);
/** @brief Sets the gray offset of the first green cell (setting 25 of Qelvan_SetFilterValue()).
 * Used with gray mode 1, together with a gain other than 128.
 * @param h Camera handle.
 * @param value Offset -255..255.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayOffsetG1(QelvanHandle h, int value);
/** @brief Reads the gray offset of the first green cell (setting 25 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayOffsetG1()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayOffsetG1(QelvanHandle h, int* ok);
/** @brief Sets the gray offset of the second green cell (setting 26 of Qelvan_SetFilterValue()).
 * Used with gray mode 1, together with a gain other than 128.
 * @param h Camera handle.
 * @param value Offset -255..255.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayOffsetG2(QelvanHandle h, int value);
/** @brief Reads the gray offset of the second green cell (setting 26 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayOffsetG2()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayOffsetG2(QelvanHandle h, int* ok);
/** @brief Sets the gray offset of the blue cell (setting 27 of Qelvan_SetFilterValue()).
 * Used with gray mode 1, together with a gain other than 128.
 * @param h Camera handle.
 * @param value Offset -255..255.
 * @return 1 on success; 0 on failure, the setting unchanged.
 * @par Errors
 * ERR_NOT_READY (no camera); ERR_ARGUMENT (value out of range). */
int QELVAN_API Qelvan_SetGrayOffsetB(QelvanHandle h, int value);
/** @brief Reads the gray offset of the blue cell (setting 27 of Qelvan_GetFilterValue()).
 * @param h Camera handle.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The value (see Qelvan_SetGrayOffsetB()); 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera). */
int QELVAN_API Qelvan_GetGrayOffsetB(QelvanHandle h, int* ok);

/** @} */

/** @defgroup device Registers, serial ROM and I/O port
 * @brief Direct access to the sensor, the camera's serial ROM and its general-purpose port.
 * These act on the camera at once, in any mode.
 * @{ */

/** @brief Reads a sensor register, given by the low 8 bits of reg.
 * @param h Camera handle.
 * @param reg Register number; only its low 8 bits count (0x135 reads register 0x35).
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The 16-bit value; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_DEVICE_IO (the read failed). */
int QELVAN_API Qelvan_ReadRegister(QelvanHandle h, int reg, int* ok);
/** @brief Reads a sensor register.
 * @param h Camera handle.
 * @param reg Register number, 0..255.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The 16-bit value; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_DEVICE_IO (the read failed). */
int QELVAN_API Qelvan_ReadRegisterEx(QelvanHandle h, int reg, int* ok);
/** @brief Writes a sensor register. Settings the library keeps (gains, exposure, mirrors,
 * window) are not updated from it.
 * @param h Camera handle.
 * @param reg Register number, 0..255 (the low 8 bits count).
 * @param value 16-bit value (the low 16 bits count).
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_DEVICE_IO (the write failed). */
int QELVAN_API Qelvan_WriteRegister(QelvanHandle h, int reg, int value);
/** @brief The same function as Qelvan_WriteRegister().
 * @param h Camera handle.
 * @param reg Register number, 0..255.
 * @param value 16-bit value.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened); ERR_DEVICE_IO (the write failed). */
int QELVAN_API Qelvan_WriteRegisterEx(QelvanHandle h, int reg, int value);
/** @brief Reads one byte of the camera's serial ROM (its identification area).
 * @param h Camera handle.
 * @param index Byte address, 0..255.
 * @param ok Receives 1 on success, 0 on failure; may be NULL.
 * @return The byte; 0 on failure.
 * @par Errors
 * Posted only: ERR_NOT_READY (no camera instance opened, or the read failed); ERR_ARGUMENT
 * (index outside 0..255). */
int QELVAN_API Qelvan_ReadSromID(QelvanHandle h, int index, int* ok);
/** @brief Writes one byte of the camera's serial ROM.
 * @param h Camera handle.
 * @param index Byte address, 0..255.
 * @param value The byte, 0..255.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * Posted only: ERR_NOT_READY (no camera instance opened, or the write failed); ERR_ARGUMENT
 * (index or value outside 0..255). */
int QELVAN_API Qelvan_WriteSromID(QelvanHandle h, int index, int value);
/** @brief Reads the general-purpose I/O port.
 * @param h Camera handle.
 * @param value Receives the port's byte; 0 when the read failed.
 * @param reserved1 Ignored.
 * @param reserved2 Ignored.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * Posted only: ERR_NOT_READY (no camera instance opened, or the read failed); ERR_ARGUMENT
 * (value is NULL). */
int QELVAN_API Qelvan_GetIOPort(QelvanHandle h, unsigned char* value, int reserved1,
                                int reserved2);
/** @brief Writes the general-purpose I/O port.
 * @param h Camera handle.
 * @param value The byte to write (the low 8 bits count).
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY, posted only (no camera instance opened). A failed write records nothing. */
int QELVAN_API Qelvan_SetIOPort(QelvanHandle h, int value);

/** @} */

/** @defgroup saving Saving images
 * @brief The current image to a BMP, raw, JPEG, PNG or TIFF file.
 *
 * The current image is the last frame converted by a preview, trigger or snapshot, in the
 * colour mode it was taken in. 10-bit frames (16, 48 and 64 bits per pixel) are saved with 16-bit
 * samples in PNG and TIFF, and as 16-bit words in BMP and raw files, which common viewers do not
 * read: save those as PNG or TIFF.
 * @{ */

/** @brief Saves the current image.
 * @param h Camera handle.
 * @param fileName File to write, in the system code page; replaced if it exists.
 * @param fileType One of QELVAN_FILE_BMP, QELVAN_FILE_RAW, QELVAN_FILE_JPEG_HIGH,
 *        QELVAN_FILE_JPEG, QELVAN_FILE_JPEG_LOW, QELVAN_FILE_PNG, QELVAN_FILE_TIFF.
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, no frame converted since the last
 * Qelvan_Close(), or no image of the colour mode). A file that cannot be written, an unknown
 * file type or a NULL name gives 0 with nothing recorded. */
int QELVAN_API Qelvan_SaveImage(QelvanHandle h, const char* fileName, int fileType);
/** @brief Wide form of Qelvan_SaveImage(). The name is converted to the system code page
 * first. Unlike Qelvan_SaveImage(), it also saves the blank image of a preparation before any
 * frame was converted.
 * @param h Camera handle.
 * @param fileName File to write; it must be expressible in the system code page.
 * @param fileType A QELVAN_FILE_ type, as for Qelvan_SaveImage().
 * @return 1 on success; 0 on failure.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, NULL name, a name that cannot be converted or is
 * 1024 bytes or longer, or no image of the colour mode). A file that cannot be written gives 0
 * with nothing recorded. */
int QELVAN_API Qelvan_SaveImageW(QelvanHandle h, const wchar_t* fileName, int fileType);

/** @} */

/** @defgroup recording Recording
 * @brief The live picture into an uncompressed 24-bit AVI file.
 * @{ */

/** @brief Records the live picture into an AVI file for a given time, in the background.
 *
 * Starts preview mode when it does not run (Qelvan_Preview() style, without frame messages),
 * then returns at once. A recording thread adds the newest converted frame as it comes and
 * finishes the file (index, frame rate measured over the recording) when durationMs has passed
 * since the first frame, when Qelvan_StopPreview(), Qelvan_Close() or Qelvan_Release() stops
 * the preview, or when the camera is lost. Frames of another size (the colour mode or window
 * changed) are skipped. One recording at a time per instance. The file is a plain AVI 1.0 file
 * up to its first gigabyte and continues as an OpenDML (AVI 2.0) file beyond.
 * @param h Camera handle.
 * @param fileName AVI file to write, in the system code page.
 * @param durationMs Length in milliseconds, 0 or more.
 * @param showWindow Non-zero: make the preview window as Qelvan_Preview() does.
 * @return 1 when the recording runs; 0 on failure (a preview this call started is stopped).
 * @par Errors
 * ERR_ARGUMENT (NULL or empty name, negative duration); ERR_NOT_READY (a recording runs);
 * ERR_WINDOW (the window could not be made); the codes of a failed Qelvan_StartPreview() (and
 * ERR_TRANSFER when showWindow is set), then ERR_FILE; ERR_FILE alone when the file could not be
 * created; ERR_THREAD. Later, from the
 * recording thread: ERR_FILE (a write failed, as on a full disk; the file is finished with the
 * frames written); ERR_MEMORY. */
int QELVAN_API Qelvan_Record(QelvanHandle h, const char* fileName, int durationMs,
                             int showWindow);
/** @brief Wide form of Qelvan_Record(); the name is converted to the system code page first.
 * @param h Camera handle.
 * @param fileName AVI file to write; it must be expressible in the system code page.
 * @param durationMs Length in milliseconds, 0 or more.
 * @param showWindow Non-zero: make the preview window.
 * @return 1 when the recording runs; 0 on failure.
 * @par Errors
 * ERR_ARGUMENT (NULL name); ERR_FILE (the name cannot be converted or is 1024 bytes or longer);
 * otherwise as Qelvan_Record(). */
int QELVAN_API Qelvan_RecordW(QelvanHandle h, const wchar_t* fileName, int durationMs,
                              int showWindow);

/** @} */

/** @defgroup config Configuration file
 * @brief A table of value pairs handed to the instance.
 *
 * The file is a sequence of 8-byte records, two little-endian 32-bit integers each, with no
 * header; bytes after the last whole record are ignored. Loading replaces the instance's list
 * of records; no camera setting changes.
 * @{ */

/** @brief Loads a configuration file into the instance's record list; needs no camera.
 * @param h Camera handle.
 * @param path File to read, in the system code page.
 * @return 1 when the file was read (an empty file gives an empty list); 0 otherwise, the earlier
 *         list kept.
 * @par Errors
 * None: a file that cannot be read gives 0 with nothing recorded. */
int QELVAN_API Qelvan_LoadConfigFileA(QelvanHandle h, const char* path);
/** @brief Wide form of Qelvan_LoadConfigFileA(); the path is converted to the thread's code page.
 * @param h Camera handle.
 * @param path File to read.
 * @return 1 when the file was read; 0 otherwise.
 * @par Errors
 * ERR_FILE (NULL path, or it cannot be converted or is 1024 bytes or longer). */
int QELVAN_API Qelvan_LoadConfigFileW(QelvanHandle h, const wchar_t* path);

/** @} */

/** @defgroup dialogs Setting dialogs
 * @brief Modal dialogs that let the user change the settings, in Japanese or English after the
 * system language.
 *
 * The host application must register the common controls (InitCommonControlsEx with the tab,
 * trackbar and up-down classes). One dialog of each kind can be open per instance; a dialog
 * still open when the instance is released ends as if cancelled.
 * @{ */

/** @brief Shows the camera settings dialog: colour mode, image size (stored presets or a custom
 * window), sub-sampling, wait time and clock.
 *
 * OK and Apply store the values in the registry for the camera; after OK the instance takes
 * them over. A preview or capture that ran is stopped while the dialog is open and started
 * again afterwards; trigger mode is held.
 * @param h Camera handle.
 * @param parent Owner window of the dialog; may be NULL.
 * @return 1 when the dialog was shown, whether it ended with OK or Cancel; 0 otherwise.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or this dialog is already open); ERR_WINDOW (the
 * dialog could not be shown). */
int QELVAN_API Qelvan_SetCameraDlg(QelvanHandle h, HWND parent);
/** @brief Shows the analog settings dialog: global and colour gains, exposure, mirrors,
 * automatic exposure or gain.
 *
 * Every change goes to the camera at once; Cancel puts the camera and the settings back as they
 * were.
 * @param h Camera handle.
 * @param parent Owner window of the dialog; may be NULL.
 * @return 1 when the dialog was shown; 0 otherwise.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or this dialog is already open); ERR_WINDOW (the
 * dialog could not be shown). */
int QELVAN_API Qelvan_SetAnalogDlg(QelvanHandle h, HWND parent);
/** @brief Shows the image filter dialog: the software filters, the Bayer gains and mode, the
 * automatic white balance and, in the monochrome modes, the gray filter.
 *
 * The preview follows every change; Cancel restores the filters as they were.
 * @param h Camera handle.
 * @param parent Owner window of the dialog; may be NULL.
 * @return 1 when the dialog was shown; 0 otherwise.
 * @par Errors
 * ERR_NOT_READY (no camera instance opened, or this dialog is already open); ERR_WINDOW (the
 * dialog could not be shown). */
int QELVAN_API Qelvan_SetImageDlg(QelvanHandle h, HWND parent);

/** @} */

/** @defgroup unsupported Functions of other camera models
 * @brief Kept so that programs written for other models link and run; they do nothing here.
 * @{ */

/** @brief Not available on this model.
 * @param h Camera handle.
 * @param ... Any arguments; ignored.
 * @return 0.
 * @par Errors
 * ERR_NOT_SUPPORTED, posted only. */
int QELVAN_API Qelvan_Fpga_ReadRegister(QelvanHandle h, ...);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @param ... Any arguments; ignored.
 * @return 0.
 * @par Errors
 * ERR_NOT_SUPPORTED, posted only. */
int QELVAN_API Qelvan_Fpga_WriteRegister(QelvanHandle h, ...);
/** @brief Not available on this model; Qelvan_CallBackPreview() reports the measured frame rate
 * in FrameInfo::frameRate.
 * @param h Camera handle.
 * @param ... Any arguments; ignored.
 * @return 0.
 * @par Errors
 * ERR_NOT_SUPPORTED, posted only. */
int QELVAN_API Qelvan_Fps(QelvanHandle h, ...);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @param ... Any arguments; ignored.
 * @return 0.
 * @par Errors
 * ERR_NOT_SUPPORTED, posted only. */
int QELVAN_API Qelvan_SetCrossbar(QelvanHandle h, ...);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @param ... Any arguments; ignored.
 * @return 0.
 * @par Errors
 * ERR_NOT_SUPPORTED, posted only. */
int QELVAN_API Qelvan_SetSamplingRate(QelvanHandle h, ...);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @param value Receives 0; may be NULL.
 * @return 0.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetSamplingRate(QelvanHandle h, int* value);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @param value Receives 0; may be NULL.
 * @return 0.
 * @par Errors
 * None. */
int QELVAN_API Qelvan_GetVideoFormat(QelvanHandle h, int* value);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @param value Ignored.
 * @return -1.
 * @par Errors
 * ERR_NOT_SUPPORTED. */
int QELVAN_API Qelvan_SetConfigFilter(QelvanHandle h, int value);
/** @brief Not available on this model.
 * @param h Camera handle.
 * @return -1.
 * @par Errors
 * ERR_NOT_SUPPORTED. */
int QELVAN_API Qelvan_GetConfigFilter(QelvanHandle h);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* QELVAN_SDK_H */
