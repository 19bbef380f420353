// The correction of asfmux's short Packet Length, byte by byte: what is a
// data packet to mend and what must be left alone, whatever arrives.

#include "graph/asf_packets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace kad {
namespace {

constexpr std::size_t kPacket = 4800;

// A data packet as asfmux writes its last one: WORD packet length and
// padding, multiple payloads; `ecc` puts the two-byte error correction
// block in front.
std::vector<std::uint8_t> shortPacket(std::uint16_t length, bool ecc = false)
{
    std::vector<std::uint8_t> p(kPacket, 0);
    std::size_t at = 0;
    if (ecc) {
        p[at++] = 0x82;
        at += 2;
    }
    p[at++] = 0x51; // multiple payloads, WORD padding, WORD packet length
    p[at++] = 0x5d;
    p[at++] = std::uint8_t(length);
    p[at++] = std::uint8_t(length >> 8);
    const auto padding = std::uint16_t(kPacket - length);
    p[at++] = std::uint8_t(padding);
    p[at++] = std::uint8_t(padding >> 8);
    return p;
}

std::uint16_t lengthAt(const std::vector<std::uint8_t>& p, std::size_t at)
{
    return std::uint16_t(p[at] | (p[at + 1] << 8));
}

TEST(AsfPackets, AShortLastPacketGetsTheWholeSizeWithOrWithoutErrorCorrection)
{
    auto plain = shortPacket(2094);
    EXPECT_TRUE(WholeAsfPacketLength(plain.data(), plain.size(), kPacket));
    EXPECT_EQ(lengthAt(plain, 2), kPacket);
    EXPECT_EQ(lengthAt(plain, 4), kPacket - 2094) << "the padding stays";
    EXPECT_FALSE(WholeAsfPacketLength(plain.data(), plain.size(), kPacket)) << "only once";

    auto withEcc = shortPacket(3424, true);
    EXPECT_TRUE(WholeAsfPacketLength(withEcc.data(), withEcc.size(), kPacket));
    EXPECT_EQ(lengthAt(withEcc, 5), kPacket);
}

TEST(AsfPackets, LeavesAloneWhatIsNotAShortDataPacket)
{
    // A full packet, and one whose length and padding do not add up.
    auto full = shortPacket(kPacket);
    auto odd = shortPacket(2000);
    odd[4] = 7;
    const auto fullBefore = full, oddBefore = odd;
    EXPECT_FALSE(WholeAsfPacketLength(full.data(), full.size(), kPacket));
    EXPECT_FALSE(WholeAsfPacketLength(odd.data(), odd.size(), kPacket));
    EXPECT_EQ(full, fullBefore);
    EXPECT_EQ(odd, oddBefore);

    // The header object and the simple index.
    std::vector<std::uint8_t> header{0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66, 0xcf, 0x11,
                                     0xa6, 0xd9, 0x00, 0xaa, 0x00, 0x62, 0xce, 0x6c};
    header.resize(kPacket, 0);
    EXPECT_FALSE(AsfPacketNeedsWholeLength(header.data(), header.size(), kPacket));

    // A BYTE length field cannot hold 4800.
    auto narrow = shortPacket(100);
    narrow[0] = 0x31; // BYTE packet length
    EXPECT_FALSE(WholeAsfPacketLength(narrow.data(), narrow.size(), kPacket));

    // Truncated or random bytes never read past the buffer (run under a
    // sanitizer or valgrind to see it) and are left as they are unless they
    // happen to form a short packet.
    auto cut = shortPacket(2094);
    for (std::size_t n = 0; n < 6; ++n)
        EXPECT_FALSE(AsfPacketNeedsWholeLength(cut.data(), n, kPacket)) << n;
    EXPECT_FALSE(WholeAsfPacketLength(nullptr, 0, kPacket));
    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(64);
    for (int round = 0; round < 2000; ++round) {
        for (auto& b : noise)
            b = std::uint8_t(random());
        const std::size_t n = random() % noise.size();
        AsfPacketNeedsWholeLength(noise.data(), n, kPacket);
    }
}

} // namespace
} // namespace kad
