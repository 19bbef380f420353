#include "ui/status_bar.h"

#include <QLabel>
#include <QMouseEvent>

namespace kad {

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < kPanelCount; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setAlignment(Qt::AlignCenter);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setGeometry(i * kPanelWidth, 0, kPanelWidth, 19);
        label->setTextFormat(Qt::PlainText);
        panels_[static_cast<std::size_t>(i)] = label;
    }
    setFixedSize(kPanelCount * kPanelWidth, 19);
}

QString TStatusBar::PanelText(int index) const
{
    if (index < 0 || index >= kPanelCount) return {};
    return panels_[static_cast<std::size_t>(index)]->text();
}

void TStatusBar::SetPanelText(int index, const QString& text)
{
    if (index < 0 || index >= kPanelCount) return;
    panels_[static_cast<std::size_t>(index)]->setText(text);
}

void TStatusBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace kad
