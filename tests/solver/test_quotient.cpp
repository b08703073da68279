// Quotients from reciprocals (solver/quotient.hpp) against the division, bit
// for bit: over every class of dividend and divisor the pressure iteration
// can meet, on many random pairs with the metrics of stretched grids, and
// in whole scans and sweeps with the reciprocals and with the divider.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "solver/quotient.hpp"
#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

namespace q = qv::quotient;

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

bool have_avx512() { return __builtin_cpu_supports("avx512f"); }

// n quotients a[l] / b[l] through the eight-lane form (n a multiple of 8).
__attribute__((target("avx512f"))) void divide_lanes(const double* a, const double* b, const double* y, double* out,
                                                     std::size_t n) {
  for (std::size_t l = 0; l < n; l += 8)
    _mm512_storeu_pd(out + l, q::divide8(_mm512_loadu_pd(a + l), _mm512_loadu_pd(b + l), _mm512_loadu_pd(y + l)));
}

__attribute__((target("avx512f"))) unsigned divide_mask(const double* a) {
  return q::dividend8(_mm512_loadu_pd(a)).divide;
}

// Every pair (a, b) through both forms; the first differing pair, if any.
std::string first_difference(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> A, B, Y;
  for (double x : a)
    for (double d : b) {
      A.push_back(x);
      B.push_back(d);
      Y.push_back(1 / d);
    }
  while (A.size() % 8 != 0) A.push_back(1), B.push_back(1), Y.push_back(1);
  std::vector<double> lanes(A.size());
  if (have_avx512()) divide_lanes(A.data(), B.data(), Y.data(), lanes.data(), A.size());
  for (std::size_t l = 0; l < A.size(); ++l) {
    const double want = A[l] / B[l];
    const double one = q::divide(A[l], B[l], Y[l]);
    const bool lane_ok = !have_avx512() || bits(lanes[l]) == bits(want);
    if (bits(one) != bits(want) || !lane_ok) {
      char buf[160];
      std::snprintf(buf, sizeof buf, "%a / %a: division %a, scalar %a, lanes %a", A[l], B[l], want, one, lanes[l]);
      return buf;
    }
  }
  return "";
}

// Divisors: the ends of the accepted range, and metrics of real grids.
std::vector<double> divisors() {
  std::vector<double> b = {q::kLowDivisor, std::nextafter(q::kLowDivisor, 1.0), q::kHighDivisor,
                           std::nextafter(q::kHighDivisor, 0.0), 1, 3, 10, 0.1, 0x1p-72, 1.0 - 0x1p-53};
  qv::Store s = qvt::stretched_store(30, 20, 12, {0.013, 1.07}, {0.2, 0.93}, {0.05, 1.3});
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) b.push_back(s.grid.dx(i)), b.push_back(s.grid.dxc(i + 1));
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) b.push_back(s.grid.dz(k)), b.push_back(s.grid.dzc(k + 1));
  b.push_back(2 * 0.002 * (1 / (s.grid.dxc(5) * s.grid.dxc(6)) + 1 / (s.grid.dzc(4) * s.grid.dzc(5))));
  return b;
}

}  // namespace

TEST(Quotient, EveryClassOfDividendGivesTheDivisionsBits) {
  const double inf = std::numeric_limits<double>::infinity();
  const double sub = std::numeric_limits<double>::denorm_min();
  std::vector<double> a = {0.0,
                           sub,
                           3 * sub,
                           DBL_MIN / 3,
                           std::nextafter(DBL_MIN, 0.0),
                           DBL_MIN,
                           0x1p-900,
                           std::nextafter(q::kLowDividend, 0.0),
                           q::kLowDividend,
                           std::nextafter(q::kLowDividend, 1.0),
                           1e-300,
                           1,
                           0.1,
                           1 + 0x1p-52,
                           1e300,
                           std::nextafter(q::kHighDividend, 0.0),
                           q::kHighDividend,
                           std::nextafter(q::kHighDividend, inf),
                           0x1p1000,
                           DBL_MAX,
                           inf,
                           std::nan(""),
                           std::nan("7")};
  const std::size_t n = a.size();
  for (std::size_t l = 0; l < n; ++l) a.push_back(-a[l]);
  EXPECT_EQ(first_difference(a, divisors()), "");
}

TEST(Quotient, LanesTakeTheDividerExactlyWhereTheScalarRuleDoes) {
  // zeros of both signs are taken by the sequence; everything outside
  // [2^-800, 2^800] by the divider
  const double cases[8] = {-0.0, 0.0, q::kLowDividend, std::nextafter(q::kLowDividend, 0.0), -q::kHighDividend,
                           std::nextafter(q::kHighDividend, 1e300), -std::numeric_limits<double>::quiet_NaN(),
                           5e-324};
  if (!have_avx512()) GTEST_SKIP() << "no AVX-512 on this processor";
  unsigned want = 0;
  for (int l = 0; l < 8; ++l) want |= q::dividend_ok(cases[l]) ? 0u : 1u << l;
  EXPECT_EQ(want, 0xE8u);
  EXPECT_EQ(divide_mask(cases), want);
}

TEST(Quotient, RandomPairsOnStretchedGridMetricsGiveTheDivisionsBits) {
  std::mt19937_64 gen(20261208);
  const std::vector<double> b = divisors();
  std::uniform_real_distribution<double> unit(-1, 1);
  std::uniform_int_distribution<int> expo(-820, 820);
  std::uniform_int_distribution<std::size_t> pick(0, b.size() - 1);
  // velocity differences, and dividends over the whole accepted range and
  // a little beyond
  const std::size_t n = 1 << 21;
  std::vector<double> A(n), B(n), Y(n), out(n);
  for (std::size_t l = 0; l < n; ++l) {
    A[l] = l % 2 ? unit(gen) * 1e-3 : std::ldexp(unit(gen), expo(gen));
    B[l] = b[pick(gen)];
    Y[l] = 1 / B[l];
  }
  if (have_avx512()) divide_lanes(A.data(), B.data(), Y.data(), out.data(), n);
  std::size_t bad = 0;
  for (std::size_t l = 0; l < n; ++l) {
    const double want = A[l] / B[l];
    bad += bits(q::divide(A[l], B[l], Y[l])) != bits(want);
    bad += have_avx512() && bits(out[l]) != bits(want);
  }
  EXPECT_EQ(bad, 0u);
}

TEST(Quotient, DivisorsOutsideTheRangeAreRefused) {
  EXPECT_TRUE(q::divisor_ok(q::kLowDivisor));
  EXPECT_TRUE(q::divisor_ok(q::kHighDivisor));
  for (double b : {0.0, -1.0, std::nextafter(q::kLowDivisor, 0.0), std::nextafter(q::kHighDivisor, 1e300),
                   std::numeric_limits<double>::infinity(), std::nan("")})
    EXPECT_FALSE(q::divisor_ok(b)) << b;
}

namespace {

// A stretched case with a body, its velocities of ordinary size but with
// cells of every special class: zero faces of both signs (a still region),
// subnormal and tiny differences, huge values.
qv::Store special_case(unsigned seed) {
  qv::Store s = qvt::stretched_store(21, 19, 22, {0.02, 1.09}, {0.05, 1.04}, {0.3, 0.95}, 1, 1);
  qvt::fill_random(s, seed);
  s.run.dt = 0.002;
  s.run.omg = 1.5;
  for (int i = s.grid.is + 3; i <= s.grid.is + 5; ++i)
    for (int j = s.grid.js + 4; j <= s.grid.js + 6; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) s.flow.iflag(i, j, k) = 1;
  // a still corner: every face zero, half of them negative zeros; the
  // cells below and before it still too, so the sweep keeps its zeros
  for (int i = s.grid.is; i <= s.grid.is + 7; ++i)
    for (int j = s.grid.js; j <= s.grid.js + 9; ++j)
      for (int k = s.grid.ks; k <= s.grid.ks + 12; ++k) {
        s.flow.uu(i, j, k) = (i + j + k) % 2 ? 0.0 : -0.0;
        s.flow.vv(i, j, k) = (i + k) % 3 ? -0.0 : 0.0;
        s.flow.ww(i, j, k) = (j + k) % 2 ? 0.0 : -0.0;
      }
  // subnormal, tiny and huge values in a few faces
  const double sub = std::numeric_limits<double>::denorm_min();
  s.flow.uu(s.grid.is + 15, s.grid.js + 2, s.grid.ks + 3) = 7 * sub;
  s.flow.vv(s.grid.is + 10, s.grid.js + 3, s.grid.ks + 4) = 1e-310;
  s.flow.ww(s.grid.is + 11, s.grid.js + 4, s.grid.ks + 5) = -0x1p-850;
  s.flow.uu(s.grid.is + 12, s.grid.js + 12, s.grid.ks + 6) = 0x1p850;
  s.flow.vv(s.grid.is + 16, s.grid.js + 14, s.grid.ks + 7) = -1e250;
  return s;
}

}  // namespace

TEST(Quotient, SweepsAndScansWithReciprocalsGiveTheDividersBits) {
  for (unsigned seed : {1u, 2u}) {
    qv::Store a = special_case(seed), b = a, c = a;
    std::vector<double> cxy, cz;
    qv::correction_coefficients(a, cxy, cz);
    for (int sweep = 0; sweep < 3; ++sweep) {
      double dm[2];
      int l[2][3];
      const bool f0 = qv::divergence_scan(a, dm[0], l[0][0], l[0][1], l[0][2], false);
      const bool f1 = qv::divergence_scan(b, dm[1], l[1][0], l[1][1], l[1][2], true);
      EXPECT_EQ(f0, f1);
      EXPECT_EQ(bits(dm[0]), bits(dm[1]));
      EXPECT_EQ(std::vector<int>(l[0], l[0] + 3), std::vector<int>(l[1], l[1] + 3));
      qv::correction_sweep(a, 1e-3, cxy, cz, 8, false);
      qv::correction_sweep(b, 1e-3, cxy, cz, 8, true);
      qv::correction_sweep_in_order(c, 1e-3, cxy, cz);
    }
    for (const qv::Store* o : {&b, &c}) {
      EXPECT_TRUE(qvt::same_bits(a.flow.uu, o->flow.uu)) << seed;
      EXPECT_TRUE(qvt::same_bits(a.flow.vv, o->flow.vv)) << seed;
      EXPECT_TRUE(qvt::same_bits(a.flow.ww, o->flow.ww)) << seed;
      EXPECT_TRUE(qvt::same_bits(a.flow.pp, o->flow.pp)) << seed;
    }
  }
}
