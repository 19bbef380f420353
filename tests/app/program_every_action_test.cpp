// Every action of the assembled program, walked from the action list at run
// time: each one either does something a user can see (a state, a panel, a
// file, a message, a checked state, a command reaching the camcorder's tape,
// a window) or is disabled or hidden. An action that runs and leaves no
// trace at all is a fault.

#include <QDir>
#include <QImageReader>

#include <map>

#include "app/program_fixture.h"
#include "ui/action_table.h"
#include "ui/camcorder_window.h"

namespace kad::test {
namespace {

// Everything an action could change that a user would notice.
struct Trace {
    QStringList actions; // checked, enabled, visible and texts of each action
    CaptureState state = CaptureState::csIdle;
    int panel = -1;
    QString title;
    QRect geometry;
    bool formVisible = false;
    QStringList windows; // visible top-level windows
    std::size_t messages = 0;
    QStringList videoFiles;
    QStringList imageFiles;
    QDateTime hiveWritten;
    int tapeMode = -1;
    QPoint video; // where the picture sits in the window
    int imageType = -1;
    bool inlayShown = false;

    bool operator==(const Trace&) const = default;
};

class ProgramEveryAction : public ProgramTest {
protected:
    void startWith(const char* devices)
    {
        useDevices(devices);
        presetFolders();
        start();
        ASSERT_EQ(form().State(), CaptureState::csPreview);
        ASSERT_TRUE(waitForPicture());
    }

    int tapeMode() const
    {
        GstElement* source = cam().FilterGraph().VideoSource.Element();
        if (!source || !g_object_class_find_property(G_OBJECT_GET_CLASS(source), "transport-mode"))
            return -1;
        gint mode = -1;
        g_object_get(source, "transport-mode", &mode, nullptr);
        return mode;
    }

    Trace trace() const
    {
        Trace t;
        for (const ActionRow& row : ActionTable()) {
            const QAction* a = act(row.id);
            t.actions << QStringLiteral("%1 %2%3%4 %5 %6")
                             .arg(QLatin1String(row.name))
                             .arg(a->isChecked())
                             .arg(a->isEnabled())
                             .arg(a->isVisible())
                             .arg(a->text(), a->toolTip());
        }
        t.state = form().State();
        t.panel = form().ActivePanel();
        t.title = form().windowTitle();
        t.geometry = form().geometry();
        t.formVisible = form().isVisible();
        for (const QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) t.windows << w->objectName() + w->windowTitle();
        t.windows.sort();
        t.messages = dialogs.shown.size();
        t.videoFiles = QDir(videos).entryList(QDir::Files, QDir::Name);
        t.imageFiles = QDir(images).entryList(QDir::Files, QDir::Name);
        t.hiveWritten = QFileInfo(hive).lastModified();
        t.tapeMode = tapeMode();
        t.video = form().Panel1->pos();
        t.imageType = program->Prefs().ExtensionDesImages.Value;
        t.inlayShown = program->Prefs().IncrustationOn.Value;
        return t;
    }

    static bool usable(const QAction* a) { return a->isEnabled() && a->isVisible(); }

    // Triggers one action and waits for a trace of it; returns what it left.
    std::optional<Trace> fire(ActionId id, const Trace& before, int ms = 5000)
    {
        act(id)->trigger();
        std::optional<Trace> after;
        waitUntil(
            [&] {
                Trace now = trace();
                if (now == before) return false;
                after = std::move(now);
                return true;
            },
            ms);
        return after;
    }

    // A new image in the image folder that a decoder reads.
    bool newImageDecodes(const Trace& before, const Trace& after) const
    {
        for (const QString& name : after.imageFiles) {
            if (before.imageFiles.contains(name)) continue;
            QImageReader reader(QDir(images).filePath(name));
            if (!reader.read().isNull()) return true;
            ADD_FAILURE() << name.toStdString() << ": " << reader.errorString().toStdString();
        }
        return false;
    }

    // Puts back what an action switched, so the next one starts from the
    // same preview (or capture).
    void restore(ActionId id, const Trace& before, CaptureState wanted)
    {
        const QAction* a = act(id);
        const int index = static_cast<int>(id);
        if (a->isCheckable() && before.actions[index] != trace().actions[index] &&
            a->isChecked() != before.actions[index].section(u' ', 1, 1).startsWith(u'1'))
            act(id)->trigger();
        if (id == ActionId::acShowPilotDV &&
            program->Parts().camForm->isVisible() !=
                before.windows.join(QString()).contains(program->Parts().camForm->windowTitle()))
            act(id)->trigger();
        if (form().State() == CaptureState::csScheduled ||
            form().State() == CaptureState::csScheduledCapture)
            act(ActionId::acStopProg)->trigger();
        if (form().State() != wanted && wanted == CaptureState::csPreview &&
            form().State() == CaptureState::csCapturing)
            act(ActionId::acStopCapture)->trigger();
        ASSERT_TRUE(waitUntil([&] { return form().State() == wanted; }, 10000))
            << ActionTable()[static_cast<std::size_t>(id)].name;
    }

    // Walks every usable action but those in `skip`; returns the names of
    // those that left no trace.
    QStringList walk(const std::vector<ActionId>& skip, CaptureState wanted)
    {
        QStringList silent;
        for (const ActionRow& row : ActionTable()) {
            if (std::find(skip.begin(), skip.end(), row.id) != skip.end()) continue;
            const QAction* a = act(row.id);
            if (!usable(a)) continue;
            const Trace before = trace();
            const std::optional<Trace> after = fire(row.id, before);
            if (!after) {
                silent << QLatin1String(row.name);
            } else if (row.id == ActionId::acGrab) {
                EXPECT_TRUE(waitUntil([&] { return newImageDecodes(before, trace()); }, 10000));
            } else if (row.id == ActionId::acOuvrirDossierVideos) {
                // Tests have no file manager: the folder is named in a
                // message instead of being opened silently or not at all.
                EXPECT_GT(after->messages, before.messages);
                EXPECT_TRUE(!dialogs.shown.empty() && dialogs.shown.back().text.contains(videos))
                    << dialogs.shown.back().text.toStdString();
            } else if (row.id == ActionId::acJpgOption) {
                EXPECT_EQ(program->Prefs().ExtensionDesImages.Value, 1);
            } else if (row.id == ActionId::acBmpOption) {
                EXPECT_EQ(program->Prefs().ExtensionDesImages.Value, 0);
            }
            restore(row.id, before, wanted);
        }
        return silent;
    }

    // Choosing the image type again is allowed to change nothing; so is a
    // panel shown again. Start each from the other choice.
    // A stopped tape, so that play moves it.
    void prepareChoices()
    {
        act(ActionId::acBmpOption)->trigger();
        act(ActionId::acSourcesFrame)->trigger();
        if (usable(act(ActionId::camStop))) {
            act(ActionId::camStop)->trigger();
            pump(300);
        }
    }
};

TEST_F(ProgramEveryAction, InPreviewEveryActionDoesSomethingOrIsOff)
{
    startWith("dv-pal-vcr,webcam,mic");
    ASSERT_TRUE(cam().Source().Transport());
    prepareChoices();
    // Starting a capture from the preview is walked as well; the walk stops
    // it again. Quitting comes last, on its own.
    const QStringList silent =
        walk({ActionId::acQuitter, ActionId::acBmpOption}, CaptureState::csPreview);
    EXPECT_TRUE(silent.isEmpty()) << silent.join(u' ').toStdString();

    const Trace before = trace();
    act(ActionId::acQuitter)->trigger();
    EXPECT_TRUE(waitUntil([&] { return !form().isVisible(); }, 5000));
    EXPECT_NE(trace(), before);
}

TEST_F(ProgramEveryAction, WhileCapturingEveryActionDoesSomethingOrIsOffAndTheFilesRead)
{
    startWith("dv-pal-vcr,webcam,mic");
    prepareChoices();
    const QString first = form().CurrentVideoFileName();
    act(ActionId::acCapturerBascule)->trigger();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 10; }));

    // The actions that end the capture are walked on their own below.
    const QStringList silent = walk({ActionId::acQuitter, ActionId::acBmpOption,
                                     ActionId::acStopCapture, ActionId::acCapturerBascule},
                                    CaptureState::csCapturing);
    EXPECT_TRUE(silent.isEmpty()) << silent.join(u' ').toStdString();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);

    ASSERT_TRUE(waitUntil([&] { return !cam().Capture().CaptureSwitchBusy(); }));
    const guint64 now = cam().Capture().CapturedFrames();
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= now + 10; }));
    const ActionId stop = usable(act(ActionId::acStopCapture)) ? ActionId::acStopCapture
                                                               : ActionId::acCapturerBascule;
    act(stop)->trigger();
    ASSERT_TRUE(waitUntil([&] { return form().State() == CaptureState::csPreview; }, 10000));
    EXPECT_TRUE(act(ActionId::acCapturerBascule)->isEnabled());
    // Beside each video lies its capture report.
    for (const QString& file : QDir(videos).entryList({QStringLiteral("*.avi")}, QDir::Files)) {
        const QString path = QDir(videos).filePath(file);
        const auto probe = probeVideo(path);
        ASSERT_TRUE(probe.has_value()) << path.toStdString();
        EXPECT_EQ(probe->videoCodec, QStringLiteral("dvvideo")) << path.toStdString();
        EXPECT_GT(probe->frames, 0) << path.toStdString();
    }
    // The walk's cut made a second file.
    EXPECT_TRUE(QFileInfo(first).isFile()) << first.toStdString();
    EXPECT_GE(QDir(videos).entryList(QDir::Files).size(), 2);
}

TEST_F(ProgramEveryAction, WithAWebcamTheCamcorderActionsAreOffOrSaySo)
{
    startWith("webcam,mic");
    prepareChoices();
    QStringList silent;
    for (ActionId id : {ActionId::camPlay, ActionId::camPause, ActionId::camStop,
                        ActionId::camAvanceLent, ActionId::camAvanceRapide, ActionId::camReculeLent,
                        ActionId::camReculeRapide, ActionId::acShowPilotDV}) {
        if (!usable(act(id))) continue;
        const Trace before = trace();
        if (!fire(id, before, 2000)) silent << QLatin1String(ActionInfo(id).name);
    }
    EXPECT_TRUE(silent.isEmpty()) << silent.join(u' ').toStdString();
}

} // namespace
} // namespace kad::test
