#include "ui/message_dialog.h"

#include <QApplication>
#include <QMessageBox>

namespace kad {

namespace {

QMessageBox::StandardButton ask(QWidget* owner, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, QApplication::applicationDisplayName(), text, buttons, owner);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

DialogAnswer toAnswer(QMessageBox::StandardButton b)
{
    switch (b) {
    case QMessageBox::Yes:
        return DialogAnswer::Yes;
    case QMessageBox::YesToAll:
        return DialogAnswer::YesToAll;
    case QMessageBox::Ok:
        return DialogAnswer::Ok;
    default:
        return DialogAnswer::No;
    }
}

} // namespace

DialogAnswer TMessageDialogs::warningYesNo(const QString& text)
{
    return toAnswer(ask(owner_, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::Yes));
}

DialogAnswer TMessageDialogs::questionYesNo(const QString& text)
{
    return toAnswer(ask(owner_, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::Yes));
}

DialogAnswer TMessageDialogs::warningYesNoAll(const QString& text)
{
    return toAnswer(ask(owner_, QMessageBox::Warning, text,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll,
                        QMessageBox::Yes));
}

void TMessageDialogs::warning(const QString& text)
{
    ask(owner_, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

void TMessageDialogs::error(const QString& text)
{
    ask(owner_, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void TMessageDialogs::information(const QString& text)
{
    ask(owner_, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void TMessageDialogs::message(const QString& text)
{
    ask(owner_, QMessageBox::NoIcon, text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace kad
