#include "virtual/virtual_mic_src.h"

#include "platform/media/gst_ptr.h"

// Locking: volume and mute are written by the application thread under the
// object lock; the tone element takes the level as its own property.
struct _KadVirtualMicSrc {
    KadVirtualSrc parent;
    GstElement* tone; // owned by the bin
    gdouble volume;
    gboolean mute;
};

G_DEFINE_TYPE(KadVirtualMicSrc, kad_virtual_mic_src, KAD_TYPE_VIRTUAL_SRC)

namespace {

enum { PROP_0, PROP_VOLUME, PROP_MUTE };

// The tone's level at full volume: loud enough to see, far from clipping.
constexpr gdouble kToneLevel = 0.25;

void applyLevel(KadVirtualMicSrc* self)
{
    GST_OBJECT_LOCK(self);
    const gdouble level = self->mute ? 0.0 : kToneLevel * self->volume;
    GST_OBJECT_UNLOCK(self);
    if (self->tone) g_object_set(self->tone, "volume", level, nullptr);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_MIC_SRC(object);
    switch (id) {
    case PROP_VOLUME:
        GST_OBJECT_LOCK(self);
        self->volume = g_value_get_double(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_MUTE:
        GST_OBJECT_LOCK(self);
        self->mute = g_value_get_boolean(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    applyLevel(self);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_VIRTUAL_MIC_SRC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_VOLUME:
        g_value_set_double(value, self->volume);
        break;
    case PROP_MUTE:
        g_value_set_boolean(value, self->mute);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

void configure(KadVirtualSrc* base, gboolean live, gint numBuffers)
{
    auto* self = KAD_VIRTUAL_MIC_SRC(base);
    if (self->tone) g_object_set(self->tone, "is-live", live, "num-buffers", numBuffers, nullptr);
}

} // namespace

static void kad_virtual_mic_src_class_init(KadVirtualMicSrcClass* klass)
{
    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    const auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                             GST_PARAM_CONTROLLABLE);
    g_object_class_install_property(gobject, PROP_VOLUME,
                                    g_param_spec_double("volume", "Volume",
                                                        "Level of the sound (1.0 full)", 0.0, 1.0,
                                                        1.0, rw));
    g_object_class_install_property(
        gobject, PROP_MUTE, g_param_spec_boolean("mute", "Mute", "Send silence", FALSE, rw));
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Virtual microphone",
                                          "Source/Audio", "A simulated microphone playing a tone",
                                          "Kadrillo");
}

static void kad_virtual_mic_src_init(KadVirtualMicSrc* self)
{
    self->volume = 1.0;
    self->mute = FALSE;
    self->tone = gst_element_factory_make("audiotestsrc", "tone");
    GstElement* native = gst_element_factory_make("capsfilter", "native");
    GstElement* resample = gst_element_factory_make("audioresample", "resample");
    GstElement* convert = gst_element_factory_make("audioconvert", "convert");
    GstElement* filter = gst_element_factory_make("capsfilter", "caps");
    if (!self->tone || !native || !resample || !convert || !filter) {
        GST_ERROR_OBJECT(self, "audiotestsrc, audioresample, audioconvert or capsfilter missing");
        for (GstElement* e : {self->tone, native, resample, convert, filter})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        self->tone = nullptr;
        kad::virtualSrcSetMissing(KAD_VIRTUAL_SRC(self), "audiotestsrc");
        return;
    }
    g_object_set(self->tone, "freq", 440.0, "volume", kToneLevel, "samplesperbuffer", 960, nullptr);
    // Like a sound server, the device makes 48 kHz stereo and converts when
    // asked for less; left to itself it passes its own format through.
    kad::CapsRef nativeCaps(gst_caps_from_string("audio/x-raw, format=(string)S16LE, "
                                                 "rate=(int)48000, channels=(int)2, "
                                                 "layout=(string)interleaved"));
    g_object_set(native, "caps", nativeCaps.get(), nullptr);
    kad::CapsRef caps(gst_caps_from_string(
        "audio/x-raw, format=(string)S16LE, rate=(int){ 48000, 44100, 32000 }, "
        "channels=(int){ 2, 1 }, layout=(string)interleaved"));
    g_object_set(filter, "caps", caps.get(), nullptr);
    gst_bin_add_many(GST_BIN(self), self->tone, native, resample, convert, filter, nullptr);
    gst_element_link_many(self->tone, native, resample, convert, filter,
                          GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self))), nullptr);
    kad::VirtualTapHooks hooks;
    hooks.numberFrames = false; // audio buffers keep their sample offsets
    kad::virtualTapSetHooks(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)), std::move(hooks));
}

gboolean kad_virtual_mic_src_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, "kadvirtualmicsrc", GST_RANK_NONE,
                                KAD_TYPE_VIRTUAL_MIC_SRC);
}
