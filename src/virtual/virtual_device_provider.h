#pragma once

// kadvirtualdeviceprovider: lists Kadrillo's virtual capture devices to the
// GStreamer device monitor when the environment variable
// KADRILLO_VIRTUAL_DEVICES is set: "1" lists every kind once, otherwise a
// comma-separated list of kinds (repeats give several identical devices):
//
//   dv-pal-vcr      "Virtual DV Camcorder (PAL)"      DV, tape player (VCR mode)
//   dv-ntsc-camera  "Virtual DV Camcorder (NTSC)"     DV, camera mode
//   webcam          "Virtual Webcam"                  raw video, three inputs
//   mpeg2           "Virtual MPEG-2 Encoder"          MPEG-2 program stream
//   moviebox        "Cirrus Logic USB-DVR2 Source"    MPEG-2 program stream, streams 0xE1/0xC1
//   mic             "Virtual Microphone"              48 kHz stereo audio
//   dvfile:PATH     "DV file NAME" (NAME: the file's)  DV, the file played as a tape
//                   (kadvirtualdvfilesrc); files not readable as DV are not
//                   listed and are reported once on stderr
//
// Every device has the properties "device.path" (/virtual/kadrillo/<kind>/<n>,
// n counting devices of the same kind from 0), "device.description" and
// "kadrillo.virtual-id"; the MovieBox also "kadrillo.clsid". Unplugging a
// device (its element's "unplug" property, or unplugVirtualDevice) reports
// it removed on the provider's bus and keeps it out of later listings until
// it is plugged back in.

#include <gst/gst.h>

#include <string>

G_BEGIN_DECLS

#define KAD_TYPE_VIRTUAL_DEVICE_PROVIDER (kad_virtual_device_provider_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualDeviceProvider, kad_virtual_device_provider, KAD,
                     VIRTUAL_DEVICE_PROVIDER, GstDeviceProvider)

#define KAD_TYPE_VIRTUAL_DEVICE (kad_virtual_device_get_type())
G_DECLARE_FINAL_TYPE(KadVirtualDevice, kad_virtual_device, KAD, VIRTUAL_DEVICE, GstDevice)

// Registers the provider and the virtual device elements (kadvirtualdvsrc,
// kadvirtualwebcamsrc, kadvirtualmpegsrc, kadvirtualmicsrc).
gboolean kad_virtual_devices_register(GstPlugin* plugin);

G_END_DECLS

namespace kad {

inline constexpr const char* kMovieBoxClsid = "{45722E7E-7A80-4985-9333-7788B27B126F}";
inline constexpr const char* kMovieBoxFriendlyName = "Cirrus Logic USB-DVR2 Source";

// Takes the device with this path away (device-removed on every started
// provider) until replugVirtualDevice brings it back (device-added).
void unplugVirtualDevice(const std::string& devicePath);
void replugVirtualDevice(const std::string& devicePath);
bool virtualDeviceUnplugged(const std::string& devicePath);

} // namespace kad
