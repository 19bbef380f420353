#include "elements/display_sink.h"

#include "elements/raw_video_formats.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

GST_DEBUG_CATEGORY_STATIC(display_sink_debug);
#define GST_CAT_DEFAULT display_sink_debug

namespace {

// The shown picture made in one pass straight from the decoder's own 8-bit
// YUV (planar, semi-planar or packed), reading only what the shown size
// needs: for each shown row, the source rows around it in its own field are
// mixed (a plain pass over whole rows, sixteen samples at a time), then each
// shown pixel mixes the luma samples around it and takes the nearest colour
// samples, and a fixed-point colour matrix turns them into RGB (eight pixels
// at a time on SSE2, through tables elsewhere). Nothing is converted or
// copied at the source's size: a PAL frame shown at 384 x 288 costs about
// 0.17 ms, against 0.34 ms for the library's scaling pass followed by its
// conversion of the small picture. Each shown sample mixes the two source
// samples around its centre, or, where the picture is shown at half its
// size or less, all the samples it covers, so that fine detail and noise do
// not alias.
class OnePassScaler {
public:
    // Readies the tables for frames of in shown as out (RGBx). False when
    // in is not 8-bit YUV of three components.
    bool prepare(const GstVideoInfo& in, const GstVideoInfo& out);
    void scale(const GstVideoFrame& from, GstVideoFrame& to);

private:
    // For one plane, the source rows each shown row mixes (taps of them,
    // their weights in 1/256 making 256).
    struct PlaneRows {
        gint taps = 1;
        std::vector<gint> rows;
        std::vector<guint16> weights;
        gint bytes = 0;            // bytes of a row that samples are read from
        std::vector<guint8> mixed; // the mixed row
        // The rows mixed into one shown row and their weights.
        std::vector<const guint8*> sources;
        std::vector<guint16> used;
    };
    void prepareRows(PlaneRows& rows, gint sourceRows, bool fields);
    void prepareColours(const GstVideoInfo& in);
    const guint8* rowOf(PlaneRows& rows, gint y, const guint8* plane, gint stride);
    template <gint LumaTaps, gint ChromaTaps>
    void scaleRow(const guint8* luma, const guint8* u, const guint8* v, guint8* pixel) const;

    bool ready_ = false;
    GstVideoInfo in_{};
    gint width_ = 0;
    gint height_ = 0;
    PlaneRows planes_[GST_VIDEO_MAX_PLANES];
    guint plane_[3] = {};
    // For each shown column: the byte offsets in a row of its first luma,
    // U and V samples; the others follow them a step apart, weighing
    // weights / 256.
    gint lumaTaps_ = 1;
    gint chromaTaps_ = 1;
    gint lumaStep_ = 1;
    gint uStep_ = 1;
    gint vStep_ = 1;
    std::vector<gint> lumaX_, chromaU_, chromaV_;
    std::vector<guint16> lumaWeights_, chromaWeights_;
    // Fixed point, 16 bits of fraction.
    gint32 luma_[256] = {}, redV_[256] = {}, greenU_[256] = {}, greenV_[256] = {}, blueU_[256] = {};
#if defined(__SSE2__)
    void scaleRowVector(const guint8* luma, const guint8* u, const guint8* v, guint8* pixel);
    // One shown row's samples gathered side by side, eight shown pixels
    // more than the row so that the vector pass never reads past them.
    std::vector<guint8> pairs_, u_, v_; // pairs_: each pixel's two luma samples
    std::vector<guint16> keep_, take_;  // the weights of each pair's two samples
    // The colour matrix for the vector pass: luma less black times
    // lumaGain_ / 2^14, colour less 128 times twice the others / 2^14.
    guint16 lumaBlack_ = 16;
    guint16 lumaGain_ = 0;
    gint16 redV2_ = 0, greenU2_ = 0, greenV2_ = 0, blueU2_ = 0;
#endif
};

// How each of shown samples reads a line of size source samples spread over
// the same length: from sample first[i] on, taps samples weighing
// weights[i * taps + k] / 256. A shown sample mixes the two source samples
// around its centre; shown at half the size or less, it mixes the samples
// it covers, each by how much of it it covers, or, covering more than
// kMostCovered of them (a thumbnail), the kMostCovered around its centre
// alike. Every sample read is in the line.
struct LineTaps {
    gint taps = 1;
    std::vector<gint> first;
    std::vector<guint16> weights;
};

constexpr gint kMostCovered = 8;

LineTaps tapsOf(gint shown, gint size)
{
    LineTaps line;
    const bool covers = size >= 2 * shown;
    // Shown sample i spans source samples [i * size / shown, (i + 1) * size /
    // shown): at most this many of them.
    line.taps =
        std::min(size, covers ? std::min((size + shown - 1) / shown + 1, kMostCovered + 1) : 2);
    line.first.resize(shown);
    line.weights.assign(gsize(shown) * line.taps, 0);
    for (gint i = 0; i < shown; ++i) {
        guint16* w = &line.weights[gsize(i) * line.taps];
        if (covers) {
            // In 1/256 of a source sample.
            const gint64 from = gint64(i) * size * 256 / shown;
            const gint64 to = gint64(i + 1) * size * 256 / shown;
            if (to - from > kMostCovered * 256) {
                const gint centre = static_cast<gint>((from + to) / 2 >> 8);
                line.first[i] = std::clamp(centre - kMostCovered / 2, 0, size - line.taps);
                for (gint k = 0; k < kMostCovered; ++k)
                    w[k] = 256 / kMostCovered;
                continue;
            }
            const gint first = std::min(static_cast<gint>(from >> 8), size - line.taps);
            line.first[i] = first;
            gint given = 0;
            for (gint k = 0; k < line.taps; ++k) {
                const gint64 start = std::max(from, gint64(first + k) << 8);
                const gint64 end = std::min(to, gint64(first + k + 1) << 8);
                if (end <= start) continue;
                w[k] = static_cast<guint16>(((end - start) * 256 + (to - from) / 2) / (to - from));
                given += w[k];
            }
            // Rounding: the remainder goes to the sample nearest the centre.
            const gint middle =
                std::clamp(static_cast<gint>(((from + to) / 2 >> 8) - first), 0, line.taps - 1);
            w[middle] = static_cast<guint16>(w[middle] + 256 - given);
        } else {
            // The centre of shown sample i in source samples, 16 bits of
            // fraction; past the last centre the last sample is read in full.
            const gint64 centre = ((2 * gint64(i) + 1) * size << 15) / shown - (1 << 15);
            const gint last = size - line.taps;
            gint first = 0;
            gint weight = 0;
            if (centre >= gint64(size - 1) << 16) {
                first = last;
                weight = 256;
            } else if (centre > 0) {
                first = static_cast<gint>(centre >> 16);
                weight = static_cast<gint>((centre >> 8) & 0xff);
            }
            line.first[i] = first;
            w[0] = static_cast<guint16>(256 - weight);
            if (line.taps > 1) w[1] = static_cast<guint16>(weight);
        }
    }
    return line;
}

// The colour sample nearest to the centre of each of shown samples, of a
// line of size colour samples for every 2^shift of luma (luma samples in
// all), sited with the first luma sample of theirs or amid theirs.
LineTaps nearestOf(gint shown, gint size, gint lumaSize, gint shift, bool cosited)
{
    LineTaps line;
    line.first.resize(shown);
    line.weights.assign(shown, 256);
    for (gint i = 0; i < shown; ++i) {
        // The centre in luma samples, then in colour samples, 16 bits of
        // fraction.
        const gint64 centre = ((2 * gint64(i) + 1) * lumaSize << 15) / shown - (1 << 15);
        const gint64 sited =
            cosited ? centre >> shift : ((centre + (1 << 15)) >> shift) - (1 << 15);
        line.first[i] =
            static_cast<gint>(std::clamp<gint64>((sited + (1 << 15)) >> 16, 0, size - 1));
    }
    return line;
}

bool OnePassScaler::prepare(const GstVideoInfo& in, const GstVideoInfo& out)
{
    const gint width = GST_VIDEO_INFO_WIDTH(&out);
    const gint height = GST_VIDEO_INFO_HEIGHT(&out);
    if (ready_ && width == width_ && height == height_ && gst_video_info_is_equal(&in, &in_))
        return true;
    ready_ = false;
    const GstVideoFormatInfo* f = in.finfo;
    if (!f || !GST_VIDEO_FORMAT_INFO_IS_YUV(f) || GST_VIDEO_FORMAT_INFO_N_COMPONENTS(f) != 3 ||
        GST_VIDEO_FORMAT_INFO_IS_COMPLEX(f) || GST_VIDEO_FORMAT_INFO_HAS_PALETTE(f) ||
        GST_VIDEO_FORMAT_INFO_IS_TILED(f) || width <= 0 || height <= 0 ||
        GST_VIDEO_INFO_WIDTH(&in) <= 0 || GST_VIDEO_INFO_HEIGHT(&in) <= 0)
        return false;
    for (gint c = 0; c < 3; ++c)
        if (GST_VIDEO_FORMAT_INFO_DEPTH(f, c) != 8 || GST_VIDEO_FORMAT_INFO_SHIFT(f, c) != 0)
            return false;
    in_ = in;
    width_ = width;
    height_ = height;

    const LineTaps luma = tapsOf(width, GST_VIDEO_INFO_WIDTH(&in));
    // Colour is taken from the nearest sample: mixing colour samples too
    // would cost 40 % more for a difference seen only on sharp colour edges.
    const LineTaps chroma = nearestOf(width, GST_VIDEO_INFO_COMP_WIDTH(&in, 1),
                                      GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_FORMAT_INFO_W_SUB(f, 1),
                                      (in.chroma_site & GST_VIDEO_CHROMA_SITE_H_COSITED) != 0);
    lumaTaps_ = luma.taps;
    lumaWeights_ = luma.weights;
    chromaTaps_ = chroma.taps;
    chromaWeights_ = chroma.weights;
    lumaStep_ = GST_VIDEO_FORMAT_INFO_PSTRIDE(f, 0);
    uStep_ = GST_VIDEO_FORMAT_INFO_PSTRIDE(f, 1);
    vStep_ = GST_VIDEO_FORMAT_INFO_PSTRIDE(f, 2);
    lumaX_.resize(width);
    chromaU_.resize(width);
    chromaV_.resize(width);
#if defined(__SSE2__)
    const gsize padded = gsize(width) + 8;
    pairs_.assign(2 * padded, 0);
    u_.assign(padded, 0);
    v_.assign(padded, 0);
    keep_.assign(padded, 0);
    take_.assign(padded, 0);
    if (lumaTaps_ == 2)
        for (gint x = 0; x < width; ++x) {
            keep_[x] = lumaWeights_[2 * gsize(x)];
            take_[x] = lumaWeights_[2 * gsize(x) + 1];
        }
#endif
    for (gint x = 0; x < width; ++x) {
        lumaX_[x] = GST_VIDEO_FORMAT_INFO_POFFSET(f, 0) + luma.first[x] * lumaStep_;
        chromaU_[x] = GST_VIDEO_FORMAT_INFO_POFFSET(f, 1) + chroma.first[x] * uStep_;
        chromaV_[x] = GST_VIDEO_FORMAT_INFO_POFFSET(f, 2) + chroma.first[x] * vStep_;
    }

    // An interlaced picture is read field by field: shown rows take turns
    // between the fields as the source's rows do (its 4:2:0 colour rows
    // take turns between the fields too).
    const bool fields = GST_VIDEO_INFO_INTERLACE_MODE(&in) == GST_VIDEO_INTERLACE_MODE_INTERLEAVED;
    for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&in); ++p) {
        gint rows = 0;
        planes_[p].bytes = 0;
        for (gint c = 0; c < 3; ++c) {
            if (GST_VIDEO_FORMAT_INFO_PLANE(f, c) != p) continue;
            rows = GST_VIDEO_INFO_COMP_HEIGHT(&in, c);
            // Just past the component's last sample: packed samples of
            // other components may follow it, but not past the row's end.
            const gint end =
                static_cast<gint>(GST_VIDEO_FORMAT_INFO_POFFSET(f, c)) +
                (GST_VIDEO_INFO_COMP_WIDTH(&in, c) - 1) * GST_VIDEO_FORMAT_INFO_PSTRIDE(f, c) + 1;
            planes_[p].bytes = std::max(planes_[p].bytes, end);
        }
        prepareRows(planes_[p], rows, fields && rows >= 2 && height >= 2);
    }
    for (gint c = 0; c < 3; ++c)
        plane_[c] = GST_VIDEO_FORMAT_INFO_PLANE(f, c);
    prepareColours(in);
    ready_ = true;
    return true;
}

void OnePassScaler::prepareRows(PlaneRows& rows, gint sourceRows, bool fields)
{
    LineTaps byField[2];
    rows.taps = 1;
    for (gint field = 0; field < (fields ? 2 : 1); ++field) {
        const gint shownRows = fields ? (height_ - field + 1) / 2 : height_;
        const gint fieldRows = fields ? (sourceRows - field + 1) / 2 : sourceRows;
        byField[field] = tapsOf(shownRows, fieldRows);
        rows.taps = std::max(rows.taps, byField[field].taps);
    }
    rows.rows.assign(gsize(height_) * rows.taps, 0);
    rows.weights.assign(gsize(height_) * rows.taps, 0);
    for (gint y = 0; y < height_; ++y) {
        const gint field = fields ? y % 2 : 0;
        const gint step = fields ? 2 : 1;
        const gint i = fields ? y / 2 : y;
        const LineTaps& line = byField[field];
        for (gint k = 0; k < line.taps; ++k) {
            rows.rows[gsize(y) * rows.taps + k] = field + step * (line.first[i] + k);
            rows.weights[gsize(y) * rows.taps + k] = line.weights[gsize(i) * line.taps + k];
        }
        for (gint k = line.taps; k < rows.taps; ++k)
            rows.rows[gsize(y) * rows.taps + k] = rows.rows[gsize(y) * rows.taps];
    }
    rows.mixed.resize(rows.bytes);
    rows.sources.resize(rows.taps);
    rows.used.resize(rows.taps);
}

// Tables of each sample's share in R, G and B, from the source's colour
// matrix and range (BT.601 and studio range where the caps do not say).
void OnePassScaler::prepareColours(const GstVideoInfo& in)
{
    gdouble kr = 0.299, kb = 0.114;
    if (!gst_video_color_matrix_get_Kr_Kb(in.colorimetry.matrix, &kr, &kb)) {
        kr = 0.299;
        kb = 0.114;
    }
    const gdouble kg = 1.0 - kr - kb;
    const bool full = in.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
    const gdouble lumaScale = full ? 1.0 : 255.0 / 219.0;
    const gdouble lumaBlack = full ? 0.0 : 16.0;
    const gdouble chromaScale = full ? 1.0 : 255.0 / 224.0;
    constexpr gdouble one = 65536.0;
    for (gint i = 0; i < 256; ++i) {
        const gdouble c = (i - 128) * chromaScale * one;
        // The rounding of every channel is folded into the luma share.
        luma_[i] = static_cast<gint32>((i - lumaBlack) * lumaScale * one + one / 2);
        redV_[i] = static_cast<gint32>(2.0 * (1.0 - kr) * c);
        blueU_[i] = static_cast<gint32>(2.0 * (1.0 - kb) * c);
        greenU_[i] = static_cast<gint32>(-2.0 * kb * (1.0 - kb) / kg * c);
        greenV_[i] = static_cast<gint32>(-2.0 * kr * (1.0 - kr) / kg * c);
    }
#if defined(__SSE2__)
    constexpr gdouble half = 8192.0; // the colour shares are added twice
    const auto share = [&](gdouble k) {
        return static_cast<gint16>(std::lround(k * chromaScale * half));
    };
    lumaBlack_ = static_cast<guint16>(lumaBlack);
    lumaGain_ = static_cast<guint16>(std::lround(lumaScale * 16384.0));
    redV2_ = share(2.0 * (1.0 - kr));
    blueU2_ = share(2.0 * (1.0 - kb));
    greenU2_ = share(-2.0 * kb * (1.0 - kb) / kg);
    greenV2_ = share(-2.0 * kr * (1.0 - kr) / kg);
#endif
}

// The taps rows of bytes samples mixed into out, row k weighing
// weights[k] / 256 (the weights make 256).
void mixRows(const guint8* const* rows, const guint16* weights, gint taps, guint8* out, gint bytes)
{
    gint i = 0;
#if defined(__SSE2__)
    // Sixteen samples at a time: this pass reads every source row the
    // picture is made of, so it must cost little more than reading them.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= bytes; i += 16) {
        __m128i low = _mm_set1_epi16(128);
        __m128i high = low;
        for (gint k = 0; k < taps; ++k) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i w = _mm_set1_epi16(static_cast<short>(weights[k]));
            low = _mm_add_epi16(low, _mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), w));
            high = _mm_add_epi16(high, _mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packus_epi16(_mm_srli_epi16(low, 8), _mm_srli_epi16(high, 8)));
    }
#endif
    for (; i < bytes; ++i) {
        guint sum = 128;
        for (gint k = 0; k < taps; ++k)
            sum += rows[k][i] * weights[k];
        out[i] = static_cast<guint8>(sum >> 8);
    }
}

// Shown row y of a plane: a source row itself, or some of them mixed.
const guint8* OnePassScaler::rowOf(PlaneRows& rows, gint y, const guint8* plane, gint stride)
{
    const gint* index = &rows.rows[gsize(y) * rows.taps];
    const guint16* weights = &rows.weights[gsize(y) * rows.taps];
    const guint8** source = rows.sources.data();
    guint16* used = rows.used.data();
    gint taps = 0;
    for (gint k = 0; k < rows.taps; ++k) {
        if (weights[k] == 0) continue;
        if (weights[k] == 256) return plane + gssize(index[k]) * stride;
        source[taps] = plane + gssize(index[k]) * stride;
        used[taps++] = weights[k];
    }
    mixRows(source, used, taps, rows.mixed.data(), rows.bytes);
    return rows.mixed.data();
}

inline guint8 channel(gint32 value)
{
    return static_cast<guint8>(std::clamp<gint32>(value >> 16, 0, 255));
}

// Taps samples step bytes apart from sample on, mixed by weights.
template <gint Taps>
inline guint mixSamples(const guint8* sample, gint step, const guint16* weights, gint taps)
{
    if constexpr (Taps == 1) return sample[0];
    if constexpr (Taps > 0) taps = Taps;
    guint sum = 128;
    for (gint k = 0; k < taps; ++k)
        sum += sample[k * step] * weights[k];
    return sum >> 8;
}

template <gint LumaTaps, gint ChromaTaps>
void OnePassScaler::scaleRow(const guint8* luma, const guint8* u, const guint8* v,
                             guint8* pixel) const
{
    // Plain copies: the byte stores could alias the members otherwise.
    const guint16* lumaWeights = lumaWeights_.data();
    const guint16* chromaWeights = chromaWeights_.data();
    const gint* lumaX = lumaX_.data();
    const gint* chromaU = chromaU_.data();
    const gint* chromaV = chromaV_.data();
    const gint lumaTaps = lumaTaps_, chromaTaps = chromaTaps_;
    const gint lumaStep = lumaStep_, uStep = uStep_, vStep = vStep_;
    const gint width = width_;
    for (gint x = 0; x < width; ++x, pixel += 4) {
        const gint32 lum =
            luma_[mixSamples<LumaTaps>(luma + lumaX[x], lumaStep, lumaWeights, lumaTaps)];
        const guint cu = mixSamples<ChromaTaps>(u + chromaU[x], uStep, chromaWeights, chromaTaps);
        const guint cv = mixSamples<ChromaTaps>(v + chromaV[x], vStep, chromaWeights, chromaTaps);
        lumaWeights += lumaTaps;
        chromaWeights += chromaTaps;
        pixel[0] = channel(lum + redV_[cv]);
        pixel[1] = channel(lum + greenU_[cu] + greenV_[cv]);
        pixel[2] = channel(lum + blueU_[cu]);
        pixel[3] = 0xff;
    }
}

#if defined(__SSE2__)
// The two-sample case eight pixels at a time: the samples each shown pixel
// reads are gathered first (the only part that goes pixel by pixel), then
// mixed and turned into RGBx in 16-bit fixed point, 6 bits of fraction.
void OnePassScaler::scaleRowVector(const guint8* luma, const guint8* u, const guint8* v,
                                   guint8* pixel)
{
    // Plain pointers: the byte stores below could alias anything, members
    // included, which would have them all read again at every pixel.
    const gint* lumaX = lumaX_.data();
    const gint* chromaU = chromaU_.data();
    const gint* chromaV = chromaV_.data();
    guint8* pairs = pairs_.data();
    guint8* gatheredU = u_.data();
    guint8* gatheredV = v_.data();
    const gint width = width_;
    const gint step = lumaStep_;
    if (step == 1) {
        // Planar luma: the two samples are neighbours, copied as one pair.
        for (gint x = 0; x < width; ++x) {
            std::memcpy(pairs + 2 * x, luma + lumaX[x], 2);
            gatheredU[x] = u[chromaU[x]];
            gatheredV[x] = v[chromaV[x]];
        }
    } else {
        for (gint x = 0; x < width; ++x) {
            const guint8* l = luma + lumaX[x];
            pairs[2 * x] = l[0];
            pairs[2 * x + 1] = l[step];
            gatheredU[x] = u[chromaU[x]];
            gatheredV[x] = v[chromaV[x]];
        }
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xff));
    const __m128i half = _mm_set1_epi16(128);
    const __m128i centre = _mm_set1_epi16(128);
    const __m128i rounding = _mm_set1_epi16(32);
    const __m128i black = _mm_set1_epi16(static_cast<short>(lumaBlack_));
    const __m128i gain = _mm_set1_epi16(static_cast<short>(lumaGain_));
    const __m128i redV = _mm_set1_epi16(redV2_);
    const __m128i greenU = _mm_set1_epi16(greenU2_);
    const __m128i greenV = _mm_set1_epi16(greenV2_);
    const __m128i blueU = _mm_set1_epi16(blueU2_);
    const auto load8 = [&](const std::vector<guint8>& samples, gint x) {
        return _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples.data() + x)), zero);
    };
    const auto load16 = [](const std::vector<guint16>& weights, gint x) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights.data() + x));
    };
    const __m128i low8 = _mm_set1_epi16(0xff);
    // A colour sample's share, twice (the matrix holds half of it).
    const auto twice = [](__m128i colour, __m128i k) {
        const __m128i share = _mm_mulhi_epi16(colour, k);
        return _mm_adds_epi16(share, share);
    };
    const auto toByte = [&](__m128i value) {
        return _mm_srai_epi16(_mm_adds_epi16(value, rounding), 6);
    };
    for (gint x = 0; x < width_; x += 8) {
        // Each pixel's two luma samples as 16 bits: the first is the low
        // byte, x86 being little-endian.
        const __m128i pair =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs_.data() + 2 * gsize(x)));
        const __m128i first = _mm_and_si128(pair, low8);
        const __m128i second = _mm_srli_epi16(pair, 8);
        const __m128i mixed =
            _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(first, load16(keep_, x)),
                                                       _mm_mullo_epi16(second, load16(take_, x))),
                                         half),
                           8);
        const __m128i y = _mm_mulhi_epu16(_mm_slli_epi16(_mm_subs_epu16(mixed, black), 8), gain);
        const __m128i cu = _mm_slli_epi16(_mm_sub_epi16(load8(u_, x), centre), 8);
        const __m128i cv = _mm_slli_epi16(_mm_sub_epi16(load8(v_, x), centre), 8);
        const __m128i r = toByte(_mm_adds_epi16(y, twice(cv, redV)));
        const __m128i g =
            toByte(_mm_adds_epi16(_mm_adds_epi16(y, twice(cu, greenU)), twice(cv, greenV)));
        const __m128i b = toByte(_mm_adds_epi16(y, twice(cu, blueU)));
        const __m128i rg = _mm_unpacklo_epi8(_mm_packus_epi16(r, zero), _mm_packus_epi16(g, zero));
        const __m128i bx = _mm_unpacklo_epi8(_mm_packus_epi16(b, zero), opaque);
        const __m128i low = _mm_unpacklo_epi16(rg, bx);
        const __m128i high = _mm_unpackhi_epi16(rg, bx);
        guint8* out = pixel + gsize(x) * 4;
        if (x + 8 <= width_) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), high);
        } else {
            guint8 last[32];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(last), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(last + 16), high);
            std::memcpy(out, last, gsize(width_ - x) * 4);
        }
    }
}
#endif

void OnePassScaler::scale(const GstVideoFrame& from, GstVideoFrame& to)
{
    auto* shown = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&to, 0));
    const gint shownStride = GST_VIDEO_FRAME_PLANE_STRIDE(&to, 0);
    const guint planes = GST_VIDEO_FRAME_N_PLANES(&from);
    const guint8* row[GST_VIDEO_MAX_PLANES] = {};
    for (gint y = 0; y < height_; ++y) {
        for (guint p = 0; p < planes; ++p)
            row[p] = rowOf(planes_[p], y,
                           static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&from, p)),
                           GST_VIDEO_FRAME_PLANE_STRIDE(&from, p));
        guint8* pixel = shown + gssize(y) * shownStride;
        const guint8* luma = row[plane_[0]];
        // Two samples a shown one when the picture is shown larger than half
        // its size: the common case, with loops the compiler unrolls.
#if defined(__SSE2__)
        if (lumaTaps_ == 2) {
            scaleRowVector(luma, row[plane_[1]], row[plane_[2]], pixel);
            continue;
        }
#endif
        if (lumaTaps_ == 2)
            scaleRow<2, 1>(luma, row[plane_[1]], row[plane_[2]], pixel);
        else
            scaleRow<0, 1>(luma, row[plane_[1]], row[plane_[2]], pixel);
    }
}

struct ConverterFree {
    void operator()(GstVideoConverter* c) const { gst_video_converter_free(c); }
};

struct PoolRelease {
    void operator()(GstBufferPool* pool) const
    {
        gst_buffer_pool_set_active(pool, FALSE);
        gst_object_unref(pool);
    }
};

// What the delivery thread alone uses to make the shown picture.
struct ShownPicture {
    OnePassScaler scaler;
    // Formats the one pass does not read (RGB, grey, more than 8 bits)
    // go through the library's converter, kept while the formats stay.
    std::unique_ptr<GstVideoConverter, ConverterFree> converter;
    GstVideoInfo converterIn{};
    GstVideoInfo converterOut{};
    // The shown pictures come back here once the window is done with them.
    std::unique_ptr<GstBufferPool, PoolRelease> pool;
    gsize poolSize = 0;
};

} // namespace

// Locking:
// - object lock: info and haveInfo (the negotiated picture, read by the
//   application), displayWidth and displayHeight;
// - picture (the scaler, the converter and the shown pictures' pool)
//   belongs to the delivery thread alone;
// - mailboxLock/mailboxCond: pending, pendingInfo, stopping and the frame
//   counters, shared by the streaming thread and the delivery thread;
// - callbackLock/callbackCond: the registered callback and inCall, shared by
//   the delivery thread and whoever changes the callback.
// No lock is held while the callback runs, and the streaming thread never
// waits for anything but a mailbox pointer swap.
struct _KadDisplaySink {
    GstVideoSink parent;

    GstVideoInfo info;
    gboolean haveInfo;
    gint displayWidth;
    gint displayHeight;

    std::unique_ptr<ShownPicture> picture;

    GMutex mailboxLock;
    GCond mailboxCond;
    GstBuffer* pending;
    GstVideoInfo pendingInfo;
    gboolean stopping;
    guint64 rendered;
    guint64 delivered;
    guint64 dropped;
    GThread* deliverer;

    GMutex callbackLock;
    GCond callbackCond;
    KadDisplayFrameFunc func;
    gpointer userData;
    GDestroyNotify destroy;
    gboolean inCall;
};

G_DEFINE_TYPE(KadDisplaySink, kad_display_sink, GST_TYPE_VIDEO_SINK)

namespace {

enum {
    PROP_0,
    PROP_FRAMES_RENDERED,
    PROP_FRAMES_DELIVERED,
    PROP_FRAMES_DROPPED,
    PROP_DISPLAY_WIDTH,
    PROP_DISPLAY_HEIGHT
};

constexpr gint kMaxDisplaySide = 16384;

GstStaticPadTemplate sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE(KAD_RAW_VIDEO_FORMATS)));

void freePicture(KadDisplaySink* self)
{
    self->picture = std::make_unique<ShownPicture>();
}

// The library's converter from in to out, kept while the formats stay the
// same. Linear filters: the picture only has to look right at the window's
// size.
GstVideoConverter* converterFor(ShownPicture& picture, const GstVideoInfo& in,
                                const GstVideoInfo& out)
{
    if (picture.converter && gst_video_info_is_equal(&picture.converterIn, &in) &&
        gst_video_info_is_equal(&picture.converterOut, &out))
        return picture.converter.get();
    GstStructure* config = gst_structure_new(
        "config", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
        GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD,
        GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
        GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
        nullptr);
    picture.converter.reset(gst_video_converter_new(&in, &out, config));
    picture.converterIn = in;
    picture.converterOut = out;
    return picture.converter.get();
}

// A buffer for a shown picture of size bytes: one the window has given
// back when there is one, so a picture costs no allocation. The window
// keeps the pictures it shows (one or two at a time) without copying them;
// the pool has no upper bound, so it grows by those few rather than ever
// making the delivery thread wait for one of them.
GstBuffer* newShownBuffer(ShownPicture& picture, gsize size)
{
    if (!picture.pool || picture.poolSize != size) {
        picture.pool.reset(gst_buffer_pool_new());
        GstStructure* config = gst_buffer_pool_get_config(picture.pool.get());
        gst_buffer_pool_config_set_params(config, nullptr, static_cast<guint>(size), 2, 0);
        picture.poolSize = size;
        if (!gst_buffer_pool_set_config(picture.pool.get(), config) ||
            !gst_buffer_pool_set_active(picture.pool.get(), TRUE)) {
            picture.pool.reset();
            picture.poolSize = 0;
        }
    }
    GstBuffer* buffer = nullptr;
    if (picture.pool &&
        gst_buffer_pool_acquire_buffer(picture.pool.get(), &buffer, nullptr) == GST_FLOW_OK)
        return buffer;
    return gst_buffer_new_allocate(nullptr, size, nullptr);
}

// Draws the frame from (of in) into to (RGBx of out) in one pass.
gboolean drawShown(KadDisplaySink* self, const GstVideoInfo& in, GstBuffer* from,
                   const GstVideoInfo& out, GstBuffer* to)
{
    ShownPicture& picture = *self->picture;
    const bool direct = picture.scaler.prepare(in, out);
    GstVideoConverter* converter = direct ? nullptr : converterFor(picture, in, out);
    if (!direct && !converter) {
        GST_WARNING_OBJECT(self, "no conversion from %s to RGBx",
                           gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&in)));
        return FALSE;
    }
    GstVideoFrame src;
    GstVideoFrame dst;
    if (!gst_video_frame_map(&src, &in, from, GST_MAP_READ)) return FALSE;
    if (!gst_video_frame_map(&dst, &out, to, GST_MAP_WRITE)) {
        gst_video_frame_unmap(&src);
        return FALSE;
    }
    if (direct)
        picture.scaler.scale(src, dst);
    else
        gst_video_converter_frame(converter, &src, &dst);
    gst_video_frame_unmap(&dst);
    gst_video_frame_unmap(&src);
    return TRUE;
}

// Copies the RGBx frame from (of in) into to (of out, the same picture).
bool copyShown(const GstVideoInfo& in, GstBuffer* from, const GstVideoInfo& out, GstBuffer* to)
{
    GstVideoFrame src;
    GstVideoFrame dst;
    if (!gst_video_frame_map(&src, &in, from, GST_MAP_READ)) return false;
    if (!gst_video_frame_map(&dst, &out, to, GST_MAP_WRITE)) {
        gst_video_frame_unmap(&src);
        return false;
    }
    const bool copied = gst_video_frame_copy(&dst, &src);
    gst_video_frame_unmap(&dst);
    gst_video_frame_unmap(&src);
    return copied;
}

// The pixel aspect of a picture of width x height that shows the source of
// info at its display aspect.
void scaledAspect(const GstVideoInfo& info, gint width, gint height, gint* parN, gint* parD)
{
    const gint64 n =
        static_cast<gint64>(GST_VIDEO_INFO_PAR_N(&info)) * GST_VIDEO_INFO_WIDTH(&info) * height;
    const gint64 d =
        static_cast<gint64>(GST_VIDEO_INFO_PAR_D(&info)) * GST_VIDEO_INFO_HEIGHT(&info) * width;
    gint64 a = n, b = d;
    while (b != 0) {
        const gint64 t = a % b;
        a = b;
        b = t;
    }
    if (a <= 0 || n / a > G_MAXINT || d / a > G_MAXINT) {
        *parN = 1;
        *parD = 1;
        return;
    }
    *parN = static_cast<gint>(n / a);
    *parD = static_cast<gint>(d / a);
}

// Whether the callback may keep buffer, shown as it comes, for as long as
// it likes: not when it is one of upstream's pool, which may have few and
// would wait for it back (a capture device's) and not when it is in pieces
// the callback could not map at one go.
bool keepable(GstBuffer* buffer)
{
    return buffer->pool == nullptr && gst_buffer_n_memory(buffer) == 1;
}

// The frame as it is shown: buffer itself when it is RGBx at the shown size
// already and keepable, otherwise a picture of the sink's own, drawn in one
// pass at the shown size (or copied). Returns a reference, or NULL when the
// frame cannot be converted.
GstBuffer* shownBuffer(KadDisplaySink* self, GstBuffer* buffer, const GstVideoInfo& in,
                       GstVideoInfo* out)
{
    GST_OBJECT_LOCK(self);
    gint width = self->displayWidth;
    gint height = self->displayHeight;
    GST_OBJECT_UNLOCK(self);
    if (width <= 0 || height <= 0) {
        width = GST_VIDEO_INFO_WIDTH(&in);
        height = GST_VIDEO_INFO_HEIGHT(&in);
    }
    gst_video_info_set_format(out, GST_VIDEO_FORMAT_RGBx, width, height);
    scaledAspect(in, width, height, &GST_VIDEO_INFO_PAR_N(out), &GST_VIDEO_INFO_PAR_D(out));
    GST_VIDEO_INFO_FPS_N(out) = GST_VIDEO_INFO_FPS_N(&in);
    GST_VIDEO_INFO_FPS_D(out) = GST_VIDEO_INFO_FPS_D(&in);
    // Both ways scale each field of an interlaced picture on its own.
    GST_VIDEO_INFO_INTERLACE_MODE(out) = GST_VIDEO_INFO_INTERLACE_MODE(&in);
    GST_VIDEO_INFO_FIELD_ORDER(out) = GST_VIDEO_INFO_FIELD_ORDER(&in);
    const bool asItComes = GST_VIDEO_INFO_FORMAT(&in) == GST_VIDEO_FORMAT_RGBx &&
                           GST_VIDEO_INFO_WIDTH(&in) == width &&
                           GST_VIDEO_INFO_HEIGHT(&in) == height;
    if (asItComes && keepable(buffer)) {
        *out = in;
        return gst_buffer_ref(buffer);
    }
    GstBuffer* shown = newShownBuffer(*self->picture, GST_VIDEO_INFO_SIZE(out));
    if (!(asItComes ? copyShown(in, buffer, *out, shown)
                    : drawShown(self, in, buffer, *out, shown))) {
        gst_buffer_unref(shown);
        return nullptr;
    }
    gst_buffer_copy_into(shown, buffer, GST_BUFFER_COPY_TIMESTAMPS, 0, -1);
    return shown;
}

void deliver(KadDisplaySink* self, GstBuffer* buffer, GstVideoInfo* info)
{
    g_mutex_lock(&self->callbackLock);
    KadDisplayFrameFunc func = self->func;
    gpointer userData = self->userData;
    self->inCall = func != nullptr;
    g_mutex_unlock(&self->callbackLock);
    if (!func) return;

    GstVideoInfo shownInfo;
    GstBuffer* shown = shownBuffer(self, buffer, *info, &shownInfo);
    GstVideoFrame frame;
    if (shown && gst_video_frame_map(&frame, &shownInfo, shown, GST_MAP_READ)) {
        KadDisplayFrame view{};
        view.width = GST_VIDEO_FRAME_WIDTH(&frame);
        view.height = GST_VIDEO_FRAME_HEIGHT(&frame);
        view.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        view.data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        view.par_n = GST_VIDEO_INFO_PAR_N(&shownInfo);
        view.par_d = GST_VIDEO_INFO_PAR_D(&shownInfo);
        view.pts = GST_BUFFER_PTS(buffer);
        // The callback may keep the picture: the buffer is the sink's or
        // keepable, one piece of memory, so mapping it whole finds data at
        // the same distance from its start as the frame's map did.
        view.buffer = shown;
        view.offset = static_cast<gsize>(view.data - frame.map[0].data);
        view.source_width = GST_VIDEO_INFO_WIDTH(info);
        view.source_height = GST_VIDEO_INFO_HEIGHT(info);
        func(&view, userData);
        gst_video_frame_unmap(&frame);
        g_mutex_lock(&self->mailboxLock);
        ++self->delivered;
        g_mutex_unlock(&self->mailboxLock);
    } else {
        GST_WARNING_OBJECT(self, "cannot show frame %" GST_PTR_FORMAT, buffer);
    }
    if (shown) gst_buffer_unref(shown);

    g_mutex_lock(&self->callbackLock);
    self->inCall = FALSE;
    g_cond_broadcast(&self->callbackCond);
    g_mutex_unlock(&self->callbackLock);
}

gpointer deliveryLoop(gpointer data)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(data);
    g_mutex_lock(&self->mailboxLock);
    for (;;) {
        while (!self->pending && !self->stopping)
            g_cond_wait(&self->mailboxCond, &self->mailboxLock);
        if (self->stopping) break;
        GstBuffer* buffer = self->pending;
        GstVideoInfo info = self->pendingInfo;
        self->pending = nullptr;
        g_mutex_unlock(&self->mailboxLock);
        deliver(self, buffer, &info);
        gst_buffer_unref(buffer);
        g_mutex_lock(&self->mailboxLock);
    }
    g_mutex_unlock(&self->mailboxLock);
    return nullptr;
}

void stopDelivery(KadDisplaySink* self)
{
    g_mutex_lock(&self->mailboxLock);
    self->stopping = TRUE;
    g_cond_broadcast(&self->mailboxCond);
    GThread* deliverer = self->deliverer;
    self->deliverer = nullptr;
    g_mutex_unlock(&self->mailboxLock);
    if (deliverer) g_thread_join(deliverer);
    g_mutex_lock(&self->mailboxLock);
    gst_clear_buffer(&self->pending);
    g_mutex_unlock(&self->mailboxLock);
    // The delivery thread has ended: its picture tools are free to go.
    freePicture(self);
}

gboolean start(GstBaseSink* sink)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    g_mutex_lock(&self->mailboxLock);
    self->stopping = FALSE;
    self->rendered = 0;
    self->delivered = 0;
    self->dropped = 0;
    g_mutex_unlock(&self->mailboxLock);
    GError* error = nullptr;
    GThread* deliverer = g_thread_try_new("kaddisplay", deliveryLoop, self, &error);
    if (!deliverer) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("The video display could not be started."),
                          ("cannot start the delivery thread: %s", error->message));
        g_error_free(error);
        return FALSE;
    }
    g_mutex_lock(&self->mailboxLock);
    self->deliverer = deliverer;
    g_mutex_unlock(&self->mailboxLock);
    return TRUE;
}

gboolean stop(GstBaseSink* sink)
{
    stopDelivery(KAD_DISPLAY_SINK(sink));
    return TRUE;
}

gboolean setInfo(GstVideoSink* sink, GstCaps* /*caps*/, const GstVideoInfo* info)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    self->info = *info;
    self->haveInfo = TRUE;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

GstFlowReturn showFrame(GstVideoSink* sink, GstBuffer* buffer)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    const GstVideoInfo info = self->info;
    GST_OBJECT_UNLOCK(self);

    g_mutex_lock(&self->mailboxLock);
    if (self->pending) {
        gst_buffer_unref(self->pending);
        ++self->dropped;
    }
    self->pending = gst_buffer_ref(buffer);
    self->pendingInfo = info;
    ++self->rendered;
    g_cond_signal(&self->mailboxCond);
    g_mutex_unlock(&self->mailboxLock);
    return GST_FLOW_OK;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
    switch (id) {
    case PROP_DISPLAY_WIDTH:
        GST_OBJECT_LOCK(self);
        self->displayWidth = g_value_get_int(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_DISPLAY_HEIGHT:
        GST_OBJECT_LOCK(self);
        self->displayHeight = g_value_get_int(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
    if (id == PROP_DISPLAY_WIDTH || id == PROP_DISPLAY_HEIGHT) {
        GST_OBJECT_LOCK(self);
        g_value_set_int(value, id == PROP_DISPLAY_WIDTH ? self->displayWidth : self->displayHeight);
        GST_OBJECT_UNLOCK(self);
        return;
    }
    g_mutex_lock(&self->mailboxLock);
    switch (id) {
    case PROP_FRAMES_RENDERED:
        g_value_set_uint64(value, self->rendered);
        break;
    case PROP_FRAMES_DELIVERED:
        g_value_set_uint64(value, self->delivered);
        break;
    case PROP_FRAMES_DROPPED:
        g_value_set_uint64(value, self->dropped);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    g_mutex_unlock(&self->mailboxLock);
}

void finalize(GObject* object)
{
    KadDisplaySink* self = KAD_DISPLAY_SINK(object);
    stopDelivery(self);
    if (self->destroy) self->destroy(self->userData);
    g_mutex_clear(&self->mailboxLock);
    g_cond_clear(&self->mailboxCond);
    g_mutex_clear(&self->callbackLock);
    g_cond_clear(&self->callbackCond);
    std::destroy_at(&self->picture);
    G_OBJECT_CLASS(kad_display_sink_parent_class)->finalize(object);
}

GParamSpec* counterSpec(const char* name, const char* nick, const char* blurb)
{
    return g_param_spec_uint64(name, nick, blurb, 0, G_MAXUINT64, 0,
                               static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
}

} // namespace

static void kad_display_sink_class_init(KadDisplaySinkClass* klass)
{
    GObjectClass* gobjectClass = G_OBJECT_CLASS(klass);
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass* baseSinkClass = GST_BASE_SINK_CLASS(klass);
    GstVideoSinkClass* videoSinkClass = GST_VIDEO_SINK_CLASS(klass);

    gobjectClass->set_property = setProperty;
    gobjectClass->get_property = getProperty;
    gobjectClass->finalize = finalize;

    const auto sizeFlags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        gobjectClass, PROP_DISPLAY_WIDTH,
        g_param_spec_int("display-width", "Display width",
                         "Width the frames are shown at (0: the source's)", 0, kMaxDisplaySide, 0,
                         sizeFlags));
    g_object_class_install_property(
        gobjectClass, PROP_DISPLAY_HEIGHT,
        g_param_spec_int("display-height", "Display height",
                         "Height the frames are shown at (0: the source's)", 0, kMaxDisplaySide, 0,
                         sizeFlags));

    g_object_class_install_property(
        gobjectClass, PROP_FRAMES_RENDERED,
        counterSpec("frames-rendered", "Frames rendered", "Frames that reached the display"));
    g_object_class_install_property(
        gobjectClass, PROP_FRAMES_DELIVERED,
        counterSpec("frames-delivered", "Frames delivered", "Frames handed to the callback"));
    g_object_class_install_property(
        gobjectClass, PROP_FRAMES_DROPPED,
        counterSpec("frames-dropped", "Frames dropped",
                    "Frames replaced by a newer one before the callback was free"));

    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_set_static_metadata(
        elementClass, "Kadrillo display sink", "Sink/Video",
        "Shows the preview frames in the video window at its size", "Kadrillo");

    baseSinkClass->start = start;
    baseSinkClass->stop = stop;
    videoSinkClass->set_info = setInfo;
    videoSinkClass->show_frame = showFrame;
}

static void kad_display_sink_init(KadDisplaySink* self)
{
    gst_video_info_init(&self->info);
    gst_video_info_init(&self->pendingInfo);
    self->haveInfo = FALSE;
    self->displayWidth = 0;
    self->displayHeight = 0;
    std::construct_at(&self->picture, std::make_unique<ShownPicture>());
    g_mutex_init(&self->mailboxLock);
    g_cond_init(&self->mailboxCond);
    self->pending = nullptr;
    self->stopping = FALSE;
    self->rendered = 0;
    self->delivered = 0;
    self->dropped = 0;
    self->deliverer = nullptr;
    g_mutex_init(&self->callbackLock);
    g_cond_init(&self->callbackCond);
    self->func = nullptr;
    self->userData = nullptr;
    self->destroy = nullptr;
    self->inCall = FALSE;
}

void kad_display_sink_set_callback(GstElement* sink, KadDisplayFrameFunc func, gpointer user_data,
                                   GDestroyNotify destroy)
{
    g_return_if_fail(KAD_IS_DISPLAY_SINK(sink));
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);

    g_mutex_lock(&self->callbackLock);
    while (self->inCall)
        g_cond_wait(&self->callbackCond, &self->callbackLock);
    gpointer oldData = self->userData;
    GDestroyNotify oldDestroy = self->destroy;
    self->func = func;
    self->userData = user_data;
    self->destroy = destroy;
    g_mutex_unlock(&self->callbackLock);
    if (oldDestroy) oldDestroy(oldData);
}

gboolean kad_display_sink_get_aspect(GstElement* sink, gint* width, gint* height, gint* par_n,
                                     gint* par_d)
{
    g_return_val_if_fail(KAD_IS_DISPLAY_SINK(sink), FALSE);
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    const gboolean have = self->haveInfo;
    if (have) {
        if (width) *width = GST_VIDEO_INFO_WIDTH(&self->info);
        if (height) *height = GST_VIDEO_INFO_HEIGHT(&self->info);
        if (par_n) *par_n = GST_VIDEO_INFO_PAR_N(&self->info);
        if (par_d) *par_d = GST_VIDEO_INFO_PAR_D(&self->info);
    }
    GST_OBJECT_UNLOCK(self);
    return have;
}

void kad_display_sink_set_display_size(GstElement* sink, gint width, gint height)
{
    g_return_if_fail(KAD_IS_DISPLAY_SINK(sink));
    KadDisplaySink* self = KAD_DISPLAY_SINK(sink);
    GST_OBJECT_LOCK(self);
    self->displayWidth = CLAMP(width, 0, kMaxDisplaySide);
    self->displayHeight = CLAMP(height, 0, kMaxDisplaySide);
    GST_OBJECT_UNLOCK(self);
}

gboolean kad_display_sink_register(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(display_sink_debug, "kaddisplaysink", 0, "Kadrillo display sink");
    return gst_element_register(plugin, "kaddisplaysink", GST_RANK_NONE, KAD_TYPE_DISPLAY_SINK);
}
