#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTest>

#include <memory>

#include "ui/capture_form.h"

namespace kad::test {

// A main window with no program behind it: no session and no facts source
// unless a test gives them, nobody hears its intents unless a test listens,
// and the first showing is run by hand.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override { form = std::make_unique<TCaptureForm>(); }
    void TearDown() override { form.reset(); }

    QAction* act(ActionId id) const { return form->Action(id); }

    // Shows the window and waits until it takes keyboard shortcuts.
    bool showActive()
    {
        form->show();
        form->activateWindow();
        return QTest::qWaitForWindowActive(form.get());
    }

    std::unique_ptr<TCaptureForm> form;
};

} // namespace kad::test
