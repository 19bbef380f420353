#pragma once

// Small controls the option panels share: a captioned radio group with an
// item list and an item index, labels that answer a click, link labels that
// hand an address to the desktop, and the one way the panels open folders,
// web pages and mails (replaceable, so tests never start a browser).

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QSize>
#include <QStringList>
#include <QUrl>

#include <functional>

class QRadioButton;
class QGridLayout;

namespace kad {

// The place beside the preview where the option panels stack. The panels
// are laid out to stay readable down to 265 x 330.
inline constexpr QSize kPanelSize{275, 400};

// The maker's web page and mail address behind the link labels.
QUrl MakerHomePage();
QString MakerMailAddress();

// Hands `url` to the desktop (QDesktopServices::openUrl by default).
using UrlOpener = std::function<void(const QUrl& url)>;
void OpenUrl(const QUrl& url);
// Installs another opener; an empty function restores the desktop's.
void SetUrlOpener(UrlOpener opener);

// "mailto:" + address with a subject and a body, both percent-encoded so
// that any text (line breaks, "&", "+") comes through unchanged.
QUrl MailUrl(const QString& address, const QString& subject, const QString& body);

// A captioned group of exclusive radio buttons, refilled as a whole, whose
// selection is an index (-1 for none).
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(const QString& caption, QWidget* parent = nullptr);

    // Replaces the items; the selection is cleared.
    void setItems(const QStringList& items);
    QStringList items() const;
    int count() const { return static_cast<int>(buttons_.size()); }
    QString itemText(int index) const;
    // Text of the selected item, empty when none is selected.
    QString selectedText() const;

    int itemIndex() const;
    // Selects without emitting clicked(); -1 or an index out of range clears.
    void setItemIndex(int index);

    // Items are laid out in this many columns, filled row by row.
    void setColumns(int columns);
    int columns() const { return columns_; }

    QRadioButton* button(int index) const;

signals:
    // The user picked an item (not emitted by setItemIndex).
    void clicked(int index);
    // The selection changed, by the user or by setItemIndex.
    void itemIndexChanged(int index);

private:
    void relayout();

    QButtonGroup group_;
    std::vector<QRadioButton*> buttons_;
    QGridLayout* grid_ = nullptr;
    int columns_ = 1;
    int index_ = -1;
};

// A label that reports a left click (file names that lead to another panel,
// the texts of buttons).
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit TClickLabel(const QString& text = {}, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A link label: underlined, Verdana, pointing hand; a click opens its url.
class TLinkLabel : public TClickLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text = {}, QWidget* parent = nullptr);

    void setUrl(const QUrl& url) { url_ = url; }
    QUrl url() const { return url_; }

private:
    QUrl url_;
};

} // namespace kad
