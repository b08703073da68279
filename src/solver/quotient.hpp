// Exact quotients by a divisor known in advance, without the divider.
//
// The pressure iteration divides, many times per cell, by grid metrics and
// by 2 dt c, all fixed before it starts.  With y = 1/b correctly rounded,
//
//   q0 = a y;   r = b q0 - a (one fma: exact);   q = q0 - r y (one fma)
//
// gives q = a/b correctly rounded, the very bits of the division.  Why: with
// y within half an ulp of 1/b, q0 is within about an ulp of a/b, so the
// remainder a - b q0 is a double and the fma gives it exactly; q0 - r y is
// then a/b up to far less than the distance from a/b to the nearest
// midpoint between doubles (a quotient of two doubles is never a midpoint),
// and its one rounding is that of a/b (Markstein's theorem).  Modelled in
// exact arithmetic, the sequence gives the rounded quotient for every pair of
// significands at 6 to 13 bits of precision; the tests check it on doubles.
// All this holds while nothing nears the ends of the exponent range, so:
// - the divisor must lie in [2^-100, 2^100] and be positive: the caller
//   checks its divisors once (divisor_ok) and otherwise divides;
// - the dividend must be zero (either sign) or 2^-800 <= |a| <= 2^800; then
//   q0, r's last bit and q stay far from underflow and overflow.  Every
//   other dividend (subnormal, tiny, huge, infinite, NaN) is divided, lane
//   by lane, under a mask.  A zero needs no mask: with y > 0, q0 = a y has
//   the sign of a, r = +0, and q0 - (+0) y = q0 keeps it (the form
//   q0 + r y would turn -0 into +0).
// The fma is explicit, not contraction, so -ffp-contract=off stands.  Where
// the processor has no fma the kernels divide.  tests/solver/test_quotient
// compares these quotients with the division over every class of operand.
#pragma once

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace qv::quotient {

inline constexpr double kLowDivisor = 0x1p-100, kHighDivisor = 0x1p100;
inline constexpr double kLowDividend = 0x1p-800, kHighDividend = 0x1p800;

// A divisor the reciprocal sequence may use.
inline bool divisor_ok(double b) { return b >= kLowDivisor && b <= kHighDivisor; }

// A dividend it may take (zero or in range; false for NaN).
inline bool dividend_ok(double a) {
  const double m = std::fabs(a);
  return m == 0 || (m >= kLowDividend && m <= kHighDividend);
}

// a / b from y = 1/b, one lane at a time (the model the vector forms follow).
inline double divide(double a, double b, double y) {
  if (!dividend_ok(a)) return a / b;
  const double q0 = a * y;
  const double r = std::fma(b, q0, -a);
  return std::fma(-r, y, q0);
}

#define QV_QUOTIENT_AVX512 __attribute__((target("avx512f"), always_inline)) inline

// Eight dividends and the lanes among them that must be divided.
struct Dividend8 {
  __m512d a;
  __mmask8 divide;
};

inline std::int64_t bits_of(double x) {
  std::int64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// |a| as an integer is monotone in |a|, NaN and inf above every finite value;
// |a| - 2^-800 (as integers, wrapping) exceeds the width of the safe range
// exactly when |a| lies outside it.
QV_QUOTIENT_AVX512 Dividend8 dividend8(__m512d a) {
  const __m512i m = _mm512_and_si512(_mm512_castpd_si512(a), _mm512_set1_epi64(INT64_MAX));
  const __mmask8 nonzero = _mm512_test_epi64_mask(m, m);
  const __m512i t = _mm512_sub_epi64(m, _mm512_set1_epi64(bits_of(kLowDividend)));
  const __m512i width = _mm512_set1_epi64(bits_of(kHighDividend) - bits_of(kLowDividend));
  return {a, _mm512_mask_cmpgt_epu64_mask(nonzero, t, width)};
}

// d.a / b, given y = 1/b (b accepted by divisor_ok).
QV_QUOTIENT_AVX512 __m512d divide8(const Dividend8& d, __m512d b, __m512d y) {
  const __m512d q0 = _mm512_mul_pd(d.a, y);
  const __m512d r = _mm512_fmsub_pd(b, q0, d.a);
  __m512d q = _mm512_fnmadd_pd(r, y, q0);
  if (__builtin_expect(d.divide != 0, 0)) q = _mm512_mask_div_pd(q, d.divide, d.a, b);
  return q;
}

QV_QUOTIENT_AVX512 __m512d divide8(__m512d a, __m512d b, __m512d y) { return divide8(dividend8(a), b, y); }

}  // namespace qv::quotient
