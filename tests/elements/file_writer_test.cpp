#include <gtest/gtest.h>

#include <gst/gst.h>

#include <atomic>

#include "elements/file_writer.h"
#include "platform/media/gst_ptr.h"
#include "support/wait.h"

namespace {

namespace fw = kad::filewriter;

constexpr const char* kWriters[] = {"kaddump", "kaddvaviwriter", "kadaviwriter"};

kad::ElementRef make(const char* factory)
{
    return kad::ElementRef::sink(gst_element_factory_make(factory, nullptr));
}

// The capture graph drives the three writers through the same names: a
// default that drifts on one of them breaks the cut or the sync report for
// that format only.
TEST(FileWriterCommon, EveryWriterOffersTheSameSwitchingControls)
{
    for (const char* factory : kWriters) {
        SCOPED_TRACE(factory);
        kad::ElementRef writer = make(factory);
        ASSERT_TRUE(writer);
        GObjectClass* klass = G_OBJECT_GET_CLASS(writer.get());
        GParamSpec* sync = g_object_class_find_property(klass, "sync-interval");
        ASSERT_NE(sync, nullptr);
        EXPECT_EQ(G_PARAM_SPEC_UINT64(sync)->default_value, 5 * GST_SECOND);

        // Short intervals are raised to the floor, 0 stays "never".
        g_object_set(writer.get(), "sync-interval", guint64(1), nullptr);
        guint64 interval = 0;
        g_object_get(writer.get(), "sync-interval", &interval, nullptr);
        EXPECT_EQ(interval, fw::kMinSyncInterval);
        g_object_set(writer.get(), "sync-interval", guint64(0), nullptr);
        g_object_get(writer.get(), "sync-interval", &interval, nullptr);
        EXPECT_EQ(interval, 0u);

        // Both AVI writers cut their files at 1 GiB unless told otherwise.
        if (GParamSpec* limit = g_object_class_find_property(klass, "riff-limit"))
            EXPECT_EQ(G_PARAM_SPEC_UINT64(limit)->default_value, guint64(1) << 30);
        else
            EXPECT_STREQ(factory, "kaddump");
    }
}

// Taking the pending cut is one step: the first caller gets it, the next
// one learns that nothing is pending any more.
TEST(FileWriterCommon, TakeNextLocationHandsThePendingCutOutOnce)
{
    for (const char* factory : {"kaddvaviwriter", "kadaviwriter"}) {
        SCOPED_TRACE(factory);
        kad::ElementRef writer = make(factory);
        ASSERT_TRUE(writer);
        g_object_set(writer.get(), "next-location", "/tmp/next.avi", nullptr);
        gchar* taken = nullptr;
        g_signal_emit_by_name(writer.get(), "take-next-location", &taken);
        EXPECT_STREQ(taken, "/tmp/next.avi");
        g_free(taken);
        gchar* again = reinterpret_cast<gchar*>(1);
        g_signal_emit_by_name(writer.get(), "take-next-location", &again);
        EXPECT_EQ(again, nullptr);
        gchar* next = reinterpret_cast<gchar*>(1);
        g_object_get(writer.get(), "next-location", &next, nullptr);
        EXPECT_EQ(next, nullptr);
    }
}

// A writer without a file name refuses to start with a message a user can
// read, whichever writer it is.
TEST(FileWriterCommon, StartingWithoutALocationIsARefusalNotACrash)
{
    for (const char* factory : kWriters) {
        SCOPED_TRACE(factory);
        kad::ElementRef writer = make(factory);
        ASSERT_TRUE(writer);
        kad::BusRef bus(gst_bus_new());
        gst_element_set_bus(writer.get(), bus.get());
        EXPECT_EQ(gst_element_set_state(writer.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        kad::MessageRef error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        ASSERT_TRUE(error);
        GError* gerror = nullptr;
        gst_message_parse_error(error.get(), &gerror, nullptr);
        EXPECT_TRUE(g_error_matches(gerror, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND));
        EXPECT_NE(gerror->message, nullptr);
        g_error_free(gerror);
        gst_element_set_state(writer.get(), GST_STATE_NULL);
    }
}

// The syncer ticks under the owner's lock until stopped, and stopping
// joins it: nothing runs once stop() returned, and a syncer that never
// started stops at once.
TEST(FileWriterCommon, SyncerTicksUnderTheLockAndStopsForGood)
{
    struct Owner {
        GMutex lock;
        GCond wake;
        std::atomic<int> ticks{0};
        std::atomic<bool> lockHeld{true};
    } owner;
    g_mutex_init(&owner.lock);
    g_cond_init(&owner.wake);
    kad::ElementRef element = make("fakesink");
    fw::Syncer syncer;
    syncer.bind(
        &owner.lock, &owner.wake,
        [](gpointer data) {
            auto* o = static_cast<Owner*>(data);
            // The lock is held: trying it from here must fail.
            if (g_mutex_trylock(&o->lock)) {
                o->lockHeld = false;
                g_mutex_unlock(&o->lock);
            }
            ++o->ticks;
        },
        &owner);
    syncer.stop();

    g_mutex_lock(&owner.lock);
    syncer.arm(10 * G_TIME_SPAN_MILLISECOND);
    g_mutex_unlock(&owner.lock);
    ASSERT_TRUE(syncer.start(element.get(), "kadtestsync"));
    EXPECT_TRUE(kadtest::waitUntil([&] { return owner.ticks >= 3; }, 5000));
    syncer.stop();
    const int stopped = owner.ticks;
    kadtest::pump(50);
    EXPECT_EQ(owner.ticks, stopped);
    EXPECT_TRUE(owner.lockHeld);

    g_cond_clear(&owner.wake);
    g_mutex_clear(&owner.lock);
}

} // namespace
