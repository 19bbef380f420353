#include "elements/avi_writer.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "elements/avi_common.h"
#include "elements/avi_file.h"
#include "elements/avi_timeline.h"
#include "elements/file_writer.h"
#include "media/dv/dv_frame.h"
#include "media/dv/recording_watch.h"
#include "platform/media/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(kad_avi_writer_debug);
#define GST_CAT_DEFAULT kad_avi_writer_debug

namespace fw = kad::filewriter;
namespace aw = kad::aviwriter;

namespace {

// How long one pad waits for the other before writing without it: longer
// than any jitter between a camera's picture and sound, short enough that a
// source that died does not hold the capture back.
constexpr gint64 kStallWait = G_USEC_PER_SEC;
// Frames / sound held back while waiting for the other pad.
constexpr gsize kMaxQueuedFrames = 15;
constexpr GstClockTime kMaxSoundAhead = GST_SECOND / 2;

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
    if (size < kad::dv::kDifBlockSize || !kad::dv::isSection(data, kad::dv::Section::Header))
        return 0;
    const gsize bytes = kad::dv::announcedFrameSize(data);
    return size >= bytes ? bytes : 0;
}

enum class VideoKind { None, Dv, Raw, Jpeg };

// Bytes moved on the way into the file, so that every reader knows the
// format: GStreamer's RGB order into the DIB's BGR, YVYU into YUY2, NV12's
// paired chroma into I420's two planes.
enum class Swap { None, RedBlue, Chroma, SplitChroma };

// How one raw format is stored: its fourcc, or a DIB (BI_RGB: rows bottom
// up, each padded to four bytes, blue before red).
struct RawStorage {
    GstVideoFormat format;
    const char* fourcc; // "": BI_RGB
    guint16 bitCount;
    Swap swap;
};

constexpr RawStorage kRawStorage[] = {
    {GST_VIDEO_FORMAT_YUY2, "YUY2", 16, Swap::None},
    {GST_VIDEO_FORMAT_UYVY, "UYVY", 16, Swap::None},
    {GST_VIDEO_FORMAT_YVYU, "YUY2", 16, Swap::Chroma},
    {GST_VIDEO_FORMAT_I420, "I420", 12, Swap::None},
    {GST_VIDEO_FORMAT_YV12, "YV12", 12, Swap::None},
    {GST_VIDEO_FORMAT_NV12, "I420", 12, Swap::SplitChroma},
    {GST_VIDEO_FORMAT_GRAY8, "Y800", 8, Swap::None},
    {GST_VIDEO_FORMAT_BGR, "", 24, Swap::None},
    {GST_VIDEO_FORMAT_RGB, "", 24, Swap::RedBlue},
    {GST_VIDEO_FORMAT_BGRx, "", 32, Swap::None},
    {GST_VIDEO_FORMAT_BGRA, "", 32, Swap::None},
};

// What the video pad carries and how its frames are written: the stream's
// handler and BITMAPINFOHEADER, and for raw video the layout of a frame in
// the file (planes one after the other, rows without padding, or a DIB).
struct VideoFormat {
    VideoKind kind = VideoKind::None;
    int width = 0;
    int height = 0;
    int fpsN = 0; // 0/1: the caps give no rate
    int fpsD = 1;
    char fourcc[5] = {0}; // handler and biCompression; empty: BI_RGB
    guint16 bitCount = 24;
    gsize imageBytes = 0; // biSizeImage: one frame (JPEG: the most one may need)

    // Raw video only.
    GstVideoInfo info{};
    bool dib = false;
    Swap swap = Swap::None;
    bool direct = false; // the delivered buffer already has the file's layout
    guint planes = 0;
    gsize rows[GST_VIDEO_MAX_PLANES] = {};
    gsize rowBytes[GST_VIDEO_MAX_PLANES] = {};
    gsize stride[GST_VIDEO_MAX_PLANES] = {}; // in the file

    bool sameAs(const VideoFormat& o) const
    {
        return kind == o.kind && width == o.width && height == o.height && fpsN == o.fpsN &&
               fpsD == o.fpsD && std::strcmp(fourcc, o.fourcc) == 0 && bitCount == o.bitCount &&
               swap == o.swap;
    }
};

// Reads the video pad's caps; an empty text when they can be written, else
// why not.
std::string readVideoCaps(const GstCaps* caps, VideoFormat& f)
{
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* name = gst_structure_get_name(s);
    if (!gst_structure_get_fraction(s, "framerate", &f.fpsN, &f.fpsD) || f.fpsN < 0 || f.fpsD <= 0)
        f.fpsN = 0, f.fpsD = 1;
    if (g_str_equal(name, "video/x-dv")) {
        if (f.fpsN == 0) return "DV caps without a frame rate";
        f.kind = VideoKind::Dv;
        f.width = 720;
        f.height = f.fpsN * 1001 == f.fpsD * 30000 ? 480 : 576;
        gst_structure_get_int(s, "width", &f.width);
        gst_structure_get_int(s, "height", &f.height);
        std::memcpy(f.fourcc, "dvsd", 5);
        f.imageBytes = kad::dv::frameSizeOf(f.height != 480);
        return {};
    }
    if (g_str_equal(name, "image/jpeg")) {
        if (!gst_structure_get_int(s, "width", &f.width) ||
            !gst_structure_get_int(s, "height", &f.height) || f.width <= 0 || f.height <= 0)
            return "JPEG caps without a picture size";
        f.kind = VideoKind::Jpeg;
        std::memcpy(f.fourcc, "MJPG", 5);
        f.imageBytes = gsize(f.width) * gsize(f.height) * 3;
        return {};
    }
    if (!gst_video_info_from_caps(&f.info, caps)) return "raw video caps that say no format";
    const RawStorage* storage = nullptr;
    for (const RawStorage& r : kRawStorage)
        if (r.format == GST_VIDEO_INFO_FORMAT(&f.info)) storage = &r;
    if (!storage)
        return std::string("raw video in ") +
               gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&f.info));
    f.kind = VideoKind::Raw;
    f.width = GST_VIDEO_INFO_WIDTH(&f.info);
    f.height = GST_VIDEO_INFO_HEIGHT(&f.info);
    std::memcpy(f.fourcc, storage->fourcc, std::strlen(storage->fourcc) + 1);
    f.bitCount = storage->bitCount;
    f.dib = storage->fourcc[0] == '\0';
    f.swap = storage->swap;
    f.planes = GST_VIDEO_INFO_N_PLANES(&f.info);
    f.imageBytes = 0;
    f.direct = !f.dib && f.swap == Swap::None;
    for (guint p = 0; p < f.planes; ++p) {
        gint comps[GST_VIDEO_MAX_COMPONENTS];
        gst_video_format_info_component(f.info.finfo, p, comps);
        f.rows[p] = gsize(GST_VIDEO_INFO_COMP_HEIGHT(&f.info, comps[0]));
        f.rowBytes[p] = gsize(GST_VIDEO_INFO_COMP_WIDTH(&f.info, comps[0])) *
                        gsize(GST_VIDEO_INFO_COMP_PSTRIDE(&f.info, comps[0]));
        f.stride[p] = f.dib ? (f.rowBytes[p] + 3) & ~gsize(3) : f.rowBytes[p];
        f.direct = f.direct && GST_VIDEO_INFO_PLANE_OFFSET(&f.info, p) == f.imageBytes &&
                   gsize(GST_VIDEO_INFO_PLANE_STRIDE(&f.info, p)) == f.stride[p];
        f.imageBytes += f.rows[p] * f.stride[p];
    }
    return {};
}

// Copies the raw frame in `buffer` into `out` in the file's layout; false
// when the buffer holds no whole frame.
bool packRaw(const VideoFormat& f, GstBuffer* buffer, std::vector<guint8>& out)
{
    if (!gst_buffer_get_video_meta(buffer) && gst_buffer_get_size(buffer) < f.info.size)
        return false;
    GstVideoInfo info = f.info;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return false;
    out.resize(f.imageBytes);
    guint8* to = out.data();
    for (guint p = 0; p < f.planes; ++p) {
        const auto* from = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        const gsize fromStride = gsize(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p));
        for (gsize r = 0; r < f.rows[p]; ++r) {
            const guint8* row = from + (f.dib ? f.rows[p] - 1 - r : r) * fromStride;
            guint8* dst = to + r * f.stride[p];
            if (f.swap == Swap::RedBlue) {
                for (gsize x = 0; x + 2 < f.rowBytes[p]; x += 3) {
                    dst[x] = row[x + 2];
                    dst[x + 1] = row[x + 1];
                    dst[x + 2] = row[x];
                }
            } else if (f.swap == Swap::SplitChroma && p == 1) {
                // Both chroma planes of the file, in place of the one paired
                // plane: as many bytes.
                const gsize half = f.rowBytes[p] / 2;
                guint8* u = to + r * half;
                guint8* v = to + f.rows[p] * half + r * half;
                for (gsize x = 0; x < half; ++x) {
                    u[x] = row[2 * x];
                    v[x] = row[2 * x + 1];
                }
                continue;
            } else if (f.swap == Swap::Chroma) {
                for (gsize x = 0; x + 3 < f.rowBytes[p]; x += 4) {
                    dst[x] = row[x];
                    dst[x + 1] = row[x + 3];
                    dst[x + 2] = row[x + 2];
                    dst[x + 3] = row[x + 1];
                }
            } else {
                std::memcpy(dst, row, f.rowBytes[p]);
            }
            std::memset(dst + f.rowBytes[p], 0, f.stride[p] - f.rowBytes[p]);
        }
        to += f.rows[p] * f.stride[p];
    }
    gst_video_frame_unmap(&frame);
    return true;
}

// Frames looked at to find the rate of a source whose caps give none, or
// fewer when they span this long (a slow source must not hold its sound).
constexpr gsize kRateProbeFrames = 12;
constexpr GstClockTime kRateProbeSpan = 400 * GST_MSECOND;

// The nominal rate nearest to frames lasting `frame` ns: the rates sources
// are built for, within 3 %, else the rate the duration says.
void nominalRate(GstClockTime frame, int& n, int& d)
{
    static constexpr int kNominal[][2] = {
        {5, 1},  {15, 2}, {10, 1},       {12, 1}, {15, 1}, {20, 1},       {24000, 1001},
        {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1}};
    double best = 0.03;
    bool found = false;
    for (const auto& r : kNominal) {
        const double nominal = double(GST_SECOND) * r[1] / r[0];
        const double off = std::abs(double(frame) - nominal) / nominal;
        if (off <= best) {
            best = off;
            n = r[0];
            d = r[1];
            found = true;
        }
    }
    if (!found) gst_video_guess_framerate(frame, &n, &d);
}

// Everything the streaming threads share; guarded by KadAviWriter::lock.
struct WriterState {
    // Stream formats, from caps; the frame rate the time line runs at (0
    // until known).
    VideoFormat format;
    int fpsN = 0;
    int fpsD = 1;
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
    // Silence the open file's sound begins with: a cut after the picture
    // stalled finds the sound written past the cut's instant.
    guint64 leadSilence = 0;
    // The last frame written: a copy, or the delivered buffer itself.
    std::vector<guint8> lastFrame;
    kad::BufferRef lastBuffer;
    gsize lastBufferBytes = 0;

    kad::AviFile file;
    bool fileHasSound = false;

    // DV only: the tape's recordings, for the cut at each new one and the
    // names by recording date. A new recording seen on a frame that got no
    // slot is cut at the next frame written.
    aw::Recordings recordings;
    bool splitPending = false;

    fw::Syncer syncer;
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
        leadSilence = 0;
        lastFrame.clear();
        lastBuffer.reset();
        format = VideoFormat{};
        fpsN = 0;
        fpsD = 1;
        finished = false;
        gst_segment_init(&videoSegment, GST_FORMAT_TIME);
        gst_segment_init(&audioSegment, GST_FORMAT_TIME);
    }
};

} // namespace

struct _KadAviWriter {
    GstElement parent;

    // Guarded by the object lock.
    kad::filewriter::Locations props;
    kad::filewriter::RecordingProps rec;
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

G_DEFINE_TYPE(KadAviWriter, kad_avi_writer, GST_TYPE_ELEMENT)

static GstStaticPadTemplate videoTemplate = GST_STATIC_PAD_TEMPLATE(
    "video", GST_PAD_SINK, GST_PAD_REQUEST,
    GST_STATIC_CAPS("video/x-dv, systemstream = (boolean) false; "
                    "video/x-raw, format = (string) { YUY2, UYVY, YVYU, I420, YV12, NV12, GRAY8, "
                    "BGR, RGB, BGRx, BGRA }, width = (int) [ 1, 32767 ], "
                    "height = (int) [ 1, 32767 ], framerate = (fraction) [ 0/1, MAX ]; "
                    "image/jpeg, width = (int) [ 1, 32767 ], height = (int) [ 1, 32767 ], "
                    "framerate = (fraction) [ 0/1, MAX ]"));
static GstStaticPadTemplate audioTemplate = GST_STATIC_PAD_TEMPLATE(
    "audio", GST_PAD_SINK, GST_PAD_REQUEST,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, "
                    "rate = (int) [ 1, MAX ], channels = (int) [ 1, 64 ]"));

namespace {

void postWriteError(KadAviWriter* self, int err, const std::string& path)
{
    fw::postWriteError(GST_ELEMENT(self), err, path);
}

// Opens `path` as aw::openFile does; the new file's sound starts afresh.
std::string openFile(KadAviWriter* self, WriterState& st, const std::string& path, bool claim)
{
    const std::string opened =
        aw::openFile(GST_ELEMENT(self), st.file, path, st.riffLimit, st.syncer.period() > 0, claim);
    if (!opened.empty()) {
        st.fileHasSound = false;
        st.leadSilence = 0;
    }
    return opened;
}

kad::AviFile::Header makeHeader(const WriterState& st, gsize frameBytes)
{
    kad::AviFile::Header h;
    const VideoFormat& f = st.format;
    const guint32 frame = guint32(std::max(frameBytes, f.imageBytes));
    h.microSecPerFrame = guint32(gst_util_uint64_scale_round(1000000, guint64(st.fpsD), st.fpsN));
    h.maxBytesPerSec = guint32(gst_util_uint64_scale_ceil(frame, st.fpsN, st.fpsD)) +
                       guint32(st.soundRate * st.bytesPerSample);
    h.suggestedBuffer = frame;
    h.width = guint32(f.width);
    h.height = guint32(f.height);

    kad::AviFile::Stream v;
    std::memcpy(v.type, "vids", 5);
    std::memcpy(v.handler, f.fourcc, 5);
    std::memcpy(v.chunkId, f.kind == VideoKind::Raw ? "00db" : "00dc", 5);
    v.scale = guint32(st.fpsD);
    v.rate = guint32(st.fpsN);
    v.suggestedBuffer = frame;
    v.width = guint16(f.width);
    v.height = guint16(f.height);
    putLe32(v.format, 40);
    putLe32(v.format, guint32(f.width));
    // A positive height: DIB rows bottom up, every other format top down.
    putLe32(v.format, guint32(f.height));
    putLe16(v.format, 1);
    putLe16(v.format, f.bitCount);
    for (int i = 0; i < 4; ++i)
        v.format.push_back(guint8(f.fourcc[0] ? f.fourcc[i] : 0));
    putLe32(v.format, guint32(f.imageBytes));
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

// Goes on in `next` from slot `slot`: the sound of the finished file ends at
// the first sample of that slot, the new file's begins there. "reason" of
// the message: "cut" or "recording". With `claim`, see aw::openFile. False
// on failure.
bool switchTo(KadAviWriter* self, WriterState& st, guint64 slot, const std::string& next,
              const char* reason, bool claim)
{
    const guint64 first = st.timeline->firstSample(slot);
    if (!writeSoundUpTo(st, first)) {
        postWriteError(self, errno, st.file.path());
        return false;
    }
    const aw::Finished finished = aw::finishFile(GST_ELEMENT(self), st.file);
    const std::string opened = openFile(self, st, next, claim);
    if (opened.empty()) return false;
    // The picture stalled and the sound went out without it, past this
    // slot: what was written cannot move, so the new file's sound waits
    // with silence for as long, and both streams start together.
    if (st.soundStart > first) st.leadSilence = st.soundStart - first;
    aw::announceSwitch(GST_ELEMENT(self), self->props, self->framesWritten, st.recordings, finished,
                       opened, reason);
    return true;
}

// Applies a pending next-location before slot `slot` (see aw::takeCut).
bool switchIfAsked(KadAviWriter* self, WriterState& st, guint64 slot)
{
    const kad::GCharPtr next = aw::takeCut(GST_ELEMENT(self), self->props, st.file);
    return !next || switchTo(self, st, slot, next.get(), "cut", false);
}

// A new recording begins at slot `slot`: the next file opens there.
bool splitAtRecording(KadAviWriter* self, WriterState& st, guint64 slot)
{
    const std::string next = aw::takeSplitTarget(GST_ELEMENT(self), self->rec, st.recordings);
    return next.empty() || switchTo(self, st, slot, next, "recording", true);
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
    if (st.leadSilence > 0 && st.fileHasSound) {
        // In pieces of at most a second, the size of every other sound chunk.
        const guint64 piece = std::min<guint64>(st.leadSilence, guint64(st.soundRate));
        const std::vector<guint8> silence(gsize(piece) * gsize(st.bytesPerSample), 0);
        for (guint64 left = st.leadSilence; left > 0;) {
            const guint64 n = std::min(left, piece);
            if (!st.file.writeChunk(1, silence.data(), gsize(n) * gsize(st.bytesPerSample), n)) {
                postWriteError(self, errno, st.file.path());
                return false;
            }
            left -= n;
        }
    }
    st.leadSilence = 0;
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
    std::vector<guint8> packed;
    const guint8* data = map ? map.data() : nullptr;
    gsize bytes = 0;
    if (map) {
        switch (st.format.kind) {
        case VideoKind::Dv:
            bytes = dvFrameBytes(map.data(), map.size());
            break;
        case VideoKind::Jpeg:
            bytes = map.size();
            break;
        case VideoKind::Raw:
            if (st.format.direct && !gst_buffer_get_video_meta(q.buffer.get())) {
                bytes = map.size() >= st.format.imageBytes ? st.format.imageBytes : 0;
            } else if (packRaw(st.format, q.buffer.get(), packed)) {
                data = packed.data();
                bytes = packed.size();
            }
            break;
        case VideoKind::None:
            break;
        }
    }
    if (bytes == 0) {
        GST_WARNING_OBJECT(self, "skipped a damaged frame of %" G_GSIZE_FORMAT " bytes",
                           map ? map.size() : gsize(0));
        return true;
    }
    if (!st.timeline) startTimeline(self, st);
    std::optional<kad::dv::RecordingDateTime> recorded;
    if (st.format.kind == VideoKind::Dv) {
        const std::optional<std::uint64_t> time =
            GST_CLOCK_TIME_IS_VALID(q.time) ? std::optional<std::uint64_t>(q.time) : std::nullopt;
        const std::uint64_t duration =
            st.fpsN > 0 ? gst_util_uint64_scale(GST_SECOND, st.fpsD, st.fpsN) : GST_SECOND / 25;
        const kad::dv::FrameRecording seen =
            st.recordings.watch.observe(data, bytes, time, duration);
        st.splitPending = st.splitPending || seen.split;
        recorded = seen.recorded;
    }
    // The first frame starts the time line: the sound queued so far is
    // placed against it.
    const kad::AviTimeline::FramePlace place = st.timeline->placeFrame(q.time);
    placeSound(st);
    if (!place.write) {
        GST_DEBUG_OBJECT(self, "frame at %" GST_TIME_FORMAT " has no free slot: dropped",
                         GST_TIME_ARGS(q.time));
        return true;
    }
    if (place.filled > 0) {
        // The frame before the gap; this one when the capture opens with it.
        const guint8* fill = data;
        gsize fillBytes = bytes;
        std::optional<kad::BufferMap> last;
        if (!st.lastFrame.empty()) {
            fill = st.lastFrame.data();
            fillBytes = st.lastFrame.size();
        } else if (st.lastBuffer) {
            last.emplace(st.lastBuffer.get(), GST_MAP_READ);
            if (*last) {
                fill = last->data();
                fillBytes = st.lastBufferBytes;
            }
        }
        for (guint64 k = place.slot - place.filled; k < place.slot; ++k) {
            if (!writeSlot(self, st, k, fill, fillBytes)) return false;
        }
    }
    if (place.filled > 0) {
        GST_OBJECT_LOCK(self);
        self->lostFrames += place.filled;
        GST_OBJECT_UNLOCK(self);
        GST_INFO_OBJECT(self, "filled %" G_GUINT64_FORMAT " missing frame slots", place.filled);
    }
    const aw::RecordingChoices choices = aw::readRecordingChoices(GST_ELEMENT(self), self->rec);
    // A cut asked for goes first: the file it opens is the new recording's,
    // and a split before it would leave a file without a frame.
    if (!switchIfAsked(self, st, place.slot)) return false;
    if (std::exchange(st.splitPending, false) && choices.split && st.file.totalFrames() > 0 &&
        !splitAtRecording(self, st, place.slot))
        return false;
    if (!writeSlot(self, st, place.slot, data, bytes)) return false;
    aw::nameByDate(GST_ELEMENT(self), st.file, self->props, st.recordings, choices.dateRoot,
                   recorded);
    // DV buffers are the demuxer's own, so keeping one costs nothing; raw
    // and JPEG frames may belong to a capture driver's few buffers, which
    // must go back to it.
    st.lastBuffer.reset();
    if (!packed.empty()) {
        st.lastFrame.swap(packed);
    } else if (st.format.kind == VideoKind::Dv) {
        st.lastFrame.clear();
        st.lastBuffer = q.buffer;
        st.lastBufferBytes = bytes;
    } else {
        st.lastFrame.assign(data, data + bytes);
    }
    return true;
}

bool hasPad(KadAviWriter* self, bool video)
{
    GST_OBJECT_LOCK(self);
    const bool has = (video ? self->videoPad : self->audioPad) != nullptr;
    GST_OBJECT_UNLOCK(self);
    return has;
}

// Sets the time line's frame rate of a source whose caps give none, once
// enough frames are queued: from the frames' duration, else the median
// spacing of their times, taken to the nearest nominal rate.
bool settleRate(KadAviWriter* self, WriterState& st)
{
    GstClockTime frame = GST_BUFFER_DURATION(st.video.front().buffer.get());
    if (!GST_CLOCK_TIME_IS_VALID(frame) || frame == 0) {
        std::vector<GstClockTime> steps;
        GstClockTime span = 0;
        for (gsize i = 1; i < st.video.size(); ++i) {
            const GstClockTime a = st.video[i - 1].time;
            const GstClockTime b = st.video[i].time;
            if (GST_CLOCK_TIME_IS_VALID(a) && GST_CLOCK_TIME_IS_VALID(b) && b > a) {
                steps.push_back(b - a);
                span += b - a;
            }
        }
        const bool enough =
            steps.size() + 1 >= kRateProbeFrames || (steps.size() >= 2 && span >= kRateProbeSpan);
        if (!enough && !st.videoEos) return false;
        frame = GST_CLOCK_TIME_NONE;
        if (!steps.empty()) {
            // The median step is one frame (fewer than half of them are
            // missing); the whole span over the frames it holds then gives
            // the rate, the jitter of the times in between cancelling out.
            std::vector<GstClockTime> sorted = steps;
            std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                             sorted.end());
            const GstClockTime median = sorted[sorted.size() / 2];
            guint64 frames = 0;
            for (GstClockTime step : steps)
                frames += std::max<guint64>(1, (step + median / 2) / median);
            frame = span / frames;
        }
    }
    st.fpsN = 25;
    st.fpsD = 1;
    if (GST_CLOCK_TIME_IS_VALID(frame)) nominalRate(frame, st.fpsN, st.fpsD);
    GST_INFO_OBJECT(self, "no frame rate in the caps: writing at %d/%d", st.fpsN, st.fpsD);
    return true;
}

// Writes everything that may be written now, in time order. Call with the
// lock held.
bool drain(KadAviWriter* self, WriterState& st)
{
    const bool withSound = hasPad(self, false);
    const bool withVideo = hasPad(self, true);
    while (!st.video.empty()) {
        if (st.fpsN == 0 && !settleRate(self, st)) break;
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
    aw::finaliseFile(GST_ELEMENT(self), st.file);
}

// Runs with the data lock held, every sync interval.
void syncTick(gpointer data)
{
    auto* self = static_cast<KadAviWriter*>(data);
    aw::syncTick(GST_ELEMENT(self), self->state->file, self->state->failed, &self->lock);
}

bool start(KadAviWriter* self)
{
    aw::StartValues start;
    if (!aw::takeStartValues(GST_ELEMENT(self), self->props, self->rec, self->framesWritten,
                             self->lostFrames, start))
        return false;
    const guint64 interval = start.syncInterval;
    g_mutex_lock(&self->lock);
    WriterState& st = *self->state;
    st.resetStreams();
    st.failed = false;
    st.flushing = false;
    st.riffLimit = start.riffLimit;
    st.syncer.arm(gint64(interval / GST_USECOND));
    st.recordings = aw::Recordings{};
    st.recordings.numbered = start.location;
    st.splitPending = false;
    const bool ok = !openFile(self, st, start.location, false).empty();
    g_mutex_unlock(&self->lock);
    return ok && aw::startSyncer(GST_ELEMENT(self), st.syncer, interval, st.file, &self->lock);
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

// Takes a buffer of the video or the sound pad onto the time line, writes
// what may be written now, then holds the pad back while it runs too far
// ahead of the other.
GstFlowReturn chain(KadAviWriter* self, bool video, GstBuffer* buffer)
{
    kad::BufferRef owned(buffer);
    g_mutex_lock(&self->lock);
    WriterState& st = *self->state;
    if (st.failed || st.finished || st.flushing) {
        const bool failed = st.failed;
        g_mutex_unlock(&self->lock);
        return failed ? GST_FLOW_ERROR : GST_FLOW_FLUSHING;
    }
    if (video ? st.format.kind == VideoKind::None : st.rate <= 0 || st.channels <= 0) {
        g_mutex_unlock(&self->lock);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("The %s format is not known.", video ? "video" : "sound"),
                          ("no caps before the first %s", video ? "frame" : "sound buffer"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime time =
        GST_CLOCK_TIME_IS_VALID(pts)
            ? gst_segment_to_running_time(video ? &st.videoSegment : &st.audioSegment,
                                          GST_FORMAT_TIME, pts)
            : GST_CLOCK_TIME_NONE;
    if (!video) {
        const guint64 samples = gst_buffer_get_size(buffer) / gsize(2 * st.channels);
        const GstClockTime duration = gst_util_uint64_scale(samples, GST_SECOND, guint64(st.rate));
        if (GST_CLOCK_TIME_IS_VALID(time))
            st.audioEnd = time + duration;
        else if (GST_CLOCK_TIME_IS_VALID(st.audioEnd))
            st.audioEnd += duration;
    }
    (video ? st.video : st.audio).push_back({std::move(owned), time});
    (video ? st.videoStalled : st.audioStalled) = false;
    bool ok = drain(self, st);
    g_cond_broadcast(&self->moved);
    if (ok && video) {
        holdBack(self, st, true, [&st] { return st.video.size() > kMaxQueuedFrames; });
        ok = !st.failed;
    } else if (ok && hasPad(self, true) && !st.videoEos) {
        holdBack(self, st, false,
                 [&st] { return !st.videoStalled && soundAhead(st) > kMaxSoundAhead; });
        ok = !st.failed;
    }
    if (!video && !st.timeline) {
        // No picture yet, and none for a while: keep only the newest sound,
        // the rest could never be placed before the first frame anyway.
        while (st.audio.size() > 1 && soundAhead(st) > 2 * kMaxSoundAhead)
            st.audio.pop_front();
    }
    // The picture's thread tells of the checkpoints the writing reached.
    const std::optional<aw::Synced> synced = ok && video ? aw::takeSynced(st.file) : std::nullopt;
    if (!ok) st.failed = true;
    g_mutex_unlock(&self->lock);
    aw::postSynced(GST_ELEMENT(self), synced);
    return ok ? GST_FLOW_OK : GST_FLOW_ERROR;
}

GstFlowReturn chainVideo(GstPad* /*pad*/, GstObject* parent, GstBuffer* buffer)
{
    return chain(KAD_AVI_WRITER(parent), true, buffer);
}

GstFlowReturn chainAudio(GstPad* /*pad*/, GstObject* parent, GstBuffer* buffer)
{
    return chain(KAD_AVI_WRITER(parent), false, buffer);
}

bool allEnded(KadAviWriter* self, const WriterState& st)
{
    // A sound input that had not begun by the first frame takes no part in
    // the file (its time line was made without sound), so once the picture
    // has ended it cannot hold the file's end: a sound pad requested for a
    // source that turns out to carry none may never see a stream at all.
    const bool soundLeftOut = st.timeline && st.soundRate == 0 && st.videoEos;
    return (!hasPad(self, true) || st.videoEos) &&
           (!hasPad(self, false) || st.audioEos || soundLeftOut);
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
        std::string refused;
        if (video) {
            VideoFormat f;
            refused = readVideoCaps(caps, f);
            if (refused.empty() && st.timeline && !f.sameAs(st.format))
                refused = "a new video format during the capture";
            ok = refused.empty();
            if (ok && !st.timeline) {
                st.format = f;
                st.fpsN = f.fpsN;
                st.fpsD = f.fpsD;
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
                              ("%s caps refused%s%s", video ? "video" : "audio",
                               refused.empty() ? "" : ": ", refused.c_str()));
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
        self->state->syncer.stop();
        g_mutex_lock(&self->lock);
        finishCapture(self, *self->state);
        g_mutex_unlock(&self->lock);
    }
    return ret;
}

static void kad_avi_writer_finalize(GObject* object)
{
    auto* self = KAD_AVI_WRITER(object);
    self->state->syncer.stop();
    aw::finaliseFile(GST_ELEMENT(self), self->state->file);
    std::destroy_at(&self->state);
    g_mutex_clear(&self->lock);
    g_cond_clear(&self->moved);
    aw::clearProperties(self->props, self->rec);
    G_OBJECT_CLASS(kad_avi_writer_parent_class)->finalize(object);
}

static void kad_avi_writer_class_init(KadAviWriterClass* klass)
{
    auto* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element, "AVI writer", "Sink/File",
        "Writes DV, raw or JPEG video and PCM sound as an OpenDML AVI file", "Kadrillo");
    gst_element_class_add_static_pad_template(element, &videoTemplate);
    gst_element_class_add_static_pad_template(element, &audioTemplate);
    element->request_new_pad = kad_avi_writer_request_new_pad;
    element->release_pad = kad_avi_writer_release_pad;
    element->change_state = kad_avi_writer_change_state;

    auto* gobject = G_OBJECT_CLASS(klass);
    gobject->finalize = kad_avi_writer_finalize;
    aw::installPropertiesOf<KadAviWriter, &KadAviWriter::lostFrames>(
        gobject,
        {
            .location = "The AVI file to write",
            .nextLocation = "File to continue into at the next frame, picture and sound cut at "
                            "the same instant",
            .syncInterval =
                "Longest time in nanoseconds before what was written is indexed on disk and "
                "synced (0 = only when the file is finished, without syncing)",
            .splitRecordings = "DV: continue into a new file at the first frame of each new "
                               "recording on the tape (a jump of the recording clock or a "
                               "recording start), picture and sound cut at the same instant",
            .dateNameRoot = "DV: when set, each file is renamed <root>_YYYY.MM.DD_HH-MM-SS plus "
                            "its extension at its first frame with a recording date (\"_2\", "
                            "\"_3\" when taken; never replacing a file)",
            .framesWritten = "Frames written to the current file, filled slots included",
            .ownCount = {"lost-frames", "Lost frames",
                         "Frame slots filled because the source did not deliver their frame"},
        });
}

static void kad_avi_writer_init(KadAviWriter* self)
{
    aw::initProperties(self->props, self->rec);
    g_mutex_init(&self->lock);
    g_cond_init(&self->moved);
    std::construct_at(&self->state, std::make_unique<WriterState>());
    self->state->syncer.bind(&self->lock, &self->moved, syncTick, self);
    self->state->resetStreams();
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SINK);
}

gboolean kad_avi_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_avi_writer_debug, "kadaviwriter", 0, "Kadrillo AVI writer");
    return gst_element_register(plugin, "kadaviwriter", GST_RANK_NONE, KAD_TYPE_AVI_WRITER);
}
