#include "ui/about_panel.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/preferences.h"
#include "system/texts.h"
#include "ui/panel_layout.h"

namespace kad {

TAproposFrame::TAproposFrame(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("AproposFrame1"));
    resize(kPanelSize);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(4, 4, 4, 4);
    main->setSpacing(4);

    auto* head = new QHBoxLayout;
    Image1 = new QLabel(this);
    Image1->setPixmap(QIcon::fromTheme(QStringLiteral("camera-video"),
                                       style()->standardIcon(QStyle::SP_ComputerIcon))
                          .pixmap(48, 48));
    RxLabel1 = new QLabel(this);
    RxLabel1->setFont(titleFont(14));
    head->addWidget(Image1);
    head->addWidget(RxLabel1, 1);
    main->addLayout(head);

    Memo1 = textMemo(this);
    main->addWidget(Memo1, 1);

    auto* links = new QHBoxLayout;
    links->addLayout(makerLinks(this, LnkUrlLabel1, LnkUrlLabel2), 1);
    sbFerrovue = new QToolButton(this);
    sbFerrovue->setText(QStringLiteral(" "));
    sbFerrovue->setIcon(QIcon::fromTheme(QStringLiteral("video-x-generic"),
                                         style()->standardIcon(QStyle::SP_MediaPlay)));
    sbFerrovue->setIconSize(QSize(32, 32));
    sbFerrovue->setAutoRaise(true);
    links->addWidget(sbFerrovue);
    main->addLayout(links);

    ApplyTexts();
    connect(sbFerrovue, &QToolButton::clicked, this, &TAproposFrame::ferrovueRequested);
}

void TAproposFrame::ApplyTexts()
{
    Image1->setToolTip(Text(TextId::AproposImage1Hint));
    LnkUrlLabel1->setText(Text(TextId::MakerHomePageLink));
    LnkUrlLabel2->setText(Text(TextId::AproposMailLink));
    sbFerrovue->setToolTip(Text(TextId::AproposSbFerrovueHint));
    Refresh();
}

QString TAproposFrame::TitleLine()
{
    return Text(TextId::ProductName) + Text(TextId::Blank) + Text(TextId::ProductVersion) +
           Text(TextId::Blank) + Text(TextId::ProductLanguage);
}

QString TAproposFrame::AboutText()
{
    return Text(TextId::AboutText)
        .arg(Text(TextId::ProductName), Text(TextId::ProductVersion), Text(TextId::ProductLanguage),
             Text(TextId::MakerName));
}

QString TAproposFrame::MailSubject()
{
    return Text(TextId::AboutMailSubject)
        .arg(Text(TextId::ProductName),
             Text(TextId::ProductVersion) + Text(TextId::Blank) + Text(TextId::ProductLanguage));
}

void TAproposFrame::setSystemReportSource(std::function<QString()> source)
{
    reportSource_ = std::move(source);
    Refresh();
}

void TAproposFrame::Refresh()
{
    RxLabel1->setText(TitleLine());
    Memo1->setPlainText(AboutText());
    const QString body = reportSource_ ? reportSource_() : QString();
    LnkUrlLabel2->setUrl(MailUrl(MakerMailAddress(), MailSubject(), body));
}

void TAproposFrame::showEvent(QShowEvent* event)
{
    Refresh();
    QWidget::showEvent(event);
}

} // namespace kad
