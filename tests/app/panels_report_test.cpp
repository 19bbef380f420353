// The system report of the Help panel, the shortcut lists, the About
// panel's mail and the error report panel.

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include "ui/about_panel.h"
#include "ui/error_report_panel.h"
#include "ui/help_panel.h"

using namespace kad;

namespace {

SystemFacts facts(bool everything)
{
    SystemFacts f;
    f.OperatingSystem = "Debian GNU/Linux 12 (bookworm) - kernel 6.1.0";
    f.MediaVersion = "1.22";
    f.DeinterlacerPresent = true;
    f.LumatexPresent = everything;
    f.ChronixPresent = true;
    f.HorodexPresent = everything;
    f.MovieBoxDevicePresent = everything;
    f.DumpPresent = true;
    f.CirrusSplitterPresent = false;
    f.PinnacleDecoderPresent = true;
    f.PinnacleDemuxPresent = true;
    return f;
}

QString decoded(const QUrlQuery& q, const char* key)
{
    return q.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

} // namespace

TEST(SystemReport, LinesColoursAndStylesWithoutTheMovieBox)
{
    const auto lines = SystemReportLines(facts(false));
    ASSERT_EQ(lines.size(), 10u) << "no MovieBox block without the device";
    EXPECT_EQ(lines[0].Text, "Your operating system is: ");
    EXPECT_EQ(lines[0].Colour, kReportBlue);
    EXPECT_TRUE(lines[0].Italic);
    EXPECT_FALSE(lines[0].Bold);
    EXPECT_EQ(lines[1].Text, "Debian GNU/Linux 12 (bookworm) - kernel 6.1.0. ");
    EXPECT_TRUE(lines[1].Bold);
    EXPECT_EQ(lines[1].Colour, kReportBlack);
    EXPECT_EQ(lines[2].Text, "You use:");
    EXPECT_EQ(lines[3].Text, "GStreamer version 1.22.");
    EXPECT_EQ(lines[4].Text, "");
    EXPECT_EQ(lines[5].Text, "Filters:");
    EXPECT_TRUE(lines[5].Bold && lines[5].Italic && lines[5].Underline);
    EXPECT_EQ(lines[5].Colour, kReportBlue);
    EXPECT_EQ(lines[6].Text, "The filter Pinnacle Video Deinterlacer is present.");
    EXPECT_EQ(lines[6].Colour, kReportBlack);
    EXPECT_FALSE(lines[6].Bold || lines[6].Italic || lines[6].Underline);
    EXPECT_EQ(lines[7].Text, "The filter Tavrel Lumatex3 is not found.");
    EXPECT_EQ(lines[7].Colour, kReportRed);
    EXPECT_EQ(lines[8].Text, "The filter Tavrel Chronix2 is present.");
    EXPECT_EQ(lines[9].Text, "The filter Tavrel Horodex is not found.");
    EXPECT_EQ(lines[9].Colour, kReportRed);
}

TEST(SystemReport, MovieBoxBlockWhenTheDeviceIsPresent)
{
    const auto lines = SystemReportLines(facts(true));
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[10].Text, "MovieBox:");
    EXPECT_EQ(lines[10].Colour, kReportBlack);
    EXPECT_TRUE(lines[10].Bold && lines[10].Italic && lines[10].Underline);
    EXPECT_EQ(lines[11].Text, "The filter Dump is present.");
    EXPECT_EQ(lines[12].Text, "The filter Cirrus Splitter is not found.");
    EXPECT_EQ(lines[12].Colour, kReportRed);
    EXPECT_EQ(lines[13].Text, "The filter Pinnacle MPEG2 Decoder is present.");
    EXPECT_EQ(lines[14].Text,
              "The filter Pinnacle MPEG2 Demux II (MovieBox USB version) is present.");
}

TEST(SystemReport, HelpPanelShowsTheReportInColourAndReplacesIt)
{
    THelpFrame h;
    h.WriteSystemReport(facts(true));
    h.WriteSystemReport(facts(false));
    const QStringList text = h.SystemReportText().split('\n');
    ASSERT_EQ(text.size(), 10) << "a second report replaces the first";
    EXPECT_EQ(text[7], "The filter Tavrel Lumatex3 is not found.");

    QTextBlock block = h.RichEdit1->document()->begin();
    for (int i = 0; i < 7; ++i)
        block = block.next();
    ASSERT_TRUE(block.isValid());
    const QTextCharFormat missing = block.begin().fragment().charFormat();
    EXPECT_EQ(missing.foreground().color(), QColor(255, 0, 0));
    const QTextCharFormat heading =
        h.RichEdit1->document()->begin().begin().fragment().charFormat();
    EXPECT_EQ(heading.foreground().color(), QColor(0, 0, 255));
    EXPECT_TRUE(heading.fontItalic());
    EXPECT_TRUE(h.RichEdit1->isReadOnly());

    QSignalSpy log(&h, &THelpFrame::logClicked);
    h.cbLog->click();
    ASSERT_EQ(log.count(), 1);
    EXPECT_TRUE(log.at(0).at(0).toBool());
}

TEST(SystemReport, ShortcutListsShowTwoColumns)
{
    THelpFrame h;
    h.SetShortcutLines({"Grab!=F5 (CTRL+G)", "Cut=F7 (CTRL+X)", "Help panel=F1 (ALT+H)"});
    h.SetCamcorderLines({"Pause=Ctrl+Del", "Play=Ctrl+Space"});
    ASSERT_EQ(h.ValueListEditor1->topLevelItemCount(), 3);
    EXPECT_EQ(h.ValueListEditor1->topLevelItem(0)->text(0), "Grab!");
    EXPECT_EQ(h.ValueListEditor1->topLevelItem(0)->text(1), "F5 (CTRL+G)");
    EXPECT_EQ(THelpFrame::Lines(h.ValueListEditor3),
              QStringList({"Pause=Ctrl+Del", "Play=Ctrl+Space"}));
    // The window fills both by name after its text pass.
    ASSERT_TRUE(QMetaObject::invokeMethod(&h, "SetShortcutLists",
                                          Q_ARG(QStringList, {"Quit=Alt+F4 (CTRL+Q)"}),
                                          Q_ARG(QStringList, {"Stop=Ctrl+End"})));
    EXPECT_EQ(THelpFrame::Lines(h.ValueListEditor1), QStringList({"Quit=Alt+F4 (CTRL+Q)"}))
        << "lists are replaced";
    EXPECT_EQ(THelpFrame::Lines(h.ValueListEditor3), QStringList({"Stop=Ctrl+End"}));
}

TEST(AboutPanel, MailCarriesTheSystemReport)
{
    THelpFrame h;
    h.WriteSystemReport(facts(false));
    TAproposFrame a;
    a.setSystemReportSource([&h] { return h.SystemReportText(); });
    a.show();
    const QUrl mail = a.LnkUrlLabel2->url();
    EXPECT_EQ(mail.scheme(), "mailto");
    const QUrlQuery q(mail);
    EXPECT_EQ(decoded(q, "subject"), "About  Kadrillo 3.3c En");
    EXPECT_EQ(decoded(q, "body"), h.SystemReportText());
    EXPECT_TRUE(decoded(q, "body").contains("The filter Tavrel Horodex is not found."));

    QList<QUrl> opened;
    SetUrlOpener([&opened](const QUrl& url) { opened << url; });
    emit a.LnkUrlLabel1->clicked();
    SetUrlOpener({});
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], MakerHomePage());
}

TEST(ErrorReport, TextsMailAndFatalCloseThroughTheWindow)
{
    QWidget window;
    window.setFixedSize(700, 459);
    auto* panel = new TErreurFrame(&window);
    window.show();
    bool closedWindow = false;
    struct CloseWatcher : QObject {
        bool* flag;
        explicit CloseWatcher(bool* f) : flag(f) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Close) *flag = true;
            return false;
        }
    } watcher(&closedWindow);
    window.installEventFilter(&watcher);

    const QString report = "\r\nImpossible to load the Video sources \r\nGStreamer 1.22 is "
                           "installed. The operating system is Debian & co + more.\r\n";
    panel->ShowErrorReport(report, true);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->pos(), QPoint(0, 0));
    EXPECT_EQ(window.size(), panel->size()) << "the window shrinks to the panel";
    EXPECT_EQ(panel->RxLabel1->text(), "Tavrel is sorry:");
    const QString memo = panel->Memo1->toPlainText();
    EXPECT_TRUE(memo.startsWith("Kadrillo has encountered a fatal error on your system:\n\n"));
    EXPECT_TRUE(memo.contains("Impossible to load the Video sources"));
    EXPECT_TRUE(memo.endsWith("To get help about Kadrillo, informations, or updates, please visit "
                              "my web site."));
    EXPECT_TRUE(memo.contains("You should send me an e-mail about this problem, and indicate "
                              "please which program you are using, under which operating system , "
                              "what kind of video steam is currently working , its codec...\n"));

    const QUrlQuery q(panel->LnkUrlLabel2->url());
    EXPECT_EQ(decoded(q, "subject"), "Error report of Kadrillo 3.3c");
    EXPECT_EQ(decoded(q, "body"), report) << "the report goes unchanged into the mail";

    QSignalSpy closed(panel, &TErreurFrame::closed);
    panel->FermerErreurBtn->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(closedWindow) << "a fatal report closes the window through its close path";
    ASSERT_EQ(closed.count(), 1);
    EXPECT_TRUE(closed.at(0).at(0).toBool());
}

TEST(ErrorReport, NonFatalCloseGivesTheWindowItsSizeBack)
{
    QWidget window;
    window.setFixedSize(700, 459);
    auto* panel = new TErreurFrame(&window);
    window.show();
    panel->ShowErrorReport("Something", false);
    EXPECT_NE(window.size(), QSize(700, 459));
    panel->FermerErreurBtn->click();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(700, 459));
    EXPECT_EQ(window.minimumSize(), QSize(700, 459));
    EXPECT_EQ(window.maximumSize(), QSize(700, 459));
}
