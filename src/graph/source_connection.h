#pragma once

// TsourceConnection: the device in the graph. ConnectSource puts the chosen
// device in the graph as the VideoSource slot, asks it for its camcorder
// control and its crossbar, and classifies it by what its pads carry: the
// source's kind and the pad the preview builds from (Pin).
//
// A part of TdmCam, on the GUI thread like the rest of it. Opening a device
// (bringing its element to READY) can take seconds on real hardware, so the
// program connects with ConnectSourceAsync: the device opens on a GStreamer
// pool thread and the rest of the connection runs back on the GUI thread,
// told by SourceConnected. ConnectSource does it all at once, for the graph
// tests and the benchmarks.

#include "platform/media/gst_ptr.h"
#include "system/kinds.h"

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <utility>
#include <variant>

namespace kad {

class TvideoSource;
class TCrossbar;
class TcamTransport;
class TdmCam;
class TfilterGraph;
class TpreviewBuilder;

// What the connection found out about the source.
struct TsourceFacts {
    kad::SourceKind Kind = kad::SourceKind::skNoVideo;
    QString Description;
    bool HasExtTransport = false;
    bool HasExtDevice = false;
    bool HasTimecodeReader = false;
    bool IsCamera = false;
    bool IsVCR = false;
    // The number of analog video inputs of the source's crossbar.
    int VideoInputCount = 0;
};

// A connection's outcome: the facts of the connected source, or the text
// that says why it could not be used.
class TconnectResult {
public:
    static TconnectResult Connected(TsourceFacts facts)
    {
        return TconnectResult(std::in_place_index<0>, std::move(facts));
    }
    static TconnectResult Failed(QString error)
    {
        return TconnectResult(std::in_place_index<1>, std::move(error));
    }

    bool has_value() const { return outcome_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    // Only when has_value().
    const TsourceFacts& value() const { return std::get<0>(outcome_); }
    const TsourceFacts* operator->() const { return &value(); }
    const TsourceFacts& operator*() const { return value(); }
    // Only when !has_value().
    const QString& error() const { return std::get<1>(outcome_); }

private:
    template <std::size_t I, typename T>
    TconnectResult(std::in_place_index_t<I> which, T&& v) : outcome_(which, std::forward<T>(v))
    {
    }
    std::variant<TsourceFacts, QString> outcome_;
};

class TsourceConnection : public QObject {
    Q_OBJECT
public:
    TsourceConnection(TfilterGraph& graph, TpreviewBuilder& preview, QObject* parent = nullptr);
    ~TsourceConnection() override;
    TsourceConnection(const TsourceConnection&) = delete;
    TsourceConnection& operator=(const TsourceConnection&) = delete;

    TconnectResult ConnectSource(const TvideoSource& source);
    // The same without waiting for the device: the source is taken out of
    // the graph at once (Kind becomes skNoVideo), the device opens off the
    // GUI thread, and SourceConnected tells the outcome once it is in the
    // graph and classified, with the same log lines as ConnectSource. A newer
    // connect, or CancelConnect, makes this one stale: its device is closed
    // off the GUI thread and SourceConnected is not emitted for it.
    void ConnectSourceAsync(const TvideoSource& source);
    void CancelConnect();
    // A ConnectSourceAsync has not told its outcome yet.
    bool Connecting() const { return connecting_; }
    // The same for a source element made elsewhere (a file, a test source):
    // name is what the log calls it.
    TconnectResult ConnectSourceElement(const QString& name, GstElement* floatingElement,
                                        const QString& description = {});
    bool DetectTransport();
    bool FindCaptureInterfaces();

    kad::SourceKind Kind() const { return facts_.Kind; }
    // The builders take the source for one of this kind (a stand-in for a
    // device of that kind).
    void SetKind(kad::SourceKind kind) { facts_.Kind = kind; }
    const TsourceFacts& Facts() const { return facts_; }
    // The source's pad the previews build from (null before a connection).
    const PadRef& Pin() const { return pin_; }
    // The camcorder control of the connected source, or null; DetectTransport
    // replaces it. A FireWire unit tells its device type a moment after the
    // connection: IsCamera and IsVCR follow and TransportFactsChanged says so.
    TcamTransport* Transport() const { return transport_.get(); }
    // The crossbar feeding the source's analog video input (the device's
    // inputs), or null.
    TCrossbar* VideoCrossbar() const { return crossbar_.get(); }
    // A crossbar put in front of the source by other means (a settings page
    // under test); null takes it away.
    void SetVideoCrossbar(std::unique_ptr<TCrossbar> crossbar, int inputs);
    // The device the source was made from, or null (a source element).
    GstDevice* Device() const { return device_.get(); }

    // No source: the kind, the camcorder control and the facts of the
    // source left are forgotten (the VideoSource slot is the caller's).
    void ForgetSource();

signals:
    // IsCamera and IsVCR changed after the connection (a FireWire unit
    // answered late).
    void TransportFactsChanged();
    // The outcome of the latest ConnectSourceAsync.
    void SourceConnected(const kad::TconnectResult& result);

private:
    friend class TdmCam;
    friend class TfilterGraph;
    TconnectResult classify();
    TconnectResult failed(const QString& text);
    void releasePin() { pin_.reset(); }
    // ConnectSourceElement's halves: the graph emptied of the previous
    // source, then the opened element placed and classified.
    void beginConnect(const QString& name);
    TconnectResult finishConnect(const QString& name, ElementRef element,
                                 const QString& description);
    // Back on the GUI thread from the pool thread that opened element.
    void opened(int generation, ElementRef element, bool ok, const QString& name,
                const QString& description);

    // What the pool thread opening a device shares with this object: whether
    // it still exists and which connection is the wanted one.
    struct Tguard {
        std::mutex lock;
        bool alive = true;
        int generation = 0;
    };

    TfilterGraph& graph_;
    TpreviewBuilder& preview_;
    TsourceFacts facts_;
    PadRef pin_;
    std::unique_ptr<TcamTransport> transport_;
    std::unique_ptr<TCrossbar> crossbar_;
    GRef<GstDevice> device_;
    std::shared_ptr<Tguard> guard_ = std::make_shared<Tguard>();
    int generation_ = 0;
    bool connecting_ = false;
};

} // namespace kad
