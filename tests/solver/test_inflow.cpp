// Inflow column from Vin and the body motion, the start-up shift of a fresh
// run, and the probe files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "output/probes.hpp"
#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

qv::StepReports quiet;  // the probe row is not looked at

void fill(qv::Field& f, double v) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = v;
}

}  // namespace

TEST(Inflow, TranslationOfTheBody) {
  qvt::ScopedDir d(qvt::temp_dir("inflow-move"));
  struct Case {
    int ndof;
    double u, v;  // expected inflow uu and vv
  };
  for (const Case c : {Case{0, 1.0, 0.0}, Case{2, 0.9, 0.0}, Case{1, 1.0, -0.2}, Case{4, 0.9, -0.2}, Case{3, 1.0, 0.0}}) {
    qv::Store s = qvt::tiny_store(6, 5, 4);
    s.run.Vin = 1;
    s.body.ndof = c.ndof;
    s.body.vel.x = 0.1, s.body.vel.y = 0.2;  // tvel = 0: a rotating body at rest
    fill(s.flow.uu, 5), fill(s.flow.vv, 5), fill(s.flow.ww, 5);
    s.run.nn = 4;
    qv::inflow(s, "fffff", quiet, {});
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
      for (int j = s.grid.js - 1; j <= s.grid.je; ++j) {
        EXPECT_DOUBLE_EQ(s.flow.uu(s.grid.is, j, k), c.u) << c.ndof;
        EXPECT_EQ(s.flow.ub0(j, k), s.flow.uu(s.grid.is, j, k));
        EXPECT_EQ(s.flow.uu(s.grid.is - 1, j, k), 1.0);  // the ghost column keeps Vin
      }
      for (int j = s.grid.js - 1; j <= s.grid.je + 1; ++j) {
        EXPECT_DOUBLE_EQ(s.flow.vv(s.grid.is, j, k), c.v);
        EXPECT_EQ(s.flow.vb0(j, k), s.flow.vv(s.grid.is, j, k));
        EXPECT_EQ(s.flow.vv(s.grid.is - 1, j, k), 0.0);
      }
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j) EXPECT_EQ(s.flow.ww(s.grid.is, j, k), 0.0);
    }
    EXPECT_EQ(s.flow.uu(s.grid.is + 2, s.grid.js, s.grid.ks), 5.0);  // nn > 2: no start-up shift
  }
}

// The boundary values that end the inflow follow the outflow switches the
// caller hands in: the outflow face of uu copied from the face inside it
// only when iobu says so.
TEST(Inflow, BoundaryValuesFollowTheSwitchesHandedIn) {
  qvt::ScopedDir d(qvt::temp_dir("inflow-switches"));
  for (const int iob : {0, 1}) {
    qv::Store s = qvt::tiny_store(6, 5, 4);
    s.run.Vin = 1;
    s.run.nn = 4;
    fill(s.flow.uu, 5), fill(s.flow.vv, 0), fill(s.flow.ww, 0);
    const int ie = s.grid.ie, j = s.grid.js + 1, k = s.grid.ks + 1;
    s.flow.uu(ie - 1, j, k) = 3;
    testing::internal::CaptureStdout();
    qv::inflow(s, "fffff", quiet, qv::OutflowSwitches{iob, iob, iob});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(s.flow.uu(ie, j, k), iob ? 3.0 : 5.0) << iob;
  }
}

// The body's rotation is clockwise-positive; the frame seen by the flow turns
// at -tvel with the angle -tdis, so at (X, Y) the inflow gets
// u = Vin - tvel (Y cos tdis - X sin tdis), v = tvel (X cos tdis + Y sin tdis).
TEST(Inflow, RotationOfTheBody) {
  qvt::ScopedDir d(qvt::temp_dir("inflow-turn"));
  const double h = 0.5, w = 0.3;
  for (const double td : {0.0, 0.4}) {
    qv::Store s = qvt::tiny_store(6, 7, 3, h);
    for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.x(i) = 1 + (i - s.grid.is) * h;
    for (int j = s.grid.js; j <= s.grid.je; ++j) s.grid.y(j) = (j - s.grid.js - 2) * h - h / 2;  // yc(js+2) = 0
    qvt::build_metrics(s);
    s.run.Vin = 1;
    s.body.ndof = 3;
    s.body.vel.t = w;
    s.body.dis.t = td;
    s.run.nn = 5;
    qv::inflow(s, "fffff", quiet, {});
    const double c = std::cos(td), sn = std::sin(td);
    for (int j = s.grid.js - 1; j <= s.grid.je; ++j) {
      const double Y = (s.grid.y(j) + s.grid.y(j + 1)) / 2;
      EXPECT_NEAR(s.flow.uu(s.grid.is, j, s.grid.ks), 1 - w * (Y * c - s.grid.x(s.grid.is) * sn), 1e-14) << j;
      EXPECT_NEAR(s.flow.uu(s.grid.is - 1, j, s.grid.ks), 1 - w * (Y * c - s.grid.x(s.grid.is - 1) * sn), 1e-14) << j;
      EXPECT_EQ(s.flow.ub0(j, s.grid.ks), s.flow.uu(s.grid.is, j, s.grid.ks));
    }
    if (td == 0) {
      EXPECT_NEAR(s.flow.uu(s.grid.is, s.grid.js + 2, s.grid.ks), 1.0, 1e-15);  // on the x axis
    }
    for (int j = s.grid.js - 1; j <= s.grid.je + 1; ++j) {
      const double X = (s.grid.x(s.grid.is) + s.grid.x(s.grid.is + 1)) / 2,
                   Xg = (s.grid.x(s.grid.is - 1) + s.grid.x(s.grid.is)) / 2;
      EXPECT_NEAR(s.flow.vv(s.grid.is, j, s.grid.ks), w * (X * c + s.grid.y(j) * sn), 1e-14) << j;
      EXPECT_NEAR(s.flow.vv(s.grid.is - 1, j, s.grid.ks), w * (Xg * c + s.grid.y(j) * sn), 1e-14) << j;
      EXPECT_EQ(s.flow.vb0(j, s.grid.ks), s.flow.vv(s.grid.is, j, s.grid.ks));
    }
  }
}

// Fresh start, steps 1 and 2: the interior takes the change of the body
// velocity (x from column is+2, y and rotation from is+1).
TEST(Inflow, StartUpShiftOnlyForAFreshStartsFirstTwoSteps) {
  qvt::ScopedDir d(qvt::temp_dir("inflow-shift"));
  struct Case {
    const char* input;
    int nn;
    bool shift;
  };
  for (const Case c : {Case{"fffff         ", 1, true}, Case{"fffff", 2, true}, Case{"fffff", 3, false},
                       Case{"input.dat     ", 1, false}, Case{"ffff", 1, false}}) {
    qv::Store s = qvt::tiny_store(7, 5, 4);
    s.run.Vin = 1;
    s.body.ndof = 6;
    s.body.vel.x = 0.1, s.body.vel0.x = 0.04, s.body.vel.y = 0.2, s.body.vel0.y = 0, s.body.vel.t = 0.3,
    s.body.vel0.t = 0.1;
    fill(s.flow.uu, 0.5), fill(s.flow.vv, 0.25);
    s.run.nn = c.nn;
    testing::internal::CaptureStdout();
    qv::inflow(s, c.input, quiet, {});
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find(" #############################  " + std::string(c.input)) != std::string::npos, c.shift)
        << c.input << " " << c.nn;
    const double sh = c.shift ? 1 : 0;
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) {
      const double yc = (s.grid.y(j) + s.grid.y(j + 1)) / 2;
      EXPECT_NEAR(s.flow.uu(s.grid.is + 1, j, s.grid.ks), 0.5 - sh * 0.2 * yc, 1e-14);
      for (int i = s.grid.is + 2; i <= s.grid.ie - 1; ++i)
        EXPECT_NEAR(s.flow.uu(i, j, s.grid.ks), 0.5 - sh * (0.06 + 0.2 * yc), 1e-14);
    }
    for (int i = s.grid.is + 1; i <= s.grid.ie - 1; ++i)
      EXPECT_NEAR(s.flow.vv(i, s.grid.js + 1, s.grid.ks), 0.25 - sh * (0.2 - 0.2 * (s.grid.x(i) + s.grid.x(i + 1)) / 2),
                  1e-14);
  }
}

TEST(Inflow, OneProbeLinePerCall) {
  qvt::ScopedDir d(qvt::temp_dir("inflow-probe"));
  qvt::write_file("fort.1", "stale\r\n");  // replaced by the first line
  {
    qv::Store s = qvt::tiny_store(6, 80, 10);  // probe row j = 80, k = 10 inside
    s.run.Vin = 1;
    s.flow.uu(s.grid.is + 2, 80, 10) = 0.25;
    s.flow.uu(s.grid.is + 5, 80, 10) = -0.5;
    s.flow.vv(s.grid.is + 2, 80, 10) = 0.125;
    qv::StepFiles files;
    for (int n = 1; n <= 2; ++n) {
      s.run.nn = n;
      s.run.t = 0.01 * n;
      qv::inflow(s, "restart.dat   ", files, {});
    }
    EXPECT_EQ(qvt::read_file("fort.1"),
              "         1   0.0100000000   1.0000000000   0.2500000000  -0.5000000000\r\n"
              "         2   0.0200000000   1.0000000000   0.2500000000  -0.5000000000\r\n");
    EXPECT_EQ(qvt::read_file("fort.2"),
              "         1   0.0100000000   0.0000000000   0.1250000000   0.0000000000\r\n"
              "         2   0.0200000000   0.0000000000   0.1250000000   0.0000000000\r\n");
  }
}
