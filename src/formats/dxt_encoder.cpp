// SPDX-License-Identifier: GPL-2.0-or-later
// DXT block encoding: stb_dxt's fit refined against the decoded error
// (Fast), or libsquish's iterative cluster fit (Best).
//
// The error of a block is the sum of squared differences of R, G and B (and
// of alpha, for the alpha block) between its pixels and what the decoder
// gives back: 565 colours widened by bit replication, the 4-colour mode's
// inner colours (2 c0 + c1) / 3 and (c0 + 2 c1) / 3, the 3-colour mode's
// (c0 + c1) / 2, DXT5's inner alphas ((7 - i) a0 + i a1) / 7 or
// ((5 - i) a0 + i a1) / 5, every division truncated; DXT3 and DXT5 colour
// blocks always in the 4-colour mode. That is how the dictionaries' reader
// decodes them.
#include "formats/dxt_encoder.h"

#include "platform/work_threads.h"

#include <squish.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QX_DXT_SSE2 1
#else
#define QX_DXT_SSE2 0
#endif

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

// stb_dxt's implementation is compiled here, and only here.
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>

namespace {

constexpr int widen5(int v)
{
    return (v << 3) | (v >> 2);
}
constexpr int widen6(int v)
{
    return (v << 2) | (v >> 4);
}
inline int widen(int q, bool six)
{
    return six ? widen6(q) : widen5(q);
}

constexpr uint16_t pack565(int r, int g, int b)
{
    return uint16_t((r << 11) | (g << 5) | b);
}

constexpr int kShift[3] = {11, 5, 0};  // R, G, B in a 565 colour
constexpr int kTop[3] = {31, 63, 31};

inline int channel(uint16_t c, int ch)
{
    return (c >> kShift[ch]) & kTop[ch];
}

// Endpoint pair whose inner colour best stands for one 8-bit value.
struct SingleMatch {
    uint8_t q0, q1;
};

struct Tables {
    // [6 bits?][v]: the highest step whose widening is at most v.
    uint8_t floorStep[2][256];
    // [3-colour mode?][6 bits?][v]: endpoints whose first inner colour,
    // (2 c0 + c1) / 3 or (c0 + c1) / 2, is nearest v; of equally near pairs
    // the closest one, so that a decoder rounding otherwise lands near too.
    SingleMatch single[2][2][256];
    // Byte j of spread[i]: bits 2j, 2j + 1 of i (four 2-bit indices to bytes).
    uint32_t spread[256];
};

const Tables& tables()
{
    static const Tables t = [] {
        Tables t{};
        for (int six = 0; six < 2; ++six) {
            const int steps = six ? 64 : 32;
            for (int v = 0; v < 256; ++v)
                for (int q = 0; q < steps; ++q)
                    if (widen(q, six) <= v)
                        t.floorStep[six][v] = uint8_t(q);
            for (int three = 0; three < 2; ++three) {
                // The closest pair of steps giving each inner value, then
                // for every value the nearest inner value that has one.
                int spread[256];
                SingleMatch pair[256];
                std::fill(spread, spread + 256, INT_MAX);
                for (int q0 = 0; q0 < steps; ++q0) {
                    for (int q1 = 0; q1 < steps; ++q1) {
                        const int x0 = widen(q0, six), x1 = widen(q1, six);
                        const int inner = three ? (x0 + x1) / 2 : (2 * x0 + x1) / 3;
                        if (std::abs(x0 - x1) < spread[inner]) {
                            spread[inner] = std::abs(x0 - x1);
                            pair[inner] = {uint8_t(q0), uint8_t(q1)};
                        }
                    }
                }
                for (int v = 0; v < 256; ++v) {
                    int best = INT_MAX;
                    for (int u = 0; u < 256; ++u) {
                        if (spread[u] == INT_MAX)
                            continue;
                        const int cost = std::abs(u - v) * 1024 + spread[u];
                        if (cost < best) {
                            best = cost;
                            t.single[three][six][v] = pair[u];
                        }
                    }
                }
            }
        }
        for (uint32_t i = 0; i < 256; ++i)
            t.spread[i] = (i & 3) | ((i >> 2) & 3) << 8 | ((i >> 4) & 3) << 16 | ((i >> 6) & 3) << 24;
        return t;
    }();
    return t;
}

// ---------------------------------------------------------------------------
// Colour

// Bit i of a 16-bit value to bit 2i.
inline uint32_t spreadBits(uint32_t x)
{
    x = (x | (x << 8)) & 0x00FF00FFu;
    x = (x | (x << 4)) & 0x0F0F0F0Fu;
    x = (x | (x << 2)) & 0x33333333u;
    return (x | (x << 1)) & 0x55555555u;
}

// Set bits of a 16-bit value (without the instruction the baseline x86-64
// lacks, which the library call stands in for slowly).
inline int popcount16(unsigned x)
{
    x = x - ((x >> 1) & 0x5555u);
    x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
    x = (x + (x >> 4)) & 0x0F0Fu;
    return int((x + (x >> 8)) & 0x1Fu);
}

// The block's pixels as the colour fit sees them.
struct Pixels {
    const uint8_t* rgba = nullptr;  // 16 pixels of R, G, B, A
    unsigned fit = 0;               // bit i: pixel i takes part in the fit
    int count = 0;                  // pixels in the fit
    int sum[3] = {0, 0, 0};         // their R, G, B summed
    uint32_t forced = 0;            // the 2-bit index fields of transparent pixels, all ones (index 3)
    uint32_t kept = 0;              // the 2-bit index fields of the pixels in the fit, all ones
#if QX_DXT_SSE2
    // Pixels 4v to 4v + 3: R and G as pairs of 16-bit lanes, B and 0 the
    // same, and all ones where the pixel takes part in the fit.
    __m128i rg[4], b0[4], in[4];
    // One byte a pixel: its channels (0 outside the fit), 0xFF in the fit.
    __m128i bytes[3], in8;
#endif

    Pixels(const uint8_t* block, unsigned fitMask, uint32_t forcedIndices)
        : rgba(block), fit(fitMask), forced(forcedIndices)
    {
        kept = spreadBits(fit) * 3;
#if QX_DXT_SSE2
        const __m128i byte = _mm_set1_epi32(0xFF);
        const __m128i bits = _mm_setr_epi32(1, 2, 4, 8);
        __m128i x[4];
        for (int v = 0; v < 4; ++v) {
            x[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 16 * v));
            rg[v] = _mm_or_si128(_mm_and_si128(x[v], byte),
                                 _mm_and_si128(_mm_slli_epi32(x[v], 8), _mm_set1_epi32(0xFF0000)));
            b0[v] = _mm_and_si128(_mm_srli_epi32(x[v], 16), byte);
            in[v] = _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(int(fit >> (4 * v))), bits), bits);
        }
        in8 = _mm_packs_epi16(_mm_packs_epi32(in[0], in[1]), _mm_packs_epi32(in[2], in[3]));
        const __m128i zero = _mm_setzero_si128();
        for (int c = 0; c < 3; ++c) {
            __m128i lanes[4];
            for (int v = 0; v < 4; ++v)
                lanes[v] = _mm_and_si128(_mm_srli_epi32(x[v], 8 * c), byte);
            bytes[c] = _mm_and_si128(
                _mm_packus_epi16(_mm_packs_epi32(lanes[0], lanes[1]), _mm_packs_epi32(lanes[2], lanes[3])), in8);
            const __m128i s = _mm_sad_epu8(bytes[c], zero);
            sum[c] = _mm_cvtsi128_si32(s) + _mm_extract_epi16(s, 4);
        }
        count = popcount16(fit);
#else
        for (int i = 0; i < 16; ++i) {
            if (!((fit >> i) & 1))
                continue;
            ++count;
            for (int c = 0; c < 3; ++c)
                sum[c] += rgba[4 * i + c];
        }
#endif
    }
};

struct Fit {
    uint16_t e0 = 0, e1 = 0;
    uint32_t indices = 0;
    uint32_t error = UINT32_MAX;
};

#if QX_DXT_SSE2
// For each pixel, its distance to the nearest of the first `Entries`
// palette colours times 4 plus that colour's index. Each distance (at most
// 3 x 255^2) times 4 plus its index is below 2^24, so a float holds it
// exactly and one minimum finds the nearest entry and its index, the lower
// index of equally near ones.
template <int Entries>
inline void nearestEntries(const Pixels& px, const int* pr, const int* pg, const int* pb, __m128 best[4])
{
    for (int k = 0; k < Entries; ++k) {
        const __m128i prg = _mm_set1_epi32(int((uint32_t(pg[k]) << 16) | uint32_t(pr[k])));
        const __m128i pbb = _mm_set1_epi32(pb[k]);
        const __m128i tag = _mm_set1_epi32(k);
        for (int v = 0; v < 4; ++v) {
            const __m128i d = _mm_sub_epi16(px.rg[v], prg);
            const __m128i e = _mm_sub_epi16(px.b0[v], pbb);
            const __m128i sum = _mm_add_epi32(_mm_madd_epi16(d, d), _mm_madd_epi16(e, e));
            const __m128 f = _mm_cvtepi32_ps(_mm_or_si128(_mm_slli_epi32(sum, 2), tag));
            best[v] = k == 0 ? f : _mm_min_ps(best[v], f);
        }
    }
}
#endif

// The block's error with colours e0, e1 (the 3-colour mode when `three`,
// where e0 <= e1; else e0 >= e1) and each pixel's nearest colour. In the
// 3-colour mode no pixel of the fit takes index 3 (transparent black);
// when e0 == e1 in the 4-colour mode every index is 0, so the block reads
// the same in either mode. Pixels outside the fit take index 0 (3 when
// transparent). True, with `out` set, when the error is below `limit`.
bool evaluate(const Pixels& px, uint16_t e0, uint16_t e1, bool three, uint32_t limit, Fit& out)
{
    int pr[4], pg[4], pb[4];
    pr[0] = widen5(channel(e0, 0));
    pg[0] = widen6(channel(e0, 1));
    pb[0] = widen5(channel(e0, 2));
    pr[1] = widen5(channel(e1, 0));
    pg[1] = widen6(channel(e1, 1));
    pb[1] = widen5(channel(e1, 2));
    if (three) {
        pr[2] = (pr[0] + pr[1]) / 2;
        pg[2] = (pg[0] + pg[1]) / 2;
        pb[2] = (pb[0] + pb[1]) / 2;
    } else {
        pr[2] = (2 * pr[0] + pr[1]) / 3;
        pg[2] = (2 * pg[0] + pg[1]) / 3;
        pb[2] = (2 * pb[0] + pb[1]) / 3;
        pr[3] = (pr[0] + 2 * pr[1]) / 3;
        pg[3] = (pg[0] + 2 * pg[1]) / 3;
        pb[3] = (pb[0] + 2 * pb[1]) / 3;
    }
    const int entries = three ? 3 : e0 != e1 ? 4 : 1;
#if QX_DXT_SSE2
    __m128 best[4];
    if (entries == 4)
        nearestEntries<4>(px, pr, pg, pb, best);
    else if (entries == 3)
        nearestEntries<3>(px, pr, pg, pb, best);
    else
        nearestEntries<1>(px, pr, pg, pb, best);
    __m128i packed[4], total = _mm_setzero_si128();
    for (int v = 0; v < 4; ++v) {
        packed[v] = _mm_cvtps_epi32(best[v]);
        total = _mm_add_epi32(total, _mm_and_si128(_mm_srli_epi32(packed[v], 2), px.in[v]));
    }
    total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
    total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
    const uint32_t error = uint32_t(_mm_cvtsi128_si32(total));
    if (error >= limit)
        return false;
    const __m128i mask = _mm_set1_epi32(3);
    const __m128i bytes =
        _mm_packus_epi16(_mm_packs_epi32(_mm_and_si128(packed[0], mask), _mm_and_si128(packed[1], mask)),
                         _mm_packs_epi32(_mm_and_si128(packed[2], mask), _mm_and_si128(packed[3], mask)));
    // Bit 0 and bit 1 of every pixel's index, to the even and odd bits.
    const uint32_t low = uint32_t(_mm_movemask_epi8(_mm_slli_epi16(bytes, 7)));
    const uint32_t high = uint32_t(_mm_movemask_epi8(_mm_slli_epi16(bytes, 6)));
    out = {e0, e1, ((spreadBits(low) | (spreadBits(high) << 1)) & px.kept) | px.forced, error};
    return true;
#else
    uint32_t error = 0, indices = 0;
    for (int i = 0; i < 16; ++i) {
        const uint8_t* p = px.rgba + 4 * i;
        int best = INT_MAX;
        uint32_t index = 0;
        for (int k = 0; k < entries; ++k) {
            const int dr = p[0] - pr[k], dg = p[1] - pg[k], db = p[2] - pb[k];
            const int d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                index = uint32_t(k);
            }
        }
        if ((px.fit >> i) & 1)
            error += uint32_t(best);
        indices |= index << (2 * i);
    }
    if (error >= limit)
        return false;
    out = {e0, e1, (indices & px.kept) | px.forced, error};
    return true;
#endif
}

inline void order(uint16_t& e0, uint16_t& e1, bool three)
{
    if (three ? e0 > e1 : e0 < e1)
        std::swap(e0, e1);
}

inline bool evaluateOrdered(const Pixels& px, uint16_t e0, uint16_t e1, bool three, uint32_t limit, Fit& out)
{
    order(e0, e1, three);
    return evaluate(px, e0, e1, three, limit, out);
}

// Endpoints for the mean colour of the fit's pixels, through the first
// inner colour: what a block whose pixels all take one index gets.
void singleColour(const Pixels& px, bool three, uint16_t& e0, uint16_t& e1)
{
    const int n = std::max(1, px.count);
    const Tables& t = tables();
    const SingleMatch mr = t.single[three][0][(px.sum[0] + n / 2) / n];
    const SingleMatch mg = t.single[three][1][(px.sum[1] + n / 2) / n];
    const SingleMatch mb = t.single[three][0][(px.sum[2] + n / 2) / n];
    e0 = pack565(mr.q0, mg.q0, mb.q0);
    e1 = pack565(mr.q1, mg.q1, mb.q1);
}

// Pixels grouped by their place on the block's colour ramp: position 0 is
// colour0, the last position colour1, the others the inner colours in order
// (4-colour mode: indices 0, 2, 3, 1; 3-colour mode: 0, 2, 1).
struct Clusters {
    int n[4] = {0, 0, 0, 0};
    int s[4][3] = {};
};

constexpr int kPosition4[4] = {0, 3, 1, 2};  // index -> position
constexpr int kPosition3[4] = {0, 2, 1, 3};  // (index 3: transparent pixels, outside the fit)

Clusters clustersOf(const Pixels& px, uint32_t indices, bool three)
{
    const int* position = three ? kPosition3 : kPosition4;
    Clusters t;
#if QX_DXT_SSE2
    const Tables& tb = tables();
    const __m128i index = _mm_setr_epi32(int(tb.spread[indices & 0xFF]), int(tb.spread[(indices >> 8) & 0xFF]),
                                         int(tb.spread[(indices >> 16) & 0xFF]), int(tb.spread[indices >> 24]));
    const __m128i zero = _mm_setzero_si128();
    for (int k = 0; k < (three ? 3 : 4); ++k) {
        const __m128i on = _mm_and_si128(_mm_cmpeq_epi8(index, _mm_set1_epi8(char(k))), px.in8);
        const int p = position[k];
        t.n[p] = popcount16(unsigned(_mm_movemask_epi8(on)));
        if (!t.n[p])
            continue;
        for (int c = 0; c < 3; ++c) {
            const __m128i s = _mm_sad_epu8(_mm_and_si128(px.bytes[c], on), zero);
            t.s[p][c] = _mm_cvtsi128_si32(s) + _mm_extract_epi16(s, 4);
        }
    }
#else
    for (int i = 0; i < 16; ++i) {
        if (!((px.fit >> i) & 1))
            continue;
        const int k = position[(indices >> (2 * i)) & 3];
        ++t.n[k];
        for (int c = 0; c < 3; ++c)
            t.s[k][c] += px.rgba[4 * i + c];
    }
#endif
    return t;
}

// The best 565 endpoints for pixels held at their ramp positions. With the
// positions fixed, the block's error is a sum over the channels, and a
// channel's part depends only on its two endpoint values and, for each
// position, the count and sum of its pixels: sum (n_k p_k^2 - 2 p_k s_k)
// plus a constant. The least-squares endpoints (the normal equations of
// colour0 weighing (last - k) / last and colour1 k / last at position k,
// solved in closed form) are rounded to the best of the four pairs of steps
// around them, exactly, with the decoder's truncated inner colours. False
// when every pixel is on one position (the system is singular).
template <bool three>
bool fitEndpointsIn(const Clusters& t, uint16_t& e0, uint16_t& e1)
{
    constexpr int last = three ? 2 : 3;
    int aa = 0, ab = 0, bb = 0;
    for (int k = 0; k <= last; ++k) {
        aa += t.n[k] * (last - k) * (last - k);
        ab += t.n[k] * (last - k) * k;
        bb += t.n[k] * k * k;
    }
    const int det = aa * bb - ab * ab;
    if (det == 0)
        return false;
    const Tables& tb = tables();
    const float scale = float(last) / float(det);
#if QX_DXT_SSE2
    const __m128 n[4] = {_mm_set1_ps(float(t.n[0])), _mm_set1_ps(float(t.n[1])), _mm_set1_ps(float(t.n[2])),
                         _mm_set1_ps(float(t.n[3]))};
#endif
    e0 = e1 = 0;
    for (int c = 0; c < 3; ++c) {
        const bool six = c == 1;
        int ax = 0, bx = 0;
        for (int k = 0; k <= last; ++k) {
            ax += (last - k) * t.s[k][c];
            bx += k * t.s[k][c];
        }
        const auto step = [&](int num) {
            const float v = float(num) * scale;
            return tb.floorStep[six][v <= 0 ? 0 : v >= 255 ? 255 : int(v)];
        };
        const int l0 = step(ax * bb - bx * ab), l1 = step(bx * aa - ax * ab);
        const int h0 = std::min(l0 + 1, kTop[c]), h1 = std::min(l1 + 1, kTop[c]);
        // The pairs in the order (l0, l1), (l0, h1), (h0, l1), (h0, h1).
#if QX_DXT_SSE2
        // The four pairs at once; every term is an integer below 2^24, so
        // floats hold them exactly.
        const float wl0 = float(widen(l0, six)), wh0 = float(widen(h0, six));
        const float wl1 = float(widen(l1, six)), wh1 = float(widen(h1, six));
        const __m128 x0 = _mm_setr_ps(wl0, wl0, wh0, wh0);
        const __m128 x1 = _mm_setr_ps(wl1, wh1, wl1, wh1);
        const auto term = [&](__m128 p, int k) {
            return _mm_mul_ps(p, _mm_sub_ps(_mm_mul_ps(n[k], p), _mm_set1_ps(float(2 * t.s[k][c]))));
        };
        const auto truncate = [](__m128 v) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(v)); };
        __m128 sum;
        if (three) {
            const __m128 p1 = truncate(_mm_mul_ps(_mm_add_ps(x0, x1), _mm_set1_ps(0.5f)));
            sum = _mm_add_ps(_mm_add_ps(term(x0, 0), term(p1, 1)), term(x1, 2));
        } else {
            // (2 x0 + x1) / 3 truncated: the product is off by far less
            // than a third, so truncating it is exact.
            const __m128 third = _mm_set1_ps(1.0f / 3.0f);
            const __m128 p1 = truncate(_mm_mul_ps(_mm_add_ps(_mm_add_ps(x0, x0), x1), third));
            const __m128 p2 = truncate(_mm_mul_ps(_mm_add_ps(_mm_add_ps(x1, x1), x0), third));
            sum = _mm_add_ps(_mm_add_ps(term(x0, 0), term(p1, 1)), _mm_add_ps(term(p2, 2), term(x1, 3)));
        }
        // The first of the cheapest.
        __m128 low = _mm_min_ps(sum, _mm_shuffle_ps(sum, sum, 0xB1));
        low = _mm_min_ps(low, _mm_shuffle_ps(low, low, 0x4E));
        const int j = std::countr_zero(unsigned(_mm_movemask_ps(_mm_cmpeq_ps(sum, low))));
#else
        int j = 0, best = INT_MAX;
        for (int i = 0; i < 4; ++i) {
            const int x0 = widen(i < 2 ? l0 : h0, six), x1 = widen(i & 1 ? h1 : l1, six);
            const int p1 = three ? (x0 + x1) / 2 : (2 * x0 + x1) / 3;
            const int p2 = three ? x1 : (x0 + 2 * x1) / 3;
            const int p3 = three ? 0 : x1;
            const int cost = x0 * (t.n[0] * x0 - 2 * t.s[0][c]) + p1 * (t.n[1] * p1 - 2 * t.s[1][c])
                             + p2 * (t.n[2] * p2 - 2 * t.s[2][c]) + p3 * (t.n[3] * p3 - 2 * t.s[3][c]);
            if (cost < best) {
                best = cost;
                j = i;
            }
        }
#endif
        e0 = uint16_t(e0 | ((j < 2 ? l0 : h0) << kShift[c]));
        e1 = uint16_t(e1 | ((j & 1 ? h1 : l1) << kShift[c]));
    }
    return true;
}

inline bool fitEndpoints(const Clusters& t, bool three, uint16_t& e0, uint16_t& e1)
{
    return three ? fitEndpointsIn<true>(t, e0, e1) : fitEndpointsIn<false>(t, e0, e1);
}

// Least squares over the fit's positions, the best steps around, indices
// chosen again; while the error falls, a few passes at most.
constexpr int kPolishPasses = 4;

Fit polish(const Pixels& px, Fit best, bool three)
{
    for (int pass = 0; pass < kPolishPasses && best.error > 0; ++pass) {
        uint16_t e0, e1;
        if (!fitEndpoints(clustersOf(px, best.indices, three), three, e0, e1))
            singleColour(px, three, e0, e1);
        order(e0, e1, three);
        if (e0 == best.e0 && e1 == best.e1)
            break;
        Fit next;
        if (!evaluate(px, e0, e1, three, best.error, next))
            break;
        best = next;
    }
    return best;
}

// A block whose pixels use only some of the ramp's positions may be better
// off with its groups on other positions: a group at an inner colour may be
// nearer what 565 can give than one at an endpoint. Where the groups span
// the whole ramp, each order-keeping choice of positions is tried; three
// groups on neighbouring positions are tried one position over, and also
// spread to the far end (the other cases seldom gain).
Fit remap(const Pixels& px, Fit best, bool three)
{
    if (best.error == 0)
        return best;
    const int positions = three ? 3 : 4;
    const Clusters t = clustersOf(px, best.indices, three);
    int used[4], m = 0;
    for (int k = 0; k < positions; ++k)
        if (t.n[k])
            used[m++] = k;
    if (m < 2 || m == positions)
        return best;
    const unsigned all = (1u << positions) - 1;
    const bool spanning = used[0] == 0 && used[m - 1] == positions - 1;
    if (!spanning && m < 3)
        return best;
    const Fit start = best;
    // Every set of m positions out of `positions`, as a bit mask.
    for (unsigned set = 1; set < (1u << positions); ++set) {
        if (popcount16(set) != m)
            continue;
        if (!spanning && set != (all & ~(1u << used[0])) && set != (all & ~(1u << used[m - 1])))
            continue;
        Clusters moved;
        for (int k = 0, j = 0; k < positions; ++k) {
            if (!((set >> k) & 1))
                continue;
            moved.n[k] = t.n[used[j]];
            for (int c = 0; c < 3; ++c)
                moved.s[k][c] = t.s[used[j]][c];
            ++j;
        }
        uint16_t e0, e1;
        if (!fitEndpoints(moved, three, e0, e1))
            continue;
        order(e0, e1, three);
        if (e0 == start.e0 && e1 == start.e1)
            continue;
        evaluate(px, e0, e1, three, best.error, best);
    }
    if (best.error < start.error)
        best = polish(px, best, three);
    return best;
}

// One step of either endpoint along the block's axis (each channel that
// spans at least a third of the widest), each pixel's colour chosen again:
// leaves the local optimum of the fixed-position rounds. Tried where the
// error is above 8 a pixel (below, it seldom gains).
Fit axisStep(const Pixels& px, Fit best, bool three)
{
    if (best.error <= uint32_t(8 * px.count))
        return best;
    const Fit start = best;
    int diff[3], span = 0;
    for (int c = 0; c < 3; ++c) {
        diff[c] = widen(channel(start.e0, c), c == 1) - widen(channel(start.e1, c), c == 1);
        span = std::max(span, std::abs(diff[c]));
    }
    if (span == 0)
        return best;
    int unit[3];
    for (int c = 0; c < 3; ++c)
        unit[c] = 3 * std::abs(diff[c]) < span ? 0 : diff[c] > 0 ? 1 : -1;
    for (int end = 0; end < 2; ++end) {
        for (int t = -1; t <= 1; t += 2) {
            const uint16_t e = end ? start.e1 : start.e0;
            int q[3];
            bool ok = true;
            for (int c = 0; c < 3; ++c) {
                q[c] = channel(e, c) + t * unit[c];
                ok = ok && q[c] >= 0 && q[c] <= kTop[c];
            }
            if (!ok)
                continue;
            const uint16_t moved = pack565(q[0], q[1], q[2]);
            if (end)
                evaluateOrdered(px, start.e0, moved, three, best.error, best);
            else
                evaluateOrdered(px, moved, start.e1, three, best.error, best);
        }
    }
    return best.error < start.error ? polish(px, best, three) : best;
}

// The 565 colour nearest a pixel's.
uint16_t nearest565(const uint8_t* p)
{
    const Tables& t = tables();
    int q[3];
    for (int c = 0; c < 3; ++c) {
        const bool six = c == 1;
        q[c] = t.floorStep[six][p[c]];
        if (q[c] < kTop[c] && widen(q[c] + 1, six) - p[c] < p[c] - widen(q[c], six))
            ++q[c];
    }
    return pack565(q[0], q[1], q[2]);
}

// A block of colours far apart that are not on one line (an edge between
// three colours, noise) may be better served by another line than the one
// its start and the rounds above lead to: here, the line between two of its
// own colours, one far from another and the other far from both (the
// farthest pixel from the mean starts that search), polished. Tried where
// the error is above 200 a pixel.
Fit otherLine(const Pixels& px, Fit best, bool three)
{
    if (best.error <= uint32_t(200 * px.count) || px.count < 3)
        return best;
    const uint8_t* rgba = px.rgba;
    const auto distance = [&](int i, const int* c) {
        int d = 0;
        for (int k = 0; k < 3; ++k)
            d += (rgba[4 * i + k] - c[k]) * (rgba[4 * i + k] - c[k]);
        return d;
    };
    // The pixel farthest from `c` (or, with `d`, from the nearer of c and d).
    const auto farthest = [&](const int* c, const int* d) {
        int far = -1, at = 0;
        for (int i = 0; i < 16; ++i) {
            if (!((px.fit >> i) & 1))
                continue;
            const int e = d ? std::min(distance(i, c), distance(i, d)) : distance(i, c);
            if (e > far) {
                far = e;
                at = i;
            }
        }
        return at;
    };
    const auto colourOf = [&](int i, int* c) {
        for (int k = 0; k < 3; ++k)
            c[k] = rgba[4 * i + k];
    };
    int mean[3], a[3], b[3];
    for (int k = 0; k < 3; ++k)
        mean[k] = px.sum[k] / px.count;
    colourOf(farthest(mean, nullptr), a);
    const int second = farthest(a, nullptr);
    colourOf(second, b);
    const int third = farthest(a, b);
    const uint16_t e0 = nearest565(rgba + 4 * second), e1 = nearest565(rgba + 4 * third);
    if (e0 == e1)
        return best;
    Fit other;
    evaluateOrdered(px, e0, e1, three, UINT32_MAX, other);
    other = polish(px, other, three);
    return other.error < best.error ? other : best;
}

Fit refine(const Pixels& px, const Fit& start, bool three)
{
    return axisStep(px, otherLine(px, remap(px, polish(px, start, three), three), three), three);
}

inline void put16(uint8_t* out, unsigned v)
{
    out[0] = uint8_t(v & 0xFF);
    out[1] = uint8_t((v >> 8) & 0xFF);
}

inline void put32(uint8_t* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t((v >> (8 * i)) & 0xFF);
}

// `stbColour`: stb_dxt's colour block for the same pixels. `three`: the
// block must use the 3-colour mode (it has transparent pixels); `tryThree`:
// an opaque DXT1 block may (without index 3).
void encodeColour(const Pixels& px, const uint8_t* stbColour, bool three, bool tryThree, uint8_t* out)
{
    if (px.count == 0) {
        // Nothing to fit: colour0 = colour1 = black, every transparent pixel index 3.
        put16(out, 0);
        put16(out + 2, 0);
        put32(out + 4, px.forced);
        return;
    }
    const uint16_t s0 = uint16_t(stbColour[0] | (stbColour[1] << 8));
    const uint16_t s1 = uint16_t(stbColour[2] | (stbColour[3] << 8));
    // stb_dxt's endpoints with each pixel's nearest colour: never worse than
    // its own indices, which it picks along a line.
    Fit best;
    evaluateOrdered(px, s0, s1, three, UINT32_MAX, best);
    best = refine(px, best, three);
    if (!three && tryThree && best.error > 0) {
        // The 3-colour mode, from the same colours, where it starts out
        // better.
        Fit start;
        if (evaluateOrdered(px, best.e0, best.e1, true, best.error, start)) {
            const Fit other = refine(px, start, true);
            if (other.error < best.error)
                best = other;
        }
    }
    put16(out, best.e0);
    put16(out + 2, best.e1);
    put32(out + 4, best.indices);
}

// ---------------------------------------------------------------------------
// Alpha

struct AlphaPixels {
    const uint8_t* rgba;  // 16 pixels of R, G, B, A
    unsigned inside;      // bit i: pixel i lies inside the level
#if QX_DXT_SSE2
    __m128i bytes, in8;  // one byte a pixel: its alpha; 0xFF inside
#endif

    AlphaPixels(const uint8_t* block, unsigned insideMask) : rgba(block), inside(insideMask)
    {
#if QX_DXT_SSE2
        const __m128i bits = _mm_setr_epi32(1, 2, 4, 8);
        __m128i a[4], in[4];
        for (int v = 0; v < 4; ++v) {
            a[v] = _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 16 * v)), 24);
            in[v] = _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(int(inside >> (4 * v))), bits), bits);
        }
        bytes = _mm_packus_epi16(_mm_packs_epi32(a[0], a[1]), _mm_packs_epi32(a[2], a[3]));
        in8 = _mm_packs_epi16(_mm_packs_epi32(in[0], in[1]), _mm_packs_epi32(in[2], in[3]));
#endif
    }
    int alpha(int i) const
    {
        return rgba[4 * i + 3];
    }
    bool in(int i) const
    {
        return (inside >> i) & 1;
    }
};

inline void alphaCodes(int a0, int a1, int codes[8])
{
    codes[0] = a0;
    codes[1] = a1;
    if (a0 <= a1) {
        for (int i = 1; i < 5; ++i)
            codes[1 + i] = ((5 - i) * a0 + i * a1) / 5;
        codes[6] = 0;
        codes[7] = 255;
    } else {
        for (int i = 1; i < 7; ++i)
            codes[1 + i] = ((7 - i) * a0 + i * a1) / 7;
    }
}

// The error of alpha endpoints a0, a1 with each pixel's nearest code.
uint32_t alphaError(const AlphaPixels& ap, int a0, int a1)
{
    int codes[8];
    alphaCodes(a0, a1, codes);
#if QX_DXT_SSE2
    __m128i nearest = _mm_set1_epi8(char(0xFF));
    for (int k = 0; k < 8; ++k) {
        const __m128i c = _mm_set1_epi8(char(codes[k]));
        nearest = _mm_min_epu8(nearest, _mm_or_si128(_mm_subs_epu8(ap.bytes, c), _mm_subs_epu8(c, ap.bytes)));
    }
    nearest = _mm_and_si128(nearest, ap.in8);
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(nearest, zero), hi = _mm_unpackhi_epi8(nearest, zero);
    __m128i total = _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
    total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
    total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
    return uint32_t(_mm_cvtsi128_si32(total));
#else
    uint32_t error = 0;
    for (int i = 0; i < 16; ++i) {
        int best = INT_MAX;
        for (int k = 0; k < 8; ++k)
            best = std::min(best, (ap.alpha(i) - codes[k]) * (ap.alpha(i) - codes[k]));
        if (ap.in(i))
            error += uint32_t(best);
    }
    return error;
#endif
}

// Each pixel's nearest code (the lower index of equally near ones); index
// 0 outside the level.
uint64_t alphaIndices(const AlphaPixels& ap, int a0, int a1)
{
    int codes[8];
    alphaCodes(a0, a1, codes);
    uint64_t indices = 0;
    for (int i = 0; i < 16; ++i) {
        if (!ap.in(i))
            continue;
        int best = INT_MAX, index = 0;
        for (int k = 0; k < 8; ++k) {
            const int d = std::abs(ap.alpha(i) - codes[k]);
            if (d < best) {
                best = d;
                index = k;
            }
        }
        indices |= uint64_t(index) << (3 * i);
    }
    return indices;
}

// Endpoints tried on each side of the block's smallest and largest alpha.
constexpr int kAlphaReach = 1;

// The better of stb_dxt's alpha block and the best pair of endpoints near
// the block's extremes (8-alpha mode; and where the block holds 0 or 255,
// the 6-alpha mode over the values between).
void encodeAlpha5(const AlphaPixels& ap, const uint8_t* stbAlpha, uint8_t* out)
{
    int lo = 255, hi = 0, innerLo = 255, innerHi = 0;
    bool extremes = false, any = false;
    for (int i = 0; i < 16; ++i) {
        if (!ap.in(i))
            continue;
        const int a = ap.alpha(i);
        any = true;
        lo = std::min(lo, a);
        hi = std::max(hi, a);
        if (a == 0 || a == 255) {
            extremes = true;
        } else {
            innerLo = std::min(innerLo, a);
            innerHi = std::max(innerHi, a);
        }
    }
    if (!any || lo == hi) {
        // One value: the 6-alpha mode's alpha0.
        const int v = any ? lo : 0;
        std::memset(out, 0, 8);
        out[0] = out[1] = uint8_t(v);
        return;
    }
    // stb_dxt's block with its own indices.
    uint64_t stbIndices = 0;
    for (int i = 0; i < 6; ++i)
        stbIndices |= uint64_t(stbAlpha[2 + i]) << (8 * i);
    uint32_t bestError = 0;
    {
        int codes[8];
        alphaCodes(stbAlpha[0], stbAlpha[1], codes);
        for (int i = 0; i < 16; ++i) {
            const int d = ap.alpha(i) - codes[(stbIndices >> (3 * i)) & 7];
            bestError += ap.in(i) ? uint32_t(d * d) : 0;
        }
    }
    int best0 = -1, best1 = -1;
    const auto consider = [&](int a0, int a1) {
        const uint32_t e = alphaError(ap, a0, a1);
        if (e < bestError) {
            bestError = e;
            best0 = a0;
            best1 = a1;
        }
    };
    for (int a1 = std::max(0, lo - kAlphaReach); a1 <= std::min(255, lo + kAlphaReach); ++a1)
        for (int a0 = std::max(a1 + 1, hi - kAlphaReach); a0 <= std::min(255, hi + kAlphaReach); ++a0)
            consider(a0, a1);
    if (extremes) {
        if (innerLo > innerHi) {
            consider(0, 0);  // only 0 and 255: the 6-alpha mode has both
        } else {
            for (int a0 = std::max(0, innerLo - kAlphaReach); a0 <= std::min(255, innerLo + kAlphaReach); ++a0)
                for (int a1 = std::max(a0, innerHi - kAlphaReach); a1 <= std::min(255, innerHi + kAlphaReach); ++a1)
                    consider(a0, a1);
        }
    }
    if (best0 < 0) {
        std::memcpy(out, stbAlpha, 8);
        return;
    }
    const uint64_t indices = alphaIndices(ap, best0, best1);
    out[0] = uint8_t(best0);
    out[1] = uint8_t(best1);
    for (int i = 0; i < 6; ++i)
        out[2 + i] = uint8_t((indices >> (8 * i)) & 0xFF);
}

void encodeAlpha3(const uint8_t* rgba, unsigned inside, uint8_t* out)
{
    for (int i = 0; i < 8; ++i) {
        const auto nibble = [&](int p) { return (inside >> p) & 1 ? unsigned(rgba[4 * p + 3] + 8) / 17 : 0u; };
        out[i] = uint8_t(nibble(2 * i) | (nibble(2 * i + 1) << 4));
    }
}

// ---------------------------------------------------------------------------

void encodeFast(DxtFormat format, const uint8_t* rgba, unsigned inside, uint8_t* out)
{
    inside &= 0xFFFF;
    unsigned fit = inside;
    uint32_t forced = 0;
    if (format == DxtFormat::Dxt1Alpha) {
        for (int i = 0; i < 16; ++i) {
            if (((inside >> i) & 1) && rgba[4 * i + 3] < 128) {
                fit &= ~(1u << i);
                forced |= 3u << (2 * i);
            }
        }
    }
    const Pixels px(rgba, fit, forced);
    const bool dxt5 = format == DxtFormat::Dxt5;
    // stb_dxt reads all 16 pixels: those outside the fit become the fit's
    // mean colour (and the inside pixels' mean alpha), which moves neither
    // the mean, the principal axis nor the extremes it starts from. Without
    // alpha it wants the same alpha everywhere.
    alignas(16) uint8_t block[64];  // stb_dxt reads it as 32-bit words
    std::memcpy(block, rgba, sizeof block);
    if (fit != 0xFFFF) {
        const int n = std::max(1, px.count);
        for (int i = 0; i < 16; ++i)
            if (!((fit >> i) & 1))
                for (int c = 0; c < 3; ++c)
                    block[4 * i + c] = uint8_t((px.sum[c] + n / 2) / n);
    }
    if (!dxt5) {
        for (int i = 0; i < 16; ++i)
            block[4 * i + 3] = 255;
    } else if (inside != 0xFFFF) {
        int sum = 0, n = 0;
        for (int i = 0; i < 16; ++i) {
            if ((inside >> i) & 1) {
                sum += rgba[4 * i + 3];
                ++n;
            }
        }
        for (int i = 0; i < 16; ++i)
            if (!((inside >> i) & 1))
                block[4 * i + 3] = uint8_t(n ? (sum + n / 2) / n : 0);
    }
    uint8_t stb[16];
    stb_compress_dxt_block(stb, block, dxt5 ? 1 : 0, STB_DXT_HIGHQUAL);

    switch (format) {
    case DxtFormat::Dxt1: encodeColour(px, stb, false, true, out); return;
    case DxtFormat::Dxt1Alpha: encodeColour(px, stb, forced != 0, true, out); return;
    case DxtFormat::Dxt3:
        encodeAlpha3(rgba, inside, out);
        encodeColour(px, stb, false, false, out + 8);
        return;
    case DxtFormat::Dxt5:
        encodeAlpha5(AlphaPixels(rgba, inside), stb, out);
        encodeColour(px, stb + 8, false, false, out + 8);
        return;
    }
}

void encodeBest(DxtFormat format, const uint8_t* rgba, unsigned inside, uint8_t* out)
{
    uint8_t block[64];
    std::memcpy(block, rgba, sizeof block);
    int flags = squish::kColourIterativeClusterFit;
    switch (format) {
    case DxtFormat::Dxt1:
        // No pixel may pick the transparent colour.
        for (int i = 0; i < 16; ++i)
            block[4 * i + 3] = 255;
        flags |= squish::kDxt1;
        break;
    case DxtFormat::Dxt1Alpha: flags |= squish::kDxt1; break;
    case DxtFormat::Dxt3: flags |= squish::kDxt3; break;
    case DxtFormat::Dxt5: flags |= squish::kDxt5; break;
    }
    squish::CompressMasked(block, int(inside & 0xFFFF), out, flags);
}

// Block rows [firstRow, endRow) of a level.
void encodeBlockRows(DxtFormat format, DxtQuality quality, const uint8_t* bgra, int width, int height, int firstRow,
                     int endRow, uint8_t* out)
{
    const int blocksAcross = std::max(1, (width + 3) / 4);
    const int blockBytes = dxtBlockBytes(format);
    alignas(16) uint8_t rgba[64];
    for (int by = firstRow; by < endRow; ++by) {
        for (int bx = 0; bx < blocksAcross; ++bx) {
            uint8_t* block = out + (int64_t(by) * blocksAcross + bx) * blockBytes;
            if (bx * 4 + 4 <= width && by * 4 + 4 <= height) {
                // A whole block: rows of 4 pixels, B and R exchanged.
                for (int py = 0; py < 4; ++py) {
                    const uint8_t* s = bgra + 4 * ((int64_t(by) * 4 + py) * width + bx * 4);
#if QX_DXT_SSE2
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                    const __m128i swapped =
                        _mm_or_si128(_mm_and_si128(v, _mm_set1_epi32(int(0xFF00FF00u))),
                                     _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), _mm_set1_epi32(0xFF)),
                                                  _mm_slli_epi32(_mm_and_si128(v, _mm_set1_epi32(0xFF)), 16)));
                    _mm_store_si128(reinterpret_cast<__m128i*>(rgba + 16 * py), swapped);
#else
                    for (int px = 0; px < 4; ++px) {
                        rgba[16 * py + 4 * px] = s[4 * px + 2];
                        rgba[16 * py + 4 * px + 1] = s[4 * px + 1];
                        rgba[16 * py + 4 * px + 2] = s[4 * px];
                        rgba[16 * py + 4 * px + 3] = s[4 * px + 3];
                    }
#endif
                }
                encodeDxtBlock(format, quality, rgba, 0xFFFF, block);
                continue;
            }
            unsigned inside = 0;
            for (int py = 0; py < 4; ++py) {
                for (int px = 0; px < 4; ++px) {
                    const int x = bx * 4 + px, y = by * 4 + py;
                    uint8_t* d = rgba + 4 * (py * 4 + px);
                    if (x < width && y < height) {
                        const uint8_t* s = bgra + 4 * (int64_t(y) * width + x);
                        d[0] = s[2];
                        d[1] = s[1];
                        d[2] = s[0];
                        d[3] = s[3];
                        inside |= 1u << (py * 4 + px);
                    } else {
                        std::memset(d, 0, 4);
                    }
                }
            }
            encodeDxtBlock(format, quality, rgba, inside, block);
        }
    }
}

}  // namespace

int dxtBlockBytes(DxtFormat format)
{
    return format == DxtFormat::Dxt1 || format == DxtFormat::Dxt1Alpha ? 8 : 16;
}

void encodeDxtBlock(DxtFormat format, DxtQuality quality, const uint8_t* rgba, unsigned inside, uint8_t* out)
{
    if (quality == DxtQuality::Best)
        encodeBest(format, rgba, inside, out);
    else
        encodeFast(format, rgba, inside, out);
}

void encodeDxtLevel(DxtFormat format, DxtQuality quality, const uint8_t* bgra, int width, int height, uint8_t* out,
                    int threads)
{
    const int blockRows = std::max(1, (height + 3) / 4);
    const int64_t blocks = int64_t(blockRows) * std::max(1, (width + 3) / 4);
    int parts = threads;
    if (parts <= 0 && singleThreadRequested()) {
        parts = 1;  // one of several pieces of work running side by side
    } else if (parts <= 0) {
        // A thread costs about as much as encoding this many blocks.
        const int64_t blocksPerThread = quality == DxtQuality::Best ? 4 : 128;
        const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
        parts = int(std::clamp<int64_t>(blocks / blocksPerThread, 1, cores));
    }
    parts = std::min(parts, blockRows);
    std::vector<std::thread> workers;
    for (int p = 1; p < parts; ++p) {
        const int first = int(int64_t(blockRows) * p / parts), end = int(int64_t(blockRows) * (p + 1) / parts);
        try {
            workers.emplace_back(encodeBlockRows, format, quality, bgra, width, height, first, end, out);
        } catch (const std::system_error&) {
            // No thread to be had: this one does the share.
            encodeBlockRows(format, quality, bgra, width, height, first, end, out);
        }
    }
    encodeBlockRows(format, quality, bgra, width, height, 0, blockRows / parts, out);
    for (std::thread& w : workers)
        w.join();
}
