// The Dump's file appears with its first data, and what it wrote reaches the
// disk on its own while the stream stands still.

#include <gtest/gtest.h>

#include <QFileInfo>

#include <atomic>
#include <chrono>

#include "elements/dv_avi_writer_helpers.h"
#include "support/scratch_folder.h"

using namespace kadtest;

namespace {

using DumpWriterFiles = ScratchFolder<>;

TEST_F(DumpWriterFiles, NoDataMakesNoFileAndACutBeforeAnyDataStartsInTheNewName)
{
    // Started, given no buffer, ended: nothing on disk.
    const std::string none = path("none.mpg");
    kad::ElementRef idle = launch("fakesrc num-buffers=0 ! kaddump location=" + none);
    const RunResult r = runPipeline(idle.get());
    EXPECT_TRUE(r.eos);
    EXPECT_FALSE(r.error) << r.message;
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(none)));

    // A cut asked before the first buffer: the first name never holds
    // anything, so it is never made; the stream starts in the second.
    const std::string first = path("first.bin");
    const std::string second = path("second.bin");
    kad::ElementRef p = launch("fakesrc num-buffers=5 sizetype=fixed sizemax=100 filltype=zero ! "
                               "identity name=gate ! kaddump name=d location=" +
                               first);
    kad::ElementRef gate(gst_bin_get_by_name(GST_BIN(p.get()), "gate"));
    kad::PadRef gateOut(gst_element_get_static_pad(gate.get(), "src"));
    std::atomic<bool> held{false};
    const gulong block = gst_pad_add_probe(
        gateOut.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER),
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            static_cast<std::atomic<bool>*>(data)->store(true);
            return GST_PAD_PROBE_OK;
        },
        &held, nullptr);
    kad::ElementRef d(gst_bin_get_by_name(GST_BIN(p.get()), "d"));
    bool asked = false;
    const RunResult cut = runPipeline(p.get(), [&] {
        if (asked || !held) return;
        asked = true;
        g_object_set(d.get(), "next-location", second.c_str(), nullptr);
        gst_pad_remove_probe(gateOut.get(), block);
    });
    EXPECT_TRUE(asked);
    EXPECT_TRUE(cut.eos) << cut.message;
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(first)));
    EXPECT_EQ(QFileInfo(QString::fromStdString(second)).size(), 500);
    bool switched = false;
    for (const auto& m : cut.elementMessages) {
        if (!gst_structure_has_name(m.get(), "kad-file-switched")) continue;
        switched = true;
        EXPECT_STREQ(gst_structure_get_string(m.get(), "new-location"), second.c_str());
        guint64 bytes = 1;
        gst_structure_get_uint64(m.get(), "bytes", &bytes);
        EXPECT_EQ(bytes, 0u);
    }
    EXPECT_TRUE(switched);
}

// Three buffers, then the source holds still: the syncer says the three
// are on disk without waiting for the end.
TEST_F(DumpWriterFiles, WhatWasWrittenIsSyncedWhileTheStreamStandsStill)
{
    const std::string out = path("still.bin");
    kad::ElementRef p = launch("fakesrc num-buffers=3 sizetype=fixed sizemax=4096 filltype=zero ! "
                               "identity name=gate ! kaddump name=d sync-interval=100000000 "
                               "location=" +
                               out);
    ASSERT_TRUE(p);
    kad::ElementRef gate(gst_bin_get_by_name(GST_BIN(p.get()), "gate"));
    kad::PadRef gateOut(gst_element_get_static_pad(gate.get(), "src"));
    // The end of stream is held back: the writer sees no more data, and no
    // end either, for as long as the test looks.
    const gulong hold = holdBackEndOfStream(gateOut.get());
    kad::BusRef bus(gst_element_get_bus(p.get()));
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    guint64 synced = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (synced < 3 * 4096 && std::chrono::steady_clock::now() < deadline) {
        kad::MessageRef m(gst_bus_timed_pop_filtered(
            bus.get(), 50 * GST_MSECOND, GstMessageType(GST_MESSAGE_ELEMENT | GST_MESSAGE_ERROR)));
        if (!m) continue;
        ASSERT_NE(GST_MESSAGE_TYPE(m.get()), GST_MESSAGE_ERROR);
        const GstStructure* s = gst_message_get_structure(m.get());
        if (!gst_structure_has_name(s, "kad-file-synced")) continue;
        EXPECT_STREQ(gst_structure_get_string(s, "location"), out.c_str());
        gst_structure_get_uint64(s, "bytes", &synced);
    }
    EXPECT_EQ(synced, 3u * 4096u);
    EXPECT_EQ(QFileInfo(QString::fromStdString(out)).size(), 3 * 4096);
    gst_pad_remove_probe(gateOut.get(), hold);
    gst_element_set_state(p.get(), GST_STATE_NULL);
}

} // namespace
