#include "ui/panel_layout.h"

#include <QAbstractButton>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/panel_controls_widget.h"

namespace kad {

void tighten(QLayout* layout)
{
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
}

QVBoxLayout* groupColumn(QWidget* panel, QGroupBox*& group)
{
    auto* outer = new QVBoxLayout(panel);
    outer->setContentsMargins(0, 0, 0, 0);
    group = new QGroupBox(panel);
    outer->addWidget(group);
    auto* column = new QVBoxLayout(group);
    tighten(column);
    return column;
}

QToolButton* iconButton(QWidget* parent, const char* themeIcon, QStyle::StandardPixmap fallback)
{
    auto* b = new QToolButton(parent);
    b->setIcon(QIcon::fromTheme(QLatin1String(themeIcon), parent->style()->standardIcon(fallback)));
    b->setAutoRaise(true);
    b->setIconSize(QSize(16, 16));
    return b;
}

void setCaption(QAbstractButton* control, TextId caption, TextId hint)
{
    control->setText(Text(caption));
    control->setToolTip(Text(hint));
}

void setCaption(QLabel* control, TextId caption, TextId hint)
{
    control->setText(Text(caption));
    control->setToolTip(Text(hint));
}

void setCaption(QGroupBox* group, TextId title, TextId hint)
{
    group->setTitle(Text(title));
    group->setToolTip(Text(hint));
}

void nameButtons(TRadioGroup* group, std::initializer_list<TextId> items)
{
    int i = 0;
    for (const TextId id : items) {
        if (i >= group->count()) break;
        group->button(i++)->setText(Text(id));
    }
}

QFont titleFont(int pointSize)
{
    QFont title(QStringLiteral("Arial"));
    title.setPointSize(pointSize);
    title.setBold(true);
    return title;
}

QPlainTextEdit* textMemo(QWidget* parent)
{
    auto* memo = new QPlainTextEdit(parent);
    memo->setReadOnly(true);
    QFont arial = memo->font();
    arial.setFamily(QStringLiteral("Arial"));
    memo->setFont(arial);
    return memo;
}

QVBoxLayout* makerLinks(QWidget* parent, TLinkLabel*& home, TLinkLabel*& mail)
{
    auto* column = new QVBoxLayout;
    home = new TLinkLabel(QString(), parent);
    home->setUrl(MakerHomePage());
    home->setToolTip(MakerHomePage().toString());
    mail = new TLinkLabel(QString(), parent);
    mail->setToolTip(MakerMailAddress());
    column->addWidget(home);
    column->addWidget(mail);
    return column;
}

} // namespace kad
