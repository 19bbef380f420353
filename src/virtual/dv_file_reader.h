#pragma once

// Reading the DV frames of a file made by another program: raw DV (frames
// of 120000 or 144000 bytes back to back), type-1 DV AVI (one 'iavs' stream)
// and type-2 DV AVI (a 'vids' DV stream beside a PCM 'auds' one). The video
// chunks of a type-2 AVI are whole DV frames, audio DIF blocks included, in
// most files; when the frames carry no sound of their own (no AAUX source
// pack, as a bare DV video encoder leaves them) the sound of the 'auds'
// stream (16-bit PCM at 32, 44.1 or 48 kHz) is packed into them as they are
// read, so every frame comes out whole. AVI files are read
// through their 'movi' lists, OpenDML 'AVIX' extensions included, so neither
// index has to be intact; a file cut short keeps the frames it holds whole.
//
// Not thread safe: one thread reads at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kad::dv {

class DvFileReader {
public:
    // Opens and indexes the file; null with a user-readable reason in *error
    // when it holds no DV frame.
    static std::unique_ptr<DvFileReader> open(const std::string& path, std::string* error);
    ~DvFileReader();
    DvFileReader(const DvFileReader&) = delete;
    DvFileReader& operator=(const DvFileReader&) = delete;

    std::size_t frameCount() const { return offsets_.size(); }
    std::size_t frameSize() const { return frameSize_; }
    // 525/60 (720x480, 29.97 frames per second) rather than 625/50.
    bool ntsc() const { return ntsc_; }
    // "raw DV", "DV AVI type 1" or "DV AVI type 2".
    const char* format() const { return format_; }
    // Whether the sound is packed into the frames from the AVI's audio stream.
    bool rebuildsAudio() const { return rebuildAudio_; }

    // Reads frame `index` (< frameCount()) into out, which holds frameSize()
    // bytes, as it is (a damaged frame is sent on like a worn tape's). False
    // with a reason when the file no longer gives it whole (cut short,
    // removed medium).
    bool readFrame(std::size_t index, std::uint8_t* out, std::string* error) const;

private:
    DvFileReader() = default;
    bool indexAvi(std::uint64_t fileSize, std::string* error);
    bool readAt(std::uint64_t offset, void* data, std::size_t size) const;
    void packAudio(std::size_t index, std::uint8_t* frame) const;

    struct AudioChunk {
        std::uint64_t offset;
        std::uint64_t firstSample;
        std::uint64_t samples;
    };

    int fd_ = -1;
    std::size_t frameSize_ = 0;
    bool ntsc_ = false;
    const char* format_ = "raw DV";
    std::vector<std::uint64_t> offsets_;
    bool rebuildAudio_ = false;
    int audioRate_ = 0;
    int audioChannels_ = 0;
    std::vector<AudioChunk> audio_;
    std::vector<std::uint64_t> frameSampleStart_; // frameCount() + 1 entries
};

// Whether the bytes start like a DV frame (header, subcode and VAUX blocks
// of the first DIF sequence in place); sets *ntsc from the header's system
// flag. Needs at least six DIF blocks (480 bytes).
bool looksLikeDvFrame(const std::uint8_t* data, std::size_t size, bool* ntsc);

} // namespace kad::dv
