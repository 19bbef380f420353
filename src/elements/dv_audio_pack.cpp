#include "elements/dv_audio_pack.h"

#include "media/dv/dv_frame.h"

#include <cstring>
#include <memory>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(kad_dv_audio_pack_debug);
#define GST_CAT_DEFAULT kad_dv_audio_pack_debug

namespace {

namespace dv = kad::dv;

// Smallest sample count per frame of each system and frequency; the AAUX
// source pack stores the count as an offset from it.
int minimumSamples(bool pal, int rate)
{
    switch (rate) {
    case 48000:
        return pal ? 1896 : 1580;
    case 44100:
        return pal ? 1742 : 1452;
    default:
        return pal ? 1264 : 1053;
    }
}

int frequencyCode(int rate)
{
    return rate == 48000 ? 0 : rate == 44100 ? 1 : 2;
}

// The audio DIF block `a` (0..8) of sequence `s`.
std::uint8_t* audioBlock(std::uint8_t* frame, int s, int a)
{
    return frame + dv::audioBlockOffset(s, a);
}

} // namespace

namespace kad {

int DvAudioSamplesForFrame(bool pal, int rate, std::uint64_t index)
{
    // Locked audio: the count follows the exact frame rate.
    const std::uint64_t num = pal ? 25 : 30000;
    const std::uint64_t den = pal ? 1 : 1001;
    const std::uint64_t r = std::uint64_t(rate);
    return int((index + 1) * r * den / num - index * r * den / num);
}

bool PackDvAudio(std::uint8_t* frame, std::size_t frameBytes, int rate, const std::int16_t* pcm,
                 int count)
{
    const int sequences = dv::sequenceCount(frameBytes);
    if (sequences == 0) return false;
    if (rate != 32000 && rate != 44100 && rate != 48000) return false;
    const bool pal = frameBytes == dv::kFrameSizePal;
    const int half = sequences / 2;
    // 16-bit samples: each audio block carries 36 of one channel.
    const int capacity = dv::kAudioBlocks * half * int(dv::kAudioSamplesSize / 2);
    const int minimum = minimumSamples(pal, rate);
    if (count < minimum || count > minimum + 63 || count > capacity) return false;

    for (int s = 0; s < sequences; ++s) {
        const bool secondChannel = s >= half;
        const int first = dv::aauxSourceBlock(s);
        for (int a = 0; a < dv::kAudioBlocks; ++a) {
            std::uint8_t* block = audioBlock(frame, s, a);
            std::uint8_t* pack = block + dv::kBlockIdSize;
            std::memset(pack, 0xFF, dv::kPackSize);
            std::memset(block + dv::kAudioSamplesAt, 0, dv::kAudioSamplesSize);
            switch (a - first) {
            case 0: // AAUX source
                pack[0] = dv::kPackAudioSource;
                pack[1] = std::uint8_t(0xC0 | (count - minimum));
                pack[2] = secondChannel ? 0x01 : 0x00;
                pack[3] = std::uint8_t(0xC0 | (pal ? 0x20 : 0x00));
                pack[4] = std::uint8_t(0x80 | (frequencyCode(rate) << 3));
                break;
            case 1: // AAUX source control: copy free, digital input, original
                pack[0] = dv::kPackAudioSourceControl;
                pack[1] = 0x1C;
                pack[2] = 0xCF;
                pack[3] = pal ? 0xA0 : 0xF8;
                pack[4] = 0xFF;
                break;
            case 2: // recording date and time: no information
                pack[0] = dv::kPackAudioRecDate;
                break;
            case 3:
                pack[0] = dv::kPackAudioRecTime;
                break;
            default:
                break;
            }
        }
    }
    // IEC 61834 shuffle of 16-bit samples: sample n of a channel goes to
    // sequence ((n / 3) + 2 (n mod 3)) mod H of its half, audio block
    // 3 (n mod 3) + (n mod 9H) / 3H, position n / 9H (big-endian).
    for (int ch = 0; ch < 2; ++ch) {
        for (int n = 0; n < count; ++n) {
            const int s = ((n / 3) + 2 * (n % 3)) % half + ch * half;
            const int a = 3 * (n % 3) + (n % (9 * half)) / (3 * half);
            const int pos = n / (9 * half);
            int v = pcm[2 * n + ch];
            if (v == -32768) v = -32767; // 0x8000 is the error code
            std::uint8_t* out = audioBlock(frame, s, a) + dv::kAudioSamplesAt + 2 * pos;
            out[0] = std::uint8_t((v >> 8) & 0xFF);
            out[1] = std::uint8_t(v & 0xFF);
        }
    }
    return true;
}

} // namespace kad

struct _KadDvAudioPack {
    GstAggregator parent;

    GstAggregatorPad* video; // owned by the element
    GstAggregatorPad* audio;

    // Guarded by the object lock.
    int rate;

    // Aggregate thread only.
    std::unique_ptr<std::vector<std::int16_t>> pending; // interleaved stereo samples
    guint64 frames;
    bool capsSent;
};

G_DEFINE_TYPE(KadDvAudioPack, kad_dv_audio_pack, GST_TYPE_AGGREGATOR)

static GstStaticPadTemplate videoTemplate =
    GST_STATIC_PAD_TEMPLATE("video", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-dv"));
static GstStaticPadTemplate audioTemplate = GST_STATIC_PAD_TEMPLATE(
    "audio", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, "
                    "channels = (int) 2, rate = (int) { 32000, 44100, 48000 }"));
static GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-dv, systemstream = (boolean) true"));

static gboolean kad_dv_audio_pack_sink_event(GstAggregator* agg, GstAggregatorPad* pad,
                                             GstEvent* event)
{
    auto* self = KAD_DV_AUDIO_PACK(agg);
    if (pad == self->audio && GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        int rate = 0;
        if (gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate)) {
            GST_OBJECT_LOCK(self);
            self->rate = rate;
            GST_OBJECT_UNLOCK(self);
        }
    }
    return GST_AGGREGATOR_CLASS(kad_dv_audio_pack_parent_class)->sink_event(agg, pad, event);
}

// Moves the audio pad's queued buffers into the pending samples until
// `needed` samples are there; false while more are expected.
static bool gatherAudio(KadDvAudioPack* self, std::size_t needed)
{
    while (self->pending->size() / 2 < needed) {
        GstBuffer* buf = gst_aggregator_pad_pop_buffer(self->audio);
        if (!buf) return gst_aggregator_pad_is_eos(self->audio);
        GstMapInfo map;
        if (gst_buffer_map(buf, &map, GST_MAP_READ)) {
            const auto* s = reinterpret_cast<const std::int16_t*>(map.data);
            self->pending->insert(self->pending->end(), s, s + map.size / 2);
            gst_buffer_unmap(buf, &map);
        }
        gst_buffer_unref(buf);
    }
    return true;
}

static GstFlowReturn kad_dv_audio_pack_aggregate(GstAggregator* agg, gboolean timeout)
{
    (void)timeout;
    auto* self = KAD_DV_AUDIO_PACK(agg);
    GstBuffer* video = gst_aggregator_pad_peek_buffer(self->video);
    if (!video) return gst_aggregator_pad_is_eos(self->video) ? GST_FLOW_EOS : GST_FLOW_OK;
    const gsize size = gst_buffer_get_size(video);
    const bool pal = size == dv::kFrameSizePal;
    if (!dv::isDvFrameSize(size)) {
        GST_WARNING_OBJECT(self, "skipping a DV buffer of %" G_GSIZE_FORMAT " bytes", size);
        gst_buffer_unref(video);
        gst_aggregator_pad_drop_buffer(self->video);
        return GST_FLOW_OK;
    }
    GST_OBJECT_LOCK(self);
    const int rate = self->rate;
    GST_OBJECT_UNLOCK(self);
    const bool haveAudio = rate != 0;
    const int count = kad::DvAudioSamplesForFrame(pal, haveAudio ? rate : 48000, self->frames);
    if (haveAudio && !gatherAudio(self, std::size_t(count))) {
        gst_buffer_unref(video);
        return GST_FLOW_OK; // wait for the next audio buffer
    }
    self->pending->resize(std::max(self->pending->size(), std::size_t(count) * 2), 0);

    GstBuffer* out = gst_buffer_copy_deep(video);
    gst_buffer_unref(video);
    gst_aggregator_pad_drop_buffer(self->video);
    GstMapInfo map;
    if (!gst_buffer_map(out, &map, GST_MAP_READWRITE)) {
        gst_buffer_unref(out);
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("A DV frame could not be written."),
                          ("gst_buffer_map failed"));
        return GST_FLOW_ERROR;
    }
    kad::PackDvAudio(map.data, map.size, haveAudio ? rate : 48000, self->pending->data(), count);
    gst_buffer_unmap(out, &map);
    self->pending->erase(self->pending->begin(), self->pending->begin() + 2 * count);
    ++self->frames;

    if (!self->capsSent) {
        GstCaps* caps =
            gst_caps_new_simple("video/x-dv", "systemstream", G_TYPE_BOOLEAN, TRUE, "width",
                                G_TYPE_INT, 720, "height", G_TYPE_INT, pal ? 576 : 480, "framerate",
                                GST_TYPE_FRACTION, pal ? 25 : 30000, pal ? 1 : 1001, nullptr);
        gst_aggregator_set_src_caps(agg, caps);
        gst_caps_unref(caps);
        self->capsSent = true;
    }
    return gst_aggregator_finish_buffer(agg, out);
}

static gboolean kad_dv_audio_pack_start(GstAggregator* agg)
{
    auto* self = KAD_DV_AUDIO_PACK(agg);
    self->pending->clear();
    self->frames = 0;
    self->capsSent = false;
    return TRUE;
}

static void kad_dv_audio_pack_finalize(GObject* object)
{
    auto* self = KAD_DV_AUDIO_PACK(object);
    std::destroy_at(&self->pending);
    G_OBJECT_CLASS(kad_dv_audio_pack_parent_class)->finalize(object);
}

static void kad_dv_audio_pack_class_init(KadDvAudioPackClass* klass)
{
    auto* gobject = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* agg = GST_AGGREGATOR_CLASS(klass);
    gobject->finalize = kad_dv_audio_pack_finalize;
    gst_element_class_set_static_metadata(element, "DV audio packer", "Codec/Muxer/Video",
                                          "Packs PCM audio into the audio blocks of DV frames",
                                          "Kadrillo");
    gst_element_class_add_static_pad_template_with_gtype(element, &videoTemplate,
                                                         GST_TYPE_AGGREGATOR_PAD);
    gst_element_class_add_static_pad_template_with_gtype(element, &audioTemplate,
                                                         GST_TYPE_AGGREGATOR_PAD);
    gst_element_class_add_static_pad_template_with_gtype(element, &srcTemplate,
                                                         GST_TYPE_AGGREGATOR_PAD);
    agg->aggregate = kad_dv_audio_pack_aggregate;
    agg->sink_event = kad_dv_audio_pack_sink_event;
    agg->start = kad_dv_audio_pack_start;
}

static void kad_dv_audio_pack_init(KadDvAudioPack* self)
{
    auto* klass = GST_ELEMENT_GET_CLASS(self);
    self->video = GST_AGGREGATOR_PAD(
        g_object_new(GST_TYPE_AGGREGATOR_PAD, "name", "video", "direction", GST_PAD_SINK,
                     "template", gst_element_class_get_pad_template(klass, "video"), nullptr));
    gst_element_add_pad(GST_ELEMENT(self), GST_PAD(self->video));
    self->audio = GST_AGGREGATOR_PAD(
        g_object_new(GST_TYPE_AGGREGATOR_PAD, "name", "audio", "direction", GST_PAD_SINK,
                     "template", gst_element_class_get_pad_template(klass, "audio"), nullptr));
    gst_element_add_pad(GST_ELEMENT(self), GST_PAD(self->audio));
    std::construct_at(&self->pending, std::make_unique<std::vector<std::int16_t>>());
}

gboolean kad_dv_audio_pack_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_dv_audio_pack_debug, "kaddvaudiopack", 0,
                            "Kadrillo DV audio packer");
    return gst_element_register(plugin, "kaddvaudiopack", GST_RANK_NONE, KAD_TYPE_DV_AUDIO_PACK);
}
