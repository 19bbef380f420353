#include "ui/device_controls_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "system/texts.h"

namespace kad {

TDeviceControlsDialog::TDeviceControlsDialog(std::unique_ptr<DeviceControls> controls,
                                             QWidget* parent)
    : QDialog(parent), controls_(std::move(controls))
{
    setObjectName(QStringLiteral("DeviceControlsDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::NonModal);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    for (const V4l2Control& control : controls_->Controls()) {
        const QString name = QString::fromStdString(control.Name);
        const int value = controls_->Value(control.Id).value_or(control.Default);
        QWidget* row = nullptr;
        switch (control.Kind) {
        case V4l2ControlKind::Integer: {
            auto* box = new QWidget(this);
            auto* line = new QHBoxLayout(box);
            line->setContentsMargins(0, 0, 0, 0);
            auto* slider = new QSlider(Qt::Horizontal, box);
            auto* spin = new QSpinBox(box);
            slider->setRange(control.Minimum, control.Maximum);
            slider->setSingleStep(control.Step);
            spin->setRange(control.Minimum, control.Maximum);
            spin->setSingleStep(control.Step);
            slider->setValue(value);
            spin->setValue(value);
            slider->setObjectName(name);
            line->addWidget(slider, 1);
            line->addWidget(spin);
            connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
            connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
            connect(slider, &QSlider::valueChanged, this,
                    [this, control](int v) { apply(control, v); });
            reloaders_.push_back([this, control, slider, spin] {
                const int now = controls_->Value(control.Id).value_or(control.Default);
                const QSignalBlocker a(slider), b(spin);
                slider->setValue(now);
                spin->setValue(now);
            });
            row = box;
            break;
        }
        case V4l2ControlKind::Boolean: {
            auto* check = new QCheckBox(this);
            check->setObjectName(name);
            check->setChecked(value != 0);
            connect(check, &QCheckBox::toggled, this,
                    [this, control](bool on) { apply(control, on ? 1 : 0); });
            reloaders_.push_back([this, control, check] {
                const QSignalBlocker block(check);
                check->setChecked(controls_->Value(control.Id).value_or(control.Default) != 0);
            });
            row = check;
            break;
        }
        case V4l2ControlKind::Menu: {
            auto* combo = new QComboBox(this);
            combo->setObjectName(name);
            for (const V4l2MenuItem& item : control.Items)
                combo->addItem(QString::fromStdString(item.Name), item.Index);
            combo->setCurrentIndex(combo->findData(value));
            connect(combo, &QComboBox::activated, this, [this, control, combo](int index) {
                apply(control, combo->itemData(index).toInt());
            });
            reloaders_.push_back([this, control, combo] {
                const QSignalBlocker block(combo);
                combo->setCurrentIndex(
                    combo->findData(controls_->Value(control.Id).value_or(control.Default)));
            });
            row = combo;
            break;
        }
        case V4l2ControlKind::Button: {
            auto* button = new QPushButton(name, this);
            button->setObjectName(name);
            connect(button, &QPushButton::clicked, this, [this, control] { apply(control, 1); });
            row = button;
            break;
        }
        }
        row->setEnabled(!control.ReadOnly);
        if (control.Inactive) row->setToolTip(Text(TextId::ControlInactiveHint));
        form->addRow(name, row);
    }

    refusal_ = new QLabel(this);
    refusal_->setObjectName(QStringLiteral("Refusal"));
    refusal_->setWordWrap(true);
    refusal_->hide();
    layout->addWidget(refusal_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* reset =
        buttons->addButton(Text(TextId::ResetControlsCaption), QDialogButtonBox::ResetRole);
    reset->setObjectName(QStringLiteral("ResetToDefaults"));
    connect(reset, &QPushButton::clicked, this, &TDeviceControlsDialog::ResetToDefaults);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void TDeviceControlsDialog::ResetToDefaults()
{
    showRefusal(controls_->ResetToDefaults());
    reload();
}

QString TDeviceControlsDialog::Refusal() const
{
    return refusal_->text();
}

void TDeviceControlsDialog::apply(const V4l2Control& control, int value)
{
    const V4l2Refusal refusal = controls_->SetValue(control, value);
    showRefusal(refusal);
    // A refused change puts the row back to what the device kept.
    if (refusal) reload();
}

void TDeviceControlsDialog::showRefusal(const V4l2Refusal& refusal)
{
    refusal_->setText(refusal ? QString::fromStdString(*refusal) : QString());
    refusal_->setVisible(refusal.has_value());
}

void TDeviceControlsDialog::reload()
{
    for (const auto& reloader : reloaders_)
        reloader();
}

} // namespace kad
