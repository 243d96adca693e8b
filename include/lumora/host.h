/**
 * @file host.h
 * @brief What a Linux application needs beyond lumora.h: message targets, native windows, the
 * figures of runs and recordings, and the simulated camera.
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

/** @defgroup host Message targets and native windows
 * How a Linux application receives what the library posts. See @ref threads.
 * @{ */
/** One message taken from a message target. */
typedef struct LumoraHostMessage {
    /** The target the message was posted to. */
    HWND window;
    /** The message number: @ref LUMORA_MSG_FRAME, @ref LUMORA_MSG_ERROR or 0x0219 (device notice). */
    unsigned int message;
    /** First message word (a ::LUMORA_FRAME_INFO address, 0, or 0x8000 / 0x8004 for a device notice). */
    uintptr_t wParam;
    /** Second message word (an error code, or 0). */
    intptr_t lParam;
} LumoraHostMessage;

/**
 * Creates a queue window: messages posted to it wait in order until LumoraHost_WaitMessage()
 * takes them. The queue has no limit; take messages regularly.
 * @return The target; destroy it with LumoraHost_DestroyWindow().
 * @par Threads
 * Any thread may create, post to, wait on and destroy it; each message is taken by one waiter.
 */
LUMORA_API HWND LumoraHost_CreateQueueWindow(void);
/**
 * Creates a callback window: a thread of its own (the dispatcher) calls callback for each
 * message posted to it, one at a time, in posting order. The callback may call any library
 * function, including Lumora_StopPreview(), Lumora_Close() and LumoraHost_DestroyWindow() of its
 * own window; a slow callback only delays later messages of this window, never the capture.
 * @param callback Called with the message (valid during the call) and user; not null.
 * @param user Passed to every call of callback.
 * @return The target; null when callback is null or the thread cannot start.
 */
LUMORA_API HWND LumoraHost_CreateCallbackWindow(void (*callback)(const LumoraHostMessage* message,
                                                                 void* user),
                                                void* user);
/**
 * Takes the oldest message of a queue window, waiting for one if needed.
 * @param window A queue window.
 * @param timeoutMs Longest wait in milliseconds; 0 does not wait; below 0 waits without limit.
 * @param message Receives the message; not null.
 * @return 1 when a message was taken; 0 when none came in time, or for an unknown window.
 */
/* 1: a message was taken; 0: none in time (or the window is unknown). timeoutMs < 0 waits
 * without limit. */
LUMORA_API int LumoraHost_WaitMessage(HWND window, int timeoutMs, LumoraHostMessage* message);
/**
 * Takes the oldest message of the calling thread's own queue, where posts to a null window go
 * from this thread (for instance the not-recorded codes of functions called with a null
 * notification window).
 * @param timeoutMs Longest wait in milliseconds; 0 does not wait; below 0 waits without limit.
 * @param message Receives the message; not null.
 * @return 1 when a message was taken; 0 when none came in time.
 */
/* The same for the calling thread's own queue. */
LUMORA_API int LumoraHost_WaitThreadMessage(int timeoutMs, LumoraHostMessage* message);
/**
 * Destroys a message target or a native-window wrapper. Pending messages are discarded; later
 * posts to it are ignored. Destroy a frame or notification window only after the run or the
 * session that posts to it has ended (Lumora_Close(), Lumora_Release()), or expect its messages
 * to be lost.
 * @param window The target; unknown values are ignored.
 */
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
/**
 * Wraps an X11 window of the application.
 * @param window The X11 window id.
 * @return The wrapper; null when the window does not exist on DISPLAY, no display is reachable,
 * or window is 0.
 */
LUMORA_API HWND LumoraHost_WrapX11Window(unsigned long window);
/**
 * The X11 window behind a target.
 * @param window A wrapped window or a preview window the library made.
 * @return The X11 window id; 0 for any other target.
 */
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
/** @} */
/** @defgroup stats Run and recording figures
 * Counters of the current or last run and recording, for monitoring a capture.
 * @{ */
/** The figures of a preview or trigger run (LumoraHost_GetStreamStats()). */
typedef struct LumoraStreamStats {
    /** Frames the camera numbered since the run's first frame: the sum of the three below. */
    uint64_t framesSent;
    /** Frames processed and announced with a frame message. */
    uint64_t framesDelivered;
    /** Frames sent but not delivered: the session was busy, a callback window was still
     *  handling the frame before, or the frame was lost. */
    uint64_t framesSkipped;
    /** Frames that reached the session but could not be read or copied. */
    uint64_t framesFailed;
} LumoraStreamStats;

/**
 * Reads the figures of the current or last preview or trigger run.
 * @param handle Session handle.
 * @param stats Receives the figures; not null.
 * @return 1 on success; 0 for an unknown handle or a null pointer (nothing recorded).
 * @par Threads
 * Any thread, during a run too; each figure is read atomically.
 */
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
/** The figures of a recording (LumoraHost_GetRecordStats()). */
typedef struct LumoraRecordStats {
    /** 1 while the record thread writes the file; 0 once it is finished. */
    int recording;
    /** Frame rate of the finished file in hundredths of frames per second; 0 while recording. */
    int rate;
    /** Frames in the file. */
    uint64_t framesWritten;
    /** Frames processed while the recorder was still writing the previous one. */
    uint64_t framesSkipped;
    /** Bytes in the file so far. */
    uint64_t bytesWritten;
} LumoraRecordStats;

/**
 * Reads the figures of the current or last recording (Lumora_Record()).
 * @param handle Session handle.
 * @param stats Receives the figures; not null.
 * @return 1 on success; 0 for an unknown handle or a null pointer (nothing recorded).
 * @par Threads
 * Any thread; poll it to show progress or to learn when a recording has finished.
 */
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
/** @} */
/** @defgroup sim The simulated camera
 * Cameras that exist only in the process, for tests and for trying the library without
 * hardware. Every function may be called from any thread at any time; changes reach the camera
 * at once.
 * @{ */
/** Faults LumoraSim_InjectFault() can give a simulated camera. */
typedef enum LumoraSimFault {
    /** No fault. */
    LUMORA_SIM_FAULT_NONE = 0,
    /** Bulk transfers fail at once. */
    LUMORA_SIM_FAULT_BULK_FAIL = 1,     /* the next `count` bulk transfers fail at once */
    /** Bulk transfers hang until aborted. */
    LUMORA_SIM_FAULT_BULK_STALL = 2,    /* the next `count` bulk transfers hang until aborted */
    /** Frames shorter than their header says. */
    LUMORA_SIM_FAULT_SHORT_PAYLOAD = 3, /* the next `count` frames send `param` bytes fewer than
                                           their header announces (0: 64 KiB) */
    /** Frames longer than their geometry. */
    LUMORA_SIM_FAULT_LONG_PAYLOAD = 4,  /* the next `count` frames announce and send `param`
                                           bytes more than their geometry (0: 64 KiB) */
    /** Register transfers refused. */
    LUMORA_SIM_FAULT_I2C_REFUSE = 5,    /* the next `count` I2C transfers are refused */
    /** Configuration-memory writes fail. */
    LUMORA_SIM_FAULT_EEPROM_WRITE = 6,  /* the next `count` EEPROM writes fail */
    /** A slow start-up. */
    LUMORA_SIM_FAULT_SLOW_STARTUP = 7   /* the camera takes `param` ms to become ready, from now
                                           and after every restart */
} LumoraSimFault;

/**
 * Sets the number of simulated cameras; cameras 0..count - 1 exist afterwards (new ones
 * powered on, removed ones unplugged). Sessions see the change at their next enumeration.
 * @param count 0..32.
 * @return The new count; -1 outside 0..32.
 */
/* Cameras 0..count-1 exist afterwards; returns the new count, or -1 outside 0..32. */
LUMORA_API int LumoraSim_SetCameraCount(int count);
/**
 * The number of simulated cameras (LUMORA_SIM_CAMERAS at first use, or LumoraSim_SetCameraCount()).
 * @return 0..32.
 */
LUMORA_API int LumoraSim_GetCameraCount(void);
/**
 * Unplugs a simulated camera.
 * @param index Camera 0..count - 1.
 * @return 1 on success; 0 for an unknown index.
 */
/* Pulls the camera's cable: pending transfers fail, its path stops opening. */
LUMORA_API int LumoraSim_Unplug(int index);
/**
 * Plugs an unplugged simulated camera back in.
 * @param index Camera 0..count - 1.
 * @return 1 on success; 0 for an unknown index.
 */
/* Plugs it back in (powered on afresh) on the same port... */
LUMORA_API int LumoraSim_Replug(int index);
/**
 * Plugs an unplugged simulated camera back in on a new port (a new device path and ordinal).
 * @param index Camera 0..count - 1.
 * @return 1 on success; 0 for an unknown index.
 */
/* ...or on another port, so it answers on a new device path. */
LUMORA_API int LumoraSim_ReplugOnNewPort(int index);
/**
 * Gives a simulated camera a fault for its next transfers.
 * @param index Camera 0..count - 1.
 * @param fault A ::LumoraSimFault.
 * @param count How many transfers, frames or writes are affected, 0 or more.
 * @param param The fault's parameter, 0 or more (bytes for payload faults, milliseconds for a
 *        slow start-up); 0 where the fault takes none.
 * @return 1 on success; 0 for an unknown index or fault, or a negative count or param.
 */
LUMORA_API int LumoraSim_InjectFault(int index, int fault, int count, int param);
/**
 * Removes every pending fault of a simulated camera.
 * @param index Camera 0..count - 1.
 * @return 1 on success; 0 for an unknown index.
 */
LUMORA_API int LumoraSim_ClearFaults(int index);
/**
 * Sets a simulated camera's start-up time.
 * @param index Camera 0..count - 1.
 * @param milliseconds 0 or more.
 * @return 1 on success; 0 for an unknown index or a negative time.
 */
/* Milliseconds from power-on (or an FPGA restart pulse) until the ready flag reads 1. */
LUMORA_API int LumoraSim_SetStartupTime(int index, int milliseconds);
/**
 * Sets the number the next frame of a simulated camera carries.
 * @param index Camera 0..count - 1.
 * @param value Any 32-bit number.
 * @return 1 on success; 0 for an unknown index.
 */
/* The frame counter the next frame carries (to bring wrap-around out early). */
LUMORA_API int LumoraSim_SetFrameCounterStart(int index, unsigned int value);
/**
 * Sets the firmware version a simulated camera reports.
 * @param index Camera 0..count - 1.
 * @param version The version word, for instance 0x1200.
 * @return 1 on success; 0 for an unknown index.
 */
/* The bridge firmware version reported in the bridge information (0x1200 by default). */
LUMORA_API int LumoraSim_SetFirmwareVersion(int index, int version);
/**
 * Counts a simulated camera's unfinished bulk transfers (tests check that aborts finish them).
 * @param index Camera 0..count - 1.
 * @return The count; -1 for an unknown index.
 */
/* Bulk transfers the camera holds unfinished; -1 for an unknown index. */
LUMORA_API int LumoraSim_GetPendingTransfers(int index);
/**
 * Reads a simulated camera's serial number ("LUM00001" for camera 0).
 * @param index Camera 0..count - 1.
 * @param text Receives the text and its terminator.
 * @param size Size of text in bytes.
 * @return 1 on success; 0 for an unknown index, a null buffer or a size too small.
 */
/* The camera's serial number text; size counts bytes including the terminator. */
LUMORA_API int LumoraSim_GetSerialNumber(int index, char* text, int size);

/*
 * The simulated camera's sensor and picture. Frames stream at the camera's frame period unless
 * fast mode is on; a static scene (also LUMORA_SIM_STATIC=1 in the environment) has nothing
 * moving and no temporal noise, so two frames taken with the same settings are identical byte
 * for byte.
 */
/**
 * Fires the trigger input of a simulated camera in trigger mode (Lumora_Trigger()).
 * @param index Camera 0..count - 1.
 * @return 1 when a frame will come; 0 otherwise (see above).
 */
/* In triggered operation the camera exposes one frame per call, ready one exposure and readout
 * later; 1 on success, 0 for an unknown index, a camera that is not in triggered operation, or
 * one still exposing or reading out the frame of the previous trigger. */
LUMORA_API int LumoraSim_FireTrigger(int index);
/**
 * Fast mode for every simulated camera.
 * @param on Non-zero: frames without waiting for the frame period; 0: real time (default).
 */
/* Non-zero: frames are ready at once instead of at the frame period (all simulated cameras). */
LUMORA_API void LumoraSim_SetFastMode(int on);
/**
 * Static scene for every simulated camera (also LUMORA_SIM_STATIC=1).
 * @param on Non-zero: nothing moves and there is no temporal noise; 0: the moving scene.
 */
LUMORA_API void LumoraSim_SetStaticScene(int on);
/** @} */

#if defined(__cplusplus)
}
#endif

#endif /* LUMORA_HOST_H */
