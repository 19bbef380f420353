// The previews of the MPEG-2 sources (the MovieBox model B and any device
// with an MPEG-2 program stream) and the playback of their audio.
//
// mpegpsdemux stands for the box maker's splitters and for the platform
// demultiplexer. It makes one pad per elementary stream it finds
// ("video_e0", "audio_c0", ...), so the demultiplexer's "MpegVideo" and
// "MpegAudio" outputs are two small elements of ours (a queue and a parser)
// that a stream picker feeds: stream 0xE1 (audio 0xC1) when the program
// stream has it, as the MovieBox does, otherwise the first video (audio)
// stream, which is where ordinary encoders put theirs (0xE0, 0xC0).

#include "graph/dm_cam.h"

#include "platform/media/media_platform.h"
#include "system/log.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kad {

namespace {

// Which demultiplexer pads feed the two outputs. The pad-added and
// pad-removed handlers run on the demultiplexer's one streaming thread;
// the GUI thread only sets the picker up, so the mutex guards the names.
struct StreamPicker {
    std::mutex lock;
    PadRef videoIn; // sink pad of the "MpegVideo" output
    PadRef audioIn; // sink pad of the "MpegAudio" output
    std::string videoFrom;
    std::string audioFrom;
};

bool isVideoStream(const std::string& name)
{
    return name.rfind("video_e", 0) == 0;
}

// MPEG audio streams are 0xC0 to 0xDF; private streams (AC-3, LPCM) are not
// ours to decode here.
bool isMpegAudioStream(const std::string& name)
{
    return name.rfind("audio_c", 0) == 0 || name.rfind("audio_d", 0) == 0;
}

// Links pad to `in` when nothing feeds it yet, or when pad is the preferred
// stream and the current one is not.
void pick(GstElement* demux, GstPad* pad, PadRef& in, std::string& from, const char* preferred)
{
    if (!in) return;
    const std::string name = GST_PAD_NAME(pad);
    if (!from.empty() && (from == preferred || name != preferred)) return;
    if (!from.empty()) {
        if (PadRef old{gst_element_get_static_pad(demux, from.c_str())})
            gst_pad_unlink(old.get(), in.get());
        from.clear();
    }
    if (gst_pad_is_linked(in.get())) return;
    if (gst_pad_link(pad, in.get()) == GST_PAD_LINK_OK) from = name;
}

void onDemuxPadAdded(GstElement* demux, GstPad* pad, gpointer data)
{
    auto* picker = static_cast<StreamPicker*>(data);
    const std::string name = GST_PAD_NAME(pad);
    std::lock_guard guard(picker->lock);
    if (isVideoStream(name))
        pick(demux, pad, picker->videoIn, picker->videoFrom, "video_e1");
    else if (isMpegAudioStream(name))
        pick(demux, pad, picker->audioIn, picker->audioFrom, "audio_c1");
}

void onDemuxPadRemoved(GstElement*, GstPad* pad, gpointer data)
{
    auto* picker = static_cast<StreamPicker*>(data);
    std::lock_guard guard(picker->lock);
    if (picker->videoFrom == GST_PAD_NAME(pad)) picker->videoFrom.clear();
    if (picker->audioFrom == GST_PAD_NAME(pad)) picker->audioFrom.clear();
}

void deletePicker(gpointer data, GClosure*)
{
    // GLib hands the user data back here; adopting it frees it.
    std::unique_ptr<StreamPicker> owned(static_cast<StreamPicker*>(data));
}

constexpr const char* kPickerKey = "kad-stream-picker";

StreamPicker* pickerOf(GstElement* demux)
{
    auto* picker = static_cast<StreamPicker*>(g_object_get_data(G_OBJECT(demux), kPickerKey));
    if (picker) return picker;
    picker = new StreamPicker;
    g_object_set_data(G_OBJECT(demux), kPickerKey, picker);
    g_signal_connect_data(demux, "pad-added", G_CALLBACK(onDemuxPadAdded), picker, nullptr,
                          GConnectFlags(0));
    g_signal_connect_data(demux, "pad-removed", G_CALLBACK(onDemuxPadRemoved), picker, deletePicker,
                          GConnectFlags(0));
    return picker;
}

// After a loss (a buffer flagged DISCONT: the Smart Tee's preview dropped
// what it could not keep up with, or the device lost data) mpegpsdemux
// forgets its clock reference until the next pack header, and a packet it
// reads before that header counts as more than two seconds into the stream:
// the demultiplexer then takes its set of streams as complete and never
// makes a pad for a stream it has not met yet. A loss between the first
// pack and the first picture (an encoder sends its sound first; a busy
// computer's preview drops while it starts) so cost the picture for the
// whole run, and with no picture the graph never got to play. So after a
// loss the stream is read again from its next pack header: the packets
// before it are cut by the loss anyway. A header split between two buffers
// is missed, and the one after it taken.
struct PackResync {
    bool waiting = false; // streaming thread only
};

constexpr const char* kPackResyncKey = "kad-pack-resync";

// Where the first pack header of data starts (MPEG-2 or MPEG-1 pack).
std::optional<gsize> findPackStart(const guint8* data, gsize size)
{
    for (gsize i = 0; i + 4 <= size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || data[i + 3] != 0xBA) continue;
        if (i + 4 == size || (data[i + 4] & 0xC0) == 0x40 || (data[i + 4] & 0xF0) == 0x20) return i;
    }
    return std::nullopt;
}

GstPadProbeReturn resumeAtPack(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* state = static_cast<PackResync*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
        if (type == GST_EVENT_FLUSH_STOP || type == GST_EVENT_STREAM_START) state->waiting = false;
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const bool discont = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    if (!state->waiting && !discont) return GST_PAD_PROBE_OK;
    std::optional<gsize> at;
    {
        BufferMap map(buffer, GST_MAP_READ);
        if (map) at = findPackStart(map.data(), map.size());
    }
    state->waiting = !at;
    if (!at) return GST_PAD_PROBE_DROP;
    if (*at == 0 && discont) return GST_PAD_PROBE_OK;
    // The demultiplexer must still hear of the loss: it drops the packet it
    // was gathering and marks its outputs.
    GstBuffer* rest = *at == 0 ? gst_buffer_make_writable(buffer)
                               : gst_buffer_copy_region(buffer, GST_BUFFER_COPY_ALL, *at,
                                                        gst_buffer_get_size(buffer) - *at);
    if (*at != 0) gst_buffer_unref(buffer);
    GST_BUFFER_FLAG_SET(rest, GST_BUFFER_FLAG_DISCONT);
    GST_PAD_PROBE_INFO_DATA(info) = rest;
    return GST_PAD_PROBE_OK;
}

void resumeAtPacksAfterLoss(GstElement* demux)
{
    if (g_object_get_data(G_OBJECT(demux), kPackResyncKey)) return;
    PadRef in(gst_element_get_static_pad(demux, "sink"));
    if (!in) return;
    g_object_set_data(G_OBJECT(demux), kPackResyncKey, GINT_TO_POINTER(1));
    gst_pad_add_probe(in.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      resumeAtPack, std::make_unique<PackResync>().release(), [](gpointer state) {
                          std::unique_ptr<PackResync> owned(static_cast<PackResync*>(state));
                      });
}

// "queue ! parser" with ghost pads: one output of the demultiplexer.
GstElement* makeOutput(const char* name, const char* parser)
{
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    GstElement* parse = gst_element_factory_make(parser, nullptr);
    if (!queue || !parse) {
        if (queue) gst_object_unref(gst_object_ref_sink(queue));
        if (parse) gst_object_unref(gst_object_ref_sink(parse));
        return nullptr;
    }
    GstElement* bin = gst_bin_new(name);
    gst_bin_add_many(GST_BIN(bin), queue, parse, NULL);
    gst_element_link(queue, parse);
    PadRef in(gst_element_get_static_pad(queue, "sink"));
    PadRef out(gst_element_get_static_pad(parse, "src"));
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", in.get()));
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out.get()));
    return bin;
}

// An output of the demultiplexer while it is in graph.
GstElement* pinInGraph(const ElementRef& pin, GstBin* graph)
{
    GstElement* e = pin.get();
    return e && gst_object_has_as_ancestor(GST_OBJECT(e), GST_OBJECT(graph)) ? e : nullptr;
}

} // namespace

GstElement* TpreviewBuilder::MpegVideoPin() const
{
    return pinInGraph(mpegVideo_, graph().Graph());
}

GstElement* TpreviewBuilder::MpegAudioPin() const
{
    return pinInGraph(mpegAudio_, graph().Graph());
}

namespace {

// The picture format is known once the parser has read the first sequence
// header; it reaches the GUI thread as the graph's format message.
GstPadProbeReturn onVideoCaps(GstPad* pad, GstPadProbeInfo* info, gpointer)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const GstStructure* st = caps ? gst_caps_get_structure(caps, 0) : nullptr;
    int width = 0, height = 0, num = 0, den = 0;
    if (!st || !gst_structure_get_int(st, "width", &width) ||
        !gst_structure_get_int(st, "height", &height))
        return GST_PAD_PROBE_OK;
    gint64 duration = 400000;
    if (gst_structure_get_fraction(st, "framerate", &num, &den) && num > 0 && den > 0)
        duration = (gint64(10000000) * den + num / 2) / num;
    ElementRef owner(gst_pad_get_parent_element(pad));
    if (!owner) return GST_PAD_PROBE_OK;
    GstStructure* s = gst_structure_new("kad-format", "duration", G_TYPE_INT64, duration, "width",
                                        G_TYPE_INT, width, "height", G_TYPE_INT, height, NULL);
    gst_element_post_message(owner.get(), gst_message_new_application(GST_OBJECT(owner.get()), s));
    return GST_PAD_PROBE_OK;
}

// CreateOutputPin and the stream mapping: makes the output, puts it in the
// graph and hands the picker its input. The link result says how it went.
GstPadLinkReturn createOutputPin(GstBin* graph, GstElement* demux, const char* name,
                                 const char* parser, bool video, ElementRef& out)
{
    out.reset();
    GstElement* pin = makeOutput(name, parser);
    if (!pin) return GST_PAD_LINK_NOFORMAT;
    out = ElementRef::sink(pin);
    if (video) {
        PadRef src(gst_element_get_static_pad(pin, "src"));
        gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onVideoCaps, nullptr,
                          nullptr);
    }
    gst_bin_add(graph, pin);
    gst_element_sync_state_with_parent(pin);
    resumeAtPacksAfterLoss(demux);
    StreamPicker* picker = pickerOf(demux);
    std::lock_guard guard(picker->lock);
    (video ? picker->videoIn : picker->audioIn).reset(gst_element_get_static_pad(pin, "sink"));
    (video ? picker->videoFrom : picker->audioFrom).clear();
    return GST_PAD_LINK_OK;
}

// The pad linked to element's first sink pad, unlinked from it; null when
// nothing feeds it.
PadRef takeFeeder(GstElement* element)
{
    if (!element) return {};
    GstPad* in = nullptr;
    GST_OBJECT_LOCK(element);
    if (element->sinkpads) in = GST_PAD(gst_object_ref(element->sinkpads->data));
    GST_OBJECT_UNLOCK(element);
    PadRef sink(in);
    PadRef feeder(sink ? gst_pad_get_peer(sink.get()) : nullptr);
    if (feeder) gst_pad_unlink(feeder.get(), sink.get());
    return feeder;
}

// An output of the demultiplexer into its decoder: both ends are known, so
// they are linked pad to pad (before data flows, a decoder's answer to a caps
// query lists fields the parser cannot promise yet, which an ordinary link
// takes for a misfit).
GstPadLinkReturn linkPins(GstElement* output, GstElement* decoder)
{
    PadRef out(gst_element_get_static_pad(output, "src"));
    PadRef in(decoder ? gst_element_get_static_pad(decoder, "sink") : nullptr);
    if (!out || !in) return GST_PAD_LINK_NOFORMAT;
    if (gst_pad_is_linked(in.get())) return GST_PAD_LINK_WAS_LINKED;
    return gst_pad_link_full(out.get(), in.get(), GST_PAD_LINK_CHECK_HIERARCHY);
}

} // namespace

bool TpreviewBuilder::BuildPreviewMovieBoxB()
{
    if (Source().Kind() != kad::SourceKind::skMovieBoxB || !Source().Pin()) return false;
    WriteLog("try to build the previewgraph of MovieBox_B");
    previewBuilt_ = false;
    graph().FreeAllFilters();
    graph().place(graph().Smarttee);
    graph().place(graph().NullRenderer);
    if (graph().rs(Source().Pin().get(), &graph().Smarttee, graph().NullRenderer) ==
        LinkResult::MissingElement)
        return false;
    graph().place(graph().demux);
    if (graph().rs(graph().Smarttee, nullptr, graph().demux) == LinkResult::MissingElement)
        return false;
    if (createOutputPin(graph().Graph(), graph().demux.Element(), "MpegVideo", "mpegvideoparse",
                        true, mpegVideo_) != GST_PAD_LINK_OK ||
        createOutputPin(graph().Graph(), graph().demux.Element(), "MpegAudio", "mpegaudioparse",
                        false, mpegAudio_) != GST_PAD_LINK_OK)
        return false;
    TfilterSlot* d = deint();
    graph().place(graph().sg);
    graph().place(graph().Mpeg2VideoDec);
    graph().Chronix.Remove();
    GstElement* video = mpegVideo_.get();
    if (options_.PermettreIncruster) {
        graph().Infinite.Remove();
        graph().place(graph().Lumatex);
        graph().place(graph().Infinite2);
        GstElement* dec =
            graph().Mpeg2VideoDec.InGraph() ? graph().Mpeg2VideoDec.Element() : nullptr;
        if (dec) linkPins(video, dec);
        if (!graph().Lumatex.InGraph() ||
            RenderStream(graph().Graph(), dec ? dec : video, d ? d->Element() : nullptr,
                         graph().Lumatex.Element()) == LinkResult::MissingElement)
            return false;
        graph().rs(graph().Lumatex, nullptr, graph().Infinite2);
        graph().rs(graph().Infinite2, nullptr, graph().sg);
    } else {
        if (graph().Mpeg2VideoDec.InGraph()) {
            linkPins(video, graph().Mpeg2VideoDec.Element());
            RenderStream(graph().Graph(), graph().Mpeg2VideoDec.Element(),
                         d ? d->Element() : nullptr, graph().sg.Element());
        } else {
            RenderStream(graph().Graph(), video, d ? d->Element() : nullptr, graph().sg.Element());
        }
        graph().place(graph().Infinite2);
        PadRef feeder = takeFeeder(graph().sg.Element());
        if (feeder) graph().rs(feeder.get(), &graph().Infinite2, graph().sg);
    }
    graph().place(graph().hdVideo);
    if (graph().rsToWindow(graph().sg, graph().hdVideo.Bound() ? &graph().hdVideo : nullptr) ==
        LinkResult::MissingElement)
        return false;
    if (options_.EcouterAudioInclus) UpdateIncludedAudio();
    if (options_.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    previewBuilt_ = true;
    WriteLog("building of the previewgraph of MovieBox_B has succeeded");
    ReadFormat();
    return true;
}

bool TpreviewBuilder::BuildPreviewMpeg2()
{
    WriteLog("Start of BuildPreview in mpeg2");
    if (Source().Kind() != kad::SourceKind::skMpeg2 || !Source().Pin()) return false;
    struct EndLine {
        ~EndLine() { WriteLog("End of BuildPreview en MPEG2"); }
    } endLine;

    previewBuilt_ = false;
    graph().FreeAllFilters();
    WriteLog("FreeAllFilters passed");
    graph().place(graph().Smarttee);
    graph().place(graph().NullRenderer);
    LinkResult r = graph().rs(Source().Pin().get(), &graph().Smarttee, graph().NullRenderer);
    WriteLog("cg.RenderStream smarttee ==> " + LinkResultText(r));

    // FindPin: the Smart Tee's free output of the stream, its preview.
    PadRef p(graph().Smarttee.InGraph()
                 ? gst_element_get_static_pad(graph().Smarttee.Element(), "preview")
                 : nullptr);
    if (p && gst_pad_is_linked(p.get())) p.reset();
    WriteLog("cg.FindPin ==> " +
             (p ? MediaErrorText(GST_PAD_LINK_OK) : LinkResultText(LinkResult::NoFreeSourcePad)));
    graph().place(graph().demux);
    r = p ? graph().rs(p.get(), nullptr, graph().demux) : LinkResult::NoFreeSourcePad;
    WriteLog("cg.Renderstream demux ==> " + LinkResultText(r));
    p.reset();
    if (!Succeeded(r)) return false;
    GstElement* dmx = graph().demux.Element();
    if (!dmx || !g_signal_lookup("pad-added", G_OBJECT_TYPE(dmx))) {
        WriteLogSection("not assigned(pIMpeg2Demux)");
        return false;
    }
    GstPadLinkReturn pr =
        createOutputPin(graph().Graph(), dmx, "MpegVideo", "mpegvideoparse", true, mpegVideo_);
    WriteLog("CreateOutputPin Video ==> " + MediaErrorText(pr));
    if (pr != GST_PAD_LINK_OK) return false;
    // The stream mapping is the picker's: 0xE1 when present, else the first
    // video stream.
    WriteLog("CpIVideoPIDMap ==> " + MediaErrorText(pr));
    WriteLog("MapStreamId ==> " + MediaErrorText(pr));

    TfilterSlot* d = deint();
    graph().place(graph().sg);
    graph().place(graph().Mpeg2VideoDec);
    graph().Chronix.Remove();
    GstElement* video = mpegVideo_.get();
    GstElement* dec = graph().Mpeg2VideoDec.InGraph() ? graph().Mpeg2VideoDec.Element() : nullptr;
    if (options_.PermettreIncruster) {
        graph().Infinite.Remove();
        graph().place(graph().Lumatex);
        if (dec) linkPins(video, dec);
        if (!graph().Lumatex.InGraph()) return false;
        RenderStream(graph().Graph(), dec ? dec : video, d ? d->Element() : nullptr,
                     graph().Lumatex.Element());
        graph().place(graph().Infinite2);
        graph().rs(graph().Lumatex, nullptr, graph().Infinite2);
        graph().rs(graph().Infinite2, nullptr, graph().sg);
    } else {
        if (dec) linkPins(video, dec);
        RenderStream(graph().Graph(), dec ? dec : video, d ? d->Element() : nullptr,
                     graph().sg.Element());
        graph().place(graph().Infinite2);
        if (PadRef feeder = takeFeeder(graph().sg.Element()))
            graph().rs(feeder.get(), &graph().Infinite2, graph().sg);
    }
    if (graph().rsToWindow(graph().sg, nullptr) == LinkResult::MissingElement) return false;

    pr = createOutputPin(graph().Graph(), dmx, "MpegAudio", "mpegaudioparse", false, mpegAudio_);
    WriteLog("CreateOutputPin Audio ==> " + MediaErrorText(pr));
    if (pr != GST_PAD_LINK_OK) return false;
    WriteLog("pIAudioPIDMap ==> " + MediaErrorText(pr));
    WriteLog("MapStreamID Audio ==> " + MediaErrorText(pr));

    if (options_.EcouterAudioInclus) UpdateIncludedAudio();
    if (options_.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    previewBuilt_ = true;
    ReadFormat();
    return true;
}

// The stream's audio decoded by the MPEG Audio Decoder, which takes every
// MPEG audio layer (the registry's first pick from the caps known before data
// flows may be a decoder of one layer only). Null without an audio output.
GstElement* TpreviewBuilder::MpegAudioDecoded()
{
    GstElement* audio = MpegAudioPin();
    if (!audio) return nullptr;
    graph().place(graph().MpegAudioDec);
    if (!graph().MpegAudioDec.InGraph()) return nullptr;
    PadRef in(gst_element_get_static_pad(graph().MpegAudioDec.Element(), "sink"));
    if (in && !gst_pad_is_linked(in.get()) &&
        linkPins(audio, graph().MpegAudioDec.Element()) != GST_PAD_LINK_OK)
        return nullptr;
    return graph().MpegAudioDec.Element();
}

// The MPEG-2 kinds' part of UpdateIncludedAudio, after its common steps
// (the graph stopped, listening on, no stream-audio tap yet, the audio
// renderer placed).
bool TpreviewBuilder::UpdateIncludedAudioMpeg2()
{
    GstElement* audio = MpegAudioPin();
    if (Source().Kind() == kad::SourceKind::skMovieBoxB) {
        if (!audio || !MpegAudioDecoded()) {
            graph().MpegAudioDec.Remove();
            graph().infinite4.Remove();
            graph().AudioRender.Remove();
            return true;
        }
        graph().place(graph().hdAudio);
        TfilterSlot& end = graph().hdAudio.InGraph() ? graph().hdAudio : graph().AudioRender;
        if (graph().hdAudio.InGraph())
            graph().rs(graph().MpegAudioDec, &graph().hdAudio, graph().AudioRender);
        else
            graph().rs(graph().MpegAudioDec, nullptr, graph().AudioRender);
        if (PadRef feeder = takeFeeder(end.Element())) {
            graph().place(graph().infinite4);
            graph().rs(feeder.get(), &graph().infinite4, end);
        }
        return true;
    }
    if (Source().Kind() != kad::SourceKind::skMpeg2) return false;
    GstElement* decoded = audio ? MpegAudioDecoded() : nullptr;
    if (!decoded || !graph().AudioRender.InGraph()) return false;
    RenderStream(graph().Graph(), decoded, nullptr, graph().AudioRender.Element());
    if (PadRef feeder = takeFeeder(graph().AudioRender.Element())) {
        graph().place(graph().infinite4);
        graph().rs(feeder.get(), &graph().infinite4, graph().AudioRender);
    }
    return true;
}

} // namespace kad
