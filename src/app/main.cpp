#include <QApplication>

#include <gst/gst.h>

#include "app/capture_form.h"
#include "elements/plugin.h"

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    kad::registerElements();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kadrillo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kadrillo"));

    kad::TCaptureForm form;
    form.show();
    return QApplication::exec();
}
