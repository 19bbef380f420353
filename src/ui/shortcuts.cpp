#include "ui/shortcuts.h"

#include <QStringList>

#include "system/texts.h"

namespace kad {

namespace {

struct KeyName {
    int vk;
    Qt::Key key;
    const char* name;
};

// Virtual keys the action table uses, with their names as the help lists
// show them.
constexpr KeyName kKeys[] = {
    {0x08, Qt::Key_Backspace, "BkSp"}, {0x09, Qt::Key_Tab, "Tab"},
    {0x0D, Qt::Key_Return, "Enter"},   {0x1B, Qt::Key_Escape, "Esc"},
    {0x20, Qt::Key_Space, "Space"},    {0x21, Qt::Key_PageUp, "PgUp"},
    {0x22, Qt::Key_PageDown, "PgDn"},  {0x23, Qt::Key_End, "End"},
    {0x24, Qt::Key_Home, "Home"},      {0x25, Qt::Key_Left, "Left"},
    {0x26, Qt::Key_Up, "Up"},          {0x27, Qt::Key_Right, "Right"},
    {0x28, Qt::Key_Down, "Down"},      {0x2D, Qt::Key_Insert, "Ins"},
    {0x2E, Qt::Key_Delete, "Del"},
};

const KeyName* findVk(int vk)
{
    for (const KeyName& k : kKeys) {
        if (k.vk == vk) return &k;
    }
    return nullptr;
}

// The Qt key of a virtual key, or 0.
int qtKey(int vk)
{
    if (vk >= 0x70 && vk <= 0x7B) return Qt::Key_F1 + (vk - 0x70);
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))
        return vk; // Qt's letter and digit keys share the ASCII codes
    if (const KeyName* k = findVk(vk)) return k->key;
    return 0;
}

QString keyName(int vk)
{
    if (vk >= 0x70 && vk <= 0x7B) return Text(TextId::KeyFunction).arg(vk - 0x70 + 1);
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return QString(QChar(vk));
    if (const KeyName* k = findVk(vk)) return QString::fromLatin1(k->name);
    return {};
}

Qt::KeyboardModifiers modifiers(int code)
{
    Qt::KeyboardModifiers m;
    if (code & kShiftBit) m |= Qt::ShiftModifier;
    if (code & kCtrlBit) m |= Qt::ControlModifier;
    if (code & kAltBit) m |= Qt::AltModifier;
    return m;
}

} // namespace

QString ShortCutToText(int code)
{
    const QString name = keyName(code & 0xFF);
    if (code == 0 || name.isEmpty()) return {};
    QString text;
    if (code & kShiftBit) text += Text(TextId::KeyShiftPrefix);
    if (code & kCtrlBit) text += Text(TextId::KeyCtrlPrefix);
    if (code & kAltBit) text += Text(TextId::KeyAltPrefix);
    return text + name;
}

QList<QKeySequence> ShortCutToKeys(int code)
{
    const int key = qtKey(code & 0xFF);
    if (code == 0 || key == 0) return {};
    const Qt::KeyboardModifiers m = modifiers(code);
    QList<QKeySequence> keys{QKeySequence(QKeyCombination(m, Qt::Key(key)))};
    if (key == Qt::Key_Return)
        keys.append(QKeySequence(QKeyCombination(m | Qt::KeypadModifier, Qt::Key_Enter)));
    return keys;
}

QKeySequence SecondaryToKey(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('+'));
    if (parts.isEmpty() || parts.last().isEmpty()) return {};
    Qt::KeyboardModifiers m;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        const QString mod = parts.at(i).trimmed().toUpper();
        if (mod == QLatin1String("CTRL"))
            m |= Qt::ControlModifier;
        else if (mod == QLatin1String("ALT"))
            m |= Qt::AltModifier;
        else if (mod == QLatin1String("SHIFT"))
            m |= Qt::ShiftModifier;
        else
            return {};
    }
    const QKeySequence key =
        QKeySequence::fromString(parts.last().trimmed().toUpper(), QKeySequence::PortableText);
    if (key.count() != 1 || key[0].keyboardModifiers() != Qt::NoModifier) return {};
    return QKeySequence(QKeyCombination(m, key[0].key()));
}

} // namespace kad
