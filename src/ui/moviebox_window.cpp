#include "ui/moviebox_window.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "system/texts.h"

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

// The box as seen from the front, its USB lead and its video inputs: what
// the user is asked to check is lit.
QPixmap DrawMovieBox(QSize size, const QString& label)
{
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width();
    const qreal h = size.height();

    const QRectF body(w * 0.12, h * 0.30, w * 0.76, h * 0.36);
    QLinearGradient shell(body.topLeft(), body.bottomLeft());
    shell.setColorAt(0, QColor(0x5a, 0x62, 0x6e));
    shell.setColorAt(1, QColor(0x25, 0x29, 0x30));
    p.setPen(QPen(QColor(0x15, 0x17, 0x1b), 2));
    p.setBrush(shell);
    p.drawRoundedRect(body, 14, 14);

    const QRectF front = body.adjusted(w * 0.04, body.height() * 0.55, -w * 0.04, -h * 0.03);
    p.setBrush(QColor(0x12, 0x14, 0x18));
    p.drawRoundedRect(front, 6, 6);

    QFont font(QStringLiteral("Times New Roman"));
    font.setBold(true);
    font.setItalic(true);
    font.setPixelSize(qMax(10, static_cast<int>(h * 0.07)));
    p.setFont(font);
    p.setPen(QColor(0xe8, 0xec, 0xf2));
    p.drawText(body.adjusted(w * 0.05, h * 0.03, 0, -body.height() * 0.5),
               Qt::AlignLeft | Qt::AlignVCenter, label);

    // Power light.
    const qreal led = h * 0.025;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xe0, 0x5a));
    p.drawEllipse(QPointF(body.right() - w * 0.07, body.top() + body.height() * 0.28), led, led);

    // Composite (yellow, white, red) and S-video inputs on the front.
    const QColor jacks[] = {QColor(0xf2, 0xc9, 0x1b), QColor(0xf4, 0xf4, 0xf4),
                            QColor(0xd8, 0x2a, 0x2a), QColor(0x30, 0x30, 0x30)};
    const qreal r = front.height() * 0.28;
    for (int i = 0; i < 4; ++i) {
        const QPointF c(front.left() + front.width() * (0.14 + 0.24 * i), front.center().y());
        p.setBrush(QColor(0x9a, 0xa0, 0xa8));
        p.drawEllipse(c, r, r);
        p.setBrush(jacks[i]);
        p.drawEllipse(c, r * 0.6, r * 0.6);
    }

    // The USB lead towards the computer.
    QPainterPath lead;
    lead.moveTo(body.center().x(), body.top());
    lead.cubicTo(body.center().x(), h * 0.12, w * 0.72, h * 0.20, w * 0.80, h * 0.08);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), qMax(2.0, h * 0.015), Qt::SolidLine, Qt::RoundCap));
    p.drawPath(lead);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x70, 0x76, 0x80));
    p.drawRect(QRectF(w * 0.77, h * 0.02, w * 0.07, h * 0.07));
    return pm;
}

QString primingCaption()
{
    return Text(TextId::amorcerPrimingCaption)
        .arg(Text(TextId::ProductName), Text(TextId::ProductVersion),
             Text(TextId::ProductLanguage));
}

} // namespace

TamorcerForm::TamorcerForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("amorcerForm"));
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
    Image1->setGeometry(292, 8, 400, 384);

    Memo2 = new QPlainTextEdit(this);
    Memo2->hide();

    ApplyTexts();
}

void TamorcerForm::ApplyTexts()
{
    setWindowTitle(Text(TextId::amorcerFormCaption));
    Image1->setPixmap(DrawMovieBox(Image1->size(), Text(TextId::amorcerBoxLabel)));
    WriteInstructions();
    if (dialog_) dialog_->setWindowTitle(primingCaption());
}

void TamorcerForm::WriteInstructions()
{
    re->clear();
    QTextCursor c(re->document());
    QTextCharFormat title = formatOf(Style::Normal);
    title.setFontWeight(QFont::Bold);
    title.setForeground(Qt::blue);
    title.setFontPointSize(14);
    c.insertText(Text(TextId::reTitle), title);

    const QString app =
        Text(TextId::ProductName) + Text(TextId::Blank) + Text(TextId::ProductVersion);
    const QString paragraph = QStringLiteral("\n\n");
    const std::pair<Style, QString> pieces[] = {
        {Style::Normal, paragraph + Text(TextId::reLaunchFirst)},
        {Style::Strong, Text(TextId::reStudioOfPinnacle)},
        {Style::Normal, Text(TextId::reVerifyImage)},
        {Style::Strong, Text(TextId::reCaptureTab)},
        {Style::Normal, Text(TextId::reThenQuitStudio)},
        {Style::Normal, Text(TextId::reSentenceEnd) + paragraph + Text(TextId::reYouMayVerify)},
        {Style::Strong, Text(TextId::reRegisterValue)},
        {Style::Normal, Text(TextId::reUnderTheTab)},
        {Style::Strong, Text(TextId::reI2CTab)},
        {Style::Normal, Text(TextId::reEqualTo)},
        {Style::Strong, Text(TextId::reValue80)},
        {Style::Normal, Text(TextId::reOtherwiseShutDown)},
        {Style::Name, Text(TextId::reMovieBox)},
        {Style::Normal, Text(TextId::reQuitTurnOn)},
        {Style::Name, Text(TextId::reMovieBox)},
        {Style::Normal, Text(TextId::reLaunchAgain)},
        {Style::Name, Text(TextId::reStudio)},
        {Style::Normal, Text(TextId::reThen)},
        {Style::Name, Text(TextId::reProgram).arg(app) + paragraph},
        {Style::Normal, Text(TextId::reAlsoVerify)},
        {Style::Strong, Text(TextId::reConfigurationTab)},
        {Style::Normal, Text(TextId::reIfThe)},
        {Style::Name, Text(TextId::reVideoSource)},
        {Style::Normal, Text(TextId::reCompositeOrSVideo)},
        {Style::Name, Text(TextId::reFormat)},
        {Style::Normal, Text(TextId::reStandardAndChoose) + Text(TextId::reBitrateOf)},
        {Style::Name, Text(TextId::reBitrate)},
        {Style::Normal, Text(TextId::reEnd)},
    };
    for (const auto& [style, text] : pieces)
        c.insertText(text, formatOf(style));
}

void TamorcerForm::OpenPrimingDialog(const QString& sourceName)
{
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    // The hidden memo owns the dialog, so it is modal to this window and
    // leaves the main window usable.
    auto* d = new QDialog(Memo2);
    d->setObjectName(QStringLiteral("primingDialog"));
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setWindowModality(Qt::WindowModal);
    d->setWindowTitle(primingCaption());
    auto* layout = new QVBoxLayout(d);
    auto* name = new QLabel(sourceName, d);
    name->setObjectName(QStringLiteral("sourceName"));
    name->setTextFormat(Qt::PlainText);
    layout->addWidget(name);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, d);
    connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::accept);
    layout->addWidget(buttons);
    connect(d, &QDialog::finished, this, [this] { emit PrimingClosed(); });
    dialog_ = d;
    d->open();
}

} // namespace kad
