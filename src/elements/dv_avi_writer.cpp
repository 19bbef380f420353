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

#include "platform/media/gst_ptr.h"

GST_DEBUG_CATEGORY_STATIC(kad_dv_avi_writer_debug);
#define GST_CAT_DEFAULT kad_dv_avi_writer_debug

namespace {

constexpr gsize kDifBlock = 80;
constexpr gsize kSequenceBytes = 150 * kDifBlock;
constexpr gsize kNtscFrame = 10 * kSequenceBytes; // 120000
constexpr gsize kPalFrame = 12 * kSequenceBytes;  // 144000
constexpr guint64 kDefaultRiffLimit = 1024ull * 1024 * 1024;
constexpr guint64 kMinRiffLimit = 512 * 1024;
// A RIFF size field is 32 bits; stay well below it whatever the limit says.
constexpr guint64 kHardRiffLimit = 0xF0000000ull;

// The DV system of a frame, read from its first DIF block (header section,
// DSF bit: 0 = 525/60, 1 = 625/50).
struct DvSystem {
    bool pal = false;
    gsize frameBytes = 0;
};

bool readSystem(const guint8* data, gsize size, DvSystem* out)
{
    if (size < kDifBlock || (data[0] >> 5) != 0) return false;
    out->pal = (data[3] & 0x80) != 0;
    out->frameBytes = out->pal ? kPalFrame : kNtscFrame;
    return true;
}

// Finds a pack by its id in the audio DIF blocks (AAUX) of DIF sequences
// [firstSeq, lastSeq) and returns its four data bytes as the little-endian
// DWORD DVINFO keeps; 0xFFFFFFFF (the "no info" pack) when absent.
guint32 findAudioPack(const guint8* frame, int firstSeq, int lastSeq, guint8 id)
{
    for (int s = firstSeq; s < lastSeq; ++s) {
        for (int a = 0; a < 9; ++a) {
            const guint8* block = frame + s * kSequenceBytes + (6 + a * 16) * kDifBlock;
            if (block[3] == id) return GST_READ_UINT32_LE(block + 4);
        }
    }
    return 0xFFFFFFFFu;
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

// The same in the VAUX blocks (blocks 3 to 5 of a sequence, 15 packs each).
guint32 findVideoPack(const guint8* frame, int sequences, guint8 id)
{
    for (int s = 0; s < sequences; ++s) {
        for (int b = 3; b < 6; ++b) {
            const guint8* block = frame + s * kSequenceBytes + b * kDifBlock;
            for (int p = 0; p < 15; ++p) {
                if (block[3 + p * 5] == id) return GST_READ_UINT32_LE(block + 4 + p * 5);
            }
        }
    }
    return 0xFFFFFFFFu;
}

void put16(std::vector<guint8>& v, guint16 x)
{
    v.push_back(x & 0xFF);
    v.push_back(x >> 8);
}
void put32(std::vector<guint8>& v, guint32 x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back((x >> (8 * i)) & 0xFF);
}
void put64(std::vector<guint8>& v, guint64 x)
{
    put32(v, guint32(x));
    put32(v, guint32(x >> 32));
}
void putFourcc(std::vector<guint8>& v, const char* cc)
{
    v.insert(v.end(), cc, cc + 4);
}

// Fixed layout of the first RIFF's header; every field patched at the end
// sits at a known offset.
constexpr guint64 kAvihData = 32;  // after 'RIFF' hdr, 'LIST' hdr, 'hdrl', 'avih' hdr
constexpr guint64 kStrlList = 88;  // 'LIST' .. 'strl'
constexpr guint64 kStrhData = 108; // after 'strh' header
constexpr guint64 kStrfData = 172; // after 'strf' header
constexpr guint64 kIndxChunk = 204;
constexpr guint64 kIndxHeader = 24;
constexpr guint64 kMoviList = 16384; // the first 'movi' LIST starts here
constexpr guint32 kDmlhBytes = 248;
constexpr guint32 kAviIndexOfIndexes = 0x00;
constexpr guint32 kAviIndexOfChunks = 0x01;
constexpr guint32 kKeyFrameFlag = 0x10;

// Enough super index slots for 16 TiB (the largest file ext4 holds) at the
// chosen chunk size: 16384 slots, 256 KiB of header, at the default 1 GiB.
constexpr guint64 kLargestFile = 16ull << 40;
constexpr guint64 kMinSuperSlots = 256;
constexpr guint64 kMaxSuperSlots = 32768;

// One type-1 DV AVI file being written. The caller serialises every call.
//
// The file on disk is a readable AVI at every checkpoint: the open chunk
// carries a standard index of all its frames so far (a newer one replaces it
// in the super index at the next checkpoint; the old one stays in 'movi' as
// an index chunk readers skip), and its RIFF and 'movi' sizes end right
// after that index. Frames written after the last checkpoint lie beyond the
// sizes and outside every index, so a reader of a killed capture stops
// cleanly at the last checkpoint.
class DvAviFile {
public:
    ~DvAviFile() { closeFd(); }

    // Opens (creates, truncates) the file. With `durable`, every checkpoint
    // and the end of every RIFF chunk reach the disk (fdatasync) before the
    // headers point at them, and again after. errno is left for the caller.
    bool open(const std::string& path, guint64 riffLimit, bool durable)
    {
        closeFd();
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) return false;
        path_ = path;
        durable_ = durable;
        riffLimit_ = std::min(std::max(riffLimit, kMinRiffLimit), kHardRiffLimit);
        superSlots_ =
            guint32(std::clamp(kLargestFile / riffLimit_, kMinSuperSlots, kMaxSuperSlots));
        headerWritten_ = false;
        pos_ = 0;
        totalFrames_ = 0;
        framesOnDisk_ = 0;
        firstRiffFrames_ = 0;
        supOnDisk_ = 0;
        published_ = false;
        riffs_.clear();
        current_ = Riff{};
        return true;
    }

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    guint64 totalFrames() const { return totalFrames_; }
    // Frames the indexes on disk cover (all of them once finalised).
    guint64 framesOnDisk() const { return framesOnDisk_; }

    // True once after each time the headers and indexes reached the disk.
    bool takePublished() { return std::exchange(published_, false); }

    // Appends one whole DV frame. On failure errno says why and the file is
    // left at its last complete frame; call finalise() to close it readable.
    bool writeFrame(const guint8* frame, gsize size)
    {
        if (!headerWritten_) {
            if (!readSystem(frame, size, &system_)) {
                errno = EINVAL;
                return false;
            }
            takeStreamInfo(frame);
            if (!writeHeader()) return false;
            if (!beginRiff(true)) return false;
        } else if (!streamInfoSure_) {
            // The first frame's sound was damaged: the first sound frame
            // describes the stream instead, in place in the header.
            if (takeStreamInfo(frame)) {
                std::vector<guint8> info;
                for (guint32 d : dvinfo_)
                    put32(info, d);
                if (!patch(kStrfData, info.data(), info.size())) return false;
            }
        }
        // Room for this frame and the indexes that close the chunk.
        const guint64 after = pos_ + 8 + size + indexBytes(current_.entries.size() + 1);
        if (!current_.entries.empty() && after - current_.start > riffLimit_) {
            if (riffs_.size() + 1 >= superSlots_ && after - current_.start > kHardRiffLimit) {
                errno = EFBIG;
                return false;
            }
            if (riffs_.size() + 1 < superSlots_ && (!endRiff() || !publish() || !beginRiff(false)))
                return false;
        }
        const guint64 chunkPos = pos_;
        std::vector<guint8> hdr;
        putFourcc(hdr, "00dc");
        put32(hdr, guint32(size));
        if (!writeAll(hdr.data(), hdr.size()) || !writeAll(frame, size)) {
            rollBackTo(chunkPos);
            return false;
        }
        if (size & 1) {
            const guint8 pad = 0;
            if (!writeAll(&pad, 1)) {
                rollBackTo(chunkPos);
                return false;
            }
        }
        current_.entries.push_back({chunkPos, guint32(size)});
        ++totalFrames_;
        return true;
    }

    // Brings the indexes and headers on disk up to every frame written so
    // far. Nothing to do when they already are.
    bool checkpoint()
    {
        if (fd_ < 0 || !headerWritten_ || framesOnDisk_ == totalFrames_) return true;
        const gsize n = current_.entries.size();
        if (n > 0 && n != current_.live.frames) {
            // Near the hard size limit the open chunk keeps only the room for
            // its closing index; it ends within a few frames anyway.
            const guint64 bytes = 32 + 8 * guint64(n);
            if (pos_ + bytes + indexBytes(n) - current_.start <= kHardRiffLimit) {
                const guint64 at = pos_;
                const std::vector<guint8> ix = standardIndex();
                if (!writeAll(ix.data(), ix.size())) {
                    rollBackTo(at);
                    return false;
                }
                current_.live = {at, guint32(ix.size()), guint32(n)};
            }
        }
        return publish();
    }

    // Closes the file readable: indexes, sizes and frame counts. When the
    // indexes no longer fit (disk full), the newest frames are given up one by
    // one until they do. Returns false when something could not be written;
    // the file is readable either way.
    bool finalise()
    {
        if (fd_ < 0) return true;
        bool ok = true;
        if (headerWritten_) {
            bool closed = endRiff();
            while (!closed && dropLastFrame()) {
                ok = false;
                closed = endRiff();
            }
            if (!closed) {
                // Not even an empty index fits: keep the sizes right so that
                // readers still walk the frames.
                ok = false;
                patch32(current_.moviList + 4, guint32(pos_ - current_.moviList - 8));
                patch32(current_.start + 4, guint32(pos_ - current_.start - 8));
            }
            if (ftruncate(fd_, off_t(pos_)) != 0) ok = false;
            ok = publish() && ok;
        }
        if (close(fd_) != 0) ok = false;
        fd_ = -1;
        return ok;
    }

private:
    struct Entry {
        guint64 chunkPos; // position of the '00dc' chunk header
        guint32 size;
    };
    // A standard index chunk and the frames it covers.
    struct Index {
        guint64 pos = 0;
        guint32 size = 0;
        guint32 frames = 0;
    };
    struct Riff {
        guint64 start = 0;    // position of 'RIFF'
        guint64 moviList = 0; // position of 'LIST' of 'movi'
        bool first = false;
        bool closed = false;
        std::vector<Entry> entries;
        Index live; // the newest index of the open chunk, on disk
    };
    struct Closed {
        guint64 start;
        Index ix;
    };

    void closeFd()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    guint64 indexBytes(gsize frames) const
    {
        const guint64 ix = 32 + 8 * guint64(frames);
        return current_.first ? ix + 8 + 16 * guint64(frames) : ix;
    }

    bool writeAll(const guint8* data, gsize size)
    {
        while (size > 0) {
            const ssize_t n = pwrite(fd_, data, size, off_t(pos_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
            pos_ += guint64(n);
            data += n;
            size -= gsize(n);
        }
        return true;
    }

    bool patch(guint64 at, const void* data, gsize size)
    {
        const auto* p = static_cast<const guint8*>(data);
        while (size > 0) {
            const ssize_t n = pwrite(fd_, p, size, off_t(at));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
            at += guint64(n);
            p += n;
            size -= gsize(n);
        }
        return true;
    }

    bool patch32(guint64 at, guint32 value)
    {
        guint8 b[4];
        GST_WRITE_UINT32_LE(b, value);
        return patch(at, b, 4);
    }

    bool syncData()
    {
        if (!durable_) return true;
        while (fdatasync(fd_) != 0) {
            if (errno == EINVAL || errno == ENOTSUP) {
                // A device or file system that cannot sync: the capture goes
                // on, as durable as the target allows.
                GST_WARNING("%s cannot be synced: %s", path_.c_str(), g_strerror(errno));
                durable_ = false;
                return true;
            }
            if (errno != EINTR) return false;
        }
        return true;
    }

    void rollBackTo(guint64 at)
    {
        const int saved = errno;
        pos_ = at;
        if (ftruncate(fd_, off_t(at)) != 0)
            GST_WARNING("could not cut %s back to %" G_GUINT64_FORMAT, path_.c_str(), at);
        errno = saved;
    }

    // Reads the DVINFO packs of a frame. True when its AAUX source pack is
    // sound: those packs are kept for good. Otherwise they stand until a
    // frame with a sound one comes.
    bool takeStreamInfo(const guint8* frame)
    {
        const guint32 source = findAudioPack(frame, 0, 1, 0x50);
        streamInfoSure_ = plausibleAudioSource(source, system_.pal);
        if (!streamInfoSure_ && headerWritten_) return false;
        const int half = system_.pal ? 6 : 5;
        dvinfo_[0] = source;
        dvinfo_[1] = findAudioPack(frame, 0, 1, 0x51);
        dvinfo_[2] = findAudioPack(frame, half, half + 1, 0x50);
        dvinfo_[3] = findAudioPack(frame, half, half + 1, 0x51);
        dvinfo_[4] = findVideoPack(frame, 1, 0x60);
        dvinfo_[5] = findVideoPack(frame, 1, 0x61);
        return streamInfoSure_;
    }

    guint32 rate() const { return system_.pal ? 25 : 30000; }
    guint32 scale() const { return system_.pal ? 1 : 1001; }

    bool writeHeader()
    {
        const guint32 width = 720;
        const guint32 height = system_.pal ? 576 : 480;
        const guint32 frame = guint32(system_.frameBytes);
        std::vector<guint8> h;
        h.reserve(kMoviList);
        putFourcc(h, "RIFF");
        put32(h, 0);
        putFourcc(h, "AVI ");
        putFourcc(h, "LIST");
        put32(h, 0); // hdrl size, set below
        putFourcc(h, "hdrl");
        putFourcc(h, "avih");
        put32(h, 56);
        put32(h, system_.pal ? 40000 : 33367);
        put32(h, frame * (system_.pal ? 25 : 30));
        put32(h, 0);
        put32(h, 0x10 | 0x100); // AVIF_HASINDEX | AVIF_ISINTERLEAVED
        put32(h, 0);            // total frames of the first RIFF, patched
        put32(h, 0);
        put32(h, 1);
        put32(h, frame);
        put32(h, width);
        put32(h, height);
        for (int i = 0; i < 4; ++i)
            put32(h, 0);
        g_assert(h.size() == kStrlList);
        putFourcc(h, "LIST");
        put32(h, 0); // strl size, set below
        putFourcc(h, "strl");
        putFourcc(h, "strh");
        put32(h, 56);
        putFourcc(h, "iavs");
        putFourcc(h, "dvsd");
        put32(h, 0);
        put16(h, 0);
        put16(h, 0);
        put32(h, 0);
        put32(h, scale());
        put32(h, rate());
        put32(h, 0);
        put32(h, 0); // length in frames, patched
        put32(h, frame);
        put32(h, 0xFFFFFFFFu);
        put32(h, 0);
        put16(h, 0);
        put16(h, 0);
        put16(h, guint16(width));
        put16(h, guint16(height));
        putFourcc(h, "strf");
        put32(h, 32);
        for (guint32 d : dvinfo_)
            put32(h, d);
        put32(h, 0);
        put32(h, 0);
        g_assert(h.size() == kIndxChunk);
        putFourcc(h, "indx");
        put32(h, guint32(kIndxHeader + 16 * guint64(superSlots_)));
        put16(h, 4);
        h.push_back(0);
        h.push_back(kAviIndexOfIndexes);
        put32(h, 0); // entries in use, patched
        putFourcc(h, "00dc");
        put32(h, 0);
        put32(h, 0);
        put32(h, 0);
        h.resize(h.size() + 16 * gsize(superSlots_), 0);
        const gsize strlEnd = h.size();
        putFourcc(h, "LIST");
        put32(h, 4 + 8 + kDmlhBytes);
        putFourcc(h, "odml");
        putFourcc(h, "dmlh");
        put32(h, kDmlhBytes);
        h.resize(h.size() + kDmlhBytes, 0);
        const gsize hdrlEnd = h.size();
        GST_WRITE_UINT32_LE(h.data() + 16, guint32(hdrlEnd - 20));
        GST_WRITE_UINT32_LE(h.data() + kStrlList + 4, guint32(strlEnd - kStrlList - 8));
        moviAt_ = std::max<guint64>(kMoviList, (hdrlEnd + 8 + 4095) & ~guint64(4095));
        putFourcc(h, "JUNK");
        put32(h, guint32(moviAt_ - hdrlEnd - 8));
        h.resize(moviAt_, 0);
        dmlhAt_ = hdrlEnd - kDmlhBytes;
        pos_ = 0;
        if (!writeAll(h.data(), h.size())) return false;
        headerWritten_ = true;
        return true;
    }

    bool beginRiff(bool first)
    {
        current_ = Riff{};
        current_.first = first;
        if (first) {
            current_.start = 0;
        } else {
            current_.start = pos_;
            std::vector<guint8> h;
            putFourcc(h, "RIFF");
            put32(h, 0);
            putFourcc(h, "AVIX");
            if (!writeAll(h.data(), h.size())) {
                rollBackTo(current_.start);
                return false;
            }
        }
        current_.moviList = pos_;
        std::vector<guint8> h;
        putFourcc(h, "LIST");
        put32(h, 0);
        putFourcc(h, "movi");
        if (!writeAll(h.data(), h.size())) {
            rollBackTo(current_.start);
            return false;
        }
        return true;
    }

    // A standard index of every frame of the open chunk.
    std::vector<guint8> standardIndex() const
    {
        const guint64 base = current_.start;
        const gsize n = current_.entries.size();
        std::vector<guint8> ix(32 + 8 * n);
        guint8* d = ix.data();
        std::memcpy(d, "ix00", 4);
        GST_WRITE_UINT32_LE(d + 4, guint32(24 + 8 * n));
        GST_WRITE_UINT16_LE(d + 8, 2);
        d[10] = 0;
        d[11] = kAviIndexOfChunks;
        GST_WRITE_UINT32_LE(d + 12, guint32(n));
        std::memcpy(d + 16, "00dc", 4);
        GST_WRITE_UINT64_LE(d + 20, base);
        GST_WRITE_UINT32_LE(d + 28, 0);
        d += 32;
        for (const Entry& e : current_.entries) {
            GST_WRITE_UINT32_LE(d, guint32(e.chunkPos + 8 - base));
            GST_WRITE_UINT32_LE(d + 4, e.size);
            d += 8;
        }
        return ix;
    }

    // Writes the chunk's closing standard index (and, for the first RIFF,
    // 'idx1'), and closes its sizes. An empty extension chunk is removed
    // instead.
    bool endRiff()
    {
        if (current_.closed) return true;
        const guint64 restart = pos_;
        if (!current_.first && current_.entries.empty()) {
            rollBackTo(current_.start);
            current_.closed = true;
            return true;
        }
        const guint64 ixPos = pos_;
        const std::vector<guint8> ix = standardIndex();
        if (!writeAll(ix.data(), ix.size())) {
            rollBackTo(restart);
            return false;
        }
        const guint64 moviEnd = pos_;
        if (current_.first) {
            std::vector<guint8> idx;
            putFourcc(idx, "idx1");
            put32(idx, guint32(16 * current_.entries.size()));
            const guint64 moviFourcc = current_.moviList + 8;
            for (const Entry& e : current_.entries) {
                putFourcc(idx, "00dc");
                put32(idx, kKeyFrameFlag);
                put32(idx, guint32(e.chunkPos - moviFourcc));
                put32(idx, e.size);
            }
            if (!writeAll(idx.data(), idx.size())) {
                rollBackTo(restart);
                return false;
            }
        }
        // The chunk's sizes may only grow over its index once that index is
        // on disk: until then the last checkpoint's sizes stand.
        if (!syncData() ||
            !patch32(current_.moviList + 4, guint32(moviEnd - current_.moviList - 8)) ||
            !patch32(current_.start + 4, guint32(pos_ - current_.start - 8))) {
            rollBackTo(restart);
            return false;
        }
        const guint32 frames = guint32(current_.entries.size());
        riffs_.push_back({current_.start, {ixPos, guint32(ix.size()), frames}});
        if (current_.first) firstRiffFrames_ = frames;
        current_.entries.clear();
        current_.live = Index{};
        current_.closed = true;
        return true;
    }

    // Gives up the newest frame of the open chunk to make room for indexes.
    bool dropLastFrame()
    {
        if (current_.entries.empty()) {
            if (current_.first) return false;
            rollBackTo(current_.start);
            current_.closed = true;
            return true;
        }
        GST_WARNING("giving up the last frame of %s to close its index", path_.c_str());
        rollBackTo(current_.entries.back().chunkPos);
        current_.entries.pop_back();
        if (current_.live.pos >= pos_) current_.live = Index{};
        --totalFrames_;
        return true;
    }

    // Makes what was appended durable, then points the headers at it, then
    // makes the headers durable: whenever the power goes, the headers on
    // disk describe data that is on disk.
    bool publish()
    {
        if (!syncData() || !patchHeaders() || !syncData()) return false;
        guint64 frames = current_.closed ? 0 : current_.live.frames;
        for (const Closed& c : riffs_)
            frames += c.ix.frames;
        framesOnDisk_ = frames;
        published_ = durable_;
        return true;
    }

    bool patchHeaders()
    {
        const bool open = !current_.closed && current_.live.frames > 0;
        guint64 indexed = open ? current_.live.frames : 0;
        for (const Closed& c : riffs_)
            indexed += c.ix.frames;
        const guint32 frames32 = guint32(std::min<guint64>(indexed, G_MAXUINT32));
        const guint32 firstFrames =
            riffs_.empty() ? (open ? current_.live.frames : 0) : firstRiffFrames_;

        // New super index entries first, the count of entries in use last:
        // a reader of a half-patched header sees the previous checkpoint.
        std::vector<guint8> sup;
        const gsize from = std::min<gsize>(supOnDisk_, riffs_.size());
        for (gsize i = from; i < riffs_.size(); ++i) {
            put64(sup, riffs_[i].ix.pos);
            put32(sup, riffs_[i].ix.size);
            put32(sup, riffs_[i].ix.frames);
        }
        if (open) {
            put64(sup, current_.live.pos);
            put32(sup, current_.live.size);
            put32(sup, current_.live.frames);
        }
        bool ok = true;
        if (!sup.empty())
            ok = patch(kIndxChunk + 8 + kIndxHeader + 16 * guint64(from), sup.data(), sup.size());
        if (ok) supOnDisk_ = riffs_.size();
        if (open) {
            const guint64 end = current_.live.pos + current_.live.size;
            ok = patch32(current_.moviList + 4, guint32(end - current_.moviList - 8)) && ok;
            ok = patch32(current_.start + 4, guint32(end - current_.start - 8)) && ok;
        }
        ok = patch32(kAvihData + 16, firstFrames) && ok;
        ok = patch32(kStrhData + 32, frames32) && ok;
        ok = patch32(dmlhAt_, frames32) && ok;
        ok = patch32(kIndxChunk + 12, guint32(riffs_.size() + (open ? 1 : 0))) && ok;
        return ok;
    }

    int fd_ = -1;
    std::string path_;
    bool durable_ = false;
    guint64 riffLimit_ = kDefaultRiffLimit;
    guint32 superSlots_ = kMinSuperSlots;
    bool headerWritten_ = false;
    DvSystem system_;
    guint32 dvinfo_[6] = {};
    bool streamInfoSure_ = false;
    guint64 pos_ = 0;
    guint64 moviAt_ = kMoviList;
    guint64 dmlhAt_ = 0;
    guint64 totalFrames_ = 0;
    guint64 framesOnDisk_ = 0;
    guint32 firstRiffFrames_ = 0;
    gsize supOnDisk_ = 0; // closed chunks whose super index entry is on disk
    bool published_ = false;
    Riff current_;
    std::vector<Closed> riffs_;
};

} // namespace

struct _KadDvAviWriter {
    GstBaseSink parent;

    // Guarded by the object lock.
    gchar* location;
    gchar* nextLocation;
    guint64 riffLimit;
    guint64 syncInterval;
    guint64 framesWritten;
    guint64 framesRejected;

    // The file and everything below are guarded by fileLock: the streaming
    // thread writes, the syncer thread checkpoints, start/stop open and
    // close. The object lock may be taken inside fileLock, never the other way round.
    GMutex fileLock;
    GCond syncerWake;
    std::unique_ptr<DvAviFile> file;
    bool failed;
    GThread* syncer; // set and joined by start/stop only
    bool syncerStop;
    gint64 syncerPeriod; // microseconds
};

enum {
    PROP_0,
    PROP_LOCATION,
    PROP_NEXT_LOCATION,
    PROP_RIFF_LIMIT,
    PROP_SYNC_INTERVAL,
    PROP_FRAMES_WRITTEN,
    PROP_FRAMES_REJECTED,
};

constexpr guint64 kDefaultSyncInterval = 5 * GST_SECOND;
// Below this, syncing would cost more than a frame's time on common disks.
constexpr guint64 kMinSyncInterval = 10 * GST_MSECOND;

G_DEFINE_TYPE(KadDvAviWriter, kad_dv_avi_writer, GST_TYPE_BASE_SINK)

static GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-dv, systemstream = (boolean) true"));

namespace {

bool isNoSpace(int err)
{
    return err == ENOSPC || err == EFBIG || err == EDQUOT;
}

void postWriteError(KadDvAviWriter* self, int err, const std::string& path)
{
    if (isNoSpace(err)) {
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
    if (!synced) return;
    gst_element_post_message(
        GST_ELEMENT(self),
        gst_message_new_element(GST_OBJECT(self),
                                gst_structure_new("kad-file-synced", "location", G_TYPE_STRING,
                                                  synced->path.c_str(), "frames", G_TYPE_UINT64,
                                                  synced->frames, nullptr)));
}

// Finalises the open file; posts a warning (never an error: the data already
// written stays) when the indexes could not all be written. Call with
// fileLock held.
void finaliseFile(KadDvAviWriter* self)
{
    if (!self->file || !self->file->isOpen()) return;
    const std::string path = self->file->path();
    if (!self->file->finalise()) {
        GST_ELEMENT_WARNING(self, RESOURCE, WRITE,
                            ("The end of the capture file could not be completed."),
                            ("finalising %s: %s", path.c_str(), g_strerror(errno)));
    }
    self->file->takePublished();
}

bool openFile(KadDvAviWriter* self, const gchar* path, guint64 limit, bool durable)
{
    if (!self->file->open(path, limit, durable)) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE,
                          ("The capture file \"%s\" could not be created.", path),
                          ("open: %s", g_strerror(errno)));
        return false;
    }
    return true;
}

// Brings the open file's indexes to disk every sync-interval, whether frames
// flow or not: a tape that stops must not leave the frames before it
// unindexed until the next one comes.
gpointer syncerLoop(gpointer data)
{
    auto* self = static_cast<KadDvAviWriter*>(data);
    g_mutex_lock(&self->fileLock);
    while (!self->syncerStop) {
        const gint64 due = g_get_monotonic_time() + self->syncerPeriod;
        while (!self->syncerStop && g_get_monotonic_time() < due)
            g_cond_wait_until(&self->syncerWake, &self->fileLock, due);
        if (self->syncerStop || self->failed) continue;
        if (!self->file->checkpoint()) {
            // Reported now, not at the next frame: the source may have
            // stopped. The streaming thread refuses what comes next.
            postWriteError(self, errno ? errno : EIO, self->file->path());
            self->failed = true;
            continue;
        }
        const std::optional<Synced> synced = takeSynced(self);
        g_mutex_unlock(&self->fileLock);
        postSynced(self, synced);
        g_mutex_lock(&self->fileLock);
    }
    g_mutex_unlock(&self->fileLock);
    return nullptr;
}

void stopSyncer(KadDvAviWriter* self)
{
    g_mutex_lock(&self->fileLock);
    self->syncerStop = true;
    g_cond_broadcast(&self->syncerWake);
    GThread* syncer = std::exchange(self->syncer, nullptr);
    g_mutex_unlock(&self->fileLock);
    if (syncer) g_thread_join(syncer);
}

} // namespace

static void kad_dv_avi_writer_set_property(GObject* object, guint id, const GValue* value,
                                           GParamSpec* pspec)
{
    auto* self = KAD_DV_AVI_WRITER(object);
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

static void kad_dv_avi_writer_get_property(GObject* object, guint id, GValue* value,
                                           GParamSpec* pspec)
{
    auto* self = KAD_DV_AVI_WRITER(object);
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
    case PROP_FRAMES_REJECTED:
        g_value_set_uint64(value, self->framesRejected);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    GST_OBJECT_UNLOCK(self);
}

static gboolean kad_dv_avi_writer_start(GstBaseSink* sink)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    GST_OBJECT_LOCK(self);
    gchar* path = g_strdup(self->location);
    g_clear_pointer(&self->nextLocation, g_free);
    const guint64 limit = self->riffLimit;
    const guint64 interval = self->syncInterval;
    self->framesWritten = 0;
    self->framesRejected = 0;
    GST_OBJECT_UNLOCK(self);
    if (!path || !*path) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No file name was given for the capture."),
                          ("the location property is empty"));
        g_free(path);
        return FALSE;
    }
    g_mutex_lock(&self->fileLock);
    self->failed = false;
    self->syncerStop = false;
    self->syncerPeriod = gint64(interval / GST_USECOND);
    const bool ok = openFile(self, path, limit, interval > 0);
    g_mutex_unlock(&self->fileLock);
    g_free(path);
    if (!ok || interval == 0) return ok;
    GError* error = nullptr;
    GThread* syncer = g_thread_try_new("kadavisync", syncerLoop, self, &error);
    if (!syncer) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("The capture could not be started."),
                          ("no syncer thread: %s", error->message));
        g_error_free(error);
        g_mutex_lock(&self->fileLock);
        finaliseFile(self);
        g_mutex_unlock(&self->fileLock);
        return FALSE;
    }
    g_mutex_lock(&self->fileLock);
    self->syncer = syncer;
    g_mutex_unlock(&self->fileLock);
    return TRUE;
}

static gboolean kad_dv_avi_writer_stop(GstBaseSink* sink)
{
    auto* self = KAD_DV_AVI_WRITER(sink);
    stopSyncer(self);
    g_mutex_lock(&self->fileLock);
    finaliseFile(self);
    g_mutex_unlock(&self->fileLock);
    return TRUE;
}

// Applies a pending next-location: the current file is finished before the
// frame that belongs to the new one. Call with fileLock held.
static bool switchIfAsked(KadDvAviWriter* self)
{
    GST_OBJECT_LOCK(self);
    gchar* next = std::exchange(self->nextLocation, nullptr);
    const guint64 limit = self->riffLimit;
    GST_OBJECT_UNLOCK(self);
    if (!next) return true;
    const std::string old = self->file->path();
    const guint64 frames = self->file->totalFrames();
    finaliseFile(self);
    const bool ok = openFile(self, next, limit, self->syncerPeriod > 0);
    if (ok) {
        GST_OBJECT_LOCK(self);
        g_free(self->location);
        self->location = g_strdup(next);
        self->framesWritten = 0;
        GST_OBJECT_UNLOCK(self);
        gst_element_post_message(
            GST_ELEMENT(self),
            gst_message_new_element(GST_OBJECT(self),
                                    gst_structure_new("kad-file-switched", "old-location",
                                                      G_TYPE_STRING, old.c_str(), "new-location",
                                                      G_TYPE_STRING, next, "frames", G_TYPE_UINT64,
                                                      frames, nullptr)));
    }
    g_free(next);
    return ok;
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
        if (!self->file->writeFrame(map.data() + off, sys.frameBytes)) {
            const int err = errno;
            postWriteError(self, err, self->file->path());
            finaliseFile(self);
            self->failed = true;
            ret = GST_FLOW_ERROR;
            break;
        }
        ++written;
        off += sys.frameBytes;
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

static void kad_dv_avi_writer_finalize(GObject* object)
{
    auto* self = KAD_DV_AVI_WRITER(object);
    stopSyncer(self);
    finaliseFile(self);
    std::destroy_at(&self->file);
    g_mutex_clear(&self->fileLock);
    g_cond_clear(&self->syncerWake);
    g_free(self->location);
    g_free(self->nextLocation);
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

    g_object_class_install_property(
        gobject, PROP_LOCATION,
        g_param_spec_string("location", "File location", "The type-1 DV AVI file to write", nullptr,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_NEXT_LOCATION,
        g_param_spec_string("next-location", "Next file location",
                            "File to continue into before the next frame (cut without loss)",
                            nullptr, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_RIFF_LIMIT,
        g_param_spec_uint64("riff-limit", "RIFF chunk limit",
                            "Largest size in bytes of one RIFF chunk of the file", kMinRiffLimit,
                            kHardRiffLimit, kDefaultRiffLimit,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject, PROP_SYNC_INTERVAL,
        g_param_spec_uint64(
            "sync-interval", "Sync interval",
            "Longest time in nanoseconds before written frames are indexed on disk and synced "
            "(0 = only when the file is finished, without syncing)",
            0, G_MAXUINT64, kDefaultSyncInterval,
            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
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
    self->riffLimit = kDefaultRiffLimit;
    self->syncInterval = kDefaultSyncInterval;
    g_mutex_init(&self->fileLock);
    g_cond_init(&self->syncerWake);
    std::construct_at(&self->file, std::make_unique<DvAviFile>());
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}

gboolean kad_dv_avi_writer_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(kad_dv_avi_writer_debug, "kaddvaviwriter", 0,
                            "Kadrillo type-1 DV AVI writer");
    return gst_element_register(plugin, "kaddvaviwriter", GST_RANK_NONE, KAD_TYPE_DV_AVI_WRITER);
}
