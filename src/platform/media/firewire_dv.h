#pragma once

// The AV/C units (DV camcorders and decks) present on the FireWire buses.

#include <cstdint>
#include <string>
#include <vector>

namespace kad {

struct FirewireDvNode {
    std::uint64_t Guid = 0;
    int Port = 0;
    // The unit's textual label from its configuration ROM; may be empty.
    std::string Label;
};

// Every AV/C unit of every FireWire port. No FireWire bus (no driver, no
// access to it) gives an empty list: that is not an error.
std::vector<FirewireDvNode> ListFirewireDvNodes();

} // namespace kad
