#include "virtual/virtual_picture.h"

namespace kad::picture {

namespace {

constexpr Yuv kBars[8] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                          {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
constexpr Yuv kWhite{235, 128, 128};
constexpr Yuv kBlack{16, 128, 128};
constexpr Yuv kBlue{41, 240, 110};

std::uint32_t hash(std::uint32_t a)
{
    a ^= a >> 16;
    a *= 0x7feb352dU;
    a ^= a >> 15;
    a *= 0x846ca68bU;
    a ^= a >> 16;
    return a;
}

// Each scene tints the bars differently, so a scene change is visible.
Yuv tint(Yuv c, int scene)
{
    const int du = (scene * 37) % 48 - 24;
    const int dv = (scene * 53) % 48 - 24;
    auto clampChroma = [](int v) {
        return static_cast<std::uint8_t>(v < 16 ? 16 : v > 240 ? 240 : v);
    };
    return {c.y, clampChroma(c.u + du), clampChroma(c.v + dv)};
}

Yuv bars(std::uint64_t t, int scene, int x, int y, int w, int h, bool withCounter)
{
    const int box = h / 6;
    const int travel = w - box > 0 ? w - box : 1;
    const int boxX = static_cast<int>((t * 8) % static_cast<std::uint64_t>(travel));
    const int boxY = h / 3 + (scene % 3) * (h / 12);
    if (x >= boxX && x < boxX + box && y >= boxY && y < boxY + box) return kWhite;
    if (withCounter && y >= h - h / 8) {
        // The frame number in sixteen binary cells, most significant first.
        const int cell = x * 16 / w;
        return ((t >> (15 - cell)) & 1) ? kWhite : kBlack;
    }
    return tint(kBars[(x * 8 / w) & 7], scene);
}

} // namespace

Yuv sample(Pattern pattern, std::uint64_t t, int scene, int x, int y, int w, int h)
{
    switch (pattern) {
    case Pattern::Tape:
        return bars(t, scene, x, y, w, h, true);
    case Pattern::BlueScreen:
        return kBlue;
    case Pattern::Camera:
        return bars(t, 0, x, y, w, h, false);
    case Pattern::Tuner: {
        const int stripe = ((y + static_cast<int>(t * 3)) / 24) & 1;
        const auto noise = static_cast<std::uint8_t>(
            hash(static_cast<std::uint32_t>((x / 2) * 7919 + (y / 2) * 104729 + t)) & 63);
        return {static_cast<std::uint8_t>((stripe ? 120 : 60) + noise), 128, 128};
    }
    case Pattern::Composite:
        return bars(t, 1, x, y, w, h, false);
    case Pattern::SVideo: {
        const int cell = 40;
        const int on =
            (((x + static_cast<int>(t * 2)) / cell) + ((y + static_cast<int>(t)) / cell)) & 1;
        return on ? Yuv{200, 90, 150} : Yuv{50, 160, 100};
    }
    }
    return kBlack;
}

bool draw(GstVideoFrame* frame, Pattern pattern, std::uint64_t t, int scene)
{
    const GstVideoFormat format = GST_VIDEO_FRAME_FORMAT(frame);
    const int w = GST_VIDEO_FRAME_WIDTH(frame);
    const int h = GST_VIDEO_FRAME_HEIGHT(frame);
    if (format == GST_VIDEO_FORMAT_YUY2) {
        auto* data = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = data + y * stride;
            for (int x = 0; x + 1 < w; x += 2) {
                const Yuv a = sample(pattern, t, scene, x, y, w, h);
                const Yuv b = sample(pattern, t, scene, x + 1, y, w, h);
                row[x * 2] = a.y;
                row[x * 2 + 1] = a.u;
                row[x * 2 + 2] = b.y;
                row[x * 2 + 3] = a.v;
            }
        }
        return true;
    }
    if (format != GST_VIDEO_FORMAT_I420 && format != GST_VIDEO_FORMAT_Y41B &&
        format != GST_VIDEO_FORMAT_Y42B)
        return false;
    for (int comp = 0; comp < 3; ++comp) {
        auto* data = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(frame, comp));
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(frame, comp);
        const int cw = GST_VIDEO_FRAME_COMP_WIDTH(frame, comp);
        const int ch = GST_VIDEO_FRAME_COMP_HEIGHT(frame, comp);
        const int sx = w / cw;
        const int sy = h / ch;
        for (int cy = 0; cy < ch; ++cy) {
            std::uint8_t* row = data + cy * stride;
            for (int cx = 0; cx < cw; ++cx) {
                const Yuv c = sample(pattern, t, scene, cx * sx, cy * sy, w, h);
                row[cx] = comp == 0 ? c.y : comp == 1 ? c.u : c.v;
            }
        }
    }
    return true;
}

} // namespace kad::picture
