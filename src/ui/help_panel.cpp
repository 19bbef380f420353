#include "ui/help_panel.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "system/log.h"
#include "system/texts.h"
#include "ui/panel_controls_widget.h"

namespace kad {

namespace {

QTreeWidget* makeList(QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setColumnCount(2);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    return list;
}

void fillList(QTreeWidget* list, const QStringList& lines)
{
    list->clear();
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        const QString name = eq < 0 ? line : line.left(eq);
        const QString keys = eq < 0 ? QString() : line.mid(eq + 1);
        new QTreeWidgetItem(list, {name, keys});
    }
}

QString presence(bool present, const QString& filter)
{
    return Text(present ? TextId::FilterPresent : TextId::FilterNotFound).arg(filter);
}

ReportLine filterLine(bool present, TextId filter)
{
    return {presence(present, Text(filter)), present ? kReportBlack : kReportRed};
}

} // namespace

std::vector<ReportLine> SystemReportLines(const SystemFacts& facts)
{
    std::vector<ReportLine> lines;
    lines.push_back({Text(TextId::ReportOperatingSystem), kReportBlue, false, true});
    lines.push_back(
        {facts.OperatingSystem + Text(TextId::ReportOperatingSystemEnd), kReportBlack, true});
    lines.push_back({Text(TextId::ReportYouUse), kReportBlue, false, true});
    lines.push_back(
        {Text(TextId::ReportMediaVersion) + facts.MediaVersion + Text(TextId::ReportEnd),
         kReportBlack, true});
    lines.push_back({QString(), kReportBlack, true});
    lines.push_back({Text(TextId::ReportFilters), kReportBlue, true, true, true});
    lines.push_back(filterLine(facts.DeinterlacerPresent, TextId::FilterDeinterlacer));
    lines.push_back(filterLine(facts.LumatexPresent, TextId::FilterLumatex));
    lines.push_back(filterLine(facts.ChronixPresent, TextId::FilterChronix));
    lines.push_back(filterLine(facts.HorodexPresent, TextId::FilterHorodex));
    if (facts.MovieBoxDevicePresent) {
        lines.push_back({Text(TextId::ReportMovieBox), kReportBlack, true, true, true});
        lines.push_back(filterLine(facts.DumpPresent, TextId::FilterDump));
        lines.push_back(filterLine(facts.CirrusSplitterPresent, TextId::FilterCirrusSplitter));
        lines.push_back(filterLine(facts.PinnacleDecoderPresent, TextId::FilterPinnacleDecoder));
        lines.push_back(filterLine(facts.PinnacleDemuxPresent, TextId::FilterPinnacleDemux));
    }
    return lines;
}

THelpFrame::THelpFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("HelpFrame1"));
    resize(kPanelSize);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    PageControl1 = new QTabWidget(this);
    outer->addWidget(PageControl1);

    TabSheet1 = new QWidget(PageControl1);
    auto* shortcuts = new QVBoxLayout(TabSheet1);
    shortcuts->setContentsMargins(2, 2, 2, 2);
    ValueListEditor1 = makeList(TabSheet1);
    shortcuts->addWidget(ValueListEditor1);
    PageControl1->addTab(TabSheet1, QString());

    TabSheet2 = new QWidget(PageControl1);
    auto* camcorder = new QVBoxLayout(TabSheet2);
    camcorder->setContentsMargins(2, 2, 2, 2);
    camcorder->setSpacing(2);
    Label2 = new QLabel(TabSheet2);
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    camcorder->addWidget(Label2);
    Memo1 = new QPlainTextEdit(TabSheet2);
    Memo1->setReadOnly(true);
    Memo1->setFixedHeight(Memo1->fontMetrics().lineSpacing() * 4 + 12);
    camcorder->addWidget(Memo1);
    ValueListEditor3 = makeList(TabSheet2);
    camcorder->addWidget(ValueListEditor3, 1);
    PageControl1->addTab(TabSheet2, QString());

    TabSheet3 = new QWidget(PageControl1);
    auto* system = new QVBoxLayout(TabSheet3);
    system->setContentsMargins(2, 2, 2, 2);
    system->setSpacing(2);
    RichEdit1 = new QTextEdit(TabSheet3);
    RichEdit1->setReadOnly(true);
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(8);
    RichEdit1->document()->setDefaultFont(arial);
    system->addWidget(RichEdit1, 1);
    cbLog = new QCheckBox(TabSheet3);
    system->addWidget(cbLog);
    PageControl1->addTab(TabSheet3, QString());
    ApplyTexts();

    connect(cbLog, &QCheckBox::clicked, this, &THelpFrame::logClicked);
}

void THelpFrame::ApplyTexts()
{
    PageControl1->setTabText(PageControl1->indexOf(TabSheet1), Text(TextId::TabSheet1Caption));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet2), Text(TextId::TabSheet2Caption));
    PageControl1->setTabText(PageControl1->indexOf(TabSheet3), Text(TextId::TabSheet3Caption));
    for (QTreeWidget* list : {ValueListEditor1, ValueListEditor3})
        list->setHeaderLabels({Text(TextId::HelpFunctionColumn), Text(TextId::HelpKeysColumn)});
    Label2->setText(Text(TextId::HelpLabel2Caption));
    Memo1->setPlainText(CamcorderNote());
    cbLog->setText(Text(TextId::cbLogCaption));
    cbLog->setToolTip(Text(TextId::cbLogHint));
}

QString THelpFrame::CamcorderNote()
{
    return Text(TextId::CamcorderNote);
}

void THelpFrame::SetShortcutLines(const QStringList& lines)
{
    fillList(ValueListEditor1, lines);
}

void THelpFrame::SetCamcorderLines(const QStringList& lines)
{
    fillList(ValueListEditor3, lines);
}

void THelpFrame::SetShortcutLists(const QStringList& shortcuts, const QStringList& camcorder)
{
    SetShortcutLines(shortcuts);
    SetCamcorderLines(camcorder);
}

QStringList THelpFrame::Lines(const QTreeWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        lines << item->text(0) + u'=' + item->text(1);
    }
    return lines;
}

void THelpFrame::WriteSystemReport(const SystemFacts& facts)
{
    RichEdit1->clear();
    QTextCursor cursor(RichEdit1->document());
    bool first = true;
    for (const ReportLine& line : SystemReportLines(facts)) {
        QTextCharFormat format;
        format.setForeground(line.Colour);
        format.setFontWeight(line.Bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(line.Italic);
        format.setFontUnderline(line.Underline);
        if (!first) cursor.insertBlock();
        first = false;
        cursor.setBlockCharFormat(format);
        cursor.insertText(line.Text, format);
        WriteLog(line.Text);
    }
}

QString THelpFrame::SystemReportText() const
{
    return RichEdit1->toPlainText();
}

void THelpFrame::showEvent(QShowEvent* event)
{
    Memo1->setPlainText(CamcorderNote());
    QWidget::showEvent(event);
}

} // namespace kad
