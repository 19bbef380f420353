#include "ui/error_report_panel.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "settings/preferences.h"
#include "system/texts.h"
#include "ui/panel_layout.h"

namespace kad {

namespace {

// The report needs more room than an option panel: the window shrinks to it.
constexpr QSize kErrorPanelSize{430, 330};

} // namespace

TErreurFrame::TErreurFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ErreurFrame1"));
    setAutoFillBackground(true);
    resize(kErrorPanelSize);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->setSpacing(4);

    auto* head = new QHBoxLayout;
    ImageTavrel = new QLabel(this);
    ImageTavrel->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    RxLabel1 = new QLabel(this);
    RxLabel1->setFont(titleFont(12));
    Image2 = new QLabel(this);
    Image2->setPixmap(QIcon::fromTheme(QStringLiteral("camera-video"),
                                       style()->standardIcon(QStyle::SP_ComputerIcon))
                          .pixmap(32, 32));
    head->addWidget(ImageTavrel);
    head->addWidget(RxLabel1, 1);
    head->addWidget(Image2);
    main->addLayout(head);

    Memo1 = textMemo(this);
    main->addWidget(Memo1, 1);

    auto* foot = new QHBoxLayout;
    foot->addLayout(makerLinks(this, LnkUrlLabel1, LnkUrlLabel2), 1);
    LnkUrlLabel2->setUrl(MailUrl(MakerMailAddress(), MailSubject(), QString()));
    FermerErreurBtn = new QPushButton(this);
    foot->addWidget(FermerErreurBtn, 0, Qt::AlignBottom);
    main->addLayout(foot);

    ApplyTexts();
    hide();
    connect(FermerErreurBtn, &QPushButton::clicked, this, &TErreurFrame::FermerErreurBtnClick);
}

void TErreurFrame::ApplyTexts()
{
    RxLabel1->setText(TitleLine());
    LnkUrlLabel1->setText(Text(TextId::MakerHomePageLink));
    LnkUrlLabel2->setText(Text(TextId::ErreurMailLink));
    if (!errorShown_) LnkUrlLabel2->setUrl(MailUrl(MakerMailAddress(), MailSubject(), QString()));
    FermerErreurBtn->setText(Text(TextId::FermerErreurBtnCaption));
}

QString TErreurFrame::TitleLine()
{
    return Text(TextId::MakerName) + Text(TextId::ErreurIsSorry);
}

QString TErreurFrame::MailSubject()
{
    return Text(TextId::ErreurMailSubject) + Text(TextId::ProductName) + Text(TextId::Blank) +
           Text(TextId::ProductVersion);
}

QString TErreurFrame::ReportText(const QString& report)
{
    return Text(TextId::ProductName) + Text(TextId::ErreurFatalError) +
           Text(TextId::ErreurOnYourSystem) + QStringLiteral("\n\n") + report + u'\n' +
           Text(TextId::ErreurPleaseWrite).arg(Text(TextId::ProductName));
}

void TErreurFrame::ShowErrorReport(const QString& report, bool fatal)
{
    errorIsFatal_ = fatal;
    errorShown_ = true;
    raise();
    move(0, 0);
    LnkUrlLabel2->setUrl(MailUrl(MakerMailAddress(), MailSubject(), report));
    QWidget* w = window();
    if (w != this) {
        savedWindowSize_ = w->size();
        savedMinimum_ = w->minimumSize();
        savedMaximum_ = w->maximumSize();
    }
    RxLabel1->setText(TitleLine());
    Memo1->setPlainText(ReportText(report));
    if (w != this) {
        const QPoint origin = parentWidget()->mapTo(w, QPoint(0, 0));
        w->setFixedSize(origin.x() + width(), origin.y() + height());
    }
    show();
}

void TErreurFrame::FermerErreurBtnClick()
{
    hide();
    QWidget* w = window();
    if (errorIsFatal_ && w != this) w->close();
    if (w != this && savedWindowSize_.isValid()) {
        w->setMinimumSize(savedMinimum_);
        w->setMaximumSize(savedMaximum_);
        w->resize(savedWindowSize_);
    }
    emit closed(errorIsFatal_);
}

} // namespace kad
