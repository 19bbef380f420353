#pragma once

// `StatusBar1`: four sunken panels of width 175 with centred texts.
// Panel 0 belongs to the intervalometer, 1 shows the state, 2 and 3 the
// sources and free space or the frame counters.

#include <QWidget>

#include <array>

class QLabel;

namespace kad {

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 4;
    static constexpr int kPanelWidth = 175;

    explicit TStatusBar(QWidget* parent = nullptr);

    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::array<QLabel*, kPanelCount> panels_{};
};

} // namespace kad
