#include "system/error_report_panel.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "settings/preferences.h"

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
    RxLabel1 = new QLabel(TitleLine(), this);
    QFont title(QStringLiteral("Arial"));
    title.setPointSize(12);
    title.setBold(true);
    RxLabel1->setFont(title);
    Image2 = new QLabel(this);
    Image2->setPixmap(QIcon::fromTheme(QStringLiteral("camera-video"),
                                       style()->standardIcon(QStyle::SP_ComputerIcon))
                          .pixmap(32, 32));
    head->addWidget(ImageTavrel);
    head->addWidget(RxLabel1, 1);
    head->addWidget(Image2);
    main->addLayout(head);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    QFont arial = Memo1->font();
    arial.setFamily(QStringLiteral("Arial"));
    Memo1->setFont(arial);
    main->addWidget(Memo1, 1);

    auto* foot = new QHBoxLayout;
    auto* links = new QVBoxLayout;
    LnkUrlLabel1 = new TLinkLabel(tr("Homepage of Tavrel"), this);
    LnkUrlLabel1->setUrl(MakerHomePage());
    LnkUrlLabel1->setToolTip(MakerHomePage().toString());
    LnkUrlLabel2 = new TLinkLabel(tr("Send an error report by  e-mail"), this);
    LnkUrlLabel2->setToolTip(MakerMailAddress());
    LnkUrlLabel2->setUrl(MailUrl(MakerMailAddress(), MailSubject(), QString()));
    links->addWidget(LnkUrlLabel1);
    links->addWidget(LnkUrlLabel2);
    foot->addLayout(links, 1);
    FermerErreurBtn = new QPushButton(tr("Close"), this);
    foot->addWidget(FermerErreurBtn, 0, Qt::AlignBottom);
    main->addLayout(foot);

    hide();
    connect(FermerErreurBtn, &QPushButton::clicked, this, &TErreurFrame::FermerErreurBtnClick);
}

QString TErreurFrame::TitleLine()
{
    return QString(MakerName) + tr(" is sorry:");
}

QString TErreurFrame::MailSubject()
{
    return tr("Error report of ") + QString(ProductName) + u' ' + QString(ProductVersion);
}

QString TErreurFrame::ReportText(const QString& report)
{
    return QString(ProductName) + tr(" has encountered a fatal error") + tr(" on your system:") +
           QStringLiteral("\n\n") + report + u'\n' +
           tr("You should send me an e-mail about this problem, and indicate please which program "
              "you are using, under which operating system , what kind of video steam is currently "
              "working , its codec...\nTo get help about %1, informations, or updates, please "
              "visit my web site.")
               .arg(QString(ProductName));
}

void TErreurFrame::ShowErrorReport(const QString& report, bool fatal)
{
    errorIsFatal_ = fatal;
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
