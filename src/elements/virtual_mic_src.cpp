#include "elements/virtual_mic_src.h"

#include "platform/media/gst_ptr.h"

struct _KadVirtualMicSrc {
    KadVirtualSrc parent;
    GstElement* tone; // owned by the bin
};

G_DEFINE_TYPE(KadVirtualMicSrc, kad_virtual_mic_src, KAD_TYPE_VIRTUAL_SRC)

namespace {

void configure(KadVirtualSrc* base, gboolean live, gint numBuffers)
{
    auto* self = KAD_VIRTUAL_MIC_SRC(base);
    if (self->tone) g_object_set(self->tone, "is-live", live, "num-buffers", numBuffers, nullptr);
}

} // namespace

static void kad_virtual_mic_src_class_init(KadVirtualMicSrcClass* klass)
{
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Virtual microphone",
                                          "Source/Audio", "A simulated microphone playing a tone",
                                          "Kadrillo");
}

static void kad_virtual_mic_src_init(KadVirtualMicSrc* self)
{
    self->tone = gst_element_factory_make("audiotestsrc", "tone");
    GstElement* filter = gst_element_factory_make("capsfilter", "caps");
    if (!self->tone || !filter) {
        GST_ERROR_OBJECT(self, "audiotestsrc or capsfilter missing");
        if (self->tone) gst_object_unref(gst_object_ref_sink(self->tone));
        if (filter) gst_object_unref(gst_object_ref_sink(filter));
        self->tone = nullptr;
        kad::virtualSrcSetMissing(KAD_VIRTUAL_SRC(self), "audiotestsrc");
        return;
    }
    g_object_set(self->tone, "freq", 440.0, "volume", 0.25, "samplesperbuffer", 960, nullptr);
    kad::CapsRef caps(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "rate",
                                          G_TYPE_INT, 48000, "channels", G_TYPE_INT, 2, "layout",
                                          G_TYPE_STRING, "interleaved", nullptr));
    g_object_set(filter, "caps", caps.get(), nullptr);
    gst_bin_add_many(GST_BIN(self), self->tone, filter, nullptr);
    gst_element_link_many(self->tone, filter,
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
