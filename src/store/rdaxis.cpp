#include <vector>

#include "io/console.hpp"
#include "io/files.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

// Ghost widths and coordinates of one direction: non-periodic copies the
// end widths; periodic wraps two layers (grid line je is the image of js).
void ghosts(Line& c, Line& w, Line& wc, int lo, int hi, bool periodic) {
  for (int m = lo; m <= hi - 1; ++m) w(m) = c(m + 1) - c(m);
  if (!periodic) {
    w(lo - 1) = w(lo);
    w(hi) = w(hi - 1);
    c(lo - 1) = c(lo) - w(lo - 1);
    c(hi + 1) = c(hi) + w(hi);
  } else {
    w(lo - 1) = w(hi - 1);
    w(lo - 2) = w(hi - 2);
    w(hi) = w(lo);
    w(hi + 1) = w(lo + 1);
    c(lo - 1) = c(lo) - w(lo - 1);
    c(lo - 2) = c(lo - 1) - w(lo - 2);
    c(hi + 1) = c(hi) + w(hi);
    c(hi + 2) = c(hi + 1) + w(hi + 1);
  }
  for (int m = lo - 1; m <= hi + 1; ++m) wc(m) = (w(m - 1) + w(m)) * 0.5;
}

}  // namespace

void grid_metrics(Store& s) {
  for (int i = s.is; i <= s.ie - 1; ++i) s.dx(i) = s.x(i + 1) - s.x(i);
  s.dx(s.is - 1) = s.dx(s.is);
  s.dx(s.ie) = s.dx(s.ie - 1);
  for (int i = s.is; i <= s.ie; ++i) s.dxc(i) = (s.dx(i - 1) + s.dx(i)) * 0.5;
  s.x(s.is - 1) = s.x(s.is) - s.dx(s.is - 1);
  s.x(s.ie + 1) = s.x(s.ie) + s.dx(s.ie);

  ghosts(s.y, s.dy, s.dyc, s.js, s.je, s.iyper == 0);
  ghosts(s.z, s.dz, s.dzc, s.ks, s.ke, s.izper == 0);

  s.delm = 10000;
  for (int i = s.is; i <= s.ie - 1; ++i)
    for (int j = s.js; j <= s.je - 1; ++j)
      for (int k = s.ks; k <= s.ke - 1; ++k) {
        const double d = (s.Re / 2) / (1 / (s.dx(i) * s.dx(i)) + 1 / (s.dy(j) * s.dy(j)) +
                                       1 / (s.dz(k) * s.dz(k)));
        if (d <= s.delm) s.delm = d;
      }
}

// 1. Counts Nx, Ny, Nz checked against ie, je, ke (the last mismatch wins).
// 2. Grid lines x(is..ie), y(js..je), z(ks..ke), five per line.
// 3. Widths and centre distances with ghosts: x always non-periodic.
// 4. delm = min(10000, (Re/2) / (1/dx^2 + 1/dy^2 + 1/dz^2)) over the cells.
void rdaxis(Store& s, const std::string& axisfile) {
  const std::string name = fmt::trim_name(axisfile);
  TextReader r(name, unit::axis);
  check_counts(s, r, name, "# of data are not same.");
  std::vector<double> v(static_cast<std::size_t>(kMaxI));
  r.reals(s.ie - s.is + 1, 5, 10, 5, v.data());
  for (int i = s.is; i <= s.ie; ++i) s.x(i) = v[static_cast<std::size_t>(i - s.is)];
  r.reals(s.je - s.js + 1, 5, 10, 5, v.data());
  for (int j = s.js; j <= s.je; ++j) s.y(j) = v[static_cast<std::size_t>(j - s.js)];
  r.reals(s.ke - s.ks + 1, 5, 10, 5, v.data());
  for (int k = s.ks; k <= s.ke; ++k) s.z(k) = v[static_cast<std::size_t>(k - s.ks)];
  r.close();

  grid_metrics(s);
  say(fmt::Line() << "delm =" << s.delm);
}

}  // namespace qv
