/*
 * What a Linux application needs beyond lumora.h.
 *
 * Message targets. The SDK announces frames and errors by posting messages to an HWND. On Linux
 * an HWND is a message target the application creates here:
 *   - a queue window, which the application polls or waits on with LumoraHost_WaitMessage;
 *   - a callback window, whose callback runs on the window's own dispatcher thread, one message
 *     at a time, in posting order.
 * Posting copies the message and returns at once; it never blocks on the application and never
 * runs application code on the posting thread. A post to a null HWND goes to the posting
 * thread's own queue (read with LumoraHost_WaitThreadMessage). A destroyed or made-up HWND is
 * detected and ignored.
 */
#ifndef LUMORA_HOST_H
#define LUMORA_HOST_H

#include "lumora/lumora.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct LumoraHostMessage {
    HWND window;
    unsigned int message;
    uintptr_t wParam;
    intptr_t lParam;
} LumoraHostMessage;

LUMORA_API HWND LumoraHost_CreateQueueWindow(void);
LUMORA_API HWND LumoraHost_CreateCallbackWindow(void (*callback)(const LumoraHostMessage* message,
                                                                 void* user),
                                                void* user);
/* 1: a message was taken; 0: none in time (or the window is unknown). timeoutMs < 0 waits
 * without limit. */
LUMORA_API int LumoraHost_WaitMessage(HWND window, int timeoutMs, LumoraHostMessage* message);
/* The same for the calling thread's own queue. */
LUMORA_API int LumoraHost_WaitThreadMessage(int timeoutMs, LumoraHostMessage* message);
/* Pending messages are discarded; a callback in progress finishes first (unless the callback
 * destroys its own window). */
LUMORA_API void LumoraHost_DestroyWindow(HWND window);

/*
 * Native windows (X11). An application that has an X11 window of its own (a GTK or Qt widget's
 * native window id under X11 or XWayland) wraps it to pass it as the parent of the preview window
 * (Lumora_SetPreviewWindow) or as the owner of the settings dialogs. The window must live on the
 * display named by DISPLAY; null when it does not exist there, when no display is reachable, or
 * for window 0. Destroying the HWND (LumoraHost_DestroyWindow) releases the wrapper only, never
 * the application's window. Messages posted to a wrapped window are dropped.
 */
LUMORA_API HWND LumoraHost_WrapX11Window(unsigned long window);
/* The X11 window behind an HWND: a wrapped window or a preview window the SDK created; 0 for any
 * other HWND (queue and callback windows, offscreen windows, unknown values). */
LUMORA_API unsigned long LumoraHost_GetX11Window(HWND window);

/*
 * The figures of a session's current or last preview or trigger run, counted from the camera's
 * frame counter; they restart with each run. Every frame the camera numbered from the first one
 * the session took is in one of three figures:
 *   framesDelivered  processed and announced with a LUMORA_MSG_FRAME carrying the frame
 *                    information record;
 *   framesSkipped    sent by the camera but never delivered (the session was still busy with an
 *                    earlier frame, or the frame was lost on the way);
 *   framesFailed     reached the session but could not be delivered (the frame could not be read
 *                    or copied into the caller's buffer).
 * framesSent is their sum. 1 on success; 0 for an unknown handle or a null pointer.
 */
typedef struct LumoraStreamStats {
    uint64_t framesSent;
    uint64_t framesDelivered;
    uint64_t framesSkipped;
    uint64_t framesFailed;
} LumoraStreamStats;

LUMORA_API int LumoraHost_GetStreamStats(int handle, LumoraStreamStats* stats);

/*
 * The figures of a session's current or last recording (Lumora_Record); they restart with each
 * recording.
 *   recording      1 while the record thread writes the file; 0 once the file is finished (the
 *                  duration passed, the run stopped, the camera was lost or a write failed);
 *   framesWritten  frames in the file;
 *   framesSkipped  frames the preview run processed while the recorder was still writing the
 *                  previous one (a disk slower than the camera costs frames, never the run's pace);
 *   bytesWritten   bytes in the file so far;
 *   rate           the frame rate the finished file carries, in hundredths of frames per second
 *                  (0 while recording).
 * 1 on success; 0 for an unknown handle or a null pointer.
 */
typedef struct LumoraRecordStats {
    int recording;
    int rate;
    uint64_t framesWritten;
    uint64_t framesSkipped;
    uint64_t bytesWritten;
} LumoraRecordStats;

LUMORA_API int LumoraHost_GetRecordStats(int handle, LumoraRecordStats* stats);

/*
 * The simulated camera. Without hardware the SDK talks to in-process simulated cameras; their
 * number comes from LUMORA_SIM_CAMERAS (0..32) at first use or from LumoraSim_SetCameraCount.
 * Camera i (from 0) has product id 0x3380 and the serial number "LUM%05d" of i + 1. Calls that
 * take an index return 1 on success and 0 for an unknown index or a bad argument.
 * Processes on the same simulated bus (named by LUMORA_SIM_BUS; "default" when unset) share
 * their simulated cameras as they would share real ones: a camera in use by one process cannot
 * be opened by another (code 2) until the first has left it alone for two seconds or ended.
 */
typedef enum LumoraSimFault {
    LUMORA_SIM_FAULT_NONE = 0,
    LUMORA_SIM_FAULT_BULK_FAIL = 1,     /* the next `count` bulk transfers fail at once */
    LUMORA_SIM_FAULT_BULK_STALL = 2,    /* the next `count` bulk transfers hang until aborted */
    LUMORA_SIM_FAULT_SHORT_PAYLOAD = 3, /* the next `count` frames send `param` bytes fewer than
                                           their header announces (0: 64 KiB) */
    LUMORA_SIM_FAULT_LONG_PAYLOAD = 4,  /* the next `count` frames announce and send `param`
                                           bytes more than their geometry (0: 64 KiB) */
    LUMORA_SIM_FAULT_I2C_REFUSE = 5,    /* the next `count` I2C transfers are refused */
    LUMORA_SIM_FAULT_EEPROM_WRITE = 6,  /* the next `count` EEPROM writes fail */
    LUMORA_SIM_FAULT_SLOW_STARTUP = 7   /* the camera takes `param` ms to become ready, from now
                                           and after every restart */
} LumoraSimFault;

/* Cameras 0..count-1 exist afterwards; returns the new count, or -1 outside 0..32. */
LUMORA_API int LumoraSim_SetCameraCount(int count);
LUMORA_API int LumoraSim_GetCameraCount(void);
/* Pulls the camera's cable: pending transfers fail, its path stops opening. */
LUMORA_API int LumoraSim_Unplug(int index);
/* Plugs it back in (powered on afresh) on the same port... */
LUMORA_API int LumoraSim_Replug(int index);
/* ...or on another port, so it answers on a new device path. */
LUMORA_API int LumoraSim_ReplugOnNewPort(int index);
LUMORA_API int LumoraSim_InjectFault(int index, int fault, int count, int param);
LUMORA_API int LumoraSim_ClearFaults(int index);
/* Milliseconds from power-on (or an FPGA restart pulse) until the ready flag reads 1. */
LUMORA_API int LumoraSim_SetStartupTime(int index, int milliseconds);
/* The frame counter the next frame carries (to bring wrap-around out early). */
LUMORA_API int LumoraSim_SetFrameCounterStart(int index, unsigned int value);
/* The bridge firmware version reported in the bridge information (0x1200 by default). */
LUMORA_API int LumoraSim_SetFirmwareVersion(int index, int version);
/* Bulk transfers the camera holds unfinished; -1 for an unknown index. */
LUMORA_API int LumoraSim_GetPendingTransfers(int index);
/* The camera's serial number text; size counts bytes including the terminator. */
LUMORA_API int LumoraSim_GetSerialNumber(int index, char* text, int size);

/*
 * The simulated camera's sensor and picture. Frames stream at the camera's frame period unless
 * fast mode is on; a static scene (also LUMORA_SIM_STATIC=1 in the environment) has nothing
 * moving and no temporal noise, so two frames taken with the same settings are identical byte
 * for byte.
 */
/* In triggered operation the camera exposes one frame per call, ready one exposure and readout
 * later; 1 on success, 0 for an unknown index, a camera that is not in triggered operation, or
 * one still exposing or reading out the frame of the previous trigger. */
LUMORA_API int LumoraSim_FireTrigger(int index);
/* Non-zero: frames are ready at once instead of at the frame period (all simulated cameras). */
LUMORA_API void LumoraSim_SetFastMode(int on);
LUMORA_API void LumoraSim_SetStaticScene(int on);

#if defined(__cplusplus)
}
#endif

#endif /* LUMORA_HOST_H */
