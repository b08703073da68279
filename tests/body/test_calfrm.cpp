// Pressure force and moment on the body.
#include <gtest/gtest.h>

#include <cmath>

#include "body/body.hpp"
#include "support/case.hpp"

namespace {

// 8 x 6 x 3 cells whose widths all differ per direction, so a swapped face
// area or arm shows; x and y lines are centred on the origin.
qv::Store stretched() {
  qv::Store s = qvt::tiny_store(9, 7, 4);
  const double xs[] = {-4.0, -2.5, -1.5, -0.75, 0.0, 0.75, 1.5, 2.5, 4.0};
  const double ys[] = {-3.0, -1.75, -0.5, 0.0, 0.5, 1.75, 3.0};
  const double zs[] = {0.0, 0.3, 0.7, 1.2};
  for (int n = 0; n < 9; ++n) s.grid.x(s.grid.is + n) = xs[n];
  for (int n = 0; n < 7; ++n) s.grid.y(s.grid.js + n) = ys[n];
  for (int n = 0; n < 4; ++n) s.grid.z(s.grid.ks + n) = zs[n];
  qvt::build_metrics(s);
  return s;
}

double xc(const qv::Store& s, int i) { return 0.5 * (s.grid.x(i) + s.grid.x(i + 1)); }
double yc(const qv::Store& s, int j) { return 0.5 * (s.grid.y(j) + s.grid.y(j + 1)); }

}  // namespace

TEST(Calfrm, NoBodyGivesZeroLoads) {
  qv::Store s = stretched();
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) s.flow.pp(i, j, k) = 1.0 + i - 0.5 * j + 0.25 * k;
  s.body.pf.x = s.body.pf.y = s.body.pf.t = 9;
  qv::calfrm(s);
  EXPECT_EQ(s.body.pf.x, 0.0);
  EXPECT_EQ(s.body.pf.y, 0.0);
  EXPECT_EQ(s.body.pf.t, 0.0);
}

TEST(Calfrm, UniformPressureAroundClosedBlockCancels) {
  qv::Store s = qvt::tiny_store(11, 9, 3, 0.5);
  for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.x(i) = (i - s.grid.is - 5) * 0.5;
  for (int j = s.grid.js; j <= s.grid.je; ++j) s.grid.y(j) = (j - s.grid.js - 4) * 0.5;
  qvt::build_metrics(s);
  // cells spanning x -1..1, y -0.5..0.5: centred on the origin
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int i = s.grid.is + 3; i <= s.grid.is + 6; ++i)
      for (int j = s.grid.js + 3; j <= s.grid.js + 4; ++j) s.flow.iflag(i, j, k) = 1;
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.pp(i, j, k) = 2.5;
  qv::calfrm(s);
  EXPECT_NEAR(s.body.pf.x, 0.0, 1e-14);
  EXPECT_NEAR(s.body.pf.y, 0.0, 1e-14);
  EXPECT_NEAR(s.body.pf.t, 0.0, 1e-14);
}

// Pressure p in exactly one fluid neighbour of a single body cell: each side
// gives its own force direction, face area and signed moment arm.
TEST(Calfrm, SingleBodyCellEachSide) {
  const double p = 1.75;
  struct Side {
    int di, dj;
    double fx, fy, ft;  // in units of p times the face area
  };
  qv::Store s0 = stretched();
  const int i0 = s0.grid.is + 5, j0 = s0.grid.js + 2, k0 = s0.grid.ks + 1;  // off-centre in x and y
  const double ay = s0.grid.dy(j0) * s0.grid.dz(k0);                        // face normal to x
  const double ax = s0.grid.dx(i0) * s0.grid.dz(k0);                        // face normal to y
  const Side sides[] = {
      {0, +1, 0, -ax, xc(s0, i0) * ax},  // fluid above: presses down, arm xc
      {0, -1, 0, +ax, -xc(s0, i0) * ax},
      {-1, 0, +ay, 0, yc(s0, j0) * ay},  // fluid at -x: body lies at its +x
      {+1, 0, -ay, 0, -yc(s0, j0) * ay},
  };
  for (const Side& c : sides) {
    qv::Store s = stretched();
    s.flow.iflag(i0, j0, k0) = 1;
    s.flow.pp(i0 + c.di, j0 + c.dj, k0) = p;
    s.flow.pp(i0, j0, k0) = 100;  // the body cell's own pressure never counts
    qv::calfrm(s);
    SCOPED_TRACE(testing::Message() << "neighbour " << c.di << "," << c.dj);
    EXPECT_DOUBLE_EQ(s.body.pf.x, p * c.fx);
    EXPECT_DOUBLE_EQ(s.body.pf.y, p * c.fy);
    EXPECT_DOUBLE_EQ(s.body.pf.t, p * c.ft);
    EXPECT_NE(s.body.pf.t, 0.0);
  }
}

// A fluid cell in a concave corner adds to both force sums, but to each
// moment sum only through the face normal to y.
TEST(Calfrm, CornerCellAddsOneMomentTermPerSum) {
  const double p = 3.0;
  {
    qv::Store s = stretched();
    const int i = s.grid.is + 2, j = s.grid.js + 4, k = s.grid.ks;
    s.flow.iflag(i, j - 1, k) = 1;  // below
    s.flow.iflag(i + 1, j, k) = 1;  // at +x
    s.flow.pp(i, j, k) = p;
    qv::calfrm(s);
    EXPECT_DOUBLE_EQ(s.body.pf.x, p * s.grid.dy(j) * s.grid.dz(k));
    EXPECT_DOUBLE_EQ(s.body.pf.y, -p * s.grid.dx(i) * s.grid.dz(k));
    EXPECT_DOUBLE_EQ(s.body.pf.t, p * xc(s, i) * s.grid.dx(i) * s.grid.dz(k));
  }
  {
    qv::Store s = stretched();
    const int i = s.grid.is + 6, j = s.grid.js + 1, k = s.grid.ks + 2;
    s.flow.iflag(i, j + 1, k) = 1;  // above
    s.flow.iflag(i - 1, j, k) = 1;  // at -x
    s.flow.pp(i, j, k) = p;
    qv::calfrm(s);
    EXPECT_DOUBLE_EQ(s.body.pf.x, -p * s.grid.dy(j) * s.grid.dz(k));
    EXPECT_DOUBLE_EQ(s.body.pf.y, p * s.grid.dx(i) * s.grid.dz(k));
    EXPECT_DOUBLE_EQ(s.body.pf.t, -p * xc(s, i) * s.grid.dx(i) * s.grid.dz(k));
  }
}

// Flags other than 0 and 1 are neither fluid nor body, and cells of the last
// layers i = ie, j = je, k = ke are never visited.
TEST(Calfrm, OnlyFlagOneIsBodyAndLastLayersAreSkipped) {
  qv::Store s = stretched();
  const int i0 = s.grid.is + 3, j0 = s.grid.js + 2, k0 = s.grid.ks + 1;
  s.flow.iflag(i0, j0, k0) = 2;
  s.flow.pp(i0, j0 + 1, k0) = 1;  // fluid next to a flag-2 cell
  s.flow.iflag(i0 + 2, j0, k0) = 1;
  s.flow.iflag(i0 + 3, j0, k0) = -1;  // a flag -1 cell next to a body: not fluid
  s.flow.pp(i0 + 3, j0, k0) = 5;
  // ghost-layer fluid cells beside body cells of the last active layer
  s.flow.iflag(s.grid.ie - 1, j0, k0) = 1;
  s.flow.pp(s.grid.ie, j0, k0) = 7;
  s.flow.iflag(i0, s.grid.je - 1, k0) = 1;
  s.flow.pp(i0, s.grid.je, k0) = 7;
  s.flow.iflag(i0 - 2, j0, s.grid.ke) = 1;
  s.flow.pp(i0 - 3, j0, s.grid.ke) = 7;
  qv::calfrm(s);
  EXPECT_EQ(s.body.pf.x, 0.0);
  EXPECT_EQ(s.body.pf.y, 0.0);
  EXPECT_EQ(s.body.pf.t, 0.0);
}

TEST(Calfrm, ConsoleLine) {
  qv::Store s = stretched();
  const int i0 = s.grid.is + 4, j0 = s.grid.js + 2, k0 = s.grid.ks;
  s.flow.iflag(i0, j0, k0) = 1;
  s.flow.pp(i0 - 1, j0, k0) = -2.0 / (s.grid.dy(j0) * s.grid.dz(k0));  // pfx = -2
  s.run.nn = 37;
  testing::internal::CaptureStdout();
  qv::calfrm(s);
  const std::string out = testing::internal::GetCapturedStdout();
  // moment -2 yc with yc = -0.25
  EXPECT_EQ(out, "###   in calfrm nn,pfx,pfy,pft =   37  -2.00000   0.00000   0.50000\n");
}

// A thick body on a grid stretched in all three directions, in a pressure
// p = a + b x + c y + e x y + g x z: the pressure at the centres of the
// cells beside each face gives the loads in closed form, whatever the cells
// (xf, xr, yb, yt the centres of the cells in front, behind, below and
// above; W, H, Lz the body's sides; Sx = (x1^2 - x0^2) / 2 and Sy, Sz alike;
// Qx, Qy the sums of the squared centres times the widths over the body):
//   pfx = -(xr - xf) (b H Lz + e Lz Sy + g H Sz),
//   pfy = -(yt - yb) (c W Lz + e Lz Sx),
//   pft = Lz (yt - yb) (c Sx + e Qx) - (xr - xf) (Lz (b Sy + e Qy) + g Sy Sz).
// The x y and x z terms make the sums depend on where along each face and
// in which z plane the pressure is taken.
TEST(Calfrm, LinearPressureAroundAThickBodyOnAStretchedGrid) {
  qv::Store s = qvt::stretched_store(40, 30, 6, {0.1, 1.05}, {0.08, 1.07}, {0.3, 1.1});
  const int i0 = s.grid.is + 12, i1 = s.grid.is + 27, j0 = s.grid.js + 9, j1 = s.grid.js + 20;
  const double a = 0.7, b = -0.45, c = 0.3, e = 0.2, g = -0.15;
  auto zc = [&](int k) { return 0.5 * (s.grid.z(k) + s.grid.z(k + 1)); };
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int i = i0; i <= i1; ++i)
      for (int j = j0; j <= j1; ++j) s.flow.iflag(i, j, k) = 1;
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        s.flow.pp(i, j, k) = a + b * xc(s, i) + c * yc(s, j) + e * xc(s, i) * yc(s, j) + g * xc(s, i) * zc(k);
  qv::calfrm(s);
  const double x0 = s.grid.x(i0), x1 = s.grid.x(i1 + 1), y0 = s.grid.y(j0), y1 = s.grid.y(j1 + 1);
  const double z0 = s.grid.z(s.grid.ks), z1 = s.grid.z(s.grid.ke);
  const double xf = xc(s, i0 - 1), xr = xc(s, i1 + 1), yb = yc(s, j0 - 1), yt = yc(s, j1 + 1);
  const double w = x1 - x0, h = y1 - y0, lz = z1 - z0;
  const double sx = (x1 * x1 - x0 * x0) / 2, sy = (y1 * y1 - y0 * y0) / 2, sz = (z1 * z1 - z0 * z0) / 2;
  double qx = 0, qy = 0;
  for (int i = i0; i <= i1; ++i) qx += xc(s, i) * xc(s, i) * s.grid.dx(i);
  for (int j = j0; j <= j1; ++j) qy += yc(s, j) * yc(s, j) * s.grid.dy(j);
  const double fx = -(xr - xf) * (b * h * lz + e * lz * sy + g * h * sz);
  const double fy = -(yt - yb) * (c * w * lz + e * lz * sx);
  const double ft = lz * (yt - yb) * (c * sx + e * qx) - (xr - xf) * (lz * (b * sy + e * qy) + g * sy * sz);
  EXPECT_NEAR(s.body.pf.x, fx, 1e-12 * std::abs(fx));
  EXPECT_NEAR(s.body.pf.y, fy, 1e-12 * std::abs(fy));
  EXPECT_NEAR(s.body.pf.t, ft, 1e-12 * std::abs(ft));
}
