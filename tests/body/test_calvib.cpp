// Body vibration: Newmark steps, degree-of-freedom selection, history
// sampling and the frame terms.
#include <gtest/gtest.h>

#include <cmath>

#include "body/body.hpp"
#include "support/case.hpp"

namespace {

qv::Store body_store() {
  qv::Store s = qvt::tiny_store(6, 5, 3, 0.5);
  s.amas = 2;
  s.aitm = 0.5;
  s.xkst = 8;
  s.ykst = 18;
  s.tkst = 2;
  s.beta = 0.25;
  s.dt = 0.01;
  return s;
}

// One step as the driver makes it: nn and t first.
void step(qv::Store& s) {
  s.nn += 1;
  s.t += s.dt;
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
  s.ndof = 6;
  s.xdmp = 0.3, s.ydmp = 0.7, s.tdmp = 0.11;
  s.beta = 0.3;
  s.xdis = 0.1, s.xvel = -0.2, s.xacc = 0.5;
  s.ydis = -0.3, s.yvel = 0.4, s.yacc = -1.5;
  s.tdis = 0.05, s.tvel = 0.6, s.tacc = 2.0;
  s.pfx = 1.25, s.pfy = -0.75, s.pft = 0.125;
  const State x = newmark({0.1, -0.2, 0.5}, 1.25, 2, 8, 0.3, 0.01, 0.3);
  const State y = newmark({-0.3, 0.4, -1.5}, -0.75, 2, 18, 0.7, 0.01, 0.3);
  const State r = newmark({0.05, 0.6, 2.0}, 0.125, 0.5, 2, 0.11, 0.01, 0.3);
  step(s);
  EXPECT_DOUBLE_EQ(s.xdis, x.d);
  EXPECT_DOUBLE_EQ(s.xvel, x.v);
  EXPECT_DOUBLE_EQ(s.xacc, x.a);
  EXPECT_DOUBLE_EQ(s.ydis, y.d);
  EXPECT_DOUBLE_EQ(s.yvel, y.v);
  EXPECT_DOUBLE_EQ(s.yacc, y.a);
  EXPECT_DOUBLE_EQ(s.tdis, r.d);
  EXPECT_DOUBLE_EQ(s.tvel, r.v);
  EXPECT_DOUBLE_EQ(s.tacc, r.a);
  EXPECT_EQ(s.xacc0, 0.5);
  EXPECT_EQ(s.yacc0, -1.5);
  EXPECT_EQ(s.xvel0, -0.2);
  EXPECT_EQ(s.yvel0, 0.4);
  EXPECT_EQ(s.tvel0, 0.6);
}

// beta = 1/4, no damping, no load: the energy is constant after the first
// step and the period is close to 2 pi / w.
TEST(Calvib, UndampedFreeVibrationKeepsAmplitudeAndPeriod) {
  qv::Store s = body_store();
  s.ndof = 1;  // y only
  s.ydis = 1.0;
  const double w = std::sqrt(s.ykst / s.amas);  // 3
  const int steps = static_cast<int>(4 * 2 * M_PI / w / s.dt);
  step(s);
  const double e1 = 0.5 * s.ykst * s.ydis * s.ydis + 0.5 * s.amas * s.yvel * s.yvel;
  double top = 0, prev = s.ydis, first_up = -1, last_up = -1;
  int ups = 0;
  for (int n = 2; n <= steps; ++n) {
    step(s);
    const double e = 0.5 * s.ykst * s.ydis * s.ydis + 0.5 * s.amas * s.yvel * s.yvel;
    ASSERT_NEAR(e, e1, 1e-12 * e1) << "step " << n;
    top = std::max(top, std::fabs(s.ydis));
    if (prev < 0 && s.ydis >= 0) {  // upward zero crossing, interpolated
      const double tc = s.t - s.dt * s.ydis / (s.ydis - prev);
      if (first_up < 0) first_up = tc;
      last_up = tc;
      ++ups;
    }
    prev = s.ydis;
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
  s.ndof = 2;
  s.xamp = 0.2;
  s.tfrc = 0.05;
  const double wx = std::sqrt(s.xkst / s.amas);
  State last{};
  for (int n = 1; n <= 4; ++n) {
    s.pfx = 50.0 * n;
    step(s);
    EXPECT_EQ(s.xdis, 0.2 * std::sin(wx * s.t));
    EXPECT_EQ(s.xvel, wx * 0.2 * std::cos(wx * s.t));
    EXPECT_EQ(s.xacc, -(wx * 0.2 * wx) * std::sin(wx * s.t));
    last = {s.xdis, s.xvel, s.xacc};
  }
  s.t = s.tfrc - s.dt;  // the next step ends exactly at tfrc
  s.pfx = 3;
  step(s);
  const State x = newmark(last, 3, s.amas, s.xkst, 0, s.dt, s.beta);
  EXPECT_DOUBLE_EQ(s.xdis, x.d);
  EXPECT_DOUBLE_EQ(s.xvel, x.v);
  EXPECT_DOUBLE_EQ(s.xacc, x.a);
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
    s.ndof = c.ndof;
    double* st[3][3] = {{&s.xdis, &s.xvel, &s.xacc}, {&s.ydis, &s.yvel, &s.yacc}, {&s.tdis, &s.tvel, &s.tacc}};
    for (auto& d : st) *d[0] = 0.5, *d[1] = 0.25, *d[2] = -1;
    s.pfx = s.pfy = s.pft = 1;
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
  s.ndof = 0;
  s.xdis = 0.1, s.ydis = 0.2, s.tdis = 0.3, s.xvel = 0.4, s.yvel = 0.5, s.tvel = 0.6;
  s.xacc = 0.7, s.yacc = 0.8, s.tacc = 0.9;
  s.pfx = s.pfy = s.pft = 10;
  for (int n = 0; n < 3; ++n) step(s);
  EXPECT_EQ(s.xdis, 0.1);
  EXPECT_EQ(s.ydis, 0.2);
  EXPECT_EQ(s.tdis, 0.3);
  EXPECT_EQ(s.xvel, 0.4);
  EXPECT_EQ(s.yvel, 0.5);
  EXPECT_EQ(s.tvel, 0.6);
  EXPECT_EQ(s.xacc, 0.7);
  EXPECT_EQ(s.yacc, 0.8);
  EXPECT_EQ(s.tacc, 0.9);
  // the frame terms are still rebuilt from the rotation state
  EXPECT_NE(s.fxn(s.is + 1, s.js, s.ks), 0.0);
  EXPECT_NE(s.fyn(s.is, s.js + 1, s.ks), 0.0);
}

// ndof = 4 clears a rotation left over from a restart, so the frame terms
// vanish although the velocity field does not.
TEST(Calvib, TranslationOnlyKeepsFrameTermsZero) {
  qv::Store s = body_store();
  s.ndof = 4;
  s.tdis = 0.1, s.tvel = 0.2, s.tacc = 0.3;
  s.pft = 5;
  for (int i = 1; i <= s.ie + 2; ++i)
    for (int j = 1; j <= s.je + 2; ++j)
      for (int k = 1; k <= s.ke + 2; ++k) s.uu(i, j, k) = s.vv(i, j, k) = 1.0 + i + j;
  for (int n = 0; n < 2; ++n) step(s);
  EXPECT_EQ(s.tdis, 0.0);
  EXPECT_EQ(s.tvel, 0.0);
  EXPECT_EQ(s.tacc, 0.0);
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je; ++j)
      for (int i = s.is; i <= s.ie; ++i) {
        EXPECT_EQ(s.fxn(i, j, k), 0.0);
        EXPECT_EQ(s.fyn(i, j, k), 0.0);
      }
}

TEST(Calvib, HistorySamplesEveryNsmpSteps) {
  qv::Store s = body_store();
  s.ndof = 6;
  s.nsmp = 5;
  s.nsnext = s.nsmp;
  s.nsample = 0;
  State at[13];
  double first[6] = {};
  for (int n = 1; n <= 12; ++n) {
    s.pfx = n, s.pfy = -n, s.pft = 0.5 * n;
    step(s);
    at[n] = {s.ydis, s.yvel, s.yacc};
    if (n == 1) {
      const double f[6] = {s.xdis, s.ydis, s.tdis, s.xvel, s.yvel, s.tvel};
      std::copy(f, f + 6, first);
    }
  }
  ASSERT_EQ(s.nsample, 2);
  EXPECT_EQ(s.nsnext, 15);
  const int taken[2] = {5, 10};
  for (int m = 0; m < 2; ++m) {
    const int n = taken[m];
    EXPECT_EQ(s.fhist[3 * m + 0], n);
    EXPECT_EQ(s.fhist[3 * m + 1], -n);
    EXPECT_EQ(s.fhist[3 * m + 2], 0.5 * n);
    // y triple: acceleration, velocity, displacement
    EXPECT_EQ(s.bhist[9 * m + 3], at[n].a);
    EXPECT_EQ(s.bhist[9 * m + 4], at[n].v);
    EXPECT_EQ(s.bhist[9 * m + 5], at[n].d);
  }
  for (int q = 0; q < 3; ++q) {
    EXPECT_EQ(s.first_dis[q], first[q]);
    EXPECT_EQ(s.first_vel[q], first[3 + q]);
  }

  qv::Store z = body_store();
  z.ndof = 6;
  z.nsmp = 0;
  z.nsnext = 0;
  for (int n = 1; n <= 12; ++n) step(z);
  EXPECT_EQ(z.nsample, 0);
}

// Frame terms on a stretched grid: weighted interpolation inside, one column
// (row) of the velocity at i = is, ie (j = js, je); the rotation enters with
// the sign of the counter-clockwise rate -tvel, -tacc, the centrifugal term
// with tvel^2.
TEST(Calvib, FrameTerms) {
  qv::Store s = body_store();
  const double xs[] = {-1.0, -0.6, 0.0, 0.3, 1.0, 1.8};
  const double ys[] = {-0.8, -0.5, 0.1, 0.4, 1.1};
  for (int n = 0; n < 6; ++n) s.x(s.is + n) = xs[n];
  for (int n = 0; n < 5; ++n) s.y(s.js + n) = ys[n];
  qvt::build_metrics(s);
  for (int i = 1; i <= s.ie + 2; ++i)
    for (int j = 1; j <= s.je + 2; ++j)
      for (int k = 1; k <= s.ke + 2; ++k) {
        s.uu(i, j, k) = 0.3 * i - 0.7 * j * j + 0.1 * k;
        s.vv(i, j, k) = -0.2 * i * i + 0.9 * j - 0.3 * k;
        s.fxn(i, j, k) = 100 + i;
        s.fyn(i, j, k) = 200 + j;
      }
  s.ndof = 0;
  const double w = 0.7, al = -1.3;
  s.tvel = w;
  s.tacc = al;
  step(s);
  const int k = s.ks + 1;
  auto vv = [&](int i, int j) { return s.vv(i, j, k); };
  auto uu = [&](int i, int j) { return s.uu(i, j, k); };
  for (int j = s.js; j <= s.je - 1; ++j)
    for (int i = s.is; i <= s.ie; ++i) {
      double vbar;
      if (i == s.is)
        vbar = 0.5 * (vv(i, j) + vv(i, j + 1));
      else if (i == s.ie)
        vbar = 0.5 * (vv(i - 1, j) + vv(i - 1, j + 1));
      else
        vbar = 0.5 * ((vv(i, j) + vv(i, j + 1)) * s.dx(i - 1) + (vv(i - 1, j) + vv(i - 1, j + 1)) * s.dx(i)) /
               (s.dx(i - 1) + s.dx(i));
      const double yc = 0.5 * (s.y(j) + s.y(j + 1));
      SCOPED_TRACE(testing::Message() << "fxn i " << i << " j " << j);
      EXPECT_DOUBLE_EQ(s.fxn(i, j, k), 2 * w * vbar + al * yc - w * w * s.x(i));
      EXPECT_EQ(s.fxn0(i, j, k), 100 + i);
    }
  for (int j = s.js; j <= s.je; ++j)
    for (int i = s.is; i <= s.ie - 1; ++i) {
      double ubar;
      if (j == s.js)
        ubar = 0.5 * (uu(i, j) + uu(i + 1, j));
      else if (j == s.je)
        ubar = 0.5 * (uu(i, j - 1) + uu(i + 1, j - 1));
      else
        ubar = 0.5 * ((uu(i, j) + uu(i + 1, j)) * s.dy(j - 1) + (uu(i, j - 1) + uu(i + 1, j - 1)) * s.dy(j)) /
               (s.dy(j - 1) + s.dy(j));
      const double xc = 0.5 * (s.x(i) + s.x(i + 1));
      SCOPED_TRACE(testing::Message() << "fyn i " << i << " j " << j);
      EXPECT_DOUBLE_EQ(s.fyn(i, j, k), -2 * w * ubar - al * xc - w * w * s.y(j));
      EXPECT_EQ(s.fyn0(i, j, k), 200 + j);
    }
  // outside their ranges the frame terms are not touched
  EXPECT_EQ(s.fxn(s.is, s.je, k), 100 + s.is);
  EXPECT_EQ(s.fyn(s.ie, s.js, k), 200 + s.js);
  EXPECT_EQ(s.fxn(s.is, s.js, s.ke), 100 + s.is);
}
