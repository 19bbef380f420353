#include "features/inlay_panel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

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
    main->addWidget(LabelFormat);
    main->addWidget(edFormat);

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

    connect(cbAllowIncrust, &QCheckBox::clicked, this, &TIncrusterFrame::allowIncrustClicked);
    connect(rgMode, &TRadioGroup::clicked, this, [this](int index) {
        gbDuree->setVisible(index == 1);
        emit modeClicked(index);
    });
    connect(rgChoix, &TRadioGroup::clicked, this, [this](int index) {
        gbDecalage->setVisible(index == 1);
        emit choiceClicked(index);
    });
    connect(RxSpinEdit1, &QSpinBox::valueChanged, this, &TIncrusterFrame::durationChanged);
    connect(RxSpinEdit2, &QSpinBox::valueChanged, this, &TIncrusterFrame::hourOffsetChanged);
    connect(edFormat, &QLineEdit::textChanged, this, &TIncrusterFrame::formatChanged);
    connect(SpeedButton4, &QToolButton::clicked, this, &TIncrusterFrame::fontRequested);
    connect(cbAutoFontSize, &QCheckBox::clicked, this, &TIncrusterFrame::autoFontSizeClicked);
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
        for (QWidget* w :
             std::initializer_list<QWidget*>{rgMode, rgChoix, gbDuree, gbDecalage, LabelFormat,
                                             edFormat, gbPolice, IncrusterBtn, cbAllowIncrust})
            w->hide();
        Memo1->setPlainText(InstallNote());
        LnkUrlLabel1->setText(tr("Homegepage de %1").arg(QString(ProductName)));
        Memo1->show();
        LnkUrlLabel1->show();
        return;
    }
    Memo1->hide();
    LnkUrlLabel1->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{LabelFormat, edFormat, gbPolice, IncrusterBtn,
                                                      cbAllowIncrust})
        w->show();
    rgMode->show();
    gbDuree->setVisible(rgMode->itemIndex() == 1);
    const int previous = rgChoix->itemIndex();
    QStringList choices{tr("Real date and time")};
    if (sourceIsDV) choices << tr("DV datecode");
    rgChoix->setItems(choices);
    rgChoix->setItemIndex(previous >= 0 && previous < choices.size() ? previous : 0);
    gbDecalage->setVisible(sourceIsDV && previous == 1);
    rgChoix->show();
}

} // namespace kad
