/*
 * lumorasrc: a live GStreamer source of Lumora M5XIR TEC camera frames.
 *
 * Caps: GRAY8, or GRAY16_LE carrying the sensor's 12 significant bits in the low bits of each
 * little-endian word (values 0..4095), at the programmed capture window. The element runs a
 * continuous preview (or a trigger run with trigger=true) and copies each frame once, from the
 * SDK's newest processed image straight into a buffer of its own pool, so a buffer is never
 * written again while downstream holds it.
 *
 * Timestamps: the running time at which the frame's notice arrived. Offsets count the camera's
 * frames as the SDK announced them, so a gap between two buffers' offsets shows how many frames
 * this element had to skip because downstream was slower than the camera.
 *
 * Frame rate: the caps carry the camera's own frame rate (the inverse of its frame period, which
 * the window, the bit depth and an exposure longer than the readout set), and new caps follow
 * when it changes, for instance when a live exposure change lengthens the frame. A trigger run
 * has no rate of its own: 0/1, a variable rate.
 *
 * Metadata: each buffer carries a custom meta "LumoraFrameMeta" whose structure holds the
 * frame's counter, exposure (seconds), gain, black level, bit depth, the frames skipped before
 * it and, once read, the sensor temperature; no standard meta holds a camera's settings.
 *
 * Threads: properties may be set at any time; the camera is opened on the way to PAUSED and its
 * settings are applied then; exposure, gain, black level, mirrors and cooler also change live. The streaming thread waits for
 * frames in short steps so that unlock (flushing, state changes) ends the wait at once.
 */
#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <stdio.h>
#include <string.h>

#include "lumora/host.h"
#include "lumora/lumora.h"

#define LUMORA_SENSOR_WIDTH 2560
#define LUMORA_SENSOR_HEIGHT 2048
#define LUMORA_FILTER_BLACK_LEVEL 106
#define LUMORA_WAIT_STEP_MS 20
#define LUMORA_FRAME_TIMEOUT_MS 5000
#define LUMORA_FRAME_META_NAME "LumoraFrameMeta"

GST_DEBUG_CATEGORY_STATIC(lumora_src_debug);
#define GST_CAT_DEFAULT lumora_src_debug

#define GST_TYPE_LUMORA_SRC (gst_lumora_src_get_type())
G_DECLARE_FINAL_TYPE(GstLumoraSrc, gst_lumora_src, GST, LUMORA_SRC, GstPushSrc)

struct _GstLumoraSrc {
    GstPushSrc parent;

    /* Properties (guarded by the object lock). */
    gint device;
    gchar* serial;
    guint exposure_us;
    gint gain;
    gint black_level;
    gint x, y, width, height; /* width/height 0: the rest of the sensor */
    gboolean mirror_h, mirror_v, subsample, trigger, cooler;

    /* Camera state (streaming thread and state changes). */
    gint handle;
    HWND events;
    HWND frames;
    gboolean running;
    volatile gint flushing;
    GstVideoInfo info;
    guint64 frame_number; /* frames announced by the SDK since the run started */
    /* The camera's frames since the run's first buffer, unwrapped from its eight-bit counter:
     * the buffer offsets, so a gap is frames the camera sent that no buffer carries. */
    guint64 camera_frames;
    guint32 last_counter;
    gboolean counted;
    GstClockTime frame_period; /* the camera's, of a free run; 0 in a trigger run or unknown */
};

enum {
    PROP_0,
    PROP_DEVICE,
    PROP_SERIAL,
    PROP_EXPOSURE,
    PROP_GAIN,
    PROP_BLACK_LEVEL,
    PROP_X,
    PROP_Y,
    PROP_WIDTH,
    PROP_HEIGHT,
    PROP_MIRROR_H,
    PROP_MIRROR_V,
    PROP_SUBSAMPLE,
    PROP_TRIGGER,
    PROP_COOLER,
};

enum { SIGNAL_SOFTWARE_TRIGGER, SIGNAL_LAST };
static guint lumora_src_signals[SIGNAL_LAST];

G_DEFINE_TYPE(GstLumoraSrc, gst_lumora_src, GST_TYPE_PUSH_SRC)

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) { GRAY8, GRAY16_LE }, "
                    "width = (int) [ 8, 2560 ], height = (int) [ 4, 2048 ], "
                    "framerate = (fraction) [ 0/1, 1000/1 ]"));

static const char* error_meaning(int code) {
    switch (code) {
        case ERR_NONE: return "no error";
        case ERR_NOT_READY: return "not ready";
        case ERR_DEVICE: return "no such camera, or it could not be opened";
        case ERR_THREAD: return "a worker thread could not be started";
        case ERR_WINDOW: return "no preview window";
        case ERR_MEMORY: return "out of memory, or the buffer is too small";
        case ERR_IO: return "the camera refused or failed the access";
        case ERR_WINDOW_SIZE: return "the capture window does not fit the sensor";
        case ERR_FRAME: return "no frame arrived in time";
        case ERR_PARAMETER: return "an argument is out of range";
        case ERR_UNSUPPORTED: return "this camera does not offer the function";
        case ERR_DEVICE_LOST: return "the camera was lost";
        default: return "unknown error";
    }
}

/* Posts an element error with the SDK's newest code; returns FALSE for the caller to pass on. */
static gboolean post_sdk_error(GstLumoraSrc* self, const char* what) {
    int code = self->handle != 0 ? Lumora_GetLastError(self->handle) : ERR_DEVICE;
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("%s", what),
                      ("error %d: %s", code, error_meaning(code)));
    return FALSE;
}

static int output_divisor(GstLumoraSrc* self) { return self->subsample ? 2 : 1; }

/* The properties the camera is opened with, copied under the object lock so that the SDK
 * calls and error messages (which take element locks) run without it. */
typedef struct {
    gint device;
    gchar* serial;
    guint exposure_us;
    gint gain, black_level, x, y, width, height;
    gboolean mirror_h, mirror_v, subsample, cooler;
} Settings;

static Settings take_settings(GstLumoraSrc* self) {
    Settings s;
    GST_OBJECT_LOCK(self);
    s.device = self->device;
    s.serial = g_strdup(self->serial);
    s.exposure_us = self->exposure_us;
    s.gain = self->gain;
    s.black_level = self->black_level;
    s.x = self->x;
    s.y = self->y;
    s.width = self->width;
    s.height = self->height;
    s.mirror_h = self->mirror_h;
    s.mirror_v = self->mirror_v;
    s.subsample = self->subsample;
    s.cooler = self->cooler;
    GST_OBJECT_UNLOCK(self);
    return s;
}

/* Pushes the settings into the open session. */
static gboolean apply_settings(GstLumoraSrc* self, const Settings* s) {
    int h = self->handle;
    int width = s->width > 0 ? s->width : LUMORA_SENSOR_WIDTH - s->x;
    int height = s->height > 0 ? s->height : LUMORA_SENSOR_HEIGHT - s->y;
    if (!Lumora_SetCaptureWindowEx(h, LUMORA_SENSOR_WIDTH, s->x, width, LUMORA_SENSOR_HEIGHT, s->y,
                                   height))
        return post_sdk_error(self, "capture window refused");
    if (!Lumora_SetSubSample(h, s->subsample ? 1 : 0))
        return post_sdk_error(self, "subsampling refused");
    if (s->exposure_us > 0 && !Lumora_SetExposureTimeEx(h, s->exposure_us / 1e6))
        return post_sdk_error(self, "exposure refused");
    if (s->gain >= 0 && !Lumora_SetGlobalGain(h, s->gain))
        return post_sdk_error(self, "gain refused");
    if (s->black_level >= 0 && !Lumora_SetFilterValue(h, LUMORA_FILTER_BLACK_LEVEL, s->black_level))
        return post_sdk_error(self, "black level refused");
    Lumora_SetMirrorH(h, s->mirror_h ? 1 : 0);
    Lumora_SetMirrorV(h, s->mirror_v ? 1 : 0);
    Lumora_SetPeltier(h, s->cooler ? 1 : 0);
    return TRUE;
}

static gboolean open_by_serial(GstLumoraSrc* self, const char* serial) {
    char names[10 * 256];
    int count = Lumora_EnumDevice(self->handle, names);
    for (int i = 0; i < count; ++i) {
        char text[64] = {0};
        if (Lumora_SetDeviceNumber(self->handle, i) &&
            Lumora_ReadSerialNumberA(self->handle, text, sizeof text) && strcmp(text, serial) == 0)
            return TRUE;
    }
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("no camera with serial number %s", serial),
                      (NULL));
    return FALSE;
}

static gboolean gst_lumora_src_start(GstBaseSrc* src) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    self->events = LumoraHost_CreateQueueWindow();
    self->handle = Lumora_Initialize(self->events);
    if (self->handle == 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("cannot create an SDK session"), (NULL));
        return FALSE;
    }
    Settings settings = take_settings(self);
    gboolean ok = TRUE;
    if (settings.serial != NULL && settings.serial[0] != '\0') {
        ok = open_by_serial(self, settings.serial);
    } else if (settings.device >= 0) {
        if (!Lumora_SetDeviceNumber(self->handle, settings.device))
            ok = post_sdk_error(self, "cannot open the camera");
    } else {
        char names[10 * 256];
        int count = Lumora_EnumDevice(self->handle, names);
        if (count == 0) {
            GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("no camera found"), (NULL));
            ok = FALSE;
        } else if (count > 1 && !Lumora_SetDeviceNumber(self->handle, 0)) {
            ok = post_sdk_error(self, "cannot open device 0");
        }
    }
    if (ok) ok = apply_settings(self, &settings);
    g_free(settings.serial);
    if (!ok) {
        Lumora_Release(self->handle);
        self->handle = 0;
        LumoraHost_DestroyWindow(self->events);
        self->events = NULL;
    }
    return ok;
}

static void stop_run(GstLumoraSrc* self) {
    if (self->running) {
        Lumora_StopPreview(self->handle);
        Lumora_Close(self->handle);
        self->running = FALSE;
    }
    if (self->frames != NULL) {
        LumoraHost_DestroyWindow(self->frames);
        self->frames = NULL;
    }
}

static gboolean gst_lumora_src_stop(GstBaseSrc* src) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    stop_run(self);
    if (self->handle != 0) Lumora_Release(self->handle);
    self->handle = 0;
    if (self->events != NULL) LumoraHost_DestroyWindow(self->events);
    self->events = NULL;
    return TRUE;
}

static GstCaps* gst_lumora_src_get_caps(GstBaseSrc* src, GstCaps* filter) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    GstCaps* caps;
    if (self->handle == 0) {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    } else {
        int divisor;
        GST_OBJECT_LOCK(self);
        divisor = output_divisor(self);
        GST_OBJECT_UNLOCK(self);
        int width = Lumora_Width(self->handle) / divisor;
        int height = Lumora_Height(self->handle) / divisor;
        caps = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                                   height, "framerate", GST_TYPE_FRACTION_RANGE, 0, 1, 1000, 1,
                                   NULL);
        GValue formats = G_VALUE_INIT, format = G_VALUE_INIT;
        g_value_init(&formats, GST_TYPE_LIST);
        g_value_init(&format, G_TYPE_STRING);
        /* The camera's own depth first: downstream that accepts both gets all 12 bits. */
        g_value_set_static_string(&format, "GRAY16_LE");
        gst_value_list_append_value(&formats, &format);
        g_value_set_static_string(&format, "GRAY8");
        gst_value_list_append_value(&formats, &format);
        gst_caps_set_value(caps, "format", &formats);
        g_value_unset(&format);
        g_value_unset(&formats);
    }
    if (filter != NULL) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

/* The camera's frame rate as a fraction: 0/1 (variable) in a trigger run or when the camera
 * cannot tell. */
static void camera_rate(GstLumoraSrc* self, gint* numerator, gint* denominator) {
    gboolean trigger;
    GST_OBJECT_LOCK(self);
    trigger = self->trigger;
    GST_OBJECT_UNLOCK(self);
    double period = 0.0;
    *numerator = 0;
    *denominator = 1;
    if (trigger || self->handle == 0 || !LumoraHost_GetFramePeriod(self->handle, &period) ||
        !(period > 0.0))
        return;
    /* In thousandths of a frame per second, as readable fractions (71630/1000 is 7163/100)
     * rather than the nearest of any size. */
    gint n = (gint)(1000.0 / period + 0.5), d = 1000;
    if (n <= 0) return;
    gint a = n, b = d;
    while (b != 0) {
        gint r = a % b;
        a = b;
        b = r;
    }
    n /= a;
    d /= a;
    *numerator = n;
    *denominator = d;
}

static GstCaps* gst_lumora_src_fixate(GstBaseSrc* src, GstCaps* caps) {
    gint numerator, denominator;
    camera_rate(GST_LUMORA_SRC(src), &numerator, &denominator);
    caps = gst_caps_make_writable(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_fraction(s, "framerate", numerator, denominator);
    return GST_BASE_SRC_CLASS(gst_lumora_src_parent_class)->fixate(src, caps);
}

static gboolean gst_lumora_src_set_caps(GstBaseSrc* src, GstCaps* caps) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    /* Only the rate differs (the camera's frame period changed): the run goes on. */
    gboolean same_frames = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_INFO_FORMAT(&self->info) &&
                           GST_VIDEO_INFO_WIDTH(&info) == GST_VIDEO_INFO_WIDTH(&self->info) &&
                           GST_VIDEO_INFO_HEIGHT(&info) == GST_VIDEO_INFO_HEIGHT(&self->info);
    self->info = info;
    if (same_frames && self->running) return TRUE;
    int bits = GST_VIDEO_INFO_FORMAT(&self->info) == GST_VIDEO_FORMAT_GRAY8 ? 8 : 16;
    stop_run(self);
    if (!Lumora_SetColorMode(self->handle, bits)) return post_sdk_error(self, "bit depth refused");
    return TRUE;
}

static gboolean gst_lumora_src_decide_allocation(GstBaseSrc* src, GstQuery* query) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    GstBufferPool* pool = NULL;
    guint size = (guint)GST_VIDEO_INFO_SIZE(&self->info), min = 4, max = 0;
    if (gst_query_get_n_allocation_pools(query) > 0) {
        guint proposed_size;
        gst_query_parse_nth_allocation_pool(query, 0, &pool, &proposed_size, &min, &max);
        if (proposed_size > size) size = proposed_size;
        if (min < 4) min = 4;
    }
    if (pool == NULL) pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    GstCaps* caps;
    gst_query_parse_allocation(query, &caps, NULL);
    gst_buffer_pool_config_set_params(config, caps, size, min, max);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gst_buffer_pool_set_config(pool, config);
    if (gst_query_get_n_allocation_pools(query) > 0)
        gst_query_set_nth_allocation_pool(query, 0, pool, size, min, max);
    else
        gst_query_add_allocation_pool(query, pool, size, min, max);
    gst_object_unref(pool);
    return GST_BASE_SRC_CLASS(gst_lumora_src_parent_class)->decide_allocation(src, query);
}

static gboolean start_run(GstLumoraSrc* self) {
    self->frames = LumoraHost_CreateQueueWindow();
    self->frame_number = 0;
    self->camera_frames = 0;
    self->counted = FALSE;
    gboolean trigger;
    GST_OBJECT_LOCK(self);
    trigger = self->trigger;
    GST_OBJECT_UNLOCK(self);
    int ok = trigger ? Lumora_Trigger(self->handle, self->frames, NULL, 0, 1)
                     : Lumora_CallBackPreview(self->handle, self->frames, NULL, 0, 1);
    if (!ok) return post_sdk_error(self, "cannot start the camera's run");
    self->running = TRUE;
    return TRUE;
}

static GstClockTime exposure_time(GstLumoraSrc* self) {
    int valid = 0;
    double seconds = Lumora_GetExposureTimeEx(self->handle, &valid);
    return valid ? (GstClockTime)(seconds * GST_SECOND) : 0;
}

static gboolean gst_lumora_src_query(GstBaseSrc* src, GstQuery* query) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY && self->handle != 0) {
        /* A frame is out one exposure plus one frame period after its exposure began. */
        double seconds = 0.0;
        GstClockTime period = LumoraHost_GetFramePeriod(self->handle, &seconds) && seconds > 0.0
                                  ? (GstClockTime)(seconds * GST_SECOND)
                                  : GST_SECOND / 70;
        GstClockTime latency = period + exposure_time(self);
        gst_query_set_latency(query, TRUE, latency, GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_lumora_src_parent_class)->query(src, query);
}

static gboolean gst_lumora_src_unlock(GstBaseSrc* src) {
    g_atomic_int_set(&GST_LUMORA_SRC(src)->flushing, 1);
    return TRUE;
}

static gboolean gst_lumora_src_unlock_stop(GstBaseSrc* src) {
    g_atomic_int_set(&GST_LUMORA_SRC(src)->flushing, 0);
    return TRUE;
}

/* Waits for the newest frame notice. Returns GST_FLOW_OK with *damaged telling whether the
 * camera reported the frame as failed. */
static GstClockTime exposure_time(GstLumoraSrc* self);

static GstFlowReturn wait_frame(GstLumoraSrc* self, gboolean* damaged, GstClockTime* arrival) {
    /* The camera's own time comes first: a long exposure's frame under way when it changed and
     * a whole frame at the new one; the time-out is the host's allowance beyond it. */
    gint64 camera_us = (gint64)(2 * exposure_time(self) / GST_USECOND);
    gint64 deadline = g_get_monotonic_time() + camera_us + (gint64)LUMORA_FRAME_TIMEOUT_MS * 1000;
    gboolean trigger;
    GST_OBJECT_LOCK(self);
    trigger = self->trigger;
    GST_OBJECT_UNLOCK(self);
    for (;;) {
        if (g_atomic_int_get(&self->flushing)) return GST_FLOW_FLUSHING;
        LumoraHostMessage message;
        if (!LumoraHost_WaitMessage(self->frames, LUMORA_WAIT_STEP_MS, &message)) {
            /* A trigger run waits for its trigger however long it takes. */
            if (!trigger && g_get_monotonic_time() > deadline) {
                GST_ELEMENT_ERROR(self, RESOURCE, READ, ("no frame from the camera"),
                                  ("nothing for %d ms beyond twice the exposure",
                                   LUMORA_FRAME_TIMEOUT_MS));
                return GST_FLOW_ERROR;
            }
            continue;
        }
        if (message.message != LUMORA_MSG_FRAME) continue;
        GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
        *arrival = GST_CLOCK_TIME_NONE;
        if (clock != NULL) {
            *arrival = gst_clock_get_time(clock) - gst_element_get_base_time(GST_ELEMENT(self));
            gst_object_unref(clock);
        }
        ++self->frame_number;
        if (message.wParam == 0) {
            if (message.lParam == ERR_DEVICE_LOST) {
                GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("the camera was lost"),
                                  ("error %d", ERR_DEVICE_LOST));
                return GST_FLOW_ERROR;
            }
            *damaged = TRUE;
            return GST_FLOW_OK;
        }
        /* Newer notices already queued: this element is behind, so take the newest. */
        LumoraHostMessage newer;
        while (LumoraHost_WaitMessage(self->frames, 0, &newer)) {
            if (newer.message != LUMORA_MSG_FRAME) continue;
            ++self->frame_number;
            if (newer.wParam == 0 && newer.lParam == ERR_DEVICE_LOST) {
                GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("the camera was lost"),
                                  ("error %d", ERR_DEVICE_LOST));
                return GST_FLOW_ERROR;
            }
        }
        *damaged = FALSE;
        return GST_FLOW_OK;
    }
}

/* New caps when the camera's frame rate is no longer the one downstream was told; also sets the
 * buffers' duration. */
static void follow_frame_rate(GstLumoraSrc* self) {
    gint numerator, denominator;
    camera_rate(self, &numerator, &denominator);
    self->frame_period =
        numerator > 0 ? gst_util_uint64_scale_int(GST_SECOND, denominator, numerator) : 0;
    GstCaps* current = gst_pad_get_current_caps(GST_BASE_SRC_PAD(self));
    if (current == NULL) return;
    gint n = -1, d = -1;
    gst_structure_get_fraction(gst_caps_get_structure(current, 0), "framerate", &n, &d);
    if (n != numerator || d != denominator) {
        GstCaps* caps = gst_caps_copy(current);
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, numerator, denominator, NULL);
        if (!gst_base_src_set_caps(GST_BASE_SRC(self), caps))
            GST_WARNING_OBJECT(self, "downstream refused the frame rate %d/%d", numerator,
                               denominator);
        gst_caps_unref(caps);
    }
    gst_caps_unref(current);
}

static void add_frame_meta(GstBuffer* buffer, const LumoraFrameMeta* meta) {
    GstCustomMeta* custom = gst_buffer_add_custom_meta(buffer, LUMORA_FRAME_META_NAME);
    if (custom == NULL) return;
    GstStructure* s = gst_custom_meta_get_structure(custom);
    gst_structure_set(s, "frame-counter", G_TYPE_UINT, (guint)meta->frameCounter,
                      "exposure", G_TYPE_DOUBLE, meta->exposureSeconds,
                      "gain", G_TYPE_INT, (gint)meta->gain,
                      "black-level", G_TYPE_INT, (gint)meta->blackLevel,
                      "bit-depth", G_TYPE_INT, (gint)meta->bitDepth,
                      "skipped-before", G_TYPE_UINT64, (guint64)meta->skippedBefore, NULL);
    if (meta->temperatureValid)
        gst_structure_set(s, "temperature", G_TYPE_DOUBLE, meta->temperature, NULL);
}

static GstFlowReturn gst_lumora_src_fill(GstPushSrc* src, GstBuffer* buffer) {
    GstLumoraSrc* self = GST_LUMORA_SRC(src);
    if (!self->running && !start_run(self)) return GST_FLOW_ERROR;
    gboolean damaged = FALSE;
    GstClockTime arrival = GST_CLOCK_TIME_NONE;
    GstFlowReturn flow = wait_frame(self, &damaged, &arrival);
    if (flow != GST_FLOW_OK) return flow;
    follow_frame_rate(self);

    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) return GST_FLOW_ERROR;
    LumoraFrameMeta meta;
    memset(&meta, 0, sizeof meta);
    int copied = map.size >= GST_VIDEO_INFO_SIZE(&self->info) &&
                 LumoraHost_GetImageWithMeta(self->handle, map.data,
                                             (int)GST_VIDEO_INFO_SIZE(&self->info), 1, &meta);
    gst_buffer_unmap(buffer, &map);
    if (!copied || damaged) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_CORRUPTED);

    if (copied && meta.valid) {
        if (self->counted) self->camera_frames += (meta.frameCounter - self->last_counter) & 0xFF;
        self->counted = TRUE;
        self->last_counter = meta.frameCounter;
        /* When the host had the frame, on the system clock and on the monotonic clock. */
        static GstStaticCaps unix_caps = GST_STATIC_CAPS("timestamp/x-unix");
        static GstStaticCaps monotonic_caps = GST_STATIC_CAPS("timestamp/x-monotonic");
        gst_buffer_add_reference_timestamp_meta(buffer, gst_static_caps_get(&unix_caps),
                                                (GstClockTime)meta.arrivalWallNs,
                                                GST_CLOCK_TIME_NONE);
        gst_buffer_add_reference_timestamp_meta(buffer, gst_static_caps_get(&monotonic_caps),
                                                (GstClockTime)meta.arrivalNs, GST_CLOCK_TIME_NONE);
        add_frame_meta(buffer, &meta);
    } else {
        ++self->camera_frames;  /* no number: counted as the next frame */
    }
    GST_BUFFER_OFFSET(buffer) = self->camera_frames;
    GST_BUFFER_OFFSET_END(buffer) = self->camera_frames + 1;
    if (!gst_base_src_get_do_timestamp(GST_BASE_SRC(src))) {
        GST_BUFFER_PTS(buffer) = arrival;
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    }
    GST_BUFFER_DURATION(buffer) = self->frame_period != 0 ? self->frame_period : GST_CLOCK_TIME_NONE;
    return GST_FLOW_OK;
}

static void software_trigger(GstLumoraSrc* self) {
    /* Only the simulated camera can be triggered from software; a real camera's trigger is its
     * input line. The simulated camera is the one with the open camera's serial number: device
     * numbers need not be simulator indices (a camera replugged on a new port keeps its index). */
    char open[64] = {0};
    if (self->handle == 0 || !Lumora_ReadSerialNumberA(self->handle, open, sizeof open)) {
        GST_WARNING_OBJECT(self, "software trigger: no camera open");
        return;
    }
    int count = LumoraSim_GetCameraCount();
    for (int i = 0; i < count; ++i) {
        char serial[64] = {0};
        if (LumoraSim_GetSerialNumber(i, serial, sizeof serial) && strcmp(serial, open) == 0) {
            if (!LumoraSim_FireTrigger(i))
                GST_WARNING_OBJECT(self, "software trigger refused: not in a trigger run, or "
                                         "the previous frame is still under way");
            return;
        }
    }
    GST_WARNING_OBJECT(self, "software trigger refused: not a simulated camera");
}

static void gst_lumora_src_set_property(GObject* object, guint id, const GValue* value,
                                        GParamSpec* param) {
    GstLumoraSrc* self = GST_LUMORA_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case PROP_DEVICE: self->device = g_value_get_int(value); break;
        case PROP_SERIAL:
            g_free(self->serial);
            self->serial = g_value_dup_string(value);
            break;
        case PROP_EXPOSURE: self->exposure_us = g_value_get_uint(value); break;
        case PROP_GAIN: self->gain = g_value_get_int(value); break;
        case PROP_BLACK_LEVEL: self->black_level = g_value_get_int(value); break;
        case PROP_X: self->x = g_value_get_int(value); break;
        case PROP_Y: self->y = g_value_get_int(value); break;
        case PROP_WIDTH: self->width = g_value_get_int(value); break;
        case PROP_HEIGHT: self->height = g_value_get_int(value); break;
        case PROP_MIRROR_H: self->mirror_h = g_value_get_boolean(value); break;
        case PROP_MIRROR_V: self->mirror_v = g_value_get_boolean(value); break;
        case PROP_SUBSAMPLE: self->subsample = g_value_get_boolean(value); break;
        case PROP_TRIGGER: self->trigger = g_value_get_boolean(value); break;
        case PROP_COOLER: self->cooler = g_value_get_boolean(value); break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param); break;
    }
    /* Exposure, gain, black level, mirrors and cooler change live; geometry waits for the next
     * negotiation (READY). */
    gboolean live = self->handle != 0 && (id == PROP_EXPOSURE || id == PROP_GAIN ||
                                          id == PROP_BLACK_LEVEL || id == PROP_MIRROR_H ||
                                          id == PROP_MIRROR_V || id == PROP_COOLER);
    if (live) {
        int h = self->handle;
        if (id == PROP_EXPOSURE) Lumora_SetExposureTimeEx(h, self->exposure_us / 1e6);
        if (id == PROP_GAIN) Lumora_SetGlobalGain(h, self->gain);
        if (id == PROP_BLACK_LEVEL) Lumora_SetFilterValue(h, LUMORA_FILTER_BLACK_LEVEL, self->black_level);
        if (id == PROP_MIRROR_H) Lumora_SetMirrorH(h, self->mirror_h);
        if (id == PROP_MIRROR_V) Lumora_SetMirrorV(h, self->mirror_v);
        if (id == PROP_COOLER) Lumora_SetPeltier(h, self->cooler);
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_lumora_src_get_property(GObject* object, guint id, GValue* value,
                                        GParamSpec* param) {
    GstLumoraSrc* self = GST_LUMORA_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case PROP_DEVICE: g_value_set_int(value, self->device); break;
        case PROP_SERIAL:
            if (self->handle != 0 && (self->serial == NULL || self->serial[0] == '\0')) {
                char text[64] = {0};
                Lumora_ReadSerialNumberA(self->handle, text, sizeof text);
                g_value_set_string(value, text);
            } else {
                g_value_set_string(value, self->serial);
            }
            break;
        case PROP_EXPOSURE: g_value_set_uint(value, self->exposure_us); break;
        case PROP_GAIN: g_value_set_int(value, self->gain); break;
        case PROP_BLACK_LEVEL: g_value_set_int(value, self->black_level); break;
        case PROP_X: g_value_set_int(value, self->x); break;
        case PROP_Y: g_value_set_int(value, self->y); break;
        case PROP_WIDTH: g_value_set_int(value, self->width); break;
        case PROP_HEIGHT: g_value_set_int(value, self->height); break;
        case PROP_MIRROR_H: g_value_set_boolean(value, self->mirror_h); break;
        case PROP_MIRROR_V: g_value_set_boolean(value, self->mirror_v); break;
        case PROP_SUBSAMPLE: g_value_set_boolean(value, self->subsample); break;
        case PROP_TRIGGER: g_value_set_boolean(value, self->trigger); break;
        case PROP_COOLER: g_value_set_boolean(value, self->cooler); break;
        default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param); break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void gst_lumora_src_finalize(GObject* object) {
    GstLumoraSrc* self = GST_LUMORA_SRC(object);
    g_free(self->serial);
    G_OBJECT_CLASS(gst_lumora_src_parent_class)->finalize(object);
}

static void gst_lumora_src_class_init(GstLumoraSrcClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);

    object->set_property = gst_lumora_src_set_property;
    object->get_property = gst_lumora_src_get_property;
    object->finalize = gst_lumora_src_finalize;

    const GParamFlags rw = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
    g_object_class_install_property(object, PROP_DEVICE,
        g_param_spec_int("device", "Device", "Device number (-1: the only camera, or the first)",
                         -1, 31, -1, rw));
    g_object_class_install_property(object, PROP_SERIAL,
        g_param_spec_string("serial", "Serial", "Serial number of the camera to open (reads back "
                            "the open camera's)", NULL, rw));
    g_object_class_install_property(object, PROP_EXPOSURE,
        g_param_spec_uint("exposure", "Exposure", "Exposure in microseconds (0: keep the stored one)",
                          0, 2000000, 0, rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(object, PROP_GAIN,
        g_param_spec_int("gain", "Gain", "Global gain in sensor steps (-1: keep)", -1, 100000, -1,
                         rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(object, PROP_BLACK_LEVEL,
        g_param_spec_int("black-level", "Black level", "Black level (-1: keep)", -1, 4095, -1,
                         rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(object, PROP_X,
        g_param_spec_int("x", "X", "Capture window left edge on the sensor", 0, 2552, 0, rw));
    g_object_class_install_property(object, PROP_Y,
        g_param_spec_int("y", "Y", "Capture window top edge on the sensor", 0, 2044, 0, rw));
    g_object_class_install_property(object, PROP_WIDTH,
        g_param_spec_int("width", "Width", "Capture window width (0: to the sensor's edge)", 0,
                         2560, 0, rw));
    g_object_class_install_property(object, PROP_HEIGHT,
        g_param_spec_int("height", "Height", "Capture window height (0: to the sensor's edge)", 0,
                         2048, 0, rw));
    g_object_class_install_property(object, PROP_MIRROR_H,
        g_param_spec_boolean("mirror-h", "Mirror H", "Mirror horizontally", FALSE,
                             rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(object, PROP_MIRROR_V,
        g_param_spec_boolean("mirror-v", "Mirror V", "Mirror vertically", FALSE,
                             rw | GST_PARAM_MUTABLE_PLAYING));
    g_object_class_install_property(object, PROP_SUBSAMPLE,
        g_param_spec_boolean("subsample", "Subsample", "Half resolution", FALSE, rw));
    g_object_class_install_property(object, PROP_TRIGGER,
        g_param_spec_boolean("trigger", "Trigger", "One frame per external trigger", FALSE, rw));
    g_object_class_install_property(object, PROP_COOLER,
        g_param_spec_boolean("cooler", "Cooler", "Thermo-electric cooler on", TRUE,
                             rw | GST_PARAM_MUTABLE_PLAYING));

    lumora_src_signals[SIGNAL_SOFTWARE_TRIGGER] = g_signal_new_class_handler(
        "software-trigger", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION,
        G_CALLBACK(software_trigger), NULL, NULL, NULL, G_TYPE_NONE, 0);

    gst_element_class_set_static_metadata(element, "Lumora camera source", "Source/Video",
        "Frames of a Lumora M5XIR TEC short-wave-infrared camera (GRAY16_LE: 12 significant bits)",
        "Lumora SDK");
    gst_element_class_add_static_pad_template(element, &src_template);

    base->start = gst_lumora_src_start;
    base->stop = gst_lumora_src_stop;
    base->get_caps = gst_lumora_src_get_caps;
    base->fixate = gst_lumora_src_fixate;
    base->set_caps = gst_lumora_src_set_caps;
    base->decide_allocation = gst_lumora_src_decide_allocation;
    base->query = gst_lumora_src_query;
    base->unlock = gst_lumora_src_unlock;
    base->unlock_stop = gst_lumora_src_unlock_stop;
    push->fill = gst_lumora_src_fill;

    GST_DEBUG_CATEGORY_INIT(lumora_src_debug, "lumorasrc", 0, "Lumora camera source");
}

static void gst_lumora_src_init(GstLumoraSrc* self) {
    self->device = -1;
    self->gain = -1;
    self->black_level = -1;
    self->cooler = TRUE;
    gst_video_info_init(&self->info);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static gboolean plugin_init(GstPlugin* plugin) {
    /* No tags: the meta describes the frame, not its memory or layout, so conversions keep it. */
    static const gchar* tags[] = {NULL};
    gst_meta_register_custom(LUMORA_FRAME_META_NAME, tags, NULL, NULL, NULL);
    return gst_element_register(plugin, "lumorasrc", GST_RANK_NONE, GST_TYPE_LUMORA_SRC);
}

#define PACKAGE "lumora"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lumora,
                  "Lumora M5XIR TEC camera source", plugin_init, "2.39.5", "Proprietary",
                  "Lumora SDK", "Lumora SDK")
