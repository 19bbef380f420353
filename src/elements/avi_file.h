#pragma once

// An OpenDML AVI file of one or more streams, written chunk by chunk: the
// first RIFF with 'hdrl', 'movi' and a legacy 'idx1' over every stream,
// then 'AVIX' RIFFs, each closed by one 'ix##' standard index per stream
// that has chunks in it, and one 'indx' super index per stream in the
// header. Files of any length read whole.
//
// The file on disk is a readable AVI at every checkpoint: the open RIFF
// carries standard indexes of all its chunks so far (newer ones replace them
// in the super indexes at the next checkpoint; the old ones stay in 'movi' as
// index chunks readers skip), and its RIFF and 'movi' sizes end right after
// them. Chunks written after the last checkpoint lie beyond the sizes and
// outside every index, so a reader of a killed capture stops cleanly at the
// last checkpoint. With `durable`, every checkpoint and the end of every RIFF
// reach the disk (fdatasync) before the headers point at them, and again
// after.
//
// Not thread-safe: the caller serialises every call. On failure errno says
// why.

#include <glib.h>

#include <string>
#include <vector>

namespace kad {

class AviFile {
public:
    struct Stream {
        char type[5] = "vids";    // 'vids', 'auds', 'iavs'
        char handler[5] = {0};    // e.g. 'dvsd'; empty for none
        char chunkId[5] = "00dc"; // '00dc', '01wb', ...
        guint32 scale = 1;
        guint32 rate = 25;
        guint32 sampleSize = 0; // 0: one chunk is one unit of length
        guint32 suggestedBuffer = 0;
        guint16 width = 0;
        guint16 height = 0;
        std::vector<guint8> format; // 'strf' contents
    };
    struct Header {
        guint32 microSecPerFrame = 40000;
        guint32 maxBytesPerSec = 0;
        guint32 suggestedBuffer = 0;
        guint32 width = 0;
        guint32 height = 0;
        std::vector<Stream> streams; // stream 0 counts the frames
    };

    static constexpr guint64 kDefaultRiffLimit = 1024ull * 1024 * 1024;
    static constexpr guint64 kMinRiffLimit = 512 * 1024;
    // A RIFF size field is 32 bits; stay well below it whatever the limit says.
    static constexpr guint64 kHardRiffLimit = 0xF0000000ull;

    AviFile() = default;
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;
    ~AviFile();

    // Opens (creates, truncates) the file; nothing is written before begin().
    // With `exclusive`, a file already there is left alone and the open
    // fails with EEXIST.
    bool open(const std::string& path, guint64 riffLimit, bool durable, bool exclusive = false);
    // Writes the header and opens the first RIFF.
    bool begin(const Header& header);
    bool isOpen() const { return fd_ >= 0; }
    bool begun() const { return headerWritten_; }
    const std::string& path() const { return path_; }
    // The open file was renamed to path (its descriptor stays).
    void renamed(const std::string& path) { path_ = path; }

    // Replaces the 'strf' contents of `stream` in place (same size).
    bool patchFormat(gsize stream, const std::vector<guint8>& format);

    // Appends one chunk of `stream` worth `units` of its length (frames, or
    // samples for sound). On failure the file is left at its last complete
    // chunk; call finalise() to close it readable.
    bool writeChunk(gsize stream, const guint8* data, gsize size, guint64 units = 1);

    // Chunks / units of stream 0 written so far and indexed on disk (all of
    // them once finalised).
    guint64 totalFrames() const { return totalUnits_.empty() ? 0 : totalUnits_[0]; }
    guint64 framesOnDisk() const { return framesOnDisk_; }
    guint64 unitsWritten(gsize stream) const
    {
        return stream < totalUnits_.size() ? totalUnits_[stream] : 0;
    }

    // True once after each time the headers and indexes reached the disk.
    bool takePublished();

    // Brings the indexes and headers on disk up to every chunk written so far.
    bool checkpoint();

    // Closes the file readable: indexes, sizes and lengths. When the indexes
    // no longer fit (disk full), the newest chunks are given up one by one
    // until they do. Returns false when something could not be written; the
    // file is readable either way.
    bool finalise();

private:
    struct Entry {
        guint32 stream;
        guint64 chunkPos; // position of the chunk header
        guint32 size;
        guint64 units;
    };
    struct Index {
        guint64 pos = 0;
        guint32 size = 0;
        guint64 units = 0;
    };
    struct Riff {
        guint64 start = 0;    // position of 'RIFF'
        guint64 moviList = 0; // position of 'LIST' of 'movi'
        bool first = false;
        bool closed = false;
        std::vector<Entry> entries;
        std::vector<gsize> counts;  // entries per stream
        std::vector<guint64> units; // length per stream
        std::vector<Index> live;    // newest index per stream of the open chunk
        gsize liveEntries = 0;      // entries the live indexes cover
        guint64 liveEnd = 0;        // end of the newest indexes
    };
    struct Layout {
        guint64 strhData = 0;
        guint64 strfData = 0;
        guint64 indx = 0;
    };

    void closeFd();
    guint64 indexBytes(const std::vector<gsize>& counts, gsize total) const;
    bool writeAll(const guint8* data, gsize size);
    bool patch(guint64 at, const void* data, gsize size);
    bool patch32(guint64 at, guint32 value);
    bool syncData();
    void rollBackTo(guint64 at);
    bool beginRiff(bool first);
    std::vector<guint8> standardIndex(gsize stream, gsize upTo) const;
    bool endRiff();
    bool dropLastChunk();
    bool publish();
    bool patchHeaders();
    guint64 unitsIndexed(gsize stream) const;

    int fd_ = -1;
    std::string path_;
    bool durable_ = false;
    guint64 riffLimit_ = kDefaultRiffLimit;
    guint32 superSlots_ = 256;
    bool headerWritten_ = false;
    std::vector<Layout> layout_;
    std::vector<std::string> chunkIds_;
    guint64 pos_ = 0;
    guint64 dmlhAt_ = 0;
    std::vector<guint64> totalUnits_;
    guint64 framesOnDisk_ = 0;
    gsize riffCount_ = 0; // closed RIFFs
    guint32 firstRiffFrames_ = 0;
    std::vector<gsize> supOnDisk_;              // closed indexes on disk, per stream
    std::vector<std::vector<Index>> closedIdx_; // per stream
    bool published_ = false;
    Riff current_;
};

} // namespace kad
