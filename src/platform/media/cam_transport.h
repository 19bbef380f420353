#pragma once

// The camcorder's transport as the rest of Kadrillo sees it, whatever drives
// it: the KadTransport interface of the source element (the virtual
// camcorders), or AV/C commands to a FireWire unit sent from a worker
// thread (TavcTransport). Commands and timecode requests never block the
// caller; results come back as signals on the thread that owns the object
// (the GUI thread).

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/media/gst_ptr.h"

namespace kad {

class AvcUnit;

// The seven buttons of the camcorder window.
enum class CamCommand { Play, Pause, Stop, SlowForward, FastForward, SlowReverse, FastReverse };

// The transport mode a command sends (KAD_TRANSPORT_*). Fast forward and fast
// rewind depend on the tape: from a stopped tape they wind, otherwise they
// play at the fastest speed. An unknown current mode is not a stopped tape.
int ModeForCommand(CamCommand command, std::optional<int> currentMode);

// The panel text of a timecode packed as the camcorder reports it (two BCD
// digits each, hours in the highest byte): "H:MM:SS:FF", the hours' leading
// zero dropped. Digits that are no decimal digit are shown as they came
// (0x1A reads "1A"), so a tape with a damaged subcode still shows something.
QString FormatTimecode(std::uint32_t bcd);

class TcamTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool HasExtTransport() const = 0;
    virtual bool HasTimecodeReader() const = 0;
    // KAD_DEVICE_TYPE_VCR, KAD_DEVICE_TYPE_CAMERA or KAD_DEVICE_TYPE_NONE
    // (also while a FireWire unit has not said yet).
    virtual int DeviceType() const = 0;

    // Ignored without a transport; a command the device refuses or does not
    // answer is dropped (commandDone says so).
    virtual void Command(CamCommand command) = 0;
    // Asks for the tape timecode; timecodeRead answers unless the device
    // cannot tell.
    virtual void RequestTimecode() = 0;

signals:
    void timecodeRead(quint32 bcd);
    void commandDone(int mode, bool accepted);
    // A FireWire unit said which mode it is in after the connection.
    void deviceTypeChanged(int type);
};

// The KadTransport of a source element.
class TelementTransport final : public TcamTransport {
    Q_OBJECT
public:
    // element implements KadTransport.
    explicit TelementTransport(GstElement* element, QObject* parent = nullptr);

    bool HasExtTransport() const override;
    bool HasTimecodeReader() const override;
    int DeviceType() const override;
    void Command(CamCommand command) override;
    void RequestTimecode() override;

private:
    ElementRef element_;
};

// Opens the AV/C unit of a FireWire GUID; tests replace it with a fake
// unit. An empty function restores libavc1394.
using AvcUnitOpener = std::function<std::unique_ptr<AvcUnit>(std::uint64_t guid)>;
void SetAvcUnitOpener(AvcUnitOpener opener);

// The transport of a source element: its own KadTransport, AV/C for a
// dv1394src, or null for a source without camcorder control.
std::unique_ptr<TcamTransport> MakeCamTransport(GstElement* source);

} // namespace kad
