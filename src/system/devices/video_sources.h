#pragma once

// The capture devices Kadrillo can preview: video devices as TvideoSource
// entries kept for the whole run in one TvideoSourceList, audio devices as
// plain friendly names.
//
// Devices come from GStreamer's device monitor (classes "Video/Source" and
// "Audio/Source": V4L2 and sound devices, and Kadrillo's virtual devices when
// KADRILLO_VIRTUAL_DEVICES is set) and, for video, from the FireWire bus
// (DV camcorders, bound as dv1394src). Every device is presented as a
// GstDevice so that binding one is always gst_device_create_element().

#include "platform/media/gst_ptr.h"

#include <QString>
#include <QStringList>

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kad {

using DeviceRef = GRef<GstDevice>;

// The friendly name the MovieBox model B's capture device reports, and the
// name the user knows it by.
inline constexpr const char* kMovieBoxSourceName = "Cirrus Logic USB-DVR2 Source";
inline constexpr const char* kMovieBoxDisplayName = "Pinnacle Moviebox-B";

enum class DeviceCategory { Video, Audio };

// One device as the enumeration reports it, in enumeration order.
struct TdeviceEntry {
    QString FriendlyName;
    // "DevicePath": the device's stable path; empty when it has none.
    QString DevicePath;
    // "Description": card or bus name, may be empty.
    QString Description;
    DeviceRef Device;
};

// The ordered devices of a category, or nullopt when the enumeration failed.
using DeviceEnumerator = std::function<std::optional<std::vector<TdeviceEntry>>(DeviceCategory)>;

// The enumeration the loads and BindVideoSource use: the device monitor plus
// the FireWire bus. Failing to reach the FireWire bus is not an error (no
// bus simply means no FireWire device).
std::optional<std::vector<TdeviceEntry>> EnumerateDevices(DeviceCategory category);

// Replaces the enumeration (tests feed fake devices through it); an empty
// function restores EnumerateDevices.
void SetDeviceEnumerator(DeviceEnumerator enumerator);

// One video capture device seen since start.
class TvideoSource {
public:
    TvideoSource(QString name, QString devicePath, int occurrence, QString friendlyName);

    // Display name, unique among the entries of the list.
    QString Name;
    // "DevicePath", or a made-up "unknown..." text when the device has none.
    QString DevicePath;
    // 1 for the first device under a display name, n for the " #n" one.
    int Occurrence = 1;
    // The friendly name as enumerated, before the MovieBox renaming.
    QString FriendlyName;
    // "Description" as last enumerated.
    QString Description;
    // The device as last enumerated; kept for its properties. Binding looks
    // the device up again (BindVideoSource).
    DeviceRef Device;
};

// The program's one list of video devices, keyed by device path. It owns its
// entries; pointers to them stay valid until the entry is removed or the list
// is destroyed.
class TvideoSourceList {
public:
    TvideoSourceList() = default;
    TvideoSourceList(const TvideoSourceList&) = delete;
    TvideoSourceList& operator=(const TvideoSourceList&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    TvideoSource* At(int index) const { return entries_.at(static_cast<size_t>(index)).get(); }
    // The entry with this device path, compared without regard to case.
    TvideoSource* FindByPath(const QString& devicePath) const;
    // The entry with this display name (exact comparison).
    TvideoSource* FindByName(const QString& name) const;
    // Adds an entry under its device path and returns it.
    TvideoSource* Add(std::unique_ptr<TvideoSource> source);
    // Takes the entry out of the list and frees it (its device could not be
    // connected). Returns false when it was not in the list.
    bool Remove(const TvideoSource* source);
    void Clear() { entries_.clear(); }

private:
    std::vector<std::unique_ptr<TvideoSource>> entries_;
};

// One item of the video combo: the entry's Name and the entry itself (the
// combo does not own it).
struct TvideoItem {
    QString Name;
    TvideoSource* Source = nullptr;
};
using TvideoItems = std::vector<TvideoItem>;

// Clears items and fills it with the video devices present, entering new ones
// in VideoSources. True when the enumeration ran to its end (also with no
// device); false when it could not be done ("Impossible to load the Video
// sources").
bool LoadVideoSources(TvideoSourceList& VideoSources, TvideoItems& items);

// Clears items and fills it with the friendly names of the audio capture
// devices in enumeration order. False when the enumeration failed.
bool LoadAudioSources(QStringList& items);

// True when no entry of VideoSources has this display name (exact,
// case-sensitive).
bool IsNameFree(const TvideoSourceList& VideoSources, const QString& candidate);

enum class BindStatus {
    Bound,
    // No device of the source's friendly name at its occurrence: the device is
    // gone (or the enumeration failed).
    DeviceNotFound,
    // The device was found but could not create its element.
    ElementFailed,
};

struct TboundSource {
    BindStatus Status = BindStatus::DeviceNotFound;
    // The new, floating-free source element to place in the graph (only when
    // Status is Bound).
    ElementRef Element;
    explicit operator bool() const { return Status == BindStatus::Bound; }
};

// Finds the device of source again and creates its source element named
// elementName: the device of the entry's path when it is present, otherwise
// the Occurrence-th device of its friendly name in enumeration order (the
// MovieBox's enumerated name matches "Pinnacle Moviebox-B").
TboundSource BindVideoSource(const TvideoSource& source, const char* elementName = nullptr);

} // namespace kad
