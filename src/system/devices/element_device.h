#pragma once

// A GstDevice that makes its source element from a factory name and a set of
// element properties. Devices that no GStreamer device provider lists (the
// FireWire DV camcorders, bound as dv1394src guid=...) are presented this way
// so that every device binds through gst_device_create_element().

#include <gst/gst.h>

G_BEGIN_DECLS

#define KAD_TYPE_ELEMENT_DEVICE (kad_element_device_get_type())
G_DECLARE_FINAL_TYPE(KadElementDevice, kad_element_device, KAD, ELEMENT_DEVICE, GstDevice)

// Returns a new device (floating, like every GstObject). deviceProperties
// holds the device's own properties ("device.path", "device.description");
// elementProperties the properties set on every element it creates, by field
// name; both are copied and may be null. caps may be null.
GstDevice* kad_element_device_new(const gchar* displayName, const gchar* deviceClass,
                                  const GstCaps* caps, const GstStructure* deviceProperties,
                                  const gchar* factoryName, const GstStructure* elementProperties);

G_END_DECLS
