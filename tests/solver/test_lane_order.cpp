// The pressure iteration on the lane-order copies against the defined
// passes, byte for byte: the sweep (exact quotients and the divider, one to
// three threads, rows around the blocks of eight, so that blocks hand their
// top v faces to the next within a thread and across threads, one plane to
// many, 8 to 21 layers), the scan with its tie rule and its finiteness
// test, the restore, and the copies' round trip, which must leave every
// other value of the store alone.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

bool same_store(const qv::Store& a, const qv::Store& b) {
  return qvt::same_bits(a.flow.uu, b.flow.uu) && qvt::same_bits(a.flow.vv, b.flow.vv) &&
         qvt::same_bits(a.flow.ww, b.flow.ww) && qvt::same_bits(a.flow.pp, b.flow.pp);
}

}  // namespace

TEST(LaneOrder, PassesOnTheCopiesGiveTheDefinedBits) {
  if (!qv::lanes_usable(qvt::tiny_store(5, 5, 12))) GTEST_SKIP() << "no eight-lane vectors on this processor";
  // rows (ny - 1) below, at and around multiples of eight, and a last
  // block holding only vv's top face row; one block, two, and three to ten
  // (blocks run in pairs, a thread each: the pairs hand over across
  // threads, with the least lag at eight layers); planes (nx - 1) from one;
  // layers (nz - 1) 8 to 21
  const int sizes[][3] = {{9, 10, 13}, {8, 17, 9},  {7, 18, 21}, {10, 25, 16}, {6, 9, 12}, {2, 26, 10},
                          {3, 8, 22},  {5, 34, 11}, {12, 41, 17}, {4, 33, 20}, {14, 81, 9}};
  for (const auto& n : sizes)
    for (int threads : {1, 2, 3})
      for (const qv::SweepForm form :
           {qv::SweepForm::reciprocals, qv::SweepForm::mixed, qv::SweepForm::divider, qv::SweepForm::faster}) {
        const bool divider = form == qv::SweepForm::divider;
        qvt::ScopedThreads use(threads);
        qv::Store a = qvt::pressure_case(n[0], n[1], n[2], 11u + static_cast<unsigned>(n[1]));
        // a body cell on the inflow plane: the restore clears faces it has
        // just set to the inflow values
        a.flow.iflag(a.grid.is, a.grid.js + 1, a.grid.ks + 1) = 1;
        a.work.work_body.push_back({a.grid.is, a.grid.js + 1, a.grid.ks + 1});
        qv::Store b = a;
        std::vector<double> cxy, cz;
        qv::correction_coefficients(a, cxy, cz);
        b.work.work_lanes.gather(b);
        for (int pass = 0; pass < 3; ++pass) {
          // a tolerance that leaves some cells' pressure untouched
          qv::correction_sweep_in_order(a, 0.5, cxy, cz);
          qv::restore_after_sweep(a);
          qv::lanes_correction_sweep(b.work.work_lanes, b, 0.5, cxy, cz, form);
          qv::lanes_restore_after_sweep(b.work.work_lanes, b, b.work.work_body);
          double dm0, dm1;
          int l0[3], l1[3];
          ASSERT_TRUE(qv::divergence_scan_in_order(a, dm0, l0[0], l0[1], l0[2]));
          ASSERT_TRUE(qv::lanes_divergence_scan(b.work.work_lanes, b, dm1, l1[0], l1[1], l1[2],
                                                divider ? qv::ScanForm::divider
                                                : form == qv::SweepForm::mixed ? qv::ScanForm::mixed
                                                                               : qv::ScanForm::reciprocals));
          EXPECT_EQ(dm0, dm1);
          EXPECT_EQ(std::vector<int>(l0, l0 + 3), std::vector<int>(l1, l1 + 3));
        }
        b.work.work_lanes.scatter(b);
        EXPECT_TRUE(same_store(a, b)) << n[0] << "x" << n[1] << "x" << n[2] << ", " << threads << " threads"
                                      << ", form " << static_cast<int>(form);
      }
}

TEST(LaneOrder, ScanKeepsTheFirstLargestAndSeesNonFiniteFluidCells) {
  if (!qv::lanes_usable(qvt::tiny_store(5, 5, 12))) GTEST_SKIP() << "no eight-lane vectors on this processor";
  for (int threads : {1, 2, 3}) {
    qvt::ScopedThreads use(threads);
    qv::Store s = qvt::pressure_case(12, 20, 20, 3u);
    for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww}) f->zero();
    s.flow.iflag.zero();
    double dm0, dm1;
    int l0[3], l1[3];
    auto both = [&] {
      s.work.work_lanes.gather(s);
      ASSERT_TRUE(qv::divergence_scan_in_order(s, dm0, l0[0], l0[1], l0[2]));
      // each form of the quotients, and the one this processor runs faster
      for (const qv::ScanForm form : {qv::ScanForm::divider, qv::ScanForm::faster, qv::ScanForm::reciprocals, qv::ScanForm::mixed}) {
        ASSERT_TRUE(qv::lanes_divergence_scan(s.work.work_lanes, s, dm1, l1[0], l1[1], l1[2], form));
        EXPECT_EQ(dm0, dm1);
        EXPECT_EQ(std::vector<int>(l0, l0 + 3), std::vector<int>(l1, l1 + 3))
            << threads << " threads, form " << static_cast<int>(form);
      }
    };
    // equal |D| in one block of eight columns, at one position of it: the
    // lower layer wins though its lane comes later; in one layer, the
    // smaller row
    const double h = 0.5 * s.grid.dx(s.grid.is + 1);
    s.flow.uu(s.grid.is + 2, s.grid.js + 2, s.grid.ks + 6) = h;   // D(is+1, js+2, ks+6) = +0.5
    s.flow.uu(s.grid.is + 2, s.grid.js + 5, s.grid.ks + 3) = -h;  // D(is+1, js+5, ks+3) = -0.5
    both();
    EXPECT_EQ(l1[1], s.grid.js + 5);
    EXPECT_EQ(l1[2], s.grid.ks + 3);
    s.flow.uu(s.grid.is + 2, s.grid.js + 5, s.grid.ks + 3) = 0;
    s.flow.uu(s.grid.is + 2, s.grid.js + 6, s.grid.ks + 6) = -h;
    both();
    EXPECT_EQ(l1[1], s.grid.js + 2);
    s.flow.uu(s.grid.is + 2, s.grid.js + 2, s.grid.ks + 6) = s.flow.uu(s.grid.is + 2, s.grid.js + 6, s.grid.ks + 6) = 0;

    // equal |D| of opposite signs: a lower layer in a later plane and a
    // later lane wins over a higher layer, earlier everywhere else
    s.flow.uu(s.grid.ie - 1, 13, 6) = 0.25 * s.grid.dx(s.grid.ie - 2);  // D(ie-2, 13, 6) = +0.25
    s.flow.vv(s.grid.is, 6, 9) = -0.25 * s.grid.dy(5);                  // D(is, 5, 9) = -0.25
    both();
    EXPECT_EQ(l1[2], 6);
    // same layer: the smaller row wins, though in a later block and plane
    s.flow.uu(s.grid.ie - 1, 13, 6) = 0;
    s.flow.uu(s.grid.ie - 1, 4, 9) = 0.25 * s.grid.dx(s.grid.ie - 2);
    s.flow.vv(s.grid.is + 1, 12, 9) = -0.25 * s.grid.dy(11);
    both();
    EXPECT_EQ(l1[1], 4);
    // same row and layer: the smaller plane wins
    s.flow.vv(s.grid.is, 6, 9) = 0;
    s.flow.uu(s.grid.is + 1, 4, 9) = 0.25 * s.grid.dx(s.grid.is);
    both();
    EXPECT_EQ(l1[0], s.grid.is);

    // a cell of a later plane and a lower layer in the same vector step as
    // a cell of the plane before (lanes 0 and 6 of the first block): the
    // lower layer wins
    const int S = s.grid.ke - s.grid.ks + 1;
    s.flow.uu(s.grid.is + 4, s.grid.js, s.grid.ks + 2) = 0.5 * s.grid.dx(s.grid.is + 3);
    s.flow.uu(s.grid.is + 3, s.grid.js + 6, s.grid.ks + S - 4) = -0.5 * s.grid.dx(s.grid.is + 2);
    both();
    EXPECT_EQ(std::vector<int>(l1, l1 + 3), (std::vector<int>{s.grid.is + 3, s.grid.js, s.grid.ks + 2}));
    s.flow.uu(s.grid.is + 4, s.grid.js, s.grid.ks + 2) = 0;
    s.flow.uu(s.grid.is + 3, s.grid.js + 6, s.grid.ks + S - 4) = 0;
    // the same row and layer far apart in one stream (and in the parts of
    // two or three threads): the smaller plane wins
    s.flow.uu(s.grid.is + 9, s.grid.js + 9, s.grid.ks + 4) = -0.5 * s.grid.dx(s.grid.is + 8);
    s.flow.uu(s.grid.is + 2, s.grid.js + 9, s.grid.ks + 4) = 0.5 * s.grid.dx(s.grid.is + 1);
    both();
    EXPECT_EQ(l1[0], s.grid.is + 1);
    s.flow.uu(s.grid.is + 9, s.grid.js + 9, s.grid.ks + 4) = s.flow.uu(s.grid.is + 2, s.grid.js + 9, s.grid.ks + 4) = 0;

    // the faces read last: the outflow uu a column on, and the top w face
    // in its column's last slot
    for (qv::Field* f : {&s.flow.uu, &s.flow.ww}) {
      double& face = f == &s.flow.uu ? s.flow.uu(s.grid.ie, s.grid.je - 1, s.grid.ks + 1)
                                     : s.flow.ww(s.grid.ie - 1, s.grid.js + 7, s.grid.ke);
      face = std::numeric_limits<double>::quiet_NaN();
      s.work.work_lanes.gather(s);
      for (const qv::ScanForm form : {qv::ScanForm::divider, qv::ScanForm::reciprocals, qv::ScanForm::mixed})
        EXPECT_FALSE(qv::lanes_divergence_scan(s.work.work_lanes, s, dm1, l1[0], l1[1], l1[2], form)) << threads;
      face = 0;
    }

    // an infinite face: seen beside a fluid cell, not between body cells
    s.flow.ww(s.grid.ie - 2, 4, 7) = std::numeric_limits<double>::infinity();
    s.flow.iflag(s.grid.ie - 2, 4, 7) = 1;
    s.flow.iflag(s.grid.ie - 2, 4, 6) = 1;
    s.work.work_lanes.gather(s);
    for (const qv::ScanForm form : {qv::ScanForm::divider, qv::ScanForm::reciprocals, qv::ScanForm::mixed})
      EXPECT_TRUE(qv::lanes_divergence_scan(s.work.work_lanes, s, dm1, l1[0], l1[1], l1[2], form));
    s.flow.iflag(s.grid.ie - 2, 4, 6) = 0;
    s.work.work_lanes.gather(s);
    for (const qv::ScanForm form : {qv::ScanForm::divider, qv::ScanForm::reciprocals, qv::ScanForm::mixed})
      EXPECT_FALSE(qv::lanes_divergence_scan(s.work.work_lanes, s, dm1, l1[0], l1[1], l1[2], form));
  }
}

TEST(LaneOrder, TheCopiesLeaveEveryOtherValueAlone) {
  qv::Store a = qvt::pressure_case(9, 12, 14, 5u);
  qv::Store b = a;
  // scribble over the copies' every value, then put back what was read
  b.work.work_lanes.gather(b);
  for (int f = 0; f < 4; ++f)
    for (int i = b.grid.is; i <= b.grid.ie; ++i)
      for (int j = b.grid.js; j <= b.grid.je; ++j)
        for (int k = b.grid.ks; k <= b.grid.ke; ++k)
          b.work.work_lanes.at(static_cast<qv::LaneFields::Which>(f), i, j, k) = 1e300;
  b.work.work_lanes.gather(b);
  b.work.work_lanes.scatter(b);
  EXPECT_TRUE(same_store(a, b));
}
