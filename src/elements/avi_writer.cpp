#include "elements/avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "elements/avi_file.h"
#include "elements/avi_timeline.h"
#include "platform/media/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(kad_avi_writer_debug);
#define GST_CAT_DEFAULT kad_avi_writer_debug

namespace {

constexpr guint64 kDefaultSyncInterval = 5 * GST_SECOND;
// Below this, syncing would cost more than a frame's time on common disks.
constexpr guint64 kMinSyncInterval = 10 * GST_MSECOND;
// How long one pad waits for the other before writing without it: longer
// than any jitter between a camera's picture and sound, short enough that a
// source that died does not hold the capture back.
constexpr gint64 kStallWait = G_USEC_PER_SEC;
// Frames / sound held back while waiting for the other pad.
constexpr gsize kMaxQueuedFrames = 15;
constexpr GstClockTime kMaxSoundAhead = GST_SECOND / 2;

constexpr gsize kPalFrame = 144000;
constexpr gsize kNtscFrame = 120000;

struct QueuedBuffer {
    kad::BufferRef buffer;
    GstClockTime time; // running time of its start
};

void putLe16(std::vector<guint8>& v, guint16 x)
{
    v.push_back(x & 0xFF);
    v.push_back(x >> 8);
}
void putLe32(std::vector<guint8>& v, guint32 x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back((x >> (8 * i)) & 0xFF);
}

// The frame size of a whole DV frame starting at `data`; 0 when it is not one.
gsize dvFrameBytes(const guint8* data, gsize size)
{
    if (size < 80 || (data[0] >> 5) != 0) return 0;
    const gsize bytes = (data[3] & 0x80) ? kPalFrame : kNtscFrame;
    return size >= bytes ? bytes : 0;
}

// Everything the streaming threads share; guarded by KadAviWriter::lock.
struct WriterState {
    // Stream formats, from caps.
    int fpsN = 0;
    int fpsD = 1;
    int width = 720;
    int height = 576;
    int rate = 0;
    int channels = 0;
    GstSegment videoSegment;
    GstSegment audioSegment;

    std::deque<QueuedBuffer> video;
    std::deque<QueuedBuffer> audio; // not yet on the time line
    bool videoEos = false;
    bool audioEos = false;
    bool videoStalled = false;
    bool audioStalled = false;
    GstClockTime audioEnd = GST_CLOCK_TIME_NONE; // running time the sound has reached
    bool flushing = false;
    bool failed = false;
    bool finished = false;

    // Sound placed on the time line, not yet written: samples
    // [soundStart, timeline->nextSample()).
    std::optional<kad::AviTimeline> timeline;
    int soundRate = 0; // rate of the time line's sound (0: none)
    int bytesPerSample = 0;
    std::vector<guint8> sound;
    guint64 soundStart = 0;
    std::vector<guint8> lastFrame;

    kad::AviFile file;
    bool fileHasSound = false;

    GThread* syncer = nullptr;
    bool syncerStop = false;
    gint64 syncerPeriod = 0; // microseconds
    guint64 riffLimit = kad::AviFile::kDefaultRiffLimit;

    void resetStreams()
    {
        video.clear();
        audio.clear();
        videoEos = audioEos = videoStalled = audioStalled = false;
        audioEnd = GST_CLOCK_TIME_NONE;
        timeline.reset();
        sound.clear();
        soundStart = 0;
        lastFrame.clear();
        finished = false;
        gst_segment_init(&videoSegment, GST_FORMAT_TIME);
        gst_segment_init(&audioSegment, GST_FORMAT_TIME);
    }
};

} // namespace

struct _KadAviWriter {
    GstElement parent;

    // Guarded by the object lock.
    gchar* location;
    gchar* nextLocation;
    guint64 riffLimit;
    guint64 syncInterval;
    guint64 framesWritten;
    guint64 lostFrames;

    // Set by request/release pad under the object lock; read by the
    // streaming threads, which only run while the pads exist.
    GstPad* videoPad;
    GstPad* audioPad;

    // Guards `state`; `moved` wakes a pad waiting for the other one and the
    // syncer.
    GMutex lock;
    GCond moved;
    std::unique_ptr<WriterState> state;
};

enum {
    PROP_0,
    PROP_LOCATION,
    PROP_NEXT_LOCATION,
    PROP_RIFF_LIMIT,
    PROP_SYNC_INTERVAL,
    PROP_FRAMES_WRITTEN,
    PROP_LOST_FRAMES,
};

G_DEFINE_TYPE(KadAviWriter, kad_avi_writer, GST_TYPE_ELEMENT)

static GstStaticPadTemplate videoTemplate =
    GST_STATIC_PAD_TEMPLATE("video", GST_PAD_SINK, GST_PAD_REQUEST,
                            GST_STATIC_CAPS("video/x-dv, systemstream = (boolean) false"));
static GstStaticPadTemplate audioTemplate = GST_STATIC_PAD_TEMPLATE(
    "audio", GST_PAD_SINK, GST_PAD_REQUEST,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, "
                    "rate = (int) [ 1, MAX ], channels = (int) [ 1, 64 ]"));

namespace {

void postWriteError(KadAviWriter* self, int err, const std::string& path)
{
    if (err == ENOSPC || err == EFBIG || err == EDQUOT) {
        GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT,
                          ("The disk is full: the capture was stopped and the file written "
                           "so far was kept."),
                          ("writing %s failed: %s", path.c_str(), g_strerror(err)));
    } else {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                          ("The capture file could not be written: the capture was stopped "
                           "and the file written so far was kept."),
                          ("writing %s failed: %s", path.c_str(), g_strerror(err)));
    }
}

struct Synced {
    std::string path;
    guint64 frames = 0;
};

std::optional<Synced> takeSynced(WriterState& st)
{
    if (!st.file.takePublished()) return std::nullopt;
    return Synced{st.file.path(), st.file.framesOnDisk()};
}

void postSynced(KadAviWriter* self, const std::optional<Synced>& synced)
{
    if (!synced) return;
    gst_element_post_message(
        GST_ELEMENT(self),
        gst_message_new_element(GST_OBJECT(self),
                                gst_structure_new("kad-file-synced", "location", G_TYPE_STRING,
                                                  synced->path.c_str(), "frames", G_TYPE_UINT64,
                                                  synced->frames, nullptr)));
}

bool openFile(KadAviWriter* self, WriterState& st, const gchar* path)
{
    if (!st.file.open(path, st.riffLimit, st.syncerPeriod > 0)) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                          ("The capture file \"%s\" could not be created.", path),
                          ("open: %s", g_strerror(errno)));
        return false;
    }
    st.fileHasSound = false;
    return true;
}

void finaliseFile(KadAviWriter* self, WriterState& st)
{
    if (!st.file.isOpen()) return;
    const std::string path = st.file.path();
    if (!st.file.finalise()) {
        GST_ELEMENT_WARNING(self, RESOURCE, WRITE,
                            ("The end of the capture file could not be completed."),
                            ("finalising %s: %s", path.c_str(), g_strerror(errno)));
    }
    st.file.takePublished();
}

kad::AviFile::Header makeHeader(const WriterState& st, gsize frameBytes)
{
    kad::AviFile::Header h;
    const guint32 frame = guint32(frameBytes);
    h.microSecPerFrame = guint32(gst_util_uint64_scale_round(1000000, guint64(st.fpsD), st.fpsN));
    h.maxBytesPerSec = guint32(gst_util_uint64_scale_ceil(frame, st.fpsN, st.fpsD)) +
                       guint32(st.soundRate * st.bytesPerSample);
    h.suggestedBuffer = frame;
    h.width = guint32(st.width);
    h.height = guint32(st.height);

    kad::AviFile::Stream v;
    std::memcpy(v.type, "vids", 5);
    std::memcpy(v.handler, "dvsd", 5);
    std::memcpy(v.chunkId, "00dc", 5);
    v.scale = guint32(st.fpsD);
    v.rate = guint32(st.fpsN);
    v.suggestedBuffer = frame;
    v.width = guint16(st.width);
    v.height = guint16(st.height);
    putLe32(v.format, 40);
    putLe32(v.format, guint32(st.width));
    putLe32(v.format, guint32(st.height));
    putLe16(v.format, 1);
    putLe16(v.format, 24);
    v.format.insert(v.format.end(), {'d', 'v', 's', 'd'});
    putLe32(v.format, frame);
    for (int i = 0; i < 4; ++i)
        putLe32(v.format, 0);
    h.streams.push_back(std::move(v));

    if (st.soundRate > 0) {
        const auto align = guint16(st.bytesPerSample);
        kad::AviFile::Stream a;
        std::memcpy(a.type, "auds", 5);
        std::memcpy(a.chunkId, "01wb", 5);
        a.scale = align;
        a.rate = guint32(st.soundRate) * align;
        a.sampleSize = align;
        a.suggestedBuffer = guint32(st.soundRate) * align / 2;
        putLe16(a.format, 1); // WAVE_FORMAT_PCM
        putLe16(a.format, guint16(st.bytesPerSample / 2));
        putLe32(a.format, guint32(st.soundRate));
        putLe32(a.format, guint32(st.soundRate) * align);
        putLe16(a.format, align);
        putLe16(a.format, 16);
        putLe16(a.format, 0);
        h.streams.push_back(std::move(a));
    }
    return h;
}

// Writes the placed sound before sample `end` to the file (or drops it when
// the file has no sound stream).
bool writeSoundUpTo(WriterState& st, guint64 end)
{
    if (st.bytesPerSample == 0) return true;
    const guint64 have = st.sound.size() / gsize(st.bytesPerSample);
    if (end <= st.soundStart) return true;
    const guint64 n = std::min(end - st.soundStart, have);
    if (n == 0) return true;
    const gsize bytes = gsize(n) * gsize(st.bytesPerSample);
    bool ok = true;
    if (st.fileHasSound) ok = st.file.writeChunk(1, st.sound.data(), bytes, n);
    st.sound.erase(st.sound.begin(), st.sound.begin() + std::ptrdiff_t(bytes));
    st.soundStart += n;
    return ok;
}

// Applies a pending next-location before slot `slot`: the sound of the
// finished file ends at the first sample of that slot.
bool switchIfAsked(KadAviWriter* self, WriterState& st, guint64 slot)
{
    GST_OBJECT_LOCK(self);
    gchar* next = std::exchange(self->nextLocation, nullptr);
    GST_OBJECT_UNLOCK(self);
    if (!next) return true;
    kad::GCharPtr owned(next);
    bool ok = writeSoundUpTo(st, st.timeline->firstSample(slot));
    if (!ok) {
        postWriteError(self, errno, st.file.path());
        return false;
    }
    const std::string old = st.file.path();
    const guint64 frames = st.file.totalFrames();
    finaliseFile(self, st);
    if (!openFile(self, st, next)) return false;
    GST_OBJECT_LOCK(self);
    g_free(self->location);
    self->location = g_strdup(next);
    self->framesWritten = 0;
    GST_OBJECT_UNLOCK(self);
    gst_element_post_message(
        GST_ELEMENT(self),
        gst_message_new_element(
            GST_OBJECT(self), gst_structure_new("kad-file-switched", "old-location", G_TYPE_STRING,
                                                old.c_str(), "new-location", G_TYPE_STRING, next,
                                                "frames", G_TYPE_UINT64, frames, nullptr)));
    return true;
}

// Writes one frame into slot `slot`, then the sound up to the slot's end.
bool writeSlot(KadAviWriter* self, WriterState& st, guint64 slot, const guint8* frame, gsize size)
{
    if (!switchIfAsked(self, st, slot)) return false;
    if (!st.file.begun()) {
        if (!st.file.begin(makeHeader(st, size))) {
            postWriteError(self, errno, st.file.path());
            return false;
        }
        st.fileHasSound = st.soundRate > 0;
    }
    if (!st.file.writeChunk(0, frame, size) ||
        !writeSoundUpTo(st, st.timeline->firstSample(slot + 1))) {
        postWriteError(self, errno, st.file.path());
        return false;
    }
    GST_OBJECT_LOCK(self);
    ++self->framesWritten;
    GST_OBJECT_UNLOCK(self);
    return true;
}

void startTimeline(KadAviWriter* self, WriterState& st)
{
    GST_OBJECT_LOCK(self);
    const bool withSound = self->audioPad != nullptr;
    GST_OBJECT_UNLOCK(self);
    st.soundRate = withSound && st.rate > 0 && st.channels > 0 ? st.rate : 0;
    st.bytesPerSample = st.soundRate > 0 ? 2 * st.channels : 0;
    if (withSound && st.soundRate == 0)
        GST_WARNING_OBJECT(self, "no sound format known at the first frame: picture only");
    st.timeline.emplace(st.fpsN, st.fpsD, st.soundRate);
}

// Puts the queued sound on the time line (once it exists).
void placeSound(WriterState& st)
{
    if (!st.timeline) return;
    while (!st.audio.empty()) {
        QueuedBuffer q = std::move(st.audio.front());
        st.audio.pop_front();
        if (st.bytesPerSample == 0) continue;
        kad::BufferMap map(q.buffer.get(), GST_MAP_READ);
        if (!map) continue;
        const guint64 count = map.size() / gsize(st.bytesPerSample);
        const kad::AviTimeline::SamplePlace p = st.timeline->placeSamples(q.time, count);
        st.sound.resize(st.sound.size() + gsize(p.silence) * gsize(st.bytesPerSample), 0);
        const guint8* from = map.data() + gsize(p.skip) * gsize(st.bytesPerSample);
        st.sound.insert(st.sound.end(), from, from + gsize(p.keep) * gsize(st.bytesPerSample));
    }
}

// Writes one delivered frame, filling the slots the source skipped before
// it with copies of the frame before them.
bool writeFrame(KadAviWriter* self, WriterState& st, const QueuedBuffer& q)
{
    kad::BufferMap map(q.buffer.get(), GST_MAP_READ);
    const gsize bytes = map ? dvFrameBytes(map.data(), map.size()) : 0;
    if (bytes == 0) {
        GST_WARNING_OBJECT(self, "skipped a damaged DV frame of %" G_GSIZE_FORMAT " bytes",
                           map ? map.size() : gsize(0));
        return true;
    }
    if (!st.timeline) startTimeline(self, st);
    // The first frame starts the time line: the sound queued so far is
    // placed against it.
    const kad::AviTimeline::FramePlace place = st.timeline->placeFrame(q.time);
    placeSound(st);
    if (!place.write) {
        GST_DEBUG_OBJECT(self, "frame at %" GST_TIME_FORMAT " has no free slot: dropped",
                         GST_TIME_ARGS(q.time));
        return true;
    }
    if (st.lastFrame.empty() && place.filled > 0)
        st.lastFrame.assign(map.data(), map.data() + bytes);
    for (guint64 k = place.slot - place.filled; k < place.slot; ++k) {
        if (!writeSlot(self, st, k, st.lastFrame.data(), st.lastFrame.size())) return false;
    }
    if (place.filled > 0) {
        GST_OBJECT_LOCK(self);
        self->lostFrames += place.filled;
        GST_OBJECT_UNLOCK(self);
        GST_INFO_OBJECT(self, "filled %" G_GUINT64_FORMAT " missing frame slots", place.filled);
    }
    if (!writeSlot(self, st, place.slot, map.data(), bytes)) return false;
    st.lastFrame.assign(map.data(), map.data() + bytes);
    return true;
}

bool hasPad(KadAviWriter* self, bool video)
{
    GST_OBJECT_LOCK(self);
    const bool has = (video ? self->videoPad : self->audioPad) != nullptr;
    GST_OBJECT_UNLOCK(self);
    return has;
}

// Writes everything that may be written now, in time order. Call with the
// lock held.
bool drain(KadAviWriter* self, WriterState& st)
{
    const bool withSound = hasPad(self, false);
    const bool withVideo = hasPad(self, true);
    while (!st.video.empty()) {
        const QueuedBuffer& head = st.video.front();
        const bool soundThere = GST_CLOCK_TIME_IS_VALID(st.audioEnd) &&
                                (!GST_CLOCK_TIME_IS_VALID(head.time) || st.audioEnd >= head.time);
        if (withSound && !st.audioEos && !st.audioStalled && !soundThere) break;
        const QueuedBuffer q = head;
        st.video.pop_front();
        if (!writeFrame(self, st, q)) return false;
    }
    placeSound(st);
    if (st.timeline && (!withVideo || st.videoEos || st.videoStalled)) {
        // No picture to wait for: the sound goes out as it comes, up to the
        // end of the last frame once the picture has ended.
        const guint64 end =
            st.videoEos ? st.timeline->firstSample(st.timeline->nextSlot()) : G_MAXUINT64;
        if (!writeSoundUpTo(st, end)) {
            postWriteError(self, errno, st.file.path());
            return false;
        }
    }
    return true;
}

// Ends the file at the end of the last frame: sound missing up to there
// becomes silence, sound beyond it is dropped.
void finishCapture(KadAviWriter* self, WriterState& st)
{
    if (st.finished) return;
    st.finished = true;
    if (!st.failed) {
        st.videoEos = st.audioEos = true;
        if (drain(self, st) && st.timeline && st.bytesPerSample > 0) {
            const guint64 end = st.timeline->firstSample(st.timeline->nextSlot());
            const guint64 have = st.soundStart + st.sound.size() / gsize(st.bytesPerSample);
            if (have < end)
                st.sound.resize(st.sound.size() + gsize(end - have) * gsize(st.bytesPerSample), 0);
            if (!writeSoundUpTo(st, end)) postWriteError(self, errno, st.file.path());
        }
    }
    finaliseFile(self, st);
}

gpointer syncerLoop(gpointer data)
{
    auto* self = static_cast<KadAviWriter*>(data);
    WriterState& st = *self->state;
    g_mutex_lock(&self->lock);
    while (!st.syncerStop) {
        const gint64 due = g_get_monotonic_time() + st.syncerPeriod;
        while (!st.syncerStop && g_get_monotonic_time() < due)
            g_cond_wait_until(&self->moved, &self->lock, due);
        if (st.syncerStop || st.failed || !st.file.isOpen()) continue;
        if (!st.file.checkpoint()) {
            postWriteError(self, errno ? errno : EIO, st.file.path());
            st.failed = true;
            continue;
        }
        const std::optional<Synced> synced = takeSynced(st);
        g_mutex_unlock(&self->lock);
        postSynced(self, synced);
        g_mutex_lock(&self->lock);
    }
    g_mutex_unlock(&self->lock);
    return nullptr;
}

bool start(KadAviWriter* self)
{
    GST_OBJECT_LOCK(self);
    kad::GCharPtr path(g_strdup(self->location));
    g_clear_pointer(&self->nextLocation, g_free);
    const guint64 limit = self->riffLimit;
    const guint64 interval = self->syncInterval;
    self->framesWritten = 0;
    self->lostFrames = 0;
    GST_OBJECT_UNLOCK(self);
    if (!path || !*path) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No file name was given for the capture."),
                          ("the location property is empty"));
        return false;
    }
    g_mutex_lock(&self->lock);
    WriterState& st = *self->state;
    st.resetStreams();
    st.failed = false;
    st.flushing = false;
    st.syncerStop = false;
    st.riffLimit = limit;
    st.syncerPeriod = gint64(interval / GST_USECOND);
    const bool ok = openFile(self, st, path.get());
    g_mutex_unlock(&self->lock);
    if (!ok || interval == 0) return ok;
    GError* error = nullptr;
    GThread* syncer = g_thread_try_new("kadavisync", syncerLoop, self, &error);
    if (!syncer) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("The capture could not be started."),
                          ("no syncer thread: %s", error->message));
        g_error_free(error);
        g_mutex_lock(&self->lock);
        finaliseFile(self, st);
        g_mutex_unlock(&self->lock);
        return false;
    }
    g_mutex_lock(&self->lock);
    st.syncer = syncer;
    g_mutex_unlock(&self->lock);
    return true;
}

void stopSyncer(KadAviWriter* self)
{
    g_mutex_lock(&self->lock);
    self->state->syncerStop = true;
    g_cond_broadcast(&self->moved);
    GThread* syncer = std::exchange(self->state->syncer, nullptr);
    g_mutex_unlock(&self->lock);
    if (syncer) g_thread_join(syncer);
}

// Waits (lock held) while `tooMuch` says this pad is too far ahead of the
// other; after kStallWait the other pad counts as stalled and is no longer
// waited for until it delivers again.
template <typename Pred>
void holdBack(KadAviWriter* self, WriterState& st, bool video, Pred tooMuch)
{
    const gint64 deadline = g_get_monotonic_time() + kStallWait;
    while (tooMuch() && !st.flushing && !st.failed) {
        if (!g_cond_wait_until(&self->moved, &self->lock, deadline)) {
            (video ? st.audioStalled : st.videoStalled) = true;
            GST_INFO_OBJECT(self, "no %s for a second: writing without it",
                            video ? "sound" : "picture");
            if (!drain(self, st)) st.failed = true;
            g_cond_broadcast(&self->moved);
            break;
        }
    }
}

GstFlowReturn chainVideo(GstPad* /*pad*/, GstObject* parent, GstBuffer* buffer)
{
    auto* self = KAD_AVI_WRITER(parent);
    kad::BufferRef owned(buffer);
    g_mutex_lock(&self->lock);
    WriterState& st = *self->state;
    if (st.failed || st.finished || st.flushing) {
        const bool failed = st.failed;
        g_mutex_unlock(&self->lock);
        return failed ? GST_FLOW_ERROR : GST_FLOW_FLUSHING;
    }
    if (st.fpsN <= 0) {
        g_mutex_unlock(&self->lock);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("The video format is not known."),
                          ("no caps with a frame rate before the first frame"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime time =
        GST_CLOCK_TIME_IS_VALID(pts)
            ? gst_segment_to_running_time(&st.videoSegment, GST_FORMAT_TIME, pts)
            : GST_CLOCK_TIME_NONE;
    st.video.push_back({std::move(owned), time});
    st.videoStalled = false;
    bool ok = drain(self, st);
    g_cond_broadcast(&self->moved);
    if (ok) {
        holdBack(self, st, true, [&st] { return st.video.size() > kMaxQueuedFrames; });
        ok = !st.failed;
    }
    const std::optional<Synced> synced = ok ? takeSynced(st) : std::nullopt;
    if (!ok) st.failed = true;
    g_mutex_unlock(&self->lock);
    postSynced(self, synced);
    return ok ? GST_FLOW_OK : GST_FLOW_ERROR;
}

// How far the sound received runs ahead of the picture written.
GstClockTime soundAhead(const WriterState& st)
{
    if (!GST_CLOCK_TIME_IS_VALID(st.audioEnd)) return 0;
    if (!st.timeline) {
        if (st.audio.empty() || !GST_CLOCK_TIME_IS_VALID(st.audio.front().time)) return 0;
        return st.audioEnd > st.audio.front().time ? st.audioEnd - st.audio.front().time : 0;
    }
    const GstClockTime front = st.timeline->slotTime(st.timeline->nextSlot());
    return st.audioEnd > front ? st.audioEnd - front : 0;
}

GstFlowReturn chainAudio(GstPad* /*pad*/, GstObject* parent, GstBuffer* buffer)
{
    auto* self = KAD_AVI_WRITER(parent);
    kad::BufferRef owned(buffer);
    g_mutex_lock(&self->lock);
    WriterState& st = *self->state;
    if (st.failed || st.finished || st.flushing) {
        const bool failed = st.failed;
        g_mutex_unlock(&self->lock);
        return failed ? GST_FLOW_ERROR : GST_FLOW_FLUSHING;
    }
    if (st.rate <= 0 || st.channels <= 0) {
        g_mutex_unlock(&self->lock);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("The sound format is not known."),
                          ("no caps before the first sound buffer"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime time =
        GST_CLOCK_TIME_IS_VALID(pts)
            ? gst_segment_to_running_time(&st.audioSegment, GST_FORMAT_TIME, pts)
            : GST_CLOCK_TIME_NONE;
    const guint64 samples = gst_buffer_get_size(buffer) / gsize(2 * st.channels);
    const GstClockTime duration = gst_util_uint64_scale(samples, GST_SECOND, guint64(st.rate));
    if (GST_CLOCK_TIME_IS_VALID(time))
        st.audioEnd = time + duration;
    else if (GST_CLOCK_TIME_IS_VALID(st.audioEnd))
        st.audioEnd += duration;
    st.audio.push_back({std::move(owned), time});
    st.audioStalled = false;
    bool ok = drain(self, st);
    g_cond_broadcast(&self->moved);
    if (ok && hasPad(self, true) && !st.videoEos) {
        holdBack(self, st, false,
                 [&st] { return !st.videoStalled && soundAhead(st) > kMaxSoundAhead; });
        ok = !st.failed;
    }
    if (!st.timeline) {
        // No picture yet, and none for a while: keep only the newest sound,
        // the rest could never be placed before the first frame anyway.
        while (st.audio.size() > 1 && soundAhead(st) > 2 * kMaxSoundAhead)
            st.audio.pop_front();
    }
    if (!ok) st.failed = true;
    g_mutex_unlock(&self->lock);
    return ok ? GST_FLOW_OK : GST_FLOW_ERROR;
}

bool allEnded(KadAviWriter* self, const WriterState& st)
{
    return (!hasPad(self, true) || st.videoEos) && (!hasPad(self, false) || st.audioEos);
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    auto* self = KAD_AVI_WRITER(parent);
    const bool video = pad == self->videoPad;
    WriterState& st = *self->state;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        g_mutex_lock(&self->lock);
        bool ok = true;
        if (video) {
            int n = 0, d = 1;
            ok = gst_structure_get_fraction(s, "framerate", &n, &d) && n > 0 && d > 0;
            if (ok) {
                if (st.timeline && (n != st.fpsN || d != st.fpsD)) {
                    ok = false;
                } else {
                    st.fpsN = n;
                    st.fpsD = d;
                    gst_structure_get_int(s, "width", &st.width);
                    gst_structure_get_int(s, "height", &st.height);
                }
            }
        } else {
            int rate = 0, channels = 0;
            ok = gst_structure_get_int(s, "rate", &rate) &&
                 gst_structure_get_int(s, "channels", &channels) && rate > 0 && channels > 0;
            if (ok && st.timeline && (rate != st.rate || channels != st.channels)) ok = false;
            if (ok) {
                st.rate = rate;
                st.channels = channels;
            }
        }
        g_mutex_unlock(&self->lock);
        gst_event_unref(event);
        if (!ok) {
            GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                              ("The capture format changed or is not usable."),
                              ("%s caps refused", video ? "video" : "audio"));
        }
        return ok;
    }
    case GST_EVENT_SEGMENT: {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        g_mutex_lock(&self->lock);
        if (segment->format == GST_FORMAT_TIME)
            gst_segment_copy_into(segment, video ? &st.videoSegment : &st.audioSegment);
        g_mutex_unlock(&self->lock);
        gst_event_unref(event);
        return TRUE;
    }
    case GST_EVENT_GAP:
        // A pad with nothing to say for a while must not hold the other back.
        g_mutex_lock(&self->lock);
        if (!video) {
            GstClockTime ts = 0, dur = 0;
            gst_event_parse_gap(event, &ts, &dur);
            if (GST_CLOCK_TIME_IS_VALID(ts)) {
                GstClockTime end =
                    gst_segment_to_running_time(&st.audioSegment, GST_FORMAT_TIME, ts);
                if (GST_CLOCK_TIME_IS_VALID(end) && GST_CLOCK_TIME_IS_VALID(dur)) end += dur;
                if (GST_CLOCK_TIME_IS_VALID(end)) st.audioEnd = end;
                if (!drain(self, st)) st.failed = true;
                g_cond_broadcast(&self->moved);
            }
        }
        g_mutex_unlock(&self->lock);
        gst_event_unref(event);
        return TRUE;
    case GST_EVENT_EOS: {
        g_mutex_lock(&self->lock);
        (video ? st.videoEos : st.audioEos) = true;
        if (!st.failed && !drain(self, st)) st.failed = true;
        g_cond_broadcast(&self->moved);
        bool post = false;
        if (allEnded(self, st) && !st.finished) {
            finishCapture(self, st);
            post = true;
        }
        g_mutex_unlock(&self->lock);
        if (post) {
            GstMessage* msg = gst_message_new_eos(GST_OBJECT(self));
            gst_message_set_seqnum(msg, gst_event_get_seqnum(event));
            gst_element_post_message(GST_ELEMENT(self), msg);
        }
        gst_event_unref(event);
        return TRUE;
    }
    case GST_EVENT_FLUSH_START:
        g_mutex_lock(&self->lock);
        st.flushing = true;
        g_cond_broadcast(&self->moved);
        g_mutex_unlock(&self->lock);
        gst_event_unref(event);
        return TRUE;
    case GST_EVENT_FLUSH_STOP:
        g_mutex_lock(&self->lock);
        st.flushing = false;
        (video ? st.video : st.audio).clear();
        g_mutex_unlock(&self->lock);
        gst_event_unref(event);
        return TRUE;
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

} // namespace

static GstPad* kad_avi_writer_request_new_pad(GstElement* element, GstPadTemplate* templ,
                                              const gchar* /*name*/, const GstCaps* /*caps*/)
{
    auto* self = KAD_AVI_WRITER(element);
    const bool video = std::strcmp(GST_PAD_TEMPLATE_NAME_TEMPLATE(templ), "video") == 0;
    GST_OBJECT_LOCK(self);
    const bool taken = (video ? self->videoPad : self->audioPad) != nullptr;
    GST_OBJECT_UNLOCK(self);
    if (taken) {
        GST_WARNING_OBJECT(self, "the %s pad exists already", video ? "video" : "audio");
        return nullptr;
    }
    GstPad* pad = gst_pad_new_from_template(templ, video ? "video" : "audio");
    gst_pad_set_chain_function(pad, video ? chainVideo : chainAudio);
    gst_pad_set_event_function(pad, sinkEvent);
    GST_OBJECT_LOCK(self);
    (video ? self->videoPad : self->audioPad) = pad;
    GST_OBJECT_UNLOCK(self);
    if (GST_STATE(element) > GST_STATE_READY) gst_pad_set_active(pad, TRUE);
    gst_element_add_pad(element, pad);
    return pad;
}

static void kad_avi_writer_release_pad(GstElement* element, GstPad* pad)
{
    auto* self = KAD_AVI_WRITER(element);
    GST_OBJECT_LOCK(self);
    if (pad == self->videoPad) self->videoPad = nullptr;
    if (pad == self->audioPad) self->audioPad = nullptr;
    GST_OBJECT_UNLOCK(self);
    gst_pad_set_active(pad, FALSE);
    gst_element_remove_pad(element, pad);
}

static GstStateChangeReturn kad_avi_writer_change_state(GstElement* element,
                                                        GstStateChange transition)
{
    auto* self = KAD_AVI_WRITER(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !start(self))
        return GST_STATE_CHANGE_FAILURE;
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // Wakes a pad waiting for the other before the pads are deactivated.
        g_mutex_lock(&self->lock);
        self->state->flushing = true;
        g_cond_broadcast(&self->moved);
        g_mutex_unlock(&self->lock);
    }
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(kad_avi_writer_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        stopSyncer(self);
        g_mutex_lock(&self->lock);
        finishCapture(self, *self->state);
        g_mutex_unlock(&self->lock);
    }
    return ret;
}

static void kad_avi_writer_set_property(GObject* object, guint id, const GValue* value,
                                        GParamSpec* pspec)
{
    auto* self = KAD_AVI_WRITER(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION:
        if (GST_STATE(self) > GST_STATE_READY) {
            GST_WARNING_OBJECT(self,
                               "location can only change in NULL or READY; use next-location");
        } else {
            g_free(self->location);
            self->location = g_value_dup_string(value);
        }
        break;
    case PROP_NEXT_LOCATION:
        g_free(self->nextLocation);
        self->nextLocation = g_value_dup_string(value);
        break;
    case PROP_RIFF_LIMIT:
        self->riffLimit = g_value_get_uint64(value);
        break;
    case PROP_SYNC_INTERVAL: {
        const guint64 v = g_value_get_uint64(value);
        self->syncInterval = v == 0 ? 0 : std::max(v, kMinSyncInterval);
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void kad_avi_writer_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    auto* self = KAD_AVI_WRITER(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION:
        g_value_set_string(value, self->location);
        break;
    case PROP_NEXT_LOCATION:
        g_value_set_string(value, self->nextLocation);
        break;
    case PROP_RIFF_LIMIT:
        g_value_set_uint64(value, self->riffLimit);
        break;
    case PROP_SYNC_INTERVAL:
        g_value_set_uint64(value, self->syncInterval);
        break;
    case PROP_FRAMES_WRITTEN:
        g_value_set_uint64(value, self->framesWritten);
        break;
    case PROP_LOST_FRAMES:
        g_value_set_uint64(value, self->lostFrames);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static void kad_avi_writer_finalize(GObject* object)
{
    auto* self = KAD_AVI_WRITER(object);
    stopSyncer(self);
    finaliseFile(self, *self->state);
    std::destroy_at(&self->state);
    g_mutex_clear(&self->lock);
    g_cond_clear(&self->moved);
    g_free(self->location);
    g_free(self->nextLocation);
    G_OBJECT_CLASS(kad_avi_writer_parent_class)->finalize(object);
}

static void kad_avi_writer_class_init(KadAviWriterClass* klass)
{
    auto* gobject = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    gobject->set_property = kad_avi_writer_set_property;
    gobject->get_property = kad_avi_writer_get_property;
    gobject->finalize = kad_avi_writer_finalize;

    g_object_class_install_property(
        gobject, PROP_LOCATION,
        g_param_spec_string("location", "File location", "The AVI file to write", nullptr,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_NEXT_LOCATION,
        g_param_spec_string("next-location", "Next file location",
                            "File to continue into at the next frame, picture and sound cut at "
                            "the same instant",
                            nullptr, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_RIFF_LIMIT,
        g_param_spec_uint64("riff-limit", "RIFF chunk limit",
                            "Largest size in bytes of one RIFF chunk of the file",
                            kad::AviFile::kMinRiffLimit, kad::AviFile::kHardRiffLimit,
                            kad::AviFile::kDefaultRiffLimit,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_SYNC_INTERVAL,
        g_param_spec_uint64(
            "sync-interval", "Sync interval",
            "Longest time in nanoseconds before what was written is indexed on disk and synced "
            "(0 = only when the file is finished, without syncing)",
            0, G_MAXUINT64, kDefaultSyncInterval,
            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_FRAMES_WRITTEN,
        g_param_spec_uint64("frames-written", "Frames written",
                            "Frames written to the current file, filled slots included", 0,
                            G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_LOST_FRAMES,
        g_param_spec_uint64("lost-frames", "Lost frames",
                            "Frame slots filled because the source did not deliver their frame", 0,
                            G_MAXUINT64, 0,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_set_static_metadata(element, "AVI writer", "Sink/File",
                                          "Writes DV video and PCM sound as an OpenDML AVI file",
                                          "Kadrillo");
    gst_element_class_add_static_pad_template(element, &videoTemplate);
    gst_element_class_add_static_pad_template(element, &audioTemplate);
    element->request_new_pad = kad_avi_writer_request_new_pad;
    element->release_pad = kad_avi_writer_release_pad;
    element->change_state = kad_avi_writer_change_state;
}

static void kad_avi_writer_init(KadAviWriter* self)
{
    self->riffLimit = kad::AviFile::kDefaultRiffLimit;
    self->syncInterval = kDefaultSyncInterval;
    g_mutex_init(&self->lock);
    g_cond_init(&self->moved);
    std::construct_at(&self->state, std::make_unique<WriterState>());
    self->state->resetStreams();
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SINK);
}

gboolean kad_avi_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_avi_writer_debug, "kadaviwriter", 0, "Kadrillo AVI writer");
    return gst_element_register(plugin, "kadaviwriter", GST_RANK_NONE, KAD_TYPE_AVI_WRITER);
}
