#include "graph/asf_packets.h"

#include "platform/media/gst_ptr.h"

#include <algorithm>
#include <array>
#include <optional>

namespace kad {

namespace {

// Where the Packet Length field of a data packet lies, with its width and
// the padding length read from the same header.
struct LengthField {
    std::size_t offset = 0;
    std::size_t width = 0;
    std::uint32_t length = 0;
    std::uint32_t padding = 0;
};

std::size_t fieldWidth(unsigned type)
{
    static constexpr std::array<std::size_t, 4> widths{0, 1, 2, 4};
    return widths[type & 3];
}

std::uint32_t readLe(const std::uint8_t* p, std::size_t width)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= std::uint32_t(p[i]) << (8 * i);
    return v;
}

std::optional<LengthField> lengthField(const std::uint8_t* data, std::size_t size)
{
    std::size_t at = 0;
    if (size < 1) return std::nullopt;
    // Error correction data first, when its flag is set; only the short form
    // (its length in the low bits) exists in practice.
    if (data[0] & 0x80) {
        if ((data[0] & 0x60) != 0) return std::nullopt;
        at = 1 + (data[0] & 0x0f);
    }
    if (at + 2 > size) return std::nullopt;
    const std::uint8_t flags = data[at];
    at += 2; // length type flags, property flags
    LengthField f;
    f.offset = at;
    f.width = fieldWidth(flags >> 5);
    const std::size_t sequence = fieldWidth(flags >> 1);
    const std::size_t padding = fieldWidth(flags >> 3);
    if (f.width == 0 || at + f.width + sequence + padding > size) return std::nullopt;
    f.length = readLe(data + at, f.width);
    f.padding = readLe(data + at + f.width + sequence, padding);
    return f;
}

bool needsWholeLength(const LengthField& f, std::size_t packetSize)
{
    if (f.length == packetSize || f.length + std::size_t(f.padding) != packetSize) return false;
    return f.width == 4 || packetSize < (std::size_t(1) << (8 * f.width));
}

// The header and the simple index arrive as buffers of their own that start
// with their object's GUID; only data packets are ever changed.
bool isObject(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::array<std::uint8_t, 16> header{0x30, 0x26, 0xb2, 0x75, 0x8e, 0x66,
                                                         0xcf, 0x11, 0xa6, 0xd9, 0x00, 0xaa,
                                                         0x00, 0x62, 0xce, 0x6c};
    static constexpr std::array<std::uint8_t, 16> index{0x90, 0x08, 0x00, 0x33, 0xb1, 0xe5,
                                                        0xcf, 0x11, 0x89, 0xf4, 0x00, 0xa0,
                                                        0xc9, 0x03, 0x49, 0xcb};
    if (size < 16) return false;
    return std::equal(header.begin(), header.end(), data) ||
           std::equal(index.begin(), index.end(), data);
}

GstPadProbeReturn onPacket(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    const auto packetSize = std::size_t(GPOINTER_TO_UINT(data));
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || gst_buffer_get_size(buffer) != packetSize) return GST_PAD_PROBE_OK;
    std::array<std::uint8_t, 32> head{};
    const std::size_t got = gst_buffer_extract(buffer, 0, head.data(), head.size());
    if (!AsfPacketNeedsWholeLength(head.data(), got, packetSize)) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) {
        WholeAsfPacketLength(map.data, map.size, packetSize);
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

// The Packet Length field to mend, when the packet has one.
std::optional<LengthField> shortLength(const std::uint8_t* data, std::size_t size,
                                       std::size_t packetSize)
{
    if (!data || size == 0 || isObject(data, size)) return std::nullopt;
    const auto f = lengthField(data, size);
    if (!f || !needsWholeLength(*f, packetSize)) return std::nullopt;
    return f;
}

} // namespace

bool AsfPacketNeedsWholeLength(const std::uint8_t* data, std::size_t size, std::size_t packetSize)
{
    return shortLength(data, size, packetSize).has_value();
}

bool WholeAsfPacketLength(std::uint8_t* data, std::size_t size, std::size_t packetSize)
{
    const auto f = shortLength(data, size, packetSize);
    if (!f) return false;
    for (std::size_t i = 0; i < f->width; ++i)
        data[f->offset + i] = std::uint8_t(packetSize >> (8 * i));
    return true;
}

void KeepAsfPacketsWhole(GstElement* mux)
{
    if (!mux || !g_object_class_find_property(G_OBJECT_GET_CLASS(mux), "packet-size")) return;
    guint packetSize = 0;
    g_object_get(mux, "packet-size", &packetSize, NULL);
    PadRef src(gst_element_get_static_pad(mux, "src"));
    if (!src || packetSize == 0) return;
    gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_BUFFER, onPacket, GUINT_TO_POINTER(packetSize),
                      nullptr);
}

} // namespace kad
