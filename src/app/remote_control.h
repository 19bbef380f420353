#pragma once

// Remote control for capture stations: the capture toggle, the cut and the
// grab offered on the session bus (service org.tavrel.Kadrillo, object
// /Kadrillo, interface org.tavrel.Kadrillo), and the command line that talks
// to a running program through them.
//
// A method does what the window's action does and refuses what it refuses.
// Nobody sits at the station to read a message box, so whatever the action
// would have shown comes back as the D-Bus error's message, and every
// question (an existing file, an image to replace) is answered No: a remote
// call never overwrites anything.
//
// GUI thread only.

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

#include "system/kinds.h"

namespace kad {

class TProgram;

inline constexpr const char* kRemoteService = "org.tavrel.Kadrillo";
inline constexpr const char* kRemotePath = "/Kadrillo";
inline constexpr const char* kRemoteInterface = "org.tavrel.Kadrillo";

// "csIdle", "csPreview", ...
QString CaptureStateName(CaptureState state);

class TRemoteControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tavrel.Kadrillo")
public:
    TRemoteControl(TProgram& program, QDBusConnection bus, QObject* parent = nullptr);
    ~TRemoteControl() override;
    TRemoteControl(const TRemoteControl&) = delete;
    TRemoteControl& operator=(const TRemoteControl&) = delete;

    // Takes the service name and exports the object. False (and a line in
    // the log and on stderr) when there is no bus or another program holds
    // the name; the program then runs without remote control.
    bool Register();
    bool Registered() const { return registered_; }

public slots:
    // The file being written.
    QString StartCapture();
    // The file that was finished.
    QString StopCapture();
    // The file written from now on.
    QString Cut();
    // The image written.
    QString Grab();
    QString State();
    // The file being written, or the one the next capture writes.
    QString CurrentFile();
    // Captured frames, and lost frames in `lost`; both 0 when no capture runs.
    qlonglong Counters(qlonglong& lost);

signals:
    void StateChanged(const QString& state);
    void FileFinished(const QString& path, qlonglong frames, qlonglong lost);

private:
    // Answers the call with an error (the method's return value is then
    // ignored by the bus).
    void refuse(const QString& text);
    void onStateChanged(CaptureState state);
    void onFileSwitched(const QString& oldName);

    TProgram& program_;
    QDBusConnection bus_;
    bool registered_ = false;
    CaptureState lastState_ = CaptureState::csIdle;
    QString capturing_;
    qlonglong fileStartFrames_ = 0;
    qlonglong fileStartLost_ = 0;
};

// The command line's remote part: --capture, --stop, --cut, --grab, --state.
// Returns the exit status when `arguments` ask for one of them (or for the
// help, or hold an option nobody knows), having printed the answer, the
// error or the usage; nothing when the program should start its window as
// usual. Qt's own window options (-platform, -style, ...) are left to Qt.
std::optional<int> RunRemoteCommandLine(int& argc, char** argv);

} // namespace kad
