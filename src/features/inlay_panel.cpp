#include "features/inlay_panel.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "elements/date_pattern.h"
#include "features/inlay.h"
#include "settings/preferences.h"

namespace kad {

namespace {

void tighten(QLayout* layout)
{
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
}

} // namespace

TIncrusterFrame::TIncrusterFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("IncrusterFrame1"));
    resize(kPanelSize);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    GroupBox1 = new QGroupBox(tr("Inlay (Alt+I)"), this);
    outer->addWidget(GroupBox1);
    auto* main = new QVBoxLayout(GroupBox1);
    tighten(main);

    cbAllowIncrust = new QCheckBox(tr("Allow inlays"), GroupBox1);
    cbAllowIncrust->setToolTip(tr("Allows to insert inlays into the video.\nIf you do not use this "
                                  "feature, uncheck this box to spare resources"));
    cbAllowIncrust->setEnabled(false);
    main->addWidget(cbAllowIncrust);

    auto* modeRow = new QHBoxLayout;
    rgMode = new TRadioGroup(tr("Mode"), GroupBox1);
    rgMode->setItems({tr("Manual"), tr("Auto")});
    rgMode->setItemIndex(0);
    rgMode->setToolTip(tr("Choose automatic or manual inlays. \nIn Automatic mode, if the video "
                          "source is a DV device in VCR mode, \nthen the inlay is enabled at each "
                          "scene change,\nelse there will be a unique inlay with the given "
                          "duration."));
    gbDuree = new QGroupBox(GroupBox1);
    auto* duration = new QVBoxLayout(gbDuree);
    tighten(duration);
    Label2 = new QLabel(tr("Duration in seconds"), gbDuree);
    RxSpinEdit1 = new QSpinBox(gbDuree);
    RxSpinEdit1->setRange(0, 99);
    RxSpinEdit1->setValue(5);
    RxSpinEdit1->setToolTip(tr("Duration of an automatic inlay, in seconds"));
    duration->addWidget(Label2);
    duration->addWidget(RxSpinEdit1);
    gbDuree->hide();
    modeRow->addWidget(rgMode, 1);
    modeRow->addWidget(gbDuree, 1);
    main->addLayout(modeRow);

    auto* choiceRow = new QHBoxLayout;
    rgChoix = new TRadioGroup(tr("Inlaid date and time"), GroupBox1);
    rgChoix->setItems({tr("Real date and time"), tr("DV datecode")});
    rgChoix->setItemIndex(0);
    rgChoix->setToolTip(tr("Inlay the computer's date and time, or the date and time\nrecorded "
                           "on the DV tape"));
    gbDecalage = new QGroupBox(GroupBox1);
    gbDecalage->setToolTip(
        tr("Add or substract some hours to the datecode beeing inlayed.\nOnly available in DV "
           "mode. Useful to fix a time difference or a summer/winter time change\nthat was "
           "missed in the camera internal clock."));
    auto* offset = new QVBoxLayout(gbDecalage);
    tighten(offset);
    Label1 = new QLabel(tr("Time difference"), gbDecalage);
    RxSpinEdit2 = new QSpinBox(gbDecalage);
    RxSpinEdit2->setRange(-23, 23);
    RxSpinEdit2->setToolTip(gbDecalage->toolTip());
    offset->addWidget(Label1);
    offset->addWidget(RxSpinEdit2);
    gbDecalage->hide();
    choiceRow->addWidget(rgChoix, 1);
    choiceRow->addWidget(gbDecalage);
    main->addLayout(choiceRow);

    LabelFormat = new QLabel(tr("Format for displaying the datecode"), GroupBox1);
    edFormat = new QLineEdit(QStringLiteral("dddddd hh:nn:ss"), GroupBox1);
    edFormat->setToolTip(tr("Format for inlaying the datecode into the video\nfor example dddd, "
                            "yyyy mmmm dd, h:nn:ss am/pm"));
    LabelFormat->setToolTip(edFormat->toolTip());
    LabelExample = new QLabel(GroupBox1);
    LabelExample->setObjectName(QStringLiteral("LabelExample"));
    LabelExample->setToolTip(edFormat->toolTip());
    main->addWidget(LabelFormat);
    main->addWidget(edFormat);
    main->addWidget(LabelExample);

    gbPolice = new QGroupBox(GroupBox1);
    auto* font = new QHBoxLayout(gbPolice);
    tighten(font);
    SpeedButton4 = new QToolButton(gbPolice);
    SpeedButton4->setIcon(
        QIcon::fromTheme(QStringLiteral("preferences-desktop-font"),
                         style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    SpeedButton4->setToolTip(tr("Choose the font."));
    Label7 = new QLabel(tr("Choose the font."), gbPolice);
    Label7->setToolTip(tr("Font, size, colour and style of the inlaid text"));
    cbAutoFontSize = new QCheckBox(tr("Automatic size"), gbPolice);
    cbAutoFontSize->setChecked(true);
    cbAutoFontSize->setToolTip(tr("If checked, the size of the inlay will be set automatically\n"
                                  "according to the video image size (Recommended)."));
    font->addWidget(SpeedButton4);
    font->addWidget(Label7, 1);
    font->addWidget(cbAutoFontSize);
    main->addWidget(gbPolice);

    IncrusterBtn = new QToolButton(GroupBox1);
    IncrusterBtn->setText(tr("Inlay"));
    IncrusterBtn->setToolTip(tr("Start inlay"));
    IncrusterBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    IncrusterBtn->setMinimumWidth(100);
    main->addWidget(IncrusterBtn, 0, Qt::AlignHCenter);

    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setReadOnly(true);
    Memo1->hide();
    main->addWidget(Memo1, 1);
    LnkUrlLabel1 = new TLinkLabel(tr("Homepage of Tavrel"), GroupBox1);
    LnkUrlLabel1->setUrl(MakerHomePage());
    LnkUrlLabel1->setToolTip(MakerHomePage().toString());
    LnkUrlLabel1->hide();
    main->addWidget(LnkUrlLabel1);
    main->addStretch(1);

    // The window finds some controls by these names (the allow-inlays box
    // follows the capture states).
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    cbAllowIncrust->setObjectName(QStringLiteral("cbAllowIncrust"));
    rgMode->setObjectName(QStringLiteral("rgMode"));
    gbDuree->setObjectName(QStringLiteral("gbDuree"));
    RxSpinEdit1->setObjectName(QStringLiteral("RxSpinEdit1"));
    rgChoix->setObjectName(QStringLiteral("rgChoix"));
    gbDecalage->setObjectName(QStringLiteral("gbDecalage"));
    RxSpinEdit2->setObjectName(QStringLiteral("RxSpinEdit2"));
    edFormat->setObjectName(QStringLiteral("edFormat"));
    gbPolice->setObjectName(QStringLiteral("gbPolice"));
    SpeedButton4->setObjectName(QStringLiteral("SpeedButton4"));
    cbAutoFontSize->setObjectName(QStringLiteral("cbAutoFontSize"));
    IncrusterBtn->setObjectName(QStringLiteral("IncrusterBtn"));
    Memo1->setObjectName(QStringLiteral("Memo1"));
    LnkUrlLabel1->setObjectName(QStringLiteral("LnkUrlLabel1"));

    connect(cbAllowIncrust, &QCheckBox::clicked, this, &TIncrusterFrame::allowIncrustClicked);
    connect(rgMode, &TRadioGroup::clicked, this, &TIncrusterFrame::rgModeClick);
    connect(rgChoix, &TRadioGroup::clicked, this, &TIncrusterFrame::rgChoixClick);
    connect(RxSpinEdit1, &QSpinBox::valueChanged, this, &TIncrusterFrame::durationChanged);
    connect(RxSpinEdit2, &QSpinBox::valueChanged, this, &TIncrusterFrame::hourOffsetChanged);
    connect(edFormat, &QLineEdit::textChanged, this, &TIncrusterFrame::showExample);
    connect(edFormat, &QLineEdit::textChanged, this, &TIncrusterFrame::formatChanged);
    showExample(edFormat->text());
    connect(SpeedButton4, &QToolButton::clicked, this, &TIncrusterFrame::fontRequested);
    connect(cbAutoFontSize, &QCheckBox::clicked, this, &TIncrusterFrame::autoFontSizeClicked);
}

void TIncrusterFrame::showExample(const QString& format)
{
    const QDateTime now = QDateTime::currentDateTime();
    DateTimeValue when;
    when.year = now.date().year();
    when.month = now.date().month();
    when.day = now.date().day();
    when.hour = now.time().hour();
    when.minute = now.time().minute();
    when.second = now.time().second();
    when.millisecond = now.time().msec();
    LabelExample->setText(QString::fromStdString(formatDatePattern(format.toStdString(), when)));
}

void TIncrusterFrame::rgModeClick()
{
    const int index = rgMode->itemIndex();
    gbDuree->setVisible(index == 1);
    emit modeClicked(index);
}

void TIncrusterFrame::rgChoixClick()
{
    const int index = rgChoix->itemIndex();
    gbDecalage->setVisible(index == 1);
    emit choiceClicked(index);
}

QString TIncrusterFrame::InstallNote()
{
    return (tr("If you want to enable the datetime inlays ") +
            tr("you must install some directshow filters from Tavrel.") + u'\n' +
            tr("To do so, download the latest version of %1, ") +
            tr("and make a full installation."))
        .arg(QString(ProductName));
}

void TIncrusterFrame::AdaptPanel(bool inlayFiltersAvailable, bool sourceIsDV)
{
    if (!inlayFiltersAvailable) {
        for (QWidget* w : std::initializer_list<QWidget*>{rgMode, rgChoix, gbDuree, gbDecalage,
                                                          LabelFormat, LabelExample, edFormat,
                                                          gbPolice, IncrusterBtn, cbAllowIncrust})
            w->hide();
        Memo1->setPlainText(InstallNote());
        LnkUrlLabel1->setText(tr("Homegepage de %1").arg(QString(ProductName)));
        Memo1->show();
        LnkUrlLabel1->show();
        return;
    }
    Memo1->hide();
    LnkUrlLabel1->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{LabelFormat, LabelExample, edFormat, gbPolice,
                                                      IncrusterBtn, cbAllowIncrust})
        w->show();
    rgMode->show();
    gbDuree->setVisible(rgMode->itemIndex() == 1);
    const TInlayChoices adapted = TInlay::AdaptChoices(sourceIsDV, rgChoix->itemIndex());
    QStringList choices{tr("Real date and time")};
    if (adapted.Count > 1) choices << tr("DV datecode");
    rgChoix->setItems(choices);
    rgChoix->setItemIndex(adapted.Selected);
    gbDecalage->setVisible(adapted.OffsetVisible);
    rgChoix->show();
}

} // namespace kad
