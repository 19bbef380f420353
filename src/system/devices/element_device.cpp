#include "system/devices/element_device.h"

struct _KadElementDevice {
    GstDevice parent;
    gchar* factoryName;
    GstStructure* elementProperties;
};

G_DEFINE_TYPE(KadElementDevice, kad_element_device, GST_TYPE_DEVICE)

namespace {

GstElement* createElement(GstDevice* device, const gchar* name)
{
    KadElementDevice* self = KAD_ELEMENT_DEVICE(device);
    GstElement* element = gst_element_factory_make(self->factoryName, name);
    if (!element || !self->elementProperties) return element;
    const gint count = gst_structure_n_fields(self->elementProperties);
    for (gint i = 0; i < count; ++i) {
        const gchar* field = gst_structure_nth_field_name(self->elementProperties, i);
        GParamSpec* pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), field);
        const GValue* value = gst_structure_get_value(self->elementProperties, field);
        if (!pspec || !value || !g_value_type_transformable(G_VALUE_TYPE(value), pspec->value_type))
            continue;
        g_object_set_property(G_OBJECT(element), field, value);
    }
    return element;
}

void finalize(GObject* object)
{
    KadElementDevice* self = KAD_ELEMENT_DEVICE(object);
    g_free(self->factoryName);
    if (self->elementProperties) gst_structure_free(self->elementProperties);
    G_OBJECT_CLASS(kad_element_device_parent_class)->finalize(object);
}

} // namespace

static void kad_element_device_class_init(KadElementDeviceClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GST_DEVICE_CLASS(klass)->create_element = createElement;
}

static void kad_element_device_init(KadElementDevice* self)
{
    self->factoryName = nullptr;
    self->elementProperties = nullptr;
}

GstDevice* kad_element_device_new(const gchar* displayName, const gchar* deviceClass,
                                  const GstCaps* caps, const GstStructure* deviceProperties,
                                  const gchar* factoryName, const GstStructure* elementProperties)
{
    auto* self = static_cast<KadElementDevice*>(
        g_object_new(KAD_TYPE_ELEMENT_DEVICE, "display-name", displayName, "device-class",
                     deviceClass, "caps", caps, "properties", deviceProperties, nullptr));
    self->factoryName = g_strdup(factoryName);
    self->elementProperties = elementProperties ? gst_structure_copy(elementProperties) : nullptr;
    return GST_DEVICE(self);
}
