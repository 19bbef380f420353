#include "platform/media/cam_transport.h"

#include "elements/kad_transport.h"
#include "platform/media/avc_transport.h"
#include "platform/media/avc_unit.h"

namespace kad {

int ModeForCommand(CamCommand command, std::optional<int> currentMode)
{
    const bool stopped = currentMode && *currentMode == KAD_TRANSPORT_STOP;
    switch (command) {
    case CamCommand::Play:
        return KAD_TRANSPORT_PLAY;
    case CamCommand::Pause:
        return KAD_TRANSPORT_FREEZE;
    case CamCommand::Stop:
        return KAD_TRANSPORT_STOP;
    case CamCommand::SlowForward:
        return KAD_TRANSPORT_PLAY_SLOWEST_FORWARD;
    case CamCommand::FastForward:
        return stopped ? KAD_TRANSPORT_FAST_FORWARD : KAD_TRANSPORT_PLAY_FASTEST_FORWARD;
    case CamCommand::SlowReverse:
        return KAD_TRANSPORT_PLAY_SLOWEST_REVERSE;
    case CamCommand::FastReverse:
        return stopped ? KAD_TRANSPORT_REWIND : KAD_TRANSPORT_PLAY_FASTEST_REVERSE;
    }
    return KAD_TRANSPORT_STOP;
}

QString FormatTimecode(std::uint32_t bcd)
{
    // Ten hexadecimal digits, the first two always zero: hours are digits
    // 3-4, minutes 5-6, seconds 7-8, frames 9-10.
    const QString digits =
        QStringLiteral("%1").arg(static_cast<qulonglong>(bcd), 10, 16, QLatin1Char('0')).toUpper();
    QString hours = digits.mid(2, 2);
    if (hours.startsWith(QLatin1Char('0'))) hours.remove(0, 1);
    return QStringLiteral("%1:%2:%3:%4")
        .arg(hours, digits.mid(4, 2), digits.mid(6, 2), digits.mid(8, 2));
}

TelementTransport::TelementTransport(GstElement* element, QObject* parent)
    : TcamTransport(parent), element_(ElementRef::ref(element))
{
}

bool TelementTransport::HasExtTransport() const
{
    return kad_transport_has_ext_transport(KAD_TRANSPORT(element_.get()));
}

bool TelementTransport::HasTimecodeReader() const
{
    return kad_transport_has_timecode_reader(KAD_TRANSPORT(element_.get()));
}

int TelementTransport::DeviceType() const
{
    return kad_transport_get_device_type(KAD_TRANSPORT(element_.get()));
}

void TelementTransport::Command(CamCommand command)
{
    KadTransport* transport = KAD_TRANSPORT(element_.get());
    if (!kad_transport_has_ext_transport(transport)) return;
    std::optional<int> current;
    if (command == CamCommand::FastForward || command == CamCommand::FastReverse) {
        gint mode = 0;
        if (kad_transport_get_mode(transport, &mode)) current = mode;
    }
    const int mode = ModeForCommand(command, current);
    const bool ok = kad_transport_set_mode(transport, mode);
    emit commandDone(mode, ok);
}

void TelementTransport::RequestTimecode()
{
    KadTransport* transport = KAD_TRANSPORT(element_.get());
    if (!kad_transport_has_timecode_reader(transport)) return;
    KadTimecode timecode{};
    if (kad_transport_get_timecode(transport, &timecode))
        emit timecodeRead(kad_timecode_to_bcd(&timecode));
}

namespace {

AvcUnitOpener& avcOpener()
{
    static AvcUnitOpener opener;
    return opener;
}

} // namespace

void SetAvcUnitOpener(AvcUnitOpener opener)
{
    avcOpener() = std::move(opener);
}

std::unique_ptr<TcamTransport> MakeCamTransport(GstElement* source)
{
    if (!source) return nullptr;
    if (kad_transport_find(G_OBJECT(source))) return std::make_unique<TelementTransport>(source);
    GstElementFactory* factory = gst_element_get_factory(source);
    const bool firewire =
        factory &&
        g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "dv1394src") == 0;
    GParamSpec* guidSpec = g_object_class_find_property(G_OBJECT_GET_CLASS(source), "guid");
    if (!firewire || !guidSpec || guidSpec->value_type != G_TYPE_UINT64) return nullptr;
    guint64 guid = 0;
    g_object_get(source, "guid", &guid, nullptr);
    std::unique_ptr<AvcUnit> unit = avcOpener() ? avcOpener()(guid) : OpenAvcUnit(guid);
    if (!unit) return nullptr;
    return std::make_unique<TavcTransport>(std::move(unit));
}

} // namespace kad
