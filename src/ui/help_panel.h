#pragma once

// The Help panel (panel 6, F1): the keyboard shortcuts, the camcorder keys
// with their note, and the system report with the log switch.

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTextEdit;
class QTreeWidget;

namespace kad {

// What start-up found on the machine, for the system report.
struct SystemFacts {
    QString OperatingSystem; // OperatingSystemName()
    QString MediaVersion;    // the media platform's version text
    bool DeinterlacerPresent = false;
    bool LumatexPresent = false;
    bool ChronixPresent = false;
    bool HorodexPresent = false;
    // The MovieBox block (and its four lines) is reported only with the
    // device present.
    bool MovieBoxDevicePresent = false;
    bool DumpPresent = false;
    bool CirrusSplitterPresent = false;
    bool PinnacleDecoderPresent = false;
    bool PinnacleDemuxPresent = false;
};

// One line of the report with its look.
struct ReportLine {
    QString Text;
    QColor Colour;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
};

// The report's colours: blue for headings, black for facts, red for what is
// missing.
inline const QColor kReportBlue{0, 0, 255};
inline const QColor kReportBlack{0, 0, 0};
inline const QColor kReportRed{255, 0, 0};

// The lines of the system report, in order.
std::vector<ReportLine> SystemReportLines(const SystemFacts& facts);

class THelpFrame : public QWidget {
    Q_OBJECT
public:
    explicit THelpFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it. The lists and the report keep their lines.
    Q_INVOKABLE void ApplyTexts();

    // The "Keyboard shortcuts" and "Camcorder" lists; each line reads
    // caption + "=" + keys and shows as two columns.
    void SetShortcutLines(const QStringList& lines);
    void SetCamcorderLines(const QStringList& lines);
    // Both lists at once (the window calls it by name after the text pass).
    Q_INVOKABLE void SetShortcutLists(const QStringList& shortcuts, const QStringList& camcorder);
    // The rows of a list as "first column=second column".
    static QStringList Lines(const QTreeWidget* list);

    // Clears the system text and writes the report into it, each line in its
    // colour and style, and each line to the log.
    void WriteSystemReport(const SystemFacts& facts);
    // The report as plain text, one line per line.
    QString SystemReportText() const;

    // The note of the camcorder tab (set each time the panel shows).
    static QString CamcorderNote();

    // Controls, under their long-standing names.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr; // "Keyboard shortcuts"
    QTreeWidget* ValueListEditor1 = nullptr;
    QWidget* TabSheet2 = nullptr; // "Camcorder"
    QLabel* Label2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QTreeWidget* ValueListEditor3 = nullptr;
    QWidget* TabSheet3 = nullptr; // "System"
    QTextEdit* RichEdit1 = nullptr;
    QCheckBox* cbLog = nullptr;

signals:
    // cbLog clicked: acLog (the log file on or off).
    void logClicked(bool checked);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace kad
