// Eight independent single-precision lanes, for the layers' vectorised
// passes. Each lane is its own computation: +, - and * act lane by lane with
// one rounding each, exactly like the scalar operation, and no operation
// here mixes lanes except the explicit data movements (pick, transpose).
// With -ffp-contract=off the compiler keeps a product and a following sum
// as two rounded operations, as in the scalar loops.
//
// The types are GCC/Clang vector extensions, not intrinsics. Where the
// target has 256-bit vectors (AVX and later) float8 is one such vector;
// elsewhere (SSE2-only x86-64, NEON) it is a pair of 128-bit vectors, which
// those targets handle natively, while a 256-bit vector type would be
// split through memory. The results are the same bits either way.
//
// Compiled once per instruction-set level (see lanes.h), so each level has
// its own copy of these inline functions, in its own namespace.
#pragma once

#include <cstdint>

#include "layers/kernels.h"

#ifndef TAVELIN_LEVEL
#error "float8.h belongs to the fast passes, which are compiled once per level"
#endif

namespace tavelin::TAVELIN_LEVEL::lanes {

constexpr int32_t width = lane_count;

#define TAVELIN_LANES_INLINE inline __attribute__((always_inline))

#if defined(__AVX__)

typedef float float8 __attribute__((vector_size(32)));
typedef int32_t mask8 __attribute__((vector_size(32)));
// The same eight floats at any 4-byte boundary, for loads and stores.
typedef float float8_unaligned __attribute__((vector_size(32), aligned(4), may_alias));

TAVELIN_LANES_INLINE float8 load(const float* p) { return *reinterpret_cast<const float8_unaligned*>(p); }
TAVELIN_LANES_INLINE void store(float* p, float8 v) { *reinterpret_cast<float8_unaligned*>(p) = v; }
TAVELIN_LANES_INLINE float8 splat(float v) { return float8{v, v, v, v, v, v, v, v}; }
TAVELIN_LANES_INLINE float8 of(float a, float b, float c, float d, float e, float f, float g, float h) {
    return float8{a, b, c, d, e, f, g, h};
}
TAVELIN_LANES_INLINE float lane(float8 v, int32_t i) { return v[i]; }

typedef float float4_unaligned __attribute__((vector_size(16), aligned(4), may_alias));
// Lanes 0..3 (low) or 4..7 (high) of v to p[0 .. 3].
TAVELIN_LANES_INLINE void store_low(float* p, float8 v) {
    *reinterpret_cast<float4_unaligned*>(p) = __builtin_shufflevector(v, v, 0, 1, 2, 3);
}
TAVELIN_LANES_INLINE void store_high(float* p, float8 v) {
    *reinterpret_cast<float4_unaligned*>(p) = __builtin_shufflevector(v, v, 4, 5, 6, 7);
}

TAVELIN_LANES_INLINE mask8 greater(float8 a, float8 b) { return a > b; }
TAVELIN_LANES_INLINE mask8 equal(float8 a, float8 b) { return a == b; }
// Lane by lane: if_true where the mask is set, else if_false.
TAVELIN_LANES_INLINE float8 select(mask8 m, float8 if_true, float8 if_false) { return m ? if_true : if_false; }
// Lane by lane a > b ? a : b, NaN and equal zeros included: the x86 max
// instruction is exactly that test and choice, in one operation instead of
// a comparison and a blend.
TAVELIN_LANES_INLINE float8 greater_of(float8 a, float8 b) { return __builtin_ia32_maxps256(a, b); }

// Lanes of a and b picked by index, 0..7 from a and 8..15 from b.
template <int I0, int I1, int I2, int I3, int I4, int I5, int I6, int I7>
TAVELIN_LANES_INLINE float8 pick(float8 a, float8 b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, I0, I1, I2, I3, I4, I5, I6, I7);
#else
    return __builtin_shuffle(a, b, mask8{I0, I1, I2, I3, I4, I5, I6, I7});
#endif
}

// Keeps v in a register: a loaded vector used by several products is then
// loaded once instead of once per product, which the compiler would
// otherwise prefer on x86. Changes no value.
TAVELIN_LANES_INLINE void keep_in_register(float8& v) {
#if defined(__x86_64__) || defined(__i386__)
    __asm__("" : "+x"(v));
#else
    (void)v;
#endif
}

#else  // two 128-bit halves

typedef float float4 __attribute__((vector_size(16)));
typedef int32_t mask4 __attribute__((vector_size(16)));
typedef float float4_unaligned __attribute__((vector_size(16), aligned(4), may_alias));

struct float8 {
    float4 lo, hi;  // lanes 0..3 and 4..7
};
struct mask8 {
    mask4 lo, hi;
};

TAVELIN_LANES_INLINE float4 load4(const float* p) { return *reinterpret_cast<const float4_unaligned*>(p); }
TAVELIN_LANES_INLINE void store4(float* p, float4 v) { *reinterpret_cast<float4_unaligned*>(p) = v; }

TAVELIN_LANES_INLINE float8 load(const float* p) { return float8{load4(p), load4(p + 4)}; }
TAVELIN_LANES_INLINE void store(float* p, float8 v) {
    store4(p, v.lo);
    store4(p + 4, v.hi);
}
TAVELIN_LANES_INLINE float8 splat(float v) { return float8{float4{v, v, v, v}, float4{v, v, v, v}}; }
TAVELIN_LANES_INLINE float8 of(float a, float b, float c, float d, float e, float f, float g, float h) {
    return float8{float4{a, b, c, d}, float4{e, f, g, h}};
}
TAVELIN_LANES_INLINE float lane(float8 v, int32_t i) { return i < 4 ? v.lo[i] : v.hi[i - 4]; }
TAVELIN_LANES_INLINE void store_low(float* p, float8 v) { store4(p, v.lo); }
TAVELIN_LANES_INLINE void store_high(float* p, float8 v) { store4(p, v.hi); }

TAVELIN_LANES_INLINE float8 operator+(float8 a, float8 b) { return float8{a.lo + b.lo, a.hi + b.hi}; }
TAVELIN_LANES_INLINE float8 operator-(float8 a, float8 b) { return float8{a.lo - b.lo, a.hi - b.hi}; }
TAVELIN_LANES_INLINE float8 operator*(float8 a, float8 b) { return float8{a.lo * b.lo, a.hi * b.hi}; }
TAVELIN_LANES_INLINE float8 operator*(float8 a, float s) { return float8{a.lo * s, a.hi * s}; }
TAVELIN_LANES_INLINE float8 operator*(float s, float8 a) { return float8{s * a.lo, s * a.hi}; }

TAVELIN_LANES_INLINE mask8 greater(float8 a, float8 b) { return mask8{a.lo > b.lo, a.hi > b.hi}; }
TAVELIN_LANES_INLINE mask8 equal(float8 a, float8 b) { return mask8{a.lo == b.lo, a.hi == b.hi}; }
TAVELIN_LANES_INLINE float8 select(mask8 m, float8 if_true, float8 if_false) {
    return float8{m.lo ? if_true.lo : if_false.lo, m.hi ? if_true.hi : if_false.hi};
}
// Lane by lane a > b ? a : b (see the 256-bit version).
TAVELIN_LANES_INLINE float8 greater_of(float8 a, float8 b) {
#if defined(__SSE__)
    return float8{__builtin_ia32_maxps(a.lo, b.lo), __builtin_ia32_maxps(a.hi, b.hi)};
#else
    return select(greater(a, b), a, b);
#endif
}

namespace detail {
template <int I>
TAVELIN_LANES_INLINE float from(const float8& a, const float8& b) {
    static_assert(I >= 0 && I < 16, "lane index out of range");
    if constexpr (I < 4) return a.lo[I];
    else if constexpr (I < 8) return a.hi[I - 4];
    else if constexpr (I < 12) return b.lo[I - 8];
    else return b.hi[I - 12];
}
}  // namespace detail

template <int I0, int I1, int I2, int I3, int I4, int I5, int I6, int I7>
TAVELIN_LANES_INLINE float8 pick(float8 a, float8 b) {
    using detail::from;
    return float8{float4{from<I0>(a, b), from<I1>(a, b), from<I2>(a, b), from<I3>(a, b)},
                  float4{from<I4>(a, b), from<I5>(a, b), from<I6>(a, b), from<I7>(a, b)}};
}

TAVELIN_LANES_INLINE void keep_in_register(float8&) {}

#endif

// The first `count` lanes of v to p[0 .. count-1]; the others are not written.
TAVELIN_LANES_INLINE void store_first(float* p, float8 v, int32_t count) {
    for (int32_t l = 0; l < count; l++) p[l] = lane(v, l);
}

// Rows become columns: afterwards lane u of r[t] holds what lane t of r[u]
// held.
TAVELIN_LANES_INLINE void transpose(float8 (&r)[8]) {
    float8 t[8], u[8];
    for (int k = 0; k < 8; k += 2) {
        t[k] = pick<0, 8, 1, 9, 4, 12, 5, 13>(r[k], r[k + 1]);
        t[k + 1] = pick<2, 10, 3, 11, 6, 14, 7, 15>(r[k], r[k + 1]);
    }
    for (int k = 0; k < 8; k += 4) {
        u[k] = pick<0, 1, 8, 9, 4, 5, 12, 13>(t[k], t[k + 2]);
        u[k + 1] = pick<2, 3, 10, 11, 6, 7, 14, 15>(t[k], t[k + 2]);
        u[k + 2] = pick<0, 1, 8, 9, 4, 5, 12, 13>(t[k + 1], t[k + 3]);
        u[k + 3] = pick<2, 3, 10, 11, 6, 7, 14, 15>(t[k + 1], t[k + 3]);
    }
    for (int k = 0; k < 4; k++) {
        r[k] = pick<0, 1, 2, 3, 8, 9, 10, 11>(u[k], u[k + 4]);
        r[k + 4] = pick<4, 5, 6, 7, 12, 13, 14, 15>(u[k], u[k + 4]);
    }
}

// The larger of m and each lane of v by the pooling's strict test: m
// keeps its value where v is not greater (ties, NaN).
TAVELIN_LANES_INLINE float8 keep_greater(float8 m, float8 v) { return greater_of(v, m); }

// The rectifier: 0 where 0 > v, else v (so -0 and NaN stay as they are).
TAVELIN_LANES_INLINE float8 rectify(float8 v) { return greater_of(splat(0.0f), v); }

}  // namespace tavelin::TAVELIN_LEVEL::lanes
