#include "elements/avi_file.h"

#include <gst/gst.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

GST_DEBUG_CATEGORY_STATIC(kad_avi_file_debug);
#define GST_CAT_DEFAULT kad_avi_file_debug

namespace kad {
namespace {

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
    char c[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && cc[i]; ++i)
        c[i] = cc[i];
    v.insert(v.end(), c, c + 4);
}

constexpr guint64 kAvihData = 32; // after 'RIFF' hdr, 'LIST' hdr, 'hdrl', 'avih' hdr
constexpr guint64 kIndxHeader = 24;
constexpr guint64 kMoviList = 16384; // the first 'movi' LIST starts here at the earliest
constexpr guint32 kDmlhBytes = 248;
constexpr guint32 kAviIndexOfIndexes = 0x00;
constexpr guint32 kAviIndexOfChunks = 0x01;
constexpr guint32 kKeyFrameFlag = 0x10;

// Enough super index slots for 16 TiB (the largest file ext4 holds) at the
// chosen chunk size: 16384 slots, 256 KiB of header per stream, at the
// default 1 GiB.
constexpr guint64 kLargestFile = 16ull << 40;
constexpr guint64 kMinSuperSlots = 256;
constexpr guint64 kMaxSuperSlots = 32768;

void ensureDebug()
{
    static gsize once = 0;
    if (g_once_init_enter(&once)) {
        GST_DEBUG_CATEGORY_INIT(kad_avi_file_debug, "kadavifile", 0, "Kadrillo AVI files");
        g_once_init_leave(&once, 1);
    }
}

} // namespace

AviFile::~AviFile()
{
    closeFd();
}

void AviFile::closeFd()
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool AviFile::open(const std::string& path, guint64 riffLimit, bool durable, bool exclusive)
{
    ensureDebug();
    closeFd();
    fd_ =
        ::open(path.c_str(), O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC) | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    path_ = path;
    durable_ = durable;
    riffLimit_ = std::min(std::max(riffLimit, kMinRiffLimit), kHardRiffLimit);
    superSlots_ = guint32(std::clamp(kLargestFile / riffLimit_, kMinSuperSlots, kMaxSuperSlots));
    headerWritten_ = false;
    pos_ = 0;
    layout_.clear();
    chunkIds_.clear();
    totalUnits_.clear();
    framesOnDisk_ = 0;
    firstRiffFrames_ = 0;
    supOnDisk_.clear();
    closedIdx_.clear();
    riffCount_ = 0;
    published_ = false;
    current_ = Riff{};
    return true;
}

bool AviFile::takePublished()
{
    return std::exchange(published_, false);
}

guint64 AviFile::indexBytes(const std::vector<gsize>& counts, gsize total) const
{
    guint64 bytes = 0;
    for (gsize n : counts) {
        if (n > 0) bytes += 32 + 8 * guint64(n);
    }
    return current_.first ? bytes + 8 + 16 * guint64(total) : bytes;
}

bool AviFile::writeAll(const guint8* data, gsize size)
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

bool AviFile::patch(guint64 at, const void* data, gsize size)
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

bool AviFile::patch32(guint64 at, guint32 value)
{
    guint8 b[4];
    GST_WRITE_UINT32_LE(b, value);
    return patch(at, b, 4);
}

bool AviFile::syncData()
{
    if (!durable_) return true;
    while (fdatasync(fd_) != 0) {
        if (errno == EINVAL || errno == ENOTSUP) {
            // A device or file system that cannot sync: the capture goes on,
            // as durable as the target allows.
            GST_WARNING("%s cannot be synced: %s", path_.c_str(), g_strerror(errno));
            durable_ = false;
            return true;
        }
        if (errno != EINTR) return false;
    }
    return true;
}

void AviFile::rollBackTo(guint64 at)
{
    const int saved = errno;
    pos_ = at;
    if (ftruncate(fd_, off_t(at)) != 0)
        GST_WARNING("could not cut %s back to %" G_GUINT64_FORMAT, path_.c_str(), at);
    errno = saved;
}

bool AviFile::begin(const Header& header)
{
    if (fd_ < 0 || headerWritten_ || header.streams.empty()) {
        errno = EINVAL;
        return false;
    }
    const gsize streams = header.streams.size();
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
    put32(h, header.microSecPerFrame);
    put32(h, header.maxBytesPerSec);
    put32(h, 0);
    put32(h, 0x10 | 0x100); // AVIF_HASINDEX | AVIF_ISINTERLEAVED
    put32(h, 0);            // total frames of the first RIFF, patched
    put32(h, 0);
    put32(h, guint32(streams));
    put32(h, header.suggestedBuffer);
    put32(h, header.width);
    put32(h, header.height);
    for (int i = 0; i < 4; ++i)
        put32(h, 0);
    layout_.assign(streams, Layout{});
    for (gsize s = 0; s < streams; ++s) {
        const Stream& st = header.streams[s];
        const gsize strl = h.size();
        putFourcc(h, "LIST");
        put32(h, 0); // strl size, set below
        putFourcc(h, "strl");
        putFourcc(h, "strh");
        put32(h, 56);
        layout_[s].strhData = h.size();
        putFourcc(h, st.type);
        if (st.handler[0])
            putFourcc(h, st.handler);
        else
            put32(h, 0);
        put32(h, 0);
        put16(h, 0);
        put16(h, 0);
        put32(h, 0);
        put32(h, st.scale);
        put32(h, st.rate);
        put32(h, 0);
        put32(h, 0); // length, patched
        put32(h, st.suggestedBuffer);
        put32(h, 0xFFFFFFFFu);
        put32(h, st.sampleSize);
        put16(h, 0);
        put16(h, 0);
        put16(h, st.width);
        put16(h, st.height);
        putFourcc(h, "strf");
        put32(h, guint32(st.format.size()));
        layout_[s].strfData = h.size();
        h.insert(h.end(), st.format.begin(), st.format.end());
        if (st.format.size() & 1) h.push_back(0);
        layout_[s].indx = h.size();
        putFourcc(h, "indx");
        put32(h, guint32(kIndxHeader + 16 * guint64(superSlots_)));
        put16(h, 4);
        h.push_back(0);
        h.push_back(kAviIndexOfIndexes);
        put32(h, 0); // entries in use, patched
        putFourcc(h, st.chunkId);
        put32(h, 0);
        put32(h, 0);
        put32(h, 0);
        h.resize(h.size() + 16 * gsize(superSlots_), 0);
        GST_WRITE_UINT32_LE(h.data() + strl + 4, guint32(h.size() - strl - 8));
        chunkIds_.emplace_back(st.chunkId, 4);
    }
    putFourcc(h, "LIST");
    put32(h, 4 + 8 + kDmlhBytes);
    putFourcc(h, "odml");
    putFourcc(h, "dmlh");
    put32(h, kDmlhBytes);
    h.resize(h.size() + kDmlhBytes, 0);
    const gsize hdrlEnd = h.size();
    GST_WRITE_UINT32_LE(h.data() + 16, guint32(hdrlEnd - 20));
    const guint64 moviAt = std::max<guint64>(kMoviList, (hdrlEnd + 8 + 4095) & ~guint64(4095));
    putFourcc(h, "JUNK");
    put32(h, guint32(moviAt - hdrlEnd - 8));
    h.resize(moviAt, 0);
    dmlhAt_ = hdrlEnd - kDmlhBytes;
    pos_ = 0;
    if (!writeAll(h.data(), h.size())) return false;
    totalUnits_.assign(streams, 0);
    supOnDisk_.assign(streams, 0);
    closedIdx_.assign(streams, {});
    headerWritten_ = true;
    return beginRiff(true);
}

bool AviFile::patchFormat(gsize stream, const std::vector<guint8>& format)
{
    if (stream >= layout_.size()) {
        errno = EINVAL;
        return false;
    }
    return patch(layout_[stream].strfData, format.data(), format.size());
}

bool AviFile::beginRiff(bool first)
{
    current_ = Riff{};
    current_.first = first;
    current_.counts.assign(layout_.size(), 0);
    current_.units.assign(layout_.size(), 0);
    current_.live.assign(layout_.size(), Index{});
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

bool AviFile::writeChunk(gsize stream, const guint8* data, gsize size, guint64 units)
{
    if (!headerWritten_ || stream >= layout_.size()) {
        errno = EINVAL;
        return false;
    }
    // Room for this chunk and the indexes that close the RIFF.
    std::vector<gsize> counts = current_.counts;
    ++counts[stream];
    const guint64 after =
        pos_ + 8 + size + (size & 1) + indexBytes(counts, current_.entries.size() + 1);
    if (!current_.entries.empty() && after - current_.start > riffLimit_) {
        if (riffCount_ + 1 >= superSlots_ && after - current_.start > kHardRiffLimit) {
            errno = EFBIG;
            return false;
        }
        if (riffCount_ + 1 < superSlots_ && (!endRiff() || !publish() || !beginRiff(false)))
            return false;
    }
    const guint64 chunkPos = pos_;
    std::vector<guint8> hdr;
    putFourcc(hdr, chunkIds_[stream].c_str());
    put32(hdr, guint32(size));
    if (!writeAll(hdr.data(), hdr.size()) || (size > 0 && !writeAll(data, size))) {
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
    current_.entries.push_back({guint32(stream), chunkPos, guint32(size), units});
    ++current_.counts[stream];
    current_.units[stream] += units;
    totalUnits_[stream] += units;
    return true;
}

std::vector<guint8> AviFile::standardIndex(gsize stream, gsize upTo) const
{
    const guint64 base = current_.start;
    gsize n = 0;
    for (gsize i = 0; i < upTo; ++i)
        n += current_.entries[i].stream == stream ? 1 : 0;
    std::vector<guint8> ix(32 + 8 * n);
    guint8* d = ix.data();
    d[0] = 'i';
    d[1] = 'x';
    d[2] = guint8('0' + (stream / 10) % 10);
    d[3] = guint8('0' + stream % 10);
    GST_WRITE_UINT32_LE(d + 4, guint32(24 + 8 * n));
    GST_WRITE_UINT16_LE(d + 8, 2);
    d[10] = 0;
    d[11] = kAviIndexOfChunks;
    GST_WRITE_UINT32_LE(d + 12, guint32(n));
    std::memcpy(d + 16, chunkIds_[stream].data(), 4);
    GST_WRITE_UINT64_LE(d + 20, base);
    GST_WRITE_UINT32_LE(d + 28, 0);
    d += 32;
    for (gsize i = 0; i < upTo; ++i) {
        const Entry& e = current_.entries[i];
        if (e.stream != stream) continue;
        GST_WRITE_UINT32_LE(d, guint32(e.chunkPos + 8 - base));
        GST_WRITE_UINT32_LE(d + 4, e.size);
        d += 8;
    }
    return ix;
}

bool AviFile::endRiff()
{
    if (current_.closed) return true;
    const guint64 restart = pos_;
    if (!current_.first && current_.entries.empty()) {
        rollBackTo(current_.start);
        current_.closed = true;
        return true;
    }
    std::vector<std::pair<gsize, Index>> closing;
    for (gsize s = 0; s < layout_.size(); ++s) {
        if (current_.counts[s] == 0) continue;
        const guint64 ixPos = pos_;
        const std::vector<guint8> ix = standardIndex(s, current_.entries.size());
        if (!writeAll(ix.data(), ix.size())) {
            rollBackTo(restart);
            return false;
        }
        closing.push_back({s, Index{ixPos, guint32(ix.size()), current_.units[s]}});
    }
    const guint64 moviEnd = pos_;
    if (current_.first) {
        std::vector<guint8> idx;
        putFourcc(idx, "idx1");
        put32(idx, guint32(16 * current_.entries.size()));
        const guint64 moviFourcc = current_.moviList + 8;
        for (const Entry& e : current_.entries) {
            putFourcc(idx, chunkIds_[e.stream].c_str());
            put32(idx, kKeyFrameFlag);
            put32(idx, guint32(e.chunkPos - moviFourcc));
            put32(idx, e.size);
        }
        if (!writeAll(idx.data(), idx.size())) {
            rollBackTo(restart);
            return false;
        }
    }
    // The chunk's sizes may only grow over its indexes once they are on
    // disk: until then the last checkpoint's sizes stand.
    if (!syncData() || !patch32(current_.moviList + 4, guint32(moviEnd - current_.moviList - 8)) ||
        !patch32(current_.start + 4, guint32(pos_ - current_.start - 8))) {
        rollBackTo(restart);
        return false;
    }
    for (const auto& [s, ix] : closing)
        closedIdx_[s].push_back(ix);
    ++riffCount_;
    if (current_.first)
        firstRiffFrames_ = guint32(current_.counts.empty() ? 0 : current_.counts[0]);
    current_.entries.clear();
    current_.live.assign(layout_.size(), Index{});
    current_.liveEntries = 0;
    current_.closed = true;
    return true;
}

bool AviFile::dropLastChunk()
{
    if (current_.entries.empty()) {
        if (current_.first) return false;
        rollBackTo(current_.start);
        current_.closed = true;
        return true;
    }
    GST_WARNING("giving up the last chunk of %s to close its index", path_.c_str());
    const Entry e = current_.entries.back();
    rollBackTo(e.chunkPos);
    current_.entries.pop_back();
    --current_.counts[e.stream];
    current_.units[e.stream] -= e.units;
    totalUnits_[e.stream] -= e.units;
    if (current_.liveEntries > current_.entries.size() || current_.liveEnd > pos_) {
        current_.live.assign(layout_.size(), Index{});
        current_.liveEntries = 0;
        current_.liveEnd = 0;
    }
    return true;
}

bool AviFile::checkpoint()
{
    if (fd_ < 0 || !headerWritten_) return true;
    const gsize n = current_.entries.size();
    bool indexed = true;
    for (gsize s = 0; s < layout_.size(); ++s)
        indexed = indexed && unitsIndexed(s) == totalUnits_[s];
    if (indexed) return true;
    if (current_.closed) return true;
    if (n > 0 && n != current_.liveEntries) {
        guint64 bytes = 0;
        for (gsize s = 0; s < layout_.size(); ++s) {
            if (current_.counts[s] > 0) bytes += 32 + 8 * guint64(current_.counts[s]);
        }
        // Near the hard size limit the open chunk keeps only the room for
        // its closing indexes; it ends within a few chunks anyway.
        if (pos_ + bytes + indexBytes(current_.counts, n) - current_.start <= kHardRiffLimit) {
            const guint64 at = pos_;
            std::vector<Index> live(layout_.size());
            for (gsize s = 0; s < layout_.size(); ++s) {
                if (current_.counts[s] == 0) continue;
                const guint64 ixPos = pos_;
                const std::vector<guint8> ix = standardIndex(s, n);
                if (!writeAll(ix.data(), ix.size())) {
                    rollBackTo(at);
                    return false;
                }
                live[s] = {ixPos, guint32(ix.size()), current_.units[s]};
            }
            current_.live = std::move(live);
            current_.liveEntries = n;
            current_.liveEnd = pos_;
        }
    }
    return publish();
}

bool AviFile::finalise()
{
    if (fd_ < 0) return true;
    bool ok = true;
    if (headerWritten_) {
        bool closed = endRiff();
        while (!closed && dropLastChunk()) {
            ok = false;
            closed = endRiff();
        }
        if (!closed) {
            // Not even an empty index fits: keep the sizes right so that
            // readers still walk the chunks.
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

guint64 AviFile::unitsIndexed(gsize stream) const
{
    guint64 units = 0;
    for (const Index& ix : closedIdx_[stream])
        units += ix.units;
    if (!current_.closed && current_.liveEntries > 0 && current_.live[stream].size > 0)
        units += current_.live[stream].units;
    return units;
}

bool AviFile::publish()
{
    if (!syncData() || !patchHeaders() || !syncData()) return false;
    framesOnDisk_ = layout_.empty() ? 0 : unitsIndexed(0);
    published_ = durable_;
    return true;
}

bool AviFile::patchHeaders()
{
    const bool open = !current_.closed && current_.liveEntries > 0;
    bool ok = true;
    for (gsize s = 0; s < layout_.size(); ++s) {
        // New super index entries first, the count of entries in use last: a
        // reader of a half-patched header sees the previous checkpoint.
        const std::vector<Index>& closed = closedIdx_[s];
        const bool live = open && current_.live[s].size > 0;
        std::vector<guint8> sup;
        const gsize from = std::min<gsize>(supOnDisk_[s], closed.size());
        for (gsize i = from; i < closed.size(); ++i) {
            put64(sup, closed[i].pos);
            put32(sup, closed[i].size);
            put32(sup, guint32(closed[i].units));
        }
        if (live) {
            put64(sup, current_.live[s].pos);
            put32(sup, current_.live[s].size);
            put32(sup, guint32(current_.live[s].units));
        }
        const guint64 indx = layout_[s].indx;
        bool sok = true;
        if (!sup.empty())
            sok = patch(indx + 8 + kIndxHeader + 16 * guint64(from), sup.data(), sup.size());
        if (sok) supOnDisk_[s] = closed.size();
        ok = sok && ok;
        const guint64 units = unitsIndexed(s);
        ok =
            patch32(layout_[s].strhData + 32, guint32(std::min<guint64>(units, G_MAXUINT32))) && ok;
        ok = patch32(indx + 12, guint32(closed.size() + (live ? 1 : 0))) && ok;
    }
    if (open) {
        ok =
            patch32(current_.moviList + 4, guint32(current_.liveEnd - current_.moviList - 8)) && ok;
        ok = patch32(current_.start + 4, guint32(current_.liveEnd - current_.start - 8)) && ok;
    }
    const guint64 frames = layout_.empty() ? 0 : unitsIndexed(0);
    const guint32 frames32 = guint32(std::min<guint64>(frames, G_MAXUINT32));
    const guint32 firstFrames =
        riffCount_ == 0 ? (open ? guint32(current_.live[0].units) : 0) : firstRiffFrames_;
    ok = patch32(kAvihData + 16, firstFrames) && ok;
    ok = patch32(dmlhAt_, frames32) && ok;
    return ok;
}

} // namespace kad
