#pragma once

// The user's registry hive (HKEY_CURRENT_USER) as a typed store. On Linux the
// whole hive is one UTF-8 text file in the ".reg" export format, rewritten
// atomically (temporary file and rename) under a file lock, so that two
// Kadrillo processes never corrupt it.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace kad {

// An accessor like the toolkit's registry object: it has at most one key open
// at a time. Key paths use backslashes; a path beginning with "\" is absolute
// under HKEY_CURRENT_USER, any other path is relative to the open key.
// Writes reach the hive file when the key is closed (closeKey, opening another
// key, or destroying the accessor), all together, merged under the lock with
// what other processes wrote meanwhile. With no key open, values are read and
// written at the root of the hive. Key and value names compare without regard
// to case; the case they were first stored with is kept.
class Registry {
public:
    // The hive named by KADRILLO_REGISTRY, else $XDG_CONFIG_HOME/Tavrel/registry.reg.
    Registry();
    explicit Registry(const QString& hiveFile);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    static QString defaultHiveFile();
    // How long a save waits for another process's lock (10 s unless changed;
    // tests shorten it).
    static void setLockWait(int milliseconds);
    QString hiveFile() const;

    // Opens `path`; without `canCreate` a missing key is not created and the
    // call fails. Closes the key open before.
    bool openKey(const QString& path, bool canCreate);
    void closeKey();
    // Writes what is pending now (closeKey and the destructor do it too);
    // false, with a message on stderr, when the hive file could not be written.
    bool flush();
    bool hasOpenKey() const;
    // Absolute path of the open key ("\Software\Tavrel\Kadrillo"), or empty.
    QString currentPath() const;
    bool keyExists(const QString& path) const;

    // A missing value, or a value of another type, reads as absent.
    std::optional<quint32> readDword(const QString& name) const;
    // REG_SZ and REG_EXPAND_SZ both count as strings.
    std::optional<QString> readString(const QString& name) const;
    bool valueExists(const QString& name) const;

    bool writeDword(const QString& name, quint32 value);
    bool writeString(const QString& name, const QString& value);
    // False when the value did not exist.
    bool deleteValue(const QString& name);

    // Subkeys of the open key, in stored order.
    QStringList subKeyNames() const;
    bool hasSubKeys() const;
    // Deletes `path` with everything below it; false when it did not exist.
    bool deleteKey(const QString& path);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kad
