#include "app/capture_form.h"

namespace kad {

TCaptureForm::TCaptureForm(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Kadrillo"));
    setFixedSize(700, 459);
}

} // namespace kad
