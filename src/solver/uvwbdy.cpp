#include <algorithm>

#include "io/console.hpp"
#include "solver/solver.hpp"

namespace qv {

void surface_tangential(Store& s, int i, int j, int k) {
  auto& uu = s.flow.uu;
  auto& vv = s.flow.vv;
  auto& ww = s.flow.ww;
  auto fl = [&](int a, int b, int c) { return s.flow.iflag(a, b, c) != 0; };
  const double f = s.run.ca1;
  if (fl(i, j, k) && !fl(i - 1, j, k)) {
    vv(i, j, k) = f * vv(i - 1, j, k);
    ww(i, j, k) = f * ww(i - 1, j, k);
    vv(i, j + 1, k) = f * vv(i - 1, j + 1, k);
    ww(i, j, k + 1) = f * ww(i - 1, j, k + 1);
  }
  if (fl(i - 1, j, k) && !fl(i, j, k)) {
    vv(i - 1, j, k) = f * vv(i, j, k);
    ww(i - 1, j, k) = f * ww(i, j, k);
    vv(i - 1, j + 1, k) = f * vv(i, j + 1, k);
    ww(i - 1, j, k + 1) = f * ww(i, j, k + 1);
  }
  if (fl(i, j, k) && !fl(i, j - 1, k)) {
    uu(i, j, k) = f * uu(i, j - 1, k);
    ww(i, j, k) = f * ww(i, j - 1, k);
    uu(i + 1, j, k) = f * uu(i + 1, j - 1, k);
    ww(i, j, k + 1) = f * ww(i, j - 1, k + 1);
  }
  if (fl(i, j - 1, k) && !fl(i, j, k)) {
    uu(i, j - 1, k) = f * uu(i, j, k);
    ww(i, j - 1, k) = f * ww(i, j, k);
    uu(i + 1, j - 1, k) = f * uu(i + 1, j, k);
    ww(i, j - 1, k + 1) = f * ww(i, j, k + 1);
  }
  if (fl(i, j, k) && !fl(i, j, k - 1)) {
    uu(i, j, k) = f * uu(i, j, k - 1);
    vv(i, j, k) = f * vv(i, j, k - 1);
    uu(i + 1, j, k) = f * uu(i + 1, j, k - 1);
    vv(i, j + 1, k) = f * vv(i, j + 1, k - 1);
  }
  if (fl(i, j, k - 1) && !fl(i, j, k)) {
    uu(i, j, k - 1) = f * uu(i, j, k);
    vv(i, j, k - 1) = f * vv(i, j, k);
    uu(i + 1, j, k - 1) = f * uu(i + 1, j, k);
    vv(i, j + 1, k - 1) = f * vv(i, j + 1, k);
  }
}

void surface_normal(Store& s, int i, int j, int k) {
  auto& uu = s.flow.uu;
  auto& vv = s.flow.vv;
  auto& ww = s.flow.ww;
  auto fl = [&](int a, int b, int c) { return s.flow.iflag(a, b, c) != 0; };
  const bool c = fl(i, j, k);
  if (c && !fl(i - 1, j, k)) uu(i, j, k) = 0;
  if (c && !fl(i, j - 1, k)) vv(i, j, k) = 0;
  if (c && !fl(i, j, k - 1)) ww(i, j, k) = 0;
  if (fl(i - 1, j, k) && !c) uu(i, j, k) = 0;
  if (fl(i, j - 1, k) && !c) vv(i, j, k) = 0;
  if (fl(i, j, k - 1) && !c) ww(i, j, k) = 0;
}

// Velocity boundary values, in this order:
// 1. body surface, tangential: body-cell faces = ca1 x the adjacent fluid faces;
// 2. body surface, normal: every fluid-body face carries 0;
// 3. net inflow Qall through the six outer faces (printed with a cancel
//    speed of 0: no flow-rate correction);
// 4. outflow copies under iobu, iobv, iobw;
// 5. y sides and 6. z sides, periodic or walls (izper = 2: bottom factor ca2):
//    the side fill, but for the wall rules of vv at y walls and ww at z walls;
// 7. edge lines where two outer faces meet.
void uvwbdy(Store& s, const OutflowSwitches& outflow) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  auto& uu = s.flow.uu;
  auto& vv = s.flow.vv;
  auto& ww = s.flow.ww;

  // Steps 1 and 2 act at a cell only when it or one of its three low
  // neighbours is a body cell: only in the body's box and one cell beyond
  // its high sides.  The sweeps skip the other cells, in the same order.
  const BodyBox b = body_box(s.flow.iflag);
  const int i0 = std::max(is, b.i0), i1 = std::min(ie - 1, b.i1 + 1);
  const int j0 = std::max(js, b.j0), j1 = std::min(je - 1, b.j1 + 1);
  const int k0 = std::max(ks, b.k0), k1 = std::min(ke - 1, b.k1 + 1);
  for (int k = k0; k <= k1; ++k)
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) surface_tangential(s, i, j, k);
  for (int k = k0; k <= k1; ++k)
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) surface_normal(s, i, j, k);

  double Qall = 0;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) {
      Qall = Qall + uu(is, j, k) * s.grid.dy(j) * s.grid.dz(k);
      Qall = Qall - uu(ie, j, k) * s.grid.dy(j) * s.grid.dz(k);
    }
  for (int i = is; i <= ie - 1; ++i)
    for (int k = ks; k <= ke - 1; ++k) {
      Qall = Qall + vv(i, js, k) * s.grid.dz(k) * s.grid.dx(i);
      Qall = Qall - vv(i, je, k) * s.grid.dz(k) * s.grid.dx(i);
    }
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j) {
      Qall = Qall + ww(i, j, ks) * s.grid.dx(i) * s.grid.dy(j);
      Qall = Qall - ww(i, j, ke) * s.grid.dx(i) * s.grid.dy(j);
    }
  // The flow-rate cancel speed is 0 (no correction), but it is still added
  // where it always was: 0 + (-0) is +0, so the sign of a zero face follows.
  const double ucan = 0;
  say(fmt::Line() << "Qall ,cancel U=" << Qall << ucan);

  // From here on each point of a loop reads and writes values of its own
  // line across the side (or the outflow plane), so the loops run in the
  // store's order, k or j innermost.
  if (outflow.iobu == 1)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) uu(ie, j, k) = ucan + uu(ie - 1, j, k);
  if (outflow.iobv == 1)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke - 1; ++k) vv(ie, j, k) = vv(ie - 1, j, k);
  if (outflow.iobw == 1)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke; ++k) ww(ie, j, k) = ww(ie - 1, j, k);

  const SideMap mj = side_j(s), mk = side_k(s);
  if (s.run.iyper == 0) {
    fill_sides(uu, mj, 1, {js - 1, js - 2, je, je + 1}, is, ie, ks, ke - 1);
    fill_sides(vv, mj, 1, {js - 1, js - 2, je + 1, je + 2, je}, is, ie - 1, ks, ke - 1);
    fill_sides(ww, mj, 1, {js - 1, js - 2, je, je + 1}, is, ie - 1, ks, ke);
  } else {
    fill_sides(uu, mj, 1, {js - 1, je}, is + 1, ie, ks, ke - 1);
    for (int i = is + 1; i <= ie - 1; ++i)
      for (int k = ks; k <= ke - 1; ++k) {
        vv(i, js, k) = vv(i, js, k) - ucan;
        vv(i, je, k) = ucan + vv(i, je, k);
        vv(i, js - 1, k) = vv(i, js, k);
        vv(i, je + 1, k) = vv(i, je, k);
        vv(i, js, k) = 0;
        vv(i, je, k) = 0;
      }
    fill_sides(ww, mj, 1, {js - 1, je}, is + 1, ie - 1, ks, ke);
  }

  if (s.run.izper == 0) {
    fill_sides(uu, mk, 2, {ks - 1, ks - 2, ke, ke + 1}, is, ie, js, je - 1);
    fill_sides(vv, mk, 2, {ks - 1, ks - 2, ke, ke + 1}, is, ie - 1, js, je);
    fill_sides(ww, mk, 2, {ks - 1, ks - 2, ke + 1, ke + 2, ke}, is, ie - 1, js, je - 1);
  } else {
    fill_sides(uu, mk, 2, {ks - 1, ke}, is, ie, js, je - 1);
    fill_sides(vv, mk, 2, {ks - 1, ke}, is, ie - 1, js, je);
    for (int i = is; i <= ie - 1; ++i)
      for (int j = js; j <= je - 1; ++j) {
        ww(i, j, ks - 1) = -ww(i, j, ks + 1);
        ww(i, j, ke + 1) = -ww(i, j, ke - 1);
        ww(i, j, ks) = 0;
        ww(i, j, ke) = 0;
      }
  }
  if (s.run.izper == 2) {
    for (int i = is; i <= ie; ++i)
      for (int j = js; j <= je - 1; ++j) uu(i, j, ks - 1) = s.run.ca2 * uu(i, j, ks);
    for (int i = is; i <= ie - 1; ++i)
      for (int j = js; j <= je; ++j) vv(i, j, ks - 1) = s.run.ca2 * vv(i, j, ks);
  }

  // edge lines: uu along x, vv along y, ww along z; the bottom wall
  // (izper = 2) then sets its own edge ghosts
  edge_lines_x(uu, s, is, ie);
  edge_lines_y(vv, s, js, je);
  edge_lines_z(ww, s, ks, ke);
  if (s.run.izper == 2) {
    for (int i = is; i <= ie; ++i)
      if (s.run.iyper == 0) {
        uu(i, js - 1, ks - 1) = -uu(i, je - 1, ks);
        uu(i, je, ks - 1) = -uu(i, js, ks);
      } else {
        uu(i, js - 1, ks - 1) = s.run.ca2 * uu(i, js, ks);
        uu(i, je, ks - 1) = s.run.ca2 * uu(i, je - 1, ks);
      }
    for (int j = js; j <= je; ++j) {
      vv(is - 1, j, ks - 1) = s.run.ca2 * vv(is, j, ks);
      vv(ie, j, ks - 1) = s.run.ca2 * vv(ie - 1, j, ks);
    }
  }
}

}  // namespace qv
