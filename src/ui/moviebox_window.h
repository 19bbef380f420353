#pragma once

// The MovieBox start-up window: the instructions for waking the MovieBox
// USB (model B) shown while it is being primed. Hidden except during that
// step, when the priming dialog is open over it.

#include <QDialog>
#include <QPointer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QTextEdit;

namespace kad {

class TamorcerForm : public QWidget {
    Q_OBJECT
public:
    explicit TamorcerForm(QWidget* parent = nullptr);

    // The window's texts from the string table, the instructions and the
    // open priming dialog's caption included; the constructor runs it and the
    // text pass runs it again after the table changed.
    Q_INVOKABLE void ApplyTexts();

    // Rewrites the instructions into `re`.
    void WriteInstructions();

    // Opens the priming dialog, modal to this window only, naming the
    // source, and returns at once; PrimingClosed() follows its closing.
    // While one is open a second call only raises it.
    void OpenPrimingDialog(const QString& sourceName);
    // The open priming dialog, or null.
    QDialog* PrimingDialog() const { return dialog_.data(); }

signals:
    void PrimingClosed();

public:
    QTextEdit* re = nullptr;
    QLabel* Image1 = nullptr;
    // Hidden; the owner of the priming dialog.
    QPlainTextEdit* Memo2 = nullptr;

private:
    QPointer<QDialog> dialog_;
};

} // namespace kad
