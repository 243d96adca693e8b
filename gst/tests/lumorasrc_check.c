/* lumorasrc on a simulated camera: states, caps negotiation, num-buffers, buffers that outlive
 * the pipeline, offsets and timestamps, and the error message when the camera is unplugged. */
#include <gst/check/gstcheck.h>
#include <gst/video/video.h>
#include <math.h>

#include "lumora/host.h"

/* Runs `description` until EOS or an error; returns the message type that ended it. */
static GstMessageType run_pipeline(GstElement* pipeline, GstClockTime limit) {
    GstBus* bus = gst_element_get_bus(pipeline);
    fail_unless(gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, limit, GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    GstMessageType type = message != NULL ? GST_MESSAGE_TYPE(message) : GST_MESSAGE_UNKNOWN;
    if (message != NULL) gst_message_unref(message);
    gst_object_unref(bus);
    return type;
}

typedef struct {
    GMutex lock;
    GPtrArray* buffers;
} Collected;

static GstPadProbeReturn collect(GstPad* pad, GstPadProbeInfo* info, gpointer user) {
    (void)pad;
    Collected* collected = user;
    g_mutex_lock(&collected->lock);
    g_ptr_array_add(collected->buffers, gst_buffer_ref(GST_PAD_PROBE_INFO_BUFFER(info)));
    g_mutex_unlock(&collected->lock);
    return GST_PAD_PROBE_OK;
}

static GstElement* pipeline_with_probe(const char* description, Collected* collected) {
    GError* error = NULL;
    GstElement* pipeline = gst_parse_launch(description, &error);
    fail_unless(pipeline != NULL, "%s", error != NULL ? error->message : "no pipeline");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, collect, collected, NULL);
    gst_object_unref(pad);
    gst_object_unref(sink);
    return pipeline;
}

/* What a sink saw: each buffer with the frame rate of the caps it came under. */
typedef struct {
    GMutex lock;
    GCond changed;
    GPtrArray* buffers;
    GArray* rates; /* per buffer: the caps' frame rate as a double, -1 for none */
    GArray* rate_changes;
    double rate;
} Watched;

static GstPadProbeReturn watch(GstPad* pad, GstPadProbeInfo* info, gpointer user) {
    (void)pad;
    Watched* watched = user;
    g_mutex_lock(&watched->lock);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        g_ptr_array_add(watched->buffers, gst_buffer_ref(GST_PAD_PROBE_INFO_BUFFER(info)));
        g_array_append_val(watched->rates, watched->rate);
    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_CAPS) {
        GstCaps* caps;
        gst_event_parse_caps(GST_PAD_PROBE_INFO_EVENT(info), &caps);
        gint n = 0, d = 1;
        gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &n, &d);
        double rate = (double)n / d;
        if (rate != watched->rate) g_array_append_val(watched->rate_changes, rate);
        watched->rate = rate;
    }
    g_cond_broadcast(&watched->changed);
    g_mutex_unlock(&watched->lock);
    return GST_PAD_PROBE_OK;
}

static GstElement* watched_pipeline(const char* description, Watched* watched) {
    g_mutex_init(&watched->lock);
    g_cond_init(&watched->changed);
    watched->buffers = g_ptr_array_new_with_free_func((GDestroyNotify)gst_buffer_unref);
    watched->rates = g_array_new(FALSE, FALSE, sizeof(double));
    watched->rate_changes = g_array_new(FALSE, FALSE, sizeof(double));
    watched->rate = -1;
    GstElement* pipeline = gst_parse_launch(description, NULL);
    fail_unless(pipeline != NULL);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, watch,
                      watched, NULL);
    gst_object_unref(pad);
    gst_object_unref(sink);
    return pipeline;
}

static void watched_clear(Watched* watched) {
    g_ptr_array_unref(watched->buffers);
    g_array_unref(watched->rates);
    g_array_unref(watched->rate_changes);
    g_mutex_clear(&watched->lock);
    g_cond_clear(&watched->changed);
}

/* Waits until the sink has seen `count` buffers; FALSE when a minute passes first. */
static gboolean wait_buffers(Watched* watched, guint count) {
    gint64 deadline = g_get_monotonic_time() + 60 * G_TIME_SPAN_SECOND;
    gboolean enough = TRUE;
    g_mutex_lock(&watched->lock);
    while (watched->buffers->len < count && enough)
        enough = g_cond_wait_until(&watched->changed, &watched->lock, deadline) ||
                 watched->buffers->len >= count;
    g_mutex_unlock(&watched->lock);
    return enough;
}

static const GstStructure* frame_meta(GstBuffer* buffer) {
    GstCustomMeta* meta = gst_buffer_get_custom_meta(buffer, "LumoraFrameMeta");
    return meta != NULL ? gst_custom_meta_get_structure(meta) : NULL;
}

static double meta_exposure(GstBuffer* buffer) {
    double exposure = -1;
    const GstStructure* s = frame_meta(buffer);
    if (s != NULL) gst_structure_get_double(s, "exposure", &exposure);
    return exposure;
}

GST_START_TEST(test_buffers_carry_their_settings_and_the_caps_follow_the_frame_rate) {
    Watched watched;
    GstElement* pipeline = watched_pipeline(
        "lumorasrc name=src exposure=20000 gain=40 black-level=200 width=320 height=240 ! "
        "video/x-raw,format=GRAY8 ! fakesink name=sink", &watched);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    fail_unless(wait_buffers(&watched, 3), "no frames");
    /* A longer exposure lengthens the frame: new caps with the new rate follow. */
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "exposure", 100000, NULL);
    guint changed_at = 0;
    for (guint seen = 3; changed_at == 0; ++seen) {
        fail_unless(wait_buffers(&watched, seen + 1), "no frame at the new exposure");
        g_mutex_lock(&watched.lock);
        /* The first frame taken wholly at the new setting; a frame begun while the camera was
         * between the change's register writes may show an exposure of its own before it. */
        if (fabs(meta_exposure(g_ptr_array_index(watched.buffers, seen)) - 0.100) < 1e-4)
            changed_at = seen;
        g_mutex_unlock(&watched.lock);
    }
    fail_unless(wait_buffers(&watched, changed_at + 3));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);

    /* 20 ms and then 100 ms of exposure, each a little more with the frame's fixed part. */
    double first_rate = g_array_index(watched.rates, double, 0);
    fail_unless(first_rate > 1 / 0.0225 && first_rate <= 1 / 0.020, "rate %f", first_rate);
    double last_rate = g_array_index(watched.rates, double, watched.buffers->len - 1);
    fail_unless(last_rate > 1 / 0.1025 && last_rate <= 1 / 0.100, "rate %f", last_rate);
    fail_unless(watched.rate_changes->len >= 2);
    GstBuffer* last = g_ptr_array_index(watched.buffers, watched.buffers->len - 1);
    fail_unless(GST_BUFFER_DURATION(last) >= 100 * GST_MSECOND &&
                GST_BUFFER_DURATION(last) < 103 * GST_MSECOND);

    for (guint b = 0; b < watched.buffers->len; ++b) {
        GstBuffer* buffer = g_ptr_array_index(watched.buffers, b);
        const GstStructure* s = frame_meta(buffer);
        fail_unless(s != NULL, "buffer %u without its frame meta", b);
        gint gain = -1, black = -1, bits = -1;
        guint counter = 0;
        fail_unless(gst_structure_get_int(s, "gain", &gain) && gain == 40);
        fail_unless(gst_structure_get_int(s, "black-level", &black) && black == 200);
        fail_unless(gst_structure_get_int(s, "bit-depth", &bits) && bits == 8);
        fail_unless(gst_structure_get_uint(s, "frame-counter", &counter));
        double exposure = meta_exposure(buffer);
        if (b < 3) fail_unless(fabs(exposure - 0.020) < 1e-4, "exposure %f", exposure);
        if (b >= changed_at) fail_unless(fabs(exposure - 0.100) < 1e-4, "exposure %f", exposure);
        fail_unless(exposure > 0.0 && exposure < 0.105, "exposure %f", exposure);
        if (b == 0) continue;
        /* The offsets count the camera's frames: the same gaps as its counter. */
        GstBuffer* previous = g_ptr_array_index(watched.buffers, b - 1);
        guint before = 0;
        gst_structure_get_uint(frame_meta(previous), "frame-counter", &before);
        fail_unless_equals_int((int)((GST_BUFFER_OFFSET(buffer) - GST_BUFFER_OFFSET(previous)) & 0xFF),
                               (int)((counter - before) & 0xFF));
    }
    gst_object_unref(pipeline);
    watched_clear(&watched);
}
GST_END_TEST

GST_START_TEST(test_a_trigger_run_has_a_variable_rate_and_fires_from_software) {
    /* The second of two cameras: the pulse must reach the camera the element opened. */
    fail_unless_equals_int(LumoraSim_SetCameraCount(2), 2);
    Watched watched;
    GstElement* pipeline = watched_pipeline(
        "lumorasrc name=src serial=LUM00002 trigger=true num-buffers=2 width=256 height=128 ! "
        "video/x-raw,format=GRAY8 ! fakesink name=sink", &watched);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    /* A trigger the camera is not ready for is refused; keep firing until both frames came. */
    GstMessage* message = NULL;
    gint64 deadline = g_get_monotonic_time() + 60 * G_TIME_SPAN_SECOND;
    while (message == NULL && g_get_monotonic_time() < deadline) {
        g_signal_emit_by_name(src, "software-trigger");
        message = gst_bus_timed_pop_filtered(bus, 100 * GST_MSECOND,
                                             GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    }
    fail_unless(message != NULL && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS);
    gst_message_unref(message);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    fail_unless_equals_int(watched.buffers->len, 2);
    for (guint b = 0; b < 2; ++b) {
        fail_unless(g_array_index(watched.rates, double, b) == 0.0);
        fail_unless(frame_meta(g_ptr_array_index(watched.buffers, b)) != NULL);
        fail_if(GST_BUFFER_DURATION_IS_VALID((GstBuffer*)g_ptr_array_index(watched.buffers, b)));
    }
    gst_object_unref(bus);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    watched_clear(&watched);
    LumoraSim_SetCameraCount(1);
}
GST_END_TEST

GST_START_TEST(test_states_cycle_without_leaks) {
    GstElement* src = gst_element_factory_make("lumorasrc", NULL);
    fail_unless(src != NULL, "lumorasrc not found: GST_PLUGIN_PATH must name the build");
    for (int i = 0; i < 3; ++i) {
        /* A live source opens its camera on the way to PAUSED and does not preroll. */
        fail_unless_equals_int(gst_element_set_state(src, GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
        gchar* serial = NULL;
        g_object_get(src, "serial", &serial, NULL);
        fail_unless_equals_string(serial, "LUM00001");
        g_free(serial);
        fail_unless_equals_int(gst_element_set_state(src, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
    gst_object_unref(src);
}
GST_END_TEST

GST_START_TEST(test_caps_follow_the_window_and_the_requested_depth) {
    static const struct {
        const char* format;
        GstVideoFormat expected;
    } cases[] = {{"GRAY8", GST_VIDEO_FORMAT_GRAY8}, {"GRAY16_LE", GST_VIDEO_FORMAT_GRAY16_LE}};
    for (size_t i = 0; i < G_N_ELEMENTS(cases); ++i) {
        gchar* description = g_strdup_printf(
            "lumorasrc num-buffers=3 x=64 y=32 width=320 height=240 ! video/x-raw,format=%s ! "
            "fakesink name=sink", cases[i].format);
        Collected collected = {.buffers = g_ptr_array_new_with_free_func((GDestroyNotify)gst_buffer_unref)};
        g_mutex_init(&collected.lock);
        GstElement* pipeline = pipeline_with_probe(description, &collected);
        fail_unless_equals_int(run_pipeline(pipeline, 20 * GST_SECOND), GST_MESSAGE_EOS);

        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        GstCaps* caps = gst_pad_get_current_caps(pad);
        GstVideoInfo info;
        fail_unless(gst_video_info_from_caps(&info, caps));
        fail_unless_equals_int(GST_VIDEO_INFO_FORMAT(&info), cases[i].expected);
        fail_unless_equals_int(GST_VIDEO_INFO_WIDTH(&info), 320);
        fail_unless_equals_int(GST_VIDEO_INFO_HEIGHT(&info), 240);
        gst_caps_unref(caps);
        gst_object_unref(pad);
        gst_object_unref(sink);

        fail_unless_equals_int(collected.buffers->len, 3);
        for (guint b = 0; b < collected.buffers->len; ++b) {
            GstBuffer* buffer = g_ptr_array_index(collected.buffers, b);
            fail_unless(gst_buffer_get_size(buffer) >= GST_VIDEO_INFO_SIZE(&info));
            fail_unless(GST_BUFFER_PTS_IS_VALID(buffer));
            fail_if(GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_CORRUPTED));
            if (cases[i].expected == GST_VIDEO_FORMAT_GRAY16_LE) {
                GstMapInfo map;
                fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
                const guint16* words = (const guint16*)map.data;
                guint16 highest = 0;
                for (gsize w = 0; w < map.size / 2; ++w) highest = MAX(highest, GUINT16_FROM_LE(words[w]));
                fail_unless(highest > 0 && highest <= 4095, "12 significant bits, got %u", highest);
                gst_buffer_unmap(buffer, &map);
            }
            if (b > 0) {
                GstBuffer* previous = g_ptr_array_index(collected.buffers, b - 1);
                fail_unless(GST_BUFFER_OFFSET(buffer) >= GST_BUFFER_OFFSET_END(previous));
                fail_unless(GST_BUFFER_PTS(buffer) > GST_BUFFER_PTS(previous));
            }
            fail_unless_equals_int((int)(GST_BUFFER_OFFSET_END(buffer) - GST_BUFFER_OFFSET(buffer)), 1);
            /* The host's arrival time on the system clock rides along. */
            GstCaps* unix_caps = gst_caps_from_string("timestamp/x-unix");
            GstReferenceTimestampMeta* stamp =
                gst_buffer_get_reference_timestamp_meta(buffer, unix_caps);
            gst_caps_unref(unix_caps);
            fail_unless(stamp != NULL);
            gint64 now_ns = g_get_real_time() * 1000;
            fail_unless(stamp->timestamp <= (GstClockTime)now_ns &&
                        (GstClockTime)now_ns - stamp->timestamp < 60 * GST_SECOND);
        }
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        g_ptr_array_unref(collected.buffers);
        g_mutex_clear(&collected.lock);
        g_free(description);
    }
}
GST_END_TEST

GST_START_TEST(test_buffers_stay_valid_after_the_pipeline_is_gone) {
    Collected collected = {.buffers = g_ptr_array_new_with_free_func((GDestroyNotify)gst_buffer_unref)};
    g_mutex_init(&collected.lock);
    GstElement* pipeline = pipeline_with_probe(
        "lumorasrc num-buffers=6 width=256 height=128 ! video/x-raw,format=GRAY8 ! fakesink name=sink",
        &collected);
    fail_unless_equals_int(run_pipeline(pipeline, 20 * GST_SECOND), GST_MESSAGE_EOS);
    fail_unless_equals_int(collected.buffers->len, 6);
    /* Keep copies of what downstream saw, then take everything down. */
    GPtrArray* copies = g_ptr_array_new_with_free_func(g_free);
    for (guint b = 0; b < collected.buffers->len; ++b) {
        GstMapInfo map;
        gst_buffer_map(g_ptr_array_index(collected.buffers, b), &map, GST_MAP_READ);
        g_ptr_array_add(copies, g_memdup2(map.data, map.size));
        gst_buffer_unmap(g_ptr_array_index(collected.buffers, b), &map);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    /* Held buffers were never reused for later frames and still hold their pixels. */
    for (guint b = 0; b < collected.buffers->len; ++b) {
        GstMapInfo map;
        gst_buffer_map(g_ptr_array_index(collected.buffers, b), &map, GST_MAP_READ);
        fail_unless(memcmp(map.data, g_ptr_array_index(copies, b), map.size) == 0);
        gst_buffer_unmap(g_ptr_array_index(collected.buffers, b), &map);
    }
    g_ptr_array_unref(copies);
    g_ptr_array_unref(collected.buffers);
    g_mutex_clear(&collected.lock);
}
GST_END_TEST

GST_START_TEST(test_latency_covers_the_exposure) {
    GstElement* pipeline = gst_parse_launch(
        "lumorasrc name=src exposure=20000 width=256 height=128 ! fakesink", NULL);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    gst_element_get_state(pipeline, NULL, NULL, 10 * GST_SECOND);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstQuery* query = gst_query_new_latency();
    fail_unless(gst_element_query(src, query));
    gboolean live;
    GstClockTime min, max;
    gst_query_parse_latency(query, &live, &min, &max);
    fail_unless(live);
    fail_unless(min >= 20 * GST_MSECOND, "latency %" GST_TIME_FORMAT, GST_TIME_ARGS(min));
    fail_unless(min < GST_SECOND);
    gst_query_unref(query);
    gst_object_unref(src);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}
GST_END_TEST

GST_START_TEST(test_unplug_while_playing_posts_an_error) {
    GstElement* pipeline =
        gst_parse_launch("lumorasrc width=256 height=128 ! fakesink sync=false", NULL);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    gst_element_get_state(pipeline, NULL, NULL, 10 * GST_SECOND);
    g_usleep(300 * 1000);
    fail_unless(LumoraSim_Unplug(0));
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 15 * GST_SECOND, GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
    fail_unless(message != NULL, "no message after the unplug");
    fail_unless_equals_int(GST_MESSAGE_TYPE(message), GST_MESSAGE_ERROR);
    gst_message_unref(message);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    fail_unless(LumoraSim_Replug(0));
}
GST_END_TEST

GST_START_TEST(test_refused_window_fails_the_start_with_a_message) {
    GstElement* pipeline = gst_parse_launch("lumorasrc x=2400 width=640 ! fakesink", NULL);
    GstBus* bus = gst_element_get_bus(pipeline);
    fail_unless_equals_int(gst_element_set_state(pipeline, GST_STATE_PLAYING),
                           GST_STATE_CHANGE_FAILURE);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 5 * GST_SECOND, GST_MESSAGE_ERROR);
    fail_unless(message != NULL, "the refusal was not reported");
    GError* error = NULL;
    gst_message_parse_error(message, &error, NULL);
    fail_unless(strstr(error->message, "capture window") != NULL, "%s", error->message);
    g_error_free(error);
    gst_message_unref(message);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
}
GST_END_TEST

static Suite* lumorasrc_suite(void) {
    Suite* suite = suite_create("lumorasrc");
    TCase* tc = tcase_create("general");
    tcase_set_timeout(tc, 60);
    tcase_add_test(tc, test_states_cycle_without_leaks);
    tcase_add_test(tc, test_caps_follow_the_window_and_the_requested_depth);
    tcase_add_test(tc, test_buffers_stay_valid_after_the_pipeline_is_gone);
    tcase_add_test(tc, test_latency_covers_the_exposure);
    tcase_add_test(tc, test_buffers_carry_their_settings_and_the_caps_follow_the_frame_rate);
    tcase_add_test(tc, test_a_trigger_run_has_a_variable_rate_and_fires_from_software);
    tcase_add_test(tc, test_refused_window_fails_the_start_with_a_message);
    tcase_add_test(tc, test_unplug_while_playing_posts_an_error);
    suite_add_tcase(suite, tc);
    return suite;
}

GST_CHECK_MAIN(lumorasrc)
