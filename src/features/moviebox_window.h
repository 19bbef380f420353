#pragma once

// The MovieBox start-up window: the instructions for waking the MovieBox
// USB (model B) shown while it is being primed. Hidden except during that
// step.

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QTextEdit;

namespace kad {

class TamorcerForm : public QWidget {
    Q_OBJECT
public:
    explicit TamorcerForm(QWidget* parent = nullptr);

    // Rewrites the instructions into `re`.
    void WriteInstructions();

    QTextEdit* re = nullptr;
    QLabel* Image1 = nullptr;
    // Hidden; the owner of the priming dialog.
    QPlainTextEdit* Memo2 = nullptr;
};

} // namespace kad
