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
    s.Vin = 1;
    s.ndof = c.ndof;
    s.xvel = 0.1, s.yvel = 0.2;  // tvel = 0: a rotating body at rest
    fill(s.uu, 5), fill(s.vv, 5), fill(s.ww, 5);
    s.nn = 4;
    qv::inflow(s, "fffff", quiet);
    for (int k = s.ks; k <= s.ke - 1; ++k) {
      for (int j = s.js - 1; j <= s.je; ++j) {
        EXPECT_DOUBLE_EQ(s.uu(s.is, j, k), c.u) << c.ndof;
        EXPECT_EQ(s.ub0(j, k), s.uu(s.is, j, k));
        EXPECT_EQ(s.uu(s.is - 1, j, k), 1.0);  // the ghost column keeps Vin
      }
      for (int j = s.js - 1; j <= s.je + 1; ++j) {
        EXPECT_DOUBLE_EQ(s.vv(s.is, j, k), c.v);
        EXPECT_EQ(s.vb0(j, k), s.vv(s.is, j, k));
        EXPECT_EQ(s.vv(s.is - 1, j, k), 0.0);
      }
      for (int j = s.js; j <= s.je - 1; ++j) EXPECT_EQ(s.ww(s.is, j, k), 0.0);
    }
    EXPECT_EQ(s.uu(s.is + 2, s.js, s.ks), 5.0);  // nn > 2: no start-up shift
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
    for (int i = s.is; i <= s.ie; ++i) s.x(i) = 1 + (i - s.is) * h;
    for (int j = s.js; j <= s.je; ++j) s.y(j) = (j - s.js - 2) * h - h / 2;  // yc(js+2) = 0
    qvt::build_metrics(s);
    s.Vin = 1;
    s.ndof = 3;
    s.tvel = w;
    s.tdis = td;
    s.nn = 5;
    qv::inflow(s, "fffff", quiet);
    const double c = std::cos(td), sn = std::sin(td);
    for (int j = s.js - 1; j <= s.je; ++j) {
      const double Y = (s.y(j) + s.y(j + 1)) / 2;
      EXPECT_NEAR(s.uu(s.is, j, s.ks), 1 - w * (Y * c - s.x(s.is) * sn), 1e-14) << j;
      EXPECT_NEAR(s.uu(s.is - 1, j, s.ks), 1 - w * (Y * c - s.x(s.is - 1) * sn), 1e-14) << j;
      EXPECT_EQ(s.ub0(j, s.ks), s.uu(s.is, j, s.ks));
    }
    if (td == 0) {
      EXPECT_NEAR(s.uu(s.is, s.js + 2, s.ks), 1.0, 1e-15);  // on the x axis
    }
    for (int j = s.js - 1; j <= s.je + 1; ++j) {
      const double X = (s.x(s.is) + s.x(s.is + 1)) / 2, Xg = (s.x(s.is - 1) + s.x(s.is)) / 2;
      EXPECT_NEAR(s.vv(s.is, j, s.ks), w * (X * c + s.y(j) * sn), 1e-14) << j;
      EXPECT_NEAR(s.vv(s.is - 1, j, s.ks), w * (Xg * c + s.y(j) * sn), 1e-14) << j;
      EXPECT_EQ(s.vb0(j, s.ks), s.vv(s.is, j, s.ks));
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
    s.Vin = 1;
    s.ndof = 6;
    s.xvel = 0.1, s.xvel0 = 0.04, s.yvel = 0.2, s.yvel0 = 0, s.tvel = 0.3, s.tvel0 = 0.1;
    fill(s.uu, 0.5), fill(s.vv, 0.25);
    s.nn = c.nn;
    testing::internal::CaptureStdout();
    qv::inflow(s, c.input, quiet);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find(" #############################  " + std::string(c.input)) != std::string::npos, c.shift)
        << c.input << " " << c.nn;
    const double sh = c.shift ? 1 : 0;
    for (int j = s.js; j <= s.je - 1; ++j) {
      const double yc = (s.y(j) + s.y(j + 1)) / 2;
      EXPECT_NEAR(s.uu(s.is + 1, j, s.ks), 0.5 - sh * 0.2 * yc, 1e-14);
      for (int i = s.is + 2; i <= s.ie - 1; ++i) EXPECT_NEAR(s.uu(i, j, s.ks), 0.5 - sh * (0.06 + 0.2 * yc), 1e-14);
    }
    for (int i = s.is + 1; i <= s.ie - 1; ++i)
      EXPECT_NEAR(s.vv(i, s.js + 1, s.ks), 0.25 - sh * (0.2 - 0.2 * (s.x(i) + s.x(i + 1)) / 2), 1e-14);
  }
}

TEST(Inflow, OneProbeLinePerCall) {
  qvt::ScopedDir d(qvt::temp_dir("inflow-probe"));
  qvt::write_file("fort.1", "stale\r\n");  // replaced by the first line
  {
    qv::Store s = qvt::tiny_store(6, 80, 10);  // probe row j = 80, k = 10 inside
    s.Vin = 1;
    s.uu(s.is + 2, 80, 10) = 0.25;
    s.uu(s.is + 5, 80, 10) = -0.5;
    s.vv(s.is + 2, 80, 10) = 0.125;
    qv::StepFiles files;
    for (int n = 1; n <= 2; ++n) {
      s.nn = n;
      s.t = 0.01 * n;
      qv::inflow(s, "restart.dat   ", files);
    }
    EXPECT_EQ(qvt::read_file("fort.1"),
              "         1   0.0100000000   1.0000000000   0.2500000000  -0.5000000000\r\n"
              "         2   0.0200000000   1.0000000000   0.2500000000  -0.5000000000\r\n");
    EXPECT_EQ(qvt::read_file("fort.2"),
              "         1   0.0100000000   0.0000000000   0.1250000000   0.0000000000\r\n"
              "         2   0.0200000000   0.0000000000   0.1250000000   0.0000000000\r\n");
  }
}
