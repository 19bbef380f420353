#include "platform/os/registry.h"

#include "platform/os/registry_hive.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

namespace kad {

namespace {

// No real hive comes near this; anything larger is not a settings file.
constexpr qint64 MaxHiveBytes = 64 * 1024 * 1024;
// Long enough for another process to finish a save, short enough that a
// wedged lock never hangs the program.
int lockWaitMs = 10000;

void complain(const QString& text)
{
    std::fprintf(stderr, "Kadrillo: %s\n", text.toLocal8Bit().constData());
}

enum class HiveState { Missing, Ok, Damaged, Unreadable };

struct LoadResult {
    HiveState state = HiveState::Missing;
    hive::Key root{QStringLiteral("HKEY_CURRENT_USER"), {}, {}};
    QString error;
};

LoadResult loadHive(const QString& file)
{
    LoadResult r;
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink()) return r;
    QFile f(file);
    if (info.isDir() || !f.open(QIODevice::ReadOnly)) {
        r.state = HiveState::Unreadable;
        r.error = info.isDir() ? QStringLiteral("it is a folder") : f.errorString();
        return r;
    }
    if (f.size() > MaxHiveBytes) {
        r.state = HiveState::Damaged;
        r.error = QStringLiteral("the file is far too large");
        return r;
    }
    const QByteArray data = f.readAll();
    if (data.trimmed().isEmpty()) {
        r.state = HiveState::Ok;
        return r;
    }
    if (std::optional<hive::Key> root = hive::parse(data, &r.error)) {
        r.state = HiveState::Ok;
        r.root = std::move(*root);
    } else {
        r.state = HiveState::Damaged;
    }
    return r;
}

// Renames a damaged hive to a name of its own so that nothing ever writes
// over it; the caller holds the lock.
bool moveAside(const QString& file, const QString& why)
{
    const QString base = file + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = base;
    for (int n = 1; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = base + u'-' + QString::number(n);
    if (!QFile::rename(file, target)) {
        complain(QStringLiteral("the settings file %1 cannot be read (%2) and could not be "
                                "moved aside; the settings start from their defaults and "
                                "nothing will be saved over it.")
                     .arg(file, why));
        return false;
    }
    complain(QStringLiteral("the settings file %1 cannot be read (%2); it is kept as %3 and "
                            "the settings start from their defaults.")
                 .arg(file, why, target));
    return true;
}

struct Op {
    enum Kind { CreateKey, SetValue, DeleteValue, DeleteKey } kind;
    QStringList path;
    hive::Value value;
};

void apply(hive::Key& root, const Op& op)
{
    switch (op.kind) {
    case Op::CreateKey:
        root.ensure(op.path);
        break;
    case Op::SetValue:
        root.ensure(op.path).setValue(op.value);
        break;
    case Op::DeleteValue:
        if (hive::Key* k = root.find(op.path)) k->removeValue(op.value.name);
        break;
    case Op::DeleteKey:
        root.remove(op.path);
        break;
    }
}

} // namespace

struct Registry::Impl {
    QString file;
    hive::Key root{QStringLiteral("HKEY_CURRENT_USER"), {}, {}};
    std::vector<Op> pending;
    std::optional<QStringList> current;
    bool toldUnreadable = false;

    // Reads the file again and replays what this accessor has not written yet.
    void reload()
    {
        LoadResult r = loadHive(file);
        if (r.state == HiveState::Damaged) {
            QLockFile lock(file + QStringLiteral(".lock"));
            if (lock.tryLock(lockWaitMs)) {
                r = loadHive(file);
                if (r.state == HiveState::Damaged && moveAside(file, r.error)) r = loadHive(file);
            } else {
                complain(QStringLiteral("the settings file %1 cannot be read (%2); the "
                                        "settings start from their defaults.")
                             .arg(file, r.error));
            }
        }
        if (r.state == HiveState::Unreadable && !toldUnreadable) {
            complain(QStringLiteral("the settings file %1 cannot be read (%2); the settings "
                                    "start from their defaults.")
                         .arg(file, r.error));
            toldUnreadable = true;
        }
        root = r.state == HiveState::Ok ? std::move(r.root) : hive::Key{r.root.name, {}, {}};
        for (const Op& op : pending)
            apply(root, op);
    }

    bool flush()
    {
        if (pending.empty()) return true;
        const QFileInfo info(file);
        if (!QDir().mkpath(info.absolutePath())) {
            complain(QStringLiteral("cannot create the folder of %1.").arg(file));
            return false;
        }
        QLockFile lock(file + QStringLiteral(".lock"));
        if (!lock.tryLock(lockWaitMs)) {
            complain(QStringLiteral("the settings file %1 is locked by another program; "
                                    "the settings were not saved.")
                         .arg(file));
            return false;
        }
        LoadResult r = loadHive(file);
        if (r.state == HiveState::Damaged) {
            if (!moveAside(file, r.error)) return false;
            r = loadHive(file);
        }
        if (r.state != HiveState::Ok && r.state != HiveState::Missing) {
            complain(QStringLiteral("the settings file %1 cannot be read (%2); the settings "
                                    "were not saved.")
                         .arg(file, r.error));
            return false;
        }
        hive::Key merged = std::move(r.root);
        for (const Op& op : pending)
            apply(merged, op);
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(hive::serialize(merged)) < 0 ||
            !out.commit()) {
            complain(QStringLiteral("the settings could not be saved in %1: %2")
                         .arg(file, out.errorString()));
            return false;
        }
        pending.clear();
        root = std::move(merged);
        return true;
    }

    // Key names of `path`, absolute or relative to the open key; empty names
    // from doubled or trailing backslashes are skipped.
    std::optional<QStringList> resolve(const QString& path) const
    {
        QStringList parts;
        if (!path.startsWith(u'\\') && current) parts = *current;
        for (const QString& p : path.split(u'\\', Qt::SkipEmptyParts)) {
            if (!hive::validKeyName(p)) return std::nullopt;
            parts.append(p);
        }
        if (parts.size() > hive::MaxDepth) return std::nullopt;
        return parts;
    }

    const hive::Key* openNode() const { return root.find(current.value_or(QStringList{})); }

    // Writing into a key that was deleted meanwhile fails, as it does in the registry.
    bool write(const hive::Value& value)
    {
        const QStringList path = current.value_or(QStringList{});
        hive::Key* k = root.find(path);
        if (!k || !hive::validValueName(value.name)) return false;
        k->setValue(value);
        pending.push_back({Op::SetValue, path, value});
        return true;
    }
};

Registry::Registry() : Registry(defaultHiveFile()) {}

Registry::Registry(const QString& hiveFile) : d(std::make_unique<Impl>())
{
    d->file = hiveFile;
    d->reload();
}

Registry::~Registry()
{
    d->flush();
}

QString Registry::defaultHiveFile()
{
    const QString over = qEnvironmentVariable("KADRILLO_REGISTRY");
    if (!over.isEmpty()) return over;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Tavrel/registry.reg");
}

void Registry::setLockWait(int milliseconds)
{
    lockWaitMs = milliseconds;
}

QString Registry::hiveFile() const
{
    return d->file;
}

bool Registry::openKey(const QString& path, bool canCreate)
{
    // A relative path is relative to the key open before this call.
    const std::optional<QStringList> parts = d->resolve(path);
    closeKey();
    d->reload();
    if (!parts) return false;
    if (!d->root.find(*parts)) {
        if (!canCreate) return false;
        d->pending.push_back({Op::CreateKey, *parts, {}});
        apply(d->root, d->pending.back());
    }
    d->current = *parts;
    return true;
}

void Registry::closeKey()
{
    d->flush();
    d->current.reset();
}

bool Registry::flush()
{
    return d->flush();
}

bool Registry::hasOpenKey() const
{
    return d->current.has_value();
}

QString Registry::currentPath() const
{
    if (!d->current) return {};
    QString path;
    const hive::Key* k = &d->root;
    for (const QString& part : *d->current) {
        k = k ? k->findChild(part) : nullptr;
        path += u'\\' + (k ? k->name : part);
    }
    return path.isEmpty() ? QStringLiteral("\\") : path;
}

bool Registry::keyExists(const QString& path) const
{
    const std::optional<QStringList> parts = d->resolve(path);
    return parts && d->root.find(*parts);
}

std::optional<quint32> Registry::readDword(const QString& name) const
{
    const hive::Key* k = d->openNode();
    const hive::Value* v = k ? k->findValue(name) : nullptr;
    return v ? hive::dwordOf(*v) : std::nullopt;
}

std::optional<QString> Registry::readString(const QString& name) const
{
    const hive::Key* k = d->openNode();
    const hive::Value* v = k ? k->findValue(name) : nullptr;
    return v ? hive::stringOf(*v) : std::nullopt;
}

bool Registry::valueExists(const QString& name) const
{
    const hive::Key* k = d->openNode();
    return k && k->findValue(name);
}

bool Registry::writeDword(const QString& name, quint32 value)
{
    hive::Value v;
    v.name = name;
    v.type = hive::RegDword;
    v.dword = value;
    return d->write(v);
}

bool Registry::writeString(const QString& name, const QString& value)
{
    hive::Value v;
    v.name = name;
    v.type = hive::RegSz;
    v.text = value;
    return d->write(v);
}

bool Registry::deleteValue(const QString& name)
{
    const QStringList path = d->current.value_or(QStringList{});
    hive::Key* k = d->root.find(path);
    if (!k || !k->findValue(name)) return false;
    k->removeValue(name);
    d->pending.push_back({Op::DeleteValue, path, hive::Value{name, 0, {}, 0, {}}});
    return true;
}

QStringList Registry::subKeyNames() const
{
    QStringList names;
    if (const hive::Key* k = d->openNode())
        for (const hive::Key& sub : k->subkeys)
            names.append(sub.name);
    return names;
}

bool Registry::hasSubKeys() const
{
    const hive::Key* k = d->openNode();
    return k && !k->subkeys.empty();
}

bool Registry::deleteKey(const QString& path)
{
    const std::optional<QStringList> parts = d->resolve(path);
    if (!parts || parts->isEmpty() || !d->root.find(*parts)) return false;
    d->pending.push_back({Op::DeleteKey, *parts, {}});
    apply(d->root, d->pending.back());
    return true;
}

} // namespace kad
