// The tuned pressure-iteration kernels against the defined order, byte for
// byte: the vector wavefronts (the widest the processor has, 8 and 4
// columns, and the ordered walk they fall back to) on one thread and with
// planes divided among threads, and the divided divergence scan with its
// tie rule.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "solver/solver.hpp"
#include "support/case.hpp"

TEST(TunedSweep, EveryGroupWidthAndThreadCountGivesTheOrderedBits) {
  // grid lines: columns a multiple of the group and not, columns fewer than
  // one group, layers just enough for eight lanes, many layers, and columns
  // too short for a group (fewer than four layers)
  const int sizes[][3] = {{9, 20, 19}, {8, 34, 17}, {6, 7, 25},  {11, 13, 40}, {7, 19, 5},
                          {9, 8, 10},  {7, 6, 3},   {12, 11, 2}, {10, 9, 9}};
  for (const auto& n : sizes)
    for (int group : {0, 8, 4, 1})
      for (int threads : {1, 2, 3}) {
        qv::Store a = qvt::pressure_case(n[0], n[1], n[2], 11u + static_cast<unsigned>(n[1]));
        qv::Store b = a;
        std::vector<double> cxy, cz;
        qv::correction_coefficients(a, cxy, cz);
        qvt::ScopedThreads use(threads);
        // a tolerance that leaves some cells' pressure untouched
        for (int sweep = 0; sweep < 3; ++sweep) {
          qv::correction_sweep_in_order(a, 0.5, cxy, cz);
          qv::correction_sweep(b, 0.5, cxy, cz, group);
        }
        const std::string where = std::to_string(n[0]) + "x" + std::to_string(n[1]) + "x" + std::to_string(n[2]) +
                                  " group " + std::to_string(group) + " threads " + std::to_string(threads);
        EXPECT_TRUE(qvt::same_bits(a.flow.uu, b.flow.uu)) << where;
        EXPECT_TRUE(qvt::same_bits(a.flow.vv, b.flow.vv)) << where;
        EXPECT_TRUE(qvt::same_bits(a.flow.ww, b.flow.ww)) << where;
        EXPECT_TRUE(qvt::same_bits(a.flow.pp, b.flow.pp)) << where;
      }
}

TEST(TunedSweep, LeavesGhostsAndTheLastOutflowFaceAlone) {
  // the sweep moves interior faces only; the outflow face uu(ie) is never
  // corrected, and nothing outside the sweep's faces is written
  qv::Store a = qvt::pressure_case(9, 20, 19, 5u);
  qv::Store b = a;
  std::vector<double> cxy, cz;
  qv::correction_coefficients(a, cxy, cz);
  qv::correction_sweep(b, 0.0, cxy, cz, 8);
  for (int j = 1; j <= a.flow.uu.nj(); ++j)
    for (int k = 1; k <= a.flow.uu.nk(); ++k) EXPECT_EQ(a.flow.uu(a.grid.ie, j, k), b.flow.uu(b.grid.ie, j, k));
  for (int i = 1; i <= a.flow.uu.ni(); ++i)
    for (int j = 1; j <= a.flow.uu.nj(); ++j)
      for (int k : {1, 2, a.grid.ke + 1, a.grid.ke + 2}) {
        EXPECT_EQ(a.flow.pp(i, j, k), b.flow.pp(i, j, k));
        EXPECT_EQ(a.flow.uu(i, j, k), b.flow.uu(i, j, k));
        EXPECT_EQ(a.flow.vv(i, j, k), b.flow.vv(i, j, k));
      }
}

TEST(TunedScan, DividedScanFindsTheFirstLargestInScanOrder) {
  for (int threads : {1, 2, 3}) {
    qvt::ScopedThreads use(threads);
    qv::Store s = qvt::pressure_case(12, 10, 20, 3u);
    double dm0, dm1;
    int l0[3], l1[3];
    ASSERT_TRUE(qv::divergence_scan_in_order(s, dm0, l0[0], l0[1], l0[2]));
    ASSERT_TRUE(qv::divergence_scan(s, dm1, l1[0], l1[1], l1[2]));
    EXPECT_EQ(dm0, dm1);
    EXPECT_EQ(std::vector<int>(l0, l0 + 3), std::vector<int>(l1, l1 + 3));

    // A uniform field has no divergence; then two cells with the same
    // largest |D|, of opposite sign: one late in i but in a lower layer,
    // one early in i in a higher layer, in different thirds of the planes.
    // The lower layer wins; at the same layer the smaller j, then i.
    for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww}) f->zero();
    s.flow.iflag.zero();
    const double du = 0.25 * s.grid.dx(s.grid.ie - 2);
    s.flow.uu(s.grid.ie - 1, 4, 6) = du;  // D(ie-2, 4, 6) = +0.25
    const double dv = 0.25 * s.grid.dy(5);
    s.flow.vv(s.grid.is, 6, 9) = -dv;  // D(is, 5, 9) = -0.25 ...
    ASSERT_TRUE(qv::divergence_scan_in_order(s, dm0, l0[0], l0[1], l0[2]));
    ASSERT_TRUE(qv::divergence_scan(s, dm1, l1[0], l1[1], l1[2]));
    EXPECT_EQ(dm0, dm1);
    EXPECT_EQ(l0[2], 6);
    EXPECT_EQ(std::vector<int>(l0, l0 + 3), std::vector<int>(l1, l1 + 3)) << threads << " threads";
    // same layer: the one in the smaller row wins, although later in i
    s.flow.uu(s.grid.ie - 1, 4, 6) = 0;
    s.flow.uu(s.grid.ie - 1, 4, 9) = 0.25 * s.grid.dx(s.grid.ie - 2);  // D(ie-2, 4, 9) = +0.25, row 4 < 5
    ASSERT_TRUE(qv::divergence_scan(s, dm1, l1[0], l1[1], l1[2]));
    EXPECT_EQ(l1[0], s.grid.ie - 2);
    EXPECT_EQ(l1[1], 4);
    // same row and layer: the smaller i wins
    s.flow.vv(s.grid.is, 6, 9) = 0;
    s.flow.uu(s.grid.is + 1, 4, 9) = 0.25 * s.grid.dx(s.grid.is);  // D(is, 4, 9) = +0.25; also D(is+1, 4, 9) < 0
    ASSERT_TRUE(qv::divergence_scan(s, dm1, l1[0], l1[1], l1[2]));
    ASSERT_TRUE(qv::divergence_scan_in_order(s, dm0, l0[0], l0[1], l0[2]));
    EXPECT_EQ(std::vector<int>(l0, l0 + 3), std::vector<int>(l1, l1 + 3)) << threads << " threads";
    EXPECT_EQ(l1[0], s.grid.is);
  }
}

TEST(TunedScan, ANonFiniteFluidDivergenceIsReportedAndABodyCellIsNot) {
  for (int threads : {1, 2}) {
    qvt::ScopedThreads use(threads);
    qv::Store s = qvt::pressure_case(10, 9, 18, 9u);
    double dm;
    int i, j, k;
    s.flow.pp(s.grid.ie - 2, 4, 7) = std::nan("");  // pressure is not part of the divergence
    EXPECT_TRUE(qv::divergence_scan(s, dm, i, j, k));
    s.flow.iflag(s.grid.ie - 2, 4, 7) = 1;
    s.flow.ww(s.grid.ie - 2, 4, 7) = std::numeric_limits<double>::infinity();  // body cell above, fluid cell below
    s.flow.iflag(s.grid.ie - 2, 4, 6) = 1;
    EXPECT_TRUE(qv::divergence_scan(s, dm, i, j, k));
    s.flow.iflag(s.grid.ie - 2, 4, 6) = 0;
    EXPECT_FALSE(qv::divergence_scan(s, dm, i, j, k));
  }
}
