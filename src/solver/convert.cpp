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
#pragma omp parallel for schedule(static)  // each node on its own
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
        const NodeVelocity<double> n = node_velocity_of<double>(
            s, [&](const Field& f, int a, int b, int c) { return f(i + a, j + b, k + c); },
            [&](int c) { return s.grid.dz(k + c); }, [&](int c) { return s.grid.dzc(k + c); }, i, j);
        s.work.un(i, j, k) = n.u;
        s.work.vn(i, j, k) = n.v;
        s.work.wn(i, j, k) = n.w;
      }
}

}  // namespace qv
