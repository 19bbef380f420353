// The date and time inlay through the real graphs: the DV preview links the
// overlay's picture and datecode inputs; the re-encoding captures, which all
// take the picture from behind the overlay, carry the text (judged on frames
// ffmpeg decodes from the files) and type 2 keeps the tape's picture byte
// for byte.

#include "capture_graph_fixture.h"
#include "elements/chronix2.h"
#include "elements/lumatex3.h"
#include "support/edit_options.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <utility>

namespace kad::test {
namespace {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0; // exclusive
    int bottom = 0;
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Luma frames of a video file as ffmpeg decodes them.
struct GrayFrames {
    int width = 0;
    int height = 0;
    std::vector<QByteArray> frames;
};

GrayFrames decodeGray(const QString& name, int count)
{
    GrayFrames g;
    const Probed p = probe(name);
    const ProbedStream* v = p.first("video");
    if (!v || v->width <= 0 || v->height <= 0) return g;
    g.width = v->width;
    g.height = v->height;
    QProcess ff;
    ff.start("ffmpeg", {"-v", "error", "-i", name, "-map", "0:v:0", "-frames:v",
                        QString::number(count), "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    if (!ff.waitForFinished(60000) || ff.exitCode() != 0) return g;
    const QByteArray all = ff.readAllStandardOutput();
    const qsizetype size = qsizetype(g.width) * g.height;
    for (qsizetype at = 0; at + size <= all.size(); at += size)
        g.frames.push_back(all.mid(at, size));
    return g;
}

// Mean absolute difference of two frames outside area.
double meanDifferenceOutside(const QByteArray& a, const QByteArray& b, int width, const Rect& area)
{
    double sum = 0;
    long n = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const int x = int(i % width);
        const int y = int(i / width);
        if (area.contains(x, y)) continue;
        sum += std::abs(int(quint8(a[i])) - int(quint8(b[i])));
        ++n;
    }
    return n ? sum / n : 0;
}

// The 8x8 blocks whose mean difference is above codec noise, inside and
// outside the allowed area.
struct BlockDiff {
    int inside = 0;  // changed blocks inside the allowed area
    int outside = 0; // changed blocks outside it
    std::string firstOutside;
};

BlockDiff changedBlocks(const QByteArray& a, const QByteArray& b, int width, int height,
                        const Rect& allowed, double noise)
{
    BlockDiff d;
    for (int by = 0; by + 8 <= height; by += 8)
        for (int bx = 0; bx + 8 <= width; bx += 8) {
            int sum = 0;
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x) {
                    const qsizetype i = qsizetype(y) * width + x;
                    sum += std::abs(int(quint8(a[i])) - int(quint8(b[i])));
                }
            if (sum / 64.0 <= noise) continue;
            // A block is the codec's unit: one the allowed area reaches may
            // change as a whole.
            const bool in = bx < allowed.right && allowed.left < bx + 8 && by < allowed.bottom &&
                            allowed.top < by + 8;
            if (in) {
                ++d.inside;
            } else {
                if (!d.outside)
                    d.firstOutside = std::to_string(bx) + "," + std::to_string(by) + " mean " +
                                     std::to_string(sum / 64.0);
                ++d.outside;
            }
        }
    return d;
}

class CaptureInlay : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        kadtest::editOptions(cam.Preview(),
                             [&](auto& options) { options.PermettreIncruster = true; });
    }

    GstElement* overlay()
    {
        return cam.FilterGraph().Lumatex.InGraph() ? cam.FilterGraph().Lumatex.Element() : nullptr;
    }

    // The area the overlay last drew into, in the picture it drew on.
    Rect drawnArea()
    {
        Rect r;
        GstStructure* area = nullptr;
        g_object_get(overlay(), "text-area", &area, nullptr);
        if (!area) return r;
        int x = 0, y = 0, w = 0, h = 0;
        gst_structure_get(area, "x", G_TYPE_INT, &x, "y", G_TYPE_INT, &y, "width", G_TYPE_INT, &w,
                          "height", G_TYPE_INT, &h, nullptr);
        gst_structure_free(area);
        return {x, y, x + w, y + h};
    }

    // The size of the picture the overlay draws on.
    std::pair<int, int> overlaidSize()
    {
        PadRef video(gst_element_get_static_pad(overlay(), "video_sink"));
        CapsRef caps(gst_pad_get_current_caps(video.get()));
        int w = 0, h = 0;
        if (caps) {
            gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "width", &w);
            gst_structure_get_int(gst_caps_get_structure(caps.get(), 0), "height", &h);
        }
        return {w, h};
    }

    // Captures format of kind into name with the inlay on or off; the drawn
    // area, widened by 16 pixels and scaled to the file's picture, when on.
    Rect captureWith(Source kind, bool inlay, int format, const QString& name)
    {
        EXPECT_TRUE(preview(kind));
        GstElement* o = overlay();
        EXPECT_NE(o, nullptr);
        if (!o) return {};
        kad_lumatex3_set_text(o, "%N");
        kad_lumatex3_set_date_format(o, "dddddd hh:nn:ss");
        kad_lumatex3_set_enabled(o, inlay ? 1 : 0);
        EXPECT_TRUE(capture(format, name, 30));
        if (!inlay) return {};
        const Rect drawn = drawnArea();
        const auto [width, height] = overlaidSize();
        const Probed p = probe(name);
        const ProbedStream* v = p.first("video");
        EXPECT_TRUE(v && width > 0 && height > 0);
        if (!v || width <= 0 || height <= 0) return {};
        const double sx = double(v->width) / width;
        const double sy = double(v->height) / height;
        return {int(std::floor((drawn.left - 16) * sx)), int(std::floor((drawn.top - 16) * sy)),
                int(std::ceil((drawn.right + 16) * sx)), int(std::ceil((drawn.bottom + 16) * sy))};
    }

    // The text is in the file with the inlay and nowhere else: frame by
    // frame (each matched with the plain file's frame of the same picture),
    // the blocks that differ above codec noise lie inside the widened box.
    void expectTextOnlyInBox(const QString& withText, const QString& plain, const Rect& allowed,
                             double noise)
    {
        const GrayFrames a = decodeGray(withText, 12);
        const GrayFrames b = decodeGray(plain, 40);
        ASSERT_GE(a.frames.size(), 8u) << "too few frames decoded from " << withText.toStdString();
        ASSERT_GE(b.frames.size(), 20u);
        ASSERT_EQ(a.width, b.width);
        ASSERT_EQ(a.height, b.height);
        ASSERT_GT(allowed.right - allowed.left, 32);
        int framesWithText = 0;
        for (std::size_t i = 4; i < a.frames.size(); ++i) {
            // The plain capture began at another frame of the tape: take its
            // frame that looks most alike outside the text.
            std::size_t best = 0;
            double bestDiff = 1e9;
            for (std::size_t j = 0; j < b.frames.size(); ++j) {
                const double d = meanDifferenceOutside(a.frames[i], b.frames[j], a.width, allowed);
                if (d < bestDiff) {
                    bestDiff = d;
                    best = j;
                }
            }
            const BlockDiff d =
                changedBlocks(a.frames[i], b.frames[best], a.width, a.height, allowed, noise);
            EXPECT_EQ(d.outside, 0)
                << "frame " << i << " differs outside the text at " << d.firstOutside;
            framesWithText += d.inside > 10;
        }
        EXPECT_GE(framesWithText, int(a.frames.size()) - 5) << "the text is missing from frames";
    }
};

// The DV preview with inlays allowed: the overlay's picture input is fed by
// the decoder and its datecode input by the datecode element, and the
// picture flows through the overlay with the text drawn.
TEST_F(CaptureInlay, DvPreviewLinksPictureAndDatecode)
{
    ASSERT_TRUE(preview(Source::DvPal));
    GstElement* o = overlay();
    ASSERT_NE(o, nullptr);
    PadRef video(gst_element_get_static_pad(o, "video_sink"));
    PadRef datecode(gst_element_get_static_pad(o, "datecode_sink"));
    kad_lumatex3_set_enabled(o, 1);
    ASSERT_TRUE(waitUntil([&] { return drawnArea().right > 0; }, 20000))
        << "no frame with text passed the overlay";
    ASSERT_TRUE(gst_pad_is_linked(video.get()));
    CapsRef caps(gst_pad_get_current_caps(video.get()));
    ASSERT_TRUE(caps);
    EXPECT_STREQ(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "video/x-raw");
    ASSERT_TRUE(cam.FilterGraph().Presence().ChronixPresent);
    ASSERT_TRUE(gst_pad_is_linked(datecode.get()));
    PadRef peer(gst_pad_get_peer(datecode.get()));
    ElementRef feeder(gst_pad_get_parent_element(peer.get()));
    EXPECT_EQ(feeder.get(), cam.FilterGraph().Chronix.Element())
        << "the datecode comes from elsewhere";

    // The tape's recording date reaches the picture through that link: a
    // short date takes the place of the clock's long one.
    const Rect clock = drawnArea();
    kad_chronix2_set_format(cam.FilterGraph().Chronix.Element(), "dd/mm/yyyy hh:nn:ss");
    kad_chronix2_set_enabled(cam.FilterGraph().Chronix.Element(), 1);
    kad_lumatex3_set_text(o, "%D");
    EXPECT_TRUE(waitUntil(
        [&] {
            const Rect r = drawnArea();
            return r.right > r.left && (r.right - r.left) * 5 < (clock.right - clock.left) * 4;
        },
        20000))
        << "the datecode was never drawn";
    EXPECT_EQ(clock.right, 720) << "the default position puts the text at the right edge";
}

// The analog preview places the overlay on the picture alone.
TEST_F(CaptureInlay, AnalogPreviewWithoutDatecode)
{
    ASSERT_TRUE(preview(Source::Webcam));
    GstElement* o = overlay();
    ASSERT_NE(o, nullptr);
    EXPECT_FALSE(cam.FilterGraph().Chronix.InGraph());
    kad_lumatex3_set_enabled(o, 1);
    EXPECT_TRUE(waitUntil([&] { return drawnArea().right > 0; }, 20000))
        << "no frame with text passed the overlay";
}

TEST_F(CaptureInlay, DvRecompressedCarriesTheText)
{
    const QString plain = file("plain.avi");
    const QString withText = file("inlay.avi");
    captureWith(Source::DvPal, false, 2, plain);
    const Rect allowed = captureWith(Source::DvPal, true, 2, withText);
    expectTextOnlyInBox(withText, plain, allowed, 6.0);
}

// The MPEG-2 source: its preview draws the clock without a datecode, and
// its recompressed capture carries the text.
TEST_F(CaptureInlay, Mpeg2RecompressedCarriesTheText)
{
    const QString plain = file("plain-mpeg.avi");
    const QString withText = file("inlay-mpeg.avi");
    captureWith(Source::Mpeg2, false, 1, plain);
    EXPECT_FALSE(cam.FilterGraph().Chronix.InGraph());
    const Rect allowed = captureWith(Source::Mpeg2, true, 1, withText);
    expectTextOnlyInBox(withText, plain, allowed, 6.0);
}

// Type 2 writes the tape's own frames: with the inlay and the flip on, the
// file's picture is still byte for byte what the camcorder sent.
TEST_F(CaptureInlay, DvType2KeepsTheTapePicture)
{
    const QString sent = file("sent.dv");
    sentLocation = sent;
    ASSERT_TRUE(preview(Source::DvPal));
    GstElement* o = overlay();
    ASSERT_NE(o, nullptr);
    kad_lumatex3_set_flip(o, TRUE);
    kad_lumatex3_set_enabled(o, 1);
    const QString name = file("type2-inlay.avi");
    ASSERT_TRUE(capture(1, name, 20));
    cam.FilterGraph().FreeAllFilters();
    sentLocation.clear();

    const QString video = file("type2-video.dv");
    QProcess ff;
    ff.start("ffmpeg", {"-v", "error", "-y", "-i", name, "-map", "0:v:0", "-c", "copy", "-f",
                        "rawvideo", video});
    ASSERT_TRUE(ff.waitForFinished(60000));
    ASSERT_EQ(ff.exitCode(), 0) << ff.readAllStandardError().toStdString();
    QFile a(video), b(sent);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    const QByteArray written = a.readAll();
    const QByteArray all = b.readAll();
    constexpr qsizetype kPalFrame = 144000;
    ASSERT_GE(written.size(), 20 * kPalFrame);
    ASSERT_EQ(written.size() % kPalFrame, 0);
    // Every frame of the file is one the camcorder sent, unchanged, in order.
    qsizetype from = 0;
    for (qsizetype at = 0; at < written.size(); at += kPalFrame) {
        const qsizetype found = all.indexOf(written.mid(at, kPalFrame), from);
        ASSERT_GE(found, 0) << "frame " << at / kPalFrame << " is not one the camcorder sent";
        from = found + kPalFrame;
    }
}

} // namespace
} // namespace kad::test
