#include <gtest/gtest.h>

#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gst/gst.h>

#include <QStringList>

#include "form_fixture.h"
#include "graph/dm_cam.h"
#include "session/capture_session.h"
#include "support/fake_dialogs.h"
#include "support/probe.h"
#include "support/wait.h"
#include "ui/message_dialog.h"
#include "ui/status_bar.h"
#include "ui/video_widget.h"

namespace kad::test {
namespace {

using WindowTest = FormTest;

TEST_F(WindowTest, FixedClientAreaTitleAndFont)
{
    EXPECT_EQ(form->size(), QSize(700, 459));
    EXPECT_EQ(form->windowTitle(), "Kadrillo");
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_EQ(form->font().pixelSize(), 11);
    const QString family = QFontInfo(form->font()).family();
    EXPECT_TRUE(family == "Liberation Sans" || family == "Arial" || family == "Arimo" ||
                family == "DejaVu Sans")
        << family.toStdString();
    EXPECT_EQ(form->vwEcran->geometry(), QRect(16, 16, 384, 288));
    EXPECT_FALSE(form->Xslider->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Yslider->isVisibleTo(form.get()));
}

class StateTest : public FormTest {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        form->ApplyTexts();
        TStateFacts& f = form->Facts();
        f.Kind = SourceKind::skDV;
        f.Audio = AudioKind::akIncluded;
        f.IsVCR = true;
        f.FormatIndex = 1;
        f.FormatCaption = "DV type 2 (normal)";
        f.PermettreIncruster = true;
        f.DeinterlacerChecked = false;
        f.EcouterAudioInclus = true;
        session.SetVideoFileName(QDir::temp().filePath(QStringLiteral("clip_0.avi")));
        form->SetSession(&session);
    }
    void TearDown() override
    {
        form.reset();
        cam.FilterGraph().StopGraph();
    }

    TdmCam cam;
    TCaptureSession session{cam};
};

TEST_F(StateTest, PreviewStateTextsAndColour)
{
    // The DV camcorder's texts and colour are seen at program level.
    form->ShowPreviewState();
    EXPECT_EQ(form->State(), CaptureState::csPreview);
    EXPECT_TRUE(form->Action(ActionId::acCapturerBascule)->isEnabled());
    EXPECT_FALSE(form->Action(ActionId::acCouper)->isEnabled());
    EXPECT_TRUE(form->grabBtn->isEnabled());
    EXPECT_EQ(form->ControlStates().EcouterDVVisible, true);
    EXPECT_EQ(form->ControlStates().PilotButtonVisible, true);
    EXPECT_EQ(form->ControlStates().AudioGroupHeight, 46);

    // A recompressing format with inlays allowed, a sound card, a webcam.
    TStateFacts& f = form->Facts();
    f.Kind = SourceKind::skAnalog;
    f.IsVCR = false;
    f.FormatIndex = 2;
    f.FormatCaption = "Wmv";
    f.Audio = AudioKind::akSoundCard;
    f.DeinterlacerChecked = true;
    form->ShowPreviewState();
    EXPECT_EQ(form->StatusText(1), "Preview INC DES");
    EXPECT_EQ(form->StatusText(2), "Vid: Wmv INC - Aud:  AUX");
    EXPECT_EQ(form->ControlStates().AudioGroupHeight, 170);
    EXPECT_EQ(form->ControlStates().EcouterDVVisible, false);

    f.Kind = SourceKind::skNoVideo;
    f.FormatIndex = -1;
    f.FormatCaption.clear();
    f.Audio = AudioKind::akNone;
    f.PermettreIncruster = false;
    f.DeinterlacerChecked = false;
    form->ShowPreviewState();
    EXPECT_EQ(form->StatusText(1), "Preview");
    EXPECT_EQ(form->StatusText(2), "No video - No Audio");
}

TEST_F(StateTest, IdleStateIsGreyAndStopsCapture)
{
    form->ShowPreviewState();
    form->ShowIdleState();
    EXPECT_EQ(form->State(), CaptureState::csIdle);
    EXPECT_FALSE(form->Action(ActionId::acCapturerBascule)->isEnabled());
    EXPECT_FALSE(form->Action(ActionId::acCouper)->isEnabled());
    EXPECT_FALSE(form->grabBtn->isEnabled());
    EXPECT_EQ(form->ControlStates().VideoComboEnabled, true);
    EXPECT_EQ(form->ControlStates().IntervalometerEnabled, false);
}

TEST_F(StateTest, CaptureStateTextsAndColour)
{
    form->ShowCaptureState();
    EXPECT_EQ(form->State(), CaptureState::csCapturing);
    EXPECT_EQ(form->FrameColour(), QColor(Qt::red));
    EXPECT_EQ(form->StatusText(1), "Capture: DV type 2  - DV");
    EXPECT_TRUE(form->Action(ActionId::acCouper)->isEnabled());
    EXPECT_FALSE(form->Action(ActionId::acDesentrelacer)->isEnabled());
    EXPECT_EQ(form->ControlStates().VideoGroupEnabled, false);
    EXPECT_EQ(form->ControlStates().ScheduleStartVisible, false);

    TStateFacts& f = form->Facts();
    f.FormatIndex = 2;
    f.FormatCaption = "DV type 2 (recompressed)";
    f.EcouterAudioInclus = false;
    f.EnregistrerSourceAudio = false;
    form->ShowCaptureState();
    EXPECT_EQ(form->StatusText(1), "Capture: DV type 2  INC- No Audio");

    f.EnregistrerSourceAudio = true;
    form->ShowCaptureState();
    EXPECT_EQ(form->StatusText(1), "Capture: DV type 2  INC - AUX");
}

TEST_F(StateTest, CounterTimerClearsTheCountersWithoutAWriter)
{
    form->ShowCaptureState();
    form->SetStatusText(2, QStringLiteral("250 captured frames"));
    form->DroppedActionTimer();
    EXPECT_EQ(form->StatusText(2), "");
    EXPECT_EQ(form->StatusText(3), "");
    // Outside a capture the counters are left alone.
    form->ShowPreviewState();
    const QString before = form->StatusText(2);
    form->DroppedActionTimer();
    EXPECT_EQ(form->StatusText(2), before);
}

// The program-level schedule tests see the colours and the start and end
// times; here, what the status bar composes for another format and how the
// end time reaches it.
TEST_F(StateTest, ScheduledStatesTextsAndColours)
{
    form->Facts().EcouterAudioInclus = false;
    form->Facts().FormatCaption = "Wmv";
    form->Facts().FormatIndex = 3;
    form->ShowScheduledState();
    EXPECT_EQ(form->State(), CaptureState::csScheduled);
    EXPECT_EQ(form->StatusText(2), "Vid: Wmv INC - No Audio");

    bool armed = false;
    QObject::connect(form.get(), &TCaptureForm::stopAlarmWanted, form.get(), [&] {
        armed = true;
        form->Facts().AlarmTime = QTime(23, 59, 0);
    });
    form->ShowScheduledCaptureState();
    EXPECT_TRUE(armed);
    EXPECT_EQ(form->State(), CaptureState::csScheduledCapture);
    EXPECT_EQ(form->StatusText(1), "Capture until 23:59:00");
    EXPECT_EQ(form->ControlStates().VideoComboEnabled, false);
}

TEST_F(StateTest, CaptureToggleFollowsTheWishEvenWhenTheStartFails)
{
    QSignalSpy starts(form.get(), &TCaptureForm::startCaptureRequested);
    QSignalSpy stops(form.get(), &TCaptureForm::stopCaptureRequested);
    form->ShowPreviewState();
    QAction* toggle = form->Action(ActionId::acCapturerBascule);
    // Nobody starts anything here.
    toggle->trigger();
    EXPECT_EQ(starts.count(), 1);
    EXPECT_EQ(toggle->text(), "Stop Capture");
    EXPECT_EQ(form->CaptureBtn->text(), "Stop Capture");
    EXPECT_EQ(form->State(), CaptureState::csPreview);
    toggle->trigger();
    EXPECT_EQ(stops.count(), 1);
    EXPECT_EQ(toggle->text(), "Capture");
    EXPECT_EQ(toggle->toolTip(), "Capture the current streams on the hard disk.\nYou may also "
                                 "start capture with the space bar.");
    EXPECT_FALSE(form->Action(ActionId::acCouper)->isEnabled());

    // Idle has nothing to start from.
    form->ShowIdleState();
    form->Action(ActionId::acCapturer)->trigger();
    EXPECT_EQ(starts.count(), 1);
}

// The window over a session of its own: the session's state is the one it
// shows, and the window's routines set the session's.
class SessionWindowTest : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        cam.FilterGraph().CheckOptionalFilters();
        GstElement* display = gst_element_factory_make("kaddisplaysink", nullptr);
        g_object_set(display, "sync", FALSE, "async", FALSE, NULL);
        cam.FilterGraph().SetVideoWindow(display);
    }
};

TEST_F(SessionWindowTest, WindowShowsTheSessionsState)
{
    session.SetState(CaptureState::csCapturing);
    EXPECT_EQ(form->State(), CaptureState::csCapturing);
    EXPECT_EQ(form->FrameColour(), kCaptureColour);
    EXPECT_TRUE(form->Action(ActionId::acCouper)->isEnabled());
    session.SetState(CaptureState::csScheduled);
    EXPECT_EQ(form->FrameColour(), kScheduledColour);
    EXPECT_EQ(form->StatusText(1), "Schedule");

    form->ShowPreviewState();
    EXPECT_EQ(session.State(), CaptureState::csPreview);
    // No source: no preview, and the window says so.
    EXPECT_FALSE(form->StartPreview());
    session.StopCapture();
    EXPECT_EQ(form->State(), CaptureState::csIdle);
    EXPECT_EQ(form->FrameColour(), kIdleColour);
    EXPECT_FALSE(form->Action(ActionId::acCapturerBascule)->isEnabled());
}

TEST_F(SessionWindowTest, StopKeepsTheToggleAndCutOffUntilTheFileIsFinished)
{
    FakeDialogs boxes;
    GstElement* camcorder = gst_element_factory_make("kadvirtualdvsrc", nullptr);
    ASSERT_NE(camcorder, nullptr);
    g_object_set(camcorder, "is-live", TRUE, NULL);
    ASSERT_TRUE(cam.Source().ConnectSourceElement("Virtual", camcorder));
    const QString file = form->CurrentVideoFileName();
    QFile::remove(file);
    // What the program does with the two intents.
    QObject::connect(form.get(), &TCaptureForm::startCaptureRequested, &session,
                     [&] { session.StartCapture(file); });
    QObject::connect(form.get(), &TCaptureForm::stopCaptureRequested, &session,
                     [&] { session.StopCapture(); });
    ASSERT_TRUE(form->StartPreview());
    form->ShowPreviewState();

    QAction* toggle = form->Action(ActionId::acCapturerBascule);
    QAction* cut = form->Action(ActionId::acCouper);
    toggle->trigger();
    ASSERT_EQ(form->State(), CaptureState::csCapturing);
    EXPECT_EQ(form->FrameColour(), kCaptureColour);
    EXPECT_TRUE(cut->isEnabled());
    ASSERT_TRUE(kadtest::waitUntil([&] { return cam.Capture().CapturedFrames() >= 10; }, 20000));

    toggle->trigger();
    ASSERT_TRUE(session.Finishing());
    EXPECT_EQ(form->State(), CaptureState::csCapturing);
    EXPECT_FALSE(toggle->isEnabled());
    EXPECT_FALSE(form->CaptureBtn->isEnabled());
    EXPECT_FALSE(cut->isEnabled());
    EXPECT_FALSE(form->CouperBtn->isEnabled());
    EXPECT_EQ(toggle->text(), "Capture");

    ASSERT_TRUE(kadtest::waitUntil([&] { return !session.Finishing(); }, 15000));
    EXPECT_EQ(form->State(), CaptureState::csPreview);
    EXPECT_NE(form->FrameColour(), kCaptureColour);
    EXPECT_TRUE(toggle->isEnabled());
    EXPECT_FALSE(cut->isEnabled());
    const kadtest::Probe read = kadtest::ffprobe(file.toStdString(), true);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_NE(read.first("video"), nullptr);
    EXPECT_GE(read.first("video")->frames, 10);
    QFile::remove(file);
}

TEST_F(WindowTest, VolumeMuteAndRatioSwitches)
{
    TdmCam cam;
    TCaptureSession session(cam);
    form->SetSession(&session);
    const auto volume = [&] { return cam.FilterGraph().Volume(); };
    form->ApplyTexts();
    form->tb->setValue(4550);
    EXPECT_EQ(volume(), 4550);
    EXPECT_EQ(form->VolumeLab->text(), "45");

    QAction* mute = form->Action(ActionId::acMute);
    mute->trigger();
    EXPECT_TRUE(mute->isChecked());
    EXPECT_EQ(mute->text(), "Turn sound on");
    EXPECT_EQ(mute->property(kImageProperty).toInt(), 23);
    EXPECT_EQ(volume(), 0);
    mute->trigger();
    EXPECT_FALSE(mute->isChecked());
    EXPECT_EQ(mute->text(), "Turn sound off");
    EXPECT_EQ(volume(), 4550);

    QAction* ratio = form->Action(ActionId::acVMRKeepratio);
    ratio->trigger();
    EXPECT_TRUE(ratio->isChecked());
    EXPECT_EQ(ratio->text(), "Ratio native");
    EXPECT_FALSE(form->VMRKeepAspectRatio());
    EXPECT_FALSE(form->vwEcran->KeepAspect());
    ratio->trigger();
    EXPECT_FALSE(ratio->isChecked());
    EXPECT_EQ(ratio->text(), "Ratio 4x3");
    EXPECT_TRUE(form->vwEcran->KeepAspect());
    form.reset();
}

TEST_F(WindowTest, DeinterlaceAndFlipNeedTheirFilters)
{
    QAction* deint = form->Action(ActionId::acDesentrelacer);
    deint->setEnabled(true);
    QSignalSpy stored(form.get(), &TCaptureForm::deinterlacerToggled);
    deint->trigger();
    EXPECT_FALSE(deint->isChecked());
    EXPECT_EQ(stored.count(), 0);

    form->Facts().DeinterlacerPresent = true;
    deint->trigger();
    EXPECT_TRUE(deint->isChecked());
    ASSERT_EQ(stored.count(), 1);
    EXPECT_TRUE(stored.at(0).at(0).toBool());

    // The switch shows what the overlay filter answers, and nothing without
    // an answer.
    QAction* flip = form->Action(ActionId::acFlip);
    QSignalSpy flips(form.get(), &TCaptureForm::flipRequested);
    flip->trigger();
    EXPECT_FALSE(flip->isChecked());
    ASSERT_EQ(flips.count(), 1);
    EXPECT_TRUE(flips.at(0).at(0).toBool());
    QObject::connect(form.get(), &TCaptureForm::flipRequested, form.get(),
                     [this](bool flip) { form->ShowFlip(flip); });
    flip->trigger();
    EXPECT_TRUE(flip->isChecked());
    flip->trigger();
    EXPECT_FALSE(flip->isChecked());
    EXPECT_FALSE(flips.at(2).at(0).toBool());
}

TEST_F(WindowTest, PresenceHidesInlayAndDisablesDeinterlace)
{
    form->ApplyPresence();
    EXPECT_FALSE(form->Action(ActionId::acDesentrelacer)->isEnabled());
    form->Facts().DeinterlacerPresent = true;
    form->ApplyPresence();
    EXPECT_TRUE(form->Action(ActionId::acDesentrelacer)->isEnabled());
}

TEST_F(WindowTest, PanelSwitching)
{
    EXPECT_EQ(form->ActivePanel(), piSources);
    EXPECT_TRUE(form->Panel(piSources)->isVisibleTo(form.get()));
    EXPECT_TRUE(form->Action(ActionId::acSourcesFrame)->isChecked());

    form->Action(ActionId::acApropos)->trigger();
    EXPECT_EQ(form->ActivePanel(), piApropos);
    EXPECT_FALSE(form->Panel(piSources)->isVisibleTo(form.get()));
    EXPECT_TRUE(form->Panel(piApropos)->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Action(ActionId::acSourcesFrame)->isChecked());
    EXPECT_TRUE(form->Action(ActionId::acApropos)->isChecked());

    // Triggering the active panel's action keeps it shown and checked.
    form->Action(ActionId::acApropos)->trigger();
    EXPECT_TRUE(form->Action(ActionId::acApropos)->isChecked());

    ASSERT_TRUE(showActive());
    QTest::keyClick(form.get(), Qt::Key_F6);
    EXPECT_EQ(form->ActivePanel(), piSources);
    EXPECT_TRUE(form->Panel(piSources)->isVisible());
    QTest::keyClick(form.get(), Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(form->ActivePanel(), piDossiers);

    form->ShowPanel(8);
    EXPECT_EQ(form->ActivePanel(), piDossiers);
    form->ShowPanel(-1);
    EXPECT_EQ(form->ActivePanel(), piDossiers);
    int shown = 0;
    for (int i = 0; i < kPanelCount; ++i) {
        shown += form->Panel(i)->isVisibleTo(form.get()) ? 1 : 0;
        EXPECT_EQ(form->Panel(i)->x(), form->PanelLeft());
    }
    EXPECT_EQ(shown, 1);
}

TEST_F(WindowTest, LayoutWindowMirrors)
{
    // The panels sit in a column beside the video side, which no control of
    // the video side overlaps, whichever side the picture is on.
    const auto expectApart = [&] {
        const QRect column(form->PanelLeft(), 40, 275, 400);
        for (int i = 0; i < kPanelCount; ++i)
            EXPECT_EQ(form->Panel(i)->x(), form->PanelLeft());
        for (QWidget* w :
             {static_cast<QWidget*>(form->Panel1), static_cast<QWidget*>(form->tb),
              static_cast<QWidget*>(form->VolumeLab), static_cast<QWidget*>(form->grabBtn),
              static_cast<QWidget*>(form->CaptureBtn), static_cast<QWidget*>(form->CouperBtn)})
            EXPECT_FALSE(column.intersects(w->geometry())) << w->objectName().toStdString();
    };
    EXPECT_TRUE(form->EcranGauche());
    EXPECT_EQ(form->PanelLeft(), 427);
    EXPECT_EQ(form->Panel1->x(), 10);
    expectApart();

    form->Action(ActionId::acBasculerPanneau)->trigger();
    EXPECT_FALSE(form->EcranGauche());
    EXPECT_EQ(form->PanelLeft(), 0);
    EXPECT_EQ(form->Panel1->x(), 276);
    expectApart();
}

TEST_F(WindowTest, ReducedModeAndAltW)
{
    form->ApplyTexts();
    QAction* reduce = form->Action(ActionId::acReduire);
    reduce->trigger();
    EXPECT_TRUE(form->IsReduced());
    EXPECT_EQ(form->size(), QSize(415, 321));
    EXPECT_EQ(form->Panel1->pos(), QPoint(0, 0));
    EXPECT_EQ(reduce->text(), "Restore");

    // Alt+W while reduced only flips the side; restoring applies it.
    ASSERT_TRUE(showActive());
    QTest::keyClick(form.get(), Qt::Key_W, Qt::AltModifier);
    EXPECT_FALSE(form->EcranGauche());
    EXPECT_EQ(form->PanelLeft(), 427);
    EXPECT_EQ(form->Panel1->pos(), QPoint(0, 0));

    reduce->trigger();
    EXPECT_FALSE(form->IsReduced());
    EXPECT_EQ(form->size(), QSize(700, 459));
    EXPECT_EQ(form->PanelLeft(), 0);
    EXPECT_EQ(form->Panel1->pos(), QPoint(276, 40));
    EXPECT_EQ(reduce->text(), "Reduce");
}

TEST_F(WindowTest, FullScreenTogglesTheVideoWindow)
{
    form->ApplyTexts();
    ASSERT_TRUE(showActive());
    QAction* full = form->Action(ActionId::acfullscreen);
    full->trigger();
    EXPECT_TRUE(full->isChecked());
    EXPECT_EQ(full->text(), "Quit Fullscreen");
    EXPECT_TRUE(form->vwEcran->isWindow());
    EXPECT_TRUE(form->vwEcran->windowFlags() & Qt::WindowStaysOnTopHint);
    // The full-screen picture answers the window's keys: F11 brings it back.
    form->vwEcran->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form->vwEcran));
    QTest::keyClick(form->vwEcran, Qt::Key_F11);
    EXPECT_FALSE(full->isChecked());
    EXPECT_FALSE(form->vwEcran->isWindow());
    full->trigger();
    ASSERT_TRUE(full->isChecked());
    full->trigger();
    EXPECT_FALSE(full->isChecked());
    EXPECT_EQ(full->text(), "Display Fullscreen");
    EXPECT_FALSE(form->vwEcran->isWindow());
    EXPECT_EQ(form->vwEcran->parentWidget(), form->Panel1);
    EXPECT_EQ(form->vwEcran->geometry(), QRect(16, 16, 384, 288));
}

TEST_F(WindowTest, StatusBarClickOpensTheVideoFolder)
{
    QSignalSpy opened(form.get(), &TCaptureForm::openVideoFolderRequested);
    QTest::mouseClick(form->StatusBar1, Qt::LeftButton);
    EXPECT_EQ(opened.count(), 1);
    form->Action(ActionId::acOuvrirDossierVideos)->trigger();
    EXPECT_EQ(opened.count(), 2);
}

TEST_F(WindowTest, StartupReportsDeviceListFailure)
{
    QObject::connect(form.get(), &TCaptureForm::deviceListsWanted, form.get(), [&] {
        // The help lists are built by now, from the texts.
        EXPECT_FALSE(form->ShortcutLists().Shortcuts.isEmpty());
        form->ReportDeviceLists(false, true);
    });
    QSignalSpy reports(form.get(), &TCaptureForm::startupErrorReported);
    form->FormShow();
    ASSERT_EQ(reports.count(), 1);
    EXPECT_TRUE(reports.at(0).at(1).toBool());
    const QString report = reports.at(0).at(0).toString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\r\nImpossible to load the Video sources "
                                          "\r\nGStreamer \\d+\\.\\d+\\.\\d+ is installed\\. "
                                          "The operating system is .+\\.\r\n$"))
            .match(report)
            .hasMatch())
        << report.toStdString();
    EXPECT_EQ(form->State(), CaptureState::csIdle);
}

TEST_F(WindowTest, WindowInstallsItsMessageBoxesWhileItLives)
{
    EXPECT_NE(dynamic_cast<TMessageDialogs*>(&dialogs()), nullptr);
    QSignalSpy destroying(form.get(), &TCaptureForm::destroying);
    form.reset();
    EXPECT_EQ(destroying.count(), 1);
    EXPECT_EQ(dynamic_cast<TMessageDialogs*>(&dialogs()), nullptr);
}

} // namespace
} // namespace kad::test
