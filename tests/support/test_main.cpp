#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#ifdef KADRILLO_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#ifdef KADRILLO_TEST_MEDIA
#include <gst/gst.h>

#include "elements/plugin.h"
#endif

int main(int argc, char** argv)
{
    // Tests never read or write the user's own settings, state or log, nor
    // another test's: CTest runs them side by side, each in its own process,
    // and a log named after the second it began would be shared.
    QTemporaryDir home;
    if (!home.isValid()) return 2;
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
        const QString dir = home.filePath(QString::fromLatin1(var).toLower());
        QDir().mkpath(dir);
        qputenv(var, QFile::encodeName(dir));
    }
    qputenv("KADRILLO_REGISTRY", QFile::encodeName(home.filePath("registry.reg")));
#ifdef KADRILLO_TEST_GUI
    // CTest lists the tests by running the program without the tests'
    // environment; without a display that must not abort.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    ::testing::InitGoogleTest(&argc, argv);
#ifdef KADRILLO_TEST_MEDIA
    gst_init(&argc, &argv);
    kad::registerElements();
#endif
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
