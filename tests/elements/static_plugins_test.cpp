// The program's two static plugins: the production elements alone in
// "kadrillo", the virtual devices alone in "kadrillovirtual", so the program
// can leave the second out without losing anything it ships.

#include <gtest/gtest.h>

#include <gst/gst.h>

#include <set>
#include <string>

#include "elements/plugin.h"
#include "platform/media/gst_ptr.h"
#include "virtual/virtual_plugin.h"

namespace {

struct Features {
    std::set<std::string> names;
    int deviceProviders = 0;
};

Features featuresOf(const char* plugin)
{
    Features f;
    GList* list = gst_registry_get_feature_list_by_plugin(gst_registry_get(), plugin);
    for (GList* l = list; l != nullptr; l = l->next) {
        auto* feature = GST_PLUGIN_FEATURE(l->data);
        f.names.insert(gst_plugin_feature_get_name(feature));
        if (GST_IS_DEVICE_PROVIDER_FACTORY(feature)) ++f.deviceProviders;
    }
    gst_plugin_feature_list_free(list);
    return f;
}

} // namespace

TEST(StaticPlugins, ProductionAndVirtualDevicesRegisterApart)
{
    // The test program registered both already; again is harmless.
    EXPECT_TRUE(kad::registerElements());
    EXPECT_TRUE(kad::registerVirtualDevices());

    const Features production = featuresOf("kadrillo");
    const Features simulated = featuresOf("kadrillovirtual");
    ASSERT_FALSE(production.names.empty());
    ASSERT_FALSE(simulated.names.empty());

    EXPECT_EQ(production.deviceProviders, 0) << "a device provider among the production elements";
    for (const std::string& name : production.names)
        EXPECT_EQ(name.find("virtual"), std::string::npos) << name << " in the production plugin";

    EXPECT_EQ(simulated.deviceProviders, 1);
    for (const std::string& name : simulated.names) {
        EXPECT_NE(name.find("virtual"), std::string::npos) << name << " in the virtual plugin";
        EXPECT_EQ(production.names.count(name), 0u) << name << " in both plugins";
    }

    // Every element of the virtual plugin can be made, so none of them
    // relies on something only the production plugin used to bring along.
    for (const std::string& name : simulated.names) {
        const kad::GRef<GstElementFactory> factory(gst_element_factory_find(name.c_str()));
        if (!factory) continue;
        const auto element =
            kad::ElementRef::sink(gst_element_factory_create(factory.get(), nullptr));
        EXPECT_TRUE(element) << name;
    }
}
