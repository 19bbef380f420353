#pragma once

// The in-memory hive behind kad::Registry and its ".reg" text form. Kept apart
// from the accessor so the parser can be exercised directly with damaged input.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kad::hive {

// Registry value types, numbered as the registry numbers them.
enum : quint32 {
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
};

// Deepest key nesting and longest key name the registry accepts.
inline constexpr int MaxDepth = 512;
inline constexpr int MaxKeyNameLength = 255;
inline constexpr int MaxValueNameLength = 16383;

struct Value {
    QString name;
    quint32 type = RegSz;
    QString text;      // RegSz
    quint32 dword = 0; // RegDword
    QByteArray bytes;  // every other type, kept as found
};

struct Key {
    QString name;
    std::vector<Value> values;
    std::vector<Key> subkeys;

    // Names compare without regard to case; the stored case is kept.
    Key* findChild(const QString& childName);
    const Key* findChild(const QString& childName) const;
    // The existing child of that name, or a new one appended at the end.
    Key& child(const QString& childName);
    bool removeChild(const QString& childName);

    Value* findValue(const QString& valueName);
    const Value* findValue(const QString& valueName) const;
    // Replaces the value of the same name in place (keeping its stored name),
    // else appends it.
    void setValue(const Value& value);
    bool removeValue(const QString& valueName);

    Key* find(const QStringList& path);
    const Key* find(const QStringList& path) const;
    Key& ensure(const QStringList& path);
    bool remove(const QStringList& path);
};

bool validKeyName(const QString& name);
bool validValueName(const QString& name);

// The text of a REG_SZ or REG_EXPAND_SZ value, absent for any other type.
std::optional<QString> stringOf(const Value& value);
std::optional<quint32> dwordOf(const Value& value);

// Parses a whole hive file (UTF-8, or UTF-16LE with its byte-order mark as the
// registry editor exports it). Any fault makes the whole file unreadable: the
// result is empty and `error` says where.
std::optional<Key> parse(const QByteArray& data, QString* error = nullptr);

// The UTF-8 ".reg" text of the hive rooted at `root` (HKEY_CURRENT_USER).
QByteArray serialize(const Key& root);

} // namespace kad::hive
