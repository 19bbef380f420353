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

#include "graph/capture_state.h"

#include "platform/media/media_platform.h"
#include "system/log.h"

#include <mutex>
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

} // namespace

GstElement* TdmCam::MpegVideoPin() const
{
    if (!capture_ || !inGraph(capture_->videoPin.get(), Graph())) return nullptr;
    return capture_->videoPin.get();
}

GstElement* TdmCam::MpegAudioPin() const
{
    if (!capture_ || !inGraph(capture_->audioPin.get(), Graph())) return nullptr;
    return capture_->audioPin.get();
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

bool TdmCam::BuildPreviewMovieBoxB()
{
    if (Source().Kind() != kad::SourceKind::skMovieBoxB || !Source().Pin()) return false;
    WriteLog("try to build the previewgraph of MovieBox_B");
    PreviewBuilt = false;
    FreeAllFilters();
    place(Smarttee);
    place(NullRenderer);
    if (rs(Source().Pin().get(), &Smarttee, NullRenderer) == LinkResult::MissingElement)
        return false;
    place(demux);
    if (rs(Smarttee, nullptr, demux) == LinkResult::MissingElement) return false;
    TcaptureState& s = cap();
    if (createOutputPin(Graph(), demux.Element(), "MpegVideo", "mpegvideoparse", true,
                        s.videoPin) != GST_PAD_LINK_OK ||
        createOutputPin(Graph(), demux.Element(), "MpegAudio", "mpegaudioparse", false,
                        s.audioPin) != GST_PAD_LINK_OK)
        return false;
    TfilterSlot* d = deint();
    place(sg);
    place(Mpeg2VideoDec);
    Chronix.Remove();
    GstElement* video = s.videoPin.get();
    if (Options.PermettreIncruster) {
        Infinite.Remove();
        place(Lumatex);
        place(Infinite2);
        GstElement* dec = Mpeg2VideoDec.InGraph() ? Mpeg2VideoDec.Element() : nullptr;
        if (dec) linkPins(video, dec);
        if (!Lumatex.InGraph() ||
            RenderStream(Graph(), dec ? dec : video, d ? d->Element() : nullptr,
                         Lumatex.Element()) == LinkResult::MissingElement)
            return false;
        rs(Lumatex, nullptr, Infinite2);
        rs(Infinite2, nullptr, sg);
    } else {
        if (Mpeg2VideoDec.InGraph()) {
            linkPins(video, Mpeg2VideoDec.Element());
            RenderStream(Graph(), Mpeg2VideoDec.Element(), d ? d->Element() : nullptr,
                         sg.Element());
        } else {
            RenderStream(Graph(), video, d ? d->Element() : nullptr, sg.Element());
        }
        place(Infinite2);
        PadRef feeder = takeFeeder(sg.Element());
        if (feeder) rs(feeder.get(), &Infinite2, sg);
    }
    place(hdVideo);
    if (rsToWindow(sg, hdVideo.Bound() ? &hdVideo : nullptr) == LinkResult::MissingElement)
        return false;
    if (Options.EcouterAudioInclus) UpdateIncludedAudio();
    if (Options.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    PreviewBuilt = true;
    WriteLog("building of the previewgraph of MovieBox_B has succeeded");
    ReadFormat();
    return true;
}

bool TdmCam::BuildPreviewMpeg2()
{
    WriteLog("Start of BuildPreview in mpeg2");
    if (Source().Kind() != kad::SourceKind::skMpeg2 || !Source().Pin()) return false;
    struct EndLine {
        ~EndLine() { WriteLog("End of BuildPreview en MPEG2"); }
    } endLine;

    PreviewBuilt = false;
    FreeAllFilters();
    WriteLog("FreeAllFilters passed");
    place(Smarttee);
    place(NullRenderer);
    LinkResult r = rs(Source().Pin().get(), &Smarttee, NullRenderer);
    WriteLog("cg.RenderStream smarttee ==> " + LinkResultText(r));

    // FindPin: the Smart Tee's free output of the stream, its preview.
    PadRef p(Smarttee.InGraph() ? gst_element_get_static_pad(Smarttee.Element(), "preview")
                                : nullptr);
    if (p && gst_pad_is_linked(p.get())) p.reset();
    WriteLog("cg.FindPin ==> " +
             (p ? MediaErrorText(GST_PAD_LINK_OK) : LinkResultText(LinkResult::NoFreeSourcePad)));
    place(demux);
    r = p ? rs(p.get(), nullptr, demux) : LinkResult::NoFreeSourcePad;
    WriteLog("cg.Renderstream demux ==> " + LinkResultText(r));
    p.reset();
    if (!Succeeded(r)) return false;
    GstElement* dmx = demux.Element();
    if (!dmx || !g_signal_lookup("pad-added", G_OBJECT_TYPE(dmx))) {
        WriteLogSection("not assigned(pIMpeg2Demux)");
        return false;
    }
    TcaptureState& s = cap();
    GstPadLinkReturn pr =
        createOutputPin(Graph(), dmx, "MpegVideo", "mpegvideoparse", true, s.videoPin);
    WriteLog("CreateOutputPin Video ==> " + MediaErrorText(pr));
    if (pr != GST_PAD_LINK_OK) return false;
    // The stream mapping is the picker's: 0xE1 when present, else the first
    // video stream.
    WriteLog("CpIVideoPIDMap ==> " + MediaErrorText(pr));
    WriteLog("MapStreamId ==> " + MediaErrorText(pr));

    TfilterSlot* d = deint();
    place(sg);
    place(Mpeg2VideoDec);
    Chronix.Remove();
    GstElement* video = s.videoPin.get();
    GstElement* dec = Mpeg2VideoDec.InGraph() ? Mpeg2VideoDec.Element() : nullptr;
    if (Options.PermettreIncruster) {
        Infinite.Remove();
        place(Lumatex);
        if (dec) linkPins(video, dec);
        if (!Lumatex.InGraph()) return false;
        RenderStream(Graph(), dec ? dec : video, d ? d->Element() : nullptr, Lumatex.Element());
        place(Infinite2);
        rs(Lumatex, nullptr, Infinite2);
        rs(Infinite2, nullptr, sg);
    } else {
        if (dec) linkPins(video, dec);
        RenderStream(Graph(), dec ? dec : video, d ? d->Element() : nullptr, sg.Element());
        place(Infinite2);
        if (PadRef feeder = takeFeeder(sg.Element())) rs(feeder.get(), &Infinite2, sg);
    }
    if (rsToWindow(sg, nullptr) == LinkResult::MissingElement) return false;

    pr = createOutputPin(Graph(), dmx, "MpegAudio", "mpegaudioparse", false, s.audioPin);
    WriteLog("CreateOutputPin Audio ==> " + MediaErrorText(pr));
    if (pr != GST_PAD_LINK_OK) return false;
    WriteLog("pIAudioPIDMap ==> " + MediaErrorText(pr));
    WriteLog("MapStreamID Audio ==> " + MediaErrorText(pr));

    if (Options.EcouterAudioInclus) UpdateIncludedAudio();
    if (Options.EnregistrerSourceAudio) UpdateAudioSourceBranch();
    PreviewBuilt = true;
    ReadFormat();
    return true;
}

// The stream's audio decoded by the MPEG Audio Decoder, which takes every
// MPEG audio layer (the registry's first pick from the caps known before data
// flows may be a decoder of one layer only). Null without an audio output.
GstElement* TdmCam::MpegAudioDecoded()
{
    GstElement* audio = MpegAudioPin();
    if (!audio) return nullptr;
    place(MpegAudioDec);
    if (!MpegAudioDec.InGraph()) return nullptr;
    PadRef in(gst_element_get_static_pad(MpegAudioDec.Element(), "sink"));
    if (in && !gst_pad_is_linked(in.get()) &&
        linkPins(audio, MpegAudioDec.Element()) != GST_PAD_LINK_OK)
        return nullptr;
    return MpegAudioDec.Element();
}

// The MPEG-2 kinds' part of UpdateIncludedAudio, after its common steps
// (the graph stopped, listening on, no stream-audio tap yet, the audio
// renderer placed).
bool TdmCam::UpdateIncludedAudioMpeg2()
{
    GstElement* audio = MpegAudioPin();
    if (Source().Kind() == kad::SourceKind::skMovieBoxB) {
        if (!audio || !MpegAudioDecoded()) {
            MpegAudioDec.Remove();
            infinite4.Remove();
            AudioRender.Remove();
            return true;
        }
        place(hdAudio);
        TfilterSlot& end = hdAudio.InGraph() ? hdAudio : AudioRender;
        if (hdAudio.InGraph())
            rs(MpegAudioDec, &hdAudio, AudioRender);
        else
            rs(MpegAudioDec, nullptr, AudioRender);
        if (PadRef feeder = takeFeeder(end.Element())) {
            place(infinite4);
            rs(feeder.get(), &infinite4, end);
        }
        return true;
    }
    if (Source().Kind() != kad::SourceKind::skMpeg2) return false;
    GstElement* decoded = audio ? MpegAudioDecoded() : nullptr;
    if (!decoded || !AudioRender.InGraph()) return false;
    RenderStream(Graph(), decoded, nullptr, AudioRender.Element());
    if (PadRef feeder = takeFeeder(AudioRender.Element())) {
        place(infinite4);
        rs(feeder.get(), &infinite4, AudioRender);
    }
    return true;
}

} // namespace kad
