// kadchronix2: the recording date and time of DV frames as text.
//
//   gst-launch-1.0 filesrc location=tape.dv ! dvdemux ! kadchronix2 format="dd/mm/yyyy hh:nn"
//       ! fakesink dump=true
//
// Every frame in gives one text buffer out with the same timestamps, so the
// overlay can pair each picture with its own date without waiting for it.

#include "elements/chronix2.h"

#include "elements/date_pattern.h"
#include "elements/dv_packs.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

GST_DEBUG_CATEGORY_STATIC(chronix2_debug);
#define GST_CAT_DEFAULT chronix2_debug

namespace {

constexpr gint kMaxHourOffset = 23;
constexpr gint kDefaultInlayFrames = 125; // five seconds of PAL
constexpr GstClockTime kFallbackFrameDuration = GST_SECOND / 25;

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
    std::optional<kad::dv::RecordingDateTime> lastGood;
    GstClockTime lastGoodPts = GST_CLOCK_TIME_NONE;
    guint64 framesSinceGood = 0;
    bool startFlagBefore = false;
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

// ---- Reading the frame -------------------------------------------------------

constexpr std::size_t kBlock = 80;
constexpr std::size_t kSequence = 150 * kBlock;
constexpr std::uint8_t kPackVideoSourceControl = 0x61;
constexpr std::uint8_t kPackAudioSourceControl = 0x51;

// The size of the frame that starts at data: a buffer of exactly one frame
// tells by its size; a longer one by its header block, which says 625/50 or
// 525/60 (DSF, the top bit of its fourth byte). 0 when the buffer is too short
// to hold that frame, so a truncated frame is never read past its end.
std::size_t frameSize(const std::uint8_t* data, std::size_t size)
{
    if (kad::dv::sequenceCount(size) != 0) return size;
    if (size < kBlock) return 0;
    const std::size_t expected =
        (data[3] & 0x80) ? kad::dv::kFrameSizePal : kad::dv::kFrameSizeNtsc;
    if (size >= expected) return expected;
    return 0;
}

// The REC ST bit of a source-control pack: the top bit of its second data
// byte, 0 on the first frames of a recording.
bool marksRecordingStart(const std::uint8_t* pack, std::uint8_t id)
{
    return pack[0] == id && (pack[2] & 0x80) == 0;
}

// True when the source-control packs of the frame (VAUX, or AAUX when most
// sequences carry no VAUX one) mark the start of a recording. A camcorder
// repeats the pack in every DIF sequence, so most sequences must say so:
// noise over a damaged frame spells the pack's ID now and then, and one stray
// copy must not end the recording on screen.
bool recordingStartFlag(const std::uint8_t* frame, std::size_t size)
{
    const int sequences = kad::dv::sequenceCount(size);
    int videoPacks = 0;
    int videoStarts = 0;
    int audioStarts = 0;
    for (int s = 0; s < sequences; ++s) {
        const std::uint8_t* seq = frame + s * kSequence;
        bool packSeen = false;
        bool startSeen = false;
        for (int i = 0; i < 45; ++i) {
            const std::uint8_t* pack = seq + (3 + i / 15) * kBlock + 3 + (i % 15) * 5;
            if (pack[0] != kPackVideoSourceControl) continue;
            packSeen = true;
            startSeen = startSeen || marksRecordingStart(pack, kPackVideoSourceControl);
        }
        videoPacks += packSeen ? 1 : 0;
        videoStarts += startSeen ? 1 : 0;
        for (int block = 0; block < 9; ++block) {
            const std::uint8_t* pack = seq + (6 + 16 * block) * kBlock + 3;
            if (marksRecordingStart(pack, kPackAudioSourceControl)) {
                ++audioStarts;
                break;
            }
        }
    }
    if (videoStarts * 2 > sequences) return true;
    return videoPacks * 2 <= sequences && audioStarts * 2 > sequences;
}

struct FrameFacts {
    std::optional<kad::dv::RecordingDateTime> recorded;
    bool recordingStart = false;
};

int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The pack readers check the date's ranges; a time of 35:72 or a 31st of
// February is damage too, not a date to show.
std::optional<kad::dv::RecordingDateTime> plausible(std::optional<kad::dv::RecordingDateTime> when)
{
    if (!when) return when;
    if (when->month < 1 || when->month > 12 || when->day < 1 ||
        when->day > daysInMonth(when->year, when->month) || when->hour > 23 || when->minute > 59 ||
        when->second > 59)
        return std::nullopt;
    return when;
}

FrameFacts readFrame(GstBuffer* buffer)
{
    FrameFacts facts;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return facts;
    const std::size_t size = frameSize(map.data, map.size);
    if (size != 0) {
        facts.recorded = plausible(kad::dv::readRecordingDateTime(map.data, size, false));
        if (!facts.recorded)
            facts.recorded = plausible(kad::dv::readRecordingDateTime(map.data, size, true));
        facts.recordingStart = recordingStartFlag(map.data, size);
    }
    gst_buffer_unmap(buffer, &map);
    return facts;
}

// ---- Dates -------------------------------------------------------------------

std::int64_t daysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::int64_t secondsOf(const kad::dv::RecordingDateTime& when)
{
    return daysFromCivil(when.year, when.month, when.day) * 86400 + when.hour * 3600 +
           when.minute * 60 + when.second;
}

kad::DateTimeValue fromSeconds(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t inDay = seconds % 86400;
    if (inDay < 0) {
        inDay += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    kad::DateTimeValue value;
    value.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    value.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    value.year = static_cast<int>(yearOfEra + era * 400 + (value.month <= 2 ? 1 : 0));
    value.hour = static_cast<int>(inDay / 3600);
    value.minute = static_cast<int>(inDay % 3600 / 60);
    value.second = static_cast<int>(inDay % 60);
    return value;
}

// A camcorder's clock runs with the tape: from one good reading to the next
// it may advance by the time that passed (frames without a readable pack
// included) and a second of rounding. Anything else, backwards included, is
// another recording.
bool isAnotherRecording(const Reader& r, const kad::dv::RecordingDateTime& now, GstBuffer* buffer)
{
    const std::int64_t advance = secondsOf(now) - secondsOf(*r.lastGood);
    if (advance < 0) return true;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    GstClockTime elapsed;
    if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(r.lastGoodPts) &&
        pts >= r.lastGoodPts) {
        elapsed = pts - r.lastGoodPts;
    } else {
        const GstClockTime duration = GST_BUFFER_DURATION(buffer);
        elapsed = (r.framesSinceGood + 1) *
                  (GST_CLOCK_TIME_IS_VALID(duration) ? duration : kFallbackFrameDuration);
    }
    const std::int64_t allowed = static_cast<std::int64_t>(elapsed / GST_SECOND) + 1;
    return advance > allowed;
}

// Brings the reader up to date with one frame and returns the text it shows.
std::string textForFrame(KadChronix2* self, GstBuffer* buffer)
{
    GST_OBJECT_LOCK(self);
    const Settings settings = self->state->settings;
    self->state->settings.showCurrentScene = FALSE;
    GST_OBJECT_UNLOCK(self);

    Reader& r = self->state->reader;
    const FrameFacts facts = readFrame(buffer);
    bool newRecording = facts.recordingStart && !r.startFlagBefore;
    r.startFlagBefore = facts.recordingStart;
    if (facts.recorded) {
        if (!r.lastGood || isAnotherRecording(r, *facts.recorded, buffer)) newRecording = true;
        r.lastGood = facts.recorded;
        r.lastGoodPts = GST_BUFFER_PTS(buffer);
        r.framesSinceGood = 0;
    } else {
        // The date of a recording that just began is not known yet; the
        // previous one's would be wrong.
        if (newRecording) r.lastGood.reset();
        ++r.framesSinceGood;
        GST_LOG_OBJECT(self, "no readable recording date in this frame");
    }
    if (newRecording || settings.showCurrentScene) r.inlayLeft = settings.inlayFrames;

    if (!settings.enabled || !r.lastGood) return {};
    if (settings.automatic) {
        if (r.inlayLeft <= 0) return {};
        --r.inlayLeft;
    }
    const std::int64_t shown = secondsOf(*r.lastGood) + std::int64_t{settings.hourOffset} * 3600;
    return kad::formatDatePattern(settings.format, fromSeconds(shown));
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
