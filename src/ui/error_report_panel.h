#pragma once

// The error report panel: at the end of start-up it shows what went wrong,
// offers to mail the report to the maker, and, for a fatal report, ends the
// program when it is closed.
//
// Parent it to the main window itself (not to a child of it): showing the
// report places the panel at the window's top left corner, over everything,
// and shrinks the window to the panel; closing gives the window its size
// back, or closes it (the normal close path) when the report was fatal.

#include <QSize>
#include <QString>
#include <QWidget>

#include "ui/panel_controls_widget.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kad {

class TErreurFrame : public QWidget {
    Q_OBJECT
public:
    explicit TErreurFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it. A report on show keeps its text.
    Q_INVOKABLE void ApplyTexts();

    // The text shown around `report` ("Kadrillo has encountered a fatal
    // error on your system:" ... the closing request).
    static QString ReportText(const QString& report);
    // "Error report of Kadrillo 3.3c"
    static QString MailSubject();
    // "Tavrel is sorry:"
    static QString TitleLine();

    void ShowErrorReport(const QString& report, bool fatal);
    bool ErrorIsFatal() const { return errorIsFatal_; }

    // Controls, under their long-standing names.
    QLabel* ImageTavrel = nullptr;
    QLabel* RxLabel1 = nullptr;
    QLabel* Image2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    TLinkLabel* LnkUrlLabel1 = nullptr; // "Homepage of Tavrel"
    TLinkLabel* LnkUrlLabel2 = nullptr; // "Send an error report by  e-mail"
    QPushButton* FermerErreurBtn = nullptr;

signals:
    // The panel was closed by its button; `fatal` when that closes the
    // program.
    void closed(bool fatal);

private:
    void FermerErreurBtnClick();

    bool errorIsFatal_ = false;
    // A report was shown: the mail link carries it from then on.
    bool errorShown_ = false;
    QSize savedWindowSize_;
    QSize savedMinimum_;
    QSize savedMaximum_;
};

} // namespace kad
