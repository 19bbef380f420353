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

#include "elements/avi_file.h"
#include "elements/file_writer.h"
#include "elements/recording_files.h"
#include "media/dv/dv_frame.h"
#include "media/dv/recording_watch.h"
#include "platform/media/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(kad_dv_avi_writer_debug);
#define GST_CAT_DEFAULT kad_dv_avi_writer_debug

namespace fw = kad::filewriter;

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
// header is made from the first frame. The caller serialises every call.
class DvAviFile {
public:
    bool open(const std::string& path, guint64 riffLimit, bool durable, bool exclusive)
    {
        streamInfoSure_ = false;
        return file_.open(path, riffLimit, durable, exclusive);
    }

    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return file_.path(); }
    void renamed(const std::string& path) { file_.renamed(path); }
    guint64 totalFrames() const { return file_.totalFrames(); }
    guint64 framesOnDisk() const { return file_.framesOnDisk(); }
    bool takePublished() { return file_.takePublished(); }
    bool checkpoint() { return file_.checkpoint(); }
    bool finalise() { return file_.finalise(); }

    // Appends one whole DV frame. On failure errno says why and the file is
    // left at its last complete frame; call finalise() to close it readable.
    bool writeFrame(const guint8* frame, gsize size)
    {
        if (!file_.begun()) {
            if (!readSystem(frame, size, &system_)) {
                errno = EINVAL;
                return false;
            }
            takeStreamInfo(frame);
            if (!file_.begin(header())) return false;
        } else if (!streamInfoSure_) {
            // The first frame's sound was damaged: the first sound frame
            // describes the stream instead, in place in the header.
            if (takeStreamInfo(frame) && !file_.patchFormat(0, format())) return false;
        }
        return file_.writeChunk(0, frame, size);
    }

private:
    // Reads the DVINFO packs of a frame. True when its AAUX source pack is
    // sound: those packs are kept for good. Otherwise they stand until a
    // frame with a sound one comes.
    bool takeStreamInfo(const guint8* frame)
    {
        const guint32 source = findAudioPack(frame, 0, 1, dv::kPackAudioSource);
        streamInfoSure_ = plausibleAudioSource(source, system_.pal);
        if (!streamInfoSure_ && file_.begun()) return false;
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

    kad::AviFile file_;
    DvSystem system_;
    guint32 dvinfo_[6] = {};
    bool streamInfoSure_ = false;
};

// The recordings of the tape as the frames pass, for the cut at each new
// recording and the names by recording date.
struct Recordings {
    kad::dv::RecordingWatch watch;
    // The current file was named after its recording date (or tried to be).
    bool fileDated = false;
    // The last numbered name written to: a cut without a name given follows
    // on from it.
    std::string numbered;
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
    std::unique_ptr<Recordings> recordings;
    bool failed;
    // Started and joined by start/stop only.
    kad::filewriter::Syncer syncer;
};

enum {
    PROP_0,
    PROP_LOCATION,
    PROP_NEXT_LOCATION,
    PROP_RIFF_LIMIT,
    PROP_SYNC_INTERVAL,
    PROP_FRAMES_WRITTEN,
    PROP_FRAMES_REJECTED,
    PROP_SPLIT_RECORDINGS,
    PROP_SPLIT_LOCATION,
    PROP_DATE_NAME_ROOT,
};

constexpr kad::filewriter::PropertyIds kPropertyIds{PROP_LOCATION, PROP_NEXT_LOCATION,
                                                    PROP_SYNC_INTERVAL};
constexpr kad::filewriter::RecordingPropertyIds kRecordingIds{
    PROP_RIFF_LIMIT, PROP_SPLIT_RECORDINGS, PROP_SPLIT_LOCATION, PROP_DATE_NAME_ROOT};

G_DEFINE_TYPE(KadDvAviWriter, kad_dv_avi_writer, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-dv, systemstream = (boolean) true"));

namespace {

// What a checkpoint reached, posted once fileLock is released.
struct Synced {
    std::string path;
    guint64 frames = 0;
};

// Takes note of a checkpoint that reached the disk. Call with fileLock held.
std::optional<Synced> takeSynced(KadDvAviWriter* self)
{
    if (!self->file->takePublished()) return std::nullopt;
    return Synced{self->file->path(), self->file->framesOnDisk()};
}

void postSynced(KadDvAviWriter* self, const std::optional<Synced>& synced)
{
    if (synced) fw::postSynced(GST_ELEMENT(self), synced->path, "frames", synced->frames);
}

// Finalises the open file; posts a warning (never an error: the data already
// written stays) when the indexes could not all be written. Call with
// fileLock held.
void finaliseFile(KadDvAviWriter* self)
{
    if (!self->file || !self->file->isOpen()) return;
    const std::string path = self->file->path();
    if (!self->file->finalise()) {
        fw::warnFinaliseFailed(GST_ELEMENT(self), path, errno);
    }
    self->file->takePublished();
}

// Opens `path` for writing. With `claim` an existing file is never
// truncated: a name taken since it was chosen passes to the next free
// number. The name opened, or empty once the error is posted.
std::string openFile(KadDvAviWriter* self, const std::string& path, guint64 limit, bool durable,
                     bool claim)
{
    std::string opened;
    if (claim) {
        opened = kad::dv::openUnderFreeName(path, [&](const std::string& name) {
            return self->file->open(name, limit, durable, true);
        });
    } else if (self->file->open(path, limit, durable, false)) {
        opened = path;
    }
    if (opened.empty()) fw::postOpenError(GST_ELEMENT(self), path, errno);
    return opened;
}

// Brings the open file's indexes to disk every sync-interval, whether frames
// flow or not: a tape that stops must not leave the frames before it
// unindexed until the next one comes. Runs with fileLock held.
void syncTick(gpointer data)
{
    auto* self = static_cast<KadDvAviWriter*>(data);
    if (self->failed) return;
    if (!self->file->checkpoint()) {
        // Reported now, not at the next frame: the source may have
        // stopped. The streaming thread refuses what comes next.
        fw::postWriteError(GST_ELEMENT(self), errno ? errno : EIO, self->file->path());
        self->failed = true;
        return;
    }
    const std::optional<Synced> synced = takeSynced(self);
    g_mutex_unlock(&self->fileLock);
    postSynced(self, synced);
    g_mutex_lock(&self->fileLock);
}

} // namespace

static void kad_dv_avi_writer_set_property(GObject* object, guint id, const GValue* value,
                                           GParamSpec* pspec)
{
    auto* self = KAD_DV_AVI_WRITER(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    default:
        if (!fw::setProperty(GST_ELEMENT(self), self->props, kPropertyIds, id, value) &&
            !fw::setRecordingProperty(self->rec, kRecordingIds, id, value))
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void kad_dv_avi_writer_get_property(GObject* object, guint id, GValue* value,
                                           GParamSpec* pspec)
{
    auto* self = KAD_DV_AVI_WRITER(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_FRAMES_WRITTEN:
        g_value_set_uint64(value, self->framesWritten);
        break;
    case PROP_FRAMES_REJECTED:
        g_value_set_uint64(value, self->framesRejected);
        break;
    default:
        if (!fw::getProperty(self->props, kPropertyIds, id, value) &&
            !fw::getRecordingProperty(self->rec, kRecordingIds, id, value))
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static gboolean kad_dv_avi_writer_start(GstBaseSink* sink)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    fw::StartValues start;
    const bool named = fw::takeStartValues(GST_ELEMENT(self), self->props, start);
    GST_OBJECT_LOCK(self);
    const guint64 limit = self->rec.riffLimit;
    self->framesWritten = 0;
    self->framesRejected = 0;
    GST_OBJECT_UNLOCK(self);
    if (!named) return FALSE;
    const guint64 interval = start.syncInterval;
    g_mutex_lock(&self->fileLock);
    self->failed = false;
    self->syncer.arm(gint64(interval / GST_USECOND));
    *self->recordings = Recordings{};
    self->recordings->numbered = start.location;
    const bool ok = !openFile(self, start.location, limit, interval > 0, false).empty();
    g_mutex_unlock(&self->fileLock);
    if (!ok || interval == 0) return ok;
    if (!self->syncer.start(GST_ELEMENT(self), "kadavisync")) {
        g_mutex_lock(&self->fileLock);
        finaliseFile(self);
        g_mutex_unlock(&self->fileLock);
        return FALSE;
    }
    return TRUE;
}

static gboolean kad_dv_avi_writer_stop(GstBaseSink* sink)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    self->syncer.stop();
    g_mutex_lock(&self->fileLock);
    finaliseFile(self);
    g_mutex_unlock(&self->fileLock);
    return TRUE;
}

// Finishes the current file and goes on in `next` (with `claim`, see
// openFile), then says so with "kad-file-switched" ("reason": "cut" or
// "recording"). The name opened, or empty on failure. Call with fileLock
// held.
static std::string switchTo(KadDvAviWriter* self, const std::string& next, const char* reason,
                            bool claim)
{
    GST_OBJECT_LOCK(self);
    const guint64 limit = self->rec.riffLimit;
    GST_OBJECT_UNLOCK(self);
    const std::string old = self->file->path();
    const guint64 frames = self->file->totalFrames();
    finaliseFile(self);
    const std::string opened = openFile(self, next, limit, self->syncer.period() > 0, claim);
    if (opened.empty()) return {};
    self->recordings->fileDated = false;
    GST_OBJECT_LOCK(self);
    g_free(self->props.location);
    self->props.location = g_strdup(opened.c_str());
    self->framesWritten = 0;
    GST_OBJECT_UNLOCK(self);
    fw::postSwitched(GST_ELEMENT(self), old, opened, "frames", frames, reason);
    return opened;
}

// Applies a pending next-location: the current file is finished before the
// frame that belongs to the new one. The file being written is never its
// own next file: opening it again would empty it. A file without a frame
// has no header yet and would be finished empty and unreadable, so the cut
// stays pending until the file holds one. Call with fileLock held.
static bool switchIfAsked(KadDvAviWriter* self)
{
    if (self->file->totalFrames() == 0) return true;
    kad::GCharPtr next(fw::takeNextLocation(GST_ELEMENT(self), self->props));
    if (!next) return true;
    if (next.get() == self->file->path()) {
        fw::warnSameFile(GST_ELEMENT(self), next.get());
        return true;
    }
    const std::string opened = switchTo(self, next.get(), "cut", false);
    if (opened.empty()) return false;
    self->recordings->numbered = opened;
    return true;
}

// A new recording begins with this frame: it opens the next file. The name
// given in split-location is taken (and cleared), else the number after the
// last numbered name; a name whose file exists is passed over, never
// written over. Call with fileLock held.
static bool splitAtRecording(KadDvAviWriter* self)
{
    GST_OBJECT_LOCK(self);
    gchar* given = std::exchange(self->rec.splitLocation, nullptr);
    GST_OBJECT_UNLOCK(self);
    const std::string next = kad::dv::splitTarget(given ? given : "", self->recordings->numbered);
    g_free(given);
    if (next.empty()) {
        fw::warnNoFreeName(GST_ELEMENT(self), self->recordings->numbered);
        return true;
    }
    const std::string opened = switchTo(self, next, "recording", true);
    if (opened.empty()) return false;
    self->recordings->numbered = opened;
    return true;
}

// Renames the current file after the recording date of its first frame that
// tells one. A failed rename leaves the file under its name. Call with
// fileLock held.
static void nameByDate(KadDvAviWriter* self, const std::string& root,
                       const kad::dv::RecordingDateTime& when)
{
    self->recordings->fileDated = true;
    const std::string old = self->file->path();
    const std::optional<std::string> renamed = kad::dv::renameByRecordingDate(old, root, when);
    if (!renamed) {
        fw::warnRenameFailed(GST_ELEMENT(self), old, errno);
        return;
    }
    if (*renamed == old) return;
    self->file->renamed(*renamed);
    fw::setLocation(GST_ELEMENT(self), self->props, *renamed);
    fw::postRenamed(GST_ELEMENT(self), old, *renamed);
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
    GST_OBJECT_LOCK(self);
    const bool splitRecordings = self->rec.splitRecordings;
    const std::string dateRoot = self->rec.dateNameRoot ? self->rec.dateNameRoot : "";
    GST_OBJECT_UNLOCK(self);
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
        if (recording.split && splitRecordings && self->file->totalFrames() > 0) {
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
            finaliseFile(self);
            self->failed = true;
            ret = GST_FLOW_ERROR;
            break;
        }
        ++written;
        off += sys.frameBytes;
        if (!dateRoot.empty() && !self->recordings->fileDated && recording.recorded)
            nameByDate(self, dateRoot, *recording.recorded);
    }
    const std::optional<Synced> synced = takeSynced(self);
    g_mutex_unlock(&self->fileLock);
    postSynced(self, synced);
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
        finaliseFile(self);
        g_mutex_unlock(&self->fileLock);
    }
    return GST_BASE_SINK_CLASS(kad_dv_avi_writer_parent_class)->event(sink, event);
}

// Returns the pending next-location and clears it in one step, so that a
// caller giving up a cut knows whether the streaming thread got to it first.
static gchar* kad_dv_avi_writer_take_next_location(KadDvAviWriter* self)
{
    return fw::takeNextLocation(GST_ELEMENT(self), self->props);
}

static void kad_dv_avi_writer_finalize(GObject* object)
{
    auto* self = KAD_DV_AVI_WRITER(object);
    self->syncer.stop();
    finaliseFile(self);
    std::destroy_at(&self->file);
    std::destroy_at(&self->recordings);
    std::destroy_at(&self->syncer);
    g_mutex_clear(&self->fileLock);
    g_cond_clear(&self->syncerWake);
    fw::clearLocations(self->props);
    fw::clearRecordingProps(self->rec);
    G_OBJECT_CLASS(kad_dv_avi_writer_parent_class)->finalize(object);
}

static void kad_dv_avi_writer_class_init(KadDvAviWriterClass* klass)
{
    auto* gobject = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* base = GST_BASE_SINK_CLASS(klass);
    gobject->set_property = kad_dv_avi_writer_set_property;
    gobject->get_property = kad_dv_avi_writer_get_property;
    gobject->finalize = kad_dv_avi_writer_finalize;

    fw::installLocation(gobject, PROP_LOCATION, "The type-1 DV AVI file to write");
    fw::installNextLocation(gobject, PROP_NEXT_LOCATION,
                            "File to continue into before the next frame (cut without loss)");
    fw::installRiffLimit(gobject, PROP_RIFF_LIMIT);
    fw::installSyncInterval(
        gobject, PROP_SYNC_INTERVAL,
        "Longest time in nanoseconds before written frames are indexed on disk and synced "
        "(0 = only when the file is finished, without syncing)");
    fw::installSplitRecordings(gobject, PROP_SPLIT_RECORDINGS,
                               "Continue into a new file at the first frame of each new recording "
                               "on the tape (a jump of the recording clock or a recording start)");
    fw::installSplitLocation(gobject, PROP_SPLIT_LOCATION);
    fw::installDateNameRoot(gobject, PROP_DATE_NAME_ROOT,
                            "When set, each file is renamed <root>_YYYY.MM.DD_HH-MM-SS plus its "
                            "extension at its first frame with a recording date (\"_2\", \"_3\" "
                            "when taken; never replacing a file)");
    g_object_class_install_property(
        gobject, PROP_FRAMES_WRITTEN,
        g_param_spec_uint64("frames-written", "Frames written",
                            "Frames written to the current file", 0, G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_FRAMES_REJECTED,
        g_param_spec_uint64("frames-rejected", "Frames rejected",
                            "Damaged or partial DV buffers that were skipped", 0, G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    // Action signal: takes (returns and clears) next-location under the
    // object lock; NULL when the cut was applied or none was asked for.
    fw::installTakeNextLocation(gobject, G_CALLBACK(kad_dv_avi_writer_take_next_location));

    gst_element_class_set_static_metadata(element, "DV type-1 AVI writer", "Sink/File",
                                          "Writes interleaved DV as a type-1 DV AVI file",
                                          "Kadrillo");
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    base->start = kad_dv_avi_writer_start;
    base->stop = kad_dv_avi_writer_stop;
    base->render = kad_dv_avi_writer_render;
    base->event = kad_dv_avi_writer_event;
}

static void kad_dv_avi_writer_init(KadDvAviWriter* self)
{
    fw::initLocations(self->props);
    fw::initRecordingProps(self->rec);
    g_mutex_init(&self->fileLock);
    g_cond_init(&self->syncerWake);
    std::construct_at(&self->syncer);
    self->syncer.bind(&self->fileLock, &self->syncerWake, syncTick, self);
    std::construct_at(&self->file, std::make_unique<DvAviFile>());
    std::construct_at(&self->recordings, std::make_unique<Recordings>());
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}

gboolean kad_dv_avi_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_dv_avi_writer_debug, "kaddvaviwriter", 0,
                            "Kadrillo type-1 DV AVI writer");
    return gst_element_register(plugin, "kaddvaviwriter", GST_RANK_NONE, KAD_TYPE_DV_AVI_WRITER);
}
