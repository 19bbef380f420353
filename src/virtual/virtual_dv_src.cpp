#include "virtual/virtual_dv_src.h"

#include "elements/kad_transport.h"
#include "media/dv/dv_frame.h"
#include "media/dv/dv_packs.h"
#include "platform/media/gst_ptr.h"
#include "virtual/virtual_frame_src.h"
#include "virtual/virtual_picture.h"
#include "virtual/virtual_tape.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

GST_DEBUG_CATEGORY_STATIC(virtual_dv_src_debug);
#define GST_CAT_DEFAULT virtual_dv_src_debug

namespace {

namespace dv = kad::dv;
namespace tape = kad::tape;

constexpr guint64 kTapeMinutes = 60;
constexpr gdouble kVolume = 0.3;

// What the tape (or the camera) put into one frame; made with the raw frame,
// written into the DV frame once the encoder and muxer have made it.
struct FrameFacts {
    guint64 number = 0;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    GstClockTime duration = GST_CLOCK_TIME_NONE;
    KadTimecode timecode{};
    kad::dv::RecordingDateTime recorded;
};

struct State {
    // Object lock: the transport and the settings below.
    tape::Transport tape;
    guint sceneSeconds = 4;
    guint damageEvery = 0; // 0: no damaged frames
    gint damageKind = KAD_VIRTUAL_DV_DAMAGE_MIXED;

    // Hand-over from the frame clock to the tap, both streaming threads.
    std::mutex factsLock;
    std::deque<FrameFacts> facts;

    // Keeps the sound source from running ahead of the pictures when not
    // live: the DV muxer holds only a few frames of sound. Both streaming
    // threads; running is cleared to release a waiting sound thread.
    std::mutex paceLock;
    std::condition_variable paceCond;
    GstClockTime videoEnd = GST_CLOCK_TIME_NONE;
    bool running = false;

    // Set once at construction.
    bool ntsc = false;
    bool camera = false;
    GstElement* audio = nullptr; // owned by the bin
    GstElement* mux = nullptr;   // owned by the bin
    GstElement* encoder = nullptr;
    GstElement* audioCaps = nullptr;
    KadVirtualFrameSrc* video = nullptr;
};

} // namespace

struct _KadVirtualDvSrc {
    KadVirtualSrc parent;
    State* state;
    alignas(State) unsigned char storage[sizeof(State)];
};

static void kad_virtual_dv_src_transport_init(KadTransportInterface* iface);

G_DEFINE_TYPE_WITH_CODE(KadVirtualDvSrc, kad_virtual_dv_src, KAD_TYPE_VIRTUAL_SRC,
                        G_IMPLEMENT_INTERFACE(KAD_TYPE_TRANSPORT,
                                              kad_virtual_dv_src_transport_init))

namespace {

enum {
    PROP_0,
    PROP_NTSC,
    PROP_CAMERA,
    PROP_TRANSPORT_MODE,
    PROP_SCENE_LENGTH,
    PROP_DAMAGE_EVERY,
    PROP_DAMAGE_KIND,
};

int framesPerSecond(const State& s)
{
    return s.ntsc ? 30 : 25;
}

guint64 tapeFrames(const State& s)
{
    return kTapeMinutes * 60 * framesPerSecond(s);
}

kad::dv::RecordingDateTime fromDateTime(GDateTime* dt)
{
    return {g_date_time_get_year(dt), g_date_time_get_month(dt),  g_date_time_get_day_of_month(dt),
            g_date_time_get_hour(dt), g_date_time_get_minute(dt), g_date_time_get_second(dt)};
}

// Scene k of the tape was shot a day, three hours and some minutes after
// scene k - 1; inside a scene the clock runs with the tape.
kad::dv::RecordingDateTime recordedAt(const State& s, guint64 frame)
{
    const guint64 sceneFrames = static_cast<guint64>(MAX(1u, s.sceneSeconds)) * framesPerSecond(s);
    const guint64 scene = frame / sceneFrames;
    const guint64 inScene = (frame % sceneFrames) / framesPerSecond(s);
    std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> first(
        g_date_time_new_utc(2019, 7, 14, 10, 21, 7), g_date_time_unref);
    std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> at(
        g_date_time_add_seconds(first.get(), static_cast<gdouble>(scene * 97631 + inScene)),
        g_date_time_unref);
    return fromDateTime(at.get());
}

kad::dv::RecordingDateTime now()
{
    std::unique_ptr<GDateTime, decltype(&g_date_time_unref)> dt(g_date_time_new_now_local(),
                                                                g_date_time_unref);
    return fromDateTime(dt.get());
}

bool showsPicture(gint mode)
{
    return mode != KAD_TRANSPORT_STOP && mode != KAD_TRANSPORT_FAST_FORWARD &&
           mode != KAD_TRANSPORT_REWIND;
}

void applyAudio(State& s, gint mode)
{
    if (s.audio)
        g_object_set(s.audio, "volume", s.camera || mode == KAD_TRANSPORT_PLAY ? kVolume : 0.0,
                     nullptr);
}

GstFlowReturn produce(KadVirtualDvSrc* self, const kad::FrameSlot& slot, const GstVideoInfo* info,
                      GstBuffer** out)
{
    State& s = *self->state;
    if (!info) return GST_FLOW_NOT_NEGOTIATED;
    FrameFacts facts;
    facts.number = slot.number;
    facts.pts = slot.pts;
    facts.duration = slot.duration;
    kad::picture::Pattern pattern = kad::picture::Pattern::Camera;
    guint64 pictureTime = slot.number;
    int scene = 0;
    if (s.camera) {
        facts.recorded = now();
    } else {
        GST_OBJECT_LOCK(self);
        // This frame shows where the tape is; the tape then moves on.
        tape::Transport& t = s.tape;
        const gint64 shown = t.position;
        const bool picture = showsPicture(t.mode);
        const gint64 end = static_cast<gint64>(tapeFrames(s)) * 10 - 10;
        t.position += tape::stepOf(t.mode);
        if (t.position <= 0 || t.position >= end) {
            // The tape stops by itself at either end.
            t.position = CLAMP(t.position, 0, end);
            if (tape::stepOf(t.mode) != 0) t.mode = KAD_TRANSPORT_STOP;
        }
        const guint64 frame = static_cast<guint64>(shown / 10);
        facts.timecode = tape::timecodeAt(static_cast<guint>(framesPerSecond(s)), frame);
        t.lastTimecode = facts.timecode;
        const guint sceneSeconds = MAX(1u, s.sceneSeconds);
        GST_OBJECT_UNLOCK(self);
        facts.recorded = recordedAt(s, frame);
        pattern = picture ? kad::picture::Pattern::Tape : kad::picture::Pattern::BlueScreen;
        pictureTime = frame;
        scene = static_cast<int>(frame / (static_cast<guint64>(sceneSeconds) * framesPerSecond(s)));
    }

    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(info), nullptr);
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, const_cast<GstVideoInfo*>(info), buffer, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    kad::picture::draw(&frame, pattern, pictureTime, scene);
    gst_video_frame_unmap(&frame);

    {
        std::lock_guard lock(s.factsLock);
        s.facts.push_back(facts);
    }
    {
        std::lock_guard lock(s.paceLock);
        s.videoEnd = slot.pts + slot.duration;
    }
    s.paceCond.notify_all();
    *out = buffer;
    return GST_FLOW_OK;
}

// Called by the tap with each whole DV frame n.
void finishFrame(KadVirtualDvSrc* self, guint64 n, GstBuffer* buffer)
{
    State& s = *self->state;
    FrameFacts facts;
    bool found = false;
    {
        std::lock_guard lock(s.factsLock);
        while (!s.facts.empty() && s.facts.front().number < n)
            s.facts.pop_front();
        if (!s.facts.empty() && s.facts.front().number == n) {
            facts = s.facts.front();
            s.facts.pop_front();
            found = true;
        }
    }
    if (!found) return;
    GST_BUFFER_PTS(buffer) = facts.pts;
    GST_BUFFER_DTS(buffer) = facts.pts;
    GST_BUFFER_DURATION(buffer) = facts.duration;
    kad::BufferMap map(buffer, GST_MAP_READWRITE);
    if (map) {
        kad::dv::writeTimecode(map.data(), map.size(), facts.timecode);
        kad::dv::writeRecordingDateTime(map.data(), map.size(), facts.recorded);
    }
}

// Noise that is the same in every run, so a failing test fails again.
void fillNoise(guint8* data, gsize size, guint64 seed)
{
    guint64 x = seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    for (gsize i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        data[i] = static_cast<guint8>(x >> 24);
    }
}

// Damages frame n when the settings ask for it (see the header).
void damageFrame(KadVirtualDvSrc* self, guint64 n, GstBuffer* buffer)
{
    State& s = *self->state;
    GST_OBJECT_LOCK(self);
    const guint every = s.damageEvery;
    gint kind = s.damageKind;
    GST_OBJECT_UNLOCK(self);
    if (every == 0 || n % every != 0) return;
    if (kind == KAD_VIRTUAL_DV_DAMAGE_MIXED)
        kind = KAD_VIRTUAL_DV_DAMAGE_TRUNCATED + static_cast<gint>((n / every) % 4);
    const gsize size = gst_buffer_get_size(buffer);
    GST_DEBUG_OBJECT(self, "damaging frame %" G_GUINT64_FORMAT " (kind %d)", n, kind);
    switch (kind) {
    case KAD_VIRTUAL_DV_DAMAGE_TRUNCATED:
        // The link gave up after three DIF sequences.
        gst_buffer_resize(buffer, 0, MIN(size, dv::sequenceOffset(3)));
        break;
    case KAD_VIRTUAL_DV_DAMAGE_EMPTY:
        gst_buffer_resize(buffer, 0, 0);
        break;
    case KAD_VIRTUAL_DV_DAMAGE_GARBAGE:
    case KAD_VIRTUAL_DV_DAMAGE_BAD_HEADER: {
        kad::BufferMap map(buffer, GST_MAP_READWRITE);
        if (!map || map.size() < dv::sequenceOffset(4)) break;
        if (kind == KAD_VIRTUAL_DV_DAMAGE_GARBAGE) {
            // Two sequences' worth of blocks from the middle of sequence 1 on:
            // audio, video and their ids alike.
            fillNoise(map.data() + dv::blockOffset(1, 40), 2 * dv::kSequenceSize, n);
        } else {
            // Header, subcode and VAUX blocks of the first sequence lost; the
            // first block then says it is a video block.
            fillNoise(map.data(), dv::audioBlockOffset(0, 0), n);
            map.data()[0] = static_cast<guint8>((map.data()[0] & 0x1F) |
                                                (static_cast<int>(dv::Section::Video) << 5));
        }
        break;
    }
    case KAD_VIRTUAL_DV_DAMAGE_SOUND: {
        // Tape noise over the sound alone: every audio block keeps its id
        // (section type 3), so the frame is whole and only its sound and
        // AAUX packs are nonsense.
        kad::BufferMap map(buffer, GST_MAP_READWRITE);
        if (!map) break;
        guint64 seed = n << 16;
        dv::forEachAudioBlock(map.data(), map.size(), [&](guint8* block) {
            fillNoise(block + dv::kBlockIdSize, dv::kDifBlockSize - dv::kBlockIdSize, ++seed);
        });
        break;
    }
    default:
        break;
    }
}

// The DV muxer sends nothing in a second run (its output context is made
// once), so every run gets a new one.
void renewMux(KadVirtualDvSrc* self)
{
    State& s = *self->state;
    if (!s.mux) return;
    GstElement* fresh = gst_element_factory_make("avmux_dv", nullptr);
    if (!fresh) return;
    GstElement* tap = GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)));
    gst_element_set_state(s.mux, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(self), s.mux);
    s.mux = fresh;
    gst_bin_add(GST_BIN(self), s.mux);
    if (!gst_element_link(s.encoder, s.mux) || !gst_element_link(s.audioCaps, s.mux) ||
        !gst_element_link(s.mux, tap))
        GST_ERROR_OBJECT(self, "could not link the new DV muxer");
    gst_element_sync_state_with_parent(s.mux);
}

void configure(KadVirtualSrc* base, gboolean live, gint numBuffers)
{
    auto* self = KAD_VIRTUAL_DV_SRC(base);
    State& s = *self->state;
    {
        std::lock_guard lock(s.factsLock);
        s.facts.clear();
    }
    renewMux(self);
    g_object_set(s.video, "is-live", live, "frame-limit", static_cast<gint64>(numBuffers), nullptr);
    // Enough sound for every frame; the muxer leaves what is over.
    const gint perBuffer = s.ntsc ? 1602 : 1920;
    const gint audioBuffers = numBuffers;
    g_object_set(s.audio, "is-live", live, "num-buffers", audioBuffers, "samplesperbuffer",
                 perBuffer, nullptr);
    GST_OBJECT_LOCK(self);
    const gint mode = s.tape.mode;
    GST_OBJECT_UNLOCK(self);
    applyAudio(s, mode);
}

GstPadProbeReturn paceAudio(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    State& s = *static_cast<State*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return GST_PAD_PROBE_OK;
    const GstClockTime lead = 2 * GST_SECOND / (s.ntsc ? 29 : 25);
    std::unique_lock lock(s.paceLock);
    while (s.running && (!GST_CLOCK_TIME_IS_VALID(s.videoEnd) || pts >= s.videoEnd + lead))
        s.paceCond.wait_for(lock, std::chrono::milliseconds(50));
    return GST_PAD_PROBE_OK;
}

// The video encoder moves its time stamps 1000 hours ahead (room for
// negative decoding times). The DV muxer interleaves sound and pictures by
// time stamp, so the pictures get their own times back.
GstPadProbeReturn restoreVideoTimes(GstPad*, GstPadProbeInfo* info, gpointer)
{
    constexpr GstClockTime kShift = 1000 * 3600 * GST_SECOND;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
        GstClockTime pts = GST_BUFFER_PTS(buffer);
        if (GST_CLOCK_TIME_IS_VALID(pts) && pts >= kShift) pts -= kShift;
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DTS(buffer) = pts;
        info->data = buffer;
    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_SEGMENT) {
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        gst_event_unref(GST_PAD_PROBE_INFO_EVENT(info));
        info->data = gst_event_new_segment(&segment);
    }
    return GST_PAD_PROBE_OK;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    State& s = *KAD_VIRTUAL_DV_SRC(element)->state;
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED ||
        transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        {
            std::lock_guard lock(s.paceLock);
            s.running = transition == GST_STATE_CHANGE_READY_TO_PAUSED;
            s.videoEnd = GST_CLOCK_TIME_NONE;
        }
        s.paceCond.notify_all();
    }
    return GST_ELEMENT_CLASS(kad_virtual_dv_src_parent_class)->change_state(element, transition);
}

GstElement* make(const char* factory, const char* name)
{
    GstElement* e = gst_element_factory_make(factory, name);
    if (!e) GST_ERROR("element %s is not installed", factory);
    return e;
}

void build(KadVirtualDvSrc* self)
{
    State& s = *self->state;
    GstBin* bin = GST_BIN(self);
    s.video =
        KAD_VIRTUAL_FRAME_SRC(g_object_new(KAD_TYPE_VIRTUAL_FRAME_SRC, "name", "video", nullptr));
    kad::CapsRef caps(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, s.ntsc ? "Y41B" : "I420", "width", G_TYPE_INT, 720,
        "height", G_TYPE_INT, s.ntsc ? 480 : 576, "framerate", GST_TYPE_FRACTION,
        s.ntsc ? 30000 : 25, s.ntsc ? 1001 : 1, "pixel-aspect-ratio", GST_TYPE_FRACTION,
        s.ntsc ? 8 : 16, s.ntsc ? 9 : 15, nullptr));
    kad::virtualFrameSrcSetCaps(s.video, caps.get());
    kad::virtualFrameSrcSetProducer(
        s.video, [self](const kad::FrameSlot& slot, GstCaps*, const GstVideoInfo* info,
                        GstBuffer** out) { return produce(self, slot, info, out); });
    GstElement* encoder = make("avenc_dvvideo", "encoder");
    GstElement* mux = make("avmux_dv", "mux");
    s.audio = make("audiotestsrc", "audio");
    GstElement* audioCaps = make("capsfilter", "audiocaps");
    if (!encoder || !mux || !s.audio || !audioCaps) {
        for (GstElement* e : {encoder, mux, s.audio, audioCaps})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        s.audio = nullptr;
        gst_object_unref(gst_object_ref_sink(s.video));
        s.video = nullptr;
        kad::virtualSrcSetMissing(KAD_VIRTUAL_SRC(self), "avenc_dvvideo, avmux_dv, audiotestsrc");
        return;
    }
    kad::GRef<GstPad> encoded(gst_element_get_static_pad(encoder, "src"));
    gst_pad_add_probe(encoded.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      restoreVideoTimes, nullptr, nullptr);
    kad::GRef<GstPad> audioPad(gst_element_get_static_pad(s.audio, "src"));
    gst_pad_add_probe(audioPad.get(), GST_PAD_PROBE_TYPE_BUFFER, paceAudio, &s, nullptr);
    g_object_set(s.audio, "wave", 0, "freq", 523.25, "volume", 0.3, nullptr);
    kad::CapsRef acaps(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "rate",
                                           G_TYPE_INT, 48000, "channels", G_TYPE_INT, 2, "layout",
                                           G_TYPE_STRING, "interleaved", nullptr));
    g_object_set(audioCaps, "caps", acaps.get(), nullptr);
    s.mux = mux;
    s.encoder = encoder;
    s.audioCaps = audioCaps;
    GstElement* tap = GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)));
    gst_bin_add_many(bin, GST_ELEMENT(s.video), encoder, mux, s.audio, audioCaps, nullptr);
    if (!gst_element_link_many(GST_ELEMENT(s.video), encoder, mux, tap, nullptr) ||
        !gst_element_link_many(s.audio, audioCaps, mux, nullptr))
        GST_ERROR_OBJECT(self, "could not link the DV chain");

    kad::VirtualTapHooks hooks;
    hooks.frameSize = dv::frameSizeOf(!s.ntsc);
    // The DV muxer announces no caps of its own.
    hooks.caps = tape::dvStreamCaps();
    hooks.frame = [self](guint64 n, GstBuffer* buffer) {
        finishFrame(self, n, buffer);
        damageFrame(self, n, buffer);
    };
    kad::virtualTapSetHooks(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)), std::move(hooks));
}

void constructed(GObject* object)
{
    build(KAD_VIRTUAL_DV_SRC(object));
    G_OBJECT_CLASS(kad_virtual_dv_src_parent_class)->constructed(object);
}

gboolean setMode(KadTransport* transport, gint mode)
{
    auto* self = KAD_VIRTUAL_DV_SRC(transport);
    State& s = *self->state;
    if (s.camera || !tape::validMode(mode)) return FALSE;
    GST_OBJECT_LOCK(self);
    s.tape.mode = mode;
    GST_OBJECT_UNLOCK(self);
    applyAudio(s, mode);
    return TRUE;
}

gboolean getMode(KadTransport* transport, gint* mode)
{
    auto* self = KAD_VIRTUAL_DV_SRC(transport);
    GST_OBJECT_LOCK(self);
    *mode = self->state->camera ? KAD_TRANSPORT_STOP : self->state->tape.mode;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

tape::Transport& tapeOf(KadTransport* transport)
{
    return KAD_VIRTUAL_DV_SRC(transport)->state->tape;
}

gint deviceType(KadTransport* transport)
{
    return KAD_VIRTUAL_DV_SRC(transport)->state->camera ? KAD_DEVICE_TYPE_CAMERA
                                                        : KAD_DEVICE_TYPE_VCR;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_DV_SRC(object);
    State& s = *self->state;
    switch (id) {
    case PROP_NTSC:
        s.ntsc = g_value_get_boolean(value);
        break;
    case PROP_CAMERA:
        s.camera = g_value_get_boolean(value);
        break;
    case PROP_TRANSPORT_MODE:
        if (!setMode(KAD_TRANSPORT(self), g_value_get_int(value)))
            GST_WARNING_OBJECT(self, "transport mode 0x%x refused", g_value_get_int(value));
        break;
    case PROP_SCENE_LENGTH:
        GST_OBJECT_LOCK(self);
        s.sceneSeconds = g_value_get_uint(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_DAMAGE_EVERY:
        GST_OBJECT_LOCK(self);
        s.damageEvery = g_value_get_uint(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_DAMAGE_KIND:
        GST_OBJECT_LOCK(self);
        s.damageKind = g_value_get_enum(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_DV_SRC(object);
    State& s = *self->state;
    switch (id) {
    case PROP_NTSC:
        g_value_set_boolean(value, s.ntsc);
        break;
    case PROP_CAMERA:
        g_value_set_boolean(value, s.camera);
        break;
    case PROP_TRANSPORT_MODE: {
        gint mode = 0;
        getMode(KAD_TRANSPORT(self), &mode);
        g_value_set_int(value, mode);
        break;
    }
    case PROP_SCENE_LENGTH:
        GST_OBJECT_LOCK(self);
        g_value_set_uint(value, s.sceneSeconds);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_DAMAGE_EVERY:
        GST_OBJECT_LOCK(self);
        g_value_set_uint(value, s.damageEvery);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_DAMAGE_KIND:
        GST_OBJECT_LOCK(self);
        g_value_set_enum(value, s.damageKind);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

// KADRILLO_VIRTUAL_DV_DAMAGE=N[:kind], kind by its nick ("truncated", ...).
void envDamage(State& s)
{
    const char* v = std::getenv("KADRILLO_VIRTUAL_DV_DAMAGE");
    if (!v || !*v) return;
    char* end = nullptr;
    s.damageEvery = static_cast<guint>(std::strtoul(v, &end, 10));
    if (!end || *end != ':') return;
    GEnumClass* kinds = G_ENUM_CLASS(g_type_class_ref(KAD_TYPE_VIRTUAL_DV_DAMAGE));
    if (const GEnumValue* kind = g_enum_get_value_by_nick(kinds, end + 1))
        s.damageKind = kind->value;
    g_type_class_unref(kinds);
}

void finalize(GObject* object)
{
    std::destroy_at(KAD_VIRTUAL_DV_SRC(object)->state);
    G_OBJECT_CLASS(kad_virtual_dv_src_parent_class)->finalize(object);
}

} // namespace

static void kad_virtual_dv_src_transport_init(KadTransportInterface* iface)
{
    tape::fillTransportInterface<tapeOf>(iface);
    iface->get_device_type = deviceType;
    iface->get_mode = getMode;
    iface->set_mode = setMode;
}

static void kad_virtual_dv_src_class_init(KadVirtualDvSrcClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_dv_src_debug, "kadvirtualdvsrc", 0,
                            "Kadrillo virtual DV camcorder");
    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->constructed = constructed;
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    gobject->finalize = finalize;
    const auto construct = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY |
                                                    G_PARAM_STATIC_STRINGS);
    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobject, PROP_NTSC,
        g_param_spec_boolean("ntsc", "NTSC", "525/60 (720x480, 29.97 fps) instead of 625/50", FALSE,
                             construct));
    g_object_class_install_property(
        gobject, PROP_CAMERA,
        g_param_spec_boolean("camera", "Camera mode", "Camera mode (no tape) instead of VCR mode",
                             FALSE, construct));
    tape::installModeProperty(gobject, PROP_TRANSPORT_MODE);
    g_object_class_install_property(
        gobject, PROP_SCENE_LENGTH,
        g_param_spec_uint(
            "scene-length", "Scene length",
            "Seconds of tape per recorded scene (the recording date jumps between scenes)", 1, 3600,
            4, rw));
    g_object_class_install_property(
        gobject, PROP_DAMAGE_EVERY,
        g_param_spec_uint("damage-every", "Damage every",
                          "Send frames 0, N, 2N... of each run damaged (0 = never)", 0, G_MAXUINT,
                          0, rw));
    g_object_class_install_property(
        gobject, PROP_DAMAGE_KIND,
        g_param_spec_enum("damage-kind", "Damage kind", "How the damaged frames are damaged",
                          KAD_TYPE_VIRTUAL_DV_DAMAGE, KAD_VIRTUAL_DV_DAMAGE_MIXED, rw));
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    GST_ELEMENT_CLASS(klass)->change_state = changeState;
    gst_element_class_set_static_metadata(
        GST_ELEMENT_CLASS(klass), "Virtual DV camcorder", "Source/Video/Audio",
        "A simulated DV camcorder with tape transport", "Kadrillo");
}

static void kad_virtual_dv_src_init(KadVirtualDvSrc* self)
{
    self->state = std::construct_at(reinterpret_cast<State*>(self->storage));
    envDamage(*self->state);
}

GType kad_virtual_dv_damage_get_type(void)
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {KAD_VIRTUAL_DV_DAMAGE_MIXED, "The other kinds in turn", "mixed"},
            {KAD_VIRTUAL_DV_DAMAGE_TRUNCATED, "Frame cut short after three DIF sequences",
             "truncated"},
            {KAD_VIRTUAL_DV_DAMAGE_GARBAGE, "Noise over DIF blocks, ids included", "garbage"},
            {KAD_VIRTUAL_DV_DAMAGE_BAD_HEADER, "First DIF block is no header", "bad-header"},
            {KAD_VIRTUAL_DV_DAMAGE_EMPTY, "Zero-length buffer", "empty"},
            {KAD_VIRTUAL_DV_DAMAGE_SOUND, "Noise over the sound blocks, AAUX packs included",
             "sound"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("KadVirtualDvDamage", values));
    }
    return type;
}

gboolean kad_virtual_dv_src_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, "kadvirtualdvsrc", GST_RANK_NONE, KAD_TYPE_VIRTUAL_DV_SRC);
}
