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
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) s.grid.dx(i) = s.grid.x(i + 1) - s.grid.x(i);
  s.grid.dx(s.grid.is - 1) = s.grid.dx(s.grid.is);
  s.grid.dx(s.grid.ie) = s.grid.dx(s.grid.ie - 1);
  for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.dxc(i) = (s.grid.dx(i - 1) + s.grid.dx(i)) * 0.5;
  s.grid.x(s.grid.is - 1) = s.grid.x(s.grid.is) - s.grid.dx(s.grid.is - 1);
  s.grid.x(s.grid.ie + 1) = s.grid.x(s.grid.ie) + s.grid.dx(s.grid.ie);

  ghosts(s.grid.y, s.grid.dy, s.grid.dyc, s.grid.js, s.grid.je, s.run.iyper == 0);
  ghosts(s.grid.z, s.grid.dz, s.grid.dzc, s.grid.ks, s.grid.ke, s.run.izper == 0);

  s.run.delm = 10000;
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        const double d = (s.run.Re / 2) / (1 / (s.grid.dx(i) * s.grid.dx(i)) + 1 / (s.grid.dy(j) * s.grid.dy(j)) +
                                           1 / (s.grid.dz(k) * s.grid.dz(k)));
        if (d <= s.run.delm) s.run.delm = d;
      }

  // The filter widths, once the store has its arrays (the grid checks
  // alone run without them).  Each value on its own.
  Grid& g = s.grid;
  if (g.delta.ni() < g.ie || g.delta_node.nj() < g.je || g.delta_node.nk() < g.ke) return;
#pragma omp parallel for schedule(static)
  for (int i = g.is; i <= g.ie; ++i) {
    for (int j = g.js; j <= g.je - 1; ++j)
      for (int k = g.ks; k <= g.ke - 1; ++k) g.delta(i, j, k) = filter_width(g.dx(i), g.dy(j), g.dz(k));
    for (int j = g.js; j <= g.je; ++j)
      for (int k = g.ks; k <= g.ke; ++k) g.delta_node(i, j, k) = filter_width(g.dxc(i), g.dyc(j), g.dzc(k));
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
  r.reals(s.grid.ie - s.grid.is + 1, 5, 10, 5, v.data());
  for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.x(i) = v[static_cast<std::size_t>(i - s.grid.is)];
  r.reals(s.grid.je - s.grid.js + 1, 5, 10, 5, v.data());
  for (int j = s.grid.js; j <= s.grid.je; ++j) s.grid.y(j) = v[static_cast<std::size_t>(j - s.grid.js)];
  r.reals(s.grid.ke - s.grid.ks + 1, 5, 10, 5, v.data());
  for (int k = s.grid.ks; k <= s.grid.ke; ++k) s.grid.z(k) = v[static_cast<std::size_t>(k - s.grid.ks)];
  r.close();

  grid_metrics(s);
  say(fmt::Line() << "delm =" << s.run.delm);
}

}  // namespace qv
