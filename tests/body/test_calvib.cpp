// Body vibration: Newmark steps, degree-of-freedom selection, history
// sampling and the frame terms.
#include <gtest/gtest.h>

#include <cmath>

#include "body/body.hpp"
#include "support/case.hpp"

namespace {

qv::Store body_store() {
  qv::Store s = qvt::tiny_store(6, 5, 3, 0.5);
  s.body.amas = 2;
  s.body.aitm = 0.5;
  s.body.kst.x = 8;
  s.body.kst.y = 18;
  s.body.kst.t = 2;
  s.body.beta = 0.25;
  s.run.dt = 0.01;
  return s;
}

// One step as the driver makes it: nn and t first.
void step(qv::Store& s) {
  s.run.nn += 1;
  s.run.t += s.run.dt;
  testing::internal::CaptureStdout();
  qv::calvib(s);
  testing::internal::GetCapturedStdout();
}

struct State {
  double d, v, a;
};

// One Newmark-beta step written out from its defining formulas.
State newmark(State p, double F, double M, double K, double C, double dt, double beta) {
  const double R = F - C * (p.v + 0.5 * dt * p.a) - K * (p.d + dt * p.v + (0.5 - beta) * (dt * dt) * p.a);
  const double Meff = 0.5 * dt * C + M + beta * (dt * dt) * K;
  const double a = R / Meff;
  return {p.d + dt * p.v + (0.5 - beta) * (dt * dt) * p.a + beta * (dt * dt) * a, p.v + 0.5 * dt * (p.a + a), a};
}

}  // namespace

// All three degrees of freedom with load, damping and a non-trivial start:
// each follows its own mass, stiffness and damping, and the previous-step
// values the flow solver reads are the state before the step.
TEST(Calvib, DampedForcedStepOfEachDegreeOfFreedom) {
  qv::Store s = body_store();
  s.body.ndof = 6;
  s.body.dmp.x = 0.3, s.body.dmp.y = 0.7, s.body.dmp.t = 0.11;
  s.body.beta = 0.3;
  s.body.dis.x = 0.1, s.body.vel.x = -0.2, s.body.acc.x = 0.5;
  s.body.dis.y = -0.3, s.body.vel.y = 0.4, s.body.acc.y = -1.5;
  s.body.dis.t = 0.05, s.body.vel.t = 0.6, s.body.acc.t = 2.0;
  s.body.pf.x = 1.25, s.body.pf.y = -0.75, s.body.pf.t = 0.125;
  const State x = newmark({0.1, -0.2, 0.5}, 1.25, 2, 8, 0.3, 0.01, 0.3);
  const State y = newmark({-0.3, 0.4, -1.5}, -0.75, 2, 18, 0.7, 0.01, 0.3);
  const State r = newmark({0.05, 0.6, 2.0}, 0.125, 0.5, 2, 0.11, 0.01, 0.3);
  step(s);
  EXPECT_DOUBLE_EQ(s.body.dis.x, x.d);
  EXPECT_DOUBLE_EQ(s.body.vel.x, x.v);
  EXPECT_DOUBLE_EQ(s.body.acc.x, x.a);
  EXPECT_DOUBLE_EQ(s.body.dis.y, y.d);
  EXPECT_DOUBLE_EQ(s.body.vel.y, y.v);
  EXPECT_DOUBLE_EQ(s.body.acc.y, y.a);
  EXPECT_DOUBLE_EQ(s.body.dis.t, r.d);
  EXPECT_DOUBLE_EQ(s.body.vel.t, r.v);
  EXPECT_DOUBLE_EQ(s.body.acc.t, r.a);
  EXPECT_EQ(s.body.acc0.x, 0.5);
  EXPECT_EQ(s.body.acc0.y, -1.5);
  EXPECT_EQ(s.body.vel0.x, -0.2);
  EXPECT_EQ(s.body.vel0.y, 0.4);
  EXPECT_EQ(s.body.vel0.t, 0.6);
}

// beta = 1/4, no damping, no load: the energy is constant after the first
// step and the period is close to 2 pi / w.
TEST(Calvib, UndampedFreeVibrationKeepsAmplitudeAndPeriod) {
  qv::Store s = body_store();
  s.body.ndof = 1;  // y only
  s.body.dis.y = 1.0;
  const double w = std::sqrt(s.body.kst.y / s.body.amas);  // 3
  const int steps = static_cast<int>(4 * 2 * M_PI / w / s.run.dt);
  step(s);
  const double e1 = 0.5 * s.body.kst.y * s.body.dis.y * s.body.dis.y + 0.5 * s.body.amas * s.body.vel.y * s.body.vel.y;
  double top = 0, prev = s.body.dis.y, first_up = -1, last_up = -1;
  int ups = 0;
  for (int n = 2; n <= steps; ++n) {
    step(s);
    const double e = 0.5 * s.body.kst.y * s.body.dis.y * s.body.dis.y + 0.5 * s.body.amas * s.body.vel.y * s.body.vel.y;
    ASSERT_NEAR(e, e1, 1e-12 * e1) << "step " << n;
    top = std::max(top, std::fabs(s.body.dis.y));
    if (prev < 0 && s.body.dis.y >= 0) {  // upward zero crossing, interpolated
      const double tc = s.run.t - s.run.dt * s.body.dis.y / (s.body.dis.y - prev);
      if (first_up < 0) first_up = tc;
      last_up = tc;
      ++ups;
    }
    prev = s.body.dis.y;
  }
  EXPECT_NEAR(top, 1.0, 1e-3);
  ASSERT_GE(ups, 3);
  EXPECT_NEAR((last_up - first_up) / (ups - 1), 2 * M_PI / w, 1e-3 * 2 * M_PI / w);
}

// While t < tfrc the displacement is imposed whatever the load; from the
// first step with t >= tfrc the Newmark update continues from the last
// imposed state.
TEST(Calvib, StartUpOscillationThenNewmark) {
  qv::Store s = body_store();
  s.body.ndof = 2;
  s.body.amp.x = 0.2;
  s.body.tfrc = 0.05;
  const double wx = std::sqrt(s.body.kst.x / s.body.amas);
  State last{};
  for (int n = 1; n <= 4; ++n) {
    s.body.pf.x = 50.0 * n;
    step(s);
    EXPECT_EQ(s.body.dis.x, 0.2 * std::sin(wx * s.run.t));
    EXPECT_EQ(s.body.vel.x, wx * 0.2 * std::cos(wx * s.run.t));
    EXPECT_EQ(s.body.acc.x, -(wx * 0.2 * wx) * std::sin(wx * s.run.t));
    last = {s.body.dis.x, s.body.vel.x, s.body.acc.x};
  }
  s.run.t = s.body.tfrc - s.run.dt;  // the next step ends exactly at tfrc
  s.body.pf.x = 3;
  step(s);
  const State x = newmark(last, 3, s.body.amas, s.body.kst.x, 0, s.run.dt, s.body.beta);
  EXPECT_DOUBLE_EQ(s.body.dis.x, x.d);
  EXPECT_DOUBLE_EQ(s.body.vel.x, x.v);
  EXPECT_DOUBLE_EQ(s.body.acc.x, x.a);
}

// Which degrees of freedom move for each selector; unselected ones are
// zeroed every step, ndof = 0 leaves the whole state as it is.
TEST(Calvib, SelectorMovesOrZeroes) {
  struct Case {
    int ndof;
    bool x, y, t;
  };
  const Case cases[] = {{1, false, true, false}, {2, true, false, false}, {3, false, false, true},
                        {4, true, true, false},  {5, false, true, true},  {6, true, true, true},
                        {7, false, false, false}, {-1, false, false, false}};
  for (const Case& c : cases) {
    qv::Store s = body_store();
    s.body.ndof = c.ndof;
    double* st[3][3] = {{&s.body.dis.x, &s.body.vel.x, &s.body.acc.x},
                        {&s.body.dis.y, &s.body.vel.y, &s.body.acc.y},
                        {&s.body.dis.t, &s.body.vel.t, &s.body.acc.t}};
    for (auto& d : st) *d[0] = 0.5, *d[1] = 0.25, *d[2] = -1;
    s.body.pf.x = s.body.pf.y = s.body.pf.t = 1;
    step(s);
    const bool moving[3] = {c.x, c.y, c.t};
    for (int d = 0; d < 3; ++d) {
      SCOPED_TRACE(testing::Message() << "ndof " << c.ndof << " dof " << d);
      if (moving[d]) {
        EXPECT_NE(*st[d][0], 0.5);
        EXPECT_NE(*st[d][1], 0.25);
      } else {
        EXPECT_EQ(*st[d][0], 0.0);
        EXPECT_EQ(*st[d][1], 0.0);
        EXPECT_EQ(*st[d][2], 0.0);
      }
    }
  }
  qv::Store s = body_store();
  s.body.ndof = 0;
  s.body.dis.x = 0.1, s.body.dis.y = 0.2, s.body.dis.t = 0.3, s.body.vel.x = 0.4, s.body.vel.y = 0.5,
  s.body.vel.t = 0.6;
  s.body.acc.x = 0.7, s.body.acc.y = 0.8, s.body.acc.t = 0.9;
  s.body.pf.x = s.body.pf.y = s.body.pf.t = 10;
  for (int n = 0; n < 3; ++n) step(s);
  EXPECT_EQ(s.body.dis.x, 0.1);
  EXPECT_EQ(s.body.dis.y, 0.2);
  EXPECT_EQ(s.body.dis.t, 0.3);
  EXPECT_EQ(s.body.vel.x, 0.4);
  EXPECT_EQ(s.body.vel.y, 0.5);
  EXPECT_EQ(s.body.vel.t, 0.6);
  EXPECT_EQ(s.body.acc.x, 0.7);
  EXPECT_EQ(s.body.acc.y, 0.8);
  EXPECT_EQ(s.body.acc.t, 0.9);
  // the frame terms are still rebuilt from the rotation state
  EXPECT_NE(s.flow.fxn(s.grid.is + 1, s.grid.js, s.grid.ks), 0.0);
  EXPECT_NE(s.flow.fyn(s.grid.is, s.grid.js + 1, s.grid.ks), 0.0);
}

// ndof = 4 clears a rotation left over from a restart, so the frame terms
// vanish although the velocity field does not.
TEST(Calvib, TranslationOnlyKeepsFrameTermsZero) {
  qv::Store s = body_store();
  s.body.ndof = 4;
  s.body.dis.t = 0.1, s.body.vel.t = 0.2, s.body.acc.t = 0.3;
  s.body.pf.t = 5;
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.uu(i, j, k) = s.flow.vv(i, j, k) = 1.0 + i + j;
  for (int n = 0; n < 2; ++n) step(s);
  EXPECT_EQ(s.body.dis.t, 0.0);
  EXPECT_EQ(s.body.vel.t, 0.0);
  EXPECT_EQ(s.body.acc.t, 0.0);
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int i = s.grid.is; i <= s.grid.ie; ++i) {
        EXPECT_EQ(s.flow.fxn(i, j, k), 0.0);
        EXPECT_EQ(s.flow.fyn(i, j, k), 0.0);
      }
}

TEST(Calvib, HistorySamplesEveryNsmpSteps) {
  qv::Store s = body_store();
  s.body.ndof = 6;
  s.body.nsmp = 5;
  s.body.nsnext = s.body.nsmp;
  s.body.nsample = 0;
  State at[13];
  double first[6] = {};
  for (int n = 1; n <= 12; ++n) {
    s.body.pf.x = n, s.body.pf.y = -n, s.body.pf.t = 0.5 * n;
    step(s);
    at[n] = {s.body.dis.y, s.body.vel.y, s.body.acc.y};
    if (n == 1) {
      const double f[6] = {s.body.dis.x, s.body.dis.y, s.body.dis.t, s.body.vel.x, s.body.vel.y, s.body.vel.t};
      std::copy(f, f + 6, first);
    }
  }
  ASSERT_EQ(s.body.nsample, 2);
  EXPECT_EQ(s.body.nsnext, 15);
  const int taken[2] = {5, 10};
  for (int m = 0; m < 2; ++m) {
    const int n = taken[m];
    EXPECT_EQ(s.body.fhist[3 * m + 0], n);
    EXPECT_EQ(s.body.fhist[3 * m + 1], -n);
    EXPECT_EQ(s.body.fhist[3 * m + 2], 0.5 * n);
    // y triple: acceleration, velocity, displacement
    EXPECT_EQ(s.body.bhist[9 * m + 3], at[n].a);
    EXPECT_EQ(s.body.bhist[9 * m + 4], at[n].v);
    EXPECT_EQ(s.body.bhist[9 * m + 5], at[n].d);
  }
  for (int q = 0; q < 3; ++q) {
    EXPECT_EQ(s.body.first_dis[q], first[q]);
    EXPECT_EQ(s.body.first_vel[q], first[3 + q]);
  }

  // a history that cannot grow: the due sample is dropped, calvib says so
  // and the schedule moves on
  {
    qv::Store f = s;
    f.body.nsample = qv::kMaxSamples;
    f.body.nsnext = f.run.nn + 1;
    f.body.pf.x = 99;
    const std::vector<double> before = f.body.fhist;
    testing::internal::CaptureStdout();
    f.run.nn += 1;
    const bool sampled = qv::calvib(f);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(sampled);
    EXPECT_EQ(f.body.nsample, qv::kMaxSamples);
    EXPECT_EQ(f.body.nsnext, f.run.nn + 5);
    EXPECT_EQ(f.body.fhist, before);
    f.run.nn += 1;  // no sample due: nothing to report
    testing::internal::CaptureStdout();
    EXPECT_TRUE(qv::calvib(f));
    testing::internal::GetCapturedStdout();
  }

  qv::Store z = body_store();
  z.body.ndof = 6;
  z.body.nsmp = 0;
  z.body.nsnext = 0;
  for (int n = 1; n <= 12; ++n) step(z);
  EXPECT_EQ(z.body.nsample, 0);
}

// Frame terms on a stretched grid: weighted interpolation inside, one column
// (row) of the velocity at i = is, ie (j = js, je); the rotation enters with
// the sign of the counter-clockwise rate -tvel, -tacc, the centrifugal term
// with tvel^2.
TEST(Calvib, FrameTerms) {
  qv::Store s = body_store();
  const double xs[] = {-1.0, -0.6, 0.0, 0.3, 1.0, 1.8};
  const double ys[] = {-0.8, -0.5, 0.1, 0.4, 1.1};
  for (int n = 0; n < 6; ++n) s.grid.x(s.grid.is + n) = xs[n];
  for (int n = 0; n < 5; ++n) s.grid.y(s.grid.js + n) = ys[n];
  qvt::build_metrics(s);
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) {
        s.flow.uu(i, j, k) = 0.3 * i - 0.7 * j * j + 0.1 * k;
        s.flow.vv(i, j, k) = -0.2 * i * i + 0.9 * j - 0.3 * k;
        s.flow.fxn(i, j, k) = 100 + i;
        s.flow.fyn(i, j, k) = 200 + j;
      }
  s.body.ndof = 0;
  const double w = 0.7, al = -1.3;
  s.body.vel.t = w;
  s.body.acc.t = al;
  step(s);
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
    auto vv = [&](int i, int j) { return s.flow.vv(i, j, k); };
    auto uu = [&](int i, int j) { return s.flow.uu(i, j, k); };
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int i = s.grid.is; i <= s.grid.ie; ++i) {
        double vbar;
        if (i == s.grid.is)
          vbar = 0.5 * (vv(i, j) + vv(i, j + 1));
        else if (i == s.grid.ie)
          vbar = 0.5 * (vv(i - 1, j) + vv(i - 1, j + 1));
        else
          vbar = 0.5 *
                 ((vv(i, j) + vv(i, j + 1)) * s.grid.dx(i - 1) + (vv(i - 1, j) + vv(i - 1, j + 1)) * s.grid.dx(i)) /
                 (s.grid.dx(i - 1) + s.grid.dx(i));
        const double yc = 0.5 * (s.grid.y(j) + s.grid.y(j + 1));
        SCOPED_TRACE(testing::Message() << "fxn i " << i << " j " << j << " k " << k);
        EXPECT_DOUBLE_EQ(s.flow.fxn(i, j, k), 2 * w * vbar + al * yc - w * w * s.grid.x(i));
        EXPECT_EQ(s.flow.fxn0(i, j, k), 100 + i);
      }
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
        double ubar;
        if (j == s.grid.js)
          ubar = 0.5 * (uu(i, j) + uu(i + 1, j));
        else if (j == s.grid.je)
          ubar = 0.5 * (uu(i, j - 1) + uu(i + 1, j - 1));
        else
          ubar = 0.5 *
                 ((uu(i, j) + uu(i + 1, j)) * s.grid.dy(j - 1) + (uu(i, j - 1) + uu(i + 1, j - 1)) * s.grid.dy(j)) /
                 (s.grid.dy(j - 1) + s.grid.dy(j));
        const double xc = 0.5 * (s.grid.x(i) + s.grid.x(i + 1));
        SCOPED_TRACE(testing::Message() << "fyn i " << i << " j " << j << " k " << k);
        EXPECT_DOUBLE_EQ(s.flow.fyn(i, j, k), -2 * w * ubar - al * xc - w * w * s.grid.y(j));
        EXPECT_EQ(s.flow.fyn0(i, j, k), 200 + j);
      }
    // outside their ranges the frame terms are not touched
    EXPECT_EQ(s.flow.fxn(s.grid.is, s.grid.je, k), 100 + s.grid.is);
    EXPECT_EQ(s.flow.fyn(s.grid.ie, s.grid.js, k), 200 + s.grid.js);
  }
  EXPECT_EQ(s.flow.fxn(s.grid.is, s.grid.js, s.grid.ke), 100 + s.grid.is);
  EXPECT_EQ(s.flow.fyn(s.grid.is, s.grid.js, s.grid.ke), 200 + s.grid.js);
}

// The frame terms are shared among threads by planes: on any number of
// threads (more than there are planes, too) every value and its history
// copy has the same bits as on one.
TEST(Calvib, FrameTermsDoNotDependOnTheThreadCount) {
  qv::Store start = qvt::tiny_store(14, 11, 7, 1.0, 0, 2);
  qvt::uneven_grid(start, 8, 0.2, 0.15, 0.1, 0.04);
  qvt::fill_random(start, 9);
  for (int i = 1; i <= start.flow.fxn.ni(); ++i)
    for (int j = 1; j <= start.flow.fxn.nj(); ++j)
      for (int k = 1; k <= start.flow.fxn.nk(); ++k) {
        start.flow.fxn(i, j, k) = start.flow.pp(i, j, k);
        start.flow.fyn(i, j, k) = -start.flow.pp(i, j, k);
      }
  start.body.ndof = 0;
  start.body.vel.t = 0.37;
  start.body.acc.t = -2.1;
  qv::Store one = start;
  {
    const qvt::ScopedThreads t(1);
    step(one);
  }
  for (const int threads : {2, 3, 20}) {
    const qvt::ScopedThreads t(threads);
    qv::Store s = start;
    step(s);
    EXPECT_TRUE(qvt::same_bits(s.flow.fxn, one.flow.fxn)) << threads;
    EXPECT_TRUE(qvt::same_bits(s.flow.fyn, one.flow.fyn)) << threads;
    EXPECT_TRUE(qvt::same_bits(s.flow.fxn0, one.flow.fxn0)) << threads;
    EXPECT_TRUE(qvt::same_bits(s.flow.fyn0, one.flow.fyn0)) << threads;
  }
}
