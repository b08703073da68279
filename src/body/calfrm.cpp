#include <algorithm>

#include "body/body.hpp"
#include "io/console.hpp"

namespace qv {

// Pressure of each fluid cell beside the body times the area of the shared
// face.  Force: S_left - S_right in x, S_bottom - S_top in y.  Moment about
// the grid origin, positive turning +x towards -y: at most one term per
// fluid cell in each of M_plus (body below, else at +x) and M_minus (body
// above, else at -x).  The sweeps run k outer, i inner, over the cells
// that can have a body cell beside them: the body's box, one cell wider in
// i and j.  The others add nothing, so the sums keep their terms and order.
void calfrm(Store& s) {
  const auto& pp = s.flow.pp;
  const auto &dx = s.grid.dx, &dy = s.grid.dy, &dz = s.grid.dz, &x = s.grid.x, &y = s.grid.y;
  auto one = [&](int i, int j, int k) { return s.flow.iflag(i, j, k) == 1; };
  const BodyBox b = body_box(s.flow.iflag);
  const int i0 = std::max(s.grid.is, b.i0 - 1), i1 = std::min(s.grid.ie - 1, b.i1 + 1);
  const int j0 = std::max(s.grid.js, b.j0 - 1), j1 = std::min(s.grid.je - 1, b.j1 + 1);
  const int k0 = std::max(s.grid.ks, b.k0), k1 = std::min(s.grid.ke - 1, b.k1);
  double top = 0, bottom = 0, left = 0, right = 0;
  for (int k = k0; k <= k1; ++k)
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) {
        if (s.flow.iflag(i, j, k) != 0) continue;
        if (one(i, j - 1, k)) top = top + pp(i, j, k) * dx(i) * dz(k);
        if (one(i, j + 1, k)) bottom = bottom + pp(i, j, k) * dx(i) * dz(k);
        if (one(i + 1, j, k)) left = left + pp(i, j, k) * dy(j) * dz(k);
        if (one(i - 1, j, k)) right = right + pp(i, j, k) * dy(j) * dz(k);
      }
  s.body.pf.x = left - right;
  s.body.pf.y = bottom - top;

  double mplus = 0, mminus = 0;
  for (int k = k0; k <= k1; ++k)
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) {
        if (s.flow.iflag(i, j, k) != 0) continue;
        const double xc = 0.5 * (x(i) + x(i + 1));
        const double yc = 0.5 * (y(j) + y(j + 1));
        if (one(i, j - 1, k))
          mplus = mplus + pp(i, j, k) * xc * dx(i) * dz(k);
        else if (one(i + 1, j, k))
          mplus = mplus + pp(i, j, k) * yc * dy(j) * dz(k);
        if (one(i, j + 1, k))
          mminus = mminus + pp(i, j, k) * xc * dx(i) * dz(k);
        else if (one(i - 1, j, k))
          mminus = mminus + pp(i, j, k) * yc * dy(j) * dz(k);
      }
  s.body.pf.t = mplus - mminus;
  say("###   in calfrm nn,pfx,pfy,pft =" + fmt::I(s.run.nn, 5) + fmt::F(s.body.pf.x, 10, 5) +
      fmt::F(s.body.pf.y, 10, 5) + fmt::F(s.body.pf.t, 10, 5));
}

}  // namespace qv
