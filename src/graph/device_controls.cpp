#include "graph/device_controls.h"

#include "graph/crossbar_source.h"
#include "platform/media/gst_ptr.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace kad {

namespace {

class V4l2DeviceControls final : public DeviceControls {
public:
    explicit V4l2DeviceControls(std::unique_ptr<V4l2NodeIoctl> node)
        : node_(std::move(node)), controls_(*node_)
    {
    }
    std::vector<V4l2Control> Controls() override { return controls_.Controls(); }
    std::optional<int> Value(uint32_t id) override { return controls_.Value(id); }
    V4l2Refusal SetValue(const V4l2Control& control, int value) override
    {
        return controls_.SetValue(control, value);
    }
    V4l2Refusal ResetToDefaults() override { return controls_.ResetToDefaults(); }

private:
    std::unique_ptr<V4l2NodeIoctl> node_;
    V4l2Controls controls_;
};

// The properties a virtual device names its controls with, in the order a
// camera driver lists them. A control's id is its place in this list + 1.
constexpr const char* kControlProperties[] = {
    "brightness", "contrast", "saturation", "hue", "monochrome", "power-line-frequency",
};

// A device property as a control; nullopt for a property of another type.
std::optional<V4l2Control> controlOf(GParamSpec* pspec, uint32_t id)
{
    if (!(pspec->flags & G_PARAM_READABLE)) return std::nullopt;
    V4l2Control control;
    control.Id = id;
    control.Name = g_param_spec_get_nick(pspec);
    control.ReadOnly = !(pspec->flags & G_PARAM_WRITABLE);
    if (G_IS_PARAM_SPEC_INT(pspec)) {
        auto* range = G_PARAM_SPEC_INT(pspec);
        control.Kind = V4l2ControlKind::Integer;
        control.Minimum = range->minimum;
        control.Maximum = range->maximum;
        control.Default = range->default_value;
    } else if (G_IS_PARAM_SPEC_BOOLEAN(pspec)) {
        control.Kind = V4l2ControlKind::Boolean;
        control.Maximum = 1;
        control.Default = G_PARAM_SPEC_BOOLEAN(pspec)->default_value ? 1 : 0;
    } else if (G_IS_PARAM_SPEC_ENUM(pspec)) {
        auto* menu = G_PARAM_SPEC_ENUM(pspec);
        control.Kind = V4l2ControlKind::Menu;
        control.Default = menu->default_value;
        control.Minimum = menu->enum_class->minimum;
        control.Maximum = menu->enum_class->maximum;
        for (guint i = 0; i < menu->enum_class->n_values; ++i) {
            const GEnumValue& value = menu->enum_class->values[i];
            control.Items.push_back({value.value, value.value_nick});
        }
    } else {
        return std::nullopt;
    }
    return control;
}

class PropertyControls final : public DeviceControls {
public:
    explicit PropertyControls(GstElement* device) : device_(ElementRef::ref(device)) {}

    std::vector<V4l2Control> Controls() override
    {
        std::vector<V4l2Control> controls;
        for (size_t i = 0; i < std::size(kControlProperties); ++i) {
            if (GParamSpec* pspec = find(static_cast<uint32_t>(i + 1)))
                if (auto control = controlOf(pspec, static_cast<uint32_t>(i + 1)))
                    controls.push_back(std::move(*control));
        }
        return controls;
    }

    std::optional<int> Value(uint32_t id) override
    {
        GParamSpec* pspec = find(id);
        if (!pspec) return std::nullopt;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, pspec->value_type);
        g_object_get_property(G_OBJECT(device_.get()), pspec->name, &value);
        std::optional<int> result;
        if (G_VALUE_HOLDS_INT(&value))
            result = g_value_get_int(&value);
        else if (G_VALUE_HOLDS_BOOLEAN(&value))
            result = g_value_get_boolean(&value) ? 1 : 0;
        else if (G_VALUE_HOLDS_ENUM(&value))
            result = g_value_get_enum(&value);
        g_value_unset(&value);
        return result;
    }

    V4l2Refusal SetValue(const V4l2Control& control, int value) override
    {
        GParamSpec* pspec = find(control.Id);
        if (!pspec) return "\"" + control.Name + "\" is no longer offered by the device.";
        if (!(pspec->flags & G_PARAM_WRITABLE)) return "\"" + control.Name + "\" can only be read.";
        GValue gvalue = G_VALUE_INIT;
        g_value_init(&gvalue, pspec->value_type);
        if (G_IS_PARAM_SPEC_INT(pspec))
            g_value_set_int(&gvalue, value);
        else if (G_IS_PARAM_SPEC_BOOLEAN(pspec))
            g_value_set_boolean(&gvalue, value != 0);
        else
            g_value_set_enum(&gvalue, value);
        // GObject would only warn and keep the old value; say why instead.
        const bool valid = !g_param_value_validate(pspec, &gvalue);
        if (valid) g_object_set_property(G_OBJECT(device_.get()), pspec->name, &gvalue);
        g_value_unset(&gvalue);
        if (!valid)
            return "The device refused the value " + std::to_string(value) + " for \"" +
                   control.Name + "\".";
        return std::nullopt;
    }

    V4l2Refusal ResetToDefaults() override
    {
        std::string text;
        for (const V4l2Control& control : Controls()) {
            if (control.ReadOnly) continue;
            if (auto refusal = SetValue(control, control.Default)) {
                if (!text.empty()) text += '\n';
                text += *refusal;
            }
        }
        if (text.empty()) return std::nullopt;
        return text;
    }

    static bool Offers(GstElement* element)
    {
        for (const char* name : kControlProperties)
            if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), name)) return true;
        return false;
    }

private:
    GParamSpec* find(uint32_t id) const
    {
        if (id == 0 || id > std::size(kControlProperties)) return nullptr;
        return g_object_class_find_property(G_OBJECT_GET_CLASS(device_.get()),
                                            kControlProperties[id - 1]);
    }

    ElementRef device_;
};

} // namespace

std::unique_ptr<DeviceControls> DeviceControlsOf(GstElement* source)
{
    if (!source) return nullptr;
    std::unique_ptr<DeviceControls> controls;
    if (PropertyControls::Offers(source)) {
        controls = std::make_unique<PropertyControls>(source);
    } else if (ElementRef v4l2 = V4l2SourceOf(source)) {
        gchar* device = nullptr;
        g_object_get(v4l2.get(), "device", &device, nullptr);
        GCharPtr path(device);
        if (auto node = path ? V4l2NodeIoctl::Open(path.get()) : nullptr)
            controls = std::make_unique<V4l2DeviceControls>(std::move(node));
    }
    if (controls && controls->Controls().empty()) return nullptr;
    return controls;
}

} // namespace kad
