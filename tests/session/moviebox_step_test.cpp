// The MovieBox start-up step without widgets: it runs on the first MovieBox
// connection only, in the order that keeps the preview off the screen while
// the dialog is open, comes back after a refresh or a lost device, and
// survives a reset or a second connection while its dialog is still open.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "session/moviebox_step.h"

using namespace kad;

namespace {

// The step with hooks that record what they were asked to do.
struct Recorder {
    QStringList calls;
    QStringList logLines;
    TMovieBoxStep step;

    explicit Recorder(bool withDialog = true)
    {
        MovieBoxStepHooks h;
        h.detachPreview = [this] { calls << QStringLiteral("detach"); };
        h.attachPreview = [this] { calls << QStringLiteral("attach"); };
        h.showInstructions = [this] { calls << QStringLiteral("show"); };
        h.closeInstructions = [this] { calls << QStringLiteral("close"); };
        if (withDialog)
            h.openPrimingDialog = [this](const QString& name) {
                calls << QStringLiteral("dialog:") + name;
            };
        h.log = [this](const QString& line) {
            calls << QStringLiteral("log");
            logLines << line;
        };
        step.SetHooks(std::move(h));
    }
};

const QString kBox = QStringLiteral("Pinnacle Moviebox-B");

TEST(MovieBoxStep, RunsOnceOnTheFirstMovieBoxConnection)
{
    Recorder r;
    // Other kinds never start it.
    for (SourceKind k :
         {SourceKind::skDV, SourceKind::skAnalog, SourceKind::skMpeg2, SourceKind::skNoVideo})
        EXPECT_FALSE(r.step.Connected(k, QStringLiteral("Virtual Webcam")));
    EXPECT_TRUE(r.calls.isEmpty());

    ASSERT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    // The preview is off before anything is shown, and the dialog names the
    // source; nothing is finished while it is open.
    EXPECT_EQ(r.calls, (QStringList{"detach", "log", "show", "dialog:" + kBox}));
    EXPECT_EQ(r.logLines, QStringList{QStringLiteral("Launching the MovieBox")});
    EXPECT_TRUE(r.step.Running());
    EXPECT_FALSE(r.step.Launched());

    r.calls.clear();
    r.step.DialogClosed();
    EXPECT_EQ(r.calls, (QStringList{"attach", "close"}));
    EXPECT_TRUE(r.step.Launched());
    EXPECT_FALSE(r.step.Running());

    // A second close (a dialog finishing twice) and a second connection do
    // nothing.
    r.calls.clear();
    r.step.DialogClosed();
    EXPECT_FALSE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_TRUE(r.calls.isEmpty());
    EXPECT_EQ(r.logLines.size(), 1);
}

TEST(MovieBoxStep, AResetBringsItBack)
{
    Recorder r;
    ASSERT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    r.step.DialogClosed();
    ASSERT_TRUE(r.step.Launched());

    r.calls.clear();
    r.step.Reset();
    // Nothing was held: a reset of a finished step touches no window.
    EXPECT_TRUE(r.calls.isEmpty());
    EXPECT_FALSE(r.step.Launched());
    // A reset alone does not start it; the next MovieBox does.
    EXPECT_FALSE(r.step.Connected(SourceKind::skAnalog, QStringLiteral("Virtual Webcam")));
    EXPECT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_EQ(r.logLines.size(), 2);
    r.step.DialogClosed();
    EXPECT_TRUE(r.step.Launched());
}

TEST(MovieBoxStep, AResetWhileTheDialogIsOpenReleasesThePreview)
{
    Recorder r;
    ASSERT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    r.calls.clear();

    // The list was refreshed and a webcam connected: its preview shows at
    // once, and closing the old dialog does not count as a launch.
    r.step.Reset();
    EXPECT_EQ(r.calls, QStringList{"attach"});
    r.step.Reset();
    EXPECT_EQ(r.calls, QStringList{"attach"});
    EXPECT_FALSE(r.step.Connected(SourceKind::skAnalog, QStringLiteral("Virtual Webcam")));
    r.calls.clear();
    r.step.DialogClosed();
    EXPECT_EQ(r.calls, QStringList{"close"});
    EXPECT_FALSE(r.step.Launched());
    EXPECT_FALSE(r.step.Running());
    // So the next MovieBox is primed again.
    EXPECT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
}

TEST(MovieBoxStep, TheOpenDialogServesAMovieBoxConnectedAgain)
{
    Recorder r;
    ASSERT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    r.calls.clear();

    // Connected again while open, without a reset: no second dialog.
    EXPECT_FALSE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_TRUE(r.calls.isEmpty());

    // Refreshed with the MovieBox still chosen: the preview is held again
    // behind the same dialog, whose closing wakes this connection.
    r.step.Reset();
    EXPECT_FALSE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_EQ(r.calls, (QStringList{"attach", "detach"}));
    EXPECT_EQ(r.logLines.size(), 1);
    r.calls.clear();
    r.step.DialogClosed();
    EXPECT_EQ(r.calls, (QStringList{"attach", "close"}));
    EXPECT_TRUE(r.step.Launched());
}

TEST(MovieBoxStep, AnotherSourceChosenWhileOpenIsPreviewedAtOnce)
{
    Recorder r;
    ASSERT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    r.calls.clear();

    EXPECT_FALSE(r.step.Connected(SourceKind::skDV, QStringLiteral("Virtual DV Camcorder (PAL)")));
    EXPECT_FALSE(r.step.Connected(SourceKind::skAnalog, QStringLiteral("Virtual Webcam")));
    EXPECT_EQ(r.calls, QStringList{"attach"});
    EXPECT_FALSE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_EQ(r.calls, (QStringList{"attach", "detach"}));

    // The box was woken all the same: the closing counts.
    r.calls.clear();
    EXPECT_FALSE(r.step.Connected(SourceKind::skAnalog, QStringLiteral("Virtual Webcam")));
    r.step.DialogClosed();
    EXPECT_EQ(r.calls, (QStringList{"attach", "close"}));
    EXPECT_TRUE(r.step.Launched());
}

TEST(MovieBoxStep, WithoutADialogOrHooksItNeverStaysOpen)
{
    // No dialog to wait for: the step ends where it starts.
    Recorder r(false);
    ASSERT_TRUE(r.step.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_EQ(r.calls, (QStringList{"detach", "log", "show", "attach", "close"}));
    EXPECT_TRUE(r.step.Launched());
    EXPECT_FALSE(r.step.Running());

    // No hooks at all: nothing to call, no crash.
    TMovieBoxStep bare;
    EXPECT_TRUE(bare.Connected(SourceKind::skMovieBoxB, kBox));
    EXPECT_TRUE(bare.Launched());
    bare.Reset();
    EXPECT_FALSE(bare.Launched());
}

} // namespace
