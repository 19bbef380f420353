#pragma once

// The media platform's version and the texts of its result codes.
//
// Kadrillo's DirectX-era routines stand for GStreamer here:
//   DirectXVersion() -> MediaPlatformVersion()  ("1.22.0")
//   DirectXMajor()   -> MediaPlatformMajor() with MediaPlatformMinor(), since
//                       GStreamer's compatibility lives in the minor number
//   AMGetErrorText   -> MediaErrorText() of a GError, a pad link result, a
//                       state change result or a flow result

#include <QString>

#include <gst/gst.h>

namespace kad {

// Texts of MediaErrorText() are cut to this many characters.
inline constexpr int kMediaErrorTextMax = 255;

// "major.minor.micro" of the GStreamer library in use, with ".nano" added for
// development (1) and prerelease (2) builds.
QString MediaPlatformVersion();
unsigned MediaPlatformMajor();
unsigned MediaPlatformMinor();

QString MediaErrorText(const GError* error);
QString MediaErrorText(GstPadLinkReturn result);
QString MediaErrorText(GstStateChangeReturn result);
QString MediaErrorText(GstFlowReturn result);

} // namespace kad
