/* QelvanSdk.h: public interface of QelvanSdk_Z51QK2_RVN.dll, the access library for the
 * Qelvan Z51QK2-RVN USB camera (752 x 480 CMOS sensor, monochrome or Bayer colour).
 *
 * Every function is __cdecl. Apart from Qelvan_Initialize and Qelvan_GetDllVersion each takes
 * the camera handle first; an unknown handle makes every function return 0 (-1 for
 * Qelvan_GetColorMode, Qelvan_GetSubSample and Qelvan_GetWaitTime). Actions return 1 on success
 * and 0 on failure; getters that can fail take a trailing int* success flag (may be NULL). */
#ifndef QELVAN_SDK_H
#define QELVAN_SDK_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QELVAN_API __cdecl

/* Version of this header and of the library it ships with (the DLL's file version), for
 * compile-time checks: #if QELVAN_SDK_VERSION_MAJOR == 1 && QELVAN_SDK_VERSION_MINOR >= 144 */
#define QELVAN_SDK_VERSION_MAJOR 1
#define QELVAN_SDK_VERSION_MINOR 144
#define QELVAN_SDK_VERSION_PATCH 5
#define QELVAN_SDK_VERSION_BUILD 31
#define QELVAN_SDK_VERSION_STRING "1.144.5.31"

/* A camera handle; 0 names no camera instance. */
typedef int QelvanHandle;

/* Posted to the frame window per delivered frame: wParam = FrameInfo*, lParam = 0; on a
 * failure wParam = 0 and lParam = the error code. */
#define WM_CAMERA_FRAME (WM_APP + 2)
/* Posted to the notification window on an error: wParam = 0, lParam = the error code. */
#define WM_CAMERA_ERROR (WM_APP + 3)

/* Error codes, read newest first with Qelvan_GetLastError (0 = none left). */
#define ERR_NOT_READY 1          /* no device, wrong acquisition mode, or no frame yet */
#define ERR_DEVICE_UNAVAILABLE 2 /* no camera at that number, or in use by another program */
#define ERR_THREAD 3             /* a worker thread or event could not be created */
#define ERR_WINDOW 4             /* preview window failed, or no capture-size preset matches */
#define ERR_MEMORY 5             /* an image buffer failed, or the caller's buffer is too small */
#define ERR_DEVICE_IO 6          /* a register access failed or streaming could not start */
#define ERR_GEOMETRY 7           /* capture window outside the sensor, or sub-sampling refused */
#define ERR_TRANSFER 8           /* a frame transfer failed */
#define ERR_ARGUMENT 9           /* argument out of range, null pointer or text buffer too short */
#define ERR_NOT_SUPPORTED 11     /* the function does not exist on this camera model */
#define ERR_FILE 12              /* file name conversion failed or a file could not be opened */
#define ERR_DEVICE_LOST 13       /* the camera stopped streaming while previewing */

/* Acquisition modes. */
#define MODE_IDLE 0
#define MODE_PREVIEW 1
#define MODE_CAPTURE 2
#define MODE_TRIGGER 3

/* Still image file types for Qelvan_SaveImage. */
#define QELVAN_FILE_BMP 0        /* bottom-up Windows bitmap */
#define QELVAN_FILE_RAW 1        /* the image memory, unchanged */
#define QELVAN_FILE_JPEG_HIGH 2  /* JPEG, quality 100 */
#define QELVAN_FILE_JPEG 3       /* JPEG, quality 70 */
#define QELVAN_FILE_JPEG_LOW 4   /* JPEG, quality 20 */
#define QELVAN_FILE_PNG 5        /* PNG */
#define QELVAN_FILE_TIFF 6       /* uncompressed TIFF, one strip */

/* Description of the last delivered frame; WM_CAMERA_FRAME carries its address. */
typedef struct FrameInfo {
  int size;         /* sizeof(FrameInfo): 24, or 32 in a 64-bit process */
  int width;        /* raw image width in pixels */
  int height;       /* raw image height in pixels */
  int bitsPerPixel; /* 8, 16, 24, 32, 48 or 64 */
  int frameRate;    /* measured frames per second x 10 (0 in trigger mode) */
  void* buffer;     /* the application's frame buffer, or NULL */
} FrameInfo;

/* Camera limits for Qelvan_GetCameraInfo; set size to sizeof(QelvanCameraInfo) first. */
typedef struct QelvanCameraInfo {
  int size;          /* set by the caller; at least 36 */
  int width;         /* sensor width, 752 */
  int height;        /* sensor height, 480 */
  int globalGainMin; /* minimum global gain */
  int globalGainMax; /* maximum global gain */
  int colorGainMin;  /* minimum colour gain */
  int colorGainMax;  /* maximum colour gain */
  int exposureMin;   /* minimum exposure in lines */
  int exposureMax;   /* maximum exposure in lines */
} QelvanCameraInfo;

/* Lifetime and errors */
QelvanHandle QELVAN_API Qelvan_Initialize(HWND notifyWindow); /* new camera instance; 0 on failure */
int QELVAN_API Qelvan_Release(QelvanHandle h);                 /* destroys the instance; 1, or 0 if unknown */
int QELVAN_API Qelvan_GetDllVersion(void);                     /* library version, 26215711 */
int QELVAN_API Qelvan_GetLastError(QelvanHandle h);            /* pops the newest error code; 0 when none */

/* Device selection */
int QELVAN_API Qelvan_EnumDevice(QelvanHandle h, char names[10][256]);     /* lists up to ten cameras; returns the count */
int QELVAN_API Qelvan_EnumDeviceW(QelvanHandle h, wchar_t names[10][256]); /* wide form of Qelvan_EnumDevice */
int QELVAN_API Qelvan_GetDeviceName(QelvanHandle h, int number, char* buffer, int length);     /* name of camera number; cut to length */
int QELVAN_API Qelvan_GetDeviceNameW(QelvanHandle h, int number, wchar_t* buffer, int length); /* wide form */
int QELVAN_API Qelvan_SetDeviceNumber(QelvanHandle h, int number); /* selects camera number 0..31 while idle */
int QELVAN_API Qelvan_Close(QelvanHandle h);                       /* stops acquisition, closes the window */

/* Acquisition */
int QELVAN_API Qelvan_Preview(QelvanHandle h); /* starts preview in the library's window */
int QELVAN_API Qelvan_CallBackPreview(QelvanHandle h, HWND frameWindow, void* buffer, int size,
                                      int topDown); /* preview with per-frame copy and WM_CAMERA_FRAME */
int QELVAN_API Qelvan_StartPreview(QelvanHandle h); /* starts preview with the stored delivery values */
int QELVAN_API Qelvan_StopPreview(QelvanHandle h);  /* stops any acquisition mode */
int QELVAN_API Qelvan_Capture(QelvanHandle h);      /* enters capture mode (frames by Qelvan_SnapShot) */
int QELVAN_API Qelvan_SnapShot(QelvanHandle h, void* buffer, int size, int topDown); /* takes one frame now */
int QELVAN_API Qelvan_Trigger(QelvanHandle h, HWND frameWindow, void* buffer, int size,
                              int topDown); /* enters external-trigger mode */
int QELVAN_API Qelvan_GetImage(QelvanHandle h, void* buffer, int size, int topDown); /* copies the current image */
int QELVAN_API Qelvan_GetStatus(QelvanHandle h, int reserved); /* always 0 */

/* Window and geometry */
int QELVAN_API Qelvan_SetPreviewWindow(QelvanHandle h, HWND parent, int x, int y, int width,
                                       int height); /* places the preview window */
int QELVAN_API Qelvan_SetCaptureWindow(QelvanHandle h, int width, int height); /* selects a stored size preset */
int QELVAN_API Qelvan_SetCaptureWindowEx(QelvanHandle h, int TH, int EHS, int EH, int TV, int EVS,
                                         int EV); /* sets the capture window on the sensor */
int QELVAN_API Qelvan_GetCaptureWindowEx(QelvanHandle h, int* TH, int* EHS, int* EH, int* TV, int* EVS,
                                         int* EV); /* reads the capture window */
int QELVAN_API Qelvan_Width(QelvanHandle h);  /* capture window width in sensor pixels */
int QELVAN_API Qelvan_Height(QelvanHandle h); /* capture window height in sensor pixels */
int QELVAN_API Qelvan_GetCameraInfo(QelvanHandle h, QelvanCameraInfo* info); /* camera limits */

/* Image settings by filter number (1..28) */
int QELVAN_API Qelvan_SetFilterValue(QelvanHandle h, int number, int value); /* sets one image setting */
int QELVAN_API Qelvan_GetFilterValue(QelvanHandle h, int number, int* ok);   /* reads one image setting */
/* Named forms: Set(h, value) and Get(h, ok) for filter numbers 1..27. */
int QELVAN_API Qelvan_SetBrightness(QelvanHandle h, int value);      /* filter 1 */
int QELVAN_API Qelvan_GetBrightness(QelvanHandle h, int* ok);        /* filter 1 */
int QELVAN_API Qelvan_SetContrast(QelvanHandle h, int value);        /* filter 2 */
int QELVAN_API Qelvan_GetContrast(QelvanHandle h, int* ok);          /* filter 2 */
int QELVAN_API Qelvan_SetHue(QelvanHandle h, int value);             /* filter 3 */
int QELVAN_API Qelvan_GetHue(QelvanHandle h, int* ok);               /* filter 3 */
int QELVAN_API Qelvan_SetSaturation(QelvanHandle h, int value);      /* filter 4 */
int QELVAN_API Qelvan_GetSaturation(QelvanHandle h, int* ok);        /* filter 4 */
int QELVAN_API Qelvan_SetSharpness(QelvanHandle h, int value);       /* filter 5 */
int QELVAN_API Qelvan_GetSharpness(QelvanHandle h, int* ok);         /* filter 5 */
int QELVAN_API Qelvan_SetBayerGainRGB(QelvanHandle h, int value);    /* filter 6 */
int QELVAN_API Qelvan_GetBayerGainRGB(QelvanHandle h, int* ok);      /* filter 6 */
int QELVAN_API Qelvan_SetBayerGainRed(QelvanHandle h, int value);    /* filter 7 */
int QELVAN_API Qelvan_GetBayerGainRed(QelvanHandle h, int* ok);      /* filter 7 */
int QELVAN_API Qelvan_SetBayerGainGreen(QelvanHandle h, int value);  /* filter 8 */
int QELVAN_API Qelvan_GetBayerGainGreen(QelvanHandle h, int* ok);    /* filter 8 */
int QELVAN_API Qelvan_SetBayerGainBlue(QelvanHandle h, int value);   /* filter 9 */
int QELVAN_API Qelvan_GetBayerGainBlue(QelvanHandle h, int* ok);     /* filter 9 */
int QELVAN_API Qelvan_SetBayerGainAuto(QelvanHandle h, int value);   /* filter 10 */
int QELVAN_API Qelvan_GetBayerGainAuto(QelvanHandle h, int* ok);     /* filter 10 */
int QELVAN_API Qelvan_SetGamma(QelvanHandle h, int value);           /* filter 11 */
int QELVAN_API Qelvan_GetGamma(QelvanHandle h, int* ok);             /* filter 11 */
int QELVAN_API Qelvan_SetBayerMode(QelvanHandle h, int value);       /* filter 12 */
int QELVAN_API Qelvan_GetBayerMode(QelvanHandle h, int* ok);         /* filter 12 */
int QELVAN_API Qelvan_SetGlobalGain(QelvanHandle h, int value);      /* filter 13 */
int QELVAN_API Qelvan_GetGlobalGain(QelvanHandle h, int* ok);        /* filter 13 */
int QELVAN_API Qelvan_SetColorGainRed(QelvanHandle h, int value);    /* filter 14 */
int QELVAN_API Qelvan_GetColorGainRed(QelvanHandle h, int* ok);      /* filter 14 */
int QELVAN_API Qelvan_SetColorGainGreen1(QelvanHandle h, int value); /* filter 15 */
int QELVAN_API Qelvan_GetColorGainGreen1(QelvanHandle h, int* ok);   /* filter 15 */
int QELVAN_API Qelvan_SetColorGainGreen2(QelvanHandle h, int value); /* filter 16 */
int QELVAN_API Qelvan_GetColorGainGreen2(QelvanHandle h, int* ok);   /* filter 16 */
int QELVAN_API Qelvan_SetColorGainBlue(QelvanHandle h, int value);   /* filter 17 */
int QELVAN_API Qelvan_GetColorGainBlue(QelvanHandle h, int* ok);     /* filter 17 */
int QELVAN_API Qelvan_SetExposureTime(QelvanHandle h, int value);    /* filter 18, in lines */
int QELVAN_API Qelvan_GetExposureTime(QelvanHandle h, int* ok);      /* filter 18, in lines */
int QELVAN_API Qelvan_SetGrayMode(QelvanHandle h, int value);        /* filter 19 */
int QELVAN_API Qelvan_GetGrayMode(QelvanHandle h, int* ok);          /* filter 19 */
int QELVAN_API Qelvan_SetGrayGainR(QelvanHandle h, int value);       /* filter 20 */
int QELVAN_API Qelvan_GetGrayGainR(QelvanHandle h, int* ok);         /* filter 20 */
int QELVAN_API Qelvan_SetGrayGainG1(QelvanHandle h, int value);      /* filter 21 */
int QELVAN_API Qelvan_GetGrayGainG1(QelvanHandle h, int* ok);        /* filter 21 */
int QELVAN_API Qelvan_SetGrayGainG2(QelvanHandle h, int value);      /* filter 22 */
int QELVAN_API Qelvan_GetGrayGainG2(QelvanHandle h, int* ok);        /* filter 22 */
int QELVAN_API Qelvan_SetGrayGainB(QelvanHandle h, int value);       /* filter 23 */
int QELVAN_API Qelvan_GetGrayGainB(QelvanHandle h, int* ok);         /* filter 23 */
int QELVAN_API Qelvan_SetGrayOffsetR(QelvanHandle h, int value);     /* filter 24 */
int QELVAN_API Qelvan_GetGrayOffsetR(QelvanHandle h, int* ok);       /* filter 24 */
int QELVAN_API Qelvan_SetGrayOffsetG1(QelvanHandle h, int value);    /* filter 25 */
int QELVAN_API Qelvan_GetGrayOffsetG1(QelvanHandle h, int* ok);      /* filter 25 */
int QELVAN_API Qelvan_SetGrayOffsetG2(QelvanHandle h, int value);    /* filter 26 */
int QELVAN_API Qelvan_GetGrayOffsetG2(QelvanHandle h, int* ok);      /* filter 26 */
int QELVAN_API Qelvan_SetGrayOffsetB(QelvanHandle h, int value);     /* filter 27 */
int QELVAN_API Qelvan_GetGrayOffsetB(QelvanHandle h, int* ok);       /* filter 27 */

/* Camera instance and sensor settings */
int QELVAN_API Qelvan_SetColorMode(QelvanHandle h, int bits);  /* 8, 16, 24, 32, 48 or 64 bits per pixel */
int QELVAN_API Qelvan_GetColorMode(QelvanHandle h);            /* 8, 10, 24, 32, 42 or 58 */
int QELVAN_API Qelvan_SetSubSample(QelvanHandle h, int mode);  /* 0 full, 1 half, 2 quarter */
int QELVAN_API Qelvan_GetSubSample(QelvanHandle h);            /* the sub-sample mode */
int QELVAN_API Qelvan_SetMirrorH(QelvanHandle h, int on);      /* horizontal mirror, at once */
int QELVAN_API Qelvan_GetMirrorH(QelvanHandle h);              /* the stored horizontal mirror flag */
int QELVAN_API Qelvan_SetMirrorV(QelvanHandle h, int on);      /* vertical mirror, at once */
int QELVAN_API Qelvan_GetMirrorV(QelvanHandle h);              /* the stored vertical mirror flag */
int QELVAN_API Qelvan_SetHalfClock(QelvanHandle h, int clock); /* sensor clock setting for the next start */
int QELVAN_API Qelvan_GetHalfClock(QelvanHandle h, int* ok);   /* clock setting read from the camera */
int QELVAN_API Qelvan_SetWaitTime(QelvanHandle h, int ms);     /* preview loop sleep, 0 or more */
int QELVAN_API Qelvan_GetWaitTime(QelvanHandle h);             /* the preview loop sleep */
int QELVAN_API Qelvan_SetAutoIris(QelvanHandle h, int mode);   /* 0 off, 1 auto exposure, 2 auto gain */
int QELVAN_API Qelvan_GetAutoIris(QelvanHandle h, int* ok);    /* the automatic exposure mode */
int QELVAN_API Qelvan_SetRealExposureTime(QelvanHandle h, int microseconds); /* exposure in microseconds */
int QELVAN_API Qelvan_GetRealExposureTime(QelvanHandle h, int* ok);          /* exposure in microseconds */

/* Device registers and ports */
int QELVAN_API Qelvan_ReadRegister(QelvanHandle h, int reg, int* ok);     /* sensor register (low 8 bits of reg) */
int QELVAN_API Qelvan_ReadRegisterEx(QelvanHandle h, int reg, int* ok);   /* sensor register */
int QELVAN_API Qelvan_WriteRegister(QelvanHandle h, int reg, int value);  /* writes a sensor register */
int QELVAN_API Qelvan_WriteRegisterEx(QelvanHandle h, int reg, int value); /* same as Qelvan_WriteRegister */
int QELVAN_API Qelvan_ReadSromID(QelvanHandle h, int index, int* ok);     /* one serial ROM byte, index 0..255 */
int QELVAN_API Qelvan_WriteSromID(QelvanHandle h, int index, int value);  /* writes one serial ROM byte, index 0..255 */
int QELVAN_API Qelvan_GetIOPort(QelvanHandle h, unsigned char* value, int reserved1,
                                int reserved2);                 /* reads the general-purpose I/O port */
int QELVAN_API Qelvan_SetIOPort(QelvanHandle h, int value);     /* writes the general-purpose I/O port */

/* Files */
int QELVAN_API Qelvan_SaveImage(QelvanHandle h, const char* fileName, int fileType);     /* saves the current frame */
int QELVAN_API Qelvan_SaveImageW(QelvanHandle h, const wchar_t* fileName, int fileType); /* wide form */
int QELVAN_API Qelvan_Record(QelvanHandle h, const char* fileName, int durationMs,
                             int showWindow); /* records an AVI file for a given time */
int QELVAN_API Qelvan_RecordW(QelvanHandle h, const wchar_t* fileName, int durationMs,
                              int showWindow);                               /* wide form */
int QELVAN_API Qelvan_LoadConfigFileA(QelvanHandle h, const char* path);     /* loads a configuration file */
int QELVAN_API Qelvan_LoadConfigFileW(QelvanHandle h, const wchar_t* path);  /* wide form */

/* Setting dialogs (modal) */
int QELVAN_API Qelvan_SetCameraDlg(QelvanHandle h, HWND parent); /* stream format, size, clock */
int QELVAN_API Qelvan_SetAnalogDlg(QelvanHandle h, HWND parent); /* gains, exposure, mirrors */
int QELVAN_API Qelvan_SetImageDlg(QelvanHandle h, HWND parent);  /* software image filters */

/* Not available on this model: kept for compatibility with other models' programs. */
int QELVAN_API Qelvan_Fpga_ReadRegister(QelvanHandle h, ...);  /* posts ERR_NOT_SUPPORTED; 0 */
int QELVAN_API Qelvan_Fpga_WriteRegister(QelvanHandle h, ...); /* posts ERR_NOT_SUPPORTED; 0 */
int QELVAN_API Qelvan_Fps(QelvanHandle h, ...);                /* posts ERR_NOT_SUPPORTED; 0 */
int QELVAN_API Qelvan_SetCrossbar(QelvanHandle h, ...);        /* posts ERR_NOT_SUPPORTED; 0 */
int QELVAN_API Qelvan_SetSamplingRate(QelvanHandle h, ...);    /* posts ERR_NOT_SUPPORTED; 0 */
int QELVAN_API Qelvan_GetSamplingRate(QelvanHandle h, int* value); /* stores 0; returns 0 */
int QELVAN_API Qelvan_GetVideoFormat(QelvanHandle h, int* value);  /* stores 0; returns 0 */
int QELVAN_API Qelvan_SetConfigFilter(QelvanHandle h, int value);  /* records ERR_NOT_SUPPORTED; -1 */
int QELVAN_API Qelvan_GetConfigFilter(QelvanHandle h);             /* records ERR_NOT_SUPPORTED; -1 */

#ifdef __cplusplus
}
#endif

#endif /* QELVAN_SDK_H */
