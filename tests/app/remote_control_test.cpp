// Remote control over a private session bus: the methods drive the real
// program with the virtual devices, refusals come back as D-Bus errors with
// the program's words and no message box, and the kadrillo binary's command
// line talks to the program running in this test. Files are read back with
// ffprobe.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <sys/prctl.h>

#include <csignal>

#include "app/capture_control.h"
#include "app/program_fixture.h"
#include "app/remote_control.h"
#include "system/log.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

// A session bus of the test's own: dbus-daemon as a child, killed at the end.
class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--print-address"),
                              QStringLiteral("--nofork")});
        // A test that aborts runs no destructor; the daemon goes with it.
        daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        daemon_.start();
        if (!daemon_.waitForStarted(5000)) return;
        waitUntil([this] { return daemon_.canReadLine() || daemon_.state() != QProcess::Running; },
                  10000);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        if (daemon_.state() == QProcess::NotRunning) return;
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& Address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

// What came over the bus from the program.
class Listener : public QObject {
    Q_OBJECT
public:
    struct Finished {
        QString path;
        qlonglong frames = 0;
        qlonglong lost = 0;
    };
    std::vector<Finished> finished;
    QStringList states;

public slots:
    void fileFinished(const QString& path, qlonglong frames, qlonglong lost)
    {
        finished.push_back({path, frames, lost});
    }
    void stateChanged(const QString& state) { states << state; }
};

struct Answer {
    bool done = false;
    bool error = false;
    QString errorName;
    QString errorText;
    QList<QVariant> values;
    QString text() const { return values.isEmpty() ? QString() : values.first().toString(); }
};

class RemoteControl : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ASSERT_FALSE(bus_.Address().isEmpty()) << "dbus-daemon gave no address";
        server_ = QDBusConnection::connectToBus(bus_.Address(), QStringLiteral("kad-server"));
        client_ = QDBusConnection::connectToBus(bus_.Address(), QStringLiteral("kad-client"));
        ASSERT_TRUE(server_.isConnected());
        ASSERT_TRUE(client_.isConnected());
    }

    void TearDown() override
    {
        remote_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("kad-client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("kad-server"));
        ProgramTest::TearDown();
    }

    void startWithRemote(const char* devices = "dv-pal-vcr")
    {
        useDevices(devices);
        presetFolders();
        start();
        remote_ = std::make_unique<TRemoteControl>(*program, server_);
        ASSERT_TRUE(remote_->Register());
        const auto hook = [this](const char* name, const char* slot) {
            return client_.connect(
                QString::fromLatin1(kRemoteService), QString::fromLatin1(kRemotePath),
                QString::fromLatin1(kRemoteInterface), QString::fromLatin1(name), &listener_, slot);
        };
        ASSERT_TRUE(hook("FileFinished", SLOT(fileFinished(QString, qlonglong, qlonglong))));
        ASSERT_TRUE(hook("StateChanged", SLOT(stateChanged(QString))));
    }

    // A call from another connection, answered while this thread runs the
    // event loop (the program answers on this very thread).
    Answer call(const QString& method, const QList<QVariant>& args = {},
                const QString& interface = QString::fromLatin1(kRemoteInterface))
    {
        QDBusMessage m =
            QDBusMessage::createMethodCall(QString::fromLatin1(kRemoteService),
                                           QString::fromLatin1(kRemotePath), interface, method);
        m.setArguments(args);
        QDBusPendingCall pending = client_.asyncCall(m, 20000);
        Answer a;
        a.done = waitUntil([&] { return pending.isFinished(); }, 25000);
        if (!a.done) return a;
        const QDBusMessage reply = pending.reply();
        a.error = reply.type() == QDBusMessage::ErrorMessage;
        a.errorName = reply.errorName();
        a.errorText = reply.errorMessage();
        a.values = reply.arguments();
        return a;
    }

    struct Run {
        bool finished = false;
        int exitCode = -1;
        QString out;
        QString err;
    };
    // The built kadrillo binary with `args`, on the private bus; this thread
    // keeps the event loop running so the program in the test can answer.
    Run runCli(const QStringList& args, const QString& address)
    {
        const QString binary =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../kadrillo"));
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        p.setProcessEnvironment(e);
        p.start(binary, args);
        Run r;
        if (!p.waitForStarted(5000)) {
            r.err = QStringLiteral("cannot start ") + binary;
            return r;
        }
        r.finished = waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000);
        if (!r.finished) {
            p.kill();
            p.waitForFinished(5000);
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        r.err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return r;
    }

    // The command line on the private bus (or at `address`): it ends,
    // succeeding or failing as `succeeds` says, and what it printed (its
    // output, or its error when it failed) holds `says`. Gives its output.
    QString cli(const QStringList& args, bool succeeds, const QString& says = {},
                const QString& address = {})
    {
        const Run r = runCli(args, address.isEmpty() ? bus_.Address() : address);
        EXPECT_TRUE(r.finished) << args.join(u' ').toStdString();
        EXPECT_EQ(r.exitCode == 0, succeeds)
            << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        const QString& said = succeeds ? r.out : r.err;
        EXPECT_TRUE(said.contains(says)) << said.toStdString();
        return r.out;
    }

    bool capturingFor(int frames)
    {
        return waitUntil(
            [&] { return cam().Capture().CapturedFrames() >= static_cast<guint64>(frames); });
    }

    PrivateBus bus_;
    QDBusConnection server_{QString()};
    QDBusConnection client_{QString()};
    std::unique_ptr<TRemoteControl> remote_;
    Listener listener_;
};

TEST_F(RemoteControl, StartAndStopFromTheBusWriteAFileAndReportIt)
{
    startWithRemote();
    ASSERT_TRUE(waitForPicture());
    Answer state = call(QStringLiteral("State"));
    ASSERT_TRUE(state.done);
    EXPECT_FALSE(state.error) << state.errorText.toStdString();
    EXPECT_EQ(state.text(), QStringLiteral("csPreview"));

    const Answer started = call(QStringLiteral("StartCapture"));
    ASSERT_TRUE(started.done);
    ASSERT_FALSE(started.error) << started.errorText.toStdString();
    const QString file = started.text();
    EXPECT_TRUE(file.startsWith(videos)) << file.toStdString();
    EXPECT_EQ(form().State(), CaptureState::csCapturing);
    // The window shows the capture as if the button had been pressed.
    EXPECT_TRUE(act(ActionId::acCapturerBascule)->isChecked());
    ASSERT_TRUE(capturingFor(25));
    EXPECT_EQ(call(QStringLiteral("State")).text(), QStringLiteral("csCapturing"));
    EXPECT_EQ(call(QStringLiteral("CurrentFile")).text(), file);
    const Answer counters = call(QStringLiteral("Counters"));
    ASSERT_EQ(counters.values.size(), 2);
    EXPECT_GE(counters.values[0].toLongLong(), 25);
    EXPECT_EQ(counters.values[1].toLongLong(), 0);

    const Answer stopped = call(QStringLiteral("StopCapture"));
    ASSERT_FALSE(stopped.error) << stopped.errorText.toStdString();
    EXPECT_EQ(stopped.text(), file);
    ASSERT_TRUE(waitStopped());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_FALSE(act(ActionId::acCapturerBascule)->isChecked());
    EXPECT_NE(form().CurrentVideoFileName(), file);

    ASSERT_TRUE(waitUntil([&] { return !listener_.finished.empty(); }, 10000));
    ASSERT_EQ(listener_.finished.size(), 1u);
    EXPECT_EQ(listener_.finished[0].path, file);
    EXPECT_EQ(listener_.finished[0].lost, 0);
    const auto probe = probeVideo(file);
    ASSERT_TRUE(probe.has_value()) << file.toStdString();
    EXPECT_EQ(probe->videoCodec, QStringLiteral("dvvideo"));
    EXPECT_GE(probe->frames, 25);
    EXPECT_GE(listener_.finished[0].frames, 25);
    EXPECT_LE(std::abs(listener_.finished[0].frames - probe->frames), 2)
        << "reported " << listener_.finished[0].frames << ", in the file " << probe->frames;
    EXPECT_TRUE(waitUntil([&] { return listener_.states.size() >= 2; }, 5000));
    EXPECT_EQ(listener_.states,
              (QStringList{QStringLiteral("csCapturing"), QStringLiteral("csPreview")}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(RemoteControl, ACutFinishesTheFirstFileAndGoesOnInTheNext)
{
    startWithRemote();
    ASSERT_TRUE(waitForPicture());
    // DV type 2 goes through the muxer's lossless switch.
    program->Parts().SourcesFrame->rgFormat->setItemIndex(1);
    program->Sources().rgFormatClick();
    const Answer started = call(QStringLiteral("StartCapture"));
    ASSERT_FALSE(started.error) << started.errorText.toStdString();
    ASSERT_TRUE(capturingFor(20));
    const Answer cut = call(QStringLiteral("Cut"));
    ASSERT_FALSE(cut.error) << cut.errorText.toStdString();
    const QString second = cut.text();
    EXPECT_NE(second, started.text());
    ASSERT_TRUE(waitUntil([&] { return !listener_.finished.empty(); }, 10000));
    EXPECT_EQ(listener_.finished[0].path, started.text());
    const guint64 atCut = cam().Capture().CapturedFrames();
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= atCut + 20; }));
    ASSERT_FALSE(call(QStringLiteral("StopCapture")).error);
    ASSERT_TRUE(waitUntil([&] { return listener_.finished.size() >= 2; }, 10000));
    EXPECT_EQ(listener_.finished[1].path, second);
    for (const auto& f : listener_.finished) {
        const auto probe = probeVideo(f.path);
        ASSERT_TRUE(probe.has_value()) << f.path.toStdString();
        EXPECT_GT(probe->frames, 5) << f.path.toStdString();
        EXPECT_GT(f.frames, 5) << f.path.toStdString();
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(RemoteControl, RefusalsAreErrorsWithTheProgramsWordsAndNoMessageBox)
{
    startWithRemote();
    ASSERT_TRUE(waitForPicture());

    // Nothing to stop or cut in the preview.
    for (const char* method : {"StopCapture", "Cut"}) {
        const Answer a = call(QString::fromLatin1(method));
        ASSERT_TRUE(a.done) << method;
        EXPECT_TRUE(a.error) << method;
        EXPECT_EQ(a.errorName, QStringLiteral("org.tavrel.Kadrillo.Error.Refused")) << method;
        EXPECT_TRUE(a.errorText.contains(QStringLiteral("No capture runs"))) << method;
    }

    // The file the capture would write exists: the question's text is the
    // answer, and the older file is left whole.
    const QString target = form().CurrentVideoFileName();
    {
        QFile older(target);
        ASSERT_TRUE(older.open(QIODevice::WriteOnly));
        older.write("older clip");
    }
    const Answer refused = call(QStringLiteral("StartCapture"));
    ASSERT_TRUE(refused.done);
    EXPECT_TRUE(refused.error);
    EXPECT_EQ(refused.errorText, ExistingFileQuestion(target));
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_FALSE(act(ActionId::acCapturerBascule)->isChecked());
    {
        QFile older(target);
        ASSERT_TRUE(older.open(QIODevice::ReadOnly));
        EXPECT_EQ(older.readAll(), QByteArray("older clip"));
    }
    EXPECT_TRUE(dialogs.shown.empty());

    // The window's own dialogs are back after the call: a press asks.
    dialogs.answer(DialogAnswer::No);
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, ExistingFileQuestion(target));
}

TEST_F(RemoteControl, WithoutAPreviewNothingStartsAndNoMessageBoxShows)
{
    SetDeviceEnumerator([](DeviceCategory) -> std::optional<std::vector<TdeviceEntry>> {
        return std::vector<TdeviceEntry>{};
    });
    startWithRemote();
    ASSERT_EQ(form().State(), CaptureState::csIdle);
    EXPECT_EQ(call(QStringLiteral("State")).text(), QStringLiteral("csIdle"));
    for (const char* method : {"StartCapture", "Grab"}) {
        const Answer a = call(QString::fromLatin1(method));
        ASSERT_TRUE(a.done) << method;
        EXPECT_TRUE(a.error) << method;
        EXPECT_TRUE(a.errorText.contains(QStringLiteral("preview"))) << a.errorText.toStdString();
    }
    EXPECT_EQ(form().State(), CaptureState::csIdle);
    EXPECT_TRUE(QDir(videos).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(images).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(RemoteControl, AGrabWritesAnImageAndNeverReplacesOne)
{
    startWithRemote();
    ASSERT_TRUE(waitForPicture());
    program->Prefs().Confirmer.Value = true;
    const Answer grabbed = call(QStringLiteral("Grab"));
    ASSERT_FALSE(grabbed.error) << grabbed.errorText.toStdString();
    const QString image = grabbed.text();
    ASSERT_TRUE(image.startsWith(images)) << image.toStdString();
    // The answer names the file as soon as the frame is taken; the image
    // reaches the disk, whole, a moment later.
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(image); }, 10000));
    const QImage read(image);
    EXPECT_FALSE(read.isNull()) << image.toStdString();
    EXPECT_GT(read.width(), 0);

    // The next name is taken: the replace question becomes the error.
    const QString next = program->Parts().NextImageFileName;
    ASSERT_NE(next, image);
    {
        QFile older(next);
        ASSERT_TRUE(older.open(QIODevice::WriteOnly));
        older.write("older image");
    }
    const Answer refused = call(QStringLiteral("Grab"));
    EXPECT_TRUE(refused.error);
    EXPECT_TRUE(refused.errorText.contains(QFileInfo(next).fileName()))
        << refused.errorText.toStdString();
    QFile older(next);
    ASSERT_TRUE(older.open(QIODevice::ReadOnly));
    EXPECT_EQ(older.readAll(), QByteArray("older image"));
    EXPECT_TRUE(program->Prefs().Confirmer.Value);
    EXPECT_TRUE(dialogs.shown.empty());

    // A write that fails after the answer (the folder gone meanwhile) is
    // told in the log, never by a message box nobody at the station closes.
    ASSERT_TRUE(StartLog(true));
    ASSERT_TRUE(QDir(images).removeRecursively());
    const Answer lost = call(QStringLiteral("Grab"));
    ASSERT_FALSE(lost.error) << lost.errorText.toStdString();
    const QString lostName = QFileInfo(lost.text()).fileName();
    QString log;
    EXPECT_TRUE(waitUntil(
        [&] {
            QFile file(LogFileName());
            log = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
            return log.contains(lostName);
        },
        10000))
        << log.toStdString();
    EXPECT_TRUE(dialogs.shown.empty());
    StopLog();
}

TEST_F(RemoteControl, MalformedCallsAreErrorsAndTheProgramGoesOn)
{
    startWithRemote();
    ASSERT_TRUE(waitForPicture());
    const Answer extra = call(QStringLiteral("State"), {QVariant(QStringLiteral("now"))});
    ASSERT_TRUE(extra.done);
    EXPECT_TRUE(extra.error);
    const Answer unknown = call(QStringLiteral("Eject"));
    ASSERT_TRUE(unknown.done);
    EXPECT_TRUE(unknown.error);
    const Answer otherInterface =
        call(QStringLiteral("StartCapture"), {}, QStringLiteral("org.tavrel.Other"));
    ASSERT_TRUE(otherInterface.done);
    EXPECT_TRUE(otherInterface.error);
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_EQ(call(QStringLiteral("State")).text(), QStringLiteral("csPreview"));
    EXPECT_TRUE(waitForPicture());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(RemoteControl, TheCommandLineDrivesTheRunningProgram)
{
    // Nobody holds the name yet, or there is no bus: the command line says
    // so and fails.
    cli({QStringLiteral("--state")}, false, QStringLiteral("not running"));
    cli({QStringLiteral("--state")}, false, {},
        QStringLiteral("unix:path=") + home.filePath(QStringLiteral("nobus")));

    startWithRemote();
    ASSERT_TRUE(waitForPicture());
    EXPECT_EQ(cli({QStringLiteral("--state")}, true), QStringLiteral("csPreview"));
    const QString file = cli({QStringLiteral("--capture")}, true);
    EXPECT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(capturingFor(15));
    EXPECT_EQ(cli({QStringLiteral("--stop")}, true), file);
    const auto probe = probeVideo(file);
    ASSERT_TRUE(probe.has_value()) << file.toStdString();
    EXPECT_GE(probe->frames, 15);

    // A refusal is a failure with the program's words.
    cli({QStringLiteral("--stop")}, false, QStringLiteral("No capture runs"));
    cli({QStringLiteral("--eject")}, false, QStringLiteral("--capture"));
    const QString help = cli({QStringLiteral("--help")}, true);
    for (const char* option : {"--capture", "--stop", "--cut", "--grab", "--state"})
        EXPECT_TRUE(help.contains(QString::fromLatin1(option))) << option;
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    EXPECT_TRUE(dialogs.shown.empty());
}

// The length the file's headers give (what a player shows before it reads
// anything else), in seconds; -1 when ffprobe gives none.
double headerSeconds(const QString& file)
{
    const QByteArray out =
        kadtest::runTool(QStringLiteral("ffprobe"),
                         {QStringLiteral("-v"), QStringLiteral("error"),
                          QStringLiteral("-show_entries"), QStringLiteral("format=duration"),
                          QStringLiteral("-of"), QStringLiteral("csv=p=0"), file});
    bool ok = false;
    const double seconds = out.trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

// A logout or `kill` (SIGTERM) or Ctrl+C (SIGINT) ends a program that is
// capturing as closing its window does: the file is finished, its headers
// and index written, instead of being left for a reader to scan.
TEST_F(RemoteControl, ASignalToEndFinishesTheCaptureInProgress)
{
    presetFolders();
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        QProcess program;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus_.Address());
        e.insert(QStringLiteral("KADRILLO_VIRTUAL_DEVICES"), QStringLiteral("dv-pal-vcr"));
        // Live, so the capture lasts as long as the test waits, well short
        // of the writer's own sync interval.
        e.insert(QStringLiteral("KADRILLO_VIRTUAL_LIVE"), QStringLiteral("1"));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(e);
        program.start(
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../kadrillo")),
            {});
        ASSERT_TRUE(program.waitForStarted(5000));
        bool previewing = false;
        waitUntil(
            [&] {
                const Run state = runCli({QStringLiteral("--state")}, bus_.Address());
                previewing = state.exitCode == 0 && state.out == QStringLiteral("csPreview");
                return previewing || program.state() == QProcess::NotRunning;
            },
            30000);
        ASSERT_TRUE(previewing) << program.readAllStandardError().toStdString();
        const Run capture = runCli({QStringLiteral("--capture")}, bus_.Address());
        ASSERT_EQ(capture.exitCode, 0) << capture.err.toStdString();
        const QString file = capture.out;
        // About twenty frames of PAL DV.
        EXPECT_TRUE(waitUntil([&] { return QFileInfo(file).size() > 16 * 144000; }, 20000));
        ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), signal), 0);
        const bool ended =
            waitUntil([&] { return program.state() == QProcess::NotRunning; }, 30000);
        if (!ended) {
            program.kill();
            program.waitForFinished(5000);
        }
        ASSERT_TRUE(ended) << "the program did not end";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        const auto probe = probeVideo(file);
        ASSERT_TRUE(probe.has_value()) << file.toStdString();
        EXPECT_GE(probe->frames, 15);
        // A finished file's headers give its length; an abandoned one's give
        // none.
        EXPECT_NEAR(headerSeconds(file), probe->frames * 0.04, 0.04) << file.toStdString();
    }
}

TEST_F(RemoteControl, ASecondProgramRunsWithoutTheInterfaceAndLogsIt)
{
    ASSERT_TRUE(StartLog(true));
    // The first program holds the name.
    QDBusConnection first =
        QDBusConnection::connectToBus(bus_.Address(), QStringLiteral("kad-first"));
    ASSERT_TRUE(first.registerService(QString::fromLatin1(kRemoteService)));

    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    remote_ = std::make_unique<TRemoteControl>(*program, server_);
    EXPECT_FALSE(remote_->Register());
    EXPECT_FALSE(remote_->Registered());
    EXPECT_TRUE(waitForPicture());
    EXPECT_EQ(form().State(), CaptureState::csPreview);
    QFile log(LogFileName());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << LogFileName().toStdString();
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("No remote control")));
    StopLog();
    remote_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("kad-first"));
}

} // namespace
} // namespace kad::test

#include "remote_control_test.moc"
