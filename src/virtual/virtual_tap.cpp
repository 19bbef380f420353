#include "virtual/virtual_tap.h"

#include "platform/media/gst_ptr.h"

#include <gst/base/gstadapter.h>

#include <cstdio>
#include <memory>

GST_DEBUG_CATEGORY_STATIC(virtual_tap_debug);
#define GST_CAT_DEFAULT virtual_tap_debug

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct State {
    kad::VirtualTapHooks hooks;
    kad::VirtualTapSettings settings; // object lock
    bool unplugged = false;           // object lock
    bool errorPosted = false;         // object lock
    std::string deviceName;           // object lock
    guint64 sent = 0;                 // object lock

    // Streaming thread only.
    kad::GRef<GstAdapter> adapter;
    guint64 frame = 0;
    bool capsSent = false;
    std::unique_ptr<std::FILE, FileCloser> sentFile;
    bool sentFileFailed = false;
};

} // namespace

// Locking: the settings, the unplugged flag and the sent-frame count are
// shared with the application thread under the object lock; the adapter,
// the frame counter and the record file belong to the streaming thread
// (sink pad stream lock). Hooks are set before the element leaves NULL.
struct _KadVirtualTap {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    State* state;
    alignas(State) unsigned char storage[sizeof(State)];
};

G_DEFINE_TYPE(KadVirtualTap, kad_virtual_tap, GST_TYPE_ELEMENT)

namespace {

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

GstElement* owner(KadVirtualTap* self)
{
    GstObject* parent = GST_OBJECT_PARENT(self);
    return parent && GST_IS_ELEMENT(parent) ? GST_ELEMENT(parent) : GST_ELEMENT(self);
}

// The device has gone: say so once, then refuse every buffer quietly.
GstFlowReturn failLost(KadVirtualTap* self)
{
    GST_OBJECT_LOCK(self);
    const bool post = !self->state->errorPosted;
    self->state->errorPosted = true;
    const std::string name = self->state->deviceName;
    GST_OBJECT_UNLOCK(self);
    if (post) {
        GstElement* device = owner(self);
        GST_ELEMENT_ERROR(device, RESOURCE, NOT_FOUND,
                          ("Device lost: \"%s\" was disconnected.", name.c_str()),
                          ("virtual device %s unplugged while streaming", GST_OBJECT_NAME(device)));
    }
    return GST_FLOW_FLUSHING;
}

bool isUnplugged(KadVirtualTap* self)
{
    GST_OBJECT_LOCK(self);
    const bool lost = self->state->unplugged;
    GST_OBJECT_UNLOCK(self);
    return lost;
}

void record(KadVirtualTap* self, GstBuffer* buffer)
{
    State& s = *self->state;
    if (!s.sentFile || s.sentFileFailed) return;
    kad::BufferMap map(buffer, GST_MAP_READ);
    if (!map || std::fwrite(map.data(), 1, map.size(), s.sentFile.get()) != map.size()) {
        s.sentFileFailed = true;
        GST_ELEMENT_WARNING(owner(self), RESOURCE, WRITE, ("Could not record the sent stream."),
                            ("write to sent-location failed"));
    }
}

GstFlowReturn sendFrame(KadVirtualTap* self, GstBuffer* buffer)
{
    State& s = *self->state;
    const guint64 n = s.frame++;
    GST_OBJECT_LOCK(self);
    const kad::VirtualTapSettings settings = s.settings;
    GST_OBJECT_UNLOCK(self);
    if (kad::virtualTapShouldDrop(settings, n)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    buffer = gst_buffer_make_writable(buffer);
    if (s.hooks.numberFrames) {
        GST_BUFFER_OFFSET(buffer) = n;
        GST_BUFFER_OFFSET_END(buffer) = n + 1;
    }
    if (s.hooks.frame) s.hooks.frame(n, buffer);
    record(self, buffer);
    GST_OBJECT_LOCK(self);
    ++s.sent;
    GST_OBJECT_UNLOCK(self);
    return gst_pad_push(self->srcpad, buffer);
}

GstFlowReturn sendBytes(KadVirtualTap* self, std::vector<std::uint8_t>& bytes, GstBuffer* like)
{
    if (bytes.empty()) return GST_FLOW_OK;
    GstBuffer* out = gst_buffer_new_memdup(bytes.data(), bytes.size());
    bytes.clear();
    if (like) gst_buffer_copy_into(out, like, GST_BUFFER_COPY_METADATA, 0, -1);
    return sendFrame(self, out);
}

GstFlowReturn chain(GstPad*, GstObject* parent, GstBuffer* buffer)
{
    auto* self = KAD_VIRTUAL_TAP(parent);
    State& s = *self->state;
    if (isUnplugged(self)) {
        gst_buffer_unref(buffer);
        return failLost(self);
    }
    if (s.hooks.bytes) {
        std::vector<std::uint8_t> out;
        {
            kad::BufferMap map(buffer, GST_MAP_READ);
            if (map) s.hooks.bytes(map.data(), map.size(), out);
        }
        const GstFlowReturn ret = sendBytes(self, out, buffer);
        gst_buffer_unref(buffer);
        return ret;
    }
    if (s.hooks.frameSize == 0) return sendFrame(self, buffer);

    gst_adapter_push(s.adapter.get(), buffer);
    GstFlowReturn ret = GST_FLOW_OK;
    while (ret == GST_FLOW_OK && gst_adapter_available(s.adapter.get()) >= s.hooks.frameSize)
        ret = sendFrame(self, gst_adapter_take_buffer(s.adapter.get(), s.hooks.frameSize));
    return ret;
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    auto* self = KAD_VIRTUAL_TAP(parent);
    State& s = *self->state;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
        if (s.hooks.finish && !isUnplugged(self)) {
            std::vector<std::uint8_t> out;
            s.hooks.finish(out);
            sendBytes(self, out, nullptr);
        }
        if (s.sentFile) std::fflush(s.sentFile.get());
        break;
    case GST_EVENT_CAPS:
        if (s.hooks.caps) {
            gst_event_unref(event);
            s.capsSent = true;
            return gst_pad_push_event(self->srcpad, gst_event_new_caps(s.hooks.caps.get()));
        }
        break;
    case GST_EVENT_FLUSH_STOP:
        gst_adapter_clear(s.adapter.get());
        break;
    case GST_EVENT_SEGMENT: {
        // The muxers inside a device speak bytes; what leaves the device
        // carries the time stamps of its frames.
        if (s.hooks.caps && !s.capsSent) {
            s.capsSent = true;
            gst_pad_push_event(self->srcpad, gst_event_new_caps(s.hooks.caps.get()));
        }
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format != GST_FORMAT_TIME && s.hooks.frameSize > 0) {
            gst_event_unref(event);
            GstSegment time;
            gst_segment_init(&time, GST_FORMAT_TIME);
            event = gst_event_new_segment(&time);
        }
        break;
    }
    default:
        break;
    }
    return gst_pad_event_default(pad, parent, event);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    auto* self = KAD_VIRTUAL_TAP(element);
    State& s = *self->state;
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        s.frame = 0;
        s.capsSent = false;
        gst_adapter_clear(s.adapter.get());
        GST_OBJECT_LOCK(self);
        s.sent = 0;
        const std::string location = s.settings.sentLocation;
        GST_OBJECT_UNLOCK(self);
        s.sentFileFailed = false;
        if (!location.empty()) {
            s.sentFile.reset(std::fopen(location.c_str(), "ab"));
            if (!s.sentFile) {
                GST_ELEMENT_ERROR(
                    owner(self), RESOURCE, OPEN_WRITE,
                    ("Could not open \"%s\" to record the sent stream.", location.c_str()),
                    ("fopen failed"));
                return GST_STATE_CHANGE_FAILURE;
            }
        }
    }
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(kad_virtual_tap_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        s.sentFile.reset();
        gst_adapter_clear(s.adapter.get());
    }
    return ret;
}

void finalize(GObject* object)
{
    std::destroy_at(KAD_VIRTUAL_TAP(object)->state);
    G_OBJECT_CLASS(kad_virtual_tap_parent_class)->finalize(object);
}

} // namespace

static void kad_virtual_tap_class_init(KadVirtualTapClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_tap_debug, "kadvirtualtap", 0,
                            "Kadrillo virtual device output");
    G_OBJECT_CLASS(klass)->finalize = finalize;
    auto* element = GST_ELEMENT_CLASS(klass);
    element->change_state = changeState;
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Kadrillo virtual device output", "Filter",
                                          "Numbers, drops, rewrites and records a virtual "
                                          "device's frames",
                                          "Kadrillo");
}

static void kad_virtual_tap_init(KadVirtualTap* self)
{
    self->state = std::construct_at(reinterpret_cast<State*>(self->storage));
    self->state->adapter = kad::GRef<GstAdapter>(gst_adapter_new());
    self->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_chain_function(self->sinkpad, chain);
    gst_pad_set_event_function(self->sinkpad, sinkEvent);
    GST_PAD_SET_PROXY_CAPS(self->sinkpad);
    GST_PAD_SET_PROXY_ALLOCATION(self->sinkpad);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&srcTemplate, "src");
    GST_PAD_SET_PROXY_CAPS(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}

namespace kad {

void virtualTapSetHooks(KadVirtualTap* tap, VirtualTapHooks hooks)
{
    tap->state->hooks = std::move(hooks);
}

void virtualTapSetSettings(KadVirtualTap* tap, const VirtualTapSettings& settings)
{
    GST_OBJECT_LOCK(tap);
    tap->state->settings = settings;
    GST_OBJECT_UNLOCK(tap);
}

void virtualTapUnplug(KadVirtualTap* tap, const std::string& deviceName)
{
    GST_OBJECT_LOCK(tap);
    tap->state->unplugged = true;
    tap->state->deviceName = deviceName;
    GST_OBJECT_UNLOCK(tap);
}

guint64 virtualTapFramesSent(KadVirtualTap* tap)
{
    GST_OBJECT_LOCK(tap);
    const guint64 sent = tap->state->sent;
    GST_OBJECT_UNLOCK(tap);
    return sent;
}

bool virtualTapShouldDrop(const VirtualTapSettings& settings, guint64 n)
{
    if (settings.dropPeriod == 0 || settings.dropCount == 0) return false;
    const guint count = MIN(settings.dropCount, settings.dropPeriod);
    return n % settings.dropPeriod >= settings.dropPeriod - count;
}

} // namespace kad
