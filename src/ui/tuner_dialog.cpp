#include "ui/tuner_dialog.h"

#include "system/dialogs.h"
#include "system/log.h"
#include "system/texts.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kad {

TTvTunerDialog::TTvTunerDialog(std::unique_ptr<V4l2Ioctl> port, QWidget* parent)
    : QDialog(parent), port_(std::move(port)), device_(*port_), standards_(device_.Standards())
{
    setObjectName(QStringLiteral("TvTunerDialog"));
    setWindowTitle(Text(TextId::TvTunerCaption));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::NonModal);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    standard_ = new QComboBox(this);
    standard_->setObjectName(QStringLiteral("Standard"));
    for (const V4l2Standard& s : standards_)
        standard_->addItem(QString::fromStdString(s.Name));
    standard_->setEnabled(!standards_.empty());
    connect(standard_, &QComboBox::activated, this, &TTvTunerDialog::ChooseStandard);
    form->addRow(Text(TextId::TunerStandardLabel), standard_);

    auto* line = new QWidget(this);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    frequency_ = new QDoubleSpinBox(line);
    frequency_->setObjectName(QStringLiteral("Frequency"));
    frequency_->setSuffix(Text(TextId::TunerFrequencySuffix));
    // Analog TV tuners step by 62.5 kHz.
    frequency_->setDecimals(4);
    frequency_->setSingleStep(0.0625);
    if (const auto range = device_.FrequencyRangeMHz())
        frequency_->setRange(range->first, range->second);
    auto* tune = new QPushButton(Text(TextId::TuneBtnCaption), line);
    tune->setObjectName(QStringLiteral("Tune"));
    connect(tune, &QPushButton::clicked, this, [this] { Tune(frequency_->value()); });
    row->addWidget(frequency_, 1);
    row->addWidget(tune);
    form->addRow(Text(TextId::TunerFrequencyLabel), line);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    reload();
}

bool TTvTunerDialog::ChooseStandard(int index)
{
    if (index < 0 || index >= static_cast<int>(standards_.size())) return false;
    return said(device_.SetStandard(standards_[static_cast<size_t>(index)].Id));
}

bool TTvTunerDialog::Tune(double mhz)
{
    return said(device_.SetFrequencyMHz(mhz));
}

bool TTvTunerDialog::said(const V4l2Refusal& refusal)
{
    if (refusal) {
        const QString text = QString::fromStdString(*refusal);
        WriteLog(text);
        dialogs().warning(text);
    }
    reload();
    return !refusal;
}

void TTvTunerDialog::reload()
{
    const QSignalBlocker a(standard_), b(frequency_);
    int shown = -1;
    if (const auto now = device_.Standard()) {
        for (size_t i = 0; i < standards_.size(); ++i) {
            // A device may answer a set of standards (all PAL variants): the
            // first entry it covers is shown.
            if (standards_[i].Id == *now) {
                shown = static_cast<int>(i);
                break;
            }
            if (shown < 0 && (standards_[i].Id & *now)) shown = static_cast<int>(i);
        }
    }
    standard_->setCurrentIndex(shown);
    if (const auto mhz = device_.FrequencyMHz()) frequency_->setValue(*mhz);
}

} // namespace kad
