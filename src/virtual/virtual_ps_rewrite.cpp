#include "virtual/virtual_ps_rewrite.h"

namespace kad {

std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint32_t>(data[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000U) ? (crc << 1) ^ 0x04C11DB7U : crc << 1;
    }
    return crc;
}

std::uint8_t StreamIdRewriter::map(std::uint8_t id) const
{
    const auto it = ids_.find(id);
    return it == ids_.end() ? id : it->second;
}

void StreamIdRewriter::rewriteSystemHeader(std::uint8_t* unit, std::size_t size) const
{
    // 12 bytes of fixed fields, then 3-byte entries starting with a stream id
    // (whose top bit is always set).
    for (std::size_t i = 12; i + 3 <= size; i += 3) {
        if (!(unit[i] & 0x80)) break;
        unit[i] = map(unit[i]);
    }
}

void StreamIdRewriter::rewriteStreamMap(std::uint8_t* unit, std::size_t size) const
{
    if (size < 16) return;
    const std::uint32_t storedCrc = (static_cast<std::uint32_t>(unit[size - 4]) << 24) |
                                    (unit[size - 3] << 16) | (unit[size - 2] << 8) | unit[size - 1];
    const bool crcFromStart = mpegCrc32(unit, size - 4) == storedCrc;
    const bool crcFromBody = !crcFromStart && mpegCrc32(unit + 6, size - 10) == storedCrc;

    const std::size_t infoLength = (unit[8] << 8) | unit[9];
    std::size_t pos = 10 + infoLength;
    if (pos + 2 > size - 4) return;
    const std::size_t mapLength = (unit[pos] << 8) | unit[pos + 1];
    pos += 2;
    const std::size_t end = std::min(pos + mapLength, size - 4);
    while (pos + 4 <= end) {
        unit[pos + 1] = map(unit[pos + 1]);
        const std::size_t esInfo = (unit[pos + 2] << 8) | unit[pos + 3];
        pos += 4 + esInfo;
    }
    std::uint32_t crc = 0;
    if (crcFromStart)
        crc = mpegCrc32(unit, size - 4);
    else if (crcFromBody)
        crc = mpegCrc32(unit + 6, size - 10);
    else
        return; // a CRC we cannot reproduce stays as it was
    unit[size - 4] = static_cast<std::uint8_t>(crc >> 24);
    unit[size - 3] = static_cast<std::uint8_t>(crc >> 16);
    unit[size - 2] = static_cast<std::uint8_t>(crc >> 8);
    unit[size - 1] = static_cast<std::uint8_t>(crc);
}

void StreamIdRewriter::push(const std::uint8_t* data, std::size_t size,
                            std::vector<std::uint8_t>& out)
{
    pending_.insert(pending_.end(), data, data + size);
    std::size_t pos = 0;
    while (pending_.size() - pos >= 6) {
        std::uint8_t* p = pending_.data() + pos;
        if (p[0] != 0 || p[1] != 0 || p[2] != 1) {
            // Not at a start code: pass bytes through up to the next one.
            std::size_t next = pos + 1;
            while (next + 3 <= pending_.size() &&
                   !(pending_[next] == 0 && pending_[next + 1] == 0 && pending_[next + 2] == 1))
                ++next;
            if (next + 3 > pending_.size()) next = pending_.size() - 2;
            out.insert(out.end(), pending_.begin() + pos, pending_.begin() + next);
            pos = next;
            continue;
        }
        const std::uint8_t code = p[3];
        std::size_t length = 0;
        if (code == 0xBA) {
            if (pending_.size() - pos < 14) break;
            length = (p[4] & 0xC0) == 0x40 ? 14 + (p[13] & 0x07) : 12;
        } else if (code == 0xB9) {
            length = 4;
        } else if (code >= 0xBB) {
            length = 6 + ((p[4] << 8) | p[5]);
        } else {
            length = 4; // a start code that is no system unit
        }
        if (pending_.size() - pos < length) break;
        if (code == 0xBB)
            rewriteSystemHeader(p, length);
        else if (code == 0xBC)
            rewriteStreamMap(p, length);
        else if (code > 0xBC)
            p[3] = map(code);
        out.insert(out.end(), pending_.begin() + pos, pending_.begin() + pos + length);
        pos += length;
    }
    pending_.erase(pending_.begin(), pending_.begin() + pos);
}

void StreamIdRewriter::finish(std::vector<std::uint8_t>& out)
{
    out.insert(out.end(), pending_.begin(), pending_.end());
    pending_.clear();
}

} // namespace kad
