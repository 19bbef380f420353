#include "graph/device_controls.h"

#include "graph/crossbar_source.h"
#include "platform/media/gst_ptr.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <set>
#include <string>

namespace kad {

namespace {

class V4l2DeviceControls final : public DeviceControls {
public:
    explicit V4l2DeviceControls(std::unique_ptr<V4l2Ioctl> node)
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
    std::unique_ptr<V4l2Ioctl> node_;
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
    // v4l2src names a few controls as properties too, but only the node
    // itself lists them all.
    if (V4l2SourceOf(source)) {
        if (auto node = V4l2PortOf(source))
            controls = std::make_unique<V4l2DeviceControls>(std::move(node));
    } else if (PropertyControls::Offers(source)) {
        controls = std::make_unique<PropertyControls>(source);
    }
    if (controls && controls->Controls().empty()) return nullptr;
    return controls;
}

std::unique_ptr<V4l2Ioctl> V4l2PortOf(GstElement* source)
{
    ElementRef v4l2 = V4l2SourceOf(source);
    if (!v4l2) return nullptr;
    gchar* device = nullptr;
    g_object_get(v4l2.get(), "device", &device, nullptr);
    GCharPtr path(device);
    return path ? OpenV4l2Port(path.get()) : nullptr;
}

namespace {

// No device comes near this many formats; a template's ranges could.
constexpr size_t kMaxChoices = 256;

// The raw formats a V4L2 pixel format is delivered as by v4l2src.
const char* rawFormatOf(uint32_t fourCC)
{
    switch (fourCC) {
    case V4L2_PIX_FMT_YUYV:
        return "YUY2";
    case V4L2_PIX_FMT_UYVY:
        return "UYVY";
    case V4L2_PIX_FMT_YVYU:
        return "YVYU";
    case V4L2_PIX_FMT_YUV420:
        return "I420";
    case V4L2_PIX_FMT_YVU420:
        return "YV12";
    case V4L2_PIX_FMT_NV12:
        return "NV12";
    case V4L2_PIX_FMT_NV21:
        return "NV21";
    case V4L2_PIX_FMT_GREY:
        return "GRAY8";
    case V4L2_PIX_FMT_RGB24:
        return "RGB";
    case V4L2_PIX_FMT_BGR24:
        return "BGR";
    case V4L2_PIX_FMT_RGB565:
        return "RGB16";
    default:
        return nullptr;
    }
}

std::string rateText(int num, int den)
{
    char text[32];
    if (den == 1)
        std::snprintf(text, sizeof text, "%d fps", num);
    else
        std::snprintf(text, sizeof text, "%.2f fps", double(num) / den);
    return text;
}

void addVideoChoice(std::vector<FormatChoice>& choices, std::set<std::string>& seen,
                    const char* name, const char* format, int width, int height, int num, int den)
{
    if (width <= 0 || height <= 0 || num <= 0 || den <= 0 || choices.size() >= kMaxChoices) return;
    GstCaps* caps = gst_caps_new_simple(name, "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                                        height, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    if (format) gst_caps_set_simple(caps, "format", G_TYPE_STRING, format, nullptr);
    CapsRef owned(caps);
    GCharPtr text(gst_caps_to_string(caps));
    if (!seen.insert(text.get()).second) return;
    const std::string kind = format ? format : "MJPEG";
    choices.push_back({kind + " " + std::to_string(width) + " x " + std::to_string(height) + ", " +
                           rateText(num, den),
                       std::move(owned)});
}

// The values of an integer field: each of a list, the two ends of a range.
std::vector<int> intsOf(const GValue* value)
{
    std::vector<int> ints;
    if (!value) return ints;
    if (G_VALUE_HOLDS_INT(value)) {
        ints.push_back(g_value_get_int(value));
    } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        ints.push_back(gst_value_get_int_range_max(value));
        if (gst_value_get_int_range_min(value) != gst_value_get_int_range_max(value))
            ints.push_back(gst_value_get_int_range_min(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            for (int v : intsOf(gst_value_list_get_value(value, i)))
                ints.push_back(v);
    }
    return ints;
}

std::vector<std::pair<int, int>> fractionsOf(const GValue* value)
{
    std::vector<std::pair<int, int>> fractions;
    if (!value) return fractions;
    auto add = [&fractions](const GValue* f) {
        const int num = gst_value_get_fraction_numerator(f);
        const int den = gst_value_get_fraction_denominator(f);
        if (num > 0 && den > 0) fractions.emplace_back(num, den);
    };
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        add(value);
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        add(gst_value_get_fraction_range_max(value));
        add(gst_value_get_fraction_range_min(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            for (const auto& f : fractionsOf(gst_value_list_get_value(value, i)))
                fractions.push_back(f);
    }
    return fractions;
}

std::vector<std::string> stringsOf(const GValue* value)
{
    std::vector<std::string> strings;
    if (!value) return strings;
    if (G_VALUE_HOLDS_STRING(value)) {
        strings.emplace_back(g_value_get_string(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            for (auto& v : stringsOf(gst_value_list_get_value(value, i)))
                strings.push_back(std::move(v));
    }
    return strings;
}

std::vector<PadRef> sourcePadsOf(GstElement* element)
{
    std::vector<PadRef> pads;
    GST_OBJECT_LOCK(element);
    for (GList* l = element->srcpads; l; l = l->next)
        pads.push_back(PadRef::ref(GST_PAD(l->data)));
    GST_OBJECT_UNLOCK(element);
    return pads;
}

// What a source pad can deliver, with the restriction in force lifted: the
// choices must not shrink to the one chosen last.
CapsRef offeredCaps(GstPad* pad);

// The first source pad that can deliver media of this kind.
PadRef firstPadOf(GstElement* source, const char* wanted)
{
    CapsRef want(gst_caps_from_string(wanted));
    for (PadRef& pad : sourcePadsOf(source)) {
        CapsRef caps = offeredCaps(pad.get());
        if (caps && !gst_caps_is_any(caps.get()) && gst_caps_can_intersect(caps.get(), want.get()))
            return std::move(pad);
    }
    return {};
}

std::vector<FormatChoice> videoFormatsOfCaps(GstCaps* caps)
{
    std::vector<FormatChoice> choices;
    std::set<std::string> seen;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        GstCapsFeatures* features = gst_caps_get_features(caps, i);
        if (features &&
            !gst_caps_features_is_equal(features, GST_CAPS_FEATURES_MEMORY_SYSTEM_MEMORY))
            continue;
        const bool jpeg = gst_structure_has_name(s, "image/jpeg");
        if (!jpeg && !gst_structure_has_name(s, "video/x-raw")) continue;
        std::vector<std::string> formats = stringsOf(gst_structure_get_value(s, "format"));
        if (jpeg) formats = {std::string()};
        const auto widths = intsOf(gst_structure_get_value(s, "width"));
        const auto heights = intsOf(gst_structure_get_value(s, "height"));
        const auto rates = fractionsOf(gst_structure_get_value(s, "framerate"));
        // A range's two ends go together: the largest size with the largest.
        const bool paired = widths.size() == heights.size() &&
                            GST_VALUE_HOLDS_INT_RANGE(gst_structure_get_value(s, "width"));
        for (const auto& format : formats)
            for (size_t w = 0; w < widths.size(); ++w)
                for (size_t h = 0; h < heights.size(); ++h) {
                    if (paired && w != h) continue;
                    for (const auto& [num, den] : rates)
                        addVideoChoice(choices, seen, gst_structure_get_name(s),
                                       jpeg ? nullptr : format.c_str(), widths[w], heights[h], num,
                                       den);
                }
    }
    return choices;
}

std::vector<FormatChoice> videoFormatsOfNode(V4l2Ioctl& port)
{
    std::vector<FormatChoice> choices;
    std::set<std::string> seen;
    for (const V4l2Format& format : V4l2Controls(port).Formats()) {
        const bool jpeg = format.FourCC == V4L2_PIX_FMT_MJPEG || format.FourCC == V4L2_PIX_FMT_JPEG;
        const char* raw = rawFormatOf(format.FourCC);
        // A format v4l2src would deliver as something else cannot be asked for.
        if (!jpeg && !raw) continue;
        for (const V4l2FrameSize& size : format.Sizes)
            for (const V4l2FrameRate& rate : size.Rates)
                addVideoChoice(choices, seen, jpeg ? "image/jpeg" : "video/x-raw", raw, size.Width,
                               size.Height, rate.Numerator, rate.Denominator);
    }
    return choices;
}

// Sample rates offered out of a range.
constexpr int kUsualRates[] = {96000, 48000, 44100, 32000, 22050, 16000, 11025, 8000};

std::vector<int> ratesOf(const GValue* value)
{
    if (value && GST_VALUE_HOLDS_INT_RANGE(value)) {
        std::vector<int> rates;
        for (int rate : kUsualRates)
            if (rate >= gst_value_get_int_range_min(value) &&
                rate <= gst_value_get_int_range_max(value))
                rates.push_back(rate);
        return rates;
    }
    return intsOf(value);
}

std::vector<int> channelsOf(const GValue* value)
{
    if (value && GST_VALUE_HOLDS_INT_RANGE(value)) {
        std::vector<int> counts;
        for (int n : {2, 1})
            if (n >= gst_value_get_int_range_min(value) && n <= gst_value_get_int_range_max(value))
                counts.push_back(n);
        if (counts.empty()) counts.push_back(gst_value_get_int_range_min(value));
        return counts;
    }
    return intsOf(value);
}

constexpr const char* kRestrictionKey = "kad-format-restriction";
// Set while the settings ask what a source could deliver without its restriction.
thread_local bool unrestrictedQuery = false;
constexpr const char* kProbeKey = "kad-format-probe";

// Narrows the answer of every caps query through the pad, the pad's own
// element asking downstream as much as downstream asking the pad.
GstPadProbeReturn narrowCaps(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (unrestrictedQuery || !query || GST_QUERY_TYPE(query) != GST_QUERY_CAPS ||
        !gst_query_is_writable(query))
        return GST_PAD_PROBE_OK;
    GstCaps* result = nullptr;
    gst_query_parse_caps_result(query, &result);
    if (!result) return GST_PAD_PROBE_OK;
    CapsRef narrowed(
        gst_caps_intersect_full(result, static_cast<GstCaps*>(data), GST_CAPS_INTERSECT_FIRST));
    gst_query_set_caps_result(query, narrowed.get());
    return GST_PAD_PROBE_OK;
}

void unrefCaps(gpointer caps)
{
    gst_caps_unref(static_cast<GstCaps*>(caps));
}

CapsRef offeredCaps(GstPad* pad)
{
    // The query runs on this thread from start to end, the proxies of a bin
    // included, so the probes can tell it apart.
    unrestrictedQuery = true;
    CapsRef caps(gst_pad_query_caps(pad, nullptr));
    unrestrictedQuery = false;
    return caps;
}

constexpr const char* kVolumeProperty = "volume";
constexpr const char* kMuteProperty = "mute";

GParamSpec* propertyOf(GstElement* element, const char* name, GType type)
{
    GParamSpec* pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), name);
    if (!pspec || pspec->value_type != type ||
        (pspec->flags & G_PARAM_READWRITE) != G_PARAM_READWRITE)
        return nullptr;
    return pspec;
}

class SoundControls final : public DeviceControls {
public:
    SoundControls(GstElement* source, std::shared_ptr<SoundSettings> memory)
        : source_(ElementRef::ref(source)), memory_(std::move(memory))
    {
    }

    std::vector<V4l2Control> Controls() override
    {
        std::vector<V4l2Control> controls;
        if (propertyOf(source_.get(), kVolumeProperty, G_TYPE_DOUBLE)) {
            V4l2Control volume;
            volume.Id = kVolume;
            volume.Name = "Volume";
            volume.Maximum = 100;
            volume.Default = 100;
            controls.push_back(volume);
        }
        if (propertyOf(source_.get(), kMuteProperty, G_TYPE_BOOLEAN)) {
            V4l2Control mute;
            mute.Id = kMute;
            mute.Name = "Mute";
            mute.Kind = V4l2ControlKind::Boolean;
            mute.Maximum = 1;
            controls.push_back(mute);
        }
        return controls;
    }

    std::optional<int> Value(uint32_t id) override
    {
        if (id == kVolume && propertyOf(source_.get(), kVolumeProperty, G_TYPE_DOUBLE)) {
            gdouble volume = 0;
            g_object_get(source_.get(), kVolumeProperty, &volume, nullptr);
            return static_cast<int>(std::lround(volume * 100));
        }
        if (id == kMute && propertyOf(source_.get(), kMuteProperty, G_TYPE_BOOLEAN)) {
            gboolean mute = FALSE;
            g_object_get(source_.get(), kMuteProperty, &mute, nullptr);
            return mute ? 1 : 0;
        }
        return std::nullopt;
    }

    V4l2Refusal SetValue(const V4l2Control& control, int value) override
    {
        if (value < control.Minimum || value > control.Maximum)
            return "The device refused the value " + std::to_string(value) + " for \"" +
                   control.Name + "\".";
        if (control.Id == kVolume) {
            GParamSpec* pspec = propertyOf(source_.get(), kVolumeProperty, G_TYPE_DOUBLE);
            if (!pspec) return "The sound source no longer offers a volume.";
            const double wanted = std::min(value / 100.0, G_PARAM_SPEC_DOUBLE(pspec)->maximum);
            g_object_set(source_.get(), kVolumeProperty, wanted, nullptr);
            if (memory_) memory_->VolumePercent = value;
            return std::nullopt;
        }
        if (control.Id == kMute) {
            if (!propertyOf(source_.get(), kMuteProperty, G_TYPE_BOOLEAN))
                return "The sound source can no longer be muted.";
            g_object_set(source_.get(), kMuteProperty, value != 0, nullptr);
            if (memory_) memory_->Mute = value != 0;
            return std::nullopt;
        }
        return "\"" + control.Name + "\" is no longer offered by the sound source.";
    }

    V4l2Refusal ResetToDefaults() override
    {
        for (const V4l2Control& control : Controls())
            if (auto refusal = SetValue(control, control.Default)) return refusal;
        return std::nullopt;
    }

private:
    static constexpr uint32_t kVolume = 1;
    static constexpr uint32_t kMute = 2;
    ElementRef source_;
    std::shared_ptr<SoundSettings> memory_;
};

} // namespace

std::vector<FormatChoice> VideoFormatsOf(GstElement* source)
{
    if (!source) return {};
    if (auto port = V4l2PortOf(source)) {
        auto choices = videoFormatsOfNode(*port);
        if (!choices.empty()) return choices;
    }
    PadRef pad = firstPadOf(source, "video/x-raw; image/jpeg");
    if (!pad) return {};
    CapsRef caps = offeredCaps(pad.get());
    return caps ? videoFormatsOfCaps(caps.get()) : std::vector<FormatChoice>{};
}

std::vector<FormatChoice> AudioFormatsOf(GstElement* source)
{
    std::vector<FormatChoice> choices;
    PadRef pad = source ? firstPadOf(source, "audio/x-raw") : PadRef{};
    CapsRef caps = pad ? offeredCaps(pad.get()) : CapsRef{};
    if (!caps) return choices;
    std::set<std::pair<int, int>> seen;
    for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps.get(), i);
        if (!gst_structure_has_name(s, "audio/x-raw")) continue;
        for (int rate : ratesOf(gst_structure_get_value(s, "rate")))
            for (int channels : channelsOf(gst_structure_get_value(s, "channels"))) {
                if (rate <= 0 || channels <= 0 || !seen.insert({rate, channels}).second ||
                    choices.size() >= kMaxChoices)
                    continue;
                CapsRef fixed(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, rate,
                                                  "channels", G_TYPE_INT, channels, nullptr));
                choices.push_back({std::to_string(rate) + " Hz, " +
                                       (channels == 1   ? std::string("mono")
                                        : channels == 2 ? std::string("stereo")
                                                        : std::to_string(channels) + " channels"),
                                   std::move(fixed)});
            }
    }
    return choices;
}

bool HasSeparatePreviewOutput(GstElement* source)
{
    if (!source) return false;
    CapsRef video(gst_caps_from_string("video/x-raw; image/jpeg"));
    int outputs = 0;
    for (const PadRef& pad : sourcePadsOf(source)) {
        CapsRef caps = offeredCaps(pad.get());
        if (caps && !gst_caps_is_any(caps.get()) && gst_caps_can_intersect(caps.get(), video.get()))
            ++outputs;
    }
    return outputs > 1;
}

void RestrictSourceFormat(GstElement* source, GstCaps* caps)
{
    if (!source) return;
    for (const PadRef& pad : sourcePadsOf(source)) {
        auto* object = G_OBJECT(pad.get());
        if (const auto probe = GPOINTER_TO_SIZE(g_object_get_data(object, kProbeKey)))
            gst_pad_remove_probe(pad.get(), probe);
        g_object_set_data(object, kProbeKey, nullptr);
        g_object_set_data(object, kRestrictionKey, nullptr);
        if (!caps) continue;
        g_object_set_data_full(object, kRestrictionKey, gst_caps_ref(caps), unrefCaps);
        const gulong probe = gst_pad_add_probe(
            pad.get(),
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_QUERY_BOTH | GST_PAD_PROBE_TYPE_PULL),
            narrowCaps, gst_caps_ref(caps), unrefCaps);
        g_object_set_data(object, kProbeKey, GSIZE_TO_POINTER(probe));
    }
}

CapsRef SourceFormatRestriction(GstElement* source)
{
    if (!source) return {};
    for (const PadRef& pad : sourcePadsOf(source))
        if (auto* caps =
                static_cast<GstCaps*>(g_object_get_data(G_OBJECT(pad.get()), kRestrictionKey)))
            return CapsRef::ref(caps);
    return {};
}

std::unique_ptr<DeviceControls> AudioControlsOf(GstElement* source,
                                                std::shared_ptr<SoundSettings> memory)
{
    if (!source) return nullptr;
    auto controls = std::make_unique<SoundControls>(source, std::move(memory));
    if (controls->Controls().empty()) return nullptr;
    return controls;
}

void ApplySoundSettings(GstElement* source, const SoundSettings& settings)
{
    if (!source) return;
    if (settings.VolumePercent || settings.Mute) {
        SoundControls controls(source, nullptr);
        for (const V4l2Control& control : controls.Controls()) {
            if (control.Kind == V4l2ControlKind::Integer && settings.VolumePercent)
                controls.SetValue(control, *settings.VolumePercent);
            if (control.Kind == V4l2ControlKind::Boolean && settings.Mute)
                controls.SetValue(control, *settings.Mute ? 1 : 0);
        }
    }
    if (settings.Format) RestrictSourceFormat(source, settings.Format.get());
}

} // namespace kad
