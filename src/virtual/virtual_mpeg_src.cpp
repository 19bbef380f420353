#include "virtual/virtual_mpeg_src.h"

#include "platform/media/gst_ptr.h"
#include "virtual/virtual_frame_src.h"
#include "virtual/virtual_mpeg2_es.h"
#include "virtual/virtual_ps_rewrite.h"

#include <atomic>
#include <memory>

GST_DEBUG_CATEGORY_STATIC(virtual_mpeg_src_debug);
#define GST_CAT_DEFAULT virtual_mpeg_src_debug

namespace {

struct State {
    bool moviebox = false;               // construct only
    KadVirtualFrameSrc* video = nullptr; // owned by the bin
    GstElement* audio = nullptr;         // owned by the bin
    GstElement* audioParser = nullptr;   // owned by the bin
    GstElement* mux = nullptr;           // owned by the bin
    kad::mpeg2::Format format;
    // First refusal from downstream in this run (GST_FLOW_OK while none):
    // written by the muxer's streaming thread, read by both branch threads.
    std::atomic<int> refused{GST_FLOW_OK};
    // Set once the end of stream went round the muxer.
    std::atomic<bool> eosSent{false};
    // The tap's streaming thread only.
    std::unique_ptr<kad::StreamIdRewriter> rewriter;
};

} // namespace

struct _KadVirtualMpegSrc {
    KadVirtualSrc parent;
    State* state;
    alignas(State) unsigned char storage[sizeof(State)];
};

G_DEFINE_TYPE(KadVirtualMpegSrc, kad_virtual_mpeg_src, KAD_TYPE_VIRTUAL_SRC)

namespace {

enum { PROP_0, PROP_MOVIEBOX };

GstFlowReturn produce(KadVirtualMpegSrc* self, const kad::FrameSlot& slot, GstBuffer** out)
{
    State& s = *self->state;
    if (kad::virtualTapShouldDrop(kad::virtualSrcSettings(KAD_VIRTUAL_SRC(self)), slot.number))
        return GST_FLOW_OK;
    const auto pattern =
        s.moviebox ? kad::picture::Pattern::Tape : kad::picture::Pattern::Composite;
    const int w = s.format.width;
    const int h = s.format.height;
    const guint64 t = slot.number;
    std::vector<std::uint8_t> coded =
        kad::mpeg2::encodePicture(s.format, slot.number, [&](int x, int y) {
            return kad::picture::sample(pattern, t, 0, x, y, w, h);
        });
    *out = gst_buffer_new_memdup(coded.data(), coded.size());
    return GST_FLOW_OK;
}

// mpegpsmux forgets the buffer of the branch whose push failed but still
// holds the peeked reference of the other branch; whatever that branch sends
// next (a buffer or the end of stream) makes it unref a buffer that is gone.
// So the muxer never sees a refusal: its output is handed to the tap here and
// a refusal is latched instead. The branches then get the refusal themselves
// and their end of stream goes round the muxer.
GstPadProbeReturn muxOutput(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    State& s = *KAD_VIRTUAL_MPEG_SRC(data)->state;
    kad::PadRef peer(gst_pad_get_peer(pad));
    GstFlowReturn ret = GST_FLOW_NOT_LINKED;
    if (!peer || s.refused.load() != GST_FLOW_OK)
        gst_mini_object_unref(GST_MINI_OBJECT(info->data));
    else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        ret = gst_pad_chain_list(peer.get(), GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    else
        ret = gst_pad_chain(peer.get(), GST_PAD_PROBE_INFO_BUFFER(info));
    info->data = nullptr;
    if (ret != GST_FLOW_OK) {
        int expected = GST_FLOW_OK;
        s.refused.compare_exchange_strong(expected, ret);
    }
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_OK;
    return GST_PAD_PROBE_HANDLED;
}

GstPadProbeReturn muxInput(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* self = KAD_VIRTUAL_MPEG_SRC(data);
    State& s = *self->state;
    const int refused = s.refused.load();
    if (refused == GST_FLOW_OK) return GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_EOS) return GST_PAD_PROBE_OK;
        if (!s.eosSent.exchange(true)) {
            kad::PadRef tapSink(gst_element_get_static_pad(
                GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self))), "sink"));
            if (tapSink) gst_pad_send_event(tapSink.get(), gst_event_ref(event));
        }
        return GST_PAD_PROBE_DROP;
    }
    gst_mini_object_unref(GST_MINI_OBJECT(info->data));
    info->data = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = static_cast<GstFlowReturn>(refused);
    return GST_PAD_PROBE_HANDLED;
}

void watchMuxOutput(KadVirtualMpegSrc* self)
{
    State& s = *self->state;
    kad::PadRef src(gst_element_get_static_pad(s.mux, "src"));
    if (src)
        gst_pad_add_probe(src.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          muxOutput, self, nullptr);
}

// The program-stream muxer keeps its stream state from one run to the next
// (a second run would be cut short), so every run gets a new one.
void renewMux(KadVirtualMpegSrc* self)
{
    State& s = *self->state;
    GstElement* fresh = gst_element_factory_make("mpegpsmux", nullptr);
    if (!fresh) return;
    GstElement* tap = GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)));
    gst_element_set_state(s.mux, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(self), s.mux);
    s.mux = fresh;
    gst_bin_add(GST_BIN(self), s.mux);
    if (!gst_element_link(GST_ELEMENT(s.video), s.mux) || !gst_element_link(s.audioParser, s.mux) ||
        !gst_element_link(s.mux, tap))
        GST_ERROR_OBJECT(self, "could not link the new program-stream muxer");
    watchMuxOutput(self);
    gst_element_sync_state_with_parent(s.mux);
}

void configure(KadVirtualSrc* base, gboolean live, gint numBuffers)
{
    State& s = *KAD_VIRTUAL_MPEG_SRC(base)->state;
    if (!s.video) return;
    renewMux(KAD_VIRTUAL_MPEG_SRC(base));
    s.refused = GST_FLOW_OK;
    s.eosSent = false;
    g_object_set(s.video, "is-live", live, "frame-limit", static_cast<gint64>(numBuffers), nullptr);
    // 1152 samples per audio frame; enough frames to cover the video.
    const gint audioFrames = numBuffers < 0 ? -1 : numBuffers * 48000 / 25 / 1152 + 2;
    g_object_set(s.audio, "is-live", live, "num-buffers", audioFrames, nullptr);
    if (s.rewriter) s.rewriter->reset();
}

void build(KadVirtualMpegSrc* self)
{
    State& s = *self->state;
    GstElement* mux = gst_element_factory_make("mpegpsmux", "mux");
    GstElement* encoder = gst_element_factory_make("avenc_mp2", "audioencoder");
    GstElement* parser = gst_element_factory_make("mpegaudioparse", "audioparse");
    GstElement* audio = gst_element_factory_make("audiotestsrc", "audio");
    GstElement* audioCaps = gst_element_factory_make("capsfilter", "audiocaps");
    if (!mux || !encoder || !parser || !audio || !audioCaps) {
        GST_ERROR_OBJECT(self, "mpegpsmux, avenc_mp2 or mpegaudioparse missing");
        for (GstElement* e : {mux, encoder, parser, audio, audioCaps})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        kad::virtualSrcSetMissing(KAD_VIRTUAL_SRC(self),
                                  "mpegpsmux, avenc_mp2, mpegaudioparse, audiotestsrc");
        return;
    }
    s.video =
        KAD_VIRTUAL_FRAME_SRC(g_object_new(KAD_TYPE_VIRTUAL_FRAME_SRC, "name", "video", nullptr));
    s.audio = audio;
    s.audioParser = parser;
    s.mux = mux;
    kad::CapsRef caps(gst_caps_new_simple(
        "video/mpeg", "mpegversion", G_TYPE_INT, 2, "systemstream", G_TYPE_BOOLEAN, FALSE, "width",
        G_TYPE_INT, s.format.width, "height", G_TYPE_INT, s.format.height, "framerate",
        GST_TYPE_FRACTION, 25, 1, "pixel-aspect-ratio", GST_TYPE_FRACTION, 16, 15, "parsed",
        G_TYPE_BOOLEAN, TRUE, nullptr));
    kad::virtualFrameSrcSetCaps(s.video, caps.get());
    kad::virtualFrameSrcSetProducer(
        s.video, [self](const kad::FrameSlot& slot, GstCaps*, const GstVideoInfo*,
                        GstBuffer** out) { return produce(self, slot, out); });
    g_object_set(audio, "freq", 660.0, "volume", 0.3, "samplesperbuffer", 1152, nullptr);
    kad::CapsRef acaps(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "rate",
                                           G_TYPE_INT, 48000, "channels", G_TYPE_INT, 2, "layout",
                                           G_TYPE_STRING, "interleaved", nullptr));
    g_object_set(audioCaps, "caps", acaps.get(), nullptr);
    GstElement* tap = GST_ELEMENT(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)));
    gst_bin_add_many(GST_BIN(self), GST_ELEMENT(s.video), mux, audio, audioCaps, encoder, parser,
                     nullptr);
    if (!gst_element_link_many(GST_ELEMENT(s.video), mux, tap, nullptr) ||
        !gst_element_link_many(audio, audioCaps, encoder, parser, mux, nullptr))
        GST_ERROR_OBJECT(self, "could not link the MPEG-2 chain");
    watchMuxOutput(self);
    for (GstElement* branch : {GST_ELEMENT(s.video), parser}) {
        kad::PadRef out(gst_element_get_static_pad(branch, "src"));
        gst_pad_add_probe(out.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          muxInput, self, nullptr);
    }

    kad::VirtualTapHooks hooks;
    hooks.numberFrames = false;
    if (s.moviebox) {
        s.rewriter = std::make_unique<kad::StreamIdRewriter>(
            std::map<std::uint8_t, std::uint8_t>{{0xE0, 0xE1}, {0xC0, 0xC1}});
        kad::StreamIdRewriter* rewriter = s.rewriter.get();
        hooks.bytes = [rewriter](const std::uint8_t* data, gsize size,
                                 std::vector<std::uint8_t>& out) {
            rewriter->push(data, size, out);
        };
        hooks.finish = [rewriter](std::vector<std::uint8_t>& out) { rewriter->finish(out); };
    }
    kad::virtualTapSetHooks(kad::virtualSrcTap(KAD_VIRTUAL_SRC(self)), std::move(hooks));
}

void constructed(GObject* object)
{
    build(KAD_VIRTUAL_MPEG_SRC(object));
    G_OBJECT_CLASS(kad_virtual_mpeg_src_parent_class)->constructed(object);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    if (id == PROP_MOVIEBOX)
        KAD_VIRTUAL_MPEG_SRC(object)->state->moviebox = g_value_get_boolean(value);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    if (id == PROP_MOVIEBOX)
        g_value_set_boolean(value, KAD_VIRTUAL_MPEG_SRC(object)->state->moviebox);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void finalize(GObject* object)
{
    std::destroy_at(KAD_VIRTUAL_MPEG_SRC(object)->state);
    G_OBJECT_CLASS(kad_virtual_mpeg_src_parent_class)->finalize(object);
}

} // namespace

static void kad_virtual_mpeg_src_class_init(KadVirtualMpegSrcClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(virtual_mpeg_src_debug, "kadvirtualmpegsrc", 0,
                            "Kadrillo virtual MPEG-2 encoder");
    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->constructed = constructed;
    gobject->set_property = setProperty;
    gobject->get_property = getProperty;
    gobject->finalize = finalize;
    g_object_class_install_property(
        gobject, PROP_MOVIEBOX,
        g_param_spec_boolean(
            "moviebox", "MovieBox model B",
            "Send video on stream 0xE1 and audio on 0xC1 like the MovieBox model B", FALSE,
            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_CONSTRUCT_ONLY |
                                     G_PARAM_STATIC_STRINGS)));
    KAD_VIRTUAL_SRC_CLASS(klass)->configure = configure;
    KAD_VIRTUAL_SRC_CLASS(klass)->drops_in_tap = FALSE;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Virtual MPEG-2 encoder",
                                          "Source/Video/Audio",
                                          "A simulated MPEG-2 program-stream encoder", "Kadrillo");
}

static void kad_virtual_mpeg_src_init(KadVirtualMpegSrc* self)
{
    self->state = std::construct_at(reinterpret_cast<State*>(self->storage));
}

gboolean kad_virtual_mpeg_src_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, "kadvirtualmpegsrc", GST_RANK_NONE,
                                KAD_TYPE_VIRTUAL_MPEG_SRC);
}
