// The blow-up check after a step: values within bounds pass on any number
// of threads with the largest speed of the field, and a failing run names
// its first offending value in the order of the field file's blocks (the
// velocities, then nut) and of the pressure (k outer, i inner).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "control/checks.hpp"
#include "support/case.hpp"

namespace {

qv::Store calm_flow() {
  qv::Store s = qvt::tiny_store(12, 10, 8, 0.5, 0, 2);
  qvt::fill_random(s, 17);  // |values| <= 1
  s.flow.nut.zero();
  return s;
}

}  // namespace

TEST(BlowUpCheck, CalmFlowPassesWithItsLargestSpeed) {
  for (const int threads : {1, 3}) {
    const qvt::ScopedThreads t(threads);
    qv::Store s = calm_flow();
    s.flow.vv(s.grid.ie, s.grid.je, s.grid.ks) = -7.5;  // the last point of the vv block
    s.flow.nut(s.grid.is, s.grid.js, s.grid.ks) = 50;   // nut has no bound, only finiteness
    double umax = 0;
    std::string where;
    EXPECT_TRUE(qv::flow_within_bound(s, 10, &umax, &where)) << where;
    EXPECT_EQ(umax, 7.5);
    EXPECT_EQ(qv::beyond_range(s, 0.1), "");
  }
}

TEST(BlowUpCheck, TheFirstFailingValueIsNamed) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const int threads : {1, 3}) {
    const qvt::ScopedThreads t(threads);
    const qv::Store start = calm_flow();
    const int is = start.grid.is, js = start.grid.js, ks = start.grid.ks;
    double umax = 0;
    std::string where;
    {  // two velocities beyond the bound: the ww one comes after the vv one
      qv::Store s = start;
      s.flow.ww(is, js, ks) = 20;
      s.flow.vv(is + 6, js + 1, ks + 2) = -30;
      EXPECT_FALSE(qv::flow_within_bound(s, 10, &umax, &where));
      EXPECT_EQ(where.rfind("vv(9,4,5) = ", 0), 0u) << where;
      EXPECT_EQ(umax, 30);
    }
    {  // only nut is not finite
      qv::Store s = start;
      s.flow.nut(is + 4, js + 3, ks + 1) = nan;
      EXPECT_FALSE(qv::flow_within_bound(s, 0, &umax, &where));
      EXPECT_EQ(where.rfind("nut(7,6,4) = ", 0), 0u) << where;
      EXPECT_EQ(qv::beyond_range(s, 1).rfind("nut(7,6,4) = ", 0), 0u);
    }
    {  // two pressures beyond the bound: the first in k-outer, i-inner order
      qv::Store s = start;
      s.flow.pp(is, js, ks + 3) = 1e30;
      s.flow.pp(is + 5, js + 2, ks + 1) = -1e30;
      EXPECT_EQ(qv::beyond_range(s, 1).rfind("pp(8,5,4) = ", 0), 0u) << qv::beyond_range(s, 1);
      s.flow.pp(is + 2, js, ks + 3) = nan;  // finiteness without a bound
      EXPECT_EQ(qv::beyond_range(s, 0).rfind("pp(5,3,6) = ", 0), 0u) << qv::beyond_range(s, 0);
    }
  }
}
