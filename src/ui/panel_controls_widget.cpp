#include "ui/panel_controls_widget.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QMouseEvent>
#include <QRadioButton>

namespace kad {

namespace {

UrlOpener& installedOpener()
{
    static UrlOpener opener;
    return opener;
}

} // namespace

QUrl MakerHomePage()
{
    return QUrl(QStringLiteral("https://www.tavrel.example/"));
}

QString MakerMailAddress()
{
    return QStringLiteral("kadrillo@tavrel.example");
}

void OpenUrl(const QUrl& url)
{
    if (installedOpener())
        installedOpener()(url);
    else
        QDesktopServices::openUrl(url);
}

void SetUrlOpener(UrlOpener opener)
{
    installedOpener() = std::move(opener);
}

QUrl MailUrl(const QString& address, const QString& subject, const QString& body)
{
    QByteArray encoded = "mailto:" + QUrl::toPercentEncoding(address, "@");
    encoded += "?subject=" + QUrl::toPercentEncoding(subject);
    encoded += "&body=" + QUrl::toPercentEncoding(body);
    return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}

TRadioGroup::TRadioGroup(const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(4, 2, 4, 2);
    grid_->setHorizontalSpacing(4);
    grid_->setVerticalSpacing(0);
    group_.setExclusive(true);
    connect(&group_, &QButtonGroup::idClicked, this, [this](int id) {
        const bool changed = id != index_;
        index_ = id;
        if (changed) emit itemIndexChanged(id);
        emit clicked(id);
    });
}

void TRadioGroup::setItems(const QStringList& items)
{
    for (QRadioButton* b : buttons_) {
        group_.removeButton(b);
        grid_->removeWidget(b);
        b->hide();
        b->setParent(nullptr);
        b->deleteLater();
    }
    buttons_.clear();
    const bool changed = index_ != -1;
    index_ = -1;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_.addButton(b, i);
        buttons_.push_back(b);
    }
    relayout();
    if (changed) emit itemIndexChanged(-1);
}

QStringList TRadioGroup::items() const
{
    QStringList result;
    for (const QRadioButton* b : buttons_)
        result << b->text();
    return result;
}

QString TRadioGroup::itemText(int index) const
{
    if (index < 0 || index >= count()) return {};
    return buttons_[static_cast<size_t>(index)]->text();
}

QString TRadioGroup::selectedText() const
{
    return itemText(index_);
}

int TRadioGroup::itemIndex() const
{
    return index_;
}

void TRadioGroup::setItemIndex(int index)
{
    if (index < 0 || index >= count()) index = -1;
    if (index == -1) {
        group_.setExclusive(false);
        for (QRadioButton* b : buttons_)
            b->setChecked(false);
        group_.setExclusive(true);
    } else {
        buttons_[static_cast<size_t>(index)]->setChecked(true);
    }
    if (index != index_) {
        index_ = index;
        emit itemIndexChanged(index);
    }
}

void TRadioGroup::setColumns(int columns)
{
    columns_ = std::max(1, columns);
    relayout();
}

QRadioButton* TRadioGroup::button(int index) const
{
    if (index < 0 || index >= count()) return nullptr;
    return buttons_[static_cast<size_t>(index)];
}

void TRadioGroup::relayout()
{
    for (size_t i = 0; i < buttons_.size(); ++i) {
        const int n = static_cast<int>(i);
        grid_->addWidget(buttons_[i], n / columns_, n % columns_);
    }
}

TClickLabel::TClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : TClickLabel(text, parent)
{
    QFont f = font();
    f.setFamily(QStringLiteral("Verdana"));
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
    connect(this, &TClickLabel::clicked, this, [this] {
        if (url_.isValid()) OpenUrl(url_);
    });
}

} // namespace kad
