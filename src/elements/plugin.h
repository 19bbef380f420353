#pragma once

namespace kad {

// Registers Kadrillo's own elements and the virtual device provider as a
// static plugin. Safe to call more than once; gst_init() must have run.
bool registerElements();

} // namespace kad
