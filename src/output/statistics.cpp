#include <cmath>

#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"
#include "solver/solver.hpp"

namespace qv {
// Sums of node velocities, modified pressure, eddy viscosity, normal
// sub-grid stresses at the nodes and velocity products.  Each sum belongs
// to one node and grows by one term per step, so the planes i are shared
// among the threads without changing any sum.
void stats_accumulate(Store& s) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  face_to_node(s);
  const auto &un = s.un, &vn = s.vn, &wn = s.wn, &nut = s.nut;
  const auto &dx = s.dx, &dy = s.dy, &dz = s.dz;
#pragma omp parallel for schedule(static)
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        s.su(i, j, k) = s.su(i, j, k) + un(i, j, k);
        s.sv(i, j, k) = s.sv(i, j, k) + vn(i, j, k);
        s.sw(i, j, k) = s.sw(i, j, k) + wn(i, j, k);
        s.snut(i, j, k) = s.snut(i, j, k) + nut(i, j, k);
      }
  modified_pressure(s);
#pragma omp parallel for schedule(static)
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        const double pm = s.pm(i, j, k);
        s.spm(i, j, k) = s.spm(i, j, k) + pm;
        s.spm2(i, j, k) = s.spm2(i, j, k) + pm * pm;
      }
#pragma omp parallel for schedule(static)
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        const double nt = corner_viscosity(s, i, j, k);
        const double Dn = filter_width(s.dxc(i), s.dyc(j), s.dzc(k));
        const double kn = nt * nt / ((kCk * kCk) * (Dn * Dn));
        const double dudx = (un(i + 1, j, k) - un(i - 1, j, k)) / (dx(i) + dx(i - 1));
        const double dvdy = (vn(i, j + 1, k) - vn(i, j - 1, k)) / (dy(j) + dy(j - 1));
        const double dwdz = (wn(i, j, k + 1) - wn(i, j, k - 1)) / (dz(k) + dz(k - 1));
        s.sgs11(i, j, k) = s.sgs11(i, j, k) + ((2.0 / 3.0) * kn - 2 * nt * dudx);
        s.sgs22(i, j, k) = s.sgs22(i, j, k) + ((2.0 / 3.0) * kn - 2 * nt * dvdy);
        s.sgs33(i, j, k) = s.sgs33(i, j, k) + ((2.0 / 3.0) * kn - 2 * nt * dwdz);
      }
#pragma omp parallel for schedule(static)
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        const double u = un(i, j, k), v = vn(i, j, k), w = wn(i, j, k);
        s.suu(i, j, k) = s.suu(i, j, k) + u * u;
        s.svv(i, j, k) = s.svv(i, j, k) + v * v;
        s.sww(i, j, k) = s.sww(i, j, k) + w * w;
        s.suv(i, j, k) = s.suv(i, j, k) + u * v;
        s.svw(i, j, k) = s.svw(i, j, k) + v * w;
        s.swu(i, j, k) = s.swu(i, j, k) + w * u;
      }
}

// Means, variances and covariances over the steps summed.
void stats_average(Store& s, int steps) {
  const double rstt = 1.0 / steps;
  say(fmt::Line() << "rstt =" << rstt);
  for (int i = s.is; i <= s.ie; ++i)
    for (int j = s.js; j <= s.je; ++j)
      for (int k = s.ks; k <= s.ke; ++k) {
        s.su(i, j, k) = s.su(i, j, k) * rstt;
        s.sv(i, j, k) = s.sv(i, j, k) * rstt;
        s.sw(i, j, k) = s.sw(i, j, k) * rstt;
        s.snut(i, j, k) = s.snut(i, j, k) * rstt;
        const double u = s.su(i, j, k), v = s.sv(i, j, k), w = s.sw(i, j, k);
        s.suu(i, j, k) = rstt * s.suu(i, j, k) - u * u;
        s.svv(i, j, k) = rstt * s.svv(i, j, k) - v * v;
        s.sww(i, j, k) = rstt * s.sww(i, j, k) - w * w;
        s.suv(i, j, k) = rstt * s.suv(i, j, k) - u * v;
        s.svw(i, j, k) = rstt * s.svw(i, j, k) - v * w;
        s.swu(i, j, k) = rstt * s.swu(i, j, k) - w * u;
        for (Field* f : {&s.sgs11, &s.sgs22, &s.sgs33, &s.tauxy, &s.tauyz, &s.tauxz})
          (*f)(i, j, k) = (*f)(i, j, k) * rstt;
      }
  for (int i = s.is; i <= s.ie; ++i)
    for (int j = s.js; j <= s.je - 1; ++j)
      for (int k = s.ks; k <= s.ke - 1; ++k) {
        s.spm(i, j, k) = s.spm(i, j, k) * rstt;
        const double p = s.spm(i, j, k);
        s.spm2(i, j, k) = rstt * s.spm2(i, j, k) - p * p;
      }
}

void write_stats(Store& s, const std::string& statfile) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  RecordWriter w(fmt::trim_name(statfile), unit::stats, Mode::New, true);
  write_header(w, s);
  for (const Field* f : {&s.su, &s.sv, &s.sw, &s.suu, &s.svv, &s.sww, &s.suv, &s.svw, &s.swu, &s.sgs11, &s.sgs22,
                         &s.sgs33})
    write_block(w, *f, is, ie, js, je, ks, ke);
  write_block(w, s.spm, is, ie, js, je - 1, ks, ke - 1);
  write_block(w, s.spm2, is, ie, js, je - 1, ks, ke - 1);
  for (const Field* f : {&s.snut, &s.tauxy, &s.tauyz, &s.tauxz}) write_block(w, *f, is, ie, js, je, ks, ke);
  w.close();
}

}  // namespace qv
