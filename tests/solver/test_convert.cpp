// Node <-> face and node -> cell conversions on uniform and stretched grids.
#include <gtest/gtest.h>

#include <cmath>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

using qv::Field;
using qv::Line;
using qv::Store;

// Grid lines growing (or shrinking) by its own factor in every direction.
Store stretched_store() {
  Store s = qvt::stretched_store(7, 6, 5, {0.2, 1.3}, {0.5, 0.7}, {0.1, 1.6});
  return s;
}

void set_all(Field& f, double v) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = v;
}

// A linear field and the cell-centre coordinates of the grid.
double lin(double x, double y, double z) { return 0.7 + 1.9 * x - 2.3 * y + 0.6 * z; }
double xc(const Store& s, int i) { return s.grid.x(i) + s.grid.dx(i) / 2; }
double yc(const Store& s, int j) { return s.grid.y(j) + s.grid.dy(j) / 2; }
double zc(const Store& s, int k) { return s.grid.z(k) + s.grid.dz(k) / 2; }

TEST(NodeToFace, LinearNodeFieldGivesTheFaceCentreValueOnEachFaceRange) {
  // A linear node field averages to its value at each face centre; faces
  // outside each component's range keep what they held.
  Store s = stretched_store();
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
        s.work.un(i, j, k) = lin(s.grid.x(i), s.grid.y(j), s.grid.z(k));
        s.work.vn(i, j, k) = 2 * lin(s.grid.x(i), s.grid.y(j), s.grid.z(k));
        s.work.wn(i, j, k) = -lin(s.grid.x(i), s.grid.y(j), s.grid.z(k));
      }
  for (Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww}) set_all(*f, -7);
  qv::node_to_face(s);
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  int outside = 0;
  for (int i = 1; i <= s.flow.uu.ni(); ++i)
    for (int j = 1; j <= s.flow.uu.nj(); ++j)
      for (int k = 1; k <= s.flow.uu.nk(); ++k) {
        if (i >= is && i <= ie && j >= js && j <= je - 1 && k >= ks && k <= ke - 1) {
          EXPECT_NEAR(s.flow.uu(i, j, k), lin(s.grid.x(i), yc(s, j), zc(s, k)), 1e-13);
        } else {
          outside += s.flow.uu(i, j, k) != -7;
        }
        if (i >= is && i <= ie - 1 && j >= js && j <= je && k >= ks && k <= ke - 1) {
          EXPECT_NEAR(s.flow.vv(i, j, k), 2 * lin(xc(s, i), s.grid.y(j), zc(s, k)), 1e-13);
        } else {
          outside += s.flow.vv(i, j, k) != -7;
        }
        if (i >= is && i <= ie - 1 && j >= js && j <= je - 1 && k >= ks && k <= ke) {
          EXPECT_NEAR(s.flow.ww(i, j, k), -lin(xc(s, i), yc(s, j), s.grid.z(k)), 1e-13);
        } else {
          outside += s.flow.ww(i, j, k) != -7;
        }
      }
  EXPECT_EQ(outside, 0);
}

TEST(NodeToCell, UniformPressureEndsAtZeroAndBodyCellsAtMinusIt) {
  Store s = qvt::tiny_store(6, 7, 6, 0.5);
  s.flow.iflag(5, 5, 5) = 1;
  set_all(s.work.pn, 2.5);
  qv::node_to_cell(s);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        EXPECT_EQ(s.flow.pp(i, j, k), s.flow.iflag(i, j, k) ? -2.5 : 0.0);
  // The ghost layer is filled too.
  EXPECT_EQ(s.flow.pp(s.grid.is - 1, 4, 4), 0.0);
  EXPECT_EQ(s.flow.pp(s.grid.ie, 4, 4), 0.0);
}

TEST(NodeToCell, LinearPressureGivesCellCentreValuesRelativeToTheReference) {
  Store s = stretched_store();
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) s.work.pn(i, j, k) = lin(s.grid.x(i), s.grid.y(j), s.grid.z(k));
  qv::node_to_cell(s);
  const double ref = lin(xc(s, s.grid.is), yc(s, s.grid.je / 2), zc(s, s.grid.ke / 2));
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        EXPECT_NEAR(s.flow.pp(i, j, k), lin(xc(s, i), yc(s, j), zc(s, k)) - ref, 1e-13);
}

TEST(FaceToNode, LinearFaceFieldIsReproducedAtTheNodesOfAStretchedGrid) {
  // Faces carry a linear function of their own positions, ghost faces
  // included (a uniform field is the special case); linear interpolation between the cell-centre lines must give
  // the function's value at every node, boundary nodes too.
  Store s = stretched_store();
  for (int i = s.grid.is - 1; i <= s.grid.ie; ++i)
    for (int j = s.grid.js - 1; j <= s.grid.je; ++j)
      for (int k = s.grid.ks - 1; k <= s.grid.ke; ++k) {
        s.flow.uu(i, j, k) = lin(s.grid.x(i), yc(s, j), zc(s, k));
        s.flow.vv(i, j, k) = 2 * lin(xc(s, i), s.grid.y(j), zc(s, k));
        s.flow.ww(i, j, k) = -lin(xc(s, i), yc(s, j), s.grid.z(k));
      }
  qv::face_to_node(s);
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
        const double f = lin(s.grid.x(i), s.grid.y(j), s.grid.z(k));
        EXPECT_NEAR(s.work.un(i, j, k), f, 1e-12) << i << " " << j << " " << k;
        EXPECT_NEAR(s.work.vn(i, j, k), 2 * f, 1e-12) << i << " " << j << " " << k;
        EXPECT_NEAR(s.work.wn(i, j, k), -f, 1e-12) << i << " " << j << " " << k;
      }
}

TEST(FaceToNode, TheNarrowerNeighbourCellWeighsMore) {
  // Cells of width 0.3 then 0.1 on either side of the node line in x, y
  // and z; only the faces of the narrow cells carry 1.
  Store s = qvt::tiny_store(6, 6, 6);
  const double lines[] = {0, 0.4, 0.8, 1.1, 1.2, 1.3};
  for (int n = 0; n < 6; ++n) s.grid.x(s.grid.is + n) = s.grid.y(s.grid.js + n) = s.grid.z(s.grid.ks + n) = lines[n];
  qvt::build_metrics(s);
  const int m = s.grid.is + 3;  // node line between the wide cell m-1 and the narrow cell m
  ASSERT_NEAR(s.grid.dx(m - 1), 0.3, 1e-15);
  ASSERT_NEAR(s.grid.dx(m), 0.1, 1e-15);
  for (int a = 1; a <= s.flow.uu.nj(); ++a)
    for (int b = 1; b <= s.flow.uu.nk(); ++b) {
      s.flow.uu(a, m, b) = 1;  // uu: weighted across y
      s.flow.vv(a, b, m) = 1;  // vv: across z
      s.flow.ww(m, a, b) = 1;  // ww: across x
    }
  qv::face_to_node(s);
  EXPECT_NEAR(s.work.un(m - 1, m, m - 1), 0.75, 1e-14);
  EXPECT_NEAR(s.work.vn(m - 1, m - 1, m), 0.75, 1e-14);
  EXPECT_NEAR(s.work.wn(m, m - 1, m - 1), 0.75, 1e-14);
}

}  // namespace
