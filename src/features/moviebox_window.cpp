#include "features/moviebox_window.h"

#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

#include "settings/preferences.h"

namespace kad {

namespace {

enum class Style { Normal, Strong, Name };

QTextCharFormat formatOf(Style style)
{
    QTextCharFormat f;
    f.setFontFamilies({QStringLiteral("Times New Roman")});
    f.setFontPointSize(10);
    switch (style) {
    case Style::Normal:
        f.setForeground(Qt::black);
        break;
    case Style::Strong:
        f.setFontWeight(QFont::Bold);
        f.setFontItalic(true);
        f.setForeground(Qt::blue);
        break;
    case Style::Name:
        f.setFontItalic(true);
        f.setForeground(Qt::black);
        break;
    }
    return f;
}

} // namespace

TamorcerForm::TamorcerForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("amorcerForm"));
    setWindowTitle(tr("Launch the MovieBox USB - to make it active with Kadrillo"));
    setFixedSize(700, 400);

    re = new QTextEdit(this);
    re->setReadOnly(true);
    re->setFrameShape(QFrame::NoFrame);
    re->setGeometry(8, 8, 276, 296);
    QPalette face = re->palette();
    face.setColor(QPalette::Base, palette().color(QPalette::Button));
    re->setPalette(face);

    Image1 = new QLabel(this);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(QIcon::fromTheme(QStringLiteral("camera-video"),
                                       style()->standardIcon(QStyle::SP_DriveCDIcon))
                          .pixmap(128, 128));
    Image1->setGeometry(292, 8, 400, 384);

    Memo2 = new QPlainTextEdit(this);
    Memo2->hide();

    WriteInstructions();
}

void TamorcerForm::WriteInstructions()
{
    re->clear();
    QTextCursor c(re->document());
    QTextCharFormat title = formatOf(Style::Normal);
    title.setFontWeight(QFont::Bold);
    title.setForeground(Qt::blue);
    title.setFontPointSize(14);
    c.insertText(tr("Check if the Moviebox is well launched."), title);

    const QString app = QString(ProductName) + u' ' + QString(ProductVersion);
    const std::pair<Style, QString> pieces[] = {
        {Style::Normal, QStringLiteral("\n\n") + tr("Launch first")},
        {Style::Strong, tr(" Studio of Pinnacle")},
        {Style::Normal, tr(" and verify if a video image is available under the tab")},
        {Style::Strong, tr(" Capture")},
        {Style::Normal, tr(" then quit Studio")},
        {Style::Normal, QStringLiteral(".\n\n") + tr("You may then verify the ")},
        {Style::Strong, tr("Register Value")},
        {Style::Normal, tr(" under the tab")},
        {Style::Strong, tr(" I2C Utilities")},
        {Style::Normal, tr(" and check if it is equal to")},
        {Style::Strong, tr(" 80")},
        {Style::Normal, tr(". If it is not the case, shut down the")},
        {Style::Name, tr(" MovieBox")},
        {Style::Normal, tr(", quit this application, turn on again the ")},
        {Style::Name, tr(" MovieBox")},
        {Style::Normal, tr(", launch again")},
        {Style::Name, tr(" Studio")},
        {Style::Normal, tr(" then")},
        {Style::Name, tr(" %1.").arg(app) + QStringLiteral("\n\n")},
        {Style::Normal, tr("You can also verify, under the tab")},
        {Style::Strong, tr(" Configuration")},
        {Style::Normal, tr(", if the")},
        {Style::Name, tr(" Video Source")},
        {Style::Normal, tr(" is composite or S-video, if the")},
        {Style::Name, tr(" Format")},
        {Style::Normal, tr(" is NTSC, Pal or Secam, and also choose the ") +
                            tr("bitrate of the Mpeg2 stream  (value")},
        {Style::Name, tr(" Bitrate")},
        {Style::Normal, tr(").")},
    };
    for (const auto& [style, text] : pieces)
        c.insertText(text, formatOf(style));
}

} // namespace kad
