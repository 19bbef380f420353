#pragma once

// Renumbers the elementary streams of an MPEG program stream as it flows:
// PES packet start codes, the system header's stream entries and the program
// stream map (whose CRC is recomputed). The MovieBox model B sends its video
// on stream 0xE1 and its audio on 0xC1, where ordinary muxers use 0xE0/0xC0.

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace kad {

class StreamIdRewriter {
public:
    explicit StreamIdRewriter(std::map<std::uint8_t, std::uint8_t> ids) : ids_(std::move(ids)) {}

    // Feeds bytes in; appends to out every whole unit (pack header, system
    // header, map, PES packet) seen so far, rewritten.
    void push(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);
    // Appends whatever is still held (an incomplete unit, unchanged).
    void finish(std::vector<std::uint8_t>& out);
    void reset() { pending_.clear(); }

private:
    std::uint8_t map(std::uint8_t id) const;
    void rewriteSystemHeader(std::uint8_t* unit, std::size_t size) const;
    void rewriteStreamMap(std::uint8_t* unit, std::size_t size) const;

    std::map<std::uint8_t, std::uint8_t> ids_;
    std::vector<std::uint8_t> pending_;
};

// CRC-32 as MPEG systems use it (polynomial 0x04C11DB7, no reflection).
std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t size);

} // namespace kad
