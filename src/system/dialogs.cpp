#include "system/dialogs.h"

#include <cstdio>

namespace kad {

namespace {

class HeadlessDialogs final : public Dialogs {
public:
    DialogAnswer warningYesNo(const QString& text) override
    {
        return say("warning", text, DialogAnswer::No);
    }
    DialogAnswer questionYesNo(const QString& text) override
    {
        return say("question", text, DialogAnswer::No);
    }
    DialogAnswer warningYesNoAll(const QString& text) override
    {
        return say("warning", text, DialogAnswer::No);
    }
    void warning(const QString& text) override { say("warning", text, DialogAnswer::Ok); }
    void error(const QString& text) override { say("error", text, DialogAnswer::Ok); }
    void information(const QString& text) override { say("information", text, DialogAnswer::Ok); }
    void message(const QString& text) override { say("message", text, DialogAnswer::Ok); }

private:
    static DialogAnswer say(const char* kind, const QString& text, DialogAnswer answer)
    {
        std::fprintf(stderr, "Kadrillo %s: %s\n", kind, text.toLocal8Bit().constData());
        return answer;
    }
};

HeadlessDialogs headless;
Dialogs* installed = nullptr;

} // namespace

Dialogs& dialogs()
{
    return installed ? *installed : headless;
}

void setDialogs(Dialogs* d)
{
    installed = d;
}

} // namespace kad
