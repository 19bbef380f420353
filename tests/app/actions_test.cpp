#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

#include "form_fixture.h"
#include "ui/action_table.h"
#include "ui/app_icons.h"
#include "ui/shortcuts.h"

namespace kad::test {
namespace {

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

// Every action takes its row's texts and shows as its row says; its
// primary and secondary keys are bound, and no key runs two actions (Qt
// would run neither).
TEST_F(ActionsTest, EveryActionCarriesItsTextsKeysAndFlags)
{
    form->ApplyTexts();
    QHash<QKeySequence, QString> owners;
    for (const ActionRow& row : ActionTable()) {
        SCOPED_TRACE(row.name);
        QAction* a = act(row.id);
        EXPECT_EQ(a->objectName(), QString::fromLatin1(row.name));
        EXPECT_EQ(a->property(kCategoryProperty).toString(), Text(row.category));
        EXPECT_EQ(a->text(), row.caption == kNoText ? QString() : Text(row.caption));
        EXPECT_EQ(a->isVisible(), row.visible);
        QList<QKeySequence> keys;
        if (row.shortcut) keys << ShortCutToKeys(row.shortcut).first();
        if (row.secondary[0] != kNoText) keys << SecondaryToKey(Text(row.secondary[0]));
        for (const QKeySequence& key : keys) {
            ASSERT_FALSE(key.isEmpty());
            EXPECT_TRUE(a->shortcuts().contains(key)) << key.toString().toStdString();
            if (!row.visible) continue;
            const QString other = owners.value(key);
            EXPECT_TRUE(other.isEmpty())
                << key.toString().toStdString() << " also runs " << other.toStdString();
            owners.insert(key, QString::fromLatin1(row.name));
        }
    }
    EXPECT_GE(owners.size(), 30);
    EXPECT_FALSE(act(ActionId::acIncruster)->isEnabled());
    EXPECT_TRUE(act(ActionId::acCapturerBascule)->isCheckable());
    EXPECT_FALSE(act(ActionId::acGrab)->isCheckable());
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

    // An action made invisible drops out of the next lists.
    act(ActionId::acGrab)->setVisible(false);
    EXPECT_FALSE(BuildHelpLists(form->Actions()).Shortcuts.contains("Grab!=F5 (CTRL+G)"));
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

TEST_F(ActionsTest, ContextMenuOffersEveryPanel)
{
    form->ApplyTexts();
    QStringList panels;
    for (QAction* a : form->PanneauSources1->actions())
        panels << a->objectName();
    EXPECT_EQ(panels.size(), kPanelCount);
    panels.removeDuplicates();
    EXPECT_EQ(panels.size(), kPanelCount);
    const auto entries = form->PopupMenu->actions();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [this](QAction* a) { return a->menu() == form->PanneauSources1; }));
}

} // namespace
} // namespace kad::test
