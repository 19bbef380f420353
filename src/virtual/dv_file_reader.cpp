#include "virtual/dv_file_reader.h"

#include "elements/dv_audio_pack.h"
#include "media/dv/dv_frame.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kad::dv {

namespace {

// Enough of the first DIF sequence to recognise a frame: the header block,
// two subcode blocks and three VAUX blocks.
constexpr std::size_t kProbeBytes = kFirstAudioBlock * kDifBlockSize;
// The header list of an AVI is small; anything larger is not one we read.
constexpr std::uint32_t kMaxHeaderList = 16u << 20;
std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool fourcc(const std::uint8_t* p, const char* tag)
{
    return std::memcmp(p, tag, 4) == 0;
}

bool isDvHandler(const std::uint8_t* p)
{
    std::string tag(4, ' ');
    for (int i = 0; i < 4; ++i)
        tag[i] = static_cast<char>(std::tolower(p[i]));
    return tag == "dvsd" || tag == "dv25" || tag == "cdvc" || tag == "dvc ";
}

// The DV stream among the stream lists of an AVI header list: its number,
// and whether it is an interleaved ('iavs') one.
struct DvStream {
    int number = -1;
    bool interleaved = false;
    // The first PCM audio stream we can pack into DV frames (-1: none).
    int audioNumber = -1;
    int audioRate = 0;
    int audioChannels = 0;
};

std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

DvStream findDvStream(const std::vector<std::uint8_t>& hdrl)
{
    DvStream video;
    int number = 0;
    std::size_t pos = 4; // past "hdrl"
    while (pos + 8 <= hdrl.size()) {
        const std::uint32_t size = le32(&hdrl[pos + 4]);
        const std::size_t end = std::min(hdrl.size(), pos + 8 + static_cast<std::size_t>(size));
        if (fourcc(&hdrl[pos], "LIST") && pos + 12 <= end && fourcc(&hdrl[pos + 8], "strl")) {
            bool vids = false;
            bool auds = false;
            bool dv = false;
            int rate = 0;
            int channels = 0;
            for (std::size_t q = pos + 12; q + 8 <= end;) {
                const std::uint32_t sub = le32(&hdrl[q + 4]);
                const std::uint8_t* data = &hdrl[q + 8];
                const std::size_t avail = end - (q + 8);
                if (fourcc(&hdrl[q], "strh") && sub >= 8 && avail >= 8) {
                    if (fourcc(data, "iavs")) return {number, true};
                    vids = fourcc(data, "vids");
                    auds = fourcc(data, "auds");
                    dv = dv || isDvHandler(data + 4);
                } else if (fourcc(&hdrl[q], "strf") && auds && sub >= 16 && avail >= 16) {
                    const std::uint16_t tag = le16(data);
                    const int bits = le16(data + 14);
                    const int r = static_cast<int>(le32(data + 4));
                    const int ch = le16(data + 2);
                    if ((tag == 1 || tag == 0xFFFE) && bits == 16 && (ch == 1 || ch == 2) &&
                        (r == 32000 || r == 44100 || r == 48000)) {
                        rate = r;
                        channels = ch;
                    }
                } else if (fourcc(&hdrl[q], "strf") && sub >= 20 && avail >= 20) {
                    dv = dv || isDvHandler(data + 16);
                }
                q += 8 + static_cast<std::size_t>(sub) + (sub & 1);
            }
            if (vids && dv && video.number < 0) video.number = number;
            if (auds && rate != 0 && video.audioNumber < 0) {
                video.audioNumber = number;
                video.audioRate = rate;
                video.audioChannels = channels;
            }
            ++number;
        }
        pos += 8 + static_cast<std::size_t>(size) + (size & 1);
    }
    return video;
}

} // namespace

bool looksLikeDvFrame(const std::uint8_t* data, std::size_t size, bool* ntsc)
{
    if (size < kProbeBytes) return false;
    if (!isFrameHeaderBlock(data)) return false;
    for (int i = 0; i < kSubcodeBlocks; ++i)
        if (!isSection(data + blockOffset(0, subcodeBlock(i)), Section::Subcode)) return false;
    for (int i = 0; i < kVauxBlocks; ++i)
        if (!isSection(data + blockOffset(0, vauxBlock(i)), Section::Vaux)) return false;
    if (ntsc) *ntsc = !headerSaysPal(data);
    return true;
}

std::unique_ptr<DvFileReader> DvFileReader::open(const std::string& path, std::string* error)
{
    std::unique_ptr<DvFileReader> reader(new DvFileReader);
    reader->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader->fd_ < 0) {
        *error = "The file cannot be opened (" + std::string(std::strerror(errno)) + ").";
        return nullptr;
    }
    struct stat st {};
    if (fstat(reader->fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "It is not a regular file.";
        return nullptr;
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize == 0) {
        *error = "The file is empty.";
        return nullptr;
    }
    std::uint8_t head[kProbeBytes] = {};
    const std::size_t headSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, sizeof head));
    if (!reader->readAt(0, head, headSize)) {
        *error = "The file cannot be read (" + std::string(std::strerror(errno)) + ").";
        return nullptr;
    }
    if (headSize >= 12 && fourcc(head, "RIFF") && fourcc(head + 8, "AVI ")) {
        if (!reader->indexAvi(fileSize, error)) return nullptr;
        return reader;
    }
    if (!looksLikeDvFrame(head, headSize, &reader->ntsc_)) {
        *error = "The file holds no DV video (neither raw DV nor a DV AVI file).";
        return nullptr;
    }
    reader->frameSize_ = frameSizeOf(!reader->ntsc_);
    const std::uint64_t frames = fileSize / reader->frameSize_;
    if (frames == 0) {
        *error = "The file is shorter than one DV frame.";
        return nullptr;
    }
    reader->offsets_.reserve(frames);
    for (std::uint64_t i = 0; i < frames; ++i)
        reader->offsets_.push_back(i * reader->frameSize_);
    return reader;
}

DvFileReader::~DvFileReader()
{
    if (fd_ >= 0) ::close(fd_);
}

bool DvFileReader::readAt(std::uint64_t offset, void* data, std::size_t size) const
{
    auto* out = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = 0;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Walks the RIFF chunks ('AVI ' then any 'AVIX'), takes the stream list from
// the header list and the DV stream's chunks from every 'movi' list. Sizes
// that run past the end of the file (a capture that was cut off) are taken
// as running to the end of the file.
bool DvFileReader::indexAvi(std::uint64_t fileSize, std::string* error)
{
    DvStream stream;
    bool haveHeader = false;
    char wanted[2] = {};
    char wantedAudio[2] = {'-', '-'};
    std::uint64_t riff = 0;
    while (riff + 12 <= fileSize) {
        std::uint8_t h[12];
        if (!readAt(riff, h, sizeof h)) break;
        if (!fourcc(h, "RIFF")) break;
        const std::uint32_t riffSize = le32(h + 4);
        std::uint64_t riffEnd = riff + 8 + riffSize;
        if (riffSize < 4 || riffEnd > fileSize) riffEnd = fileSize;
        std::uint64_t pos = riff + 12;
        while (pos + 8 <= riffEnd) {
            std::uint8_t c[12];
            if (!readAt(pos, c, std::min<std::uint64_t>(12, riffEnd - pos))) break;
            const std::uint32_t size = le32(c + 4);
            std::uint64_t end = pos + 8 + size;
            if (end > riffEnd) end = riffEnd;
            const bool list = fourcc(c, "LIST") && pos + 12 <= riffEnd;
            if (list && fourcc(c + 8, "hdrl") && !haveHeader) {
                if (size > kMaxHeaderList) break;
                std::vector<std::uint8_t> hdrl(static_cast<std::size_t>(end - pos - 8));
                if (!readAt(pos + 8, hdrl.data(), hdrl.size())) break;
                stream = findDvStream(hdrl);
                haveHeader = true;
                if (stream.number < 0 || stream.number > 99) {
                    *error = "The AVI file has no DV video stream.";
                    return false;
                }
                wanted[0] = static_cast<char>('0' + stream.number / 10);
                wanted[1] = static_cast<char>('0' + stream.number % 10);
                format_ = stream.interleaved ? "DV AVI type 1" : "DV AVI type 2";
                if (!stream.interleaved && stream.audioNumber >= 0 && stream.audioNumber <= 99) {
                    wantedAudio[0] = static_cast<char>('0' + stream.audioNumber / 10);
                    wantedAudio[1] = static_cast<char>('0' + stream.audioNumber % 10);
                    audioRate_ = stream.audioRate;
                    audioChannels_ = stream.audioChannels;
                }
            } else if (list && fourcc(c + 8, "movi") && haveHeader) {
                // A movi list left at size 0 by a writer that never finished
                // runs to the end of its RIFF.
                const std::uint64_t moviEnd = size < 4 ? riffEnd : end;
                std::uint64_t q = pos + 12;
                while (q + 8 <= moviEnd) {
                    std::uint8_t k[12];
                    if (!readAt(q, k, std::min<std::uint64_t>(12, moviEnd - q))) break;
                    const std::uint32_t ksize = le32(k + 4);
                    if (fourcc(k, "LIST")) {
                        // 'rec ' groups: their chunks are read in line.
                        q += 12;
                        continue;
                    }
                    const std::uint64_t data = q + 8;
                    if (data + ksize > moviEnd) break;
                    if (std::memcmp(k, wanted, 2) == 0 && ksize >= kProbeBytes) {
                        if (frameSize_ == 0) {
                            std::uint8_t probe[kProbeBytes];
                            if (readAt(data, probe, sizeof probe) &&
                                looksLikeDvFrame(probe, sizeof probe, &ntsc_))
                                frameSize_ = frameSizeOf(!ntsc_);
                        }
                        if (frameSize_ != 0 && ksize == frameSize_) offsets_.push_back(data);
                    } else if (std::memcmp(k, wantedAudio, 2) == 0 && audioChannels_ > 0) {
                        const std::uint64_t samples =
                            ksize / (2 * static_cast<std::uint64_t>(audioChannels_));
                        const std::uint64_t first =
                            audio_.empty() ? 0 : audio_.back().firstSample + audio_.back().samples;
                        if (samples > 0) audio_.push_back({data, first, samples});
                    }
                    q = data + ksize + (ksize & 1);
                }
            }
            pos = end + (size & 1);
            if (end == riffEnd) break;
        }
        riff = riffEnd + ((riffEnd - riff) & 1);
    }
    if (!haveHeader) {
        *error = "The AVI file has no stream header list.";
        return false;
    }
    if (offsets_.empty()) {
        *error = "The AVI file holds no DV frames.";
        return false;
    }
    if (audio_.empty()) return true;
    // Frames that carry sound of their own keep it: an AAUX source pack
    // tells its rate, samples and channels.
    std::vector<std::uint8_t> first(frameSize_);
    if (!readAt(offsets_[0], first.data(), first.size())) return true;
    bool ownSound = false;
    forEachAudioBlock(first.data(), first.size(), [&](const std::uint8_t* block) {
        ownSound = ownSound || block[kBlockIdSize] == kPackAudioSource;
    });
    if (ownSound) return true;
    rebuildAudio_ = true;
    frameSampleStart_.reserve(offsets_.size() + 1);
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < offsets_.size(); ++i) {
        frameSampleStart_.push_back(at);
        at += static_cast<std::uint64_t>(kad::DvAudioSamplesForFrame(!ntsc_, audioRate_, i));
    }
    frameSampleStart_.push_back(at);
    return true;
}

// Packs the samples of frame `index` from the audio chunks; samples the
// stream does not have (it ends early, a chunk cannot be read) are silence.
void DvFileReader::packAudio(std::size_t index, std::uint8_t* frame) const
{
    const std::uint64_t start = frameSampleStart_[index];
    const auto count = static_cast<int>(frameSampleStart_[index + 1] - start);
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(count) * 2, 0);
    std::vector<std::int16_t> chunk;
    auto it =
        std::upper_bound(audio_.begin(), audio_.end(), start,
                         [](std::uint64_t s, const AudioChunk& c) { return s < c.firstSample; });
    if (it != audio_.begin()) --it;
    std::uint64_t want = start;
    const std::uint64_t end = start + static_cast<std::uint64_t>(count);
    for (; it != audio_.end() && want < end; ++it) {
        if (it->firstSample + it->samples <= want) continue;
        const std::uint64_t from = want - it->firstSample;
        const std::uint64_t n = std::min(it->samples - from, end - want);
        const auto ch = static_cast<std::uint64_t>(audioChannels_);
        chunk.resize(static_cast<std::size_t>(n * ch));
        if (!readAt(it->offset + from * ch * 2, chunk.data(), chunk.size() * 2)) break;
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::size_t o = static_cast<std::size_t>((want - start + i) * 2);
            pcm[o] = chunk[static_cast<std::size_t>(i * ch)];
            pcm[o + 1] = chunk[static_cast<std::size_t>(i * ch + ch - 1)];
        }
        want += n;
    }
    kad::PackDvAudio(frame, frameSize_, audioRate_, pcm.data(), count);
}

bool DvFileReader::readFrame(std::size_t index, std::uint8_t* out, std::string* error) const
{
    if (index >= offsets_.size()) {
        *error = "frame " + std::to_string(index) + " is past the end of the file";
        return false;
    }
    if (readAt(offsets_[index], out, frameSize_)) {
        if (rebuildAudio_) packAudio(index, out);
        return true;
    }
    *error = errno != 0 ? std::string(std::strerror(errno)) : std::string("the file was cut short");
    return false;
}

} // namespace kad::dv
