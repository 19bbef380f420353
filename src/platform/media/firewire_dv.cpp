#include "platform/media/firewire_dv.h"

#include <libavc1394/rom1394.h>
#include <libraw1394/raw1394.h>

#include <memory>

namespace kad {

namespace {

struct HandleDeleter {
    void operator()(raw1394handle_t handle) const { raw1394_destroy_handle(handle); }
};
using HandlePtr = std::unique_ptr<std::remove_pointer_t<raw1394handle_t>, HandleDeleter>;

constexpr int kMaxPorts = 16;

void listPort(int port, std::vector<FirewireDvNode>& nodes)
{
    HandlePtr handle(raw1394_new_handle_on_port(port));
    if (!handle) return;
    const int count = raw1394_get_nodecount(handle.get());
    for (int node = 0; node < count; ++node) {
        rom1394_directory dir{};
        // A node whose configuration ROM cannot be read is skipped; it is
        // not a DV unit we could drive anyway.
        if (rom1394_get_directory(handle.get(), static_cast<nodeid_t>(node), &dir) < 0) continue;
        if (rom1394_get_node_type(&dir) == ROM1394_NODE_TYPE_AVC) {
            FirewireDvNode found;
            found.Guid = rom1394_get_guid(handle.get(), static_cast<nodeid_t>(node));
            found.Port = port;
            if (dir.label) found.Label = dir.label;
            nodes.push_back(std::move(found));
        }
        rom1394_free_directory(&dir);
    }
}

} // namespace

std::vector<FirewireDvNode> ListFirewireDvNodes()
{
    std::vector<FirewireDvNode> nodes;
    HandlePtr handle(raw1394_new_handle());
    if (!handle) return nodes;
    raw1394_portinfo ports[kMaxPorts];
    const int portCount = raw1394_get_port_info(handle.get(), ports, kMaxPorts);
    handle.reset();
    for (int port = 0; port < portCount && port < kMaxPorts; ++port)
        listPort(port, nodes);
    return nodes;
}

} // namespace kad
