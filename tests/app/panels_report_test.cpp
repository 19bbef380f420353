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

#include <utility>
#include <vector>

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

// The report gives the system as found, then one line per filter: black
// when present, red when not found; the MovieBox's block only with the
// device.
TEST(SystemReport, LinesColoursAndStylesWithAndWithoutTheMovieBox)
{
    for (const bool box : {false, true}) {
        SCOPED_TRACE(box ? "with the MovieBox" : "without the MovieBox");
        const auto lines = SystemReportLines(facts(box));
        ASSERT_EQ(lines.size(), box ? 15u : 10u);
        EXPECT_EQ(lines[0].Colour, kReportBlue);
        EXPECT_TRUE(lines[0].Italic && !lines[0].Bold);
        EXPECT_TRUE(lines[1].Text.startsWith(facts(box).OperatingSystem));
        EXPECT_TRUE(lines[1].Bold);
        EXPECT_TRUE(lines[3].Text.contains(QStringLiteral("1.22")));
        // The headings of the filters and of the MovieBox's block.
        for (std::size_t heading :
             box ? std::vector<std::size_t>{5, 10} : std::vector<std::size_t>{5}) {
            EXPECT_TRUE(lines[heading].Bold && lines[heading].Italic && lines[heading].Underline);
            EXPECT_EQ(lines[heading].Colour, heading == 5 ? kReportBlue : kReportBlack);
        }
        // Deinterlacer, Lumatex, Chronix, Horodex, then Dump, Cirrus,
        // Pinnacle decoder and demultiplexer.
        const std::vector<std::pair<std::size_t, bool>> filters = {
            {6, true},  {7, box},    {8, true},  {9, box},
            {11, true}, {12, false}, {13, true}, {14, true}};
        for (const auto& [line, present] : filters) {
            if (line >= lines.size()) continue;
            SCOPED_TRACE(lines[line].Text.toStdString());
            EXPECT_EQ(lines[line].Colour, present ? kReportBlack : kReportRed);
            EXPECT_EQ(lines[line].Text.contains(QStringLiteral("not found")), !present);
            EXPECT_FALSE(lines[line].Bold || lines[line].Italic || lines[line].Underline);
        }
    }
}

TEST(SystemReport, HelpPanelShowsTheReportInColourAndReplacesIt)
{
    THelpFrame h;
    h.WriteSystemReport(facts(true));
    h.WriteSystemReport(facts(false));
    const QStringList text = h.SystemReportText().split('\n');
    ASSERT_EQ(text.size(), 10) << "a second report replaces the first";
    EXPECT_EQ(text[7], SystemReportLines(facts(false))[7].Text);

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
    EXPECT_FALSE(decoded(q, "subject").isEmpty());
    EXPECT_EQ(decoded(q, "body"), h.SystemReportText());

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
    EXPECT_TRUE(panel->Memo1->toPlainText().contains("Impossible to load the Video sources"));

    const QUrlQuery q(panel->LnkUrlLabel2->url());
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
