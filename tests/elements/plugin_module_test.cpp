// The loadable plugin as other GStreamer programs see it: gst-inspect-1.0
// and gst-launch-1.0 find the production elements through GST_PLUGIN_PATH,
// and the virtual devices are not among them.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

// build/tests/test_elements -> build/plugins
QString pluginFolder()
{
    return QDir(QCoreApplication::applicationDirPath() + "/../plugins").absolutePath();
}

struct ToolRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
};

// Runs a GStreamer tool with the build's plugin folder and a registry of
// its own, so no cached registry of another build answers for ours.
ToolRun runTool(const QString& tool, const QStringList& args, const QString& registry)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GST_PLUGIN_PATH", pluginFolder());
    env.insert("GST_REGISTRY", registry);
    p.setProcessEnvironment(env);
    p.start(tool, args);
    ToolRun r;
    r.finished = p.waitForFinished(60000);
    if (!r.finished) p.kill();
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return r;
}

} // namespace

TEST(PluginModule, InspectAndLaunchFindTheProductionElements)
{
    ASSERT_TRUE(QFileInfo::exists(pluginFolder() + "/libgstkadrillo.so"))
        << "no plugin in " << pluginFolder().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString registry = dir.filePath("registry.bin");

    const ToolRun overlay = runTool("gst-inspect-1.0", {"kadlumatex3"}, registry);
    ASSERT_TRUE(overlay.finished);
    EXPECT_EQ(overlay.exitCode, 0) << overlay.out.toStdString();
    EXPECT_TRUE(overlay.out.contains("Tavrel Lumatex3"));
    EXPECT_TRUE(overlay.out.contains("libgstkadrillo.so"));
    EXPECT_TRUE(overlay.out.contains("set-position"));

    const ToolRun plugin = runTool("gst-inspect-1.0", {"kadrillo"}, registry);
    ASSERT_TRUE(plugin.finished);
    EXPECT_EQ(plugin.exitCode, 0) << plugin.out.toStdString();
    for (const char* element : {"kadlumatex3", "kadhorodex", "kadsmarttee", "kaddvaviwriter",
                                "kaddump", "kadsamplegrabber", "kaddisplaysink"})
        EXPECT_TRUE(plugin.out.contains(element)) << element << " missing";
    EXPECT_FALSE(plugin.out.contains("virtual")) << "virtual devices in the loadable plugin";

    const ToolRun launch = runTool("gst-launch-1.0",
                                   {"-q", "videotestsrc", "num-buffers=5", "!",
                                    "video/x-raw,format=I420,width=320,height=240", "!",
                                    "kadlumatex3", "enabled=1", "flip=true", "!", "fakesink"},
                                   registry);
    ASSERT_TRUE(launch.finished);
    EXPECT_EQ(launch.exitCode, 0) << launch.out.toStdString();
}
