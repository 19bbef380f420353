#pragma once

// The window's implementation of kad::Dialogs: modal QMessageBoxes with the
// program's fixed texts, owned by (and centred on) the main window.

#include "system/dialogs.h"

class QWidget;

namespace kad {

class TMessageDialogs final : public Dialogs {
public:
    explicit TMessageDialogs(QWidget* owner) : owner_(owner) {}

    DialogAnswer warningYesNo(const QString& text) override;
    DialogAnswer questionYesNo(const QString& text) override;
    DialogAnswer warningYesNoAll(const QString& text) override;
    void warning(const QString& text) override;
    void error(const QString& text) override;
    void information(const QString& text) override;
    void message(const QString& text) override;

private:
    QWidget* owner_;
};

} // namespace kad
