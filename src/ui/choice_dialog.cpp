#include "ui/choice_dialog.h"

#include "system/dialogs.h"
#include "system/log.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kad {

TChoiceDialog::TChoiceDialog(const QString& title, const QStringList& items, Current current,
                             Apply apply, QWidget* parent)
    : QDialog(parent), items_(items), current_(std::move(current)), apply_(std::move(apply))
{
    setObjectName(QStringLiteral("ChoiceDialog"));
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::NonModal);
    auto* layout = new QVBoxLayout(this);
    // A camera can offer dozens of formats: the list scrolls.
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* list = new QWidget(scroll);
    auto* rows = new QVBoxLayout(list);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (int i = 0; i < items_.size(); ++i) {
        auto* radio = new QRadioButton(items_[i], list);
        radio->setObjectName(items_[i]);
        group_->addButton(radio, i);
        rows->addWidget(radio);
    }
    rows->addStretch(1);
    scroll->setWidget(list);
    layout->addWidget(scroll);
    connect(group_, &QButtonGroup::idClicked, this, [this](int index) { Choose(index); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    showCurrent();
}

bool TChoiceDialog::Choose(int index)
{
    if (index < 0 || index >= items_.size()) return false;
    const QString refusal = apply_ ? apply_(index) : QString();
    if (!refusal.isEmpty()) {
        WriteLog(refusal);
        dialogs().warning(refusal);
    }
    showCurrent();
    return refusal.isEmpty();
}

std::optional<int> TChoiceDialog::Checked() const
{
    const int id = group_->checkedId();
    if (id < 0) return std::nullopt;
    return id;
}

void TChoiceDialog::showCurrent()
{
    const std::optional<int> now = current_ ? current_() : std::nullopt;
    // An exclusive group keeps one button checked: it must let go of all
    // when the device cannot tell which is in force.
    group_->setExclusive(false);
    for (QAbstractButton* button : group_->buttons()) {
        const QSignalBlocker block(button);
        button->setChecked(now && group_->id(button) == *now);
    }
    group_->setExclusive(true);
}

} // namespace kad
