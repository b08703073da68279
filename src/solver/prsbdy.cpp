#include "solver/solver.hpp"

namespace qv {

// Pressure boundary values, in this order: body cells 0; x faces zero
// gradient; y and z sides periodic or zero gradient; the edge lines along
// x, y, z; the eight corners copied in x; finally the whole block
// is-1..ie+1, js-1..je+1, ks-1..ke+1 shifted so that pp(is, je/2, ke/2) = 0.
void prsbdy(Store& s) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  auto& pp = s.flow.pp;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j)
      for (int i = is; i <= ie - 1; ++i)
        if (s.flow.iflag(i, j, k) != 0) pp(i, j, k) = 0;

  fill_sides(pp, side_i(s), 0, {is - 1, ie}, js, je - 1, ks, ke - 1);
  fill_sides(pp, side_j(s), 1, {js - 1, je}, is, ie - 1, ks, ke - 1);
  fill_sides(pp, side_k(s), 2, {ks - 1, ke}, is, ie - 1, js, je - 1);

  edge_lines_x(pp, s, is, ie - 1);
  edge_lines_y(pp, s, js, je - 1);
  edge_lines_z(pp, s, ks, ke - 1);
  const int cj[4] = {js - 1, je, js - 1, je};
  const int ck[4] = {ks - 1, ks - 1, ke, ke};
  for (int n = 0; n < 4; ++n) pp(is - 1, cj[n], ck[n]) = pp(is, cj[n], ck[n]);
  for (int n = 0; n < 4; ++n) pp(ie, cj[n], ck[n]) = pp(ie - 1, cj[n], ck[n]);

  const double p0 = pp(is, je / 2, ke / 2);
  for (int i = is - 1; i <= ie + 1; ++i)
    for (int j = js - 1; j <= je + 1; ++j)
      for (int k = ks - 1; k <= ke + 1; ++k) pp(i, j, k) = pp(i, j, k) - p0;
}

}  // namespace qv
