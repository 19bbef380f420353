#pragma once

namespace kad {

// Names the application ("Kadrillo") for settings paths, message boxes and
// the desktop. No display name is set: with one, the platform appends
// " — <display name>" to every window title, and Kadrillo's titles are
// complete as they are ("Kadrillo by Tavrel - <source>", the source alone
// in the reduced window, "Drive the camcorder: <source>").
void NameApplication();

} // namespace kad
