#pragma once

// How the side panels build themselves: the one group box a panel is filled
// with, the tight rows inside it, the flat icon buttons beside the fields,
// the captions and hints from the string table, and the head and the
// message box of the two text panels (About, the error report).

#include <QStyle>

#include <initializer_list>

#include "system/texts.h"

class QAbstractButton;
class QBoxLayout;
class QFont;
class QGroupBox;
class QLabel;
class QLayout;
class QPlainTextEdit;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace kad {

class TLinkLabel;
class TRadioGroup;

// The margins and spacing of the rows inside a panel's groups.
void tighten(QLayout* layout);

// Fills `panel` with one group box (`group`, its caption the panel's title)
// and returns the column of rows inside it.
QVBoxLayout* groupColumn(QWidget* panel, QGroupBox*& group);

// A flat tool button showing the theme's icon `themeIcon`, or the style's
// `fallback` where the theme has none.
QToolButton* iconButton(QWidget* parent, const char* themeIcon, QStyle::StandardPixmap fallback);

// The caption and the hint of a control, from the string table.
void setCaption(QAbstractButton* control, TextId caption, TextId hint);
void setCaption(QLabel* control, TextId caption, TextId hint);
void setCaption(QGroupBox* group, TextId title, TextId hint);

// Names the first buttons of `group` after `items`, as far as both go.
void nameButtons(TRadioGroup* group, std::initializer_list<TextId> items);

// The bold Arial of a text panel's title line.
QFont titleFont(int pointSize);
// The read-only text a text panel shows, in Arial.
QPlainTextEdit* textMemo(QWidget* parent);
// The maker's home page link and the mail link below it (its mail address
// as the hint, the address to set by the panel), in a new column.
QVBoxLayout* makerLinks(QWidget* parent, TLinkLabel*& home, TLinkLabel*& mail);

} // namespace kad
