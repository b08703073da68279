#include <algorithm>
#include <cmath>
#include <cstdint>

#include "solver/subgrid.hpp"

namespace qv {

namespace {

// One fluid cell (i, j, k) of the recipe, read through the store's accessor.
struct OneCell {
  const Store& s;
  int i, j, k;
  double at(const Field& f, int a, int b, int c) const { return f(i + a, j + b, k + c); }
  double dz(int c) const { return s.grid.dz(k + c); }
  bool body(int a, int b, int c) const { return s.flow.iflag(i + a, j + b, k + c) != 0; }
  static double zero_where(bool m, double x) { return m ? 0.0 : x; }
  static double root(double x) { return std::sqrt(x); }
};

}  // namespace

void sgs::cell(Store& s, int i, int j, int k, bool noslip, Part what) {
  const Strain<double> r = smagorinsky(s, OneCell{s, i, j, k}, i, j, s.grid.delta(i, j, k), noslip);
  if (what != Part::stresses) s.flow.nut(i, j, k) = r.nut;
  if (what == Part::viscosity) return;
  // viscosity at the corner (x(i), y(j), z(k)): in x, then y, then z
  const double nc = corner_viscosity(s, i, j, k);
  s.stats.tauxy(i, j, k) = s.stats.tauxy(i, j, k) - r.gxy * nc;
  s.stats.tauyz(i, j, k) = s.stats.tauyz(i, j, k) - r.gyz * nc;
  s.stats.tauxz(i, j, k) = s.stats.tauxz(i, j, k) - r.gxz * nc;
}

// The corner viscosity of a cell reads nut of the cells i-1..i, j-1..j,
// k-1..k only, each written earlier in this sweep or not written by it.
void sgs::eddy_viscosity_in_order(Store& s) {
  const bool noslip = sgs::no_slip_at_body(s);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        if (s.flow.iflag(i, j, k) == 0) cell(s, i, j, k, noslip);
}

// After the pressure correction:
// 1. face rule at every body cell; 2. first reflection groups B, D, F at
//    every fluid cell (k outer, i inner);
// 3. Smagorinsky nut = (Cs Delta)^2 |S| at fluid cells (i outer, k inner),
//    and the shear stress sums with the corner viscosity of this sweep;
// 4. nut = 0 in body cells; 5. ghost layers and edges of nut.
void subgrid_viscosity(Store& s) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  auto& nut = s.flow.nut;
  auto body = [&](int i, int j, int k) { return s.flow.iflag(i, j, k) != 0; };

  // Rows (j, k) that hold a body cell, and rows within one row of one:
  // steps 1 and 4 act only in the first, and a target of B, D or F lies
  // inside the body in a row within one of the point's, so step 2 writes
  // only from the second.  Along a row, steps 1 and 4 act only from the
  // first to the last body plane i (b0..b1), and step 2 only from b0 - 1
  // to b1 + 1: a target and the cell below it are body cells, and they lie
  // in the point's plane and the one below it (B, uu), or in one plane
  // (D and F: the point's, or one beside it).  Skipping the rest keeps
  // every order.
  const int nj = s.flow.iflag.nj(), nk = s.flow.iflag.nk();
  std::uint8_t row_body[kMaxJ + 1][kMaxK + 1] = {}, row_near[kMaxJ + 1][kMaxK + 1] = {};
  int b0 = s.flow.iflag.ni() + 1, b1 = 0;
  for (int i = 1; i <= s.flow.iflag.ni(); ++i)  // ghost layers included
    for (int j = 1; j <= nj; ++j)
      for (int k = 1; k <= nk; ++k)
        if (body(i, j, k)) {
          row_body[j][k] = 1;
          b0 = std::min(b0, i);
          b1 = std::max(b1, i);
        }
  for (int j = js; j <= je - 1; ++j)
    for (int k = ks; k <= ke - 1; ++k)
      for (int a = std::max(1, j - 1); a <= std::min(nj, j + 1); ++a)
        for (int b = std::max(1, k - 1); b <= std::min(nk, k + 1); ++b) row_near[j][k] |= row_body[a][b];
  const int ib0 = std::max(is, b0), ib1 = std::min(ie - 1, b1);          // steps 1 and 4
  const int in0 = std::max(is, b0 - 1), in1 = std::min(ie - 1, b1 + 1);  // step 2

  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j)
      if (row_body[j][k])
        for (int i = ib0; i <= ib1; ++i)
          if (body(i, j, k)) face_rule(s, i, j, k);
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j)
      if (row_near[j][k])
        for (int i = in0; i <= in1; ++i)
          if (!body(i, j, k)) {
            for (int c = 0; c < 3; ++c) reflect(s, c, 1, i, j, k);
          }

  sgs::eddy_viscosity(s);

  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j)
      if (row_body[j][k])
        for (int i = ib0; i <= ib1; ++i)
          if (body(i, j, k)) nut(i, j, k) = 0;

  // inflow side from the side map, outflow side extrapolated
  fill_sides(nut, side_i(s), 0, {is - 1}, js, je - 1, ks, ke - 1);
  for (int j = js; j <= je - 1; ++j)
    for (int k = ks; k <= ke - 1; ++k)
      nut(ie, j, k) = 3 * nut(ie - 1, j, k) - 3 * nut(ie - 2, j, k) + nut(ie - 3, j, k);
  fill_sides(nut, side_j(s), 1, {js - 1, je}, is, ie - 1, ks, ke - 1);
  fill_sides(nut, side_k(s), 2, {ks - 1, ke}, is, ie - 1, js, je - 1);
  edge_lines_x(nut, s, is, ie - 1);
  edge_lines_y(nut, s, js, je - 1);
  edge_lines_z(nut, s, ks, ke - 1);
}

}  // namespace qv
