#include "ui/grab_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

#include "session/stills.h"
#include "system/texts.h"

namespace kad {

TExtraireFrame::TExtraireFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ExtraireFrame1"));
    resize(kPanelSize);

    // The thumbnail box has fixed coordinates in the panel, so the group
    // fills the panel and its children are placed by hand.
    GroupBox2 = new QGroupBox(this);

    Bevel3 = new QFrame(GroupBox2);
    Bevel3->setFrameShape(QFrame::Box);
    Bevel3->setFrameShadow(QFrame::Sunken);
    Bevel3->setGeometry(ThumbnailRect(4, 3));
    Image = new QLabel(GroupBox2);
    Image->setScaledContents(true);
    Image->setGeometry(ThumbnailRect(4, 3));

    gbIntervallo = new QGroupBox(GroupBox2);
    auto* interval = new QVBoxLayout(gbIntervallo);
    interval->setContentsMargins(4, 2, 4, 2);
    interval->setSpacing(2);
    auto* periodRow = new QHBoxLayout;
    RxSwitch1 = new QPushButton(gbIntervallo);
    RxSwitch1->setCheckable(true);
    RxSpinEdit7 = new QSpinBox(gbIntervallo);
    RxSpinEdit7->setRange(0, 999999);
    RxSpinEdit7->setValue(10);
    cbUnites = new QComboBox(gbIntervallo);
    cbUnites->addItems(QStringList(4, QString()));
    cbUnites->setCurrentIndex(0);
    periodRow->addWidget(RxSwitch1);
    periodRow->addWidget(RxSpinEdit7, 1);
    periodRow->addWidget(cbUnites, 1);
    interval->addLayout(periodRow);
    auto* countRow = new QHBoxLayout;
    cbBeeps = new QCheckBox(gbIntervallo);
    chronoLab = new QLabel(gbIntervallo);
    QFont chrono(QStringLiteral("Arial"));
    chrono.setPointSize(14);
    chrono.setBold(true);
    chronoLab->setFont(chrono);
    QPalette red = chronoLab->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    chronoLab->setPalette(red);
    chronoLab->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    chronoLab->hide();
    countRow->addWidget(cbBeeps);
    countRow->addWidget(chronoLab, 1);
    interval->addLayout(countRow);

    GroupBox1 = new QGroupBox(GroupBox2);
    auto* next = new QVBoxLayout(GroupBox1);
    next->setContentsMargins(4, 2, 4, 2);
    destlabel = new TClickLabel(QString(), GroupBox1);
    next->addWidget(destlabel);

    // The window's state routines reach the controls by these names.
    const std::pair<QWidget*, const char*> named[] = {
        {GroupBox2, "GroupBox2"},       {Image, "Image"},         {Bevel3, "Bevel3"},
        {gbIntervallo, "gbIntervallo"}, {RxSwitch1, "RxSwitch1"}, {RxSpinEdit7, "RxSpinEdit7"},
        {cbUnites, "cbUnites"},         {cbBeeps, "cbBeeps"},     {chronoLab, "chronoLab"},
        {GroupBox1, "GroupBox1"},       {destlabel, "destlabel"},
    };
    for (const auto& [widget, name] : named)
        widget->setObjectName(QString::fromLatin1(name));

    ApplyTexts();

    connect(RxSwitch1, &QPushButton::toggled, this, [this](bool on) {
        RxSwitch1->setText(Text(on ? TextId::RxSwitch1On : TextId::RxSwitch1Off));
    });
    connect(RxSwitch1, &QPushButton::clicked, this, &TExtraireFrame::intervalometerSwitched);
    connect(destlabel, &TClickLabel::clicked, this, &TExtraireFrame::foldersPanelRequested);
}

void TExtraireFrame::ApplyTexts()
{
    GroupBox2->setTitle(Text(TextId::GrabGroupCaption));
    Bevel3->setToolTip(Text(TextId::Bevel3Hint));
    Image->setToolTip(Text(TextId::GrabImageHint));
    gbIntervallo->setTitle(Text(TextId::gbIntervalloCaption));
    gbIntervallo->setToolTip(Text(TextId::gbIntervalloHint));
    RxSwitch1->setText(Text(RxSwitch1->isChecked() ? TextId::RxSwitch1On : TextId::RxSwitch1Off));
    RxSwitch1->setToolTip(Text(TextId::RxSwitch1Hint));
    RxSpinEdit7->setToolTip(Text(TextId::RxSpinEdit7Hint));
    const TextId units[] = {TextId::cbUnitesSeconds, TextId::cbUnitesFrames,
                            TextId::cbUnitesMinutes, TextId::cbUnitesHours};
    for (int i = 0; i < static_cast<int>(std::size(units)); ++i)
        cbUnites->setItemText(i, Text(units[i]));
    cbUnites->setToolTip(Text(TextId::cbUnitesHint));
    cbBeeps->setText(Text(TextId::cbBeepsCaption));
    cbBeeps->setToolTip(Text(TextId::cbBeepsHint));
    chronoLab->setToolTip(Text(TextId::chronoLabHint));
    GroupBox1->setTitle(Text(TextId::NextImageGroupCaption));
    destlabel->setToolTip(Text(TextId::destlabelHint));
}

void TExtraireFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    GroupBox2->setGeometry(rect());
    gbIntervallo->setGeometry(6, 170, width() - 12, 92);
    GroupBox1->setGeometry(6, 266, width() - 12, 48);
}

void TExtraireFrame::ShowThumbnail(const QImage& stored)
{
    if (stored.isNull()) return;
    const QRect bounds = ThumbnailRect(stored.width(), stored.height());
    Image->setGeometry(bounds);
    Bevel3->setGeometry(bounds);
    Image->setPixmap(QPixmap::fromImage(
        stored.scaled(bounds.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void TExtraireFrame::ShowImageName(const QString& fileName)
{
    destlabel->setText(fileName);
}

} // namespace kad
