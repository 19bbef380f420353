#pragma once

#include <QString>

namespace kad {

// The user hears of problems only through modal message boxes with fixed
// texts. Everything below the window talks to this interface, so tests can
// answer the questions and read what was said.
enum class DialogAnswer { Yes, No, YesToAll, Ok };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Warning icon, Yes and No buttons.
    virtual DialogAnswer warningYesNo(const QString& text) = 0;
    // Question (confirmation) icon, Yes and No buttons.
    virtual DialogAnswer questionYesNo(const QString& text) = 0;
    // Warning icon, Yes, No and Yes to All: something would be overwritten.
    virtual DialogAnswer warningYesNoAll(const QString& text) = 0;
    // One OK button with the given icon.
    virtual void warning(const QString& text) = 0;
    virtual void error(const QString& text) = 0;
    virtual void information(const QString& text) = 0;
    // A plain message box, no icon.
    virtual void message(const QString& text) = 0;
};

// The installed implementation. Until the window installs its own, questions
// are answered No and messages go to stderr, so headless callers never block.
Dialogs& dialogs();
// Installs `d` (not owned; nullptr restores the headless default).
void setDialogs(Dialogs* d);

} // namespace kad
