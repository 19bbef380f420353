#include "virtual/virtual_dvfile_src.h"

#include "elements/kad_transport.h"
#include "media/dv/dv_frame.h"
#include "media/dv/dv_packs.h"
#include "platform/media/gst_ptr.h"
#include "virtual/dv_file_reader.h"
#include "virtual/virtual_frame_src.h"
#include "virtual/virtual_tape.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

GST_DEBUG_CATEGORY_STATIC(virtual_dvfile_src_debug);
#define GST_CAT_DEFAULT virtual_dvfile_src_debug

namespace {

namespace dv = kad::dv;
namespace tape = kad::tape;

struct State {
    // Object lock. The tape position counts tenths of a frame of the file.
    std::string location;
    tape::Transport tape;
    guint64 frameCount = 0;

    // Opened on the way to READY, closed on the way back to NULL; read by
    // the streaming thread only in between.
    std::unique_ptr<kad::dv::DvFileReader> reader;
    KadVirtualFrameSrc* video = nullptr; // owned by the bin
};

} // namespace

struct _KadVirtualDvFileSrc {
    KadVirtualSrc parent;
    State* state;
    alignas(State) unsigned char storage[sizeof(State)];
};

static void kad_virtual_dvfile_src_transport_init(KadTransportInterface* iface);

G_DEFINE_TYPE_WITH_CODE(KadVirtualDvFileSrc, kad_virtual_dvfile_src, KAD_TYPE_VIRTUAL_SRC,
                        G_IMPLEMENT_INTERFACE(KAD_TYPE_TRANSPORT,
                                              kad_virtual_dvfile_src_transport_init))

namespace {

enum {
    PROP_0,
    PROP_LOCATION,
    PROP_TRANSPORT_MODE,
    PROP_FRAME_COUNT,
};

void silence(guint8* frame, gsize size)
{
    dv::forEachAudioBlock(frame, size, [](guint8* block) {
        std::memset(block + dv::kAudioSamplesAt, 0, dv::kAudioSamplesSize);
    });
}

GstFlowReturn produce(KadVirtualDvFileSrc* self, GstBuffer** out)
{
    State& s = *self->state;
    if (!s.reader) return GST_FLOW_NOT_NEGOTIATED;
    const gint64 end = static_cast<gint64>(s.reader->frameCount()) * 10;
    GST_OBJECT_LOCK(self);
    // This frame shows where the tape is; the tape then moves on.
    tape::Transport& t = s.tape;
    const gint64 shown = CLAMP(t.position, 0, end - 1);
    const gint mode = t.mode;
    gint64 next = shown + tape::stepOf(mode);
    if (next >= end) next %= end;
    if (next < 0) {
        next = 0;
        t.mode = KAD_TRANSPORT_STOP;
    }
    t.position = next;
    const std::string location = s.location;
    GST_OBJECT_UNLOCK(self);

    const auto frame = static_cast<std::size_t>(shown / 10);
    const gsize size = s.reader->frameSize();
    kad::BufferRef buffer(gst_buffer_new_allocate(nullptr, size, nullptr));
    std::string reason;
    bool ok = false;
    std::optional<KadTimecode> timecode;
    {
        kad::BufferMap map(buffer.get(), GST_MAP_WRITE);
        if (map) {
            ok = s.reader->readFrame(frame, map.data(), &reason);
            if (ok) {
                timecode = kad::dv::readTimecode(map.data(), map.size());
                if (mode != KAD_TRANSPORT_PLAY) silence(map.data(), map.size());
            }
        } else {
            reason = "no memory for a frame";
        }
    }
    if (!ok) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ,
                          ("The DV file \"%s\" cannot be read any more.", location.c_str()),
                          ("frame %" G_GSIZE_FORMAT ": %s", frame, reason.c_str()));
        return GST_FLOW_ERROR;
    }
    GST_OBJECT_LOCK(self);
    s.tape.lastTimecode =
        timecode ? *timecode : tape::timecodeAt(s.reader->ntsc() ? 30 : 25, frame);
    GST_OBJECT_UNLOCK(self);
    *out = buffer.release();
    return GST_FLOW_OK;
}

bool openFile(KadVirtualDvFileSrc* self)
{
    State& s = *self->state;
    GST_OBJECT_LOCK(self);
    const std::string location = s.location;
    GST_OBJECT_UNLOCK(self);
    if (location.empty()) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No DV file was given to play."),
                          ("the \"location\" property is not set"));
        return false;
    }
    std::string reason;
    auto reader = kad::dv::DvFileReader::open(location, &reason);
    if (!reader) {
        GST_ELEMENT_ERROR(
            self, RESOURCE, OPEN_READ,
            ("The DV file \"%s\" cannot be played: %s", location.c_str(), reason.c_str()),
            ("opening %s failed", location.c_str()));
        return false;
    }
    GST_INFO_OBJECT(self, "%s: %s, %" G_GSIZE_FORMAT " frames, %s", location.c_str(),
                    reader->format(), reader->frameCount(), reader->ntsc() ? "NTSC" : "PAL");
    kad::CapsRef caps(gst_caps_new_simple(
        "video/x-dv", "systemstream", G_TYPE_BOOLEAN, TRUE, "framerate", GST_TYPE_FRACTION,
        reader->ntsc() ? 30000 : 25, reader->ntsc() ? 1001 : 1, nullptr));
    kad::virtualFrameSrcSetCaps(s.video, caps.get());
    GST_OBJECT_LOCK(self);
    s.frameCount = reader->frameCount();
    GST_OBJECT_UNLOCK(self);
    s.reader = std::move(reader);
    return true;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition)
{
    auto* self = KAD_VIRTUAL_DVFILE_SRC(element);
    if (transition == GST_STATE_CHANGE_NULL_TO_READY && !openFile(self))
        return GST_STATE_CHANGE_FAILURE;
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(kad_virtual_dvfile_src_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_NULL ||
        (transition == GST_STATE_CHANGE_NULL_TO_READY && ret == GST_STATE_CHANGE_FAILURE))
        self->state->reader.reset();
    return ret;
}

void configure(KadVirtualSrc* base, gboolean live, gint numBuffers)
{
    auto* self = KAD_VIRTUAL_DVFILE_SRC(base);
    g_object_set(self->state->video, "is-live", live, "frame-limit",
                 static_cast<gint64>(numBuffers), nullptr);
}

void build(KadVirtualDvFileSrc* self)
{
    State& s = *self->state;
    s.video =
        KAD_VIRTUAL_FRAME_SRC(g_object_new(KAD_TYPE_VIRTUAL_FRAME_SRC, "name", "video", nullptr));
    kad::virtualFrameSrcSetCaps(s.video, tape::dvStreamCaps().get());
    kad::virtualFrameSrcSetProducer(s.video,
                                    [self](const kad::FrameSlot&, GstCaps*, const GstVideoInfo*,
                                           GstBuffer** out) { return produce(self, out); });
    GstElement* tap = GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)));
    gst_bin_add(GST_BIN(self), GST_ELEMENT(s.video));
    if (!gst_element_link(GST_ELEMENT(s.video), tap))
        GST_ERROR_OBJECT(self, "could not link the frame source to the tap");
    kad::VirtualTapHooks hooks;
    hooks.caps = tape::dvStreamCaps();
    kad::virtualTapSetHooks(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)), std::move(hooks));
}

void constructed(GObject* object)
{
    build(KAD_VIRTUAL_DVFILE_SRC(object));
    G_OBJECT_CLASS(kad_virtual_dvfile_src_parent_class)->constructed(object);
}

gboolean setMode(KadTransport* transport, gint mode)
{
    auto* self = KAD_VIRTUAL_DVFILE_SRC(transport);
    if (!tape::validMode(mode)) return FALSE;
    GST_OBJECT_LOCK(self);
    self->state->tape.mode = mode;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

gboolean getMode(KadTransport* transport, gint* mode)
{
    auto* self = KAD_VIRTUAL_DVFILE_SRC(transport);
    GST_OBJECT_LOCK(self);
    *mode = self->state->tape.mode;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

tape::Transport& tapeOf(KadTransport* transport)
{
    return KAD_VIRTUAL_DVFILE_SRC(transport)->state->tape;
}

gint deviceType(KadTransport*)
{
    return KAD_DEVICE_TYPE_VCR;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_DVFILE_SRC(object);
    State& s = *self->state;
    switch (id) {
    case PROP_LOCATION:
        if (GST_STATE(self) != GST_STATE_NULL) {
            GST_WARNING_OBJECT(self, "the location can only change in the NULL state");
            break;
        }
        GST_OBJECT_LOCK(self);
        s.location = g_value_get_string(value) ? g_value_get_string(value) : "";
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_TRANSPORT_MODE:
        if (!setMode(KAD_TRANSPORT(self), g_value_get_int(value)))
            GST_WARNING_OBJECT(self, "transport mode 0x%x refused", g_value_get_int(value));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_DVFILE_SRC(object);
    State& s = *self->state;
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION:
        g_value_set_string(value, s.location.c_str());
        break;
    case PROP_TRANSPORT_MODE:
        g_value_set_int(value, s.tape.mode);
        break;
    case PROP_FRAME_COUNT:
        g_value_set_uint64(value, s.frameCount);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void finalize(GObject* object)
{
    std::destroy_at(KAD_VIRTUAL_DVFILE_SRC(object)->state);
    G_OBJECT_CLASS(kad_virtual_dvfile_src_parent_class)->finalize(object);
}

} // namespace

static void kad_virtual_dvfile_src_transport_init(KadTransportInterface* iface)
{
    tape::fillTransportInterface<tapeOf>(iface);
    iface->get_device_type = deviceType;
    iface->get_mode = getMode;
    iface->set_mode = setMode;
}

static void kad_virtual_dvfile_src_class_init(KadVirtualDvFileSrcClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_dvfile_src_debug, "kadvirtualdvfilesrc", 0,
                            "Kadrillo DV file played as a camcorder tape");
    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->constructed = constructed;
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    gobject->finalize = finalize;
    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobject, PROP_LOCATION,
        g_param_spec_string("location", "Location",
                            "The DV file to play (raw DV, type-1 or type-2 DV AVI)", nullptr, rw));
    tape::installModeProperty(gobject, PROP_TRANSPORT_MODE);
    g_object_class_install_property(
        gobject, PROP_FRAME_COUNT,
        g_param_spec_uint64("frame-count", "Frame count",
                            "Frames in the file (0 until it is opened)", 0, G_MAXUINT64, 0,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    GST_ELEMENT_CLASS(klass)->change_state = changeState;
    gst_element_class_set_static_metadata(
        GST_ELEMENT_CLASS(klass), "DV file camcorder", "Source/Video/Audio",
        "Plays a DV file as the tape of a DV camcorder", "Kadrillo");
}

static void kad_virtual_dvfile_src_init(KadVirtualDvFileSrc* self)
{
    self->state = std::construct_at(reinterpret_cast<State*>(self->storage));
}

gboolean kad_virtual_dvfile_src_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, "kadvirtualdvfilesrc", GST_RANK_NONE,
                                KAD_TYPE_VIRTUAL_DVFILE_SRC);
}
