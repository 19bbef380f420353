#pragma once

// Shortcut codes as the action table stores them (low byte a virtual key,
// + 0x2000 Shift, + 0x4000 Ctrl, + 0x8000 Alt), their key names as the help
// lists show them ("Ctrl+Space", "Alt+BkSp", "F5"), and their Qt key
// sequences.

#include <QKeySequence>
#include <QList>
#include <QString>

namespace kad {

inline constexpr int kShiftBit = 0x2000;
inline constexpr int kCtrlBit = 0x4000;
inline constexpr int kAltBit = 0x8000;

// "Shift+", "Ctrl+", "Alt+" in that order, then the key's name; empty for 0
// or a key without a name.
QString ShortCutToText(int code);

// The key sequences that answer to a code. Enter answers on the main and the
// keypad key, so it gives two sequences; an unknown key gives none.
QList<QKeySequence> ShortCutToKeys(int code);

// A secondary shortcut text such as "CTRL+G", "ALT+N" or "F11" (modifier
// names in any case); an empty sequence when the text is not understood.
QKeySequence SecondaryToKey(const QString& text);

} // namespace kad
