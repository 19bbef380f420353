#include "graph/crossbar_webcam.h"

#include <cstring>
#include <iterator>

namespace kad {

namespace {

// The webcam names the physical type of each input in "input-types".
struct TypeName {
    const char* name;
    long type;
};
constexpr TypeName kTypeNames[] = {
    {"video-tuner", PhysConn_Video_Tuner}, {"composite", PhysConn_Video_Composite},
    {"svideo", PhysConn_Video_SVideo},     {"rgb", PhysConn_Video_RGB},
    {"yryby", PhysConn_Video_YRYBY},       {"scart", PhysConn_Video_SCART},
    {"usb", PhysConn_Video_USB},           {"1394", PhysConn_Video_1394},
    {"aux", PhysConn_Video_AUX},
};

// Without "input-types", inputs are taken to be in the usual card order.
constexpr long kDefaultTypes[] = {PhysConn_Video_Tuner, PhysConn_Video_Composite,
                                  PhysConn_Video_SVideo};

constexpr int kMaxInputs = 16;

GParamSpec* inputSpec(GstElement* element)
{
    if (!element) return nullptr;
    GParamSpec* pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "input");
    if (!pspec || !(pspec->flags & G_PARAM_WRITABLE) ||
        (pspec->value_type != G_TYPE_INT && pspec->value_type != G_TYPE_UINT))
        return nullptr;
    return pspec;
}

long typeNamed(const char* name)
{
    for (const TypeName& t : kTypeNames) {
        if (g_ascii_strcasecmp(t.name, name) == 0) return t.type;
    }
    return 0;
}

} // namespace

WebcamCrossbar::WebcamCrossbar(GstElement* webcam) : webcam_(ElementRef::ref(webcam))
{
    GParamSpec* pspec = inputSpec(webcam);
    if (!pspec) return;
    GParamSpec* typesSpec = g_object_class_find_property(G_OBJECT_GET_CLASS(webcam), "input-types");
    if (typesSpec && typesSpec->value_type == G_TYPE_STRV) {
        gchar** names = nullptr;
        g_object_get(webcam, "input-types", &names, nullptr);
        for (gchar** n = names; n && *n && types_.size() < kMaxInputs; ++n)
            types_.push_back(typeNamed(*n));
        g_strfreev(names);
        return;
    }
    const gint64 count = pspec->value_type == G_TYPE_UINT
                             ? static_cast<gint64>(G_PARAM_SPEC_UINT(pspec)->maximum) + 1
                             : static_cast<gint64>(G_PARAM_SPEC_INT(pspec)->maximum) + 1;
    for (gint64 i = 0; i < count && i < kMaxInputs; ++i)
        types_.push_back(i < static_cast<gint64>(std::size(kDefaultTypes))
                             ? kDefaultTypes[i]
                             : static_cast<long>(PhysConn_Video_AUX));
}

bool WebcamCrossbar::Handles(GstElement* element)
{
    return inputSpec(element) != nullptr;
}

bool WebcamCrossbar::PinCounts(int& outputs, int& inputs)
{
    outputs = 1;
    inputs = static_cast<int>(types_.size());
    return true;
}

bool WebcamCrossbar::PinInfo(bool isInput, int index, int& related, long& physicalType)
{
    related = -1;
    if (!isInput) {
        if (index != 0) return false;
        physicalType = PhysConn_Video_VideoDecoder;
        return true;
    }
    if (index < 0 || index >= static_cast<int>(types_.size())) return false;
    physicalType = types_[static_cast<size_t>(index)];
    return true;
}

bool WebcamCrossbar::CanRoute(int output, int input)
{
    return output == 0 && input >= 0 && input < static_cast<int>(types_.size());
}

bool WebcamCrossbar::Route(int output, int input)
{
    GParamSpec* pspec = inputSpec(webcam_.get());
    if (!pspec || !CanRoute(output, input)) return false;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, pspec->value_type);
    if (pspec->value_type == G_TYPE_UINT)
        g_value_set_uint(&value, static_cast<guint>(input));
    else
        g_value_set_int(&value, input);
    g_object_set_property(G_OBJECT(webcam_.get()), "input", &value);
    g_value_unset(&value);
    return true;
}

CrossbarUpstream WebcamCrossbar::InputUpstream(int)
{
    return {};
}

std::optional<int> WebcamCrossbar::RoutedInput(int output)
{
    GParamSpec* pspec = inputSpec(webcam_.get());
    if (!pspec || output != 0) return std::nullopt;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, pspec->value_type);
    g_object_get_property(G_OBJECT(webcam_.get()), "input", &value);
    const int input = pspec->value_type == G_TYPE_UINT ? static_cast<int>(g_value_get_uint(&value))
                                                       : g_value_get_int(&value);
    g_value_unset(&value);
    return input;
}

} // namespace kad
