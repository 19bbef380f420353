#include "ui/inlay_panel.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <iterator>

#include "elements/date_pattern.h"
#include "session/inlay.h"
#include "settings/preferences.h"
#include "system/texts.h"
#include "ui/panel_layout.h"

namespace kad {

TIncrusterFrame::TIncrusterFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("IncrusterFrame1"));
    resize(kPanelSize);

    auto* main = groupColumn(this, GroupBox1);

    cbAllowIncrust = new QCheckBox(GroupBox1);
    cbAllowIncrust->setEnabled(false);
    main->addWidget(cbAllowIncrust);

    auto* modeRow = new QHBoxLayout;
    rgMode = new TRadioGroup(QString(), GroupBox1);
    rgMode->setItems({Text(TextId::rgModeManual), Text(TextId::rgModeAuto)});
    rgMode->setItemIndex(0);
    gbDuree = new QGroupBox(GroupBox1);
    auto* duration = new QVBoxLayout(gbDuree);
    tighten(duration);
    Label2 = new QLabel(gbDuree);
    RxSpinEdit1 = new QSpinBox(gbDuree);
    RxSpinEdit1->setRange(0, 99);
    RxSpinEdit1->setValue(5);
    duration->addWidget(Label2);
    duration->addWidget(RxSpinEdit1);
    gbDuree->hide();
    modeRow->addWidget(rgMode, 1);
    modeRow->addWidget(gbDuree, 1);
    main->addLayout(modeRow);

    auto* choiceRow = new QHBoxLayout;
    rgChoix = new TRadioGroup(QString(), GroupBox1);
    rgChoix->setItems({Text(TextId::rgChoixRealTime), Text(TextId::rgChoixDatecode)});
    rgChoix->setItemIndex(0);
    gbDecalage = new QGroupBox(GroupBox1);
    auto* offset = new QVBoxLayout(gbDecalage);
    tighten(offset);
    Label1 = new QLabel(gbDecalage);
    RxSpinEdit2 = new QSpinBox(gbDecalage);
    RxSpinEdit2->setRange(-23, 23);
    offset->addWidget(Label1);
    offset->addWidget(RxSpinEdit2);
    gbDecalage->hide();
    choiceRow->addWidget(rgChoix, 1);
    choiceRow->addWidget(gbDecalage);
    main->addLayout(choiceRow);

    LabelFormat = new QLabel(GroupBox1);
    edFormat = new QLineEdit(Text(TextId::edFormatDefault), GroupBox1);
    LabelExample = new QLabel(GroupBox1);
    LabelExample->setObjectName(QStringLiteral("LabelExample"));
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
    Label7 = new QLabel(gbPolice);
    cbAutoFontSize = new QCheckBox(gbPolice);
    cbAutoFontSize->setChecked(true);
    font->addWidget(SpeedButton4);
    font->addWidget(Label7, 1);
    font->addWidget(cbAutoFontSize);
    main->addWidget(gbPolice);

    IncrusterBtn = new QToolButton(GroupBox1);
    IncrusterBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    IncrusterBtn->setMinimumWidth(100);
    main->addWidget(IncrusterBtn, 0, Qt::AlignHCenter);

    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setReadOnly(true);
    Memo1->hide();
    main->addWidget(Memo1, 1);
    LnkUrlLabel1 = new TLinkLabel(QString(), GroupBox1);
    LnkUrlLabel1->setUrl(MakerHomePage());
    LnkUrlLabel1->setToolTip(MakerHomePage().toString());
    LnkUrlLabel1->hide();
    main->addWidget(LnkUrlLabel1);
    main->addStretch(1);
    ApplyTexts();

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

void TIncrusterFrame::ApplyTexts()
{
    GroupBox1->setTitle(Text(TextId::InlayGroupCaption));
    setCaption(cbAllowIncrust, TextId::IncrusterCbAllowIncrustCaption,
               TextId::IncrusterCbAllowIncrustHint);
    setCaption(rgMode, TextId::rgModeCaption, TextId::rgModeHint);
    nameButtons(rgMode, {TextId::rgModeManual, TextId::rgModeAuto});
    Label2->setText(Text(TextId::IncrusterLabel2Caption));
    RxSpinEdit1->setToolTip(Text(TextId::IncrusterRxSpinEdit1Hint));
    setCaption(rgChoix, TextId::rgChoixCaption, TextId::rgChoixHint);
    nameButtons(rgChoix, {TextId::rgChoixRealTime, TextId::rgChoixDatecode});
    gbDecalage->setToolTip(Text(TextId::gbDecalageHint));
    Label1->setText(Text(TextId::IncrusterLabel1Caption));
    RxSpinEdit2->setToolTip(gbDecalage->toolTip());
    LabelFormat->setText(Text(TextId::LabelFormatCaption));
    edFormat->setToolTip(Text(TextId::edFormatHint));
    LabelFormat->setToolTip(edFormat->toolTip());
    LabelExample->setToolTip(edFormat->toolTip());
    SpeedButton4->setToolTip(Text(TextId::SpeedButton4Hint));
    setCaption(Label7, TextId::Label7Caption, TextId::Label7Hint);
    setCaption(cbAutoFontSize, TextId::cbAutoFontSizeCaption, TextId::cbAutoFontSizeHint);
    // Once bound, the button shows its action's caption.
    if (!IncrusterBtn->defaultAction()) {
        setCaption(IncrusterBtn, TextId::IncrusterBtnCaption, TextId::IncrusterBtnHint);
    }
    if (filtersMissing_) {
        Memo1->setPlainText(InstallNote());
        LnkUrlLabel1->setText(Text(TextId::InstallLink).arg(Text(TextId::ProductName)));
    } else {
        LnkUrlLabel1->setText(Text(TextId::MakerHomePageLink));
    }
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
    return (Text(TextId::InstallNoteEnable) + Text(TextId::InstallNoteFilters) + u'\n' +
            Text(TextId::InstallNoteDownload) + Text(TextId::InstallNoteFull))
        .arg(Text(TextId::ProductName));
}

void TIncrusterFrame::AdaptPanel(bool inlayFiltersAvailable, bool sourceIsDV)
{
    if (!inlayFiltersAvailable) {
        for (QWidget* w : std::initializer_list<QWidget*>{rgMode, rgChoix, gbDuree, gbDecalage,
                                                          LabelFormat, LabelExample, edFormat,
                                                          gbPolice, IncrusterBtn, cbAllowIncrust})
            w->hide();
        filtersMissing_ = true;
        ApplyTexts();
        Memo1->show();
        LnkUrlLabel1->show();
        return;
    }
    filtersMissing_ = false;
    Memo1->hide();
    LnkUrlLabel1->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{LabelFormat, LabelExample, edFormat, gbPolice,
                                                      IncrusterBtn, cbAllowIncrust})
        w->show();
    rgMode->show();
    gbDuree->setVisible(rgMode->itemIndex() == 1);
    const TInlayChoices adapted = TInlay::AdaptChoices(sourceIsDV, rgChoix->itemIndex());
    QStringList choices{Text(TextId::rgChoixRealTime)};
    if (adapted.Count > 1) choices << Text(TextId::rgChoixDatecode);
    rgChoix->setItems(choices);
    rgChoix->setItemIndex(adapted.Selected);
    gbDecalage->setVisible(adapted.OffsetVisible);
    rgChoix->show();
}

} // namespace kad
