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
    /** The message number: @ref LUMORA_MSG_FRAME, @ref LUMORA_MSG_ERROR or 0x0219 (device notice).
     */
    unsigned int message;
    /** First message word (a ::LUMORA_FRAME_INFO address, 0, or 0x8000 / 0x8004 for a device
     * notice). */
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
 * own window; a slow callback only delays later messages of this window. While it is busy with
 * a frame, a preview run skips (and counts) the frames meanwhile, and a trigger run holds its next
 * frame until the callback returns.
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

/** @} */
/** @defgroup frames Frame metadata and the every-frame queue
 * What is known of each frame besides its pixels, and a run that hands the application every
 * frame the camera sends instead of the newest one.
 * @{ */
/** What is known of one frame besides its pixels (LumoraHost_GetFrameMeta() and friends). */
typedef struct LumoraFrameMeta {
    /** The camera's frame counter, from the frame's header. */
    uint32_t frameCounter;
    /** 1 when the record describes a frame; 0 when no frame has been taken yet. */
    uint32_t valid;
    /** When the host had the whole frame: the monotonic clock (CLOCK_MONOTONIC), nanoseconds. */
    int64_t arrivalNs;
    /** The same moment on the system clock: nanoseconds since 1970-01-01 UTC. */
    int64_t arrivalWallNs;
    /** Frames the camera numbered between the previous frame this run took and this one, which
     * the application never got (0 for the first frame of a run). */
    uint64_t skippedBefore;
    /** The exposure the frame was taken with, in seconds, from the exposure lines its header
     * carries at the line time in effect when its header arrived. Lines that an exposure setting
     * gave report that setting exactly as Lumora_GetExposureTimeEx() reported it (when two
     * settings gave the same lines, the one in place last before the header arrived); other
     * lines (a frame exposed while a change was being written) report lines x line time plus the
     * sensor's fixed offset. A frame under way, waiting in the camera or in the library when the
     * exposure changes reports the exposure it was exposed with, not the new one. A frame of a
     * trigger run reports the exposure the camera timed it with at its trigger. Without
     * exposure lines in the header, or for a sensor that cannot convert lines, the setting in
     * place when the header arrived. */
    double exposureSeconds;
    /** The sensor temperature at the last reading (Lumora_GetTemperatureEx()), in degrees
     * Celsius; see temperatureValid. */
    double temperature;
    /** 1 when temperature holds a reading; 0 when none was made in this session. */
    int32_t temperatureValid;
    /** The global gain (the units of Lumora_SetGlobalGain()) the library had given the camera
     * when the frame's header arrived: a change completed before then. The header does not
     * carry the gain, so a frame exposed before a change and arriving after it reports the new
     * gain. */
    int32_t gain;
    /** The black level the library had given the camera when the frame's header arrived, as for
     * gain. */
    int32_t blackLevel;
    /** Bits per sample on the wire: 8, or 16 (each holding a 12-bit sample). */
    int32_t bitDepth;
    /** The capture window on the sensor: left column, top row, width and height (before
     * subsampling), and the subsampling mode (Lumora_SetSubSample()). */
    int32_t windowX;
    /** Top row of the capture window. */
    int32_t windowY;
    /** Width of the capture window before subsampling. */
    int32_t windowWidth;
    /** Height of the capture window before subsampling. */
    int32_t windowHeight;
    /** The subsampling mode. */
    int32_t subSample;
    /** The frame's width and height in pixels as delivered. */
    int32_t width;
    /** The frame's height in pixels as delivered. */
    int32_t height;
} LumoraFrameMeta;

/**
 * Reads the metadata of the frame the latest ::LUMORA_MSG_FRAME of a preview or trigger run
 * announced (the frame its buffer holds). A message taken late describes the newest frame
 * announced, as the buffer then holds it.
 * @param handle Session handle.
 * @param meta Receives the record; valid is 0 when the session has announced no frame yet.
 * @return 1 on success; 0 for an unknown handle or a null pointer.
 * @par Threads
 * Any thread, during a run too; a frame callback may call it.
 */
LUMORA_API int LumoraHost_GetFrameMeta(int handle, LumoraFrameMeta* meta);
/**
 * Lumora_GetImage() with the metadata of the frame it copies: the image and the record are
 * taken together, so they belong to the same frame.
 * @param handle Session handle.
 * @param buffer As for Lumora_GetImage().
 * @param size As for Lumora_GetImage().
 * @param rowOrder As for Lumora_GetImage().
 * @param meta Receives the record; may be null.
 * @return 1 on success; 0 as Lumora_GetImage() fails, with the same codes.
 */
LUMORA_API int LumoraHost_GetImageWithMeta(int handle, unsigned char* buffer, int size,
                                           int rowOrder, LumoraFrameMeta* meta);

/**
 * The camera's frame period in free run at its current timing: the time from the start of one
 * frame to the start of the next while a preview runs. It follows the capture window, the bit
 * depth and exposures longer than the readout as the camera holds them: an exposure at once, a
 * window set while idle at once, a bit depth when the next run or snapshot is prepared. Frames
 * delivered may be fewer (a busy application, a wait time); a trigger run has no period.
 * @param handle Session handle.
 * @param seconds Receives the period in seconds; not null.
 * @return 1 on success; 0 for an unknown handle, a null pointer or a session without an open
 *         camera (nothing recorded).
 * @par Threads
 * Any thread, during a run too.
 */
LUMORA_API int LumoraHost_GetFramePeriod(int handle, double* seconds);

/** A frame taken from the every-frame queue (LumoraHost_WaitQueuedFrame()). */
typedef struct LumoraQueuedFrame {
    /** The frame's bytes, as Lumora_CallBackPreview() would copy them for rowOrder. */
    unsigned char* buffer;
    /** Bytes of the frame in buffer. */
    uint64_t bytes;
    /** Frames dropped because every buffer was in use, right before this one. */
    uint64_t droppedBefore;
    /** Frames dropped for a full queue since the run began, up to this one. */
    uint64_t droppedTotal;
    /** What to pass to LumoraHost_ReleaseQueuedFrame(). */
    int32_t index;
    /** Bits per pixel of the frame (those of the colour mode). */
    int32_t bitsPerPixel;
    /** The frame's metadata. */
    LumoraFrameMeta meta;
} LumoraQueuedFrame;

/**
 * Starts a preview run that delivers every frame the camera sends, in order, through a queue
 * of count buffers, instead of announcing the newest frame with ::LUMORA_MSG_FRAME. A frame
 * that comes while every buffer is queued or held by the application is dropped, and the next
 * frame delivered says how many were (droppedBefore); dropped frames count as skipped in
 * LumoraHost_GetStreamStats(). Lumora_StopPreview() and Lumora_Close() end the run.
 * @param handle Session handle; the session must be idle (else code 1).
 * @param count Buffers in the queue, 1..256.
 * @param buffers count application buffers of size bytes each, which stay the application's
 *        and must live until the run has ended; null: the library allocates count buffers of
 *        the frame's size, valid until the next queued run starts or the session is released.
 * @param size Bytes of each application buffer (ignored when buffers is null); a frame larger
 *        than that fails with code 5 and counts as failed.
 * @param rowOrder 1 top-down, 0 bottom-up, as for Lumora_CallBackPreview().
 * @return 1 when the run started; 0 otherwise (code 9 for a bad argument, 6 without memory,
 *         and the codes of Lumora_StartPreview()).
 */
LUMORA_API int LumoraHost_StartQueuedPreview(int handle, int count, unsigned char* const* buffers,
                                             int size, int rowOrder);
/**
 * Takes the oldest frame of the queue, waiting for one if needed. The buffer is the
 * application's until it gives it back with LumoraHost_ReleaseQueuedFrame().
 * @param handle Session handle.
 * @param timeoutMs Longest wait in milliseconds; 0 does not wait; below 0 waits without limit.
 * @param frame Receives the frame; not null.
 * @return 1 when a frame was taken; 0 when none came in time; -1 when the run has ended and no
 *         frame is left (or the handle is unknown, or no queued run was started).
 */
LUMORA_API int LumoraHost_WaitQueuedFrame(int handle, int timeoutMs, LumoraQueuedFrame* frame);
/**
 * Gives a buffer taken with LumoraHost_WaitQueuedFrame() back to the queue.
 * @param handle Session handle.
 * @param index The frame's index.
 * @param replacement Null: the same buffer goes back. Otherwise (application buffers only) a
 *        buffer of the size given at the start takes its place, and the one taken stays the
 *        application's: a frame kept without a copy.
 * @return 1 on success; 0 for an index not held by the application, a replacement for library
 *         buffers, or an unknown handle.
 */
LUMORA_API int LumoraHost_ReleaseQueuedFrame(int handle, int index, unsigned char* replacement);
/**
 * The frames dropped for a full queue in the current or last queued run, including those after
 * the last frame delivered.
 * @param handle Session handle.
 * @param dropped Receives the count; not null.
 * @return 1 on success; 0 for an unknown handle or a null pointer.
 */
LUMORA_API int LumoraHost_GetQueuedDrops(int handle, uint64_t* dropped);

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
    LUMORA_SIM_FAULT_BULK_FAIL = 1, /* the next `count` bulk transfers fail at once */
    /** Bulk transfers hang until aborted. */
    LUMORA_SIM_FAULT_BULK_STALL = 2, /* the next `count` bulk transfers hang until aborted */
    /** Frames shorter than their header says. */
    LUMORA_SIM_FAULT_SHORT_PAYLOAD = 3, /* the next `count` frames send `param` bytes fewer than
                                           their header announces (0: 64 KiB) */
    /** Frames longer than their geometry. */
    LUMORA_SIM_FAULT_LONG_PAYLOAD = 4, /* the next `count` frames announce and send `param`
                                          bytes more than their geometry (0: 64 KiB) */
    /** Register transfers refused. */
    LUMORA_SIM_FAULT_I2C_REFUSE = 5, /* the next `count` I2C transfers are refused */
    /** Configuration-memory writes fail. */
    LUMORA_SIM_FAULT_EEPROM_WRITE = 6, /* the next `count` EEPROM writes fail */
    /** A slow start-up. */
    LUMORA_SIM_FAULT_SLOW_STARTUP = 7 /* the camera takes `param` ms to become ready, from now
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
/**
 * Puts a uniformly lit target in front of a simulated camera, as for the bright reference of a
 * flat-field correction, or takes it away again.
 * @param index Camera 0..count - 1.
 * @param on Non-zero: the target fills the view (the sensor's shading, dark pattern, hot and dead
 *        pixels and noise stay; the scene's gradient, marks and moving square are hidden);
 *        0: the scene.
 * @return 1 on success, 0 for an unknown index.
 */
LUMORA_API int LumoraSim_ShowFlatTarget(int index, int on);
/** @} */

#if defined(__cplusplus)
}
#endif

#endif /* LUMORA_HOST_H */
