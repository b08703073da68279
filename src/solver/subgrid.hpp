// The eddy viscosity of a cell and the shear-stress sums, shared by the
// recipe (subgrid.cpp, one cell after the other in the defining order) and
// the tuned kernel (subgrid_kernel.cpp, which must give the same bits).
#pragma once

#include <cmath>

#include "solver/isa.hpp"
#include "solver/solver.hpp"

namespace qv::sgs {

// The strain rates see no slip at the body's faces only when the ghosts
// mirror with ca1 = -1 exactly.
inline bool no_slip_at_body(const Store& s) { return s.run.ca1 == -1.0; }

// Rates of strain at the centre of the fluid cell (i, j, k) and its
// Smagorinsky viscosity (Cs Delta)^2 |S|, written over values V: a double
// for one cell, or a vector of cells along k for the kernel, which then
// does every operation of a cell on each lane, in the same order.  The
// cells' values come from c:
//   c.at(f, a, b, c)    field f at (i + a, j + b, k + c)
//   c.dz(c)             dz(k + c)
//   c.body(a, b, c)     (i + a, j + b, k + c) is a body cell (bool or lane mask)
//   c.zero_where(m, x)  0 where m holds, else x
//   c.root(x)           the square root
template <class V>
struct Strain {
  V nut, gxy, gyz, gxz;
};
template <class V, class Cells>
Strain<V> smagorinsky(const Store& s, const Cells& c, int i, int j, V delta, bool noslip) {
  auto at = [&c](const Field& f, int a, int b, int d) -> V { return c.at(f, a, b, d); };
  auto dz = [&c](int d) -> V { return c.dz(d); };
  auto body = [&c](int a, int b, int d) { return c.body(a, b, d); };
  auto zero_where = [&c](auto m, V x) -> V { return c.zero_where(m, x); };
  const Field &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww;
  const Line &dx = s.grid.dx, &dy = s.grid.dy;
  // cell-centre values of the neighbours, interpolated to the faces
  const V uc = at(uu, 0, 0, 0) + at(uu, 1, 0, 0);
  V uN = ((at(uu, 0, 1, 0) + at(uu, 1, 1, 0)) * dy(j) + uc * dy(j + 1)) * 0.5 / (dy(j) + dy(j + 1));
  V uS = ((at(uu, 0, -1, 0) + at(uu, 1, -1, 0)) * dy(j) + uc * dy(j - 1)) * 0.5 / (dy(j - 1) + dy(j));
  V uT = ((at(uu, 0, 0, 1) + at(uu, 1, 0, 1)) * dz(0) + uc * dz(1)) * 0.5 / (dz(0) + dz(1));
  V uB = ((at(uu, 0, 0, -1) + at(uu, 1, 0, -1)) * dz(0) + uc * dz(-1)) * 0.5 / (dz(-1) + dz(0));
  const V vc = at(vv, 0, 0, 0) + at(vv, 0, 1, 0);
  V vE = ((at(vv, 1, 0, 0) + at(vv, 1, 1, 0)) * dx(i) + vc * dx(i + 1)) * 0.5 / (dx(i) + dx(i + 1));
  V vW = ((at(vv, -1, 0, 0) + at(vv, -1, 1, 0)) * dx(i) + vc * dx(i - 1)) * 0.5 / (dx(i - 1) + dx(i));
  V vT = ((at(vv, 0, 0, 1) + at(vv, 0, 1, 1)) * dz(0) + vc * dz(1)) * 0.5 / (dz(0) + dz(1));
  V vB = ((at(vv, 0, 0, -1) + at(vv, 0, 1, -1)) * dz(0) + vc * dz(-1)) * 0.5 / (dz(-1) + dz(0));
  const V wc = at(ww, 0, 0, 0) + at(ww, 0, 0, 1);
  V wE = ((at(ww, 1, 0, 0) + at(ww, 1, 0, 1)) * dx(i) + wc * dx(i + 1)) * 0.5 / (dx(i) + dx(i + 1));
  V wW = ((at(ww, -1, 0, 0) + at(ww, -1, 0, 1)) * dx(i) + wc * dx(i - 1)) * 0.5 / (dx(i - 1) + dx(i));
  V wN = ((at(ww, 0, 1, 0) + at(ww, 0, 1, 1)) * dy(j) + wc * dy(j + 1)) * 0.5 / (dy(j) + dy(j + 1));
  V wS = ((at(ww, 0, -1, 0) + at(ww, 0, -1, 1)) * dy(j) + wc * dy(j - 1)) * 0.5 / (dy(j - 1) + dy(j));
  if (noslip) {  // no slip at the body: the tangential velocity is 0 on its faces
    const auto e = body(1, 0, 0), w = body(-1, 0, 0), n = body(0, 1, 0), so = body(0, -1, 0);
    const auto t = body(0, 0, 1), b = body(0, 0, -1);
    vE = zero_where(e, vE), wE = zero_where(e, wE);
    vW = zero_where(w, vW), wW = zero_where(w, wW);
    uN = zero_where(n, uN), wN = zero_where(n, wN);
    uS = zero_where(so, uS), wS = zero_where(so, wS);
    uT = zero_where(t, uT), vT = zero_where(t, vT);
    uB = zero_where(b, uB), vB = zero_where(b, vB);
  }
  const V s11 = (at(uu, 1, 0, 0) - at(uu, 0, 0, 0)) / dx(i);
  const V s22 = (at(vv, 0, 1, 0) - at(vv, 0, 0, 0)) / dy(j);
  const V s33 = (at(ww, 0, 0, 1) - at(ww, 0, 0, 0)) / dz(0);
  const V gxy = (vE - vW) / dx(i) + (uN - uS) / dy(j);
  const V gxz = (wE - wW) / dx(i) + (uT - uB) / dz(0);
  const V gyz = (wN - wS) / dy(j) + (vT - vB) / dz(0);
  const V cd = s.run.Cs * delta;
  return {cd * cd * c.root(2 * s11 * s11 + 2 * s22 * s22 + 2 * s33 * s33 + gxy * gxy + gxz * gxz + gyz * gyz), gxy,
          gyz, gxz};
}

// The recipe at one fluid cell: its nut, and its stress sums with the
// corner viscosity (which reads the nut of the cells i-1..i, j-1..j,
// k-1..k), or only one of the two.
enum class Part { both, viscosity, stresses };
void cell(Store& s, int i, int j, int k, bool noslip, Part what = Part::both);

// The viscosity at every fluid cell (i outer, k inner) and the shear
// stress sums with the corner viscosity of this sweep: as defined, one cell
// after the other (the recipe), and the tuned kernel on the given
// instruction set, which the processor must have.
void eddy_viscosity_in_order(Store& s);
void eddy_viscosity_on(Store& s, Isa isa);
inline void eddy_viscosity(Store& s) { eddy_viscosity_on(s, widest_isa()); }

}  // namespace qv::sgs
