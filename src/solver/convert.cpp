// Conversions between node values (grid points) and face/cell values.
#include "solver/solver.hpp"

namespace qv {

// Face velocities as plain four-node averages.
void node_to_face(Store& s) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        s.flow.uu(i, j, k) =
            (s.work.un(i, j, k) + s.work.un(i, j + 1, k) + s.work.un(i, j + 1, k + 1) + s.work.un(i, j, k + 1)) * 0.25;
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        s.flow.vv(i, j, k) =
            (s.work.vn(i, j, k) + s.work.vn(i + 1, j, k) + s.work.vn(i + 1, j, k + 1) + s.work.vn(i, j, k + 1)) * 0.25;
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke; ++k)
        s.flow.ww(i, j, k) =
            (s.work.wn(i, j, k) + s.work.wn(i + 1, j, k) + s.work.wn(i + 1, j + 1, k) + s.work.wn(i, j + 1, k)) * 0.25;
}

// Cell pressure as the eight-node average, then the pressure boundary values.
void node_to_cell(Store& s) {
  const auto& pn = s.work.pn;
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        s.flow.pp(i, j, k) =
            0.125 * (pn(i, j, k) + pn(i + 1, j, k) + pn(i + 1, j, k + 1) + pn(i, j, k + 1) + pn(i, j + 1, k) +
                     pn(i + 1, j + 1, k) + pn(i + 1, j + 1, k + 1) + pn(i, j + 1, k + 1));
  prsbdy(s);
}

// Node velocities by linear interpolation between the neighbouring
// cell-centre lines, weighted by the cell widths.
void face_to_node(Store& s) {
  const auto &dx = s.grid.dx, &dy = s.grid.dy, &dz = s.grid.dz, &dxc = s.grid.dxc, &dyc = s.grid.dyc, &dzc = s.grid.dzc;
  const auto &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww;
#pragma omp parallel for schedule(static)  // each node on its own
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
        const double a = (dy(j - 1) * uu(i, j, k) + dy(j) * uu(i, j - 1, k)) / (2 * dyc(j));
        const double b = (dy(j - 1) * uu(i, j, k - 1) + dy(j) * uu(i, j - 1, k - 1)) / (2 * dyc(j));
        s.work.un(i, j, k) = (dz(k - 1) * a + dz(k) * b) / (2 * dzc(k));
        const double c = (dz(k - 1) * vv(i, j, k) + dz(k) * vv(i, j, k - 1)) / (2 * dzc(k));
        const double d = (dz(k - 1) * vv(i - 1, j, k) + dz(k) * vv(i - 1, j, k - 1)) / (2 * dzc(k));
        s.work.vn(i, j, k) = (dx(i - 1) * c + dx(i) * d) / (2 * dxc(i));
        const double e = (dx(i - 1) * ww(i, j, k) + dx(i) * ww(i - 1, j, k)) / (2 * dxc(i));
        const double g = (dx(i - 1) * ww(i, j - 1, k) + dx(i) * ww(i - 1, j - 1, k)) / (2 * dxc(i));
        s.work.wn(i, j, k) = (dy(j - 1) * e + dy(j) * g) / (2 * dyc(j));
      }
}

}  // namespace qv
