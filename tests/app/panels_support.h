#pragma once

// Helpers shared by the panel tests.

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include "ui/panel_controls_widget.h"

namespace kad::test {

// The main window's font, given to a panel on its own so the rest of the
// test program keeps the default.
inline void useWindowFont(QWidget* panel)
{
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(11);
    panel->setFont(arial);
}

// Lays the panel out in its place and checks that every visible text shows
// whole and inside the place.
inline void expectFitsPanelPlace(QWidget* panel, const QSize& place = kPanelSize)
{
    // Settle the layout of the arrangement first, then take the place.
    panel->show();
    QApplication::processEvents();
    panel->resize(place);
    QApplication::processEvents();
    const QRect bounds(QPoint(0, 0), place);
    const auto children = panel->findChildren<QWidget*>();
    for (QWidget* w : children) {
        // The in-field buttons of line edits belong to the edit.
        if (!w->isVisibleTo(panel) || qobject_cast<QLineEdit*>(w->parentWidget())) continue;
        const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                          qobject_cast<QGroupBox*>(w);
        if (!text) continue;
        const QRect r(w->mapTo(panel, QPoint(0, 0)), w->size());
        EXPECT_TRUE(bounds.contains(r))
            << panel->objectName().toStdString() << ": " << w->metaObject()->className() << " '"
            << w->property("text").toString().toStdString()
            << w->property("title").toString().toStdString() << "' lies outside the panel place at "
            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
        const QSize need = w->minimumSizeHint();
        EXPECT_GE(w->width(), need.width())
            << panel->objectName().toStdString() << ": '"
            << w->property("text").toString().toStdString()
            << w->property("title").toString().toStdString() << "' is clipped";
        EXPECT_GE(w->height(), need.height())
            << panel->objectName().toStdString() << ": '"
            << w->property("text").toString().toStdString()
            << w->property("title").toString().toStdString() << "' is cut in height";
    }
    panel->hide();
}

} // namespace kad::test
