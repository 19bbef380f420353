#include "platform/os/registry.h"
#include "platform/os/registry_hive.h"
#include "registry_helpers.h"

#include <QLockFile>

#include <sys/wait.h>
#include <unistd.h>

using kad::Registry;
using RegistryConcurrency = kad::test::HiveTest;

namespace {

const QString Kad = QStringLiteral("\\Software\\Tavrel\\Kadrillo");

} // namespace

TEST_F(RegistryConcurrency, TwoAccessorsMergeTheirWrites)
{
    Registry a(hive());
    Registry b(hive());
    ASSERT_TRUE(a.openKey(Kad, true));
    ASSERT_TRUE(b.openKey(Kad, true));
    a.writeDword(QStringLiteral("From A"), 1);
    b.writeDword(QStringLiteral("From B"), 2);
    b.writeString(QStringLiteral("Shared"), QStringLiteral("b"));
    a.writeString(QStringLiteral("Shared"), QStringLiteral("a"));
    ASSERT_TRUE(a.flush());
    ASSERT_TRUE(b.flush());

    Registry c(hive());
    ASSERT_TRUE(c.openKey(Kad, false));
    EXPECT_EQ(c.readDword(QStringLiteral("From A")), 1u);
    EXPECT_EQ(c.readDword(QStringLiteral("From B")), 2u);
    // The later save wins for a value both wrote.
    EXPECT_EQ(c.readString(QStringLiteral("Shared")), QStringLiteral("b"));
    // A deletion by one accessor is not undone by the other's later save.
    ASSERT_TRUE(c.deleteKey(QStringLiteral("\\Software\\Tavrel\\Kadrillo")));
    c.closeKey();
    ASSERT_TRUE(a.openKey(QStringLiteral("\\Software\\Other"), true));
    a.closeKey();
    Registry d(hive());
    EXPECT_FALSE(d.keyExists(Kad));
    EXPECT_TRUE(d.keyExists(QStringLiteral("\\Software\\Other")));
}

TEST_F(RegistryConcurrency, ProcessesWritingAtOnceLoseNothing)
{
    constexpr int Children = 4;
    constexpr int WritesEach = 25;
    std::vector<pid_t> pids;
    for (int c = 0; c < Children; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < WritesEach; ++i) {
                Registry reg(hive());
                ok = ok && reg.openKey(Kad + QStringLiteral("\\Child %1").arg(c), true);
                ok = ok && reg.writeDword(QStringLiteral("Value %1").arg(i), quint32(c * 1000 + i));
                ok = ok && reg.writeString(QStringLiteral("Durée %1").arg(i), QStringLiteral("é"));
                reg.closeKey();
                ok = ok && reg.flush();
            }
            _exit(ok ? 0 : 1);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    ASSERT_TRUE(kad::hive::parse(hiveBytes()).has_value());
    Registry reg(hive());
    for (int c = 0; c < Children; ++c) {
        ASSERT_TRUE(reg.openKey(Kad + QStringLiteral("\\Child %1").arg(c), false));
        for (int i = 0; i < WritesEach; ++i) {
            EXPECT_EQ(reg.readDword(QStringLiteral("Value %1").arg(i)), quint32(c * 1000 + i));
            EXPECT_EQ(reg.readString(QStringLiteral("durée %1").arg(i)), QStringLiteral("é"));
        }
    }
    EXPECT_TRUE(otherFiles().isEmpty()) << otherFiles().join(u' ').toStdString();
}

TEST_F(RegistryConcurrency, ALockLeftByADeadProcessDoesNotBlockSaving)
{
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        QLockFile lock(hive() + QStringLiteral(".lock"));
        lock.tryLock(0);
        _exit(0); // dies holding it
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(QFileInfo::exists(hive() + QStringLiteral(".lock")));

    Registry reg(hive());
    ASSERT_TRUE(reg.openKey(Kad, true));
    reg.writeDword(QStringLiteral("Top"), 7);
    EXPECT_TRUE(reg.flush());
    EXPECT_EQ(Registry(hive()).keyExists(Kad), true);
}
