// Pressure-velocity correction: tolerance ramp, convergence test, the
// report in "iter.dat", the in-place correction, the fixed faces and the
// time-step bound.  Each test runs in its own directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

void write_esp2(int ic2, int ic3, double sesp) {
  char line[64];
  std::snprintf(line, sizeof line, "%10d%10d%10.5f\r\n", ic2, ic3, sesp);
  qvt::write_file("esp2.inf", line);
}

// Uniform grid h = 1, dt = 0.01, uniform uu = 0.7 with matching inflow plane.
qv::Store uniform_flow() {
  qv::Store s = qvt::tiny_store(8, 5, 5);
  s.dt = 0.01;
  s.omg = 1;
  s.esp = 0.005;
  s.nn = 1;
  for (int i = 1; i <= s.ie + 2; ++i)
    for (int j = 1; j <= s.je + 2; ++j)
      for (int k = 1; k <= s.ke + 2; ++k) s.uu(i, j, k) = 0.7;
  for (int j = 1; j <= s.je + 2; ++j)
    for (int k = 1; k <= s.ke + 2; ++k) s.ub0(j, k) = 0.7;
  return s;
}

}  // namespace

TEST(Hsmac2, DivergenceFreeFieldNeedsOneScanAndLeavesIterDatAlone) {
  qvt::ScopedDir d(qvt::temp_dir("hsmac2-free"));
  write_esp2(0, 5, 0.01);
  qvt::write_file("iter.dat", "old\n");
  for (const double u : {0.7, -5.0}) {
    qv::Store s = uniform_flow();
    for (int i = 1; i <= s.ie + 2; ++i)
      for (int j = 1; j <= s.je + 2; ++j)
        for (int k = 1; k <= s.ke + 2; ++k) s.uu(i, j, k) = u;
    double dtmin = 0;
    qv::hsmac2(s, dtmin);
    EXPECT_EQ(s.iter, 1);
    EXPECT_EQ(qvt::read_file("iter.dat"), "old\n");
    // the bound takes the signed ratio: backward flow does not limit dt
    EXPECT_DOUBLE_EQ(dtmin, u > 0 ? 1 / u : s.delm);
    EXPECT_EQ(s.pp(s.is + 1, s.js + 1, s.ks + 1), 0.0);
  }
}

TEST(Hsmac2, ToleranceRampsFromSespToEsp) {
  qvt::ScopedDir d(qvt::temp_dir("hsmac2-ramp"));
  // esp = 0.005, sesp = 0.5 over ic3 = 3 steps: factor 0.1 per step after ic2 + 1
  write_esp2(4, 3, 0.5);
  const int steps[] = {1, 5, 6, 7, 20};
  const char* expected[] = {"0.5000000000", "0.5000000000", "0.0500000000", "0.0050000000", "0.0050000000"};
  for (int n = 0; n < 5; ++n) {
    qv::Store s = uniform_flow();
    s.nn = steps[n];
    s.vv(s.is + 3, s.js + 2, s.ks + 1) = 1.0;
    double dtmin;
    qv::hsmac2(s, dtmin);
    const std::string rep = qvt::read_file("iter.dat");
    EXPECT_EQ(rep.substr(30, 20), std::string(20 - 12, ' ') + expected[n]) << "nn " << steps[n];
    EXPECT_EQ(rep.substr(50, 10), "         4");
  }
}

// Faces disturbed by 1 give pairs of cells with |D| = 1.  Tolerance 0.6:
// one correction sweep, pressure only where |D| >= 0.5 when the sweep
// reaches the cell.
TEST(Hsmac2, OneSweepReportAndCorrection) {
  qvt::ScopedDir d(qvt::temp_dir("hsmac2-one"));
  write_esp2(0, 2, 0.6);
  qv::Store s = uniform_flow();
  const int is = s.is, js = s.js, ks = s.ks, ie = s.ie;
  s.ww(is + 1, js + 1, ks + 3) = 1;  // A = (is+1, js+1, ks+2): first in i-outer order
  s.vv(is + 2, js + 2, ks + 1) = 1;  // B = (is+2, js+1, ks+1): first in k-outer order
  s.uu(is + 1, js + 2, ks + 2) = 1.2;  // D = 0.5 in a cell of the inflow column
  s.ww(ie - 1, js + 1, ks + 3) = 1;  // a cell of the outflow column
  const double dt = s.dt;
  double dtmin;
  qv::hsmac2(s, dtmin);
  EXPECT_EQ(s.iter, 2);
  EXPECT_EQ(qvt::read_file("iter.dat"),
            "         1        1.0000000000        0.6000000000         0\r\n    5    4    4\r\n");
  // omg = 1 on a uniform grid: dp = -D h^2 / (6 dt), and the six face moves
  // of B cancel its D; its low faces are not touched again
  EXPECT_DOUBLE_EQ(s.pp(is + 2, js + 1, ks + 1), -1 / (6 * dt));
  EXPECT_DOUBLE_EQ(s.uu(is + 2, js + 1, ks + 1), 0.7 + 1.0 / 6);
  EXPECT_DOUBLE_EQ(s.vv(is + 2, js + 1, ks + 1), 1.0 / 6);
  EXPECT_DOUBLE_EQ(s.ww(is + 2, js + 1, ks + 1), 1.0 / 6);
  // in place: the cell above B sees B's correction, D = -1 + 1/6
  EXPECT_DOUBLE_EQ(s.pp(is + 2, js + 2, ks + 1), (5.0 / 6) / (6 * dt));
  // the cell behind B had D = 1/6 < esp2: faces moved, pressure kept
  EXPECT_EQ(s.pp(is + 3, js + 1, ks + 1), 0.0);
  EXPECT_DOUBLE_EQ(s.uu(is + 3, js + 1, ks + 1), 0.7 - 1.0 / 6 + 1.0 / 36);
  EXPECT_EQ(s.pp(is, js + 2, ks + 2), 0.0);
  EXPECT_NE(s.pp(ie - 1, js + 1, ks + 2), 0.0);
  // fixed faces: inflow column restored, outflow face never corrected
  for (int j = js; j <= s.je - 1; ++j)
    for (int k = ks; k <= s.ke - 1; ++k) {
      EXPECT_EQ(s.uu(is, j, k), 0.7);
      EXPECT_EQ(s.uu(ie, j, k), 0.7);
    }
}
