#pragma once

namespace kad {

// Registers the virtual devices (their provider and source elements) as a
// static plugin of their own, "kadrillovirtual", beside the production one.
// Safe to call more than once; gst_init() must have run. The program calls
// it only when KADRILLO_VIRTUAL_DEVICES is set; tests and benchmarks always.
bool registerVirtualDevices();

} // namespace kad
