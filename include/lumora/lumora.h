/*
 * Lumora SDK for the M5XIR TEC short-wave-infrared USB 3.0 camera: the public C interface.
 *
 * Every function takes the handle returned by Lumora_Initialize (except Lumora_GetDllVersion and
 * Lumora_Initialize itself). Results are 1 for success and 0 for failure unless a comment says
 * otherwise; the reason for a failure is read with Lumora_GetLastError and is also posted to the
 * notification window as LUMORA_MSG_ERROR. Getters that can fail take an `int* valid`.
 *
 * Wide-string functions (names ending in W) take UTF-16 text (LUMORA_WCHAR); sizes of wide
 * buffers are counted in UTF-16 units. Narrow strings are in the locale's character set.
 */
#ifndef LUMORA_LUMORA_H
#define LUMORA_LUMORA_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
typedef wchar_t LUMORA_WCHAR;
#define LUMORA_API __declspec(dllimport)
#else
/* A message target: see lumora/host.h for how a Linux application creates one. */
typedef struct LumoraWindow* HWND;
#if defined(__cplusplus)
typedef char16_t LUMORA_WCHAR;
#else
typedef uint_least16_t LUMORA_WCHAR;
#endif
#define LUMORA_API __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
#define LUMORA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define LUMORA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Window messages posted to the application. */
#define LUMORA_MSG_FRAME 0x8002 /* wParam: LUMORA_FRAME_INFO* or 0; lParam: 0 or 5, 8, 13 */
#define LUMORA_MSG_ERROR 0x8003 /* wParam: 0; lParam: the error code */

/* Error codes kept in the per-handle history and carried by the messages. Code 10 is unused. */
enum LumoraErrorCode {
    ERR_NONE = 0,
    ERR_NOT_READY = 1,
    ERR_DEVICE = 2,
    ERR_THREAD = 3,
    ERR_WINDOW = 4,
    ERR_MEMORY = 5,
    ERR_IO = 6,
    ERR_WINDOW_SIZE = 7,
    ERR_FRAME = 8,
    ERR_PARAMETER = 9,
    ERR_UNSUPPORTED = 11,
    ERR_TEXT = 12,
    ERR_DEVICE_LOST = 13,
    ERR_MASK_FILE = 14
};

/* Filled by Lumora_GetCameraInfo. Set `size` first: at least 36; 56 or more for the doubles. */
typedef struct LUMORA_CAMERA_INFO {
    int32_t size;
    int32_t maxWidth;
    int32_t maxHeight;
    int32_t globalGainMin;
    int32_t globalGainMax;
    int32_t colorGainMin;
    int32_t colorGainMax;
    int32_t exposureMin;  /* 0.1 ms units */
    int32_t exposureMax;  /* 0.1 ms units */
    int32_t unused;       /* never written */
    double exposureExMin; /* seconds; extended form only */
    double exposureExMax; /* seconds; extended form only */
} LUMORA_CAMERA_INFO;

LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, maxWidth) == 4, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, exposureMax) == 32, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, unused) == 36, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, exposureExMin) == 40, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, exposureExMax) == 48, "camera info layout");
LUMORA_STATIC_ASSERT(sizeof(LUMORA_CAMERA_INFO) == 56, "camera info size");

/* Passed by address with every LUMORA_MSG_FRAME; valid for the life of the handle. */
typedef struct LUMORA_FRAME_INFO {
    int32_t reserved;          /* always 0 */
    int32_t width;             /* raw image width in pixels */
    int32_t height;            /* raw image height in pixels */
    int32_t bitsPerPixel;      /* 8, 16, 24, 32, 48 or 64 */
    int32_t frameRate10;       /* measured frames per second x 10; 0 in a trigger run */
    int32_t alignment;         /* 0 */
    unsigned char* userBuffer; /* the caller's buffer at the time of the frame, may be null */
} LUMORA_FRAME_INFO;

LUMORA_STATIC_ASSERT(offsetof(LUMORA_FRAME_INFO, frameRate10) == 16, "frame info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_FRAME_INFO, alignment) == 20, "frame info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_FRAME_INFO, userBuffer) == 24, "frame info layout");
LUMORA_STATIC_ASSERT(sizeof(LUMORA_FRAME_INFO) == 32, "frame info size");

/* ---- Lifecycle and devices -------------------------------------------------------------- */
LUMORA_API int Lumora_GetDllVersion(void);           /* 36111649 (0x02270521) */
LUMORA_API int Lumora_Initialize(HWND notifyWindow); /* handle, 0 when no session could be made */
LUMORA_API int Lumora_Release(int handle);
LUMORA_API int Lumora_GetLastError(int handle);            /* pops the newest code; 0 when none */
LUMORA_API int Lumora_GetStatus(int handle);               /* always 0 */
LUMORA_API int Lumora_EnumDevice(int handle, char* names); /* 10 slots of 256 bytes; count */
LUMORA_API int Lumora_EnumDeviceW(int handle, LUMORA_WCHAR* names); /* 10 slots of 256 units */
LUMORA_API int Lumora_SetDeviceNumber(int handle, int number);
LUMORA_API int Lumora_GetDeviceName(int handle, int index, char* name, int size);
LUMORA_API int Lumora_GetDeviceNameW(int handle, int index, LUMORA_WCHAR* name, int size);
LUMORA_API int Lumora_GetCameraInfo(int handle, LUMORA_CAMERA_INFO* info);
LUMORA_API int Lumora_ReadSerialNumberA(int handle, char* text, int size);
LUMORA_API int Lumora_ReadSerialNumberW(int handle, LUMORA_WCHAR* text, int size);

/* ---- Capture and images ----------------------------------------------------------------- */
LUMORA_API int Lumora_Preview(int handle);
/* rowOrder != 0: top-down rows; 0: bottom-up rows. */
LUMORA_API int Lumora_CallBackPreview(int handle, HWND frameWindow, unsigned char* buffer, int size,
                                      int rowOrder);
LUMORA_API int Lumora_StartPreview(int handle);
LUMORA_API int Lumora_StopPreview(int handle);
LUMORA_API int Lumora_Capture(int handle);
LUMORA_API int Lumora_SnapShot(int handle, unsigned char* buffer, int size, int rowOrder);
/* Copies the picture of the last frame taken. It fails with code 1 when there is none, or when
 * that frame was made in another colour mode than the current one. */
LUMORA_API int Lumora_GetImage(int handle, unsigned char* buffer, int size, int rowOrder);
LUMORA_API int Lumora_Trigger(int handle, HWND frameWindow, unsigned char* buffer, int size,
                              int rowOrder);
LUMORA_API int Lumora_Close(int handle);
LUMORA_API int Lumora_SetPreviewWindow(int handle, HWND parent, int x, int y, int width,
                                       int height);
LUMORA_API int Lumora_SetWaitTime(int handle, int milliseconds);
LUMORA_API int Lumora_GetWaitTime(int handle); /* -1 for an unknown handle */

/* ---- Image format ----------------------------------------------------------------------- */
LUMORA_API int Lumora_SetColorMode(int handle, int bits); /* 8, 16, 24, 32, 48, 64 */
LUMORA_API int Lumora_GetColorMode(int handle);           /* bits, or -1 */
LUMORA_API int Lumora_SetCaptureWindow(int handle, int width, int height);
LUMORA_API int Lumora_SetCaptureWindowEx(int handle, int hTotal, int hStart, int hEffective,
                                         int vTotal, int vStart, int vEffective);
LUMORA_API int Lumora_GetCaptureWindowEx(int handle, int* hTotal, int* hStart, int* hEffective,
                                         int* vTotal, int* vStart, int* vEffective);
LUMORA_API int Lumora_SetSubSample(int handle, int mode); /* 0 or 1 */
LUMORA_API int Lumora_GetSubSample(int handle);           /* -1 for an unknown handle */
/* The capture window's width and height, before subsampling. While a capture is prepared or a
 * run is active they are those of the frames being delivered: a window set meanwhile is stored
 * and takes effect (and shows here) from the next preparation on. */
LUMORA_API int Lumora_Width(int handle);
LUMORA_API int Lumora_Height(int handle);
LUMORA_API int Lumora_SetSamplingRate(int handle, int rate);
LUMORA_API int Lumora_GetSamplingRate(int handle, int* value); /* always 0 */
LUMORA_API int Lumora_GetVideoFormat(int handle, int* value);  /* always 0 */

/* ---- Exposure, gain, orientation, cooler -------------------------------------------------- */
LUMORA_API int Lumora_SetExposureTime(int handle, int value); /* 0.1 ms units */
LUMORA_API int Lumora_GetExposureTime(int handle, int* valid);
LUMORA_API int Lumora_SetExposureTimeEx(int handle, double seconds);
LUMORA_API double Lumora_GetExposureTimeEx(int handle, int* valid); /* 0.0 for an unknown handle */
LUMORA_API int Lumora_SetRealExposureTime(int handle, int microseconds);
LUMORA_API int Lumora_GetRealExposureTime(int handle, int* valid);
LUMORA_API int Lumora_SetGlobalGain(int handle, int value);
LUMORA_API int Lumora_GetGlobalGain(int handle, int* valid);
LUMORA_API int Lumora_SetColorGainRed(int handle, int value);
LUMORA_API int Lumora_GetColorGainRed(int handle, int* valid);
LUMORA_API int Lumora_SetColorGainGreen1(int handle, int value);
LUMORA_API int Lumora_GetColorGainGreen1(int handle, int* valid);
LUMORA_API int Lumora_SetColorGainGreen2(int handle, int value);
LUMORA_API int Lumora_GetColorGainGreen2(int handle, int* valid);
LUMORA_API int Lumora_SetColorGainBlue(int handle, int value);
LUMORA_API int Lumora_GetColorGainBlue(int handle, int* valid);
LUMORA_API int Lumora_SetMirrorH(int handle, int on);
LUMORA_API int Lumora_SetMirrorV(int handle, int on);
LUMORA_API int Lumora_GetMirrorH(int handle);
LUMORA_API int Lumora_GetMirrorV(int handle);
LUMORA_API int Lumora_SetAutoIris(int handle, int mode); /* 0 off, 1 exposure, 2 gain */
LUMORA_API int Lumora_GetAutoIris(int handle, int* valid);
LUMORA_API int Lumora_SetPeltier(int handle, int value);
LUMORA_API int Lumora_GetPeltier(int handle, int* valid);
LUMORA_API int Lumora_GetTemperature(int handle, int* valid);      /* not offered: -1 */
LUMORA_API double Lumora_GetTemperatureEx(int handle, int* valid); /* degrees Celsius */

/* ---- Functions this camera does not offer (error 11) ---------------------------------------- */
LUMORA_API int Lumora_Fps(int handle);
LUMORA_API int Lumora_GetHalfClock(int handle);
LUMORA_API int Lumora_SetHalfClock(int handle, int on);
LUMORA_API int Lumora_SetCrossbar(int handle, int value);
LUMORA_API int Lumora_SendText(int handle, const char* text);
LUMORA_API int Lumora_ReceiveText(int handle, char* text, int size);
LUMORA_API int Lumora_SetConfigFilter(int handle, int id, int value);  /* -1 */
LUMORA_API int Lumora_GetConfigFilter(int handle, int id, int* valid); /* -1 */

/* ---- Filter values by number --------------------------------------------------------------- */
LUMORA_API int Lumora_GetFilterValue(int handle, int id, int* valid);
LUMORA_API int Lumora_SetFilterValue(int handle, int id, int value);
LUMORA_API int Lumora_GetBrightness(int handle, int* valid);
LUMORA_API int Lumora_SetBrightness(int handle, int value);
LUMORA_API int Lumora_GetContrast(int handle, int* valid);
LUMORA_API int Lumora_SetContrast(int handle, int value);
LUMORA_API int Lumora_GetHue(int handle, int* valid);
LUMORA_API int Lumora_SetHue(int handle, int value);
LUMORA_API int Lumora_GetSaturation(int handle, int* valid);
LUMORA_API int Lumora_SetSaturation(int handle, int value);
LUMORA_API int Lumora_GetSharpness(int handle, int* valid);
LUMORA_API int Lumora_SetSharpness(int handle, int value);
LUMORA_API int Lumora_GetBayerGainRGB(int handle, int* valid);
LUMORA_API int Lumora_SetBayerGainRGB(int handle, int value); /* red | green << 8 | blue << 16 */
LUMORA_API int Lumora_GetBayerGainRed(int handle, int* valid);
LUMORA_API int Lumora_SetBayerGainRed(int handle, int value);
LUMORA_API int Lumora_GetBayerGainGreen(int handle, int* valid);
LUMORA_API int Lumora_SetBayerGainGreen(int handle, int value);
LUMORA_API int Lumora_GetBayerGainBlue(int handle, int* valid);
LUMORA_API int Lumora_SetBayerGainBlue(int handle, int value);
LUMORA_API int Lumora_GetBayerGainAuto(int handle, int* valid);
LUMORA_API int Lumora_SetBayerGainAuto(int handle, int value);
LUMORA_API int Lumora_GetGamma(int handle, int* valid);
LUMORA_API int Lumora_SetGamma(int handle, int value);
LUMORA_API int Lumora_GetBayerMode(int handle, int* valid);
LUMORA_API int Lumora_SetBayerMode(int handle, int value);
LUMORA_API int Lumora_GetGrayMode(int handle, int* valid);
LUMORA_API int Lumora_SetGrayMode(int handle, int value);
LUMORA_API int Lumora_GetGrayGainR(int handle, int* valid);
LUMORA_API int Lumora_SetGrayGainR(int handle, int value);
LUMORA_API int Lumora_GetGrayGainG1(int handle, int* valid);
LUMORA_API int Lumora_SetGrayGainG1(int handle, int value);
LUMORA_API int Lumora_GetGrayGainG2(int handle, int* valid);
LUMORA_API int Lumora_SetGrayGainG2(int handle, int value);
LUMORA_API int Lumora_GetGrayGainB(int handle, int* valid);
LUMORA_API int Lumora_SetGrayGainB(int handle, int value);
LUMORA_API int Lumora_GetGrayOffsetR(int handle, int* valid);
LUMORA_API int Lumora_SetGrayOffsetR(int handle, int value);
LUMORA_API int Lumora_GetGrayOffsetG1(int handle, int* valid);
LUMORA_API int Lumora_SetGrayOffsetG1(int handle, int value);
LUMORA_API int Lumora_GetGrayOffsetG2(int handle, int* valid);
LUMORA_API int Lumora_SetGrayOffsetG2(int handle, int value);
LUMORA_API int Lumora_GetGrayOffsetB(int handle, int* valid);
LUMORA_API int Lumora_SetGrayOffsetB(int handle, int value);
LUMORA_API int Lumora_GetChannelGain(int handle, int channel, int* valid); /* channel 1..4 */
LUMORA_API int Lumora_SetChannelGain(int handle, int channel, int value);
LUMORA_API int Lumora_GetChannelOffset(int handle, int channel, int* valid);
LUMORA_API int Lumora_SetChannelOffset(int handle, int channel, int value);
LUMORA_API int Lumora_GetDotFilter(int handle, int* valid);
LUMORA_API int Lumora_SetDotFilter(int handle, int value);
LUMORA_API int Lumora_GetMaskFilter(int handle, int* valid);
LUMORA_API int Lumora_SetMaskFilter(int handle, int value);

/* ---- Registers, memories, the camera's own defect correction ------------------------------- */
LUMORA_API int Lumora_WriteRegister(int handle, int address, int value);
LUMORA_API int Lumora_WriteRegisterEx(int handle, int address, int value);
LUMORA_API int Lumora_ReadRegister(int handle, int address, int* valid);
LUMORA_API int Lumora_ReadRegisterEx(int handle, int address, int* valid);
LUMORA_API int Lumora_Fpga_WriteRegister(int handle, int address, int value);
LUMORA_API int Lumora_Fpga_ReadRegister(int handle, int address, int* valid);
LUMORA_API int Lumora_ReadSromID(int handle, int address, int* valid);
LUMORA_API int Lumora_WriteSromID(int handle, int address, int value);
LUMORA_API int Lumora_GetInternalCorrection(int handle, int* valid);
LUMORA_API int Lumora_SetInternalCorrection(int handle, int on);
LUMORA_API int Lumora_EnableDefectivePixelCorrection(int handle, int on);
LUMORA_API int Lumora_IsAvailableDefectivePixelCorrection(int handle);
LUMORA_API int Lumora_IsEnabledDefectivePixelCorrection(int handle);
LUMORA_API int Lumora_IsAvailableDefectivePixelCorrectionThreshold(int handle);
LUMORA_API int Lumora_SetDefectivePixelCorrectionThreshold(int handle, int value);
LUMORA_API int Lumora_GetDefectivePixelCorrectionThreshold(int handle, int* value);
LUMORA_API int Lumora_GetDefectivePixelCorrectionThresholdRange(int handle, int* min, int* max);
LUMORA_API int Lumora_SetIOPort(int handle, int value);
LUMORA_API int Lumora_GetIOPort(int handle, unsigned char* value);

/* ---- Files, masks, dialogs ----------------------------------------------------------------- */
LUMORA_API int Lumora_Record(int handle, const char* fileName, int durationMs, int showWindow);
LUMORA_API int Lumora_RecordW(int handle, const LUMORA_WCHAR* fileName, int durationMs,
                              int showWindow);
LUMORA_API int Lumora_SaveImage(int handle, const char* fileName, int format);
LUMORA_API int Lumora_SaveImageW(int handle, const LUMORA_WCHAR* fileName, int format);
LUMORA_API int Lumora_LoadConfigFileA(int handle, const char* path);
LUMORA_API int Lumora_LoadConfigFileW(int handle, const LUMORA_WCHAR* path);
LUMORA_API int Lumora_LoadMaskFile(int handle, const char* path);
LUMORA_API int Lumora_LoadMaskFileW(int handle, const LUMORA_WCHAR* path);
LUMORA_API int Lumora_SaveMaskFile(int handle, const char* path);
LUMORA_API int Lumora_SaveMaskFileW(int handle, const LUMORA_WCHAR* path);
LUMORA_API int Lumora_UpdateMaskData(int handle, int which); /* 0 or 1 */
/*
 * The settings dialogs are modal: each runs its own loop on the calling thread and returns 1 when
 * it closes (OK or Cancel alike), 0 with code 1 without a camera driver. Call them from one
 * thread: the GTK thread in a GTK application, or any one thread in an application without GTK
 * (the first thread that shows a dialog initialises GTK and keeps it). While a dialog is open,
 * or from another thread than GTK's, a call returns 0 with code 3 (ERR_THREAD). Without a display
 * or without GTK the call ends as if Cancel had been pressed (the reason goes to standard error
 * under LUMORA_DEBUG). `owner` may be null (the dialog is centred on the screen).
 */
LUMORA_API int Lumora_SetCameraDlg(int handle, HWND owner);
LUMORA_API int Lumora_SetAnalogDlg(int handle, HWND owner);
LUMORA_API int Lumora_SetImageDlg(int handle, HWND owner);

#if defined(__cplusplus)
}
#endif

#endif /* LUMORA_LUMORA_H */
