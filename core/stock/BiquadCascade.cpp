#include "core/stock/BiquadCascade.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane::stock {

namespace {

// Sample by sample and band by band: the order the pipeline below reproduces, and the path
// for processors without the vector unit.
void processStereoCascadeReference(const CascadeBand *bands, int bandCount, float *left,
                                   float *right, int frames, float outGain) {
    for (int i = 0; i < frames; ++i) {
        float l = left[i];
        float r = right[i];
        for (int b = 0; b < bandCount; ++b) {
            l = processBiquad(bands[b].coeffs, *bands[b].left, l);
            r = processBiquad(bands[b].coeffs, *bands[b].right, r);
        }
        left[i] = l * outGain;
        right[i] = r * outGain;
    }
}

} // namespace

#if defined(__SSE2__)

namespace {

// Lane layout of vector v: band 2v left, band 2v right, band 2v+1 left, band 2v+1 right.
// At step t, band j works on frame t − j, so every band has its input from the previous
// step and the recursions of all bands run side by side instead of one after another.
template <int Vectors> struct PipelineCoeffs {
    __m128 b0[Vectors], b1[Vectors], b2[Vectors], a1[Vectors], a2[Vectors];
};

template <int Vectors> struct PipelineLanes { __m128 s1[Vectors], s2[Vectors], y[Vectors]; };

// Calls f(v) for v = 0 .. Vectors − 1 with compile-time indices, so that the lanes stay in
// registers rather than in an array on the stack.
template <int Vectors, typename Body>
[[gnu::always_inline]] inline void forEachVector(Body &&body) {
    [&]<int... v>(std::integer_sequence<int, v...>) {
        (body(std::integral_constant<int, v>{}), ...);
    }
    (std::make_integer_sequence<int, Vectors>{});
}

template <int Vectors>
void loadPipeline(PipelineCoeffs<Vectors> &coeffs, PipelineLanes<Vectors> &lanes,
                  const CascadeBand *bands, int bandCount) {
    for (int v = 0; v < Vectors; ++v) {
        // A missing upper band (odd count) runs as an identity filter whose output is unused.
        const BiquadCoeffs identity;
        const int low = 2 * v;
        const int high = low + 1;
        const BiquadCoeffs &lc = bands[low].coeffs;
        const BiquadCoeffs &hc = high < bandCount ? bands[high].coeffs : identity;
        const BiquadState lowLeft = *bands[low].left;
        const BiquadState lowRight = *bands[low].right;
        const BiquadState highLeft = high < bandCount ? *bands[high].left : BiquadState{};
        const BiquadState highRight = high < bandCount ? *bands[high].right : BiquadState{};
        coeffs.b0[v] = _mm_setr_ps(lc.b0, lc.b0, hc.b0, hc.b0);
        coeffs.b1[v] = _mm_setr_ps(lc.b1, lc.b1, hc.b1, hc.b1);
        coeffs.b2[v] = _mm_setr_ps(lc.b2, lc.b2, hc.b2, hc.b2);
        coeffs.a1[v] = _mm_setr_ps(lc.a1, lc.a1, hc.a1, hc.a1);
        coeffs.a2[v] = _mm_setr_ps(lc.a2, lc.a2, hc.a2, hc.a2);
        lanes.s1[v] = _mm_setr_ps(lowLeft.s1, lowRight.s1, highLeft.s1, highRight.s1);
        lanes.s2[v] = _mm_setr_ps(lowLeft.s2, lowRight.s2, highLeft.s2, highRight.s2);
        lanes.y[v] = _mm_setzero_ps();
    }
}

template <int Vectors>
void storePipelineStates(const PipelineLanes<Vectors> &lanes, const CascadeBand *bands,
                         int bandCount) {
    for (int v = 0; v < Vectors; ++v) {
        alignas(16) float s1[4];
        alignas(16) float s2[4];
        _mm_store_ps(s1, lanes.s1[v]);
        _mm_store_ps(s2, lanes.s2[v]);
        for (int half = 0; half < 2; ++half) {
            const int band = 2 * v + half;
            if (band >= bandCount) break;
            *bands[band].left = BiquadState{s1[2 * half], s2[2 * half]};
            *bands[band].right = BiquadState{s1[2 * half + 1], s2[2 * half + 1]};
        }
    }
}

// Lanes whose band has a frame to work on at this step; only needed while the pipeline
// fills and drains.
inline __m128 activeLanes(int v, int step, int frames) {
    auto active = [&](int band) { return band <= step && step - band < frames ? -1 : 0; };
    const int low = active(2 * v);
    const int high = active(2 * v + 1);
    return _mm_castsi128_ps(_mm_setr_epi32(low, low, high, high));
}

inline __m128 select(__m128 mask, __m128 chosen, __m128 otherwise) {
    return _mm_or_ps(_mm_and_ps(mask, chosen), _mm_andnot_ps(mask, otherwise));
}

template <int Vectors, bool Filling>
[[gnu::always_inline]] inline void runStep(const PipelineCoeffs<Vectors> &c,
                                           PipelineLanes<Vectors> &lanes, float *left, float *right,
                                           int frames, int step, int lastBand, __m128 outGain) {
    const __m128 input = step < frames
                             ? _mm_unpacklo_ps(_mm_load_ss(left + step), _mm_load_ss(right + step))
                             : _mm_setzero_ps();
    __m128 x[Vectors];
    forEachVector<Vectors>([&](auto v) {
        if constexpr (v == 0)
            x[v] = _mm_movelh_ps(input, lanes.y[0]);
        else
            x[v] = _mm_shuffle_ps(lanes.y[v - 1], lanes.y[v], _MM_SHUFFLE(1, 0, 3, 2));
    });
    forEachVector<Vectors>([&](auto v) {
        // Same operations in the same order as processBiquad, four lanes at a time.
        const __m128 y = _mm_add_ps(_mm_mul_ps(c.b0[v], x[v]), lanes.s1[v]);
        const __m128 s1 =
            _mm_sub_ps(_mm_add_ps(lanes.s2[v], _mm_mul_ps(c.b1[v], x[v])), _mm_mul_ps(c.a1[v], y));
        const __m128 s2 = _mm_sub_ps(_mm_mul_ps(c.b2[v], x[v]), _mm_mul_ps(c.a2[v], y));
        if constexpr (Filling) {
            const __m128 mask = activeLanes(v, step, frames);
            lanes.s1[v] = select(mask, s1, lanes.s1[v]);
            lanes.s2[v] = select(mask, s2, lanes.s2[v]);
        } else {
            lanes.s1[v] = s1;
            lanes.s2[v] = s2;
        }
        lanes.y[v] = y;
    });

    const int frame = step - lastBand;
    if (frame < 0) return;
    __m128 last = _mm_setzero_ps();
    forEachVector<Vectors>([&](auto v) {
        if (v == lastBand / 2) last = lanes.y[v];
    });
    if (lastBand % 2 == 1) last = _mm_movehl_ps(last, last);
    const __m128 scaled = _mm_mul_ps(last, outGain);
    left[frame] = _mm_cvtss_f32(scaled);
    right[frame] = _mm_cvtss_f32(_mm_shuffle_ps(scaled, scaled, _MM_SHUFFLE(1, 1, 1, 1)));
}

template <int Vectors>
void runPipeline(const CascadeBand *bands, int bandCount, float *left, float *right, int frames,
                 float outGain) {
    PipelineCoeffs<Vectors> coeffs;
    PipelineLanes<Vectors> lanes;
    loadPipeline(coeffs, lanes, bands, bandCount);
    const __m128 gain = _mm_set1_ps(outGain);
    const int lastBand = bandCount - 1;
    const int steps = frames + lastBand;
    const int filled = std::min(lastBand, frames);
    int step = 0;
    for (; step < filled; ++step)
        runStep<Vectors, true>(coeffs, lanes, left, right, frames, step, lastBand, gain);
    for (; step < frames; ++step)
        runStep<Vectors, false>(coeffs, lanes, left, right, frames, step, lastBand, gain);
    for (; step < steps; ++step)
        runStep<Vectors, true>(coeffs, lanes, left, right, frames, step, lastBand, gain);
    storePipelineStates(lanes, bands, bandCount);
}

} // namespace

void processStereoCascade(const CascadeBand *bands, int bandCount, float *left, float *right,
                          int frames, float outGain) {
    if (frames < 1) return;
    bandCount = std::clamp(bandCount, 0, maxCascadeBands);
    switch ((bandCount + 1) / 2) {
    case 0: processStereoCascadeReference(bands, 0, left, right, frames, outGain); return;
    case 1: runPipeline<1>(bands, bandCount, left, right, frames, outGain); return;
    case 2: runPipeline<2>(bands, bandCount, left, right, frames, outGain); return;
    case 3: runPipeline<3>(bands, bandCount, left, right, frames, outGain); return;
    default: runPipeline<4>(bands, bandCount, left, right, frames, outGain); return;
    }
}

#else

void processStereoCascade(const CascadeBand *bands, int bandCount, float *left, float *right,
                          int frames, float outGain) {
    processStereoCascadeReference(bands, std::clamp(bandCount, 0, maxCascadeBands), left, right,
                                  frames, outGain);
}

#endif

} // namespace orvane::stock
