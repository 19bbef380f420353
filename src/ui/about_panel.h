#pragma once

// The About panel (panel 7, Alt+A): the program's title line and text, links
// to the maker's web page and mail, and the button that opens the run's
// clips in the clip viewer.

#include <QString>
#include <QWidget>

#include <functional>

#include "ui/panel_controls_widget.h"

class QLabel;
class QPlainTextEdit;
class QToolButton;

namespace kad {

class TAproposFrame : public QWidget {
    Q_OBJECT
public:
    explicit TAproposFrame(QWidget* parent = nullptr);

    // The panel's texts from the string table; the constructor and the main
    // window's text pass run it.
    Q_INVOKABLE void ApplyTexts();

    // "Kadrillo 3.3c En"
    static QString TitleLine();
    // The paragraphs about the program.
    static QString AboutText();
    // "About  Kadrillo 3.3c En"
    static QString MailSubject();

    // Where the mail body comes from: the system report of the Help panel,
    // read each time the panel shows.
    void setSystemReportSource(std::function<QString()> source);
    // Sets the title, the text and the mail link (with the current system
    // report as its body); runs each time the panel shows.
    void Refresh();

    // Controls, under their long-standing names.
    QLabel* RxLabel1 = nullptr;
    QLabel* Image1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    TLinkLabel* LnkUrlLabel1 = nullptr; // "Homepage of Tavrel"
    TLinkLabel* LnkUrlLabel2 = nullptr; // "e-mail of Tavrel"
    QToolButton* sbFerrovue = nullptr;

signals:
    // sbFerrovue: acFerrovue.
    void ferrovueRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<QString()> reportSource_;
};

} // namespace kad
