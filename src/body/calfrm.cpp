#include "body/body.hpp"
#include "io/console.hpp"

namespace qv {

// Pressure of each fluid cell beside the body times the area of the shared
// face.  Force: S_left - S_right in x, S_bottom - S_top in y.  Moment about
// the grid origin, positive turning +x towards -y: at most one term per
// fluid cell in each of M_plus (body below, else at +x) and M_minus (body
// above, else at -x).
void calfrm(Store& s) {
  const auto& pp = s.pp;
  const auto &dx = s.dx, &dy = s.dy, &dz = s.dz, &x = s.x, &y = s.y;
  auto one = [&](int i, int j, int k) { return s.iflag(i, j, k) == 1; };
  double top = 0, bottom = 0, left = 0, right = 0;
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je - 1; ++j)
      for (int i = s.is; i <= s.ie - 1; ++i) {
        if (s.iflag(i, j, k) != 0) continue;
        if (one(i, j - 1, k)) top = top + pp(i, j, k) * dx(i) * dz(k);
        if (one(i, j + 1, k)) bottom = bottom + pp(i, j, k) * dx(i) * dz(k);
        if (one(i + 1, j, k)) left = left + pp(i, j, k) * dy(j) * dz(k);
        if (one(i - 1, j, k)) right = right + pp(i, j, k) * dy(j) * dz(k);
      }
  s.pfx = left - right;
  s.pfy = bottom - top;

  double mplus = 0, mminus = 0;
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je - 1; ++j)
      for (int i = s.is; i <= s.ie - 1; ++i) {
        if (s.iflag(i, j, k) != 0) continue;
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
  s.pft = mplus - mminus;
  say("###   in calfrm nn,pfx,pfy,pft =" + fmt::I(s.nn, 5) + fmt::F(s.pfx, 10, 5) + fmt::F(s.pfy, 10, 5) +
      fmt::F(s.pft, 10, 5));
}

}  // namespace qv
