// kadchronix2: the recording date and time of DV frames as text.
//
//   gst-launch-1.0 filesrc location=tape.dv ! dvdemux ! kadchronix2 format="dd/mm/yyyy hh:nn"
//       ! fakesink dump=true
//
// Every frame in gives one text buffer out with the same timestamps, so the
// overlay can pair each picture with its own date without waiting for it.

#include "elements/chronix2.h"

#include "elements/date_pattern.h"
#include "media/dv/recording_watch.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

GST_DEBUG_CATEGORY_STATIC(chronix2_debug);
#define GST_CAT_DEFAULT chronix2_debug

namespace {

constexpr gint kMaxHourOffset = 23;
constexpr gint kDefaultInlayFrames = 125; // five seconds of PAL

// Set from the application's threads, read by the streaming thread, always
// under the object lock.
struct Settings {
    gint hourOffset = 0;
    std::string format{kad::kDefaultDatePattern};
    gboolean enabled = TRUE;
    gint inlayFrames = kDefaultInlayFrames;
    gboolean automatic = FALSE;
    // Switching the automatic inlay on shows the date of the scene playing
    // now, not only from the next scene on.
    gboolean showCurrentScene = FALSE;
};

// What the stream has told so far; the streaming thread's alone (it runs
// under the sink pad's stream lock).
struct Reader {
    kad::dv::RecordingWatch watch;
    gint inlayLeft = 0; // frames of the automatic inlay still to show

    void reset() { *this = Reader{}; }
};

struct State {
    Settings settings;
    Reader reader;
};

} // namespace

struct _KadChronix2 {
    GstElement parent;

    GstPad* sinkpad;
    GstPad* srcpad;

    State* state;
    alignas(State) unsigned char storage[sizeof(State)];
};

G_DEFINE_TYPE(KadChronix2, kad_chronix2, GST_TYPE_ELEMENT)

namespace {

enum {
    PROP_0,
    PROP_HOUR_OFFSET,
    PROP_FORMAT,
    PROP_ENABLED,
    PROP_INLAY_FRAMES,
    PROP_AUTOMATIC,
};
enum {
    SIGNAL_SET_HOUR_OFFSET,
    SIGNAL_SET_FORMAT,
    SIGNAL_SET_ENABLED,
    SIGNAL_SET_INLAY_FRAMES,
    SIGNAL_SET_AUTOMATIC,
    LAST_SIGNAL
};
guint signals[LAST_SIGNAL];

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-dv"));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("text/x-raw, format=(string)utf8"));

// ---- Dates -------------------------------------------------------------------

kad::DateTimeValue shownValue(const kad::dv::RecordingDateTime& when, gint hourOffset)
{
    const kad::dv::RecordingDateTime shifted =
        kad::dv::fromSeconds(kad::dv::secondsOf(when) + std::int64_t{hourOffset} * 3600);
    kad::DateTimeValue value;
    value.year = shifted.year;
    value.month = shifted.month;
    value.day = shifted.day;
    value.hour = shifted.hour;
    value.minute = shifted.minute;
    value.second = shifted.second;
    return value;
}

std::optional<std::uint64_t> knownTime(GstClockTime time)
{
    if (!GST_CLOCK_TIME_IS_VALID(time)) return std::nullopt;
    return time;
}

kad::dv::FrameRecording readFrame(kad::dv::RecordingWatch& watch, GstBuffer* buffer)
{
    const auto pts = knownTime(GST_BUFFER_PTS(buffer));
    const auto duration = knownTime(GST_BUFFER_DURATION(buffer));
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return watch.observe(nullptr, 0, pts, duration);
    const kad::dv::FrameRecording facts = watch.observe(map.data, map.size, pts, duration);
    gst_buffer_unmap(buffer, &map);
    return facts;
}

// Brings the reader up to date with one frame and returns the text it shows.
std::string textForFrame(KadChronix2* self, GstBuffer* buffer)
{
    GST_OBJECT_LOCK(self);
    const Settings settings = self->state->settings;
    self->state->settings.showCurrentScene = FALSE;
    GST_OBJECT_UNLOCK(self);

    Reader& r = self->state->reader;
    const kad::dv::FrameRecording facts = readFrame(r.watch, buffer);
    if (!facts.recorded) GST_LOG_OBJECT(self, "no readable recording date in this frame");
    if (facts.newRecording || settings.showCurrentScene) r.inlayLeft = settings.inlayFrames;

    const std::optional<kad::dv::RecordingDateTime>& shown = r.watch.lastRecorded();
    if (!settings.enabled || !shown) return {};
    if (settings.automatic) {
        if (r.inlayLeft <= 0) return {};
        --r.inlayLeft;
    }
    return kad::formatDatePattern(settings.format, shownValue(*shown, settings.hourOffset));
}

// ---- Pads --------------------------------------------------------------------

GstFlowReturn chain(GstPad* /*pad*/, GstObject* parent, GstBuffer* buffer)
{
    KadChronix2* self = KAD_CHRONIX2(parent);
    const std::string text = textForFrame(self, buffer);
    GstBuffer* out =
        text.empty() ? gst_buffer_new() : gst_buffer_new_memdup(text.data(), text.size());
    GST_BUFFER_PTS(out) = GST_BUFFER_PTS(buffer);
    GST_BUFFER_DTS(out) = GST_BUFFER_DTS(buffer);
    GST_BUFFER_DURATION(out) = GST_BUFFER_DURATION(buffer);
    GST_BUFFER_OFFSET(out) = GST_BUFFER_OFFSET(buffer);
    GST_BUFFER_OFFSET_END(out) = GST_BUFFER_OFFSET_END(buffer);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT))
        GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
    gst_buffer_unref(buffer);
    return gst_pad_push(self->srcpad, out);
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    KadChronix2* self = KAD_CHRONIX2(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        // Whatever DV flavour comes in, text goes out.
        gst_event_unref(event);
        GstCaps* caps = gst_static_pad_template_get_caps(&srcTemplate);
        const gboolean ok = gst_pad_push_event(self->srcpad, gst_event_new_caps(caps));
        gst_caps_unref(caps);
        return ok;
    }
    case GST_EVENT_STREAM_START:
    case GST_EVENT_FLUSH_STOP:
        self->state->reader.reset();
        break;
    default:
        break;
    }
    return gst_pad_event_default(pad, parent, event);
}

gboolean sinkQuery(GstPad* pad, GstObject* parent, GstQuery* query)
{
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_ALLOCATION:
        // Our output is new text, never the frames' memory: nothing to ask
        // of downstream and nothing to propose upstream.
        return TRUE;
    case GST_QUERY_CAPS: {
        GstCaps* filter = nullptr;
        gst_query_parse_caps(query, &filter);
        GstCaps* caps = gst_pad_get_pad_template_caps(pad);
        if (filter) {
            GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
            gst_caps_unref(caps);
            caps = both;
        }
        gst_query_set_caps_result(query, caps);
        gst_caps_unref(caps);
        return TRUE;
    }
    default:
        return gst_pad_query_default(pad, parent, query);
    }
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    KadChronix2* self = KAD_CHRONIX2(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) self->state->reader.reset();
    return GST_ELEMENT_CLASS(kad_chronix2_parent_class)->change_state(element, transition);
}

// ---- Properties and actions ----------------------------------------------------

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    GstElement* element = GST_ELEMENT(object);
    switch (id) {
    case PROP_HOUR_OFFSET:
        kad_chronix2_set_hour_offset(element, g_value_get_int(value));
        break;
    case PROP_FORMAT:
        kad_chronix2_set_format(element, g_value_get_string(value));
        break;
    case PROP_ENABLED:
        kad_chronix2_set_enabled(element, g_value_get_boolean(value) ? 1 : 0);
        break;
    case PROP_INLAY_FRAMES:
        kad_chronix2_set_inlay_frames(element, g_value_get_int(value));
        break;
    case PROP_AUTOMATIC:
        kad_chronix2_set_automatic(element, g_value_get_boolean(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadChronix2* self = KAD_CHRONIX2(object);
    GST_OBJECT_LOCK(self);
    const Settings& s = self->state->settings;
    switch (id) {
    case PROP_HOUR_OFFSET:
        g_value_set_int(value, s.hourOffset);
        break;
    case PROP_FORMAT:
        g_value_set_string(value, s.format.c_str());
        break;
    case PROP_ENABLED:
        g_value_set_boolean(value, s.enabled);
        break;
    case PROP_INLAY_FRAMES:
        g_value_set_int(value, s.inlayFrames);
        break;
    case PROP_AUTOMATIC:
        g_value_set_boolean(value, s.automatic);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void setHourOffsetAction(KadChronix2* self, gint hours)
{
    kad_chronix2_set_hour_offset(GST_ELEMENT(self), hours);
}

void setFormatAction(KadChronix2* self, const gchar* pattern)
{
    kad_chronix2_set_format(GST_ELEMENT(self), pattern);
}

void setEnabledAction(KadChronix2* self, gint enabled)
{
    kad_chronix2_set_enabled(GST_ELEMENT(self), enabled);
}

void setInlayFramesAction(KadChronix2* self, gint frames)
{
    kad_chronix2_set_inlay_frames(GST_ELEMENT(self), frames);
}

void setAutomaticAction(KadChronix2* self, gboolean automatic)
{
    kad_chronix2_set_automatic(GST_ELEMENT(self), automatic);
}

void finalize(GObject* object)
{
    std::destroy_at(KAD_CHRONIX2(object)->state);
    G_OBJECT_CLASS(kad_chronix2_parent_class)->finalize(object);
}

} // namespace

static void kad_chronix2_class_init(KadChronix2Class* klass)
{
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);

    gobjectClass->set_property = setProperty;
    gobjectClass->get_property = getProperty;
    gobjectClass->finalize = finalize;

    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobjectClass, PROP_HOUR_OFFSET,
        g_param_spec_int("hour-offset", "Hour offset",
                         "Hours added to the recording time (a camcorder clock set to the wrong "
                         "time zone or summer time)",
                         -kMaxHourOffset, kMaxHourOffset, 0, rw));
    g_object_class_install_property(
        gobjectClass, PROP_FORMAT,
        g_param_spec_string("format", "Format",
                            "Date pattern of the text (d, m, y, h, n, s, z, am/pm; quoted text "
                            "kept); empty for the default",
                            kad::kDefaultDatePattern.data(), rw));
    g_object_class_install_property(
        gobjectClass, PROP_ENABLED,
        g_param_spec_boolean("enabled", "Enabled",
                             "Send the date; when off every text buffer is empty", TRUE, rw));
    g_object_class_install_property(
        gobjectClass, PROP_INLAY_FRAMES,
        g_param_spec_int("inlay-frames", "Inlay frames",
                         "Frames one automatic inlay lasts from the start of a recording", 0,
                         G_MAXINT, kDefaultInlayFrames, rw));
    g_object_class_install_property(
        gobjectClass, PROP_AUTOMATIC,
        g_param_spec_boolean("automatic", "Automatic",
                             "Send the date only for inlay-frames frames at each new recording "
                             "(and once when switched on)",
                             FALSE, rw));

    const auto actionFlags = static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION);
    const GType type = G_TYPE_FROM_CLASS(klass);
    signals[SIGNAL_SET_HOUR_OFFSET] = g_signal_new_class_handler(
        "set-hour-offset", type, actionFlags, G_CALLBACK(setHourOffsetAction), nullptr, nullptr,
        nullptr, G_TYPE_NONE, 1, G_TYPE_INT);
    signals[SIGNAL_SET_FORMAT] =
        g_signal_new_class_handler("set-format", type, actionFlags, G_CALLBACK(setFormatAction),
                                   nullptr, nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_STRING);
    signals[SIGNAL_SET_ENABLED] =
        g_signal_new_class_handler("set-enabled", type, actionFlags, G_CALLBACK(setEnabledAction),
                                   nullptr, nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_INT);
    signals[SIGNAL_SET_INLAY_FRAMES] = g_signal_new_class_handler(
        "set-inlay-frames", type, actionFlags, G_CALLBACK(setInlayFramesAction), nullptr, nullptr,
        nullptr, G_TYPE_NONE, 1, G_TYPE_INT);
    signals[SIGNAL_SET_AUTOMATIC] = g_signal_new_class_handler(
        "set-automatic", type, actionFlags, G_CALLBACK(setAutomaticAction), nullptr, nullptr,
        nullptr, G_TYPE_NONE, 1, G_TYPE_BOOLEAN);

    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(
        elementClass, "Tavrel Chronix2", "Filter/Converter/Video/Subtitle",
        "Reads the recording date and time of DV frames and sends it as text, one buffer per "
        "frame",
        "Kadrillo");
    elementClass->change_state = changeState;
}

static void kad_chronix2_init(KadChronix2* self)
{
    self->state = std::construct_at(reinterpret_cast<State*>(self->storage));

    self->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_chain_function(self->sinkpad, chain);
    gst_pad_set_event_function(self->sinkpad, sinkEvent);
    gst_pad_set_query_function(self->sinkpad, sinkQuery);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

    self->srcpad = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}

void kad_chronix2_set_hour_offset(GstElement* datecode, gint hours)
{
    g_return_if_fail(KAD_IS_CHRONIX2(datecode));
    KadChronix2* self = KAD_CHRONIX2(datecode);
    GST_OBJECT_LOCK(self);
    self->state->settings.hourOffset = CLAMP(hours, -kMaxHourOffset, kMaxHourOffset);
    GST_OBJECT_UNLOCK(self);
}

void kad_chronix2_set_format(GstElement* datecode, const gchar* pattern)
{
    g_return_if_fail(KAD_IS_CHRONIX2(datecode));
    KadChronix2* self = KAD_CHRONIX2(datecode);
    // The text goes out as UTF-8, so a pattern in another encoding is mended
    // here rather than sent on broken.
    gchar* valid = g_utf8_make_valid(pattern ? pattern : "", -1);
    std::string format = *valid ? valid : std::string(kad::kDefaultDatePattern);
    g_free(valid);
    GST_OBJECT_LOCK(self);
    self->state->settings.format = std::move(format);
    GST_OBJECT_UNLOCK(self);
}

void kad_chronix2_set_enabled(GstElement* datecode, gint enabled)
{
    g_return_if_fail(KAD_IS_CHRONIX2(datecode));
    KadChronix2* self = KAD_CHRONIX2(datecode);
    GST_OBJECT_LOCK(self);
    self->state->settings.enabled = enabled != 0;
    GST_OBJECT_UNLOCK(self);
}

void kad_chronix2_set_inlay_frames(GstElement* datecode, gint frames)
{
    g_return_if_fail(KAD_IS_CHRONIX2(datecode));
    KadChronix2* self = KAD_CHRONIX2(datecode);
    GST_OBJECT_LOCK(self);
    self->state->settings.inlayFrames = MAX(frames, 0);
    GST_OBJECT_UNLOCK(self);
}

void kad_chronix2_set_automatic(GstElement* datecode, gboolean automatic)
{
    g_return_if_fail(KAD_IS_CHRONIX2(datecode));
    KadChronix2* self = KAD_CHRONIX2(datecode);
    GST_OBJECT_LOCK(self);
    self->state->settings.automatic = automatic != FALSE;
    if (automatic) self->state->settings.showCurrentScene = TRUE;
    GST_OBJECT_UNLOCK(self);
}

gboolean kad_chronix2_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(chronix2_debug, "kadchronix2", 0, "Kadrillo DV datecode reader");
    return gst_element_register(plugin, "kadchronix2", GST_RANK_NONE, KAD_TYPE_CHRONIX2);
}
