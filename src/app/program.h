#pragma once

// The assembled program: the main window, the camcorder window, the data
// module and the MovieBox start-up window, created in that order, the
// option panels put in their places, the capture session made over the data
// module, and every intent of the main window connected to the part that
// does the work.
//
// main.cpp creates one TProgram and shows it; tests create one per case
// (with their own hive and XDG folders) and drive the window.
//
// GUI thread only.

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

#include "app/program_parts.h"

namespace kad {

class TCaptureSession;
class TWindowFacts;
class TInlayBinding;
class TPreferencesBinding;
class TScheduleBinding;
class TSourceSelection;
class TStillWriter;

class TProgram : public QObject {
    Q_OBJECT
public:
    explicit TProgram(QObject* parent = nullptr);
    ~TProgram() override;
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    // Shows the main window; its first showing runs the start-up.
    void Show();

    TCaptureForm& Form() const { return *parts_.Form; }
    TdmCam& Cam() const { return *parts_.Cam; }
    Preferences& Prefs() const { return *parts_.Prefs; }
    TProgramParts& Parts() { return parts_; }
    // The capture choices the panels keep current.
    TCaptureSettings& Settings() { return parts_.Settings; }
    TSourceSelection& Sources() const { return *sources_; }
    // The capture session the window shows.
    TCaptureSession& Capture() const { return *capture_; }
    TPreferencesBinding& Binding() const { return *binding_; }
    TInlayBinding& InlayBinding() const { return *inlay_; }
    TScheduleBinding& Schedule() const { return *schedule_; }

    // acGrab: the current frame of the sample grabber taken now and handed
    // to the still writer as the next image. False when nothing was handed
    // over (no preview, no frame, the user declined, or the writer's queue
    // is full). A write that then fails shows its message and gives the name
    // back. The intervalometer's grab leaves the active panel and the
    // thumbnail's frame as they are.
    bool Grab(bool fromIntervalometer = false);
    // An image handed over by a caller that cannot answer a message box
    // (the remote control): should its write fail, the log says so instead.
    void MarkStillQuiet(const QString& path) { quietStills_.insert(path); }
    // Writes the grabbed images off the GUI thread.
    TStillWriter& Stills() const { return *stills_; }

private:
    void createPanels();
    void connectWindow();
    void connectStartup();
    // The window's GraphDeviceLost: the interrupted file stays, the source
    // is connected again and the preview comes back.
    void graphDeviceLost();
    void openVideoFolder();
    void attachVideoWindow();
    void initPanels();
    void writeSystemReport();
    void movieBoxRebuild();
    // Its end, once the source is connected again.
    void finishMovieBoxRebuild();
    void stillFailed(const QString& path, const QString& reason);

    TProgramParts parts_;
    std::unique_ptr<TCaptureForm> form_;
    std::unique_ptr<TcamForm> camForm_;
    std::unique_ptr<TdmCam> cam_;
    std::unique_ptr<TamorcerForm> amorcer_;
    std::unique_ptr<Preferences> prefs_;
    TSourceSelection* sources_ = nullptr;
    TCaptureSession* capture_ = nullptr;
    std::unique_ptr<TWindowFacts> facts_;
    TPreferencesBinding* binding_ = nullptr;
    TInlayBinding* inlay_ = nullptr;
    TScheduleBinding* schedule_ = nullptr;
    std::unique_ptr<TStillWriter> stills_;
    // The last image handed to stills_, to tell whether a failed one may
    // take its number back.
    QString lastStillHandedOver_;
    QSet<QString> quietStills_;
};

} // namespace kad
