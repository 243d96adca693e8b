/**
 * @file lumora.h
 * @brief The public C interface of the Lumora SDK for the M5XIR TEC short-wave-infrared USB 3.0
 * camera (IMX992 sensor, 2560 x 2048 pixels, 12-bit samples, thermo-electric cooler).
 *
 * Every function takes the handle returned by Lumora_Initialize() (except
 * Lumora_GetDllVersion() and Lumora_Initialize() itself). The rules below hold for every
 * function unless its own comment says otherwise.
 *
 * - **Results.** 1 for success and 0 for failure. Getters that can fail take an `int* valid`
 *   that receives 1 or 0 (it may be null). A handle that is not (or no longer) known gives the
 *   function's failure value (0, or the value its comment names) and records nothing.
 * - **Errors.** A failure records an error code (@ref LumoraErrorCode) in the handle's history
 *   of the last 20 codes, read newest first with Lumora_GetLastError(), and posts it to the
 *   notification window given to Lumora_Initialize() as @ref LUMORA_MSG_ERROR. Code 1
 *   (::ERR_NOT_READY) means the session has no camera driver object (only after an allocation
 *   failure in Lumora_Initialize()) unless the comment gives it another meaning.
 * - **No camera open.** Until a camera is selected (Lumora_SetDeviceNumber(), or the automatic
 *   choice when exactly one camera is present), camera values read as 0, setters whose range
 *   comes from the camera refuse every value (9), captures fail with 2 (::ERR_DEVICE) and
 *   register accesses with 6 (::ERR_IO).
 * - **Capture states.** A session is in one of four states: *idle*; *single-frame capture*
 *   (after Lumora_Capture()); *preview run* (Lumora_Preview(), Lumora_CallBackPreview(),
 *   Lumora_StartPreview(), Lumora_Record()); *trigger run* (Lumora_Trigger()). Lumora_Close()
 *   returns to idle from any of them. A function works in every state unless its comment
 *   names the states that refuse it. Settings changed during a run reach the next frame;
 *   the image format (colour mode, window, subsampling) reaches the next run. See
 *   @ref capture_modes.
 * - **Threads.** Every function may be called from any thread, and calls on different
 *   handles are independent. On one handle, starting and ending captures are serialised inside
 *   the library, and image reads, frame processing and copies to the caller never overlap.
 *   Lumora_Release() may overlap other calls on the handle (a call already running keeps its
 *   session alive until it returns). Lumora_SetDeviceNumber() ends a running capture itself;
 *   call it while no other thread uses the handle. The three settings
 *   dialogs have their own rule (Lumora_SetCameraDlg()). A frame window's callback
 *   (LumoraHost_CreateCallbackWindow()) runs on its own thread and may call any function,
 *   including Lumora_StopPreview() and Lumora_Close(). See @ref threads.
 * - **Strings.** Wide-string functions (names ending in W) take UTF-16 text
 *   (@ref LUMORA_WCHAR); sizes of wide buffers are counted in UTF-16 units. Narrow strings are
 *   in the locale's character set (UTF-8 when the program never called setlocale). A wide path
 *   that cannot be converted, or whose conversion needs more than 1023 bytes, fails with 12
 *   (::ERR_TEXT).
 *
 * On Windows the same declarations describe the DLL; `HWND` is then the system's window handle.
 */
#ifndef LUMORA_LUMORA_H
#define LUMORA_LUMORA_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(LUMORA_BUILDING_SDK)
/* The SDK's own sources take only the window handle type from here: <windows.h> would turn
 * names such as PostMessage or RegisterClass into their A/W forms throughout the SDK. Only its
 * Windows backend includes the system headers it calls. */
#include <windef.h>
#define LUMORA_API __declspec(dllexport)
#else
#include <windows.h>
#define LUMORA_API __declspec(dllimport)
#endif
typedef wchar_t LUMORA_WCHAR;
#else
/* A message target: see lumora/host.h for how a Linux application creates one. */
/**
 * A message target: where the library posts @ref LUMORA_MSG_FRAME, @ref LUMORA_MSG_ERROR and
 * device notices. On Linux it is made with lumora/host.h (a queue window, a callback window or a
 * wrapped X11 window); on Windows it is a window handle. Null means "no window" where a function
 * says so.
 */
typedef struct LumoraWindow* HWND;
#if defined(__cplusplus)
typedef char16_t LUMORA_WCHAR;
#else
/**
 * One UTF-16 code unit of the wide-string functions: `char16_t` in C++, `uint_least16_t` in C,
 * `wchar_t` on Windows. Wide sizes are counted in these units.
 */
typedef uint_least16_t LUMORA_WCHAR;
#endif
/** Marks a function exported by the shared library. */
#define LUMORA_API __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
#define LUMORA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
/** A compile-time check of the records' layout, in C11 and C++ alike. */
#define LUMORA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Window messages posted to the application. */
/**
 * Posted to the frame window of a preview or trigger run (Lumora_CallBackPreview(),
 * Lumora_Trigger()), once per frame, after the frame was copied into the caller's buffer.
 * - wParam: the address of the session's ::LUMORA_FRAME_INFO record for a new frame; 0 when
 *   the frame failed.
 * - lParam: 0 for a new frame; on failure the error code: 5 (the caller's buffer is smaller
 *   than the image), 8 (the frame could not be read), 13 (the camera failed; the run has
 *   stopped). The same code is also recorded and posted as @ref LUMORA_MSG_ERROR.
 *
 * The record and the caller's buffer are rewritten at the next frame; read them before then.
 */
#define LUMORA_MSG_FRAME 0x8002 /* wParam: LUMORA_FRAME_INFO* or 0; lParam: 0 or 5, 8, 13 */
/**
 * Posted to the notification window of Lumora_Initialize() for every error code a function
 * records (lParam: the code, wParam: 0). A few functions post the code without recording it
 * (their comments say so); three record and post code 0 on success (Lumora_GetTemperatureEx(),
 * filter ids 105 and 106). The notification window also receives device notices: message
 * 0x0219 with wParam 0x8000 (a camera arrived) or 0x8004 (a camera left), lParam 0. They are not
 * errors.
 */
#define LUMORA_MSG_ERROR 0x8003 /* wParam: 0; lParam: the error code */

/* Error codes kept in the per-handle history and carried by the messages. Code 10 is unused. */
/**
 * The error codes of the per-handle history (Lumora_GetLastError()) and of
 * @ref LUMORA_MSG_ERROR. @ref errors lists what to do about each.
 */
enum LumoraErrorCode {
    /** No error. Also recorded on success by Lumora_GetTemperatureEx() and filter ids 105 and 106. */
    ERR_NONE = 0,
    /** Not allowed now: no driver object, a capture state that refuses the call, no image taken
     * yet (Lumora_SaveImage()), a recording already running, or a refused configuration-memory access. */
    ERR_NOT_READY = 1,
    /** No camera at that number, or it could not be opened; or the selected camera is gone when a capture is prepared. */
    ERR_DEVICE = 2,
    /** A worker thread could not be started; or a settings dialog was called from the wrong thread or while one is open. */
    ERR_THREAD = 3,
    /** The preview window could not be made; or Lumora_SetCaptureWindow() found no stored preset of that size. */
    ERR_WINDOW = 4,
    /** An image could not be allocated, or the caller's buffer or record is too small. */
    ERR_MEMORY = 5,
    /** The camera refused or failed a transfer: a register access, a setting, the start of a stream. */
    ERR_IO = 6,
    /** The capture window lies outside the sensor, or the camera cannot read it out that way. */
    ERR_WINDOW_SIZE = 7,
    /** No frame arrived in time or it could not be read; or a preview could not be started. */
    ERR_FRAME = 8,
    /** An argument is out of range, null, unknown or too short. */
    ERR_PARAMETER = 9,
    /** This camera does not offer the function. */
    ERR_UNSUPPORTED = 11,
    /** A text conversion failed or a wide buffer is too small; also a recording that could not
     * start and Lumora_UpdateMaskData() with an unknown selector. */
    ERR_TEXT = 12,
    /** The camera stopped answering during a preview run; the run has ended. */
    ERR_DEVICE_LOST = 13,
    /** A mask file could not be read or written. */
    ERR_MASK_FILE = 14
};

/* Filled by Lumora_GetCameraInfo. Set `size` first: at least 36; 56 or more for the doubles. */
/**
 * The camera's sizes and ranges, filled by Lumora_GetCameraInfo(). The layout is fixed (the
 * static assertions below). Set `size` before the call.
 */
typedef struct LUMORA_CAMERA_INFO {
    /** Set by the caller: the record's size in bytes; at least 36; 56 or more fills the two doubles. */
    int32_t size;
    /** Sensor width in pixels: 2560. */
    int32_t maxWidth;
    /** Sensor height in pixels: 2048. */
    int32_t maxHeight;
    /** Smallest global gain in sensor gain steps (0). */
    int32_t globalGainMin;
    /** Largest global gain in sensor gain steps (420). */
    int32_t globalGainMax;
    /** Smallest colour gain; 0 on this monochrome camera. */
    int32_t colorGainMin;
    /** Largest colour gain; 0 on this monochrome camera. */
    int32_t colorGainMax;
    /** Shortest exposure in 0.1 ms units (1, that is 0.1 ms). */
    int32_t exposureMin;  /* 0.1 ms units */
    /** Longest exposure in 0.1 ms units (20000, that is 2 s). */
    int32_t exposureMax;  /* 0.1 ms units */
    /** Never written. */
    int32_t unused;       /* never written */
    /** Shortest exposure in seconds (about 28 microseconds at full width); only when size is 56 or more. */
    double exposureExMin; /* seconds; extended form only */
    /** Longest exposure in seconds (2.0); only when size is 56 or more. */
    double exposureExMax; /* seconds; extended form only */
} LUMORA_CAMERA_INFO;

LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, maxWidth) == 4, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, exposureMax) == 32, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, unused) == 36, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, exposureExMin) == 40, "camera info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_CAMERA_INFO, exposureExMax) == 48, "camera info layout");
LUMORA_STATIC_ASSERT(sizeof(LUMORA_CAMERA_INFO) == 56, "camera info size");

/* Passed by address with every LUMORA_MSG_FRAME; valid for the life of the handle. */
/**
 * What a @ref LUMORA_MSG_FRAME announces. The library keeps one record per handle and passes
 * its address; it stays valid until Lumora_Release(), and its fields are rewritten at every
 * frame of the run.
 */
typedef struct LUMORA_FRAME_INFO {
    /** Always 0. */
    int32_t reserved;          /* always 0 */
    /** Width of the frame in pixels (the capture window's width, halved by 2 x 2 subsampling). */
    int32_t width;             /* raw image width in pixels */
    /** Height of the frame in pixels (halved by 2 x 2 subsampling). */
    int32_t height;            /* raw image height in pixels */
    /** Bits per pixel of the image in the caller's buffer: the colour mode (8 or 16 on this camera). */
    int32_t bitsPerPixel;      /* 8, 16, 24, 32, 48 or 64 */
    /** Frames delivered per second over the last second, times 10; 0 in a trigger run. */
    int32_t frameRate10;       /* measured frames per second x 10; 0 in a trigger run */
    /** Always 0. */
    int32_t alignment;         /* 0 */
    /** The caller's buffer that received the frame (as given to the run), or null. */
    unsigned char* userBuffer; /* the caller's buffer at the time of the frame, may be null */
} LUMORA_FRAME_INFO;

LUMORA_STATIC_ASSERT(offsetof(LUMORA_FRAME_INFO, frameRate10) == 16, "frame info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_FRAME_INFO, alignment) == 20, "frame info layout");
LUMORA_STATIC_ASSERT(offsetof(LUMORA_FRAME_INFO, userBuffer) == 24, "frame info layout");
LUMORA_STATIC_ASSERT(sizeof(LUMORA_FRAME_INFO) == 32, "frame info size");

/** @defgroup lifecycle Lifecycle and devices
 * Sessions, error history and camera selection.
 * @{ */
/* ---- Lifecycle and devices -------------------------------------------------------------- */
/**
 * The library's version as four bytes, major first: 36111649 (0x02270521, version 2.39.5.33).
 * Needs no handle; any thread, any time.
 * @return 36111649.
 */
LUMORA_API int Lumora_GetDllVersion(void);           /* 36111649 (0x02270521) */
/**
 * Creates a session and returns its handle. If exactly one camera is present it is opened as
 * device 0 (its stored settings are loaded and pushed to it, the cooler is switched on);
 * otherwise choose one with Lumora_SetDeviceNumber(). The handle is returned even when opening
 * the camera failed (the reason is in its history: 2).
 * @param notifyWindow Where error messages (@ref LUMORA_MSG_ERROR) and device notices (0x0219)
 *        go; null for none (the history is kept either way).
 * @return A non-zero handle; 0 only when no session could be made (no memory).
 * @par Errors
 * 2 when the single camera present could not be opened; 5 when the session's images could not
 * be allocated (the handle is returned, its calls then record 1).
 * @par Threads
 * Any thread. Each handle is an independent session; a process may hold several.
 */
LUMORA_API int Lumora_Initialize(HWND notifyWindow); /* handle, 0 when no session could be made */
/**
 * Ends the session: stops any capture or recording (waiting for its threads), saves the
 * camera's settings, closes the camera and forgets the handle. A call still running on another
 * thread finishes first; the session is destroyed when the last one returns.
 * @param handle Session handle.
 * @return 1; 0 for an unknown handle.
 * @par Capture states
 * Any; a running capture is ended.
 * @par Threads
 * Any thread, but not from inside a settings dialog of the same handle and not twice at once.
 */
LUMORA_API int Lumora_Release(int handle);
/**
 * Takes the newest code out of the handle's error history (20 entries, newest first). Each
 * call removes the code it returns; repeated calls return older codes and then 0. Codes that
 * were only posted (the comments of those functions say so) are not in the history.
 * @param handle Session handle.
 * @return The newest recorded code (@ref LumoraErrorCode); 0 when the history is empty or the
 * handle is unknown.
 * @par Threads
 * Any thread; pushes and pops are atomic with respect to each other, also against codes the
 * capture thread records.
 */
LUMORA_API int Lumora_GetLastError(int handle);            /* pops the newest code; 0 when none */
/**
 * Kept for compatibility.
 * @param handle Session handle (not looked at).
 * @return Always 0.
 */
LUMORA_API int Lumora_GetStatus(int handle);               /* always 0 */
/**
 * Lists the cameras present: refreshes the device table and writes one name per camera,
 * "LumoraM5XIRTEC_nn" counted from 01, into consecutive slots; unused slots get an empty string.
 * Slot i names device number i for Lumora_SetDeviceNumber().
 * @param handle Session handle.
 * @param names A buffer of 10 slots of 256 bytes (2560 bytes); not null.
 * @return The number of cameras (0..10).
 * @par Errors
 * 9 for a null buffer.
 */
LUMORA_API int Lumora_EnumDevice(int handle, char* names); /* 10 slots of 256 bytes; count */
/**
 * Lumora_EnumDevice() in UTF-16.
 * @param handle Session handle.
 * @param names A buffer of 10 slots of 256 UTF-16 units; not null.
 * @return The number of cameras (0..10).
 * @par Errors
 * 9 for a null buffer (1 without a driver object); 12 for a name that could not be converted
 * (its slot is left empty).
 */
LUMORA_API int Lumora_EnumDeviceW(int handle, LUMORA_WCHAR* names); /* 10 slots of 256 units */
/**
 * Selects and opens a camera. The settings of the camera open so far are saved, a running
 * capture is ended, the new camera is opened and its stored settings are loaded and pushed to
 * it. Selecting the camera already open, or a number that is refused, changes nothing.
 * @param handle Session handle.
 * @param number Device number: the slot of Lumora_EnumDevice(), 0 .. count - 1.
 * @return 1 when the camera is open; 0 otherwise.
 * @par Errors
 * 2 for a number without a camera, or when opening it failed (no camera is open then).
 * @par Capture states
 * Any; a capture of the previous camera is ended first (as by Lumora_Close()).
 * @par Threads
 * Any thread, while no other thread uses the handle.
 */
LUMORA_API int Lumora_SetDeviceNumber(int handle, int number);
/**
 * The name of one present camera, as Lumora_EnumDevice() lists it.
 * @param handle Session handle.
 * @param index Device number, 0 .. count - 1.
 * @param name Receives the name and its terminator.
 * @param size Size of name in bytes; at least 18.
 * @return 1 on success.
 * @par Errors
 * 9 for a null buffer or a size below 18; 2 for an index without a camera.
 */
LUMORA_API int Lumora_GetDeviceName(int handle, int index, char* name, int size);
/**
 * Lumora_GetDeviceName() in UTF-16.
 * @param handle Session handle.
 * @param index Device number, 0 .. count - 1.
 * @param name Receives the name and its terminator.
 * @param size Size of name in UTF-16 units; at least 18.
 * @return 1 on success.
 * @par Errors
 * 9 for a null buffer; 2 for an index without a camera; 12 when the name does not fit.
 */
LUMORA_API int Lumora_GetDeviceNameW(int handle, int index, LUMORA_WCHAR* name, int size);
/**
 * Fills a ::LUMORA_CAMERA_INFO with the sensor size and the gain and exposure ranges of the open
 * camera. Offsets 4..35 are written when info->size is at least 36; the two doubles as well
 * when it is 56 or more. Offset 36..39 is never written.
 * @param handle Session handle.
 * @param info The record, with its size field set.
 * @return 1 on success.
 * @par Errors
 * 9 for a null record; 5 for a size below 36.
 */
LUMORA_API int Lumora_GetCameraInfo(int handle, LUMORA_CAMERA_INFO* info);
/**
 * Reads the camera's serial number from its configuration memory (about 10 ms per character).
 * @param handle Session handle.
 * @param text Receives the serial number and its terminator (at most 31 characters).
 * @param size Size of text in bytes; at least 32.
 * @return 1 when a serial number (possibly empty, for an erased memory) was read; 0 when
 * nothing could be read (no camera open), with nothing recorded.
 * @par Errors
 * 9 for a null buffer or a size below 32.
 */
LUMORA_API int Lumora_ReadSerialNumberA(int handle, char* text, int size);
/**
 * Lumora_ReadSerialNumberA() in UTF-16.
 * @param handle Session handle.
 * @param text Receives the serial number and its terminator.
 * @param size Size of text in UTF-16 units; at least the length of the number plus one.
 * @return 1 on success.
 * @par Errors
 * 9 for a null buffer; 12 when the number does not fit or cannot be converted.
 */
LUMORA_API int Lumora_ReadSerialNumberW(int handle, LUMORA_WCHAR* text, int size);

/** @} */
/** @defgroup capture Capture and images
 * The four capture modes and the images they produce; see @ref capture_modes and
 * @ref frame_path.
 * @{ */
/* ---- Capture and images ----------------------------------------------------------------- */
/**
 * Starts a preview run in the session's own preview window (placed with
 * Lumora_SetPreviewWindow(); without a placement no window is made) and no frame messages.
 * The same as Lumora_CallBackPreview() with a null window and buffer.
 * @param handle Session handle.
 * @return 1 when the run is going.
 * @par Errors
 * As Lumora_CallBackPreview().
 */
LUMORA_API int Lumora_Preview(int handle);
/**
 * Starts a preview run: the camera streams continuously; each frame is processed (corrections,
 * conversion, filters), copied into buffer, drawn into the preview window if there is one, and
 * announced to frameWindow with @ref LUMORA_MSG_FRAME. Between frames the capture thread sleeps
 * the wait time (Lumora_SetWaitTime()). Frames that arrive while the previous one is processed
 * are skipped and counted (LumoraHost_GetStreamStats()). During a preview run the call only
 * replaces the frame window and buffer, between two frames.
 * @param handle Session handle.
 * @param frameWindow Receives the frame messages; null for none.
 * @param buffer Receives every frame: width x height x bitsPerPixel / 8 bytes of the capture
 *        window (rows padded to 4 bytes); null (or size 0) for none. It must stay valid until
 *        the run ends or another buffer is given.
 * @param size Size of buffer in bytes. A smaller buffer fails each frame with 5.
 * @param rowOrder Non-zero: top row first; 0: bottom row first (as a Windows bitmap).
 * @return 1 when the run is going.
 * @par Errors
 * 4 when the preview window cannot be made; 8 when the run cannot start (with the reason
 * before it: 2, 7, 5 or 6); per frame, 5, 8 and 13, also in the frame message.
 * @par Capture states
 * Idle (starts a run) or preview run (replaces window and buffer). In single-frame capture and
 * during a trigger run it records 1, then ends that mode as Lumora_Close() does and records 8.
 * @par Threads
 * The frame messages arrive on frameWindow's thread. The buffer and the ::LUMORA_FRAME_INFO
 * record are rewritten at the next frame: read them in the message handler, or copy what you
 * keep. Lumora_GetImage() reads the newest image safely from any thread.
 */
/* rowOrder != 0: top-down rows; 0: bottom-up rows. */
LUMORA_API int Lumora_CallBackPreview(int handle, HWND frameWindow, unsigned char* buffer, int size,
                                      int rowOrder);
/**
 * Starts a preview run without a window or frame messages (the images are processed and
 * available to Lumora_GetImage() and Lumora_SaveImage()).
 * @param handle Session handle.
 * @return 1 when the run is going (also when one already was).
 * @par Errors
 * 1 in single-frame capture or during a trigger run; 2 when the camera is gone; 7 for a window
 * the camera cannot read out; 5 when the images cannot be allocated; 6 when the stream does not
 * start; 3 when the thread cannot start.
 */
LUMORA_API int Lumora_StartPreview(int handle);
/**
 * Ends a preview or trigger run, and a recording: waits for the capture thread to finish its
 * frame. The frame window, buffer and preview window stay (use Lumora_Close() to drop them).
 * @param handle Session handle.
 * @return 1 (also when nothing was running).
 * @par Capture states
 * Any; afterwards idle.
 * @par Threads
 * Any thread, including a frame window's callback; it returns once no frame message will be
 * posted for this run any more.
 */
LUMORA_API int Lumora_StopPreview(int handle);
/**
 * Enters single-frame capture: prepares the camera with the current format and settings so
 * that each Lumora_SnapShot() takes a frame without preparing again.
 * @param handle Session handle.
 * @return 1 (also when already in single-frame capture).
 * @par Errors
 * 1 during a preview or trigger run; 2, 7 or 5 as for the preparation of a run.
 */
LUMORA_API int Lumora_Capture(int handle);
/**
 * Takes one frame now, processes it and copies it into buffer. From idle the camera is prepared
 * for this frame alone; in single-frame capture it stays prepared. The frame is kept for
 * Lumora_GetImage(), Lumora_SaveImage() and Lumora_UpdateMaskData().
 * @param handle Session handle.
 * @param buffer Receives the image: Lumora_Width() x Lumora_Height() (halved by subsampling) x
 *        bits / 8 bytes, rows padded to 4 bytes; null to keep the frame only.
 * @param size Size of buffer in bytes; 0 with a null buffer.
 * @param rowOrder Non-zero: top row first; 0: bottom row first.
 * @return 1 on success.
 * @par Errors
 * 1 during a preview or trigger run; 2, 7 or 5 when the camera cannot be prepared; 8 when no
 * frame came within 3 s (longer for long exposures); 5 when buffer is smaller than the image
 * (recorded twice).
 * @par Capture states
 * Idle and single-frame capture.
 */
LUMORA_API int Lumora_SnapShot(int handle, unsigned char* buffer, int size, int rowOrder);
/**
 * Copies the picture of the last frame taken into buffer: the last snapshot, or during a run the
 * run's newest frame. An older picture is never returned: after a change of colour mode the call
 * fails until a frame has been taken in the new mode.
 * @param handle Session handle.
 * @param buffer Receives the image (see Lumora_SnapShot() for its size).
 * @param size Size of buffer in bytes.
 * @param rowOrder Non-zero: top row first; 0: bottom row first.
 * @return 1 on success.
 * @par Errors
 * 1 when no frame has been taken yet, or the last one was made in another colour mode than the
 * current one; 9 for a null buffer; 5 when buffer is too small.
 * @par Threads
 * Any thread; the copy never overlaps the processing of a frame.
 */
LUMORA_API int Lumora_GetImage(int handle, unsigned char* buffer, int size, int rowOrder);
/**
 * Starts a trigger run: the camera exposes one frame per trigger pulse on its input; each frame
 * is processed, copied into buffer, announced to frameWindow and drawn into the preview window
 * if one is placed. frameRate10 is 0 in a trigger run. With the simulated camera,
 * LumoraSim_FireTrigger() stands in for the pulse.
 * @param handle Session handle.
 * @param frameWindow Receives the frame messages; null for none.
 * @param buffer Receives every frame (see Lumora_CallBackPreview()); null for none.
 * @param size Size of buffer in bytes; a buffer with size 0 fails every frame with 5.
 * @param rowOrder Non-zero: top row first; 0: bottom row first.
 * @return 1 when the run is going (also when one already was).
 * @par Errors
 * 1 during a preview run or single-frame capture; 4 for the preview window; 2, 7, 5 when the
 * camera cannot be prepared; 6 when the camera refuses trigger mode; 3 without a thread; per
 * frame 5.
 */
LUMORA_API int Lumora_Trigger(int handle, HWND frameWindow, unsigned char* buffer, int size,
                              int rowOrder);
/**
 * Ends the capture mode: stops a run (as Lumora_StopPreview()), closes the preview window,
 * drops the frame window and buffer of the run and stops the camera's stream. The images are
 * kept; Lumora_SaveImage() needs a new frame afterwards.
 * @param handle Session handle.
 * @return 1.
 * @par Capture states
 * Any; afterwards idle.
 */
LUMORA_API int Lumora_Close(int handle);
/**
 * Places the preview window of the next run (Lumora_Preview(), Lumora_CallBackPreview(),
 * Lumora_Trigger(), Lumora_Record() with showWindow). With a parent the picture is a child
 * window at (x, y) of width x height pixels inside it, scaled to fit; without a parent and with
 * a non-zero size it is a window of its own. All zero: no preview window.
 * @param handle Session handle.
 * @param parent A wrapped native window (LumoraHost_WrapX11Window()) or null.
 * @param x Left edge in the parent, pixels; -32767..32767 with a parent.
 * @param y Top edge in the parent, pixels; -32767..32767 with a parent.
 * @param width Width in pixels; 0..8192 with a parent.
 * @param height Height in pixels; 0..8192 with a parent.
 * @return 1 on success.
 * @par Errors
 * 9 for a placement outside those ranges; the earlier placement stays.
 */
LUMORA_API int Lumora_SetPreviewWindow(int handle, HWND parent, int x, int y, int width,
                                       int height);
/**
 * The pause of the preview loop before it waits for each frame: it bounds the delivered frame
 * rate to about 1000 / milliseconds and leaves time to the application. Stored per camera.
 * @param handle Session handle.
 * @param milliseconds 0 or more (0: no pause); a camera without stored settings starts with 1.
 * @return 1; 0 for a negative value (nothing recorded).
 * @par Capture states
 * Any; a running preview uses it from its next frame.
 */
LUMORA_API int Lumora_SetWaitTime(int handle, int milliseconds);
/**
 * The preview loop's pause (Lumora_SetWaitTime()).
 * @param handle Session handle.
 * @return Milliseconds; -1 for an unknown handle.
 */
LUMORA_API int Lumora_GetWaitTime(int handle); /* -1 for an unknown handle */

/** @} */
/** @defgroup format Image format
 * Colour mode, capture window and subsampling. They take effect when the next capture is
 * prepared; a run keeps the format it started with.
 * @{ */
/* ---- Image format ----------------------------------------------------------------------- */
/**
 * Chooses the output format of the images: 8 (one byte per pixel, the top 8 of the 12 sensor
 * bits) or 16 (one little-endian word per pixel holding the 12-bit sample in its low bits, or
 * all 16 bits after flat-field correction). See @ref frame_path. Stored per camera.
 * @param handle Session handle.
 * @param bits 8 or 16 on this camera (16 for a camera without stored settings); 24, 32, 48
 *        and 64 are colour modes it refuses.
 * @return 1 on success.
 * @par Errors
 * 9 for any other value or a colour mode.
 * @par Capture states
 * Any; a run keeps its format until it is started again.
 */
LUMORA_API int Lumora_SetColorMode(int handle, int bits); /* 8, 16, 24, 32, 48, 64 */
/**
 * The output format chosen with Lumora_SetColorMode().
 * @param handle Session handle.
 * @return Bits per pixel (8 or 16); -1 for an unknown handle.
 */
LUMORA_API int Lumora_GetColorMode(int handle);           /* bits, or -1 */
/**
 * Selects one of the capture-window presets stored in the settings file (Size_nn entries of
 * the camera) by its effective width and height, and makes it the capture window. The default
 * settings hold the full sensor (2560 x 2048) only.
 * @param handle Session handle.
 * @param width Effective width of the preset, pixels.
 * @param height Effective height of the preset, pixels.
 * @return 1 when a preset was found (also when it was then replaced by the full sensor because
 * it did not fit, with 7 recorded).
 * @par Errors
 * 4 when no preset has that size; 7 when the preset lies outside the sensor.
 */
LUMORA_API int Lumora_SetCaptureWindow(int handle, int width, int height);
/**
 * Sets the capture window: the part of the sensor that is read out. The window must lie inside
 * the sensor (start + effective size within 2560 x 2048). Without subsampling the horizontal
 * start and width must be multiples of 8 (width 8 or more) and the vertical start and height
 * multiples of 4 (height 4 or more); with 2 x 2 subsampling (Lumora_SetSubSample()) both starts
 * must be 0. In idle the camera is programmed at once; during a run the window is kept for the
 * next run.
 * @param handle Session handle.
 * @param hTotal Horizontal total (kept and reported back; 2560 by convention).
 * @param hStart First column, pixels from the left edge of the sensor, 0..2552.
 * @param hEffective Width in pixels, 8..2560.
 * @param vTotal Vertical total (kept and reported back; 2048 by convention).
 * @param vStart First row, pixels from the top edge, 0..2044.
 * @param vEffective Height in pixels, 4..2048.
 * @return 1 on success; the earlier window stays on failure.
 * @par Errors
 * 7 for a window outside the sensor; 6 when the camera refuses it (alignment).
 */
LUMORA_API int Lumora_SetCaptureWindowEx(int handle, int hTotal, int hStart, int hEffective,
                                         int vTotal, int vStart, int vEffective);
/**
 * The current capture window (Lumora_SetCaptureWindowEx()); each non-null pointer receives its
 * value in pixels.
 * @param handle Session handle.
 * @param hTotal Horizontal total, or null.
 * @param hStart First column, or null.
 * @param hEffective Width, or null.
 * @param vTotal Vertical total, or null.
 * @param vStart First row, or null.
 * @param vEffective Height, or null.
 * @return 1 (also without a driver object); 0 for an unknown handle.
 */
LUMORA_API int Lumora_GetCaptureWindowEx(int handle, int* hTotal, int* hStart, int* hEffective,
                                         int* vTotal, int* vStart, int* vEffective);
/**
 * Chooses the readout: 0 every pixel, 1 two-by-two subsampling (frames of half the window's
 * width and height; the window must then start at 0, 0). Takes effect at the next capture.
 * Stored per camera.
 * @param handle Session handle.
 * @param mode 0 or 1.
 * @return 1; 0 for any other value (nothing recorded).
 */
LUMORA_API int Lumora_SetSubSample(int handle, int mode); /* 0 or 1 */
/**
 * The readout chosen with Lumora_SetSubSample().
 * @param handle Session handle.
 * @return 0 or 1; -1 for an unknown handle.
 */
LUMORA_API int Lumora_GetSubSample(int handle);           /* -1 for an unknown handle */
/**
 * The capture window's effective width in pixels (not divided by subsampling). While a capture
 * is prepared or a run is active it is the width of the frames being delivered: a window set
 * meanwhile is stored and shows here from the next preparation on.
 * @param handle Session handle.
 * @return Pixels; 0 for an unknown handle.
 */
LUMORA_API int Lumora_Width(int handle);
/**
 * The capture window's effective height in pixels (not divided by subsampling); during a
 * prepared capture or a run, that of the frames being delivered (see Lumora_Width()).
 * @param handle Session handle.
 * @return Pixels; 0 for an unknown handle.
 */
LUMORA_API int Lumora_Height(int handle);
/**
 * Kept for compatibility: this camera has no pixel-clock choice.
 * @param handle Session handle.
 * @param rate Ignored by this camera.
 * @return The camera's answer: 0 on this camera; nothing is recorded.
 */
LUMORA_API int Lumora_SetSamplingRate(int handle, int rate);
/**
 * Kept for compatibility.
 * @param handle Session handle.
 * @param value Receives 0 when not null.
 * @return Always 0.
 */
LUMORA_API int Lumora_GetSamplingRate(int handle, int* value); /* always 0 */
/**
 * Kept for compatibility (the same body as Lumora_GetSamplingRate()).
 * @param handle Session handle.
 * @param value Receives 0 when not null.
 * @return Always 0.
 */
LUMORA_API int Lumora_GetVideoFormat(int handle, int* value);  /* always 0 */

/** @} */
/** @defgroup camera Exposure, gain, orientation, cooler
 * Values held by the camera; they apply from the next frame, in any capture state. The
 * exposure and gain are stored per camera and restored when it is opened again.
 * @{ */
/* ---- Exposure, gain, orientation, cooler -------------------------------------------------- */
/**
 * Sets the exposure time (filter id 18). The frame period grows with exposures longer than the
 * readout (about 14 ms at full size).
 * @param handle Session handle.
 * @param value Exposure in 0.1 ms units, 1..20000 (0.1 ms .. 2 s; LUMORA_CAMERA_INFO::exposureMin
 *        .. exposureMax). Default 137 (13.7 ms).
 * @return 1 on success.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses it.
 */
LUMORA_API int Lumora_SetExposureTime(int handle, int value); /* 0.1 ms units */
/**
 * The exposure time the camera holds (filter id 18).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return Exposure in 0.1 ms units, rounded down.
 */
LUMORA_API int Lumora_GetExposureTime(int handle, int* valid);
/**
 * Sets the exposure time in seconds, at the sensor's finest step (one line time, about 14
 * microseconds). The integer exposure (Lumora_GetExposureTime()) follows as seconds x 10000.
 * @param handle Session handle.
 * @param seconds LUMORA_CAMERA_INFO::exposureExMin .. exposureExMax: about 0.000028 .. 2.0 at full
 *        width (the minimum follows the window's line time). Default 0.01370504.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range or not a finite number; 6 when the camera refuses it; 11 for a camera
 * without fine exposure.
 */
LUMORA_API int Lumora_SetExposureTimeEx(int handle, double seconds);
/**
 * The exposure time in seconds that the camera holds.
 * @param handle Session handle.
 * @param valid Receives 1 on success, 0 on failure; may be null.
 * @return Seconds; -1.0 on failure; 0.0 for an unknown handle.
 * @par Errors
 * 11 for a camera without fine exposure.
 */
LUMORA_API double Lumora_GetExposureTimeEx(int handle, int* valid); /* 0.0 for an unknown handle */
/**
 * Sets the exposure time in microseconds, in steps of 100 (the value is divided by 100 and
 * rounded down, then set as by Lumora_SetExposureTime()).
 * @param handle Session handle.
 * @param microseconds 100..2000000.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses it.
 */
LUMORA_API int Lumora_SetRealExposureTime(int handle, int microseconds);
/**
 * The exposure time in microseconds, in steps of 100 (the integer exposure x 100).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return Microseconds.
 */
LUMORA_API int Lumora_GetRealExposureTime(int handle, int* valid);
/**
 * Sets the sensor's analog gain (filter id 13); the four colour gains are stored with the same
 * value.
 * @param handle Session handle.
 * @param value Sensor gain steps, 0..420 (LUMORA_CAMERA_INFO::globalGainMin .. globalGainMax);
 *        default 0 (the lowest gain).
 * @return 1 on success.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses it.
 */
LUMORA_API int Lumora_SetGlobalGain(int handle, int value);
/**
 * The sensor's analog gain (filter id 13).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return Sensor gain steps, 0..420.
 */
LUMORA_API int Lumora_GetGlobalGain(int handle, int* valid);
/**
 * The red colour gain of a colour sensor (filter id 14). This monochrome camera has none: its
 * range is 0..0 and it refuses even 0.
 * @param handle Session handle.
 * @param value LUMORA_CAMERA_INFO::colorGainMin .. colorGainMax (0..0 on this camera).
 * @return 0 on this camera.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses the value (always, on this camera).
 */
LUMORA_API int Lumora_SetColorGainRed(int handle, int value);
/**
 * The red colour gain (filter id 14): 0 on this camera.
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The gain; 0 on this camera.
 */
LUMORA_API int Lumora_GetColorGainRed(int handle, int* valid);
/**
 * The first green colour gain of a colour sensor (filter id 15). This monochrome camera has none: its
 * range is 0..0 and it refuses even 0.
 * @param handle Session handle.
 * @param value LUMORA_CAMERA_INFO::colorGainMin .. colorGainMax (0..0 on this camera).
 * @return 0 on this camera.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses the value (always, on this camera).
 */
LUMORA_API int Lumora_SetColorGainGreen1(int handle, int value);
/**
 * The first green colour gain (filter id 15): 0 on this camera.
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The gain; 0 on this camera.
 */
LUMORA_API int Lumora_GetColorGainGreen1(int handle, int* valid);
/**
 * The second green colour gain of a colour sensor (filter id 16). This monochrome camera has none: its
 * range is 0..0 and it refuses even 0.
 * @param handle Session handle.
 * @param value LUMORA_CAMERA_INFO::colorGainMin .. colorGainMax (0..0 on this camera).
 * @return 0 on this camera.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses the value (always, on this camera).
 */
LUMORA_API int Lumora_SetColorGainGreen2(int handle, int value);
/**
 * The second green colour gain (filter id 16): 0 on this camera.
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The gain; 0 on this camera.
 */
LUMORA_API int Lumora_GetColorGainGreen2(int handle, int* valid);
/**
 * The blue colour gain of a colour sensor (filter id 17). This monochrome camera has none: its
 * range is 0..0 and it refuses even 0.
 * @param handle Session handle.
 * @param value LUMORA_CAMERA_INFO::colorGainMin .. colorGainMax (0..0 on this camera).
 * @return 0 on this camera.
 * @par Errors
 * 9 outside the range; 6 when the camera refuses the value (always, on this camera).
 */
LUMORA_API int Lumora_SetColorGainBlue(int handle, int value);
/**
 * The blue colour gain (filter id 17): 0 on this camera.
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The gain; 0 on this camera.
 */
LUMORA_API int Lumora_GetColorGainBlue(int handle, int* valid);
/**
 * Mirrors the image left to right (done by the sensor). Stored per camera.
 * @param handle Session handle.
 * @param on Non-zero to mirror, 0 for the normal orientation.
 * @return 1 on success.
 * @par Errors
 * 6 when the camera refuses it.
 */
LUMORA_API int Lumora_SetMirrorH(int handle, int on);
/**
 * Mirrors the image top to bottom (done by the sensor). Stored per camera.
 * @param handle Session handle.
 * @param on Non-zero to mirror, 0 for the normal orientation.
 * @return 1 on success.
 * @par Errors
 * 6 when the camera refuses it; without a driver object 1 is posted but not recorded.
 */
LUMORA_API int Lumora_SetMirrorV(int handle, int on);
/**
 * Whether the image is mirrored left to right.
 * @param handle Session handle.
 * @return 1 or 0.
 */
LUMORA_API int Lumora_GetMirrorH(int handle);
/**
 * Whether the image is mirrored top to bottom.
 * @param handle Session handle.
 * @return 1 or 0 (without a driver object 0, with 1 posted but not recorded).
 */
LUMORA_API int Lumora_GetMirrorV(int handle);
/**
 * Automatic exposure control during preview and trigger runs: after each frame whose mean
 * brightness is far from the middle of the range, the exposure (mode 1) or the global gain
 * (mode 2) is scaled toward it, within its range. Stored per camera.
 * @param handle Session handle.
 * @param mode 0 off (default), 1 regulate the exposure, 2 regulate the gain.
 * @return 1 on success.
 * @par Errors
 * Any other mode posts 9 without recording it.
 */
LUMORA_API int Lumora_SetAutoIris(int handle, int mode); /* 0 off, 1 exposure, 2 gain */
/**
 * The automatic exposure mode (Lumora_SetAutoIris()).
 * @param handle Session handle.
 * @param valid Receives 1; may be null.
 * @return 0, 1 or 2.
 */
LUMORA_API int Lumora_GetAutoIris(int handle, int* valid);
/**
 * Switches the thermo-electric cooler (filter id 100). It is switched on whenever the camera is
 * opened.
 * @param handle Session handle.
 * @param value Greater than 0: on; 0 or less: off.
 * @return 1 on success.
 * @par Errors
 * 6 when the camera refuses it; 11 for a camera without a cooler.
 */
LUMORA_API int Lumora_SetPeltier(int handle, int value);
/**
 * Whether the cooler is on (filter id 100).
 * @param handle Session handle.
 * @param valid Receives 1, or 0 on failure; may be null.
 * @return 1 on, 0 off; -1 for a camera without a cooler.
 * @par Errors
 * 11 for a camera without a cooler.
 */
LUMORA_API int Lumora_GetPeltier(int handle, int* valid);
/**
 * The integer temperature of older cameras (filter id 101); this camera reports its temperature
 * with Lumora_GetTemperatureEx() only.
 * @param handle Session handle.
 * @param valid Receives 0; may be null.
 * @return -1.
 * @par Errors
 * 11, always.
 */
LUMORA_API int Lumora_GetTemperature(int handle, int* valid);      /* not offered: -1 */
/**
 * Reads the sensor temperature. With the cooler on it moves toward the cooler's set point,
 * otherwise toward the ambient temperature.
 * @param handle Session handle.
 * @param valid Receives 1 when the temperature was read, else 0; may be null.
 * @return Degrees Celsius; 0.0 on failure or for an unknown handle.
 * @par Errors
 * Records (and posts) 0 on success; 6 when the camera did not answer; 11 for a camera without a
 * temperature sensor.
 */
LUMORA_API double Lumora_GetTemperatureEx(int handle, int* valid); /* degrees Celsius */

/** @} */
/** @defgroup unsupported Functions this camera does not offer
 * Present for applications written for other cameras of the family; each fails with 11.
 * @{ */
/* ---- Functions this camera does not offer (error 11) ---------------------------------------- */
/**
 * The frame-rate choice of other cameras. Not offered: posts 11 without recording it.
 * @param handle Session handle.
 * @return 0.
 */
LUMORA_API int Lumora_Fps(int handle);
/**
 * The half-clock mode of other cameras. Not offered: posts 11 without recording it.
 * @param handle Session handle.
 * @return 0.
 */
LUMORA_API int Lumora_GetHalfClock(int handle);
/**
 * The half-clock mode of other cameras. Not offered: posts 11 without recording it.
 * @param handle Session handle.
 * @param on Ignored.
 * @return 0.
 */
LUMORA_API int Lumora_SetHalfClock(int handle, int on);
/**
 * The crossbar of other cameras. Not offered: posts 11 without recording it.
 * @param handle Session handle.
 * @param value Ignored.
 * @return 0.
 */
LUMORA_API int Lumora_SetCrossbar(int handle, int value);
/**
 * Text to the serial port of other cameras. Not offered: records 11.
 * @param handle Session handle.
 * @param text Ignored.
 * @return 0.
 */
LUMORA_API int Lumora_SendText(int handle, const char* text);
/**
 * Text from the serial port of other cameras. Not offered: records 11.
 * @param handle Session handle.
 * @param text Not written.
 * @param size Ignored.
 * @return 0.
 */
LUMORA_API int Lumora_ReceiveText(int handle, char* text, int size);
/**
 * The configuration filters of other cameras. Not offered: records 11.
 * @param handle Session handle.
 * @param id Ignored.
 * @param value Ignored.
 * @return -1; 0 for an unknown handle.
 */
LUMORA_API int Lumora_SetConfigFilter(int handle, int id, int value);  /* -1 */
/**
 * The configuration filters of other cameras. Not offered: records 11.
 * @param handle Session handle.
 * @param id Ignored.
 * @param valid Not written.
 * @return -1; 0 for an unknown handle.
 */
LUMORA_API int Lumora_GetConfigFilter(int handle, int id, int* valid); /* -1 */

/** @} */
/** @defgroup filters Filter values by number
 * The general form Lumora_GetFilterValue() / Lumora_SetFilterValue() and the named functions
 * that call it with a fixed id.
 *
 * Host-side values (ids 1..12, 19..28, 102, 103) are kept by the session, stored per camera and
 * applied to every frame from the next one on, in any capture state (see @ref frame_path for
 * the order). Camera values (13..18, 100, 104..106) are sent to the camera at once. The getters
 * return what the session or the camera holds; the sensor's values read 0 while no camera is
 * open.
 *
 * | id | name (named function) | range | default | unit | what it changes |
 * |---:|---|---|---|---|---|
 * | 1 | brightness (Lumora_SetBrightness()) | -255..255 | 0 | 1/255 of full scale | adds a constant to every sample after gamma, contrast and sharpness; clipped to the range |
 * | 2 | contrast (Lumora_SetContrast()) | -127..127 | 0 | steps | stretches (positive) or compresses (negative) the samples about the middle of the range |
 * | 3 | hue (Lumora_SetHue()) | -360..360 | 0 | degrees | turns the hue of colour images; no effect at 8 and 16 bits |
 * | 4 | saturation (Lumora_SetSaturation()) | -255..255 | 0 | steps | colour saturation of colour images; no effect at 8 and 16 bits |
 * | 5 | sharpness (Lumora_SetSharpness()) | 0..30 | 0 | steps | strength of a 3 x 3 sharpening; 0 off |
 * | 6 | Bayer gains packed (Lumora_SetBayerGainRGB()) | red, green, blue one byte each | 100, 100, 100 | percent | sets ids 7..9 to the bytes (red in bits 0..7, green 8..15, blue 16..23); no range check |
 * | 7 | Bayer gain red (Lumora_SetBayerGainRed()) | 0..400 | 100 | percent | white balance of colour conversion (colour modes and gray mode 2) |
 * | 8 | Bayer gain green (Lumora_SetBayerGainGreen()) | 0..400 | 100 | percent | as id 7, green |
 * | 9 | Bayer gain blue (Lumora_SetBayerGainBlue()) | 0..400 | 100 | percent | as id 7, blue |
 * | 10 | automatic white balance (Lumora_SetBayerGainAuto()) | any; stored as 0 or 1 | 0 | flag | estimates ids 7..9 from each frame of a colour conversion |
 * | 11 | gamma (Lumora_SetGamma()) | 0..200 | 100 | 1/100 | the tone curve output = input^(100 / gamma) on the scale 0..1; 100 linear, higher brightens the dark parts, lower darkens them |
 * | 12 | Bayer phase (Lumora_SetBayerMode()) | 0..3 | 3 | phase | which corner of the 2 x 2 colour pattern is red, for colour conversion and gray-mode sites |
 * | 13 | global gain (Lumora_SetGlobalGain()) | camera: 0..420 | 0 | sensor gain steps | the sensor's analog gain; also stores the four colour gains |
 * | 14..17 | colour gains red, green 1, green 2, blue (Lumora_SetColorGainRed() ...) | camera: 0..0 | 0 | sensor steps | none on this monochrome camera (always refused) |
 * | 18 | exposure (Lumora_SetExposureTime()) | camera: 1..20000 | 137 | 0.1 ms | the exposure time |
 * | 19 | gray mode (Lumora_SetGrayMode()) | 0..2 | 0 | mode | 0 off; 1 per-site gain and offset (ids 20..27); 2 luminance through a colour conversion (8 bits only) |
 * | 20..23 | gray gain R, G1, G2, B (Lumora_SetGrayGainR() ...) | 0..255 | 128 | 1/128 | gray mode 1: gain of the samples at each site of the 2 x 2 pattern; 128 unity |
 * | 24..27 | gray offset R, G1, G2, B (Lumora_SetGrayOffsetR() ...) | -255..255 | 128 | 8-bit steps | gray mode 1: offset added with the gain at each site |
 * | 28 | automatic gray gain (no named function; set only) | 0..1 | 0 | flag | gray mode 1: estimates ids 20..23 from each frame; reading it is refused (9) |
 * | 29..36 | channel gains and offsets (Lumora_SetChannelGain() ...) | - | - | - | not offered: 9 |
 * | 100 | cooler (Lumora_SetPeltier()) | above 0 on, else off | on | flag | the thermo-electric cooler |
 * | 101 | temperature (Lumora_GetTemperature()) | read only | - | - | not offered: 11 (set: 9) |
 * | 102 | dot filter (Lumora_SetDotFilter()) | 0..1 | 0 | flag | host-side defective-pixel correction from the mask references |
 * | 103 | mask filter (Lumora_SetMaskFilter()) | 0..1 | 0 | flag | host-side flat-field correction from the dark and bright references |
 * | 104 | gain mode (no named function) | 0, 1 | 0 | mode | the sensor's conversion gain: 0 high, 1 low (other values clear the whole gain-mode register and read back as 1) |
 * | 105 | response mode (no named function) | above 0 on, else off | - | flag | the sensor's response mode; not offered by this camera (11) |
 * | 106 | black level (no named function) | 0..4095 (clamped by the sensor) | 240 | 12-bit sample steps | the sensor's black level; records 0 on success |
 *
 * @{ */
/* ---- Filter values by number --------------------------------------------------------------- */
/**
 * Reads a filter value by id (table above).
 * @param handle Session handle.
 * @param id A filter id from the table.
 * @param valid Receives 1 when the id was read, 0 when it failed; may be null.
 * @return The value; 0 on failure (-1 for ids 100 and 101 when not offered).
 * @par Errors
 * 9 for an unknown id, id 28 and ids 29..36; 11 for ids 101 and, on cameras without them, 100,
 * 105 and 106; 6 when the camera does not answer for id 105; ids 105 and 106 record 0 on success.
 */
LUMORA_API int Lumora_GetFilterValue(int handle, int id, int* valid);
/**
 * Sets a filter value by id (table above). A value the camera refuses is not stored.
 * @param handle Session handle.
 * @param id A filter id from the table.
 * @param value The value, in the id's range and unit.
 * @return 1 on success.
 * @par Errors
 * 9 for an unknown id, ids 29..36 and 101, and for a value outside the id's range; 6 when the
 * camera refuses the value; 11 for ids the camera does not offer; id 106 records 0 on success.
 */
LUMORA_API int Lumora_SetFilterValue(int handle, int id, int value);
/**
 * The brightness (filter id 1).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetBrightness(int handle, int* valid);
/**
 * Sets the brightness (filter id 1); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -255..255; default 0.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetBrightness(int handle, int value);
/**
 * The contrast (filter id 2).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetContrast(int handle, int* valid);
/**
 * Sets the contrast (filter id 2); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -127..127; default 0.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetContrast(int handle, int value);
/**
 * The hue (filter id 3).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetHue(int handle, int* valid);
/**
 * Sets the hue (filter id 3); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -360..360 degrees; default 0 (colour modes only).
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetHue(int handle, int value);
/**
 * The saturation (filter id 4).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetSaturation(int handle, int* valid);
/**
 * Sets the saturation (filter id 4); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -255..255; default 0 (colour modes only).
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetSaturation(int handle, int value);
/**
 * The sharpness (filter id 5).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetSharpness(int handle, int* valid);
/**
 * Sets the sharpness (filter id 5); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..30; default 0 (off).
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetSharpness(int handle, int value);
/**
 * The three Bayer gains packed (filter id 6): red | green << 8 | blue << 16, the low byte of
 * each.
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The packed gains.
 */
LUMORA_API int Lumora_GetBayerGainRGB(int handle, int* valid);
/**
 * Sets the three Bayer gains at once (filter id 6).
 * @param handle Session handle.
 * @param value red | green << 8 | blue << 16, each 0..255 percent (no range check; the
 *        separate setters reach 400).
 * @return 1.
 */
LUMORA_API int Lumora_SetBayerGainRGB(int handle, int value); /* red | green << 8 | blue << 16 */
/**
 * The red Bayer gain (filter id 7).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetBayerGainRed(int handle, int* valid);
/**
 * Sets the red Bayer gain (filter id 7); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..400 percent; default 100.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetBayerGainRed(int handle, int value);
/**
 * The green Bayer gain (filter id 8).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetBayerGainGreen(int handle, int* valid);
/**
 * Sets the green Bayer gain (filter id 8); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..400 percent; default 100.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetBayerGainGreen(int handle, int value);
/**
 * The blue Bayer gain (filter id 9).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetBayerGainBlue(int handle, int* valid);
/**
 * Sets the blue Bayer gain (filter id 9); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..400 percent; default 100.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetBayerGainBlue(int handle, int value);
/**
 * Whether automatic white balance is on (filter id 10).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return 0 or 1.
 */
LUMORA_API int Lumora_GetBayerGainAuto(int handle, int* valid);
/**
 * Automatic white balance of colour conversions (filter id 10).
 * @param handle Session handle.
 * @param value Non-zero on, 0 off.
 * @return 1.
 */
LUMORA_API int Lumora_SetBayerGainAuto(int handle, int value);
/**
 * The gamma (filter id 11).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGamma(int handle, int* valid);
/**
 * Sets the gamma (filter id 11); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..200 hundredths; default 100 (linear).
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGamma(int handle, int value);
/**
 * The Bayer phase (filter id 12).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetBayerMode(int handle, int* valid);
/**
 * Sets the Bayer phase (filter id 12); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..3; default 3.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetBayerMode(int handle, int value);
/**
 * The gray mode (filter id 19).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayMode(int handle, int* valid);
/**
 * Sets the gray mode (filter id 19); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0 off, 1 gain and offset, 2 luminance; default 0.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayMode(int handle, int value);
/**
 * The gray-mode gain of the R site (filter id 20).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayGainR(int handle, int* valid);
/**
 * Sets the gray-mode gain of the R site (filter id 20); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..255, 128 unity; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayGainR(int handle, int value);
/**
 * The gray-mode gain of the G1 site (filter id 21).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayGainG1(int handle, int* valid);
/**
 * Sets the gray-mode gain of the G1 site (filter id 21); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..255, 128 unity; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayGainG1(int handle, int value);
/**
 * The gray-mode gain of the G2 site (filter id 22).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayGainG2(int handle, int* valid);
/**
 * Sets the gray-mode gain of the G2 site (filter id 22); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..255, 128 unity; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayGainG2(int handle, int value);
/**
 * The gray-mode gain of the B site (filter id 23).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayGainB(int handle, int* valid);
/**
 * Sets the gray-mode gain of the B site (filter id 23); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0..255, 128 unity; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayGainB(int handle, int value);
/**
 * The gray-mode offset of the R site (filter id 24).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayOffsetR(int handle, int* valid);
/**
 * Sets the gray-mode offset of the R site (filter id 24); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -255..255; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayOffsetR(int handle, int value);
/**
 * The gray-mode offset of the G1 site (filter id 25).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayOffsetG1(int handle, int* valid);
/**
 * Sets the gray-mode offset of the G1 site (filter id 25); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -255..255; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayOffsetG1(int handle, int value);
/**
 * The gray-mode offset of the G2 site (filter id 26).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayOffsetG2(int handle, int* valid);
/**
 * Sets the gray-mode offset of the G2 site (filter id 26); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -255..255; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayOffsetG2(int handle, int value);
/**
 * The gray-mode offset of the B site (filter id 27).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetGrayOffsetB(int handle, int* valid);
/**
 * Sets the gray-mode offset of the B site (filter id 27); frames show it from the next one on.
 * @param handle Session handle.
 * @param value -255..255; default 128.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetGrayOffsetB(int handle, int value);
/**
 * The per-channel gains of other cameras (filter ids 29..32). Not offered.
 * @param handle Session handle.
 * @param channel 1..4; any other channel returns 0 without recording anything.
 * @param valid Receives 0; may be null.
 * @return 0.
 * @par Errors
 * 9 for channels 1..4.
 */
LUMORA_API int Lumora_GetChannelGain(int handle, int channel, int* valid); /* channel 1..4 */
/**
 * The per-channel gains of other cameras (filter ids 29..32). Not offered.
 * @param handle Session handle.
 * @param channel 1..4; any other channel returns 0 without recording anything.
 * @param value Ignored.
 * @return 0.
 * @par Errors
 * 9 for channels 1..4.
 */
LUMORA_API int Lumora_SetChannelGain(int handle, int channel, int value);
/**
 * The per-channel offsets of other cameras (filter ids 33..36). Not offered.
 * @param handle Session handle.
 * @param channel 1..4; any other channel returns 0 without recording anything.
 * @param valid Receives 0; may be null.
 * @return 0.
 * @par Errors
 * 9 for channels 1..4.
 */
LUMORA_API int Lumora_GetChannelOffset(int handle, int channel, int* valid);
/**
 * The per-channel offsets of other cameras (filter ids 33..36). Not offered.
 * @param handle Session handle.
 * @param channel 1..4; any other channel returns 0 without recording anything.
 * @param value Ignored.
 * @return 0.
 * @par Errors
 * 9 for channels 1..4.
 */
LUMORA_API int Lumora_SetChannelOffset(int handle, int channel, int value);
/**
 * The host-side defective-pixel correction (see @ref flat_field) (filter id 102).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetDotFilter(int handle, int* valid);
/**
 * Sets the host-side defective-pixel correction (see @ref flat_field) (filter id 102); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0 off, 1 on; default 0.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetDotFilter(int handle, int value);
/**
 * The host-side flat-field correction (see @ref flat_field) (filter id 103).
 * @param handle Session handle.
 * @param valid Receives 1 (0 without a driver object); may be null.
 * @return The value.
 */
LUMORA_API int Lumora_GetMaskFilter(int handle, int* valid);
/**
 * Sets the host-side flat-field correction (see @ref flat_field) (filter id 103); frames show it from the next one on.
 * @param handle Session handle.
 * @param value 0 off, 1 on; default 0.
 * @return 1 on success.
 * @par Errors
 * 9 outside the range.
 */
LUMORA_API int Lumora_SetMaskFilter(int handle, int value);

/** @} */
/** @defgroup registers Registers, memories, the camera's own defect correction
 * Direct access to the sensor's and the FPGA's registers and to the configuration memory.
 * Writing registers behind the library's back can put the camera in a state the session does
 * not know; prefer the named functions. Each access is one transfer, serialised with the
 * library's own traffic; any capture state.
 * @{ */
/* ---- Registers, memories, the camera's own defect correction ------------------------------- */
/**
 * Writes a sensor register, with the address and value masked.
 * @param handle Session handle.
 * @param address Register address; only the low 8 bits are used.
 * @param value Register value; only the low 16 bits are used.
 * @return 1 on success.
 * @par Errors
 * 6 when the camera refuses the transfer.
 */
LUMORA_API int Lumora_WriteRegister(int handle, int address, int value);
/**
 * Writes a sensor register without masking (the IMX992's 16-bit register addresses).
 * @param handle Session handle.
 * @param address Register address, 0..0xFFFF.
 * @param value Register value, 0..0xFF.
 * @return 1 on success.
 * @par Errors
 * 6 when the camera refuses the transfer.
 */
LUMORA_API int Lumora_WriteRegisterEx(int handle, int address, int value);
/**
 * Reads a sensor register; the address is masked to 8 bits.
 * @param handle Session handle.
 * @param address Register address; only the low 8 bits are used.
 * @param valid Receives 1 when the value was read, else 0; may be null. Use it to tell a 0
 *        from a failure.
 * @return The register value; 0 on failure.
 * @par Errors
 * 6 when the transfer failed.
 */
LUMORA_API int Lumora_ReadRegister(int handle, int address, int* valid);
/**
 * Reads a sensor register without masking the address.
 * @param handle Session handle.
 * @param address Register address, 0..0xFFFF.
 * @param valid Receives 1 when the value was read, else 0; may be null.
 * @return The register value; 0 on failure.
 * @par Errors
 * 6 when the transfer failed.
 */
LUMORA_API int Lumora_ReadRegisterEx(int handle, int address, int* valid);
/**
 * Writes an FPGA register.
 * @param handle Session handle.
 * @param address Register address; only the low 8 bits are used.
 * @param value Register value; the FPGA's registers hold 8 bits.
 * @return 1 on success.
 * @par Errors
 * 6 when the transfer failed.
 */
LUMORA_API int Lumora_Fpga_WriteRegister(int handle, int address, int value);
/**
 * Reads an FPGA register.
 * @param handle Session handle.
 * @param address Register address; only the low 8 bits are used.
 * @param valid Set to 0 on failure and left as it was on success; set it to 1 before the call.
 * @return The register value (0..0xFF); 0 on failure.
 * @par Errors
 * 6 when the transfer failed.
 */
LUMORA_API int Lumora_Fpga_ReadRegister(int handle, int address, int* valid);
/**
 * Reads one byte of the camera's configuration memory (the serial number lives at its start).
 * @param handle Session handle.
 * @param address Byte address; only the low 12 bits are used (0..4095).
 * @param valid Receives 1 when the byte was read, else 0; may be null.
 * @return The byte, 0..255 (255 for an erased byte).
 * @par Errors
 * 1 when the read failed; without a driver object 1 is posted but not recorded.
 */
LUMORA_API int Lumora_ReadSromID(int handle, int address, int* valid);
/**
 * Writes one byte of the configuration memory and reads it back, writing again up to 10 times
 * until it holds.
 * @param handle Session handle.
 * @param address Byte address; only the low 12 bits are used (0..4095).
 * @param value The byte; only the low 8 bits are used.
 * @return 1 when the byte reads back as written.
 * @par Errors
 * 1 when the write failed or the byte did not hold; without a driver object 1 is posted but not
 * recorded.
 */
LUMORA_API int Lumora_WriteSromID(int handle, int address, int value);
/**
 * Whether the camera's own defective-pixel correction (in its FPGA) is on.
 * @param handle Session handle.
 * @param valid Receives 1, or 0 when not offered; may be null.
 * @return 1 on, 0 off.
 * @par Errors
 * 11 (posted, not recorded) for a camera without it.
 */
LUMORA_API int Lumora_GetInternalCorrection(int handle, int* valid);
/**
 * Switches the camera's own defective-pixel correction.
 * @param handle Session handle.
 * @param on Non-zero on, 0 off.
 * @return 1 on success; 0 when the camera refused (nothing recorded).
 * @par Errors
 * 11 (posted, not recorded) for a camera without it.
 */
LUMORA_API int Lumora_SetInternalCorrection(int handle, int on);
/**
 * Lumora_SetInternalCorrection() without the availability check.
 * @param handle Session handle.
 * @param on Non-zero on, 0 off.
 * @return 1 on success; 0 when not offered or refused (nothing recorded).
 */
LUMORA_API int Lumora_EnableDefectivePixelCorrection(int handle, int on);
/**
 * Whether the camera has its own defective-pixel correction (this camera has).
 * @param handle Session handle.
 * @return 1 or 0.
 */
LUMORA_API int Lumora_IsAvailableDefectivePixelCorrection(int handle);
/**
 * Whether the camera's own defective-pixel correction is on.
 * @param handle Session handle.
 * @return 1 or 0.
 */
LUMORA_API int Lumora_IsEnabledDefectivePixelCorrection(int handle);
/**
 * Whether the camera's defect correction takes a threshold (this camera: yes).
 * @param handle Session handle.
 * @return 1 or 0.
 */
LUMORA_API int Lumora_IsAvailableDefectivePixelCorrectionThreshold(int handle);
/**
 * The threshold of the camera's own defect correction: how far a pixel must differ from its
 * neighbours to be replaced.
 * @param handle Session handle.
 * @param value 0..65535 (Lumora_GetDefectivePixelCorrectionThresholdRange()), in sample steps.
 * @return 1 on success; 0 when not offered or refused (nothing recorded).
 */
LUMORA_API int Lumora_SetDefectivePixelCorrectionThreshold(int handle, int value);
/**
 * The threshold of the camera's own defect correction.
 * @param handle Session handle.
 * @param value Receives the threshold; must not be null.
 * @return 1 on success; 0 when not offered or the read failed (nothing recorded).
 */
LUMORA_API int Lumora_GetDefectivePixelCorrectionThreshold(int handle, int* value);
/**
 * The range of the threshold.
 * @param handle Session handle.
 * @param min Receives 0 when not null.
 * @param max Receives 65535 (0 when not offered) when not null.
 * @return 1.
 */
LUMORA_API int Lumora_GetDefectivePixelCorrectionThresholdRange(int handle, int* min, int* max);
/**
 * Writes the camera's general-purpose output port (FPGA register 7).
 * @param handle Session handle.
 * @param value Port bits; only the low 8 bits are used.
 * @return 1 on success.
 * @par Errors
 * 6 when the camera refused the write; without a driver object 1 is posted but not recorded.
 */
LUMORA_API int Lumora_SetIOPort(int handle, int value);
/**
 * Reads the camera's general-purpose port (FPGA register 7).
 * @param handle Session handle.
 * @param value Receives the port byte; not null.
 * @return 1 on success.
 * @par Errors
 * 9 (posted, not recorded) for a null pointer or a failed read; without a driver object 1
 * (posted, not recorded).
 */
LUMORA_API int Lumora_GetIOPort(int handle, unsigned char* value);

/** @} */
/** @defgroup files Files, masks, dialogs
 * Image and video files, the mask references of the host-side corrections, the configuration
 * list and the settings dialogs.
 * @{ */
/* ---- Files, masks, dialogs ----------------------------------------------------------------- */
/**
 * Records an uncompressed 24-bit AVI file while previewing: starts a preview run if none is
 * going, and writes each processed frame on a thread of its own for durationMs from the first
 * frame. Frames that come while the previous one is still being written are skipped and counted
 * (LumoraHost_GetRecordStats()), so a slow disk never slows the run. The file carries the rate
 * at which frames were written. Lumora_StopPreview() or Lumora_Close() ends the recording early
 * with a complete file; the run goes on after the duration.
 * @param handle Session handle.
 * @param fileName Path of the AVI file (created or replaced); not null or empty.
 * @param durationMs Length in milliseconds, 1 or more.
 * @param showWindow Non-zero: show the preview window placed with Lumora_SetPreviewWindow().
 * @return 1 when the recording is going.
 * @par Errors
 * 9 for a null or empty name or a duration of 0 or less; 1 while a recording is going; 4 for
 * the preview window; 12 when the run cannot start or the file cannot be opened; 3 without a
 * thread; 12 later when a write fails (the file is finished with what it has).
 * @par Capture states
 * Idle or preview run. In single-frame capture and during a trigger run the preview cannot
 * start (1): that mode is ended as by Lumora_Close() and 12 is recorded.
 */
LUMORA_API int Lumora_Record(int handle, const char* fileName, int durationMs, int showWindow);
/**
 * Lumora_Record() with a UTF-16 path.
 * @param handle Session handle.
 * @param fileName Path of the AVI file.
 * @param durationMs Length in milliseconds, 1 or more.
 * @param showWindow Non-zero: show the preview window.
 * @return 1 when the recording is going.
 * @par Errors
 * As Lumora_Record(); 12 for a path that cannot be converted.
 */
LUMORA_API int Lumora_RecordW(int handle, const LUMORA_WCHAR* fileName, int durationMs,
                              int showWindow);
/**
 * Writes the newest processed image (as Lumora_GetImage() would copy it) to a file. 16-bit
 * images are written with 16 bits per sample in PNG and TIFF, scaled to 8 bits in BMP and JPEG,
 * and as they are in raw.
 * @param handle Session handle.
 * @param fileName Path of the file (created or replaced).
 * @param format 0 BMP, 1 raw (the pixels only, top row first), 2 JPEG quality 100, 3 JPEG 70,
 *        4 JPEG 20, 5 PNG, 6 TIFF.
 * @return 1 when the whole file was written; 0 for an unknown format (no file is made) or a
 *         file that could not be written, with nothing recorded.
 * @par Errors
 * 1 before any frame was taken since the mode began (or without a driver object); 9 for a
 * null name.
 */
LUMORA_API int Lumora_SaveImage(int handle, const char* fileName, int format);
/**
 * Lumora_SaveImage() with a UTF-16 path.
 * @param handle Session handle.
 * @param fileName Path of the file.
 * @param format As Lumora_SaveImage().
 * @return 1 when the whole file was written.
 * @par Errors
 * As Lumora_SaveImage(); 12 for a path that cannot be converted.
 */
LUMORA_API int Lumora_SaveImageW(int handle, const LUMORA_WCHAR* fileName, int format);
/**
 * Reads a configuration file: a headerless sequence of 8-byte records, each two little-endian
 * 32-bit integers (trailing bytes are ignored), into the session's configuration list. A file
 * without a whole record leaves the list as it was. No other function of this camera reads the
 * list.
 * @param handle Session handle.
 * @param path Path of the file.
 * @return 1 when the file was read; 0 when it could not be read (nothing recorded).
 * @par Errors
 * 9 for a null path.
 */
LUMORA_API int Lumora_LoadConfigFileA(int handle, const char* path);
/**
 * Lumora_LoadConfigFileA() with a UTF-16 path.
 * @param handle Session handle.
 * @param path Path of the file.
 * @return 1 when the file was read.
 * @par Errors
 * 9 for a null path; 12 for a path that cannot be converted.
 */
LUMORA_API int Lumora_LoadConfigFileW(int handle, const LUMORA_WCHAR* path);
/**
 * Loads the dark and bright references of the flat-field and defect corrections (8- and 16-bit,
 * full sensor) from a mask file written by Lumora_SaveMaskFile(), and rebuilds the defect maps.
 * See @ref flat_field.
 * @param handle Session handle.
 * @param path Path of the mask file.
 * @return 1 on success.
 * @par Errors
 * 9 for a null path; 14 when the file is missing, damaged or of another size (the references
 * may then be partly replaced).
 * @par Threads
 * Any thread; frames being corrected meanwhile use the old or the new references, never a mix.
 */
LUMORA_API int Lumora_LoadMaskFile(int handle, const char* path);
/**
 * Lumora_LoadMaskFile() with a UTF-16 path.
 * @param handle Session handle.
 * @param path Path of the mask file.
 * @return 1 on success.
 * @par Errors
 * As Lumora_LoadMaskFile(); 12 for a path that cannot be converted.
 */
LUMORA_API int Lumora_LoadMaskFileW(int handle, const LUMORA_WCHAR* path);
/**
 * Saves the dark and bright references (8- and 16-bit) to a mask file.
 * @param handle Session handle.
 * @param path Path of the mask file (created or replaced).
 * @return 1 on success.
 * @par Errors
 * 9 for a null path; 14 when the file cannot be written.
 */
LUMORA_API int Lumora_SaveMaskFile(int handle, const char* path);
/**
 * Lumora_SaveMaskFile() with a UTF-16 path.
 * @param handle Session handle.
 * @param path Path of the mask file.
 * @return 1 on success.
 * @par Errors
 * As Lumora_SaveMaskFile(); 12 for a path that cannot be converted.
 */
LUMORA_API int Lumora_SaveMaskFileW(int handle, const LUMORA_WCHAR* path);
/**
 * Takes the newest raw frame as the dark or the bright reference of its bit depth and rebuilds
 * that reference's defect map. Only a full-sensor frame (2560 x 2048, no subsampling) becomes a
 * reference; any other frame is ignored and the call still returns 1. Take a snapshot of a
 * covered sensor for the dark reference and of an even bright field for the bright one; see
 * @ref flat_field.
 * @param handle Session handle.
 * @param which 0 dark reference, 1 bright reference.
 * @return 1 when the frame was stored or ignored.
 * @par Errors
 * 12 for another selector (full-sensor frames only); 5 when the references could not be
 * allocated.
 */
LUMORA_API int Lumora_UpdateMaskData(int handle, int which); /* 0 or 1 */
/**
 * The settings dialogs are modal: each runs its own loop on the calling thread and returns 1 when
 * it closes (OK or Cancel alike), 0 with code 1 without a camera driver. Call them from one
 * thread: the GTK thread in a GTK application, or any one thread in an application without GTK
 * (the first thread that shows a dialog initialises GTK and keeps it). While a dialog is open,
 * or from another thread than GTK's, a call returns 0 with code 3 (ERR_THREAD). Without a display
 * or without GTK the call ends as if Cancel had been pressed (the reason goes to standard error
 * under LUMORA_DEBUG). `owner` may be null (the dialog is centred on the screen).
 */
/**
 * The camera-format dialog: capture-size preset, colour mode, subsampling and wait time. A
 * preview or single-frame capture is stopped and a trigger run paused while it is open, then
 * restored (a preview starts again with the new format). Accepted choices are stored and
 * loaded.
 * @param handle Session handle.
 * @param owner The dialog's owner (a wrapped native window), or null to centre it on the screen.
 * @return 1 when the dialog closed (OK or Cancel alike, and when it could not be shown).
 * @par Errors
 * 1 without a driver object; 3 when called from another thread than the dialogs' or while a
 * dialog is open.
 * @par Threads
 * The rule above: one thread, the GTK thread when the application uses GTK.
 */
LUMORA_API int Lumora_SetCameraDlg(int handle, HWND owner);
/**
 * The analog dialog: gain, exposure, mirrors, gain mode, black level, Bayer phase. Changes apply
 * while it is open; Cancel writes the values it opened with back to the camera and the session.
 * @param handle Session handle.
 * @param owner The dialog's owner, or null.
 * @return 1 when the dialog closed.
 * @par Errors
 * As Lumora_SetCameraDlg().
 */
LUMORA_API int Lumora_SetAnalogDlg(int handle, HWND owner);
/**
 * The image dialog: filters, Bayer gains, gray mode and the host-side corrections. Changes
 * apply to the next frames while it is open; Cancel puts back the settings it opened with.
 * @param handle Session handle.
 * @param owner The dialog's owner, or null.
 * @return 1 when the dialog closed.
 * @par Errors
 * As Lumora_SetCameraDlg().
 */
LUMORA_API int Lumora_SetImageDlg(int handle, HWND owner);
/** @} */

#if defined(__cplusplus)
}
#endif

#endif /* LUMORA_LUMORA_H */
