// The camcorder through the whole program with the virtual camcorders: the
// main window's camera actions and the window's own keys move the tape,
// fast wind and fastest play are chosen from the tape's state, the timecode
// panel follows the tape, the window shows only for a camcorder in VCR
// mode, its toggles, its position and "Stop when quit".

#include <QCheckBox>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>

#include "app/preferences_binding.h"
#include "app/program_fixture.h"
#include "elements/kad_transport.h"
#include "platform/media/cam_transport.h"
#include "ui/camcorder_window.h"
#include "ui/sources_panel.h"

namespace kad::test {
namespace {

class ProgramCamcorder : public ProgramTest {
protected:
    TcamForm& camForm() const { return *program->Parts().camForm; }
    QString timecodeText() const { return camForm().TimecodePanel->text(); }

    GstElement* source() const { return cam().FilterGraph().VideoSource.Element(); }
    int tapeMode() const
    {
        gint mode = 0;
        g_object_get(source(), "transport-mode", &mode, nullptr);
        return mode;
    }
    void setTapeMode(int mode)
    {
        ASSERT_TRUE(kad_transport_set_mode(KAD_TRANSPORT(source()), mode));
    }

    // Plays the tape, sets "Stop when quit", quits; the mode the tape is
    // left in (0 when the program did not start).
    int quitPlaying(bool stopWhenQuit)
    {
        startPal();
        if (!program || !cam().Source().Transport()) return 0;
        act(ActionId::camPlay)->trigger();
        camForm().cbStopQuittant->setChecked(stopWhenQuit);
        camForm().move(40, 50);
        program->Binding().GatherPreferences();
        EXPECT_EQ(program->Prefs().StopperCameraDVEnQuittant.Value, stopWhenQuit);
        EXPECT_EQ(program->Prefs().CamformLeft.Value, 40);
        EXPECT_EQ(program->Prefs().CamformTop.Value, 50);
        const ElementRef element = ElementRef::ref(source());
        form().close();
        program.reset();
        gint mode = 0;
        g_object_get(element.get(), "transport-mode", &mode, nullptr);
        return mode;
    }

    void startPal()
    {
        useDevices("dv-pal-vcr");
        presetFolders();
        start();
        ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);
        ASSERT_TRUE(cam().Source().Transport());
    }
};

TEST_F(ProgramCamcorder, PlayMovesTheTapeAndTheTimecodeShownAdvances)
{
    startPal();
    EXPECT_TRUE(cam().Source().Facts().IsVCR);
    EXPECT_FALSE(cam().Source().Facts().IsCamera);
    EXPECT_TRUE(camForm().isVisible());
    EXPECT_TRUE(camForm().windowTitle().startsWith(QLatin1String("Drive the camcorder: ")));
    EXPECT_TRUE(
        program->Parts().SourcesFrame->PilotSpeedBtn->isVisibleTo(program->Parts().SourcesFrame));
    ASSERT_TRUE(waitForPicture());

    act(ActionId::camStop)->trigger();
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_STOP);
    act(ActionId::camPlay)->trigger();
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_PLAY);

    const QRegularExpression shape(QStringLiteral("^\\d:\\d\\d:\\d\\d:\\d\\d$"));
    ASSERT_TRUE(waitUntil([&] { return timecodeText() != QLatin1String("0:00:00:00"); }))
        << "the timecode panel never changed";
    const QString first = timecodeText();
    EXPECT_TRUE(shape.match(first).hasMatch()) << first.toStdString();
    ASSERT_TRUE(waitUntil([&] { return timecodeText() != first; }))
        << "the timecode stood still while playing";
    EXPECT_GT(timecodeText(), first) << "played forward, the timecode went back";

    // A paused tape holds its timecode.
    act(ActionId::camPause)->trigger();
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_FREEZE);
    pump(300);
    const QString frozen = timecodeText();
    pump(300);
    EXPECT_EQ(timecodeText(), frozen);
}

TEST_F(ProgramCamcorder, FastWindOrFastestPlayFollowsTheTapeState)
{
    startPal();
    QSignalSpy sent(cam().Source().Transport(), &TcamTransport::commandDone);
    const auto lastSent = [&] { return sent.isEmpty() ? 0 : sent.last().at(0).toInt(); };

    setTapeMode(KAD_TRANSPORT_STOP);
    act(ActionId::camAvanceRapide)->trigger();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_FAST_FORWARD);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_FAST_FORWARD);

    setTapeMode(KAD_TRANSPORT_PLAY);
    act(ActionId::camAvanceRapide)->trigger();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_PLAY_FASTEST_FORWARD);

    setTapeMode(KAD_TRANSPORT_STOP);
    act(ActionId::camReculeRapide)->trigger();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_REWIND);

    setTapeMode(KAD_TRANSPORT_FREEZE);
    act(ActionId::camReculeRapide)->trigger();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_PLAY_FASTEST_REVERSE);

    act(ActionId::camAvanceLent)->trigger();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_PLAY_SLOWEST_FORWARD);
    act(ActionId::camReculeLent)->trigger();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_PLAY_SLOWEST_REVERSE);

    // The window's own buttons send the same.
    camForm().nav_captureframe1->StopBtn->click();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_STOP);
    camForm().nav_captureframe1->AvanceRapideBtn->click();
    EXPECT_EQ(lastSent(), KAD_TRANSPORT_FAST_FORWARD);
    EXPECT_EQ(sent.count(), 8);
}

TEST_F(ProgramCamcorder, BothSetsOfShortcutsDriveTheTape)
{
    startPal();
    ASSERT_TRUE(showActive());
    setTapeMode(KAD_TRANSPORT_STOP);
    QTest::keyClick(&form(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_PLAY);
    QTest::keyClick(&form(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_STOP);

    camForm().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&camForm()));
    QTest::keyClick(&camForm(), Qt::Key_Insert);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_PLAY);
    QTest::keyClick(&camForm(), Qt::Key_Delete);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_FREEZE);
    QTest::keyClick(&camForm(), Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_PLAY);
    QTest::keyClick(&camForm(), Qt::Key_End);
    EXPECT_EQ(tapeMode(), KAD_TRANSPORT_STOP);
}

TEST_F(ProgramCamcorder, WindowTogglesAndThePilotPreference)
{
    {
        auto prefs = CreatePreferences(QSize(700, 459), hive);
        prefs->ShowPilotDV.Value = false;
        prefs->CamformLeft.Value = 123;
        prefs->CamformTop.Value = 345;
        ASSERT_TRUE(SavePreferences(*prefs));
    }
    startPal();
    // Not wanted: hidden although the camcorder is a VCR.
    EXPECT_TRUE(cam().Source().Facts().IsVCR);
    EXPECT_FALSE(camForm().isVisible());
    EXPECT_EQ(camForm().pos(), QPoint(123, 345));

    // The menu's toggle shows and hides it, the preference stays.
    act(ActionId::acShowPilotDV)->trigger();
    EXPECT_TRUE(camForm().isVisible());
    act(ActionId::acShowPilotDV)->trigger();
    EXPECT_FALSE(camForm().isVisible());
    EXPECT_FALSE(program->Prefs().ShowPilotDV.Value);

    // The camcorder button inverts the preference and follows it.
    program->Sources().SourcesFramePilotSpeedBtnClick();
    EXPECT_TRUE(program->Prefs().ShowPilotDV.Value);
    EXPECT_TRUE(camForm().isVisible());
    program->Sources().SourcesFramePilotSpeedBtnClick();
    EXPECT_FALSE(camForm().isVisible());
}

TEST_F(ProgramCamcorder, ACamcorderInCameraModeNeverShowsTheWindow)
{
    useDevices("dv-ntsc-camera");
    start();
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);
    EXPECT_TRUE(cam().Source().Facts().IsCamera);
    EXPECT_FALSE(cam().Source().Facts().IsVCR);
    EXPECT_TRUE(program->Prefs().ShowPilotDV.Value);
    EXPECT_FALSE(camForm().isVisible());
    EXPECT_FALSE(
        program->Parts().SourcesFrame->PilotSpeedBtn->isVisibleTo(program->Parts().SourcesFrame));

    act(ActionId::acShowPilotDV)->trigger();
    EXPECT_FALSE(camForm().isVisible());
    program->Sources().SourcesFramePilotSpeedBtnClick();
    program->Sources().SourcesFramePilotSpeedBtnClick();
    EXPECT_FALSE(camForm().isVisible());

    // No tape: the commands change nothing and the panel keeps its text.
    ASSERT_TRUE(waitForPicture());
    act(ActionId::camPlay)->trigger();
    pump(300);
    EXPECT_EQ(timecodeText(), QLatin1String("0:00:00:00"));
}

TEST_F(ProgramCamcorder, StopWhenQuitStopsTheTape)
{
    EXPECT_EQ(quitPlaying(true), KAD_TRANSPORT_STOP);
}

TEST_F(ProgramCamcorder, WithoutStopWhenQuitTheTapePlaysOn)
{
    EXPECT_EQ(quitPlaying(false), KAD_TRANSPORT_PLAY);
}

} // namespace
} // namespace kad::test
