#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "solver/solver.hpp"

namespace qv {

namespace {

// Rates of strain at the centre of the fluid cell (i, j, k) and its
// Smagorinsky viscosity (Cs Delta)^2 |S|.
struct Strain {
  double nut, gxy, gyz, gxz;
};
Strain smagorinsky(const Store& s, int i, int j, int k, bool noslip) {
  const auto &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww;
  const auto &dx = s.grid.dx, &dy = s.grid.dy, &dz = s.grid.dz;
  auto body = [&](int a, int b, int c) { return s.flow.iflag(a, b, c) != 0; };
  const double delta = s.grid.delta(i, j, k);
  // cell-centre values of the neighbours, interpolated to the faces
  const double uc = uu(i, j, k) + uu(i + 1, j, k);
  double uN = ((uu(i, j + 1, k) + uu(i + 1, j + 1, k)) * dy(j) + uc * dy(j + 1)) * 0.5 / (dy(j) + dy(j + 1));
  double uS = ((uu(i, j - 1, k) + uu(i + 1, j - 1, k)) * dy(j) + uc * dy(j - 1)) * 0.5 / (dy(j - 1) + dy(j));
  double uT = ((uu(i, j, k + 1) + uu(i + 1, j, k + 1)) * dz(k) + uc * dz(k + 1)) * 0.5 / (dz(k) + dz(k + 1));
  double uB = ((uu(i, j, k - 1) + uu(i + 1, j, k - 1)) * dz(k) + uc * dz(k - 1)) * 0.5 / (dz(k - 1) + dz(k));
  const double vc = vv(i, j, k) + vv(i, j + 1, k);
  double vE = ((vv(i + 1, j, k) + vv(i + 1, j + 1, k)) * dx(i) + vc * dx(i + 1)) * 0.5 / (dx(i) + dx(i + 1));
  double vW = ((vv(i - 1, j, k) + vv(i - 1, j + 1, k)) * dx(i) + vc * dx(i - 1)) * 0.5 / (dx(i - 1) + dx(i));
  double vT = ((vv(i, j, k + 1) + vv(i, j + 1, k + 1)) * dz(k) + vc * dz(k + 1)) * 0.5 / (dz(k) + dz(k + 1));
  double vB = ((vv(i, j, k - 1) + vv(i, j + 1, k - 1)) * dz(k) + vc * dz(k - 1)) * 0.5 / (dz(k - 1) + dz(k));
  const double wc = ww(i, j, k) + ww(i, j, k + 1);
  double wE = ((ww(i + 1, j, k) + ww(i + 1, j, k + 1)) * dx(i) + wc * dx(i + 1)) * 0.5 / (dx(i) + dx(i + 1));
  double wW = ((ww(i - 1, j, k) + ww(i - 1, j, k + 1)) * dx(i) + wc * dx(i - 1)) * 0.5 / (dx(i - 1) + dx(i));
  double wN = ((ww(i, j + 1, k) + ww(i, j + 1, k + 1)) * dy(j) + wc * dy(j + 1)) * 0.5 / (dy(j) + dy(j + 1));
  double wS = ((ww(i, j - 1, k) + ww(i, j - 1, k + 1)) * dy(j) + wc * dy(j - 1)) * 0.5 / (dy(j - 1) + dy(j));
  if (noslip) {
    if (body(i + 1, j, k)) vE = wE = 0;
    if (body(i - 1, j, k)) vW = wW = 0;
    if (body(i, j + 1, k)) uN = wN = 0;
    if (body(i, j - 1, k)) uS = wS = 0;
    if (body(i, j, k + 1)) uT = vT = 0;
    if (body(i, j, k - 1)) uB = vB = 0;
  }
  const double s11 = (uu(i + 1, j, k) - uu(i, j, k)) / dx(i);
  const double s22 = (vv(i, j + 1, k) - vv(i, j, k)) / dy(j);
  const double s33 = (ww(i, j, k + 1) - ww(i, j, k)) / dz(k);
  const double gxy = (vE - vW) / dx(i) + (uN - uS) / dy(j);
  const double gxz = (wE - wW) / dx(i) + (uT - uB) / dz(k);
  const double gyz = (wN - wS) / dy(j) + (vT - vB) / dz(k);
  const double cd = s.run.Cs * delta;
  return {cd * cd * std::sqrt(2 * s11 * s11 + 2 * s22 * s22 + 2 * s33 * s33 + gxy * gxy + gxz * gxz + gyz * gyz), gxy,
          gyz, gxz};
}

}  // namespace

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

  // 3. The corner viscosity of a cell reads nut of the cells i-1..i,
  //    j-1..j, k-1..k only: done earlier in this sweep, or not written by
  //    it.  So each thread sweeps a block of planes i in order, once the
  //    last plane of every block, which the next block's first plane
  //    reads, has its nut.  The velocities are not written here.
  const bool noslip = s.run.ca1 == -1.0;
#pragma omp parallel
  {
    const long long n = ie - is, nth = omp_get_num_threads(), t = omp_get_thread_num();
    const int i0 = is + static_cast<int>(n * t / nth), i1 = is + static_cast<int>(n * (t + 1) / nth);
    const int handed_on = t + 1 < nth && i1 > i0 ? i1 - 1 : -1;  // nut done before the sweep
    if (handed_on >= 0)
      for (int j = js; j <= je - 1; ++j)
        for (int k = ks; k <= ke - 1; ++k)
          if (!body(handed_on, j, k)) nut(handed_on, j, k) = smagorinsky(s, handed_on, j, k, noslip).nut;
#pragma omp barrier
    for (int i = i0; i < i1; ++i)
      for (int j = js; j <= je - 1; ++j)
        for (int k = ks; k <= ke - 1; ++k) {
          if (body(i, j, k)) continue;
          const Strain r = smagorinsky(s, i, j, k, noslip);
          if (i != handed_on) nut(i, j, k) = r.nut;
          // viscosity at the corner (x(i), y(j), z(k)): in x, then y, then z
          const double nc = corner_viscosity(s, i, j, k);
          s.stats.tauxy(i, j, k) = s.stats.tauxy(i, j, k) - r.gxy * nc;
          s.stats.tauyz(i, j, k) = s.stats.tauyz(i, j, k) - r.gyz * nc;
          s.stats.tauxz(i, j, k) = s.stats.tauxz(i, j, k) - r.gxz * nc;
        }
  }

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
