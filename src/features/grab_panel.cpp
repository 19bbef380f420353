#include "features/grab_panel.h"

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

#include <utility>

#include "features/stills.h"

namespace kad {

TExtraireFrame::TExtraireFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ExtraireFrame1"));
    resize(kPanelSize);

    // The thumbnail box has fixed coordinates in the panel, so the group
    // fills the panel and its children are placed by hand.
    GroupBox2 = new QGroupBox(tr("Grab images (F5)"), this);

    Bevel3 = new QFrame(GroupBox2);
    Bevel3->setFrameShape(QFrame::Box);
    Bevel3->setFrameShadow(QFrame::Sunken);
    Bevel3->setToolTip(tr("Last grabbed and saved image"));
    Bevel3->setGeometry(ThumbnailRect(4, 3));
    Image = new QLabel(GroupBox2);
    Image->setToolTip(tr("Last grabbed image"));
    Image->setScaledContents(true);
    Image->setGeometry(ThumbnailRect(4, 3));

    gbIntervallo = new QGroupBox(tr("Intervalometer"), GroupBox2);
    gbIntervallo->setToolTip(tr("Intervalometer for garbbing images at periodic time intervals."));
    auto* interval = new QVBoxLayout(gbIntervallo);
    interval->setContentsMargins(4, 2, 4, 2);
    interval->setSpacing(2);
    auto* periodRow = new QHBoxLayout;
    RxSwitch1 = new QPushButton(tr("Off"), gbIntervallo);
    RxSwitch1->setCheckable(true);
    RxSwitch1->setToolTip(tr("Toggle intervalometer."));
    RxSpinEdit7 = new QSpinBox(gbIntervallo);
    RxSpinEdit7->setRange(0, 999999);
    RxSpinEdit7->setValue(10);
    RxSpinEdit7->setToolTip(tr("Values for the time interval"));
    cbUnites = new QComboBox(gbIntervallo);
    cbUnites->addItems({tr("seconds"), tr("frames"), tr("minutes"), tr("hours")});
    cbUnites->setCurrentIndex(0);
    cbUnites->setToolTip(tr("Units for the time interval"));
    periodRow->addWidget(RxSwitch1);
    periodRow->addWidget(RxSpinEdit7, 1);
    periodRow->addWidget(cbUnites, 1);
    interval->addLayout(periodRow);
    auto* countRow = new QHBoxLayout;
    cbBeeps = new QCheckBox(tr("Beeps"), gbIntervallo);
    cbBeeps->setToolTip(tr("Enable sound  beeps, warning of an imminent image capture."));
    chronoLab = new QLabel(gbIntervallo);
    QFont chrono(QStringLiteral("Arial"));
    chrono.setPointSize(14);
    chrono.setBold(true);
    chronoLab->setFont(chrono);
    QPalette red = chronoLab->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    chronoLab->setPalette(red);
    chronoLab->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    chronoLab->setToolTip(tr("Delay in seconds till the next snapshot."));
    chronoLab->hide();
    countRow->addWidget(cbBeeps);
    countRow->addWidget(chronoLab, 1);
    interval->addLayout(countRow);

    GroupBox1 = new QGroupBox(tr("Next image"), GroupBox2);
    auto* next = new QVBoxLayout(GroupBox1);
    next->setContentsMargins(4, 2, 4, 2);
    destlabel = new TClickLabel(QString(), GroupBox1);
    destlabel->setToolTip(
        tr("Name of the file for the next grabbed picture.\nClic on it to change the folder."));
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

    connect(RxSwitch1, &QPushButton::toggled, this,
            [this](bool on) { RxSwitch1->setText(on ? tr("On") : tr("Off")); });
    connect(RxSwitch1, &QPushButton::clicked, this, &TExtraireFrame::intervalometerSwitched);
    connect(destlabel, &TClickLabel::clicked, this, &TExtraireFrame::foldersPanelRequested);
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
