// What one step adds to the statistics sums, shared by the recipe
// (statistics.cpp, a node at a time) and the tuned kernel
// (statistics_kernel.cpp, eight nodes of a column at once, which must give
// the same bits).  Each formula is written once, over values V: a double
// for one node, or a vector of nodes along k, each lane doing the
// operations of its node in the same order.  The values come from c:
//   c.at(f, a, b, d)  field f at (i + a, j + b, k + d)
//   c.dz(d)           dz(k + d)
// and add(sum, term) adds a term to the sum at the node.
#pragma once

#include "solver/isa.hpp"
#include "solver/solver.hpp"

namespace qv::stats {

// One node or cell (i, j, k), read through the store's accessor.
struct OneNode {
  const Store& s;
  int i, j, k;
  double at(const Field& f, int a, int b, int c) const { return f(i + a, j + b, k + c); }
  double dz(int c) const { return s.grid.dz(k + c); }
};

// At a node (i, j, k), i = is..ie, j = js..je, k = ks..ke, with the node
// velocities un, vn, wn already in place at it and at its neighbours: the
// means of the velocities and eddy viscosity, the normal sub-grid stresses
// from the corner viscosity and the velocity products.
template <class V, class C, class Add>
void node_terms(Store& s, const C& c, int i, int j, Add add) {
  const Field &un = s.work.un, &vn = s.work.vn, &wn = s.work.wn, &nut = s.flow.nut;
  const Line &dx = s.grid.dx, &dy = s.grid.dy;
  const V u = c.at(un, 0, 0, 0), v = c.at(vn, 0, 0, 0), w = c.at(wn, 0, 0, 0);
  add(s.stats.su, u);
  add(s.stats.sv, v);
  add(s.stats.sw, w);
  add(s.stats.snut, c.at(nut, 0, 0, 0));
  const V nt = corner_viscosity_of<V>([&](int a, int b, int d) -> V { return c.at(nut, a, b, d); },
                                      [&](int d) -> V { return c.dz(d); }, dx, dy, i, j);
  const V Dn = c.at(s.grid.delta_node, 0, 0, 0);
  const V kn = nt * nt / ((kCk * kCk) * (Dn * Dn));
  const V dudx = (c.at(un, 1, 0, 0) - c.at(un, -1, 0, 0)) / (dx(i) + dx(i - 1));
  const V dvdy = (c.at(vn, 0, 1, 0) - c.at(vn, 0, -1, 0)) / (dy(j) + dy(j - 1));
  const V dwdz = (c.at(wn, 0, 0, 1) - c.at(wn, 0, 0, -1)) / (c.dz(0) + c.dz(-1));
  add(s.stats.sgs11, (2.0 / 3.0) * kn - 2 * nt * dudx);
  add(s.stats.sgs22, (2.0 / 3.0) * kn - 2 * nt * dvdy);
  add(s.stats.sgs33, (2.0 / 3.0) * kn - 2 * nt * dwdz);
  add(s.stats.suu, u * u);
  add(s.stats.svv, v * v);
  add(s.stats.sww, w * w);
  add(s.stats.suv, u * v);
  add(s.stats.svw, v * w);
  add(s.stats.swu, w * u);
}

// The modified pressure of a cell, pm = pp - (2/3) nut^2 / (Ck^2 D^2).
template <class V, class C>
V modified_pressure_of(const Store& s, const C& c) {
  const V D = c.at(s.grid.delta, 0, 0, 0);
  const V n = c.at(s.flow.nut, 0, 0, 0);
  const V ksgs = n * n / (D * (kCk * kCk) * D);
  return c.at(s.flow.pp, 0, 0, 0) - (2.0 / 3.0) * ksgs;
}

// At a cell (i, j, k), i = is..ie, j = js..je-1, k = ks..ke-1: the mean
// modified pressure and its square.
template <class V, class Add>
void cell_terms(Store& s, V pm, Add add) {
  add(s.stats.spm, pm);
  add(s.stats.spm2, pm * pm);
}

// The sums of one step: the node velocities (face_to_node), the modified
// pressure (into s.work.pm) and every sum.  The recipe goes node after
// node; the kernel runs on the given instruction set, which the processor
// must have.  Each sum belongs to one node, so any order gives the same
// bits.
void accumulate_in_order(Store& s);
void accumulate_on(Store& s, Isa isa);

}  // namespace qv::stats
