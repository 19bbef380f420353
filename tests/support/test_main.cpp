#include <gtest/gtest.h>

#include <QDir>
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
    // Tests never read or write the user's own settings, state or log.
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
        const QByteArray dir = qgetenv(var);
        if (!dir.isEmpty()) QDir().mkpath(QString::fromLocal8Bit(dir));
    }
#ifdef KADRILLO_TEST_GUI
    // Test discovery runs the executable without the tests' environment;
    // windows never need a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
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
