#include "system/about_panel.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/preferences.h"

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
    Image1->setToolTip(tr("Yes, I have a big nose!?"));
    RxLabel1 = new QLabel(TitleLine(), this);
    QFont title(QStringLiteral("Arial"));
    title.setPointSize(14);
    title.setBold(true);
    RxLabel1->setFont(title);
    head->addWidget(Image1);
    head->addWidget(RxLabel1, 1);
    main->addLayout(head);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    QFont arial = Memo1->font();
    arial.setFamily(QStringLiteral("Arial"));
    Memo1->setFont(arial);
    main->addWidget(Memo1, 1);

    auto* links = new QHBoxLayout;
    auto* linkColumn = new QVBoxLayout;
    LnkUrlLabel1 = new TLinkLabel(tr("Homepage of Tavrel"), this);
    LnkUrlLabel1->setUrl(MakerHomePage());
    LnkUrlLabel1->setToolTip(MakerHomePage().toString());
    LnkUrlLabel2 = new TLinkLabel(tr("e-mail of Tavrel"), this);
    LnkUrlLabel2->setToolTip(MakerMailAddress());
    linkColumn->addWidget(LnkUrlLabel1);
    linkColumn->addWidget(LnkUrlLabel2);
    links->addLayout(linkColumn, 1);
    sbFerrovue = new QToolButton(this);
    sbFerrovue->setText(QStringLiteral(" "));
    sbFerrovue->setIcon(QIcon::fromTheme(QStringLiteral("video-x-generic"),
                                         style()->standardIcon(QStyle::SP_MediaPlay)));
    sbFerrovue->setIconSize(QSize(32, 32));
    sbFerrovue->setAutoRaise(true);
    sbFerrovue->setToolTip(tr("Click to open the captured clips with Ferrovue."));
    links->addWidget(sbFerrovue);
    main->addLayout(links);

    Refresh();
    connect(sbFerrovue, &QToolButton::clicked, this, &TAproposFrame::ferrovueRequested);
}

QString TAproposFrame::TitleLine()
{
    return QString(ProductName) + u' ' + QString(ProductVersion) + u' ' + QString(ProductLanguage);
}

QString TAproposFrame::AboutText()
{
    return tr("%1 %2 %3 was written by %4.\n\n"
              "It previews and records DV camcorders, webcams, capture cards and MPEG-2 boxes, "
              "and grabs still images from them.\n\n"
              "It is built with Qt, GStreamer and libjpeg.\n\n"
              "Last updated on 26th of October, 2005.\n\n"
              "%1 is free for personal use and comes without any warranty: use it at your own "
              "risk.\n\n"
              "Visit the web site of %4 for news and updates, and write to tell what you think "
              "of %1.")
        .arg(QString(ProductName), QString(ProductVersion), QString(ProductLanguage),
             QString(MakerName));
}

QString TAproposFrame::MailSubject()
{
    return tr("About  %1 %2")
        .arg(QString(ProductName), QString(ProductVersion) + u' ' + QString(ProductLanguage));
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
