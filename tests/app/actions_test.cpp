#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "form_fixture.h"
#include "ui/action_table.h"
#include "ui/app_icons.h"
#include "ui/shortcuts.h"

namespace kad::test {
namespace {

struct Row {
    ActionId id;
    const char* category;
    const char* caption;
    const char* keys;      // primary shortcut as the help lists show it
    const char* secondary; // empty when none
    bool visible;
};

// The action list as the window must present it after the text pass.
const Row kRows[] = {
    {ActionId::acGrab, "action", "Grab!", "F5", "CTRL+G", true},
    {ActionId::acfullscreen, "action", "Fullscreen", "Alt+Enter", "F11", true},
    {ActionId::acMute, "action", "Turn sound off", "Ctrl+M", "", true},
    {ActionId::acOptionsFrame, "frame", "Settings panel", "F10", "ALT+O", true},
    {ActionId::acDossiersFrame, "frame", "Folders panel", "Alt+D", "", true},
    {ActionId::acProgrammerFrame, "frame", "Schedule panel", "Alt+P", "", true},
    {ActionId::acExtraireFrame, "frame", "Grab panel", "Alt+G", "", true},
    {ActionId::acIncrusterFrame, "frame", "Inlay panel", "Alt+I", "", true},
    {ActionId::acIncruster, "action", "Inlay", "F12", "CTRL+I", true},
    {ActionId::acQuitter, "general", "Quit", "Alt+F4", "CTRL+Q", true},
    {ActionId::acApropos, "frame", "About panel...", "Alt+A", "", true},
    {ActionId::acCapturer, "action", "", "", "", true},
    {ActionId::acCouper, "action", "Cut", "F7", "CTRL+X", true},
    {ActionId::acProgrammer, "action", "Schedule", "Ctrl+P", "", true},
    {ActionId::acJpgOption, "Options", "Jpg", "Ctrl+J", "", true},
    {ActionId::acBmpOption, "Options", "Bmp", "Ctrl+B", "", true},
    {ActionId::acDesentrelacer, "action", "Deinterlace", "Ctrl+D", "", true},
    {ActionId::acVMRKeepratio, "action", "Native ratio aspect", "F3", "", true},
    {ActionId::acBasculerPanneau, "frame", "Mirror the window", "Alt+W", "", true},
    {ActionId::acNextPanneau, "frame", "Next panel", "F6", "ALT+N", true},
    {ActionId::acHelp, "frame", "Help panel", "F1", "ALT+H", true},
    {ActionId::acSauverPrefs, "Options", "", "Ctrl+S", "", true},
    {ActionId::acReduire, "frame", "Reduce", "Alt+BkSp", "", true},
    {ActionId::acSourcesFrame, "frame", "Sources panel", "F2", "ALT+S", true},
    {ActionId::acStopCapture, "action", "", "", "", false},
    {ActionId::acStopProg, "action", "Stop Prog", "", "", false},
    {ActionId::camPlay, "camera", "Play", "Ctrl+Space", "", true},
    {ActionId::camPause, "camera", "Pause", "Ctrl+Del", "", true},
    {ActionId::camStop, "camera", "Stop", "Ctrl+End", "", true},
    {ActionId::camAvanceLent, "camera", "Slow Forward", "Ctrl+Right", "", true},
    {ActionId::camAvanceRapide, "camera", "fast forward", "Ctrl+Up", "", true},
    {ActionId::camReculeLent, "camera", "Slow backward", "Ctrl+Left", "", true},
    {ActionId::camReculeRapide, "camera", "Fast backward", "Ctrl+Down", "", true},
    {ActionId::acCapturerBascule, "action", "Capture", "Space", "", true},
    {ActionId::acStopIncruster, "action", "Stop", "", "", false},
    {ActionId::acStartIncruster, "action", "Inlay", "", "", true},
    {ActionId::acEcouterAudioInclus, "action", "Listen to included audio", "", "", true},
    {ActionId::acEnregistrerAudioSource, "action", "Add Audio AUX", "", "", true},
    {ActionId::acShowPilotDV, "action", "", "", "", true},
    {ActionId::acAllowIncrust, "action", "Enable inlays", "", "", true},
    {ActionId::acFlip, "action", "Flip the image", "F4", "", true},
    {ActionId::acLog, "action", "Create a log file", "", "", true},
    {ActionId::acFixerAudio, "action", "Set the Audio", "", "", true},
    {ActionId::acFerrovue, "action", "Ferrovue", "F8", "", true},
    {ActionId::acOuvrirDossierVideos, "action", "Open the folder of captured videos", "", "", true},
};

TEST(Shortcuts, CodesGiveTheToolkitKeyNames)
{
    EXPECT_EQ(ShortCutToText(116), "F5");
    EXPECT_EQ(ShortCutToText(32781), "Alt+Enter");
    EXPECT_EQ(ShortCutToText(32776), "Alt+BkSp");
    EXPECT_EQ(ShortCutToText(16430), "Ctrl+Del");
    EXPECT_EQ(ShortCutToText(16416), "Ctrl+Space");
    EXPECT_EQ(ShortCutToText(0x2000 + 0x4000 + 0x8000 + 'K'), "Shift+Ctrl+Alt+K");
    EXPECT_EQ(ShortCutToText(0), "");
    EXPECT_EQ(ShortCutToText(0x4000 + 0xFF), ""); // a key without a name

    EXPECT_EQ(ShortCutToKeys(16450), QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_B)});
    EXPECT_EQ(ShortCutToKeys(32781).size(), 2); // main and keypad Enter
    EXPECT_EQ(ShortCutToKeys(32781).first(), QKeySequence(Qt::ALT | Qt::Key_Return));

    EXPECT_EQ(SecondaryToKey("CTRL+G"), QKeySequence(Qt::CTRL | Qt::Key_G));
    EXPECT_EQ(SecondaryToKey("alt+n"), QKeySequence(Qt::ALT | Qt::Key_N));
    EXPECT_EQ(SecondaryToKey("F11"), QKeySequence(Qt::Key_F11));
    EXPECT_TRUE(SecondaryToKey("HYPER+G").isEmpty());
    EXPECT_TRUE(SecondaryToKey("CTRL+").isEmpty());
}

using ActionsTest = FormTest;

TEST_F(ActionsTest, EveryActionCarriesItsTextsKeysAndFlags)
{
    ASSERT_EQ(std::size(kRows), static_cast<std::size_t>(kActionCount));
    form->ApplyTexts();
    for (const Row& r : kRows) {
        SCOPED_TRACE(ActionInfo(r.id).name);
        QAction* a = act(r.id);
        EXPECT_EQ(a->objectName(), QString::fromLatin1(ActionInfo(r.id).name));
        EXPECT_EQ(a->property(kCategoryProperty).toString(), QString::fromUtf8(r.category));
        EXPECT_EQ(a->text(), QString::fromUtf8(r.caption));
        EXPECT_EQ(ShortCutToText(a->property(kShortcutProperty).toInt()),
                  QString::fromUtf8(r.keys));
        const QStringList secondary = a->property(kSecondaryProperty).toStringList();
        if (*r.secondary) {
            ASSERT_EQ(secondary, QStringList{QString::fromUtf8(r.secondary)});
            // Both the primary and the secondary key are bound.
            EXPECT_TRUE(a->shortcuts().contains(SecondaryToKey(secondary.first())));
            EXPECT_TRUE(a->shortcuts().contains(ShortCutToKeys(ActionInfo(r.id).shortcut).first()));
        } else {
            EXPECT_TRUE(secondary.isEmpty());
        }
        EXPECT_EQ(a->isVisible(), r.visible);
    }
    EXPECT_FALSE(act(ActionId::acIncruster)->isEnabled());
    EXPECT_TRUE(act(ActionId::acReduire)->isCheckable());
    EXPECT_TRUE(act(ActionId::acCapturerBascule)->isCheckable());
    EXPECT_FALSE(act(ActionId::acGrab)->isCheckable());
    EXPECT_EQ(act(ActionId::acMute)->toolTip(),
              "Put sound on or off.\nHas no effect on what is captured.");
}

TEST_F(ActionsTest, HelpListsFollowTheActions)
{
    form->ApplyTexts();
    form->BuildShortcutLists();
    const HelpLists& lists = form->ShortcutLists();
    const QStringList expectedCamera = {
        "Fast backward=Ctrl+Down", "fast forward=Ctrl+Up",    "Pause=Ctrl+Del", "Play=Ctrl+Space",
        "Slow backward=Ctrl+Left", "Slow Forward=Ctrl+Right", "Stop=Ctrl+End",
    };
    EXPECT_EQ(lists.Camcorder, expectedCamera);

    EXPECT_TRUE(lists.Shortcuts.contains("Grab!=F5 (CTRL+G)"));
    EXPECT_TRUE(lists.Shortcuts.contains("Fullscreen=Alt+Enter (F11)"));
    EXPECT_TRUE(lists.Shortcuts.contains("Next panel=F6 (ALT+N)"));
    // No shortcut, hidden or without caption: not listed.
    for (const QString& line : lists.Shortcuts) {
        EXPECT_FALSE(line.startsWith("Stop Prog"));
        EXPECT_FALSE(line.startsWith("Add Audio AUX"));
        EXPECT_FALSE(line.startsWith("="));
    }
    // The other actions come first, sorted, then the panel actions, sorted.
    const int firstPanel = lists.Shortcuts.indexOf("About panel...=Alt+A");
    ASSERT_GT(firstPanel, 0);
    EXPECT_EQ(lists.Shortcuts.at(firstPanel - 1), "Turn sound off=Ctrl+M");
    EXPECT_EQ(lists.Shortcuts.first(), "Bmp=Ctrl+B");
    EXPECT_EQ(lists.Shortcuts.last(), "Sources panel=F2 (ALT+S)");
    EXPECT_EQ(lists.Shortcuts.size(), 25);

    const HelpRow row = SplitHelpLine("Grab!=F5 (CTRL+G)");
    EXPECT_EQ(row.function, "Grab!");
    EXPECT_EQ(row.keys, "F5 (CTRL+G)");

    // An action made invisible drops out of the next lists.
    act(ActionId::acGrab)->setVisible(false);
    EXPECT_FALSE(BuildHelpLists(form->Actions()).Shortcuts.contains("Grab!=F5 (CTRL+G)"));
}

TEST_F(ActionsTest, PrimaryAndSecondaryKeysBothRunTheAction)
{
    QSignalSpy grabs(form.get(), &TCaptureForm::grabRequested);
    ASSERT_TRUE(showActive());
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_EQ(grabs.count(), 1);
    QTest::keyClick(form.get(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(grabs.count(), 2);

    form->ShowPanel(piSources);
    QTest::keyClick(form.get(), Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(form->ActivePanel(), piHelp);
    QTest::keyClick(form.get(), Qt::Key_F2);
    EXPECT_EQ(form->ActivePanel(), piSources);
    QTest::keyClick(form.get(), Qt::Key_O, Qt::AltModifier);
    EXPECT_EQ(form->ActivePanel(), piOptions);
}

TEST_F(ActionsTest, EveryToolButtonAndMenuEntryHasAPicture)
{
    form->ApplyTexts();
    for (QToolBar* bar : {form->tbActions, form->tbPanneaux, form->TbGeneral}) {
        for (QAction* a : bar->actions()) {
            SCOPED_TRACE(a->objectName().toStdString());
            EXPECT_FALSE(a->icon().pixmap(kImageSize, kImageSize).isNull());
            auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->size(), QSize(29, 28));
        }
    }
    for (QAction* a : form->PopupMenu->actions()) {
        if (a->isSeparator()) continue;
        SCOPED_TRACE(a->text().toStdString());
        EXPECT_FALSE(a->icon().pixmap(16, 16).isNull());
    }
    for (QAction* a : form->PanneauSources1->actions())
        EXPECT_FALSE(a->icon().pixmap(16, 16).isNull());
    // The drawings that stand in for a missing desktop theme are all there.
    for (int index : ImageListIndices()) {
        SCOPED_TRACE(index);
        const QImage image(QStringLiteral(":/icons/img%1.png").arg(index, 2, 10, QLatin1Char('0')));
        EXPECT_EQ(image.size(), QSize(kImageSize, kImageSize));
    }
}

TEST_F(ActionsTest, ContextMenuHoldsItsEntriesInOrder)
{
    form->ApplyTexts();
    QStringList names;
    for (QAction* a : form->PopupMenu->actions())
        names << (a->isSeparator() ? QStringLiteral("-")
                  : a->menu()      ? QStringLiteral("menu:") + a->text()
                                   : a->objectName());
    const QStringList expected = {
        "acCapturerBascule",
        "acCouper",
        "acGrab",
        "-",
        "acfullscreen",
        "acReduire",
        "acMute",
        "acIncruster",
        "acVMRKeepratio",
        "acDesentrelacer",
        "acFlip",
        "-",
        "menu:Settings panel",
        "-",
        "acQuitter",
    };
    EXPECT_EQ(names, expected);
    QStringList panels;
    for (QAction* a : form->PanneauSources1->actions())
        panels << a->objectName();
    EXPECT_EQ(panels, (QStringList{"acSourcesFrame", "acDossiersFrame", "acProgrammerFrame",
                                   "acExtraireFrame", "acIncrusterFrame", "acOptionsFrame",
                                   "acHelp", "acApropos"}));
}

} // namespace
} // namespace kad::test
