#include "elements/dv_avi_writer.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "elements/avi_common.h"
#include "elements/avi_file.h"
#include "elements/file_writer.h"
#include "media/dv/dv_frame.h"
#include "media/dv/recording_watch.h"
#include "platform/media/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(kad_dv_avi_writer_debug);
#define GST_CAT_DEFAULT kad_dv_avi_writer_debug

namespace fw = kad::filewriter;
namespace aw = kad::aviwriter;

namespace {

namespace dv = kad::dv;

// The DV system of a frame, read from its first DIF block (header section,
// DSF bit: 0 = 525/60, 1 = 625/50).
struct DvSystem {
    bool pal = false;
    gsize frameBytes = 0;
};

bool readSystem(const guint8* data, gsize size, DvSystem* out)
{
    if (size < dv::kDifBlockSize || !dv::isSection(data, dv::Section::Header)) return false;
    out->pal = dv::headerSaysPal(data);
    out->frameBytes = dv::frameSizeOf(out->pal);
    return true;
}

// The four data bytes of a pack as the little-endian DWORD DVINFO keeps;
// 0xFFFFFFFF (the "no info" pack) for a pack that is absent.
guint32 dvinfoWord(const guint8* pack)
{
    return pack ? GST_READ_UINT32_LE(pack + 1) : 0xFFFFFFFFu;
}

// A pack by its id in the audio DIF blocks (AAUX) of DIF sequences
// [firstSeq, lastSeq), as DVINFO keeps it.
guint32 findAudioPack(const guint8* frame, int firstSeq, int lastSeq, guint8 id)
{
    return dvinfoWord(dv::findAauxPack(frame, firstSeq, lastSeq, id));
}

// Whether an AAUX source pack (as findAudioPack returns it) can describe
// this stream: present, of the stream's own system (the 50/60 bit), at a
// sampling rate and quantisation DV has. Tape noise over the sound blocks
// fails this nearly always.
bool plausibleAudioSource(guint32 pack, bool pal)
{
    if (pack == 0xFFFFFFFFu) return false;
    const guint8 pc3 = guint8(pack >> 16);
    const guint8 pc4 = guint8(pack >> 24);
    return bool(pc3 & 0x20) == pal && ((pc4 >> 3) & 7) <= 2 && (pc4 & 7) <= 2;
}

// The same in the VAUX blocks of the first `sequences` DIF sequences.
guint32 findVideoPack(const guint8* frame, int sequences, guint8 id)
{
    return dvinfoWord(dv::findVauxPack(frame, 0, sequences, id));
}

// One type-1 DV AVI file being written: a single 'iavs' stream whose
// header is made from the first frame (its stream information, read anew at
// the first frame of every file). The caller serialises every call.
class DvAviFile : public kad::AviFile {
public:
    // Appends one whole DV frame. On failure errno says why and the file is
    // left at its last complete frame; call finalise() to close it readable.
    bool writeFrame(const guint8* frame, gsize size)
    {
        if (!begun()) {
            if (!readSystem(frame, size, &system_)) {
                errno = EINVAL;
                return false;
            }
            takeStreamInfo(frame);
            if (!begin(header())) return false;
        } else if (!streamInfoSure_) {
            // The first frame's sound was damaged: the first sound frame
            // describes the stream instead, in place in the header.
            if (takeStreamInfo(frame) && !patchFormat(0, format())) return false;
        }
        return writeChunk(0, frame, size);
    }

private:
    // Reads the DVINFO packs of a frame. True when its AAUX source pack is
    // sound: those packs are kept for good. Otherwise they stand until a
    // frame with a sound one comes.
    bool takeStreamInfo(const guint8* frame)
    {
        const guint32 source = findAudioPack(frame, 0, 1, dv::kPackAudioSource);
        streamInfoSure_ = plausibleAudioSource(source, system_.pal);
        if (!streamInfoSure_ && begun()) return false;
        // The second audio channel starts halfway through the sequences.
        const int half = dv::sequenceCount(system_.frameBytes) / 2;
        dvinfo_[0] = source;
        dvinfo_[1] = findAudioPack(frame, 0, 1, dv::kPackAudioSourceControl);
        dvinfo_[2] = findAudioPack(frame, half, half + 1, dv::kPackAudioSource);
        dvinfo_[3] = findAudioPack(frame, half, half + 1, dv::kPackAudioSourceControl);
        dvinfo_[4] = findVideoPack(frame, 1, dv::kPackVideoSource);
        dvinfo_[5] = findVideoPack(frame, 1, dv::kPackVideoSourceControl);
        return streamInfoSure_;
    }

    std::vector<guint8> format() const
    {
        std::vector<guint8> f(32, 0);
        for (int i = 0; i < 6; ++i)
            GST_WRITE_UINT32_LE(f.data() + 4 * i, dvinfo_[i]);
        return f;
    }

    kad::AviFile::Header header() const
    {
        const guint32 frame = guint32(system_.frameBytes);
        kad::AviFile::Header h;
        h.microSecPerFrame = system_.pal ? 40000 : 33367;
        h.maxBytesPerSec = frame * (system_.pal ? 25 : 30);
        h.suggestedBuffer = frame;
        h.width = 720;
        h.height = system_.pal ? 576 : 480;
        kad::AviFile::Stream st;
        std::memcpy(st.type, "iavs", 5);
        std::memcpy(st.handler, "dvsd", 5);
        std::memcpy(st.chunkId, "00dc", 5);
        st.scale = system_.pal ? 1 : 1001;
        st.rate = system_.pal ? 25 : 30000;
        st.suggestedBuffer = frame;
        st.width = guint16(h.width);
        st.height = guint16(h.height);
        st.format = format();
        h.streams.push_back(std::move(st));
        return h;
    }

    DvSystem system_;
    guint32 dvinfo_[6] = {};
    bool streamInfoSure_ = false;
};

} // namespace

struct _KadDvAviWriter {
    GstBaseSink parent;

    // Guarded by the object lock.
    kad::filewriter::Locations props;
    kad::filewriter::RecordingProps rec;
    guint64 framesWritten;
    guint64 framesRejected;

    // The file and everything below are guarded by fileLock: the streaming
    // thread writes, the syncer thread checkpoints, start/stop open and
    // close. The object lock may be taken inside fileLock, never the other way round.
    GMutex fileLock;
    GCond syncerWake;
    std::unique_ptr<DvAviFile> file;
    std::unique_ptr<aw::Recordings> recordings;
    bool failed;
    // Started and joined by start/stop only.
    kad::filewriter::Syncer syncer;
};

G_DEFINE_TYPE(KadDvAviWriter, kad_dv_avi_writer, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-dv, systemstream = (boolean) true"));

namespace {

// Runs with fileLock held, every sync-interval.
void syncTick(gpointer data)
{
    auto* self = static_cast<KadDvAviWriter*>(data);
    aw::syncTick(GST_ELEMENT(self), *self->file, self->failed, &self->fileLock);
}

} // namespace

static gboolean kad_dv_avi_writer_start(GstBaseSink* sink)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    aw::StartValues start;
    if (!aw::takeStartValues(GST_ELEMENT(self), self->props, self->rec, self->framesWritten,
                             self->framesRejected, start))
        return FALSE;
    const guint64 interval = start.syncInterval;
    g_mutex_lock(&self->fileLock);
    self->failed = false;
    self->syncer.arm(gint64(interval / GST_USECOND));
    *self->recordings = aw::Recordings{};
    self->recordings->numbered = start.location;
    const bool ok = !aw::openFile(GST_ELEMENT(self), *self->file, start.location, start.riffLimit,
                                  interval > 0, false)
                         .empty();
    g_mutex_unlock(&self->fileLock);
    return ok &&
           aw::startSyncer(GST_ELEMENT(self), self->syncer, interval, *self->file, &self->fileLock);
}

static gboolean kad_dv_avi_writer_stop(GstBaseSink* sink)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    self->syncer.stop();
    g_mutex_lock(&self->fileLock);
    aw::finaliseFile(GST_ELEMENT(self), *self->file);
    g_mutex_unlock(&self->fileLock);
    return TRUE;
}

// Finishes the current file and goes on in `next` (with `claim`, see
// aw::openFile), then says so with "kad-file-switched" ("reason": "cut" or
// "recording"). False on failure. Call with fileLock held.
static bool switchTo(KadDvAviWriter* self, const std::string& next, const char* reason, bool claim)
{
    GST_OBJECT_LOCK(self);
    const guint64 limit = self->rec.riffLimit;
    GST_OBJECT_UNLOCK(self);
    const aw::Finished finished = aw::finishFile(GST_ELEMENT(self), *self->file);
    const std::string opened =
        aw::openFile(GST_ELEMENT(self), *self->file, next, limit, self->syncer.period() > 0, claim);
    if (opened.empty()) return false;
    aw::announceSwitch(GST_ELEMENT(self), self->props, self->framesWritten, *self->recordings,
                       finished, opened, reason);
    return true;
}

// Applies a pending next-location: the current file is finished before the
// frame that belongs to the new one. Call with fileLock held.
static bool switchIfAsked(KadDvAviWriter* self)
{
    const kad::GCharPtr next = aw::takeCut(GST_ELEMENT(self), self->props, *self->file);
    return !next || switchTo(self, next.get(), "cut", false);
}

// A new recording begins with this frame: it opens the next file, never
// written over. Call with fileLock held.
static bool splitAtRecording(KadDvAviWriter* self)
{
    const std::string next = aw::takeSplitTarget(GST_ELEMENT(self), self->rec, *self->recordings);
    return next.empty() || switchTo(self, next, "recording", true);
}

static GstFlowReturn kad_dv_avi_writer_render(GstBaseSink* sink, GstBuffer* buffer)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    kad::BufferMap map(buffer, GST_MAP_READ);
    if (!map) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("A DV frame could not be read."),
                          ("gst_buffer_map failed"));
        return GST_FLOW_ERROR;
    }
    g_mutex_lock(&self->fileLock);
    if (self->failed) {
        g_mutex_unlock(&self->fileLock);
        return GST_FLOW_ERROR;
    }
    if (!switchIfAsked(self)) {
        self->failed = true;
        g_mutex_unlock(&self->fileLock);
        return GST_FLOW_ERROR;
    }
    const aw::RecordingChoices choices = aw::readRecordingChoices(GST_ELEMENT(self), self->rec);
    // A buffer carries one or more whole frames; anything else is a damaged
    // frame, skipped without stopping the capture.
    DvSystem sys;
    gsize off = 0;
    guint64 written = 0;
    guint64 rejected = 0;
    GstFlowReturn ret = GST_FLOW_OK;
    while (off < map.size()) {
        if (!readSystem(map.data() + off, map.size() - off, &sys) ||
            map.size() - off < sys.frameBytes) {
            ++rejected;
            break;
        }
        const guint8* frame = map.data() + off;
        // Only a buffer of one frame tells that frame's time.
        const bool single = off == 0 && map.size() == sys.frameBytes;
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        const kad::dv::FrameRecording recording = self->recordings->watch.observe(
            frame, sys.frameBytes,
            single && GST_CLOCK_TIME_IS_VALID(pts) ? std::optional<std::uint64_t>(pts)
                                                   : std::nullopt,
            sys.pal ? GST_SECOND / 25 : GST_SECOND * 1001 / 30000);
        if (recording.split && choices.split && self->file->totalFrames() > 0) {
            if (!splitAtRecording(self)) {
                self->failed = true;
                ret = GST_FLOW_ERROR;
                break;
            }
            // The frames of this buffer before the split went into the
            // finished file; frames-written counts the new one's.
            if (self->file->totalFrames() == 0) written = 0;
        }
        if (!self->file->writeFrame(frame, sys.frameBytes)) {
            const int err = errno;
            fw::postWriteError(GST_ELEMENT(self), err, self->file->path());
            aw::finaliseFile(GST_ELEMENT(self), *self->file);
            self->failed = true;
            ret = GST_FLOW_ERROR;
            break;
        }
        ++written;
        off += sys.frameBytes;
        aw::nameByDate(GST_ELEMENT(self), *self->file, self->props, *self->recordings,
                       choices.dateRoot, recording.recorded);
    }
    const std::optional<aw::Synced> synced = aw::takeSynced(*self->file);
    g_mutex_unlock(&self->fileLock);
    aw::postSynced(GST_ELEMENT(self), synced);
    if (rejected)
        GST_WARNING_OBJECT(self, "skipped a damaged DV buffer of %" G_GSIZE_FORMAT " bytes",
                           map.size());
    GST_OBJECT_LOCK(self);
    self->framesWritten += written;
    self->framesRejected += rejected;
    GST_OBJECT_UNLOCK(self);
    return ret;
}

static gboolean kad_dv_avi_writer_event(GstBaseSink* sink, GstEvent* event)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        g_mutex_lock(&self->fileLock);
        aw::finaliseFile(GST_ELEMENT(self), *self->file);
        g_mutex_unlock(&self->fileLock);
    }
    return GST_BASE_SINK_CLASS(kad_dv_avi_writer_parent_class)->event(sink, event);
}

static void kad_dv_avi_writer_finalize(GObject* object)
{
    auto* self = KAD_DV_AVI_WRITER(object);
    self->syncer.stop();
    aw::finaliseFile(GST_ELEMENT(self), *self->file);
    std::destroy_at(&self->file);
    std::destroy_at(&self->recordings);
    std::destroy_at(&self->syncer);
    g_mutex_clear(&self->fileLock);
    g_cond_clear(&self->syncerWake);
    aw::clearProperties(self->props, self->rec);
    G_OBJECT_CLASS(kad_dv_avi_writer_parent_class)->finalize(object);
}

static void kad_dv_avi_writer_class_init(KadDvAviWriterClass* klass)
{
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "DV type-1 AVI writer", "Sink/File",
                                          "Writes interleaved DV as a type-1 DV AVI file",
                                          "Kadrillo");
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    auto* base = GST_BASE_SINK_CLASS(klass);
    base->start = kad_dv_avi_writer_start;
    base->stop = kad_dv_avi_writer_stop;
    base->render = kad_dv_avi_writer_render;
    base->event = kad_dv_avi_writer_event;

    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->finalize = kad_dv_avi_writer_finalize;
    aw::installPropertiesOf<KadDvAviWriter, &KadDvAviWriter::framesRejected>(
        gobject,
        {
            .location = "The type-1 DV AVI file to write",
            .nextLocation = "File to continue into before the next frame (cut without loss)",
            .syncInterval =
                "Longest time in nanoseconds before written frames are indexed on disk and synced "
                "(0 = only when the file is finished, without syncing)",
            .splitRecordings =
                "Continue into a new file at the first frame of each new recording on the tape "
                "(a jump of the recording clock or a recording start)",
            .dateNameRoot = "When set, each file is renamed <root>_YYYY.MM.DD_HH-MM-SS plus its "
                            "extension at its first frame with a recording date (\"_2\", \"_3\" "
                            "when taken; never replacing a file)",
            .framesWritten = "Frames written to the current file",
            .ownCount = {"frames-rejected", "Frames rejected",
                         "Damaged or partial DV buffers that were skipped"},
        });
}

static void kad_dv_avi_writer_init(KadDvAviWriter* self)
{
    aw::initProperties(self->props, self->rec);
    g_mutex_init(&self->fileLock);
    g_cond_init(&self->syncerWake);
    std::construct_at(&self->syncer);
    self->syncer.bind(&self->fileLock, &self->syncerWake, syncTick, self);
    std::construct_at(&self->file, std::make_unique<DvAviFile>());
    std::construct_at(&self->recordings, std::make_unique<aw::Recordings>());
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}

gboolean kad_dv_avi_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_dv_avi_writer_debug, "kaddvaviwriter", 0,
                            "Kadrillo type-1 DV AVI writer");
    return gst_element_register(plugin, "kaddvaviwriter", GST_RANK_NONE, KAD_TYPE_DV_AVI_WRITER);
}
