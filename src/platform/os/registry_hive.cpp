#include "platform/os/registry_hive.h"

#include <QStringDecoder>

#include <algorithm>

namespace kad::hive {

namespace {

const QString RootName = QStringLiteral("HKEY_CURRENT_USER");
const QString Header5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString Header4 = QStringLiteral("REGEDIT4");

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

template <typename K>
auto findChildIn(K& key, const QString& childName) -> decltype(&key.subkeys[0])
{
    for (auto& k : key.subkeys)
        if (sameName(k.name, childName)) return &k;
    return nullptr;
}

template <typename K> auto findValueIn(K& key, const QString& valueName) -> decltype(&key.values[0])
{
    for (auto& v : key.values)
        if (sameName(v.name, valueName)) return &v;
    return nullptr;
}

QString decodeUtf16Le(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = char16_t(quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8));
        if (c == 0) break;
        text.append(QChar(c));
    }
    return text;
}

QByteArray encodeUtf16Le(const QString& text)
{
    QByteArray bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    bytes.append('\0');
    bytes.append('\0');
    return bytes;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

// One quoted text starting at line[pos] == '"'; only \\ and \" are escapes,
// as the registry editor writes them.
bool parseQuoted(QStringView line, qsizetype& pos, QString& out)
{
    out.clear();
    ++pos;
    while (pos < line.size()) {
        const QChar c = line[pos];
        if (c == u'\\') {
            if (pos + 1 >= line.size()) return false;
            const QChar next = line[pos + 1];
            if (next != u'\\' && next != u'"') return false;
            out.append(next);
            pos += 2;
            continue;
        }
        if (c == u'"') {
            ++pos;
            return true;
        }
        out.append(c);
        ++pos;
    }
    return false;
}

void skipBlanks(QStringView line, qsizetype& pos)
{
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t'))
        ++pos;
}

bool parseHexBytes(QStringView text, QByteArray& out)
{
    out.clear();
    const QStringView body = text.trimmed();
    if (body.isEmpty()) return true;
    for (QStringView token : body.split(u',')) {
        token = token.trimmed();
        if (token.isEmpty() || token.size() > 2) return false;
        int byte = 0;
        for (QChar c : token) {
            const int d = hexDigit(c);
            if (d < 0) return false;
            byte = byte * 16 + d;
        }
        out.append(char(byte));
    }
    return true;
}

// The data after '=': a quoted text, dword:, hex: or hex(N):. `more` supplies
// the continuation lines of a hex value broken with a trailing backslash.
template <typename More> bool parseData(QStringView data, More&& more, Value& value)
{
    if (data.startsWith(u'"')) {
        qsizetype pos = 0;
        if (!parseQuoted(data, pos, value.text)) return false;
        skipBlanks(data, pos);
        if (pos != data.size()) return false;
        value.type = RegSz;
        return true;
    }
    if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const QStringView digits = data.mid(6).trimmed();
        if (digits.isEmpty() || digits.size() > 8) return false;
        quint32 n = 0;
        for (QChar c : digits) {
            const int d = hexDigit(c);
            if (d < 0) return false;
            n = n * 16 + quint32(d);
        }
        value.type = RegDword;
        value.dword = n;
        return true;
    }
    if (!data.startsWith(u"hex", Qt::CaseInsensitive)) return false;
    qsizetype pos = 3;
    quint32 type = RegBinary;
    if (pos < data.size() && data[pos] == u'(') {
        const qsizetype close = data.indexOf(u')', pos);
        if (close < 0 || close == pos + 1 || close - pos - 1 > 8) return false;
        type = 0;
        for (QChar c : data.mid(pos + 1, close - pos - 1)) {
            const int d = hexDigit(c);
            if (d < 0) return false;
            type = type * 16 + quint32(d);
        }
        pos = close + 1;
    }
    if (pos >= data.size() || data[pos] != u':') return false;
    // Appending in place keeps a value broken over many lines linear.
    QString joined = data.mid(pos + 1).toString();
    const auto continues = [&joined] {
        while (!joined.isEmpty() && joined.back().isSpace())
            joined.chop(1);
        if (!joined.endsWith(u'\\')) return false;
        joined.chop(1);
        return true;
    };
    while (continues()) {
        const std::optional<QStringView> next = more();
        if (!next) return false;
        joined += next->trimmed();
    }
    QByteArray bytes;
    if (!parseHexBytes(joined, bytes)) return false;
    value.type = type;
    if (type == RegSz) {
        if (bytes.size() % 2 != 0) return false;
        value.text = decodeUtf16Le(bytes);
    } else if (type == RegDword) {
        if (bytes.size() != 4) return false;
        value.dword = quint32(quint8(bytes[0])) | (quint32(quint8(bytes[1])) << 8) |
                      (quint32(quint8(bytes[2])) << 16) | (quint32(quint8(bytes[3])) << 24);
    } else {
        value.bytes = bytes;
    }
    return true;
}

QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    for (QChar c : text) {
        if (c == u'\\' || c == u'"') out.append(u'\\');
        out.append(c);
    }
    return out;
}

bool plainText(const QString& text)
{
    return std::none_of(text.begin(), text.end(),
                        [](QChar c) { return c.unicode() < 0x20 && c != u'\t'; });
}

void writeHex(QString& out, qsizetype lead, const QByteArray& bytes)
{
    // Lines broken like the registry editor's: at most about 80 columns.
    qsizetype column = lead;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        static constexpr char digits[] = "0123456789abcdef";
        out += QLatin1Char(digits[quint8(bytes[i]) >> 4]);
        out += QLatin1Char(digits[quint8(bytes[i]) & 0xF]);
        column += 2;
        if (i + 1 < bytes.size()) {
            out += u',';
            ++column;
            if (column >= 76) {
                out += QStringLiteral("\\\n  ");
                column = 2;
            }
        }
    }
}

void writeKey(QString& out, const Key& key, const QString& path, bool isRoot)
{
    if (!isRoot || !key.values.empty()) {
        out += u'[' + path + QStringLiteral("]\n");
        for (const Value& v : key.values) {
            const QString name =
                v.name.isEmpty() ? QStringLiteral("@") : u'"' + escaped(v.name) + u'"';
            out += name + u'=';
            if (v.type == RegDword) {
                out += QString::asprintf("dword:%08x", v.dword);
            } else if (v.type == RegSz && plainText(v.text)) {
                out += u'"' + escaped(v.text) + u'"';
            } else {
                const QByteArray bytes = v.type == RegSz ? encodeUtf16Le(v.text) : v.bytes;
                const QString tag = v.type == RegBinary ? QStringLiteral("hex:")
                                                        : QString::asprintf("hex(%x):", v.type);
                out += tag;
                writeHex(out, name.size() + 1 + tag.size(), bytes);
            }
            out += u'\n';
        }
        out += u'\n';
    }
    for (const Key& sub : key.subkeys)
        writeKey(out, sub, path + u'\\' + sub.name, false);
}

struct Lines {
    QStringView text;
    qsizetype pos = 0;
    int number = 0;

    std::optional<QStringView> next()
    {
        if (pos >= text.size()) return std::nullopt;
        qsizetype end = text.indexOf(u'\n', pos);
        if (end < 0) end = text.size();
        QStringView line = text.mid(pos, end - pos);
        pos = end + 1;
        ++number;
        if (line.endsWith(u'\r')) line.chop(1);
        return line;
    }
};

bool fail(QString* error, int line, const char* what)
{
    if (error) *error = QStringLiteral("line %1: %2").arg(line).arg(QLatin1String(what));
    return false;
}

bool parseInto(QStringView text, Key& root, QString* error)
{
    Lines lines{text};
    bool headerSeen = false;
    Key* section = nullptr;
    while (const std::optional<QStringView> raw = lines.next()) {
        const QStringView line = raw->trimmed();
        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (!headerSeen) {
            if (line != Header5 && line != Header4)
                return fail(error, lines.number, "not a registry file");
            headerSeen = true;
            continue;
        }
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) return fail(error, lines.number, "unterminated key");
            QStringView inside = line.mid(1, line.size() - 2);
            const bool deletion = inside.startsWith(u'-');
            if (deletion) inside = inside.mid(1);
            QStringList parts = inside.toString().split(u'\\');
            if (!sameName(parts.front(), RootName))
                return fail(error, lines.number, "key outside HKEY_CURRENT_USER");
            parts.removeFirst();
            if (parts.size() > MaxDepth) return fail(error, lines.number, "key nested too deep");
            for (const QString& p : parts)
                if (!validKeyName(p)) return fail(error, lines.number, "bad key name");
            if (deletion) {
                if (parts.isEmpty())
                    return fail(error, lines.number, "cannot delete the hive root");
                root.remove(parts);
                section = nullptr;
            } else {
                section = &root.ensure(parts);
            }
            continue;
        }
        if (line.startsWith(u'"') || line.startsWith(u'@')) {
            if (!section) return fail(error, lines.number, "value outside a key");
            Value value;
            qsizetype pos = 0;
            if (line[0] == u'@') {
                pos = 1;
            } else if (!parseQuoted(line, pos, value.name)) {
                return fail(error, lines.number, "bad value name");
            }
            skipBlanks(line, pos);
            if (pos >= line.size() || line[pos] != u'=')
                return fail(error, lines.number, "missing '='");
            ++pos;
            skipBlanks(line, pos);
            const QStringView data = line.mid(pos);
            if (data == u"-") {
                section->removeValue(value.name);
                continue;
            }
            if (!parseData(
                    data, [&] { return lines.next(); }, value))
                return fail(error, lines.number, "bad value data");
            section->setValue(value);
            continue;
        }
        return fail(error, lines.number, "unexpected text");
    }
    if (!headerSeen) return fail(error, lines.number, "no header");
    return true;
}

} // namespace

Key* Key::findChild(const QString& childName)
{
    return findChildIn(*this, childName);
}
const Key* Key::findChild(const QString& childName) const
{
    return findChildIn(*this, childName);
}

Key& Key::child(const QString& childName)
{
    if (Key* k = findChild(childName)) return *k;
    subkeys.push_back(Key{childName, {}, {}});
    return subkeys.back();
}

bool Key::removeChild(const QString& childName)
{
    const auto it = std::find_if(subkeys.begin(), subkeys.end(),
                                 [&](const Key& k) { return sameName(k.name, childName); });
    if (it == subkeys.end()) return false;
    subkeys.erase(it);
    return true;
}

Value* Key::findValue(const QString& valueName)
{
    return findValueIn(*this, valueName);
}
const Value* Key::findValue(const QString& valueName) const
{
    return findValueIn(*this, valueName);
}

void Key::setValue(const Value& value)
{
    if (Value* v = findValue(value.name)) {
        const QString storedName = v->name;
        *v = value;
        v->name = storedName;
        return;
    }
    values.push_back(value);
}

bool Key::removeValue(const QString& valueName)
{
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const Value& v) { return sameName(v.name, valueName); });
    if (it == values.end()) return false;
    values.erase(it);
    return true;
}

Key* Key::find(const QStringList& path)
{
    Key* k = this;
    for (const QString& part : path)
        if (!(k = k->findChild(part))) return nullptr;
    return k;
}

const Key* Key::find(const QStringList& path) const
{
    const Key* k = this;
    for (const QString& part : path)
        if (!(k = k->findChild(part))) return nullptr;
    return k;
}

Key& Key::ensure(const QStringList& path)
{
    Key* k = this;
    for (const QString& part : path)
        k = &k->child(part);
    return *k;
}

bool Key::remove(const QStringList& path)
{
    if (path.isEmpty()) return false;
    Key* parent = find(path.mid(0, path.size() - 1));
    return parent && parent->removeChild(path.back());
}

bool validKeyName(const QString& name)
{
    if (name.isEmpty() || name.size() > MaxKeyNameLength) return false;
    return std::none_of(name.begin(), name.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c == u'\\'; });
}

bool validValueName(const QString& name)
{
    if (name.size() > MaxValueNameLength) return false;
    return std::none_of(name.begin(), name.end(),
                        [](QChar c) { return c == u'\n' || c == u'\r' || c.unicode() == 0; });
}

std::optional<QString> stringOf(const Value& value)
{
    if (value.type == RegSz) return value.text;
    if (value.type == RegExpandSz) return decodeUtf16Le(value.bytes);
    return std::nullopt;
}

std::optional<quint32> dwordOf(const Value& value)
{
    if (value.type == RegDword) return value.dword;
    return std::nullopt;
}

std::optional<Key> parse(const QByteArray& data, QString* error)
{
    QString text;
    if (data.startsWith("\xFF\xFE")) {
        if (data.size() % 2 != 0) {
            fail(error, 0, "odd length for UTF-16 text");
            return std::nullopt;
        }
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        text = decoder(data.mid(2));
        if (decoder.hasError()) {
            fail(error, 0, "invalid UTF-16 text");
            return std::nullopt;
        }
    } else {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = decoder(data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data);
        if (decoder.hasError()) {
            fail(error, 0, "invalid UTF-8 text");
            return std::nullopt;
        }
    }
    Key root{RootName, {}, {}};
    if (!parseInto(text, root, error)) return std::nullopt;
    return root;
}

QByteArray serialize(const Key& root)
{
    QString out = Header5 + QStringLiteral("\n\n");
    writeKey(out, root, RootName, true);
    return out.toUtf8();
}

} // namespace kad::hive
