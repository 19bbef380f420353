#pragma once

// asfmux writes its last, partly filled data packet with a Packet Length
// that leaves out the padding (and any packet shorter than the fixed size the
// same way). Readers take Packet Length as the whole packet, so they subtract
// the padding a second time, cut the packet's last payloads and, when the
// padding is larger than the rest, drop the packet and lose sync. The last
// frames of every Windows Media file would be unreadable.
//
// KeepAsfPacketsWhole watches the muxer's output and writes the fixed packet
// size into such a packet's length field before it reaches the file.

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>

namespace kad {

// Rewrites the Packet Length of one ASF data packet of packetSize bytes when
// the field and the padding length add up to the packet size but the field
// alone does not. Returns true when the packet was changed. Anything that is
// not such a packet (the header, the index, a packet already whole, a field
// too narrow for the size) is left as it is.
bool WholeAsfPacketLength(std::uint8_t* data, std::size_t size, std::size_t packetSize);

// Same test without writing: whether WholeAsfPacketLength would change it.
bool AsfPacketNeedsWholeLength(const std::uint8_t* data, std::size_t size, std::size_t packetSize);

// Installs the correction on mux's source pad (an asfmux; nothing happens
// for another element). The probe runs on the muxer's streaming thread and
// keeps no state of its own.
void KeepAsfPacketsWhole(GstElement* mux);

} // namespace kad
