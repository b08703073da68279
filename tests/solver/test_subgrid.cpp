// Smagorinsky eddy viscosity, the stress sums and the ghost layers of nut.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

void fill(qv::Field& f, const std::function<double(int, int, int)>& v) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = v(i, j, k);
}

// (Cs Delta)^2 on a cube of side h: Delta = (h^3)^0.33333 with the
// single-precision exponent, slightly above h for h < 1.
double smagorinsky(double Cs, double h) {
  const double d = Cs * std::pow(h * h * h, static_cast<double>(0.33333f));
  return d * d;
}

}  // namespace

// uu = y on a grid stretched in y: the interpolated face values still give
// gxy = 1, so nut = (Cs Delta)^2 with Delta from each cell's widths.
TEST(SubgridViscosity, ShearFlowValueAndStressSums) {
  const double h = 0.5, Cs = 0.1;
  qv::Store s = qvt::tiny_store(6, 7, 6, h);
  for (int j = s.grid.js; j <= s.grid.je; ++j)
    s.grid.y(j) = (j - s.grid.js) * 0.3 + 0.08 * (j - s.grid.js) * (j - s.grid.js);
  qvt::build_metrics(s);
  s.run.Cs = Cs;
  fill(s.flow.uu, [&](int, int j, int) { return (s.grid.y(j) + s.grid.y(j + 1)) / 2; });
  qv::subgrid_viscosity(s);
  auto n = [&](int j) {
    const double d = Cs * std::pow(h * s.grid.dy(j) * h, static_cast<double>(0.33333f));
    return d * d;
  };
  for (int a = s.grid.is; a <= s.grid.ie - 1; ++a)
    for (int b = s.grid.js; b <= s.grid.je - 1; ++b)
      for (int c = s.grid.ks; c <= s.grid.ke - 1; ++c) ASSERT_NEAR(s.flow.nut(a, b, c), n(b), 1e-15) << b;
  EXPECT_GT(smagorinsky(Cs, h) / ((Cs * h) * (Cs * h)) - 1, 1e-5);  // not (Cs h)^2
  // stress sums with the corner viscosity (cells i-1, j-1, k-1 of this call)
  const int i = s.grid.is + 1, k = s.grid.ks + 1;
  for (int j = s.grid.js + 1; j <= s.grid.je - 1; ++j) {
    const double nc = (n(j) * s.grid.dy(j - 1) + n(j - 1) * s.grid.dy(j)) / (s.grid.dy(j - 1) + s.grid.dy(j));
    EXPECT_NEAR(s.stats.tauxy(i, j, k), -nc, 1e-15) << j;
    EXPECT_EQ(s.stats.tauyz(i, j, k), 0.0);
    EXPECT_EQ(s.stats.tauxz(i, j, k), 0.0);
    // first column: the ghost nut(is-1) holds what the previous call left
    // there (0 the first time, nut(is) after that)
    EXPECT_NEAR(s.stats.tauxy(s.grid.is, j, k), -nc / 2, 1e-15);
  }
  qv::subgrid_viscosity(s);
  const int j = s.grid.js + 2;
  const double nc = (n(j) * s.grid.dy(j - 1) + n(j - 1) * s.grid.dy(j)) / (s.grid.dy(j - 1) + s.grid.dy(j));
  EXPECT_NEAR(s.stats.tauxy(i, j, k), -2 * nc, 1e-15);
  EXPECT_NEAR(s.stats.tauxy(s.grid.is, j, k), -1.5 * nc, 1e-15);
}

// Uniform uu = 1 above a single body cell B: the south face value of the
// cell N above B is 0.5 when interpolated and 0 only when ca1 is exactly -1.
TEST(SubgridViscosity, NoSlipSurfaceOnlyForCa1MinusOne) {
  double nut_at[3];
  const double ca1s[3] = {-1.0, std::nextafter(-1.0, 0.0), 1.0};
  for (int c = 0; c < 3; ++c) {
    qv::Store s = qvt::tiny_store(6, 6, 4);
    s.run.Cs = 0.2;
    s.run.ca1 = ca1s[c];
    fill(s.flow.uu, [](int, int, int) { return 1.0; });
    const int bi = s.grid.is + 2, bj = s.grid.js + 1, bk = s.grid.ks;
    s.flow.iflag(bi, bj, bk) = 1;
    s.flow.nut(bi, bj, bk) = 9;
    qv::subgrid_viscosity(s);
    nut_at[c] = s.flow.nut(bi, bj + 1, bk);
    EXPECT_EQ(s.flow.nut(bi, bj, bk), 0.0);
    EXPECT_EQ(s.flow.uu(bi, bj, bk), 0.0);
    EXPECT_EQ(s.flow.uu(bi + 1, bj, bk), 0.0);
  }
  EXPECT_NEAR(nut_at[0], smagorinsky(0.2, 1.0), 1e-15);
  EXPECT_NEAR(nut_at[1], nut_at[0] / 2, 1e-15);
  EXPECT_NEAR(nut_at[2], nut_at[0] / 2, 1e-15);
}

// vv = i^2/2 gives gxy = i/h, so nut grows linearly in i.  Periodic y,
// walls in z, one body cell at (is, je-1, ks).
TEST(SubgridViscosity, GhostLayersAndEdges) {
  qv::Store s = qvt::tiny_store(9, 5, 4, 1.0, 0, 1);
  s.run.Cs = 0.2;
  fill(s.flow.vv, [](int i, int, int) { return 0.5 * i * i; });
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  s.flow.iflag(is, je - 1, ks) = 1;
  qv::subgrid_viscosity(s);
  auto& n = s.flow.nut;
  const double C = smagorinsky(0.2, 1.0);
  EXPECT_NEAR(n(ie - 1, js + 1, ks + 1), C * (ie - 1), 1e-13);
  // x: zero gradient at the inflow end, linear continuation at the outflow
  EXPECT_NEAR(n(ie, js + 1, ks + 1), C * ie, 1e-13);
  EXPECT_EQ(n(is - 1, js + 1, ks + 1), n(is, js + 1, ks + 1));
  // y periodic: the ghost rows are the far rows (the body cell's 0 included)
  EXPECT_EQ(n(is, js - 1, ks), 0.0);
  EXPECT_EQ(n(is, je, ks + 1), n(is, js, ks + 1));
  // z walls: zero gradient
  EXPECT_EQ(n(is + 2, js + 1, ks - 1), n(is + 2, js + 1, ks));
  EXPECT_EQ(n(is + 2, js + 1, ke), n(is + 2, js + 1, ke - 1));
  // edges map every ghost index; along x the edge is a copy, not extrapolated
  EXPECT_EQ(n(is, js - 1, ks - 1), n(is, je - 1, ks));
  EXPECT_EQ(n(is + 1, je, ke), n(is + 1, js, ke - 1));
  EXPECT_EQ(n(is - 1, js - 1, ks), 0.0);
  EXPECT_NE(n(is - 1, js, ks), 0.0);
  EXPECT_EQ(n(ie, js - 1, ks + 1), n(ie - 1, je - 1, ks + 1));
  EXPECT_EQ(n(ie, js + 1, ke), n(ie - 1, js + 1, ke - 1));
  EXPECT_EQ(n(is - 1, js + 1, ks - 1), n(is, js + 1, ks));
}

namespace {

// Widths that grow by a different factor in each direction, so no two
// neighbouring cells are alike (x uniform where a test wants it).
constexpr qvt::Growth kGrowX{0.2, 1.17}, kGrowY{0.15, 1.23}, kGrowZ{0.3, 1.11}, kEvenX{1, 1};

double centre(const qv::Line& c, int m) { return (c(m) + c(m + 1)) / 2; }

}  // namespace

// Each velocity component sheared linearly along each cross direction, on a
// grid stretched in x, y and z: the face interpolation is exact for a linear
// profile, so every fluid cell sees a shear rate of 1 and nut = (Cs D)^2,
// D from the cell's own widths.
TEST(SubgridViscosity, LinearShearAlongEveryCrossDirectionOnAStretchedGrid) {
  const double Cs = 0.15;
  // component (0 uu, 1 vv, 2 ww), direction of the variation (0 x, 1 y, 2 z)
  const int pairs[6][2] = {{0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 1}};
  for (const auto& p : pairs) {
    qv::Store s = qvt::stretched_store(7, 6, 6, kGrowX, kGrowY, kGrowZ);
    s.run.Cs = Cs;
    qv::Field* q[3] = {&s.flow.uu, &s.flow.vv, &s.flow.ww};
    const qv::Line* c[3] = {&s.grid.x, &s.grid.y, &s.grid.z};
    const int d = p[1];
    fill(*q[p[0]], [&](int i, int j, int k) {
      const int m[3] = {i, j, k};
      return centre(*c[d], std::min(m[d], c[d]->size() - 1));
    });
    qv::subgrid_viscosity(s);
    for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
          const double w =
              (s.grid.x(i + 1) - s.grid.x(i)) * (s.grid.y(j + 1) - s.grid.y(j)) * (s.grid.z(k + 1) - s.grid.z(k));
          const double cd = Cs * std::pow(w, static_cast<double>(0.33333f));
          ASSERT_NEAR(s.flow.nut(i, j, k), cd * cd, 1e-12 * cd * cd)
              << "component " << p[0] << " along " << d << " at " << i << "," << j << "," << k;
        }
  }
}

// The corner viscosity of the stress sums interpolates linearly between the
// eight cells around a node: a nut linear in x, y and z gives the value at
// the node itself, whatever the widths.
TEST(SubgridViscosity, CornerViscosityIsExactForALinearField) {
  qv::Store s = qvt::stretched_store(7, 6, 6, kGrowX, kGrowY, kGrowZ);
  auto nut = [](double x, double y, double z) { return 0.3 + 0.7 * x - 1.1 * y + 0.45 * z; };
  fill(s.flow.nut, [&](int i, int j, int k) {
    return i < s.grid.ie + 1 && j < s.grid.je + 1 && k < s.grid.ke + 1
               ? nut(centre(s.grid.x, i), centre(s.grid.y, j), centre(s.grid.z, k))
               : 0;
  });
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k)
        ASSERT_NEAR(qv::corner_viscosity(s, i, j, k), nut(s.grid.x(i), s.grid.y(j), s.grid.z(k)), 1e-13)
            << i << "," << j << "," << k;
}

// The outflow ghost cell continues the last three cells as a parabola in
// the cell index.  vv = i^3/6 on a uniform x spacing gives a shear rate
// (3 i^2 + 1)/6, so nut is quadratic in i and the ghost value is that
// parabola's next value (a straight-line continuation would miss it by
// (Cs D)^2).  y and z are stretched.
TEST(SubgridViscosity, OutflowGhostContinuesAQuadraticProfile) {
  qv::Store s = qvt::stretched_store(9, 6, 5, kEvenX, kGrowY, kGrowZ);
  s.run.Cs = 0.2;
  fill(s.flow.vv, [](int i, int, int) { return i * i * i / 6.0; });
  qv::subgrid_viscosity(s);
  for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
      const double cd = 0.2 * std::pow(1.0 * s.grid.dy(j) * s.grid.dz(k), static_cast<double>(0.33333f));
      const double C = cd * cd;
      ASSERT_NEAR(s.flow.nut(s.grid.ie - 1, j, k), C * (3.0 * (s.grid.ie - 1) * (s.grid.ie - 1) + 1) / 6, 1e-11 * C);
      EXPECT_NEAR(s.flow.nut(s.grid.ie, j, k), C * (3.0 * s.grid.ie * s.grid.ie + 1) / 6, 1e-11 * C) << j << "," << k;
    }
}
