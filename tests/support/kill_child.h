#pragma once

// A capture killed outright (SIGKILL) while it runs. The test program starts
// itself again running one test only, the child, which captures and prints
// what it has done so far as "kad-<name> <number>" lines; the parent reads
// them and kills the child at the moment it wants, then reads the files the
// child left.

#include "elements/file_writer.h"
#include "platform/media/gst_ptr.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kadtest {

// In the child: tells the parent one figure. Flushed at once, since the
// child never ends on its own.
inline void tellParent(const char* name, unsigned long long value)
{
    std::printf("kad-%s %llu\n", name, value);
    std::fflush(stdout);
}

// In the child: tells the parent, as "kad-synced <number>", the field
// `field` ("frames" or "bytes") of every file-synced message posted on
// `bus`. Told from the posting thread, so a busy test thread delays nothing.
// `field` must outlive the bus.
inline void tellSyncs(GstBus* bus, const char* field)
{
    gst_bus_enable_sync_message_emission(bus);
    g_signal_connect(bus, "sync-message::element",
                     G_CALLBACK(+[](GstBus*, GstMessage* message, gpointer data) {
                         const GstStructure* s = gst_message_get_structure(message);
                         guint64 value = 0;
                         if (gst_structure_has_name(s, kad::filewriter::kFileSynced) &&
                             gst_structure_get_uint64(s, static_cast<const char*>(data), &value))
                             tellParent("synced", value);
                     }),
                     const_cast<char*>(field));
}

// In the child: plays `pipeline`, telling each sync's `field`, until the
// parent kills the process. An error, or still being alive after `seconds`,
// fails the child.
inline void playUntilKilled(GstElement* pipeline, const char* field, int seconds)
{
    kad::BusRef bus(gst_element_get_bus(pipeline));
    tellSyncs(bus.get(), field);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        kad::MessageRef msg(
            gst_bus_timed_pop_filtered(bus.get(), 20 * GST_MSECOND, GST_MESSAGE_ERROR));
        if (!msg) continue;
        GError* err = nullptr;
        gst_message_parse_error(msg.get(), &err, nullptr);
        ADD_FAILURE() << "child capture error: " << (err ? err->message : "?");
        if (err) g_error_free(err);
        break;
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    ADD_FAILURE() << "the child capture was not killed";
}

// What the parent learnt of a child it killed.
struct KilledChild {
    bool started = false;
    bool runningAtKill = false; // false: it ended on its own, or never started
    std::string errors;         // the child's standard error
    std::map<std::string, long long> told;

    // The last figure the child told under `name`; -1 when it told none.
    long long last(const std::string& name) const
    {
        const auto it = told.find(name);
        return it == told.end() ? -1 : it->second;
    }
};

// Starts this test program again with `env` added to its environment,
// running only the test `childTest` ("Suite.Name"), and kills it (SIGKILL)
// as soon as `enough` holds for what it told, or after `seconds`, or when it
// ended on its own.
inline KilledChild killChildWhen(const char* childTest,
                                 const std::vector<std::pair<QString, QString>>& env,
                                 const std::function<bool(const KilledChild&)>& enough, int seconds)
{
    KilledChild k;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : env)
        environment.insert(name, value);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=") + QLatin1String(childTest)});
    k.started = child.waitForStarted(10000);
    if (!k.started) return k;
    QByteArray pending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!enough(k) && std::chrono::steady_clock::now() < deadline &&
           child.state() == QProcess::Running) {
        child.waitForReadyRead(100);
        pending += child.readAllStandardOutput();
        qsizetype nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(nl).trimmed();
            pending.remove(0, nl + 1);
            const qsizetype space = line.indexOf(' ');
            if (line.startsWith("kad-") && space > 4)
                k.told[line.mid(4, space - 4).toStdString()] = line.mid(space + 1).toLongLong();
        }
    }
    k.runningAtKill = child.state() == QProcess::Running;
    child.kill();
    child.waitForFinished(10000);
    k.errors = child.readAllStandardError().toStdString();
    return k;
}

} // namespace kadtest
