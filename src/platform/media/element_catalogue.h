#pragma once

// The GStreamer registry seen as Kadrillo's filter categories: each
// element factory is listed under its long name (Kadrillo's own elements
// carry the companion filters' friendly names), followed by the friendly
// names of the platform and outside filters that GStreamer elements stand in
// for. Look-ups compare names without regard to case; of equal names the one
// listed last wins.

#include <QString>

#include <gst/gst.h>

#include <optional>
#include <string>
#include <vector>

namespace kad {

struct TfilterEntry {
    QString FriendlyName;
    // The element factory that makes it.
    std::string Factory;
};

// The "DirectShow Filters" category: every element factory of the registry,
// then the catalogue's stand-ins whose factory is installed, in that order.
std::vector<TfilterEntry> EnumerateFilters();

// The factory of the last entry named name (ignoring case), if any.
std::optional<std::string> FindFilterByName(const QString& name);

// The factory that stands for a filter's class identifier
// ("{XXXXXXXX-...}", compared without regard to case), when one is installed.
std::optional<std::string> FindFilterByClsid(const QString& clsid);

// The first installed factory of the list, or empty.
std::string FirstInstalled(std::initializer_list<const char*> factories);
bool Installed(const char* factory);

// Makes a decoder of pictures that each stand alone (DV) hand every picture
// on as soon as it is decoded: libav's decoders otherwise thread by frames,
// holding one picture per extra thread until more arrive. Behind a source
// that is not live, a preview whose display is still waiting for its first
// picture then never gets it: the source stops at its allocation query,
// which the capture branch holds until the pipeline plays, and the pipeline
// plays only once the display has that picture. The picture is decoded on
// the streaming thread itself: a DV picture takes a millisecond or two of
// one core, well inside a frame's time, and handing its slices to a second
// thread costs more CPU than the thread saves (about a fifth of the decode
// here). Elements without libav's threading are left alone.
void SetPictureByPictureDecoding(GstElement* decoder);

// Class identifiers of the platform and third-party filters Kadrillo asks for.
inline constexpr const char* kClsidCirrusSplitter = "{64143E79-DBA1-4334-9A92-B0B77DAE0877}";
inline constexpr const char* kClsidPinnacleDemux = "{5E35D25A-E088-48C5-A229-804306F9DEEF}";
inline constexpr const char* kClsidMpeg2Demultiplexer = "{AFB6C280-2C41-11D3-8A60-0000F81E0E4A}";
inline constexpr const char* kClsidMovieBoxB = "{45722E7E-7A80-4985-9333-7788B27B126F}";

// A new audio output: autoaudiosink when this machine has a working sound
// output, else a fakesink that keeps time like a sound card would. Which one
// is decided once per run.
GstElement* MakeAudioOutput();

} // namespace kad
