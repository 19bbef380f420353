#include "virtual/virtual_mpeg2_es.h"

#include <cstdlib>

namespace kad::mpeg2 {

namespace {

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void put(std::uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            acc_ = static_cast<std::uint8_t>((acc_ << 1) | ((value >> i) & 1));
            if (++used_ == 8) flushByte();
        }
    }
    void align()
    {
        while (used_ != 0)
            put(0, 1);
    }
    void startCode(std::uint8_t code)
    {
        align();
        out_.insert(out_.end(), {0x00, 0x00, 0x01, code});
    }

private:
    void flushByte()
    {
        out_.push_back(acc_);
        acc_ = 0;
        used_ = 0;
    }

    std::vector<std::uint8_t>& out_;
    std::uint8_t acc_ = 0;
    int used_ = 0;
};

struct Code {
    std::uint32_t bits;
    int length;
};

// dct_dc_size VLCs for 8-bit DC precision (sizes 0..8).
constexpr Code kLumaDcSize[9] = {{0b100, 3},   {0b00, 2},     {0b01, 2},
                                 {0b101, 3},   {0b110, 3},    {0b1110, 4},
                                 {0b11110, 5}, {0b111110, 6}, {0b1111110, 7}};
constexpr Code kChromaDcSize[9] = {{0b00, 2},     {0b01, 2},      {0b10, 2},
                                   {0b110, 3},    {0b1110, 4},    {0b11110, 5},
                                   {0b111110, 6}, {0b1111110, 7}, {0b11111110, 8}};

void putDcBlock(BitWriter& bw, int value, int& predictor, const Code* sizes)
{
    const int diff = value - predictor;
    predictor = value;
    int size = 0;
    for (int a = std::abs(diff); a; a >>= 1)
        ++size;
    bw.put(sizes[size].bits, sizes[size].length);
    if (size > 0) {
        const int coded = diff > 0 ? diff : diff + (1 << size) - 1;
        bw.put(static_cast<std::uint32_t>(coded), size);
    }
    bw.put(0b10, 2); // end of block: no AC coefficient
}

void sequenceHeader(BitWriter& bw, const Format& f)
{
    bw.startCode(0xB3);
    bw.put(f.width, 12);
    bw.put(f.height, 12);
    bw.put(2, 4); // 4:3 display
    bw.put(f.frameRateCode, 4);
    bw.put(37500, 18); // 15 Mbit/s in 400 bit/s units
    bw.put(1, 1);
    bw.put(112, 10); // VBV buffer, 16 kbit units
    bw.put(0, 1);
    bw.put(0, 1); // default intra matrix
    bw.put(0, 1); // default non-intra matrix

    bw.startCode(0xB5); // sequence extension
    bw.put(1, 4);
    bw.put(0x48, 8); // main profile, main level
    bw.put(1, 1);    // progressive sequence
    bw.put(1, 2);    // 4:2:0
    bw.put(0, 2);
    bw.put(0, 2);
    bw.put(0, 12);
    bw.put(1, 1);
    bw.put(0, 8);
    bw.put(1, 1); // low delay: no B pictures
    bw.put(0, 2);
    bw.put(0, 5);
}

void gopHeader(BitWriter& bw, const Format& f, std::uint64_t frameNumber)
{
    const int fps = f.frameRateCode == 3 ? 25 : 30;
    const std::uint64_t seconds = frameNumber / fps;
    bw.startCode(0xB8);
    bw.put(0, 1); // no drop frame
    bw.put(static_cast<std::uint32_t>((seconds / 3600) % 24), 5);
    bw.put(static_cast<std::uint32_t>((seconds / 60) % 60), 6);
    bw.put(1, 1);
    bw.put(static_cast<std::uint32_t>(seconds % 60), 6);
    bw.put(static_cast<std::uint32_t>(frameNumber % fps), 6);
    bw.put(1, 1); // closed GOP
    bw.put(0, 1);
}

void pictureHeader(BitWriter& bw, int temporalReference)
{
    bw.startCode(0x00);
    bw.put(temporalReference & 0x3FF, 10);
    bw.put(1, 3); // intra picture
    bw.put(0xFFFF, 16);
    bw.put(0, 1);

    bw.startCode(0xB5); // picture coding extension
    bw.put(8, 4);
    bw.put(0xFFFF, 16); // no motion vectors
    bw.put(0, 2);       // 8-bit DC precision
    bw.put(3, 2);       // frame picture
    bw.put(0, 1);
    bw.put(1, 1); // frame prediction, frame DCT
    bw.put(0, 1);
    bw.put(0, 1);
    bw.put(0, 1);
    bw.put(0, 1);
    bw.put(0, 1);
    bw.put(1, 1); // chroma 4:2:0 type
    bw.put(1, 1); // progressive frame
    bw.put(0, 1);
}

} // namespace

std::vector<std::uint8_t> encodePicture(const Format& f, std::uint64_t frameNumber,
                                        const ColourAt& colourAt)
{
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(f.width / 16) * (f.height / 16) * 8 + 64);
    BitWriter bw(out);
    const int gopIndex = static_cast<int>(frameNumber % static_cast<std::uint64_t>(f.gopLength));
    if (gopIndex == 0) {
        sequenceHeader(bw, f);
        gopHeader(bw, f, frameNumber);
    }
    pictureHeader(bw, gopIndex);

    const int mbWidth = f.width / 16;
    const int mbHeight = f.height / 16;
    for (int row = 0; row < mbHeight; ++row) {
        bw.startCode(static_cast<std::uint8_t>(row + 1));
        bw.put(1, 5); // quantiser scale code
        bw.put(0, 1);
        int predY = 128;
        int predU = 128;
        int predV = 128;
        for (int col = 0; col < mbWidth; ++col) {
            bw.put(1, 1); // address increment 1
            bw.put(1, 1); // intra macroblock
            const int x0 = col * 16;
            const int y0 = row * 16;
            for (int b = 0; b < 4; ++b) {
                const picture::Yuv c = colourAt(x0 + (b & 1) * 8 + 4, y0 + (b >> 1) * 8 + 4);
                putDcBlock(bw, c.y, predY, kLumaDcSize);
            }
            const picture::Yuv c = colourAt(x0 + 8, y0 + 8);
            putDcBlock(bw, c.u, predU, kChromaDcSize);
            putDcBlock(bw, c.v, predV, kChromaDcSize);
        }
    }
    bw.align();
    return out;
}

std::vector<std::uint8_t> sequenceEnd()
{
    return {0x00, 0x00, 0x01, 0xB7};
}

} // namespace kad::mpeg2
