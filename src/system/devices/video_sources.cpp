#include "system/devices/video_sources.h"

#include "platform/media/firewire_dv.h"
#include "system/devices/device_watch.h"
#include "system/devices/element_device.h"

#include <QTime>

#include <mutex>
#include <utility>

namespace kad {

namespace {

// The enumeration used by the loads and the binding. Only the GUI thread
// replaces or calls it; the mutex keeps a test that swaps it from another
// thread honest.
std::mutex enumeratorLock;
DeviceEnumerator& currentEnumerator()
{
    static DeviceEnumerator enumerator;
    return enumerator;
}

// A device's first non-empty string property of the given keys.
QString deviceProperty(GstDevice* device, std::initializer_list<const char*> keys)
{
    GstStructurePtr props(gst_device_get_properties(device));
    if (!props) return {};
    for (const char* key : keys) {
        const gchar* value = gst_structure_get_string(props.get(), key);
        if (value && *value) return QString::fromUtf8(value);
    }
    return {};
}

std::optional<std::vector<TdeviceEntry>> monitorDevices(const char* deviceClass)
{
    // The running watch's monitor knows the devices of the moment. Only
    // without one does a monitor of our own, not started, probe each
    // provider once: such a monitor, once freed, also stops the providers'
    // later announcements reaching a started one (GStreamer 1.22), and the
    // lists would stop following the devices.
    GRef<GstDeviceMonitor> monitor = WatchedMonitor();
    if (!monitor) {
        GstDeviceMonitor* raw = gst_device_monitor_new();
        if (!raw) return std::nullopt;
        if (g_object_is_floating(raw)) gst_object_ref_sink(raw);
        monitor = GRef<GstDeviceMonitor>(raw);
        if (gst_device_monitor_add_filter(monitor.get(), deviceClass, nullptr) == 0)
            return std::nullopt;
    }

    std::vector<TdeviceEntry> entries;
    GList* devices = gst_device_monitor_get_devices(monitor.get());
    std::vector<DeviceRef> ordered;
    for (GList* it = devices; it; it = it->next)
        ordered.emplace_back(GST_DEVICE(it->data));
    g_list_free(devices);
    for (DeviceRef& device : ordered) {
        if (!gst_device_has_classes(device.get(), deviceClass)) continue;
        TdeviceEntry entry;
        GCharPtr name(gst_device_get_display_name(device.get()));
        entry.FriendlyName = QString::fromUtf8(name ? name.get() : "");
        // The sysfs path names one device node for good, whatever /dev name
        // it gets at the next plug-in.
        entry.DevicePath = deviceProperty(
            device.get(), {"sysfs.path", "device.path", "device.bus_path", "api.v4l2.path"});
        entry.Description = deviceProperty(device.get(), {"device.description", "v4l2.device.card",
                                                          "alsa.card_name", "device.product.name"});
        entry.Device = std::move(device);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<TdeviceEntry> firewireDevices()
{
    std::vector<TdeviceEntry> entries;
    for (const FirewireDvNode& node : ListFirewireDvNodes()) {
        const QString guid = QStringLiteral("%1").arg(node.Guid, 16, 16, QLatin1Char('0'));
        TdeviceEntry entry;
        entry.FriendlyName = node.Label.empty() ? QStringLiteral("DV Camera and VCR")
                                                : QString::fromStdString(node.Label);
        entry.DevicePath = QStringLiteral("ieee1394:") + guid;
        entry.Description = QStringLiteral("FireWire DV unit on port %1").arg(node.Port);

        GstStructurePtr props(gst_structure_new(
            "properties", "device.path", G_TYPE_STRING, entry.DevicePath.toUtf8().constData(),
            "device.description", G_TYPE_STRING, entry.Description.toUtf8().constData(),
            "ieee1394.guid", G_TYPE_UINT64, static_cast<guint64>(node.Guid), nullptr));
        GstStructurePtr elementProps(gst_structure_new("dv1394src", "guid", G_TYPE_UINT64,
                                                       static_cast<guint64>(node.Guid), "port",
                                                       G_TYPE_INT, node.Port, nullptr));
        CapsRef caps(gst_caps_from_string("video/x-dv, systemstream=(boolean)true"));
        entry.Device = DeviceRef::sink(
            kad_element_device_new(entry.FriendlyName.toUtf8().constData(), "Video/Source",
                                   caps.get(), props.get(), "dv1394src", elementProps.get()));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::vector<TdeviceEntry>> enumerate(DeviceCategory category)
{
    DeviceEnumerator enumerator;
    {
        std::lock_guard lock(enumeratorLock);
        enumerator = currentEnumerator();
    }
    if (enumerator) return enumerator(category);
    return EnumerateDevices(category);
}

// "unknown" and the time, the made-up path of a device without one. A
// device seen in the same millisecond as another gets a further count so it
// never takes the other's entry.
QString madeUpPath(const TvideoSourceList& list, const QStringList& usedThisLoad)
{
    const QString stamp = QStringLiteral("unknown") + QTime::currentTime().toString("hhmmsszzz");
    QString path = stamp;
    for (int n = 2; list.FindByPath(path) || usedThisLoad.contains(path, Qt::CaseInsensitive); ++n)
        path = stamp + QLatin1Char('-') + QString::number(n);
    return path;
}

bool matchesFriendlyName(const QString& enumerated, const QString& wanted)
{
    return enumerated == wanted || (enumerated == QLatin1String(kMovieBoxSourceName) &&
                                    wanted == QLatin1String(kMovieBoxDisplayName));
}

} // namespace

std::optional<std::vector<TdeviceEntry>> EnumerateDevices(DeviceCategory category)
{
    auto entries =
        monitorDevices(category == DeviceCategory::Video ? "Video/Source" : "Audio/Source");
    if (entries && category == DeviceCategory::Video) {
        for (TdeviceEntry& entry : firewireDevices())
            entries->push_back(std::move(entry));
    }
    return entries;
}

void SetDeviceEnumerator(DeviceEnumerator enumerator)
{
    std::lock_guard lock(enumeratorLock);
    currentEnumerator() = std::move(enumerator);
}

TvideoSource::TvideoSource(QString name, QString devicePath, int occurrence, QString friendlyName)
    : Name(std::move(name)), DevicePath(std::move(devicePath)), Occurrence(occurrence),
      FriendlyName(std::move(friendlyName))
{
}

TvideoSource* TvideoSourceList::FindByPath(const QString& devicePath) const
{
    for (const auto& entry : entries_) {
        if (entry->DevicePath.compare(devicePath, Qt::CaseInsensitive) == 0) return entry.get();
    }
    return nullptr;
}

TvideoSource* TvideoSourceList::FindByName(const QString& name) const
{
    for (const auto& entry : entries_) {
        if (entry->Name == name) return entry.get();
    }
    return nullptr;
}

TvideoSource* TvideoSourceList::Add(std::unique_ptr<TvideoSource> source)
{
    entries_.push_back(std::move(source));
    return entries_.back().get();
}

bool TvideoSourceList::Remove(const TvideoSource* source)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->get() == source) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

bool IsNameFree(const TvideoSourceList& VideoSources, const QString& candidate)
{
    return VideoSources.FindByName(candidate) == nullptr;
}

bool LoadVideoSources(TvideoSourceList& VideoSources, TvideoItems& items)
{
    items.clear();
    const auto devices = enumerate(DeviceCategory::Video);
    if (!devices) return false;

    QStringList usedPaths;
    for (const TdeviceEntry& device : *devices) {
        const QString path =
            device.DevicePath.isEmpty() ? madeUpPath(VideoSources, usedPaths) : device.DevicePath;
        usedPaths.append(path);

        if (TvideoSource* known = VideoSources.FindByPath(path)) {
            // One device listed twice (by two providers) is offered once.
            bool listed = false;
            for (const TvideoItem& item : items)
                listed = listed || item.Source == known;
            if (listed) continue;
            known->Device = device.Device;
            known->Description = device.Description;
            items.push_back({known->Name, known});
            continue;
        }

        const QString displayName = device.FriendlyName == QLatin1String(kMovieBoxSourceName)
                                        ? QString::fromLatin1(kMovieBoxDisplayName)
                                        : device.FriendlyName;
        int n = 1;
        QString candidate = displayName;
        while (!IsNameFree(VideoSources, candidate)) {
            ++n;
            candidate = displayName + QStringLiteral(" #") + QString::number(n);
        }
        auto source = std::make_unique<TvideoSource>(candidate, path, n, device.FriendlyName);
        source->Description = device.Description;
        source->Device = device.Device;
        TvideoSource* added = VideoSources.Add(std::move(source));
        items.push_back({added->Name, added});
    }
    return true;
}

bool LoadAudioSources(QStringList& items)
{
    items.clear();
    const auto devices = enumerate(DeviceCategory::Audio);
    if (!devices) return false;
    for (const TdeviceEntry& device : *devices)
        items.append(device.FriendlyName);
    return true;
}

TboundSource BindVideoSource(const TvideoSource& source, const char* elementName)
{
    TboundSource result;
    const auto devices = enumerate(DeviceCategory::Video);
    if (!devices) return result;
    // The device known by this entry's path is the one meant, even when an
    // earlier device of the same friendly name has gone and the counting
    // below would miss it or take another.
    const TdeviceEntry* chosen = nullptr;
    for (const TdeviceEntry& device : *devices) {
        if (!device.DevicePath.isEmpty() &&
            device.DevicePath.compare(source.DevicePath, Qt::CaseInsensitive) == 0 &&
            matchesFriendlyName(device.FriendlyName, source.FriendlyName)) {
            chosen = &device;
            break;
        }
    }
    int matches = 0;
    for (auto it = devices->begin(); !chosen && it != devices->end(); ++it) {
        if (matchesFriendlyName(it->FriendlyName, source.FriendlyName) &&
            ++matches == source.Occurrence)
            chosen = &*it;
    }
    if (!chosen) return result;
    if (chosen->Device)
        result.Element =
            ElementRef::sink(gst_device_create_element(chosen->Device.get(), elementName));
    result.Status = result.Element ? BindStatus::Bound : BindStatus::ElementFailed;
    return result;
}

} // namespace kad
