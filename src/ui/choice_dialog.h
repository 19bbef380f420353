#pragma once

// A settings page offering one choice out of a list: a video input, a sound
// mode, a capture format. A pick is applied at once; a refusal is said and
// the choice still in force stays checked.

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class QButtonGroup;

namespace kad {

class TChoiceDialog : public QDialog {
    Q_OBJECT
public:
    // Applies choice index; an empty text when it was taken, else why not.
    using Apply = std::function<QString(int index)>;
    // The choice in force now, nullopt when the device cannot tell.
    using Current = std::function<std::optional<int>()>;

    TChoiceDialog(const QString& title, const QStringList& items, Current current, Apply apply,
                  QWidget* parent);

    // Picks item index as a click on it does; false when it was refused.
    bool Choose(int index);
    std::optional<int> Checked() const;
    QStringList Items() const { return items_; }

private:
    void showCurrent();

    QStringList items_;
    Current current_;
    Apply apply_;
    QButtonGroup* group_ = nullptr;
};

} // namespace kad
