// The picture controls page over a device of the test's making: what it
// shows, what it sends, and what it does when the device says no.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include <map>

#include "ui/device_controls_dialog.h"

using namespace kad;

namespace {

class FakeControls : public DeviceControls {
public:
    explicit FakeControls(std::map<uint32_t, int>& values) : values_(values) {}

    std::vector<V4l2Control> Controls() override
    {
        V4l2Control gain;
        gain.Id = 1;
        gain.Name = "Gain";
        gain.Maximum = 100;
        gain.Default = 10;
        V4l2Control mode;
        mode.Id = 2;
        mode.Name = "Exposure, Auto";
        mode.Kind = V4l2ControlKind::Menu;
        mode.Maximum = 3;
        mode.Default = 3;
        mode.Items = {{1, "Manual Mode"}, {3, "Aperture Priority Mode"}};
        return {gain, mode};
    }
    std::optional<int> Value(uint32_t id) override { return values_.at(id); }
    V4l2Refusal SetValue(const V4l2Control& control, int value) override
    {
        if (busy) return "The device is busy: \"" + control.Name + "\" cannot be changed now.";
        values_[control.Id] = value;
        return std::nullopt;
    }
    V4l2Refusal ResetToDefaults() override
    {
        for (const auto& c : Controls())
            if (auto refusal = SetValue(c, c.Default)) return refusal;
        return std::nullopt;
    }

    static inline bool busy = false;

private:
    std::map<uint32_t, int>& values_;
};

} // namespace

TEST(DeviceControlsDialog, AppliesLiveRestoresRefusedRowsAndResets)
{
    std::map<uint32_t, int> device{{1, 40}, {2, 1}};
    FakeControls::busy = false;
    TDeviceControlsDialog dialog(std::make_unique<FakeControls>(device), nullptr);
    auto* gain = dialog.findChild<QSlider*>(QStringLiteral("Gain"));
    auto* gainSpin = gain ? gain->parentWidget()->findChild<QSpinBox*>() : nullptr;
    auto* mode = dialog.findChild<QComboBox*>(QStringLiteral("Exposure, Auto"));
    ASSERT_NE(gain, nullptr);
    ASSERT_NE(gainSpin, nullptr);
    ASSERT_NE(mode, nullptr);

    // The rows start at the device's values, not at the defaults.
    EXPECT_EQ(gain->value(), 40);
    EXPECT_EQ(mode->currentText(), QStringLiteral("Manual Mode"));

    gainSpin->setValue(55);
    EXPECT_EQ(device[1], 55);
    EXPECT_EQ(gain->value(), 55);
    // The menu sends the driver's index of the entry, not its row.
    mode->setCurrentIndex(1);
    emit mode->activated(1);
    EXPECT_EQ(device[2], 3);
    EXPECT_TRUE(dialog.Refusal().isEmpty());

    FakeControls::busy = true;
    gain->setValue(90);
    EXPECT_EQ(device[1], 55);
    EXPECT_EQ(gain->value(), 55);
    EXPECT_EQ(gainSpin->value(), 55);
    EXPECT_TRUE(dialog.Refusal().contains(QStringLiteral("Gain")));

    FakeControls::busy = false;
    device[2] = 1;
    dialog.findChild<QPushButton*>(QStringLiteral("ResetToDefaults"))->click();
    EXPECT_EQ(device[1], 10);
    EXPECT_EQ(device[2], 3);
    EXPECT_EQ(gain->value(), 10);
    EXPECT_EQ(mode->currentText(), QStringLiteral("Aperture Priority Mode"));
    EXPECT_TRUE(dialog.Refusal().isEmpty());
}
