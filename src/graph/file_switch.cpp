#include "graph/file_switch.h"

#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kad {

namespace {

// How long the old muxer may take to finish its file before the switch goes
// on without its end-of-stream.
constexpr guint kDrainTimeoutSeconds = 10;

// How long the inputs may take to reach the cut. A video input that has
// stopped sending (a stalled device), or an encoder that gives no key frame,
// must not hold the cut, and every later one, for ever: after this long any
// input may set the cut; after twice this long the inputs that have not
// reached it are cut where they stand (at the graph's running time when no
// buffer has set the cut), and any that sends again goes on in the new file.
constexpr guint kHoldTimeoutSeconds = 2;

// The longest a sound packet waits for the pictures to tell on which side of
// the cut it falls.
constexpr int kSoundWaitMs = 500;

// The latest buffer a probe sees: a list's last.
GstBuffer* latestBuffer(GstPadProbeInfo* info)
{
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) return buffer;
    GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    const guint n = list ? gst_buffer_list_length(list) : 0;
    return n > 0 ? gst_buffer_list_get(list, n - 1) : nullptr;
}

GstClockTime middleOf(GstClockTime rt, GstBuffer* buffer)
{
    if (!GST_CLOCK_TIME_IS_VALID(rt)) return rt;
    const GstClockTime duration = GST_BUFFER_DURATION(buffer);
    return rt + (GST_CLOCK_TIME_IS_VALID(duration) ? duration / 2 : 0);
}

GstClockTime runningTime(GstPad* pad, GstBuffer* buffer)
{
    GstClockTime ts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(ts)) ts = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(ts)) return GST_CLOCK_TIME_NONE;
    GstMini<GstEvent> seg(gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0));
    if (!seg) return ts;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(seg.get(), &segment);
    if (segment->format != GST_FORMAT_TIME) return ts;
    return gst_segment_to_running_time(segment, GST_FORMAT_TIME, ts);
}

// Whether a buffer starting at `start` before the cut lasts mostly past it.
// Encoded sound comes in packets longer than a picture (about 42 ms of
// Windows Media Audio): such a packet goes to the file holding the larger
// part of it, so each file's sound ends and begins within half a packet of
// its picture instead of up to a whole one.
bool mostlyAfter(GstClockTime start, GstClockTime duration, GstClockTime cut)
{
    if (!GST_CLOCK_TIME_IS_VALID(duration) || start + duration <= cut) return false;
    return cut - start < duration / 2;
}

// A new element of the same factory with the same settings (the writable
// properties that differ from their defaults), location aside.
ElementRef cloneElement(GstElement* old)
{
    GstElementFactory* factory = gst_element_get_factory(old);
    if (!factory) return {};
    ElementRef made = ElementRef::sink(gst_element_factory_create(factory, nullptr));
    if (!made) return {};
    guint n = 0;
    GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(old), &n);
    for (guint i = 0; i < n; ++i) {
        GParamSpec* p = specs[i];
        const GParamFlags f = p->flags;
        if (!(f & G_PARAM_READABLE) || !(f & G_PARAM_WRITABLE) || (f & G_PARAM_CONSTRUCT_ONLY) ||
            p->owner_type == GST_TYPE_OBJECT || g_str_equal(p->name, "location") ||
            g_str_equal(p->name, "name"))
            continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, p->value_type);
        g_object_get_property(G_OBJECT(old), p->name, &value);
        if (!g_param_value_defaults(p, &value))
            g_object_set_property(G_OBJECT(made.get()), p->name, &value);
        g_value_unset(&value);
    }
    g_free(specs);
    return made;
}

} // namespace

struct TfileSwitch::State {
    enum class Hold { Waiting, Held, Ended };
    struct Input {
        PadRef upstream; // the pad feeding the muxer
        PadRef muxPad;
        std::string muxPadName;
        GRef<GstPadTemplate> templ;
        gulong probe = 0;
        Hold hold = Hold::Waiting; // Ended: EOS sent into the old muxer
        bool endedBefore = false;  // the stream ended before the cut
        bool video = false;        // the new file must begin with one of its key frames
        // The input of the queue in front of a video input: where the
        // encoder's pictures are seen before the muxer takes them.
        PadRef early;
        gulong earlyProbe = 0;
    };
    enum class Phase { Idle, Holding, Draining };

    // Guarded by mutex: what the probes read and write.
    mutable std::mutex mutex;
    Phase phase = Phase::Idle;
    std::vector<Input> inputs;
    GstClockTime cut = GST_CLOCK_TIME_NONE;
    GstClockTime lastCut = GST_CLOCK_TIME_NONE;
    bool drained = false;
    bool anyInputCuts = false; // the key-frame rule given up after a wait
    guint idle = 0;
    // Sound waits for the cut (SetSoundWaitsForCut): the end of the latest
    // picture out of the encoders since the request; moved wakes the sound
    // when it or the cut changes.
    bool soundWaits = false;
    GstClockTime pictureSeen = GST_CLOCK_TIME_NONE;
    // The middle of the latest sound packet gone into the writer
    // (WatchSound): the cut may not come before it, or the old file would
    // end with sound that belongs to the new one's first picture.
    GstClockTime soundGone = GST_CLOCK_TIME_NONE;
    unsigned run = 0; // counts the switches, so a waiting packet knows its own
    std::condition_variable moved;

    // GUI thread only.
    std::vector<std::pair<PadRef, gulong>> soundWatches;
    GRef<GstBin> graph;
    ElementRef mux;
    ElementRef sink;
    QString location;
    Done done;
    Configure configure;
    PadRef sinkPad;
    gulong eosProbe = 0;
    guint timeout = 0;
    guint holdTimeout = 0;

    // Called with the mutex held.
    void scheduleLocked()
    {
        if (idle == 0) idle = g_idle_add(&State::onIdle, this);
    }

    // Called with the mutex held.
    void soundGoneLocked(GstClockTime middle)
    {
        if (GST_CLOCK_TIME_IS_VALID(middle) &&
            (!GST_CLOCK_TIME_IS_VALID(soundGone) || middle > soundGone))
            soundGone = middle;
    }

    // Called with the mutex held.
    bool keyFrameMayCutLocked(GstBuffer* buffer, GstClockTime rt) const
    {
        if (buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) return false;
        return !GST_CLOCK_TIME_IS_VALID(soundGone) || !GST_CLOCK_TIME_IS_VALID(rt) ||
               rt >= soundGone;
    }

    // Called with the mutex held.
    bool mayCutLocked(const Input& in, GstBuffer* buffer, GstClockTime rt) const
    {
        if (anyInputCuts) return true;
        // A picture seen on its way into the queue has set the cut already.
        if (in.video && in.early) return false;
        if (in.video) return keyFrameMayCutLocked(buffer, rt);
        return std::none_of(inputs.begin(), inputs.end(),
                            [](const Input& i) { return i.video && i.hold == Hold::Waiting; });
    }

    static GstPadProbeReturn onData(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn onEarly(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn onSoundGone(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn onSinkEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static gboolean onIdle(gpointer self);
    static gboolean onTimeout(gpointer self);
    static gboolean onHoldTimeout(gpointer self);

    gulong addProbe(GstPad* pad)
    {
        return gst_pad_add_probe(
            pad,
            GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                            GST_PAD_PROBE_TYPE_BUFFER_LIST | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            &State::onData, this, nullptr);
    }

    void step();
    void watchSink();
    void unwatchSink();
    void stopHoldTimeout();
    void swap(bool drainedInTime);
    void finish(bool ok, const QString& error);
    void releaseInputs();
};

namespace {

// Sends the end of stream into a muxer input from GStreamer's own thread
// pool. The pad's stream lock may be held for a long while by the thread
// feeding it (a muxer input waits inside the muxer until the other inputs
// have data, and a serialized query waits behind a held input): taken on the
// GUI thread it would hold the window, and possibly the very thread that
// would release it.
void endAsync(GstPad* pad)
{
    ElementRef owner(gst_pad_get_parent_element(pad));
    if (!owner) return;
    gst_element_call_async(
        owner.get(),
        [](GstElement*, gpointer input) {
            gst_pad_send_event(GST_PAD(input), gst_event_new_eos());
        },
        gst_object_ref(pad), gst_object_unref);
}

} // namespace

GstPadProbeReturn TfileSwitch::State::onData(GstPad* pad, GstPadProbeInfo* info, gpointer self)
{
    auto* st = static_cast<State*>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_EOS) return GST_PAD_PROBE_PASS;
        // A stream that ends before reaching the cut ends in the old file
        // and has no part in the new one.
        std::lock_guard lock(st->mutex);
        for (Input& i : st->inputs) {
            if (i.upstream.get() == pad && i.hold == Hold::Waiting && st->phase == Phase::Holding) {
                i.hold = Hold::Ended;
                i.endedBefore = true;
                st->scheduleLocked();
            }
        }
        return GST_PAD_PROBE_PASS;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer && GST_PAD_PROBE_INFO_BUFFER_LIST(info))
        buffer = gst_buffer_list_get(GST_PAD_PROBE_INFO_BUFFER_LIST(info), 0);
    const GstClockTime rt = buffer ? runningTime(pad, buffer) : GST_CLOCK_TIME_NONE;

    std::unique_lock lock(st->mutex);
    Input* in = nullptr;
    for (Input& i : st->inputs) {
        if (i.upstream.get() == pad) in = &i;
    }
    if (!in || st->phase == Phase::Idle) return GST_PAD_PROBE_PASS;
    if (in->hold != Hold::Waiting) return GST_PAD_PROBE_OK;
    // Sound runs a packet ahead of the picture into the muxer: a packet that
    // may lie across the coming cut waits until the pictures out of the
    // encoder tell on which side of it the packet's middle falls (briefly:
    // the queue in front of the muxer lets the encoder go on meanwhile).
    if (st->soundWaits && !in->video && buffer && GST_CLOCK_TIME_IS_VALID(rt) &&
        !GST_CLOCK_TIME_IS_VALID(st->cut)) {
        const GstClockTime middle = middleOf(rt, buffer);
        const unsigned run = st->run;
        const auto decided = [st, in, middle, run] {
            return st->run != run || st->phase != Phase::Holding || in->hold != Hold::Waiting ||
                   GST_CLOCK_TIME_IS_VALID(st->cut) || st->anyInputCuts ||
                   (GST_CLOCK_TIME_IS_VALID(st->pictureSeen) && st->pictureSeen > middle) ||
                   std::none_of(st->inputs.begin(), st->inputs.end(),
                                [](const Input& i) { return i.early && i.hold == Hold::Waiting; });
        };
        st->moved.wait_for(lock, std::chrono::milliseconds(kSoundWaitMs), decided);
        if (st->run != run || st->phase == Phase::Idle) return GST_PAD_PROBE_PASS;
        if (in->hold != Hold::Waiting) return GST_PAD_PROBE_OK;
    }
    // The first buffer to arrive after the request sets the cut; on every
    // input, what starts before it still belongs to the old file. While a
    // video input still runs, only one of its key frames may set it: a file
    // that began with a frame predicted from the old file's last ones would
    // show nothing until its first key frame.
    const auto passed = [&] {
        if (GstBuffer* latest = in->video ? nullptr : latestBuffer(info))
            st->soundGoneLocked(middleOf(runningTime(pad, latest), latest));
        return GST_PAD_PROBE_PASS;
    };
    if (!GST_CLOCK_TIME_IS_VALID(st->cut)) {
        if (!st->mayCutLocked(*in, buffer, rt)) return passed();
        st->cut = GST_CLOCK_TIME_IS_VALID(rt) ? rt : 0;
    } else if (GST_CLOCK_TIME_IS_VALID(rt) && rt < st->cut &&
               !(buffer && !in->video && mostlyAfter(rt, GST_BUFFER_DURATION(buffer), st->cut))) {
        return passed();
    }
    in->hold = Hold::Held;
    st->scheduleLocked();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn TfileSwitch::State::onEarly(GstPad* pad, GstPadProbeInfo* info, gpointer self)
{
    auto* st = static_cast<State*>(self);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer) return GST_PAD_PROBE_OK;
    const GstClockTime rt = runningTime(pad, buffer);
    if (!GST_CLOCK_TIME_IS_VALID(rt)) return GST_PAD_PROBE_OK;
    bool askKeyFrame = false;
    {
        std::lock_guard lock(st->mutex);
        if (st->phase != Phase::Holding) return GST_PAD_PROBE_OK;
        // The first key frame out of the encoder since the request is the
        // cut, unless sound already in the old file lies mostly after it
        // (the sound runs ahead when the picture encoder is slow): the next
        // key frame is asked for instead.
        if (!GST_CLOCK_TIME_IS_VALID(st->cut) &&
            !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) {
            if (st->keyFrameMayCutLocked(buffer, rt))
                st->cut = rt;
            else
                askKeyFrame = true;
        }
        const GstClockTime duration = GST_BUFFER_DURATION(buffer);
        const GstClockTime end = rt + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0);
        if (!GST_CLOCK_TIME_IS_VALID(st->pictureSeen) || end > st->pictureSeen)
            st->pictureSeen = end;
        st->moved.notify_all();
    }
    if (askKeyFrame)
        gst_pad_push_event(
            pad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, TRUE, 0));
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn TfileSwitch::State::onSoundGone(GstPad* pad, GstPadProbeInfo* info, gpointer self)
{
    auto* st = static_cast<State*>(self);
    GstBuffer* buffer = latestBuffer(info);
    if (!buffer) return GST_PAD_PROBE_OK;
    const GstClockTime middle = middleOf(runningTime(pad, buffer), buffer);
    std::lock_guard lock(st->mutex);
    // While a switch runs, its own probe decides which file a packet goes to
    // and notes it there.
    if (st->phase == Phase::Idle) st->soundGoneLocked(middle);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn TfileSwitch::State::onSinkEvent(GstPad*, GstPadProbeInfo* info, gpointer self)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || GST_EVENT_TYPE(event) != GST_EVENT_EOS) return GST_PAD_PROBE_PASS;
    auto* st = static_cast<State*>(self);
    std::lock_guard lock(st->mutex);
    st->drained = true;
    st->scheduleLocked();
    if (!GST_CLOCK_TIME_IS_VALID(st->cut))
        return GST_PAD_PROBE_PASS; // every stream ended first: no cut, the end is real
    // The old file is complete; the pipeline must not count this sink as
    // finished, it is about to leave.
    return GST_PAD_PROBE_DROP;
}

gboolean TfileSwitch::State::onIdle(gpointer self)
{
    auto* st = static_cast<State*>(self);
    {
        std::lock_guard lock(st->mutex);
        st->idle = 0;
    }
    st->step();
    return G_SOURCE_REMOVE;
}

gboolean TfileSwitch::State::onTimeout(gpointer self)
{
    auto* st = static_cast<State*>(self);
    st->timeout = 0;
    bool cutReached = false;
    {
        std::lock_guard lock(st->mutex);
        cutReached = GST_CLOCK_TIME_IS_VALID(st->cut);
    }
    if (!cutReached) {
        st->unwatchSink();
        st->releaseInputs();
        st->finish(false, QStringLiteral("the capture ended before the cut"));
        return G_SOURCE_REMOVE;
    }
    GST_WARNING("the old writer did not finish its file within %u s; switching anyway",
                kDrainTimeoutSeconds);
    st->swap(false);
    return G_SOURCE_REMOVE;
}

gboolean TfileSwitch::State::onHoldTimeout(gpointer self)
{
    auto* st = static_cast<State*>(self);
    std::unique_lock lock(st->mutex);
    if (st->phase != Phase::Holding) {
        st->holdTimeout = 0;
        return G_SOURCE_REMOVE;
    }
    if (!GST_CLOCK_TIME_IS_VALID(st->cut) && !st->anyInputCuts) {
        GST_WARNING("no key frame reached the cut within %u s; any buffer may cut now",
                    kHoldTimeoutSeconds);
        st->anyInputCuts = true;
        st->moved.notify_all();
        return G_SOURCE_CONTINUE;
    }
    if (!GST_CLOCK_TIME_IS_VALID(st->cut)) {
        GST_WARNING("no buffer reached the cut within %u s; cutting where the inputs stand",
                    2 * kHoldTimeoutSeconds);
        st->cut = 0;
        if (GRef<GstClock> clock{gst_element_get_clock(GST_ELEMENT(st->graph.get()))}) {
            const GstClockTime now = gst_clock_get_time(clock.get());
            const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(st->graph.get()));
            if (now > base) st->cut = now - base;
        }
    }
    for (Input& in : st->inputs) {
        if (in.hold == Hold::Waiting) in.hold = Hold::Held;
    }
    st->scheduleLocked();
    st->holdTimeout = 0;
    return G_SOURCE_REMOVE;
}

void TfileSwitch::State::stopHoldTimeout()
{
    if (holdTimeout) g_source_remove(holdTimeout);
    holdTimeout = 0;
}

void TfileSwitch::State::step()
{
    std::unique_lock lock(mutex);
    if (phase == Phase::Holding) {
        // An input held at the cut is ended in the old muxer at once: a
        // muxer waits for data on every input, so the others can only reach
        // the cut once it no longer waits for this one.
        std::vector<PadRef> toEnd;
        bool allEnded = true;
        for (Input& in : inputs) {
            if (in.hold == Hold::Held) {
                in.hold = Hold::Ended;
                toEnd.push_back(in.muxPad);
            }
            allEnded = allEnded && in.hold == Hold::Ended;
        }
        if (allEnded) {
            phase = Phase::Draining;
            lastCut = cut;
        }
        lock.unlock();
        if (allEnded) {
            stopHoldTimeout();
            timeout = g_timeout_add_seconds(kDrainTimeoutSeconds, &State::onTimeout, this);
        }
        for (PadRef& pad : toEnd)
            endAsync(pad.get());
        lock.lock();
    }
    if (phase == Phase::Draining && drained) {
        const bool cutReached = GST_CLOCK_TIME_IS_VALID(cut);
        lock.unlock();
        if (cutReached) {
            swap(true);
        } else {
            if (timeout) g_source_remove(timeout);
            timeout = 0;
            unwatchSink();
            releaseInputs();
            finish(false, QStringLiteral("the capture ended before the cut"));
        }
    }
}

void TfileSwitch::State::watchSink()
{
    sinkPad.reset(gst_element_get_static_pad(sink.get(), "sink"));
    if (sinkPad)
        eosProbe = gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
                                     &State::onSinkEvent, this, nullptr);
}

void TfileSwitch::State::unwatchSink()
{
    if (sinkPad && eosProbe) gst_pad_remove_probe(sinkPad.get(), eosProbe);
    eosProbe = 0;
    sinkPad.reset();
}

void TfileSwitch::State::swap(bool drainedInTime)
{
    if (timeout) {
        g_source_remove(timeout);
        timeout = 0;
    }
    {
        std::lock_guard lock(mutex);
        if (phase != Phase::Draining) return;
    }
    unwatchSink();

    ElementRef newMux = cloneElement(mux.get());
    ElementRef newSink = cloneElement(sink.get());
    if (!newMux || !newSink) {
        releaseInputs();
        finish(false, QStringLiteral("the new writer could not be made"));
        return;
    }
    const QByteArray path = location.toLocal8Bit();
    g_object_set(newSink.get(), "location", path.constData(), nullptr);
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(newSink.get()), "async"))
        g_object_set(newSink.get(), "async", FALSE, nullptr);

    // Out with the old writer.
    for (Input& in : inputs)
        gst_pad_unlink(in.upstream.get(), in.muxPad.get());
    gst_element_set_state(sink.get(), GST_STATE_NULL);
    gst_element_set_state(mux.get(), GST_STATE_NULL);
    for (Input& in : inputs) {
        if (in.templ && GST_PAD_TEMPLATE_PRESENCE(in.templ.get()) == GST_PAD_REQUEST)
            gst_element_release_request_pad(mux.get(), in.muxPad.get());
    }
    gst_bin_remove(graph.get(), sink.get());
    gst_bin_remove(graph.get(), mux.get());

    // In with the new one, on the same inputs.
    gst_bin_add_many(graph.get(), GST_ELEMENT(gst_object_ref(newMux.get())),
                     GST_ELEMENT(gst_object_ref(newSink.get())), nullptr);
    bool ok = gst_element_link(newMux.get(), newSink.get());
    for (Input& in : inputs) {
        if (in.endedBefore) continue;
        PadRef pad;
        if (in.templ && GST_PAD_TEMPLATE_PRESENCE(in.templ.get()) == GST_PAD_REQUEST) {
            GstPadTemplate* t = gst_element_get_pad_template(
                newMux.get(), GST_PAD_TEMPLATE_NAME_TEMPLATE(in.templ.get()));
            if (t) pad.reset(gst_element_request_pad(newMux.get(), t, nullptr, nullptr));
        } else {
            pad.reset(gst_element_get_static_pad(newMux.get(), in.muxPadName.c_str()));
        }
        ok = ok && pad && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(in.upstream.get(), pad.get()));
        in.muxPad = pad;
    }
    if (configure) configure(newMux.get(), newSink.get());
    ok = ok && gst_element_sync_state_with_parent(newSink.get()) &&
         gst_element_sync_state_with_parent(newMux.get());
    mux = newMux;
    sink = newSink;
    releaseInputs();
    if (!ok)
        finish(false, QStringLiteral("the new writer could not be linked"));
    else if (!drainedInTime)
        finish(true, QStringLiteral("the old writer did not confirm the end of its file"));
    else
        finish(true, QString());
}

void TfileSwitch::State::releaseInputs()
{
    std::vector<std::pair<PadRef, gulong>> probes;
    {
        std::lock_guard lock(mutex);
        for (Input& in : inputs) {
            if (in.probe) probes.emplace_back(in.upstream, in.probe);
            in.probe = 0;
            if (in.earlyProbe) probes.emplace_back(in.early, in.earlyProbe);
            in.earlyProbe = 0;
        }
        phase = Phase::Idle;
        moved.notify_all();
    }
    for (auto& [pad, id] : probes)
        gst_pad_remove_probe(pad.get(), id);
}

void TfileSwitch::State::finish(bool ok, const QString& error)
{
    {
        std::lock_guard lock(mutex);
        inputs.clear();
        phase = Phase::Idle;
    }
    stopHoldTimeout();
    Done callback = std::move(done);
    done = nullptr;
    configure = nullptr;
    if (callback) callback(ok, error);
}

TfileSwitch::TfileSwitch() : s_(std::make_unique<State>()) {}

TfileSwitch::~TfileSwitch()
{
    if (s_->timeout) g_source_remove(s_->timeout);
    s_->stopHoldTimeout();
    s_->unwatchSink();
    s_->releaseInputs();
    for (auto& [pad, id] : s_->soundWatches)
        gst_pad_remove_probe(pad.get(), id);
    std::lock_guard lock(s_->mutex);
    if (s_->idle) g_source_remove(s_->idle);
    s_->idle = 0;
}

bool TfileSwitch::Start(GstBin* graph, GstElement* mux, GstElement* sink,
                        const QString& newLocation, Done done, Configure configure)
{
    if (!graph || !mux || !sink || newLocation.isEmpty() || Busy()) return false;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(GST_ELEMENT(graph), &state, nullptr, 0);
    if (state != GST_STATE_PLAYING && state != GST_STATE_PAUSED) return false;
    // The writer must be mux ! sink with every mux input linked.
    {
        PadRef src(gst_element_get_static_pad(mux, "src"));
        PadRef peer(src ? gst_pad_get_peer(src.get()) : nullptr);
        if (!peer || GST_OBJECT_PARENT(peer.get()) != GST_OBJECT(sink)) return false;
    }
    std::vector<State::Input> inputs;
    GstIterator* it = gst_element_iterate_sink_pads(mux);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* muxPad = GST_PAD(g_value_get_object(&item));
        State::Input in;
        in.muxPad = PadRef::ref(muxPad);
        in.upstream.reset(gst_pad_get_peer(muxPad));
        const GCharPtr name(gst_pad_get_name(muxPad));
        in.muxPadName = name.get();
        in.templ.reset(gst_pad_get_pad_template(muxPad));
        if (GstMini<GstCaps> caps{gst_pad_get_current_caps(muxPad)}) {
            const GstStructure* st = gst_caps_get_structure(caps.get(), 0);
            in.video = st && g_str_has_prefix(gst_structure_get_name(st), "video/");
        }
        if (in.upstream) {
            GstMini<GstEvent> eos(gst_pad_get_sticky_event(in.upstream.get(), GST_EVENT_EOS, 0));
            if (eos) {
                in.hold = State::Hold::Ended;
                in.endedBefore = true;
            }
        }
        g_value_reset(&item);
        if (in.upstream) inputs.push_back(std::move(in));
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    if (inputs.empty()) return false;

    s_->graph = GRef<GstBin>::ref(graph);
    s_->mux = ElementRef::ref(mux);
    s_->sink = ElementRef::ref(sink);
    s_->location = newLocation;
    s_->done = std::move(done);
    s_->configure = std::move(configure);
    s_->drained = false;
    s_->watchSink();
    {
        std::lock_guard lock(s_->mutex);
        s_->inputs = std::move(inputs);
        s_->cut = GST_CLOCK_TIME_NONE;
        s_->anyInputCuts = false;
        s_->pictureSeen = GST_CLOCK_TIME_NONE;
        ++s_->run;
        s_->phase = State::Phase::Holding;
        for (State::Input& in : s_->inputs) {
            in.probe = s_->addProbe(in.upstream.get());
            if (s_->soundWaits && in.video && !in.endedBefore) {
                ElementRef queue(gst_pad_get_parent_element(in.upstream.get()));
                GstElementFactory* f = queue ? gst_element_get_factory(queue.get()) : nullptr;
                if (f && g_str_equal(GST_OBJECT_NAME(f), "queue"))
                    in.early.reset(gst_element_get_static_pad(queue.get(), "sink"));
                if (in.early)
                    in.earlyProbe = gst_pad_add_probe(in.early.get(), GST_PAD_PROBE_TYPE_BUFFER,
                                                      &State::onEarly, s_.get(), nullptr);
            }
        }
    }
    s_->holdTimeout = g_timeout_add_seconds(kHoldTimeoutSeconds, &State::onHoldTimeout, s_.get());
    // An encoder makes its next frame a key frame when asked, so the cut
    // comes at once instead of at the end of the group of pictures.
    for (const State::Input& in : s_->inputs) {
        if (in.video && !in.endedBefore)
            gst_pad_push_event(in.muxPad.get(), gst_video_event_new_upstream_force_key_unit(
                                                    GST_CLOCK_TIME_NONE, TRUE, 0));
    }
    return true;
}

bool TfileSwitch::Cancel()
{
    if (!Busy()) return false;
    if (s_->timeout) g_source_remove(s_->timeout);
    s_->timeout = 0;
    s_->stopHoldTimeout();
    // From here the old muxer's end of stream reaches its sink again.
    s_->unwatchSink();
    bool complete = false;
    {
        std::lock_guard lock(s_->mutex);
        complete = s_->drained && GST_CLOCK_TIME_IS_VALID(s_->cut);
    }
    s_->releaseInputs();
    s_->finish(false, QStringLiteral("the capture stopped before the cut was made"));
    return complete;
}

void TfileSwitch::WatchSound(GstElement* mux)
{
    // A new writer starts a new capture, whose running time starts again:
    // nothing of the last one's sound counts.
    for (auto& [pad, id] : s_->soundWatches)
        gst_pad_remove_probe(pad.get(), id);
    s_->soundWatches.clear();
    {
        std::lock_guard lock(s_->mutex);
        s_->soundWaits = mux != nullptr;
        s_->soundGone = GST_CLOCK_TIME_NONE;
    }
    if (!mux) return;
    GstIterator* it = gst_element_iterate_sink_pads(mux);
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* muxPad = GST_PAD(g_value_get_object(&item));
        GRef<GstPadTemplate> templ(gst_pad_get_pad_template(muxPad));
        PadRef upstream(gst_pad_get_peer(muxPad));
        g_value_reset(&item);
        // Caps are not known yet: the muxer's pad template tells the sound.
        if (!templ || !upstream ||
            !g_str_has_prefix(GST_PAD_TEMPLATE_NAME_TEMPLATE(templ.get()), "audio"))
            continue;
        const gulong id = gst_pad_add_probe(
            upstream.get(),
            GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
            &State::onSoundGone, s_.get(), nullptr);
        s_->soundWatches.emplace_back(std::move(upstream), id);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

bool TfileSwitch::GiveUp()
{
    {
        std::lock_guard lock(s_->mutex);
        if (s_->phase != State::Phase::Holding || GST_CLOCK_TIME_IS_VALID(s_->cut)) return false;
        // An input that ended by itself before the cut has changed nothing.
        for (const State::Input& in : s_->inputs) {
            if (in.hold != State::Hold::Waiting && !in.endedBefore) return false;
        }
        // From here no probe takes a buffer as the cut.
        s_->phase = State::Phase::Idle;
    }
    s_->stopHoldTimeout();
    s_->unwatchSink();
    s_->releaseInputs();
    s_->finish(false, QStringLiteral("no frame reached the cut"));
    return true;
}

bool TfileSwitch::Busy() const
{
    std::lock_guard lock(s_->mutex);
    return s_->phase != State::Phase::Idle;
}

GstElement* TfileSwitch::Mux() const
{
    return s_->mux.get();
}
GstElement* TfileSwitch::Sink() const
{
    return s_->sink.get();
}

GstClockTime TfileSwitch::LastCut() const
{
    std::lock_guard lock(s_->mutex);
    return s_->lastCut;
}

} // namespace kad
