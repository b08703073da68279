// Explicit momentum terms: the upwind-biased convection on uniform and
// stretched grids, its first-order fallbacks at the ends and beside the
// body, the body-interior faces, and the eddy-viscosity terms.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

// Sets every allocated entry of f (ghost layers included).
void fill(qv::Field& f, const std::function<double(int, int, int)>& v) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = v(i, j, k);
}

double yc(const qv::Store& s, int j) { return (s.grid.y(j) + s.grid.y(j + 1)) / 2; }
double xc(const qv::Store& s, int i) { return (s.grid.x(i) + s.grid.x(i + 1)) / 2; }

}  // namespace

// Pure convection (Re huge, nut = 0) of uu varying along x only.
TEST(MomentumTerms, UpwindBiasedDifferencesOnAUniformGrid) {
  const double h = 0.5;
  for (const double sign : {1.0, -1.0}) {
    qv::Store s = qvt::tiny_store(12, 4, 4, h);
    s.run.Re = 1e300;
    auto q = [&](int i) { return i == s.grid.is + 4 ? 0.0 : sign * (2 + std::sin(0.7 * i)); };
    fill(s.flow.uu, [&](int i, int, int) { return q(i); });
    qv::momentum_terms(s);
    for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
      double d;
      if (q(i) >= 0)
        d = i == s.grid.is ? (q(i) - q(i - 1)) / h : (q(i - 2) - 6 * q(i - 1) + 3 * q(i) + 2 * q(i + 1)) / (6 * h);
      else
        d = i == s.grid.ie - 1 ? (q(i + 1) - q(i)) / h : (-2 * q(i - 1) - 3 * q(i) + 6 * q(i + 1) - q(i + 2)) / (6 * h);
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
          EXPECT_NEAR(s.flow.fu(i, j, k), -q(i) * d, 1e-12) << "sign " << sign << " i " << i;
    }
    EXPECT_NEAR(s.flow.fu(s.grid.is + 4, s.grid.js, s.grid.ks), 0.0, 1e-290);  // a = 0: no convection
  }
}

// The cubic weights are exact for cubics, on face points (own direction)
// and on cell centres (cross direction), however the grid is stretched.
TEST(MomentumTerms, CubicsAreDifferentiatedExactlyOnAStretchedGrid) {
  qv::Store s = qvt::tiny_store(12, 4, 4);
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    s.grid.x(i) = (i - s.grid.is) * 0.4 + 0.06 * (i - s.grid.is) * (i - s.grid.is);
  qvt::build_metrics(s);
  s.run.Re = 1e300;
  auto p = [](double x) { return 0.4 + 0.9 * x - 0.35 * x * x + 0.02 * x * x * x; };
  auto dp = [](double x) { return 0.9 - 0.7 * x + 0.06 * x * x; };
  fill(s.flow.uu, [&](int i, int, int) { return p(s.grid.x(i)); });
  qv::momentum_terms(s);
  int checked = 0;
  for (int i = s.grid.is + 1; i <= s.grid.ie - 2; ++i) {
    const double a = p(s.grid.x(i));
    EXPECT_NEAR(s.flow.fu(i, s.grid.js + 1, s.grid.ks), -a * dp(s.grid.x(i)), 1e-10) << i;
    checked += a < 0;
  }
  EXPECT_GT(checked, 0);  // both stencil sets were used

  const double U = 0.8;
  fill(s.flow.uu, [&](int, int, int) { return U; });
  fill(s.flow.vv, [&](int i, int, int) { return p(xc(s, i)); });
  qv::momentum_terms(s);
  for (int i = s.grid.is + 1; i <= s.grid.ie - 1; ++i)
    EXPECT_NEAR(s.flow.fv(i, s.grid.js + 1, s.grid.ks), -U * dp(xc(s, i)), 1e-10) << i;

  // the advecting vv of the fu sweep: cell-centre values interpolated to x(i)
  fill(s.flow.uu, [&](int, int j, int) { return (s.grid.y(j) + s.grid.y(j + 1)) / 2; });
  fill(s.flow.vv, [&](int i, int, int) { return 0.3 + 0.2 * xc(s, i); });
  qv::momentum_terms(s);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    EXPECT_NEAR(s.flow.fu(i, s.grid.js + 1, s.grid.ks), -(0.3 + 0.2 * s.grid.x(i)), 1e-12) << i;
}

// Body rows j0-1 and j0+1 under cells i0-1 and i0 (all k), ca1 = -1: row j0
// has body on both sides (my = 2), row j0-2 has it above (my = 1).  Rows js
// and je-1 are the y walls.  The stencils read the reflected ghosts.
TEST(MomentumTerms, BodyMarkersAndWallsSelectTheFirstOrderFallback) {
  const int i0 = 6, j0 = 6;
  for (const double V : {0.5, -0.5}) {
    qv::Store s = qvt::tiny_store(7, 9, 3);
    s.run.Re = 1e300;
    auto q = [](int j) { return 1 + 0.3 * j * j; };
    fill(s.flow.uu, [&](int, int j, int) { return q(j); });
    fill(s.flow.vv, [&](int, int, int) { return V; });
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
      for (int j : {j0 - 1, j0 + 1}) s.flow.iflag(i0 - 1, j, k) = s.flow.iflag(i0, j, k) = 1;
    qv::momentum_terms(s);
    const int js = s.grid.js, je = s.grid.je;
    double both, below, wall;  // y-derivatives expected at rows j0, j0-2 and the wall row
    if (V >= 0) {
      both = (q(j0) + q(j0)) / 1.0;  // two-point, ghost -q(j0)
      below = (q(j0 - 4) - 6 * q(j0 - 3) + 3 * q(j0 - 2) + 2 * -q(j0 - 2)) / 6.0;
      wall = q(js) - q(js - 1);
    } else {
      both = (-2 * -q(j0) - 3 * q(j0) + 6 * -q(j0) - q(j0 + 2)) / 6.0;  // four-point forward kept
      below = (-q(j0 - 2) - q(j0 - 2)) / 1.0;
      wall = q(je) - q(je - 1);
    }
    EXPECT_NEAR(s.flow.fu(i0, j0, s.grid.ks), -V * both, 1e-12) << V;
    EXPECT_NEAR(s.flow.fu(i0, j0 - 2, s.grid.ks), -V * below, 1e-12) << V;
    EXPECT_NEAR(s.flow.fu(i0, V >= 0 ? js : je - 1, s.grid.ks), -V * wall, 1e-12) << V;
  }
}

// A slab of body cells i = 6..8 across the whole section (six rows and
// layers, so that the ghost writes from the points of row je and layer ke
// stay away from the checked row and layer).
TEST(MomentumTerms, BodyInteriorFacesGetZeroAndWriteNoGhosts) {
  for (const double ca1 : {-1.0, 1.0}) {
    qv::Store s = qvt::tiny_store(10, 6, 6);
    s.run.ca1 = ca1;
    fill(s.flow.uu, [](int i, int j, int k) { return 1 + 0.1 * i + 0.01 * j + 0.001 * k; });
    fill(s.flow.nut, [](int i, int, int) { return 0.01 * i; });
    for (int i = 6; i <= 8; ++i)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) s.flow.iflag(i, j, k) = 1, s.flow.nut(i, j, k) = 0;
    fill(s.flow.fu, [](int, int, int) { return 7.0; });
    fill(s.flow.fv, [](int, int, int) { return 7.0; });
    const qv::Store before = s;
    qv::momentum_terms(s);
    const int j = s.grid.js + 1, k = s.grid.ks + 1;
    EXPECT_EQ(s.flow.fu(7, j, k), 0.0);
    EXPECT_EQ(s.flow.fu(8, j, k), 0.0);
    EXPECT_EQ(s.flow.fv(7, j, k), 0.0);
    EXPECT_NE(s.flow.fu(6, j, k), 7.0);  // surface faces get a full value
    // own-direction mirrors across the surfaces x(7) and x(9); the later
    // points 9 and 10 write last
    EXPECT_EQ(s.flow.uu(8, j, k), ca1 * before.flow.uu(10, j, k));
    EXPECT_EQ(s.flow.uu(7, j, k), ca1 * before.flow.uu(9, j, k));
    // ... but none from the interior points 7 and 8
    EXPECT_EQ(s.flow.uu(9, j, k), before.flow.uu(9, j, k));
    EXPECT_EQ(s.flow.uu(6, j, k), before.flow.uu(6, j, k));
    // nut copied into the first body cells only
    EXPECT_EQ(s.flow.nut(6, j, k), s.flow.nut(5, j, k));
    EXPECT_EQ(s.flow.nut(8, j, k), s.flow.nut(9, j, k));
    EXPECT_EQ(s.flow.nut(7, j, k), 0.0);
  }
}

// Stretched grids: the Laplacian of a parabola; the eddy-viscosity terms
// (1/Re + nu) Lap + 2 Gx gx along x and Gy gy of a shear flow along y, the
// latter also beside a body cell at P + e (n+ taken from Q + e).
TEST(MomentumTerms, ViscousTermsOnAStretchedGrid) {
  auto stretched = [] {
    qv::Store s = qvt::tiny_store(6, 9, 4);
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      s.grid.y(j) = (j - s.grid.js) * 0.5 + 0.1 * (j - s.grid.js) * (j - s.grid.js);
    qvt::build_metrics(s);
    return s;
  };
  const double c = 0.7, a = 1.3, b = 0.02;
  qv::Store s = stretched();
  fill(s.flow.uu, [&](int, int j, int) { return c * yc(s, j) * yc(s, j); });
  qv::momentum_terms(s);
  for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
    EXPECT_NEAR(s.flow.fu(s.grid.is + 2, j, s.grid.ks + 1), 2 * c / s.run.Re, 1e-12) << j;

  qv::Store t = stretched();
  const int i0 = t.grid.is + 2, j0 = t.grid.js + 3;
  for (int k = t.grid.ks; k <= t.grid.ke - 1; ++k) t.flow.iflag(i0 - 1, j0 + 1, k) = 1;
  t.run.ca1 = 1;  // the own-direction ghosts then repeat the x-independent uu
  fill(t.flow.uu, [&](int, int j, int) { return a * yc(t, j); });
  fill(t.flow.nut, [&](int, int j, int) { return b * yc(t, j); });
  qv::momentum_terms(t);
  for (int j = t.grid.js; j <= t.grid.je - 1; ++j) EXPECT_NEAR(t.flow.fu(i0, j, t.grid.ks + 1), a * b, 1e-12) << j;

  qv::Store x = qvt::tiny_store(10, 4, 4);
  for (int i = x.grid.is; i <= x.grid.ie; ++i)
    x.grid.x(i) = (i - x.grid.is) * 0.4 + 0.06 * (i - x.grid.is) * (i - x.grid.is);
  qvt::build_metrics(x);
  fill(x.flow.uu, [&](int i, int, int) { return c * x.grid.x(i) * x.grid.x(i); });
  fill(x.flow.nut, [&](int i, int, int) { return b * xc(x, i); });
  qv::momentum_terms(x);
  for (int i = x.grid.is + 1; i <= x.grid.ie - 1; ++i) {
    const double X = x.grid.x(i), gx = c * (x.grid.x(i + 1) + 2 * X + x.grid.x(i - 1)) / 2;
    EXPECT_NEAR(x.flow.fu(i, x.grid.js, x.grid.ks),
                -c * X * X * 2 * c * X + (1 / x.run.Re + b * X) * 2 * c + 2 * b * gx, 1e-11)
        << i;
  }
}

// The body's zero eddy viscosity is not seen by the fluid beside it: with
// nut uniform in the fluid and 0 in a body three cells thick, every term
// equals that of nut uniform everywhere (body cells next to the fluid take
// the fluid's value; the middle cells of the body's faces can take it only
// from across the face).  Grid stretched in x, y and z.
TEST(MomentumTerms, BodyCellsLendTheFluidsEddyViscosity) {
  qv::Field f[2][3];
  for (int run = 0; run < 2; ++run) {
    qv::Store s = qvt::tiny_store(11, 10, 9, 1.0, 1, 1);
    for (int m = 0; m <= s.grid.ie - s.grid.is; ++m) s.grid.x(s.grid.is + m) = 0.2 * m + 0.02 * m * m;
    for (int m = 0; m <= s.grid.je - s.grid.js; ++m) s.grid.y(s.grid.js + m) = 0.15 * m + 0.03 * m * m;
    for (int m = 0; m <= s.grid.ke - s.grid.ks; ++m) s.grid.z(s.grid.ks + m) = 0.25 * m + 0.01 * m * m;
    qvt::build_metrics(s);
    s.run.Re = 100;
    s.run.ca1 = 1;
    for (int i = s.grid.is + 3; i <= s.grid.is + 5; ++i)
      for (int j = s.grid.js + 3; j <= s.grid.js + 5; ++j)
        for (int k = s.grid.ks + 3; k <= s.grid.ks + 5; ++k) s.flow.iflag(i, j, k) = 1;
    fill(s.flow.uu, [&](int, int j, int k) { return 0.3 + 0.5 * j + 0.02 * k * k; });
    fill(s.flow.vv, [&](int i, int, int k) { return 0.4 * i - 0.1 * k; });
    fill(s.flow.ww, [&](int i, int j, int) { return 0.02 * i * j; });
    fill(s.flow.nut, [&](int i, int j, int k) {
      const bool body = i <= s.grid.ie + 1 && j <= s.grid.je + 1 && k <= s.grid.ke + 1 && s.flow.iflag(i, j, k) != 0;
      return run == 0 && body ? 0.0 : 0.03;
    });
    qv::momentum_terms(s);
    f[run][0] = s.flow.fu, f[run][1] = s.flow.fv, f[run][2] = s.flow.fw;
  }
  for (int c = 0; c < 3; ++c)
    for (int i = 1; i <= f[0][c].ni(); ++i)
      for (int j = 1; j <= f[0][c].nj(); ++j)
        for (int k = 1; k <= f[0][c].nk(); ++k)
          ASSERT_NEAR(f[0][c](i, j, k), f[1][c](i, j, k), 1e-13) << "component " << c << " at " << i << "," << j << "," << k;
}
