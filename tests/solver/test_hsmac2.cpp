// Pressure-velocity correction: tolerance ramp, convergence test, the
// passes reported for "iter.dat", the in-place correction, the fixed faces
// and the time-step bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <vector>

#include "io/format.hpp"
#include "output/probes.hpp"
#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

struct Passes : qv::StepReports {
  std::vector<qv::PressurePass> seen;
  void pressure_pass(const qv::PressurePass& p) override { seen.push_back(p); }
};

// hsmac2 with the tolerance ramp ic2, ic3, sesp; the passes it reported.
std::vector<qv::PressurePass> run_hsmac2(qv::Store& s, qv::ToleranceRamp ramp, double& dtmin) {
  Passes p;
  qv::OutflowSwitches outflow;
  qv::hsmac2(s, ramp, dtmin, p, outflow);
  return p.seen;
}

// uu = 0.7 everywhere (divergence-free on any grid) with the matching
// inflow plane; dt = 0.01, omg = 1, esp = 0.005, nn = 1.
qv::Store with_stream(qv::Store s) {
  s.run.dt = 0.01;
  s.run.omg = 1;
  s.run.esp = 0.005;
  s.run.nn = 1;
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.uu(i, j, k) = 0.7;
  for (int j = 1; j <= s.grid.je + 2; ++j)
    for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.ub0(j, k) = 0.7;
  return s;
}

bool same_fields(const qv::Store& a, const qv::Store& b) {
  return qvt::same_bits(a.flow.uu, b.flow.uu) && qvt::same_bits(a.flow.vv, b.flow.vv) &&
         qvt::same_bits(a.flow.ww, b.flow.ww) && qvt::same_bits(a.flow.pp, b.flow.pp);
}

// On a uniform grid h = 1.
qv::Store uniform_flow() { return with_stream(qvt::tiny_store(8, 5, 5)); }

}  // namespace

TEST(Hsmac2, DivergenceFreeFieldNeedsOneScanAndReportsNoPass) {
  for (const double u : {0.7, -5.0}) {
    qv::Store s = uniform_flow();
    for (int i = 1; i <= s.grid.ie + 2; ++i)
      for (int j = 1; j <= s.grid.je + 2; ++j)
        for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.uu(i, j, k) = u;
    double dtmin = 0;
    EXPECT_TRUE(run_hsmac2(s, {0, 5, 0.01}, dtmin).empty());
    EXPECT_EQ(s.run.iter, 1);
    // the bound takes the signed ratio: backward flow does not limit dt
    EXPECT_DOUBLE_EQ(dtmin, u > 0 ? 1 / u : s.run.delm);
    EXPECT_EQ(s.flow.pp(s.grid.is + 1, s.grid.js + 1, s.grid.ks + 1), 0.0);
  }
}

TEST(Hsmac2, ToleranceRampsFromSespToEsp) {
  // esp = 0.005, sesp = 0.5 over ic3 = 3 steps: factor 0.1 per step after ic2 + 1
  const int steps[] = {1, 5, 6, 7, 20};
  const char* expected[] = {"0.5000000000", "0.5000000000", "0.0500000000", "0.0050000000", "0.0050000000"};
  for (int n = 0; n < 5; ++n) {
    qv::Store s = uniform_flow();
    s.run.nn = steps[n];
    s.flow.vv(s.grid.is + 3, s.grid.js + 2, s.grid.ks + 1) = 1.0;
    double dtmin;
    const auto passes = run_hsmac2(s, {4, 3, 0.5}, dtmin);
    ASSERT_FALSE(passes.empty());
    EXPECT_EQ(qv::fmt::F(passes[0].esp2, 20, 10), std::string(20 - 12, ' ') + expected[n]) << "nn " << steps[n];
    EXPECT_EQ(passes[0].ic2, 4);
  }
}

// Faces disturbed by 1 give pairs of cells with |D| = 1.  Tolerance 0.6:
// one correction sweep, pressure only where |D| >= 0.5 when the sweep
// reaches the cell; the pass as the program's "iter.dat" holds it.
TEST(Hsmac2, OneSweepReportAndCorrection) {
  qvt::ScopedDir d(qvt::temp_dir("hsmac2-one"));
  qv::Store s = uniform_flow();
  const int is = s.grid.is, js = s.grid.js, ks = s.grid.ks, ie = s.grid.ie;
  s.flow.ww(is + 1, js + 1, ks + 3) = 1;    // A = (is+1, js+1, ks+2): first in i-outer order
  s.flow.vv(is + 2, js + 2, ks + 1) = 1;    // B = (is+2, js+1, ks+1): first in k-outer order
  s.flow.uu(is + 1, js + 2, ks + 2) = 1.2;  // D = 0.5 in a cell of the inflow column
  s.flow.ww(ie - 1, js + 1, ks + 3) = 1;    // a cell of the outflow column
  const double dt = s.run.dt;
  double dtmin;
  qv::StepFiles files;
  qv::OutflowSwitches outflow{1, 0, 0};
  qv::hsmac2(s, {0, 2, 0.6}, dtmin, files, outflow);
  EXPECT_EQ(s.run.iter, 2);
  // it leaves its corrected outflow uu in place, vv and ww copied
  EXPECT_EQ(outflow.iobu, 0);
  EXPECT_EQ(outflow.iobv, 1);
  EXPECT_EQ(outflow.iobw, 1);
  EXPECT_EQ(qvt::read_file("iter.dat"),
            "         1        1.0000000000        0.6000000000         0\r\n    5    4    4\r\n");
  // omg = 1 on a uniform grid: dp = -D h^2 / (6 dt), and the six face moves
  // of B cancel its D; its low faces are not touched again
  EXPECT_DOUBLE_EQ(s.flow.pp(is + 2, js + 1, ks + 1), -1 / (6 * dt));
  EXPECT_DOUBLE_EQ(s.flow.uu(is + 2, js + 1, ks + 1), 0.7 + 1.0 / 6);
  EXPECT_DOUBLE_EQ(s.flow.vv(is + 2, js + 1, ks + 1), 1.0 / 6);
  EXPECT_DOUBLE_EQ(s.flow.ww(is + 2, js + 1, ks + 1), 1.0 / 6);
  // in place: the cell above B sees B's correction, D = -1 + 1/6
  EXPECT_DOUBLE_EQ(s.flow.pp(is + 2, js + 2, ks + 1), (5.0 / 6) / (6 * dt));
  // the cell behind B had D = 1/6 < esp2: faces moved, pressure kept
  EXPECT_EQ(s.flow.pp(is + 3, js + 1, ks + 1), 0.0);
  EXPECT_DOUBLE_EQ(s.flow.uu(is + 3, js + 1, ks + 1), 0.7 - 1.0 / 6 + 1.0 / 36);
  EXPECT_EQ(s.flow.pp(is, js + 2, ks + 2), 0.0);
  EXPECT_NE(s.flow.pp(ie - 1, js + 1, ks + 2), 0.0);
  // fixed faces: inflow column restored, outflow face never corrected
  for (int j = js; j <= s.grid.je - 1; ++j)
    for (int k = ks; k <= s.grid.ke - 1; ++k) {
      EXPECT_EQ(s.flow.uu(is, j, k), 0.7);
      EXPECT_EQ(s.flow.uu(ie, j, k), 0.7);
    }
}

namespace {

// The stream on a stretched grid with walls in y and z, each direction
// growing by its own factor: no two neighbouring widths or centre
// distances are alike.
qv::Store stretched_flow() {
  return with_stream(qvt::stretched_store(9, 8, 8, {0.2, 1.15}, {0.1, 1.25}, {0.3, 1.1}, 1, 1));
}

// Widths and centre distances from the grid lines themselves.
double w(const qv::Line& c, int m) { return c(m + 1) - c(m); }
double wc(const qv::Line& c, int m) { return (w(c, m - 1) + w(c, m)) / 2; }

}  // namespace

// One disturbed face on a stretched grid, worked by hand.  Cell B's high
// face in one direction carries a = 1: D(B) = 1/width.  The sweep reaches
// B first: dp = -D / (2 dt c) with c = sum of 1/(wc(m) wc(m+1)), and B's six
// faces move by dp dt / wc.  The neighbour N across the disturbed face comes
// later and sees only what B's move left there: D(N) = -(a + dp dt /
// wc(m+1)) / width(N); its own dp then moves the shared face back.  One
// sweep is enough for the tolerance.
TEST(Hsmac2, OneCorrectionOnAStretchedGridByHand) {
  for (int dir = 0; dir < 3; ++dir) {
    qv::Store s = stretched_flow();
    const qv::Line* lines[3] = {&s.grid.x, &s.grid.y, &s.grid.z};
    const int B[3] = {s.grid.is + 2, s.grid.js + 3, s.grid.ks + 2};
    int N[3] = {B[0], B[1], B[2]};
    N[dir] += 1;
    qv::Field* q[3] = {&s.flow.uu, &s.flow.vv, &s.flow.ww};
    const double base = dir == 0 ? 0.7 : 0.0;
    (*q[dir])(N[0], N[1], N[2]) = base + 1;  // B's high face = N's low face
    auto c = [&](const int* m) {
      double sum = 0;
      for (int e = 0; e < 3; ++e) sum += 1 / (wc(*lines[e], m[e]) * wc(*lines[e], m[e] + 1));
      return sum;
    };
    const double dt = s.run.dt;
    const double DB = 1 / w(*lines[dir], B[dir]);
    const double dpB = -DB / (2 * dt * c(B));
    const double pushed = 1 + dpB * dt / wc(*lines[dir], N[dir]);
    const double DN = -pushed / w(*lines[dir], N[dir]);
    const double dpN = -DN / (2 * dt * c(N));
    double dtmin;
    run_hsmac2(s, {0, 5, 0.6 * DB}, dtmin);
    EXPECT_EQ(s.run.iter, 2) << "direction " << dir;
    EXPECT_NEAR(s.flow.pp(B[0], B[1], B[2]), dpB, 1e-12 * std::fabs(dpB)) << "direction " << dir;
    EXPECT_NEAR(s.flow.pp(N[0], N[1], N[2]), dpN, 1e-12 * std::fabs(dpN)) << "direction " << dir;
    // B's low faces are not touched again; the shared face moved twice
    for (int e = 0; e < 3; ++e) {
      const double b0 = e == 0 ? 0.7 : 0.0;
      EXPECT_NEAR((*q[e])(B[0], B[1], B[2]), b0 - dpB * dt / wc(*lines[e], B[e]), 1e-12)
          << "low face " << e << ", direction " << dir;
    }
    EXPECT_NEAR((*q[dir])(N[0], N[1], N[2]), base + pushed - dpN * dt / wc(*lines[dir], N[dir]), 1e-12)
        << "direction " << dir;
  }
}

// Two cells of one row in i with the same largest |D|: the reported pass
// names the one met first, the smaller i.  ww raised on the top faces of (i1, j, k)
// and (i2, j, k) gives both |D| = 1/dz(k); the cells above get 1/dz(k+1),
// smaller on a grid growing in z.
TEST(Hsmac2, ReportedTieGoesToTheSmallerI) {
  qv::Store s = stretched_flow();
  const int j = s.grid.js + 2, k = s.grid.ks + 1, i1 = s.grid.is + 2, i2 = s.grid.is + 5;
  s.flow.ww(i1, j, k + 1) = 1;
  s.flow.ww(i2, j, k + 1) = 1;
  double dtmin;
  // only the first scan reports
  const auto passes = run_hsmac2(s, {0, 5, 1 / s.grid.dz(k) - 1e-9}, dtmin);
  EXPECT_EQ(s.run.iter, 2);
  ASSERT_EQ(passes.size(), 1u);
  EXPECT_EQ(passes[0].li, i1);
  EXPECT_EQ(passes[0].lj, j);
  EXPECT_EQ(passes[0].lk, k);
}

// The admissible time step on a stretched grid: the largest signed u/dx,
// v/dy, w/dz with each cell's own width.  A stream along one line of cells
// (divergence-free, so no correction) picks the narrowest cell of that line.
TEST(Hsmac2, TimeStepBoundUsesEachDirectionsOwnWidth) {
  for (int dir = 0; dir < 3; ++dir) {
    qv::Store s = stretched_flow();
    for (int i = 1; i <= s.grid.ie + 2; ++i)
      for (int j = 1; j <= s.grid.je + 2; ++j)
        for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.uu(i, j, k) = 0;
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.ub0(j, k) = 0;
    const double v = 40;
    // a line of cells along dir through the cell (is+3, js+2, ks+4)
    const int at[3] = {s.grid.is + 3, s.grid.js + 2, s.grid.ks + 4};
    const int lo[3] = {s.grid.is, s.grid.js, s.grid.ks}, hi[3] = {s.grid.ie, s.grid.je, s.grid.ke};
    const qv::Line* lines[3] = {&s.grid.x, &s.grid.y, &s.grid.z};
    qv::Field* q[3] = {&s.flow.uu, &s.flow.vv, &s.flow.ww};
    double narrow = 1e30;
    for (int m = lo[dir]; m <= hi[dir]; ++m) {
      int p[3] = {at[0], at[1], at[2]};
      p[dir] = m;
      (*q[dir])(p[0], p[1], p[2]) = v;
      if (m < hi[dir]) narrow = std::min(narrow, w(*lines[dir], m));
    }
    if (dir == 0)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.ub0(at[1], k) = k == at[2] ? v : 0;
    double dtmin = 0;
    EXPECT_TRUE(run_hsmac2(s, {0, 5, 0.01}, dtmin).empty());
    EXPECT_EQ(s.run.iter, 1);
    ASSERT_GT(v / narrow, 1 / s.run.delm);
    EXPECT_NEAR(dtmin, narrow / v, 1e-15) << "direction " << dir;
  }
}

TEST(Hsmac2, ThePassesClearTheBodyAsTheDefinedPassesDo) {
  // hsmac2 against its recipe pass by pass (the ordered scan, sweep and
  // restore), then the boundary values, on a stretched grid with random
  // values in every face, the body's included.  Two bodies with cells no
  // fluid cell touches: a 4 x 4 x 4 block inside, and a 3 x 3 x 3 block on
  // the inflow plane, whose middle cell the inflow restore reaches.
  for (int threads : {1, 2, 3}) {
    qvt::ScopedThreads use(threads);
    qv::Store a = qvt::pressure_case(14, 13, 12, 5u);
    const qv::Grid& g = a.grid;
    for (int i = g.is + 6; i <= g.is + 9; ++i)
      for (int j = g.js + 5; j <= g.js + 8; ++j)
        for (int k = g.ks + 3; k <= g.ks + 6; ++k) a.flow.iflag(i, j, k) = 1;
    for (int i = g.is; i <= g.is + 2; ++i)
      for (int j = g.js + 6; j <= g.js + 8; ++j)
        for (int k = g.ks + 4; k <= g.ks + 6; ++k) a.flow.iflag(i, j, k) = 1;
    a.run.esp = 20;
    a.run.nn = 1;
    qv::Store b = a;
    double dtmin = 0;
    const auto passes = run_hsmac2(a, {0, 2, 20}, dtmin);
    ASSERT_GE(passes.size(), 3u);
    qv::list_body_cells(b);
    ASSERT_LT(b.work.work_body_rim.size(), b.work.work_body.size());
    std::vector<double> cxy, cz;
    qv::correction_coefficients(b, cxy, cz);
    for (const auto& p : passes) {
      double dm;
      int l[3];
      ASSERT_TRUE(qv::divergence_scan_in_order(b, dm, l[0], l[1], l[2]));
      ASSERT_EQ(dm, p.dm) << "pass " << p.iter;
      qv::correction_sweep_in_order(b, p.esp2, cxy, cz);
      qv::restore_after_sweep(b);
    }
    // the passes alone, before the boundary values overwrite the inflow
    // plane: on the copies, the rim after a first full clearing
    if (qv::lanes_usable(b)) {
      qv::Store c = b, d = b;
      d.work.work_lanes.gather(d);
      for (int pass = 0; pass < 3; ++pass) {
        qv::correction_sweep_in_order(c, 0.02, cxy, cz);
        qv::restore_after_sweep(c);
        qv::lanes_correction_sweep(d.work.work_lanes, d, 0.02, cxy, cz);
        qv::lanes_restore_after_sweep(d.work.work_lanes, d, pass == 0 ? d.work.work_body : d.work.work_body_rim);
      }
      d.work.work_lanes.scatter(d);
      EXPECT_TRUE(same_fields(c, d)) << threads << " threads, passes alone";
    }
    qv::uvwbdy(b, qv::kOutflowCorrectedU);
    qv::prsbdy(b);
    EXPECT_TRUE(same_fields(a, b)) << threads << " threads";
  }
}
