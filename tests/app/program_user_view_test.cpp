// What a user sees of the assembled program: window titles, the hints of
// the buttons that run actions, the capture toggle after a lost device, the
// replace question and the thumbnail of a declined grab, the help lists,
// and the file name while no video source is chosen.

#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gst/gst.h>

#include "app/app_identity.h"
#include "app/form_fixture.h"
#include "app/program_fixture.h"
#include "ui/camcorder_window.h"
#include "ui/grab_panel.h"
#include "ui/message_dialog.h"
#include "ui/sources_panel.h"
#include "virtual/virtual_device_provider.h"

namespace kad::test {
namespace {

const QString kPal = QStringLiteral("Virtual DV Camcorder (PAL)");

class ProgramUserView : public ProgramTest {
protected:
    TSourcesFrame& sources() const { return *program->Parts().SourcesFrame; }

    // Leaves the video combo with nothing chosen, as ConnectVideoSource
    // meets it when the chosen device is gone.
    void chooseNoVideo()
    {
        sources().cboxvideo->setCurrentIndex(-1);
        program->Sources().cboxVideoChange();
        ASSERT_TRUE(waitConnected());
    }
};

TEST_F(ProgramUserView, WindowTitlesAreExactlyThoseTheProgramSets)
{
    // A display name of the application's own would make the platform add
    // " — Kadrillo" to every title: the application's name must be all.
    const QString savedName = QCoreApplication::applicationName();
    NameApplication();
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Kadrillo"));
    QCoreApplication::setApplicationName(QStringLiteral("Kadrillo probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Kadrillo probe"))
        << "a display name is pinned";
    QCoreApplication::setApplicationName(savedName);

    useDevices("dv-pal-vcr,webcam");
    start();
    ASSERT_EQ(sources().cboxvideo->currentText(), kPal);
    EXPECT_EQ(form().windowTitle(), QStringLiteral("Kadrillo by Tavrel - ") + kPal);
    ASSERT_NE(program->Parts().camForm, nullptr);
    ASSERT_FALSE(cam().Source().Facts().Description.isEmpty());
    EXPECT_EQ(program->Parts().camForm->windowTitle(),
              QStringLiteral("Drive the camcorder: ") + cam().Source().Facts().Description);

    act(ActionId::acReduire)->trigger();
    EXPECT_EQ(form().windowTitle(), kPal);
    // Another source while reduced: the caption stays the source alone.
    sources().cboxvideo->setCurrentIndex(sources().cboxvideo->findText("Virtual Webcam"));
    program->Sources().cboxVideoChange();
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(form().windowTitle(), QStringLiteral("Virtual Webcam"));

    chooseNoVideo();
    EXPECT_EQ(cam().Source().Kind(), SourceKind::skNoVideo);
    EXPECT_EQ(form().windowTitle(), QStringLiteral("No video"));
    act(ActionId::acReduire)->trigger();
    EXPECT_EQ(form().windowTitle(), QStringLiteral("Kadrillo by Tavrel - No video"));
    act(ActionId::acReduire)->trigger();
    EXPECT_EQ(form().windowTitle(), QStringLiteral("No video"))
        << "reducing reads the same text as connecting";
}

TEST_F(ProgramUserView, WithoutAVideoSourceAStaleFormatGivesAnAviName)
{
    useDevices("dv-pal-vcr");
    start();
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skDV);
    // The last entry of the DV list: Windows Media when it is offered,
    // recompressed DV otherwise; both re-encode.
    const int last = sources().rgFormat->items().size() - 1;
    ASSERT_GE(last, 2);
    sources().rgFormat->setItemIndex(last);
    program->Sources().rgFormatClick();
    EXPECT_TRUE(sources().rgStandard->isVisibleTo(&sources()) ||
                sources().rgProfiles->isVisibleTo(&sources()) ||
                sources().Label1->isVisibleTo(&sources()));

    chooseNoVideo();
    ASSERT_EQ(cam().Source().Kind(), SourceKind::skNoVideo);
    EXPECT_EQ(sources().rgFormat->itemIndex(), -1);
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String(".avi")))
        << form().CurrentVideoFileName().toStdString();
    EXPECT_EQ(Naming().captureFormat, CaptureFormat::cfNone);
    EXPECT_TRUE(NextVideoName().endsWith(QLatin1String(".avi")));
    EXPECT_FALSE(sources().rgStandard->isVisibleTo(&sources()));
    EXPECT_FALSE(sources().rgProfiles->isVisibleTo(&sources()));
}

TEST_F(ProgramUserView, CaptureButtonShowsTheTogglesHintAndALostDeviceResetsTheToggle)
{
    useDevices("dv-pal-vcr,webcam");
    presetFolders();
    start();
    ASSERT_EQ(form().State(), CaptureState::csPreview);
    ASSERT_TRUE(waitForPicture());
    QAction* toggle = act(ActionId::acCapturerBascule);

    // Every push button that runs an action has a hint; the capture button
    // shows its action's, whatever state the toggle is in.
    for (QPushButton* b : {form().CaptureBtn, form().CouperBtn, form().grabBtn})
        EXPECT_FALSE(b->toolTip().isEmpty()) << b->objectName().toStdString();
    const QString startHint = form().CaptureBtn->toolTip();
    EXPECT_EQ(startHint, toggle->toolTip());
    EXPECT_EQ(toggle->property(kImageProperty).toInt(), 14);

    const QString first = form().CurrentVideoFileName();
    toggle->trigger();
    ASSERT_EQ(form().State(), CaptureState::csCapturing);
    EXPECT_EQ(form().CaptureBtn->toolTip(), toggle->toolTip());
    EXPECT_NE(form().CaptureBtn->toolTip(), startHint) << "the hint follows the toggle";
    EXPECT_EQ(toggle->property(kImageProperty).toInt(), 28);
    ASSERT_TRUE(waitUntil([&] { return cam().Capture().CapturedFrames() >= 10; }));

    GstElement* source = cam().FilterGraph().VideoSource.Element();
    ASSERT_NE(source, nullptr);
    g_object_set(source, "unplug", TRUE, NULL);
    const bool recovered = waitUntil([&] {
        return form().State() == CaptureState::csPreview &&
               cam().Source().Kind() == SourceKind::skAnalog;
    });
    replugVirtualDevice("/virtual/kadrillo/dv-pal-vcr/0");
    ASSERT_TRUE(recovered);

    // The webcam took over; the file is kept and the next capture gets a
    // name of its own.
    EXPECT_EQ(sources().cboxvideo->currentText(), QStringLiteral("Virtual Webcam"));
    EXPECT_TRUE(form().CurrentVideoFileName().endsWith(QLatin1String("_1.avi")))
        << form().CurrentVideoFileName().toStdString();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(toggle->text(), QStringLiteral("Capture"));
    EXPECT_EQ(toggle->property(kImageProperty).toInt(), 14) << "not the stop picture";
    EXPECT_EQ(form().CaptureBtn->text(), QStringLiteral("Capture"));
    EXPECT_EQ(form().CaptureBtn->toolTip(), toggle->toolTip());
    EXPECT_NE(form().CaptureBtn->toolTip(), QString(QStringLiteral("Stop Capture")));

    const auto probe = probeVideo(first);
    ASSERT_TRUE(probe.has_value()) << first.toStdString();
    EXPECT_GE(probe->frames, 10);
    EXPECT_TRUE(waitForPicture());
}

TEST_F(ProgramUserView, ADeclinedReplaceKeepsTheFileButShowsTheNewFrame)
{
    useDevices("dv-pal-vcr");
    presetFolders();
    start();
    ASSERT_TRUE(waitForPicture());
    ASSERT_TRUE(program->Prefs().Confirmer.Value);
    TExtraireFrame& grab = *program->Parts().ExtraireFrame1;

    // A file of someone else's already has the next name.
    const QString target = program->Parts().NextImageFileName;
    ASSERT_TRUE(target.startsWith(images)) << target.toStdString();
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
    }
    grab.Bevel3->show();
    ASSERT_TRUE(grab.Image->pixmap().isNull());

    dialogs.answer(DialogAnswer::No);
    act(ActionId::acGrab)->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warningYesNoAll"));
    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("not a picture"));
    EXPECT_EQ(program->Parts().NextImageFileName, target) << "the name is asked about again";
    EXPECT_FALSE(grab.Image->pixmap().isNull()) << "the thumbnail shows the grabbed frame";
    EXPECT_FALSE(grab.Bevel3->isVisibleTo(&grab));

    // Yes replaces it with a picture a reader of our own did not write.
    dialogs.answer(DialogAnswer::Yes);
    act(ActionId::acGrab)->trigger();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(target).size() > 13; }, 10000));
    QImageReader reader(target);
    EXPECT_EQ(reader.format(), QByteArray("bmp"));
    EXPECT_EQ(reader.read().size(), QSize(720, 540));
    EXPECT_NE(program->Parts().NextImageFileName, target);
}

TEST(MessageBoxes, TheReplaceQuestionIsAWarningWithYesNoAndAll)
{
    TMessageDialogs boxes(nullptr);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool answered = false;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            // The box never came up: give up rather than wait for ever.
            if (elapsed.elapsed() > 10000) poll.stop();
            return;
        }
        icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            buttons << QString::number(box->standardButton(b));
        answered = true;
        box->button(QMessageBox::No)->click();
        poll.stop();
    });
    poll.start();
    const DialogAnswer a = boxes.warningYesNoAll(QStringLiteral("The image x.bmp exists already."));
    poll.stop();
    ASSERT_TRUE(answered);
    EXPECT_EQ(a, DialogAnswer::No);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons.size(), 3);
    EXPECT_TRUE(buttons.contains(QString::number(QMessageBox::YesToAll)));
}

using HelpListsOrder = FormTest;

TEST_F(HelpListsOrder, TheListsShowTheActionsAsThePanelsLeftThem)
{
    // Whatever the panels' set-up does to an action shows in the lists.
    QObject::connect(form.get(), &TCaptureForm::panelsInitWanted, form.get(), [this] {
        act(ActionId::acGrab)->setText(QStringLiteral("Grab after set-up"));
    });
    form->FormShow();
    const QStringList& lines = form->ShortcutLists().Shortcuts;
    EXPECT_TRUE(lines.contains(QStringLiteral("Grab after set-up=F5 (CTRL+G)")))
        << lines.join(u'|').toStdString();
}

} // namespace
} // namespace kad::test
