// The wavefront correction sweep must give the ordered sweep's result bit
// for bit: same field, both orders, every face and pressure compared.
#include <gtest/gtest.h>

#include <cstring>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

void stretch(qv::Store& s) {
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    s.grid.x(i) = 0.1 * (i - s.grid.is) + 0.003 * (i - s.grid.is) * (i - s.grid.is);
  for (int j = s.grid.js; j <= s.grid.je; ++j)
    s.grid.y(j) = 0.12 * (j - s.grid.js) + 0.002 * (j - s.grid.js) * (j - s.grid.js);
  for (int k = s.grid.ks; k <= s.grid.ke; ++k)
    s.grid.z(k) = 0.2 * (k - s.grid.ks) + 0.004 * (k - s.grid.ks) * (k - s.grid.ks);
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
    a.run.dt = 0.01;
    a.run.omg = 1.7;
    a.flow.iflag(a.grid.is + 2, a.grid.js + 1, a.grid.ks) = 1;
    a.flow.iflag(a.grid.is + 3, a.grid.js + 2, a.grid.ks + 1) = 1;
    qv::Store b = a;
    std::vector<double> cxy, cz;
    qv::correction_coefficients(a, cxy, cz);
    // a tolerance that leaves some cells' pressure untouched
    for (int sweep = 0; sweep < 3; ++sweep) {
      qv::correction_sweep_in_order(a, 0.5, cxy, cz);
      qv::correction_sweep(b, 0.5, cxy, cz);
    }
    EXPECT_TRUE(qvt::same_bits(a.flow.uu, b.flow.uu)) << n[0] << "x" << n[1] << "x" << n[2];
    EXPECT_TRUE(qvt::same_bits(a.flow.vv, b.flow.vv));
    EXPECT_TRUE(qvt::same_bits(a.flow.ww, b.flow.ww));
    EXPECT_TRUE(qvt::same_bits(a.flow.pp, b.flow.pp));
  }
}
