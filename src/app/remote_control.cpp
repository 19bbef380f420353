#include "app/remote_control.h"

#include <QAction>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusMessage>

#include <cstdio>
#include <vector>

#include "app/capture_control.h"
#include "app/program.h"
#include "graph/dm_cam.h"
#include "system/dialogs.h"
#include "system/log.h"
#include "ui/capture_form.h"

namespace kad {

namespace {

const QString kRefused = QStringLiteral("org.tavrel.Kadrillo.Error.Refused");

// Stands in for the message boxes while a remote call runs: it keeps what
// would have been shown and answers every question No, so nothing is
// overwritten and the caller learns why nothing happened.
class TRemoteDialogs final : public Dialogs {
public:
    TRemoteDialogs() : previous_(&dialogs()) { setDialogs(this); }
    ~TRemoteDialogs() override { setDialogs(previous_); }
    TRemoteDialogs(const TRemoteDialogs&) = delete;
    TRemoteDialogs& operator=(const TRemoteDialogs&) = delete;

    DialogAnswer warningYesNo(const QString& t) override { return no(t); }
    DialogAnswer questionYesNo(const QString& t) override { return no(t); }
    DialogAnswer warningYesNoAll(const QString& t) override { return no(t); }
    void warning(const QString& t) override { said_ << t; }
    void error(const QString& t) override { said_ << t; }
    void information(const QString& t) override { said_ << t; }
    void message(const QString& t) override { said_ << t; }

    // Everything said, or `fallback` when the action refused in silence.
    QString Said(const QString& fallback) const
    {
        return said_.isEmpty() ? fallback : said_.join(QLatin1Char('\n'));
    }

private:
    DialogAnswer no(const QString& t)
    {
        said_ << t;
        return DialogAnswer::No;
    }

    Dialogs* previous_;
    QStringList said_;
};

bool Capturing(CaptureState s)
{
    return s == CaptureState::csCapturing || s == CaptureState::csScheduledCapture;
}

} // namespace

QString CaptureStateName(CaptureState state)
{
    switch (state) {
    case CaptureState::csIdle:
        return QStringLiteral("csIdle");
    case CaptureState::csPreview:
        return QStringLiteral("csPreview");
    case CaptureState::csCapturing:
        return QStringLiteral("csCapturing");
    case CaptureState::csScheduled:
        return QStringLiteral("csScheduled");
    case CaptureState::csScheduledCapture:
        return QStringLiteral("csScheduledCapture");
    }
    return QStringLiteral("csIdle");
}

TRemoteControl::TRemoteControl(TProgram& program, QDBusConnection bus, QObject* parent)
    : QObject(parent), program_(program), bus_(std::move(bus))
{
    TCaptureForm& f = program_.Form();
    lastState_ = f.State();
    if (Capturing(lastState_)) capturing_ = program_.Capture().VideoFileName();
    connect(&f, &TCaptureForm::stateChanged, this, &TRemoteControl::onStateChanged);
    connect(&program_.Cam().Capture(), &TcaptureRun::CaptureFileSwitched, this,
            [this](const QString& oldName, const QString&) { onFileSwitched(oldName); });
}

TRemoteControl::~TRemoteControl()
{
    if (!registered_) return;
    bus_.unregisterObject(QString::fromLatin1(kRemotePath));
    bus_.unregisterService(QString::fromLatin1(kRemoteService));
}

bool TRemoteControl::Register()
{
    QString why;
    if (!bus_.isConnected()) {
        why = QStringLiteral("there is no session bus");
    } else if (!bus_.registerService(QString::fromLatin1(kRemoteService))) {
        // Another program holds the name: this one runs as it always did.
        why = QStringLiteral("another Kadrillo holds ") + QString::fromLatin1(kRemoteService) +
              QStringLiteral(" on the session bus");
    } else if (!bus_.registerObject(QString::fromLatin1(kRemotePath), this,
                                    QDBusConnection::ExportAllSlots |
                                        QDBusConnection::ExportAllSignals)) {
        bus_.unregisterService(QString::fromLatin1(kRemoteService));
        why = QStringLiteral("the object ") + QString::fromLatin1(kRemotePath) +
              QStringLiteral(" could not be exported");
    }
    if (!why.isEmpty()) {
        const QString line = QStringLiteral("No remote control: ") + why + QLatin1Char('.');
        WriteLog(line);
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        return false;
    }
    registered_ = true;
    WriteLog(QStringLiteral("Remote control on the session bus as ") +
             QString::fromLatin1(kRemoteService));
    return true;
}

void TRemoteControl::refuse(const QString& text)
{
    if (calledFromDBus()) sendErrorReply(kRefused, text);
}

QString TRemoteControl::StartCapture()
{
    TCaptureForm& f = program_.Form();
    if (Capturing(f.State())) {
        refuse(QStringLiteral("A capture runs already into ") + program_.Capture().VideoFileName() +
               QLatin1Char('.'));
        return {};
    }
    // An armed schedule starts its recording now, as the button does.
    if (f.State() != CaptureState::csPreview && f.State() != CaptureState::csScheduled) {
        refuse(QStringLiteral("No capture without a working preview (the window is in ") +
               CaptureStateName(f.State()) + QStringLiteral(")."));
        return {};
    }
    TRemoteDialogs said;
    QAction* toggle = f.Action(ActionId::acCapturerBascule);
    toggle->setChecked(true);
    f.acCapturerBasculeExecute();
    if (Capturing(f.State())) return program_.Capture().VideoFileName();
    // The window's toggle keeps the wish of a press; a refused remote start
    // leaves it as it was, ready for the next start.
    f.ShowCaptureToggle(false);
    refuse(said.Said(QStringLiteral("The capture into ") + program_.Capture().VideoFileName() +
                     QStringLiteral(" could not be started.")));
    return {};
}

QString TRemoteControl::StopCapture()
{
    TCaptureForm& f = program_.Form();
    if (!Capturing(f.State())) {
        refuse(QStringLiteral("No capture runs (the window is in ") + CaptureStateName(f.State()) +
               QStringLiteral(")."));
        return {};
    }
    // A capture already stopped keeps its state while its files finish.
    if (program_.Capture().Finishing()) {
        refuse(QStringLiteral("No capture runs: the last one is finishing its files."));
        return {};
    }
    const QString finished = program_.Capture().VideoFileName();
    TRemoteDialogs said;
    QAction* toggle = f.Action(ActionId::acCapturerBascule);
    toggle->setChecked(false);
    f.acCapturerBasculeExecute();
    return finished;
}

QString TRemoteControl::Cut()
{
    TCaptureForm& f = program_.Form();
    if (!Capturing(f.State())) {
        refuse(QStringLiteral("No capture runs, so there is nothing to cut."));
        return {};
    }
    if (program_.Cam().Capture().CaptureSwitchBusy()) {
        refuse(QStringLiteral("The previous cut is not finished yet."));
        return {};
    }
    const QString before = program_.Capture().VideoFileName();
    TRemoteDialogs said;
    f.acCouperExecute();
    // The window names the new file once the writer is in it; the cut's
    // name is known as soon as it is asked for.
    const QString asked = program_.Capture().PendingCut();
    if (!asked.isEmpty()) return asked;
    if (program_.Capture().VideoFileName() != before) return program_.Capture().VideoFileName();
    refuse(said.Said(QStringLiteral("The capture could not be cut.")));
    return {};
}

QString TRemoteControl::Grab()
{
    if (!program_.Cam().Preview().PreviewBuilt()) {
        refuse(QStringLiteral("No picture to grab without a working preview."));
        return {};
    }
    const QString target = program_.Parts().NextImageFileName;
    TRemoteDialogs said;
    if (program_.Grab()) {
        // The image is written after this answer; a failure then goes to
        // the log, as no one is there to close a message box.
        program_.MarkStillQuiet(target);
        return target;
    }
    refuse(said.Said(QStringLiteral("No frame could be grabbed.")));
    return {};
}

QString TRemoteControl::State()
{
    return CaptureStateName(program_.Form().State());
}

QString TRemoteControl::CurrentFile()
{
    return program_.Capture().VideoFileName();
}

qlonglong TRemoteControl::Counters(qlonglong& lost)
{
    const auto counters = program_.Capture().FrameCounters();
    lost = counters ? counters->second : 0;
    return counters ? counters->first : 0;
}

void TRemoteControl::onFileSwitched(const QString& oldName)
{
    const TdmCam& cam = program_.Cam();
    const auto frames = static_cast<qlonglong>(cam.Capture().CapturedFrames());
    const auto lost = static_cast<qlonglong>(cam.Capture().LostFrames());
    emit FileFinished(oldName, frames - fileStartFrames_, lost - fileStartLost_);
    fileStartFrames_ = frames;
    fileStartLost_ = lost;
    capturing_ = program_.Capture().VideoFileName();
}

void TRemoteControl::onStateChanged(CaptureState state)
{
    const CaptureState was = lastState_;
    lastState_ = state;
    if (!Capturing(was) && Capturing(state)) {
        capturing_ = program_.Capture().VideoFileName();
        fileStartFrames_ = 0;
        fileStartLost_ = 0;
    } else if (Capturing(was) && !Capturing(state) && !capturing_.isEmpty()) {
        // The graph keeps its counters until the next capture is built.
        const TdmCam& cam = program_.Cam();
        emit FileFinished(capturing_,
                          static_cast<qlonglong>(cam.Capture().CapturedFrames()) - fileStartFrames_,
                          static_cast<qlonglong>(cam.Capture().LostFrames()) - fileStartLost_);
        capturing_.clear();
    }
    if (state != was) emit StateChanged(CaptureStateName(state));
}

// ---- command line -----------------------------------------------------------

namespace {

struct RemoteCommand {
    const char* option;
    const char* method;
    const char* help;
};

const RemoteCommand kCommands[] = {
    {"capture", "StartCapture", "Starts a capture in the running Kadrillo."},
    {"stop", "StopCapture", "Stops the capture of the running Kadrillo."},
    {"cut", "Cut", "Cuts the capture of the running Kadrillo into the next file."},
    {"grab", "Grab", "Stores the current frame of the running Kadrillo as an image."},
    {"state", "State", "Prints the capture state of the running Kadrillo."},
};

// Qt reads these itself when the window starts.
const char* const kQtValueOptions[] = {"platform",        "platformpluginpath",
                                       "platformtheme",   "plugin",
                                       "qwindowgeometry", "qwindowicon",
                                       "qwindowtitle",    "display",
                                       "geometry",        "style",
                                       "stylesheet",      "session",
                                       "qmljsdebugger",   "title"};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

int Call(QDBusConnection& bus, const RemoteCommand& command)
{
    const QString appName = QStringLiteral("kadrillo");
    if (!bus.isConnected()) {
        std::fprintf(stderr, "%s: no session bus, so no running Kadrillo can be reached.\n",
                     qPrintable(appName));
        return 1;
    }
    const QString service = QString::fromLatin1(kRemoteService);
    QDBusMessage call = QDBusMessage::createMethodCall(service, QString::fromLatin1(kRemotePath),
                                                       QString::fromLatin1(kRemoteInterface),
                                                       QString::fromLatin1(command.method));
    // The command line never starts a program, not even through bus activation.
    call.setAutoStartService(false);
    // Building a capture graph or finishing a file may take seconds.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 60000);
    if (reply.type() == QDBusMessage::ErrorMessage &&
        (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
         reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))) {
        std::fprintf(stderr, "%s: Kadrillo is not running (nobody holds %s on the session bus).\n",
                     qPrintable(appName), qPrintable(service));
        return 1;
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(appName), qPrintable(reply.errorMessage()));
        return 1;
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "%s: no answer from the running Kadrillo.\n", qPrintable(appName));
        return 1;
    }
    const QList<QVariant> answer = reply.arguments();
    if (!answer.isEmpty() && !answer.first().toString().isEmpty())
        std::printf("%s\n", qPrintable(answer.first().toString()));
    return 0;
}

} // namespace

std::optional<int> RunRemoteCommandLine(int& argc, char** argv)
{
    if (argc <= 1) return std::nullopt;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kadrillo captures video. Without options it opens its window; the "
                       "options below control a Kadrillo that runs already."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    std::vector<QCommandLineOption> remote;
    for (const RemoteCommand& c : kCommands) {
        remote.emplace_back(QString::fromLatin1(c.option), QString::fromLatin1(c.help));
        parser.addOption(remote.back());
    }
    for (const char* name : kQtValueOptions) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption o(QString::fromLatin1(name), QString());
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    // No application object exists yet to lend its name to the usage line.
    const auto helpText = [&parser] {
        return parser.helpText().replace(QStringLiteral("<executable_name>"),
                                         QStringLiteral("kadrillo"));
    };
    const auto usage = [&helpText](const QString& error) {
        std::fprintf(stderr, "kadrillo: %s\n\n%s", qPrintable(error), qPrintable(helpText()));
        return 2;
    };
    if (!parser.parse(arguments)) return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument '") +
                     parser.positionalArguments().first() + QLatin1Char('\''));
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::printf("%s", qPrintable(helpText()));
        return 0;
    }
    const RemoteCommand* chosen = nullptr;
    for (std::size_t i = 0; i < remote.size(); ++i) {
        if (!parser.isSet(remote[i])) continue;
        if (chosen)
            return usage(QStringLiteral("give one of --capture, --stop, --cut, --grab, "
                                        "--state at a time"));
        chosen = &kCommands[i];
    }
    if (!chosen) return std::nullopt;

    // The bus needs an application object; a plain one, so no display is
    // needed and no window can appear.
    QCoreApplication app(argc, argv);
    // A connection of its own, closed while the application object still
    // lives, so nothing the bus thread queued arrives after it is gone.
    const QString connectionName = QStringLiteral("kadrillo-command-line");
    int status = 1;
    {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
        status = Call(bus, *chosen);
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return status;
}

} // namespace kad
