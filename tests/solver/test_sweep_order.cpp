// The wavefront correction sweep must give the ordered sweep's result bit
// for bit: same field, both orders, every face and pressure compared.
#include <gtest/gtest.h>

#include <cstring>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

void stretch(qv::Store& s) {
  for (int i = s.is; i <= s.ie; ++i) s.x(i) = 0.1 * (i - s.is) + 0.003 * (i - s.is) * (i - s.is);
  for (int j = s.js; j <= s.je; ++j) s.y(j) = 0.12 * (j - s.js) + 0.002 * (j - s.js) * (j - s.js);
  for (int k = s.ks; k <= s.ke; ++k) s.z(k) = 0.2 * (k - s.ks) + 0.004 * (k - s.ks) * (k - s.ks);
  qvt::build_metrics(s);
}



}  // namespace

TEST(CorrectionSweep, WavefrontMatchesOrderedSweepBitForBit) {
  // grid-line counts: partial column groups (ny - 1 not a multiple of 4),
  // short columns (fewer than four layers) and the general case
  const int sizes[][3] = {{9, 8, 10}, {7, 6, 3}, {12, 11, 2}, {10, 9, 9}};
  for (const auto& n : sizes) {
    qv::Store a = qvt::tiny_store(n[0], n[1], n[2], 1.0, 1, 1);
    stretch(a);
    qvt::fill_random(a, 7u + static_cast<unsigned>(n[0]));
    a.dt = 0.01;
    a.omg = 1.7;
    a.iflag(a.is + 2, a.js + 1, a.ks) = 1;
    a.iflag(a.is + 3, a.js + 2, a.ks + 1) = 1;
    qv::Store b = a;
    std::vector<double> cxy, cz;
    qv::correction_coefficients(a, cxy, cz);
    // a tolerance that leaves some cells' pressure untouched
    for (int sweep = 0; sweep < 3; ++sweep) {
      qv::correction_sweep_in_order(a, 0.5, cxy, cz);
      qv::correction_sweep(b, 0.5, cxy, cz);
    }
    EXPECT_TRUE(qvt::same_bits(a.uu, b.uu)) << n[0] << "x" << n[1] << "x" << n[2];
    EXPECT_TRUE(qvt::same_bits(a.vv, b.vv));
    EXPECT_TRUE(qvt::same_bits(a.ww, b.ww));
    EXPECT_TRUE(qvt::same_bits(a.pp, b.pp));
  }
}
