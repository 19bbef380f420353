#pragma once

#include <QString>
#include <QStringList>

#include <deque>

#include "system/dialogs.h"

namespace kad::test {

// Records every message box and answers questions from a queue (default No).
// Installs itself for its lifetime.
class FakeDialogs final : public Dialogs {
public:
    struct Shown {
        QString kind;
        QString text;
    };

    FakeDialogs() { setDialogs(this); }
    ~FakeDialogs() override { setDialogs(nullptr); }
    FakeDialogs(const FakeDialogs&) = delete;
    FakeDialogs& operator=(const FakeDialogs&) = delete;

    void answer(DialogAnswer a) { answers.push_back(a); }

    DialogAnswer warningYesNo(const QString& t) override { return ask("warningYesNo", t); }
    DialogAnswer questionYesNo(const QString& t) override { return ask("questionYesNo", t); }
    DialogAnswer warningYesNoAll(const QString& t) override { return ask("warningYesNoAll", t); }
    void warning(const QString& t) override { shown.push_back({"warning", t}); }
    void error(const QString& t) override { shown.push_back({"error", t}); }
    void information(const QString& t) override { shown.push_back({"information", t}); }
    void message(const QString& t) override { shown.push_back({"message", t}); }

    std::deque<DialogAnswer> answers;
    std::vector<Shown> shown;

private:
    DialogAnswer ask(const char* kind, const QString& t)
    {
        shown.push_back({kind, t});
        if (answers.empty()) return DialogAnswer::No;
        const DialogAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace kad::test
