#include <cmath>

#include "control/console.hpp"
#include "control/files.hpp"
#include "solver/solver.hpp"

namespace qv {
namespace {

constexpr int itmax = 5000;

// "esp2.inf": ic2, ic3, sesp in (2I10,F10.5).
void read_esp2(Store& s) {
  try {
    TextReader r("esp2.inf", unit::esp2, Mode::Unknown);
    const std::string l = r.next();
    const int ic2 = static_cast<int>(r.I(l, 1, 10));
    const int ic3 = static_cast<int>(r.I(l, 11, 10));
    const double sesp = r.F(l, 21, 10, 5);
    r.close();
    s.ic2 = ic2;
    s.ic3 = ic3;
    s.sesp = sesp;
    s.esp2_read = true;
  } catch (const IoError& e) {
    if (!s.tolerant_inputs || !s.esp2_read) throw;
    say(fmt::Line() << "warning: " << e.what() << "; keeping the last tolerance ramp");
  }
}

}  // namespace

// HSMAC pressure-velocity correction.
// 1. Tolerance ramp: esp2 = sesp rnc^(nn2-1), falling from sesp to esp over
//    ic3 steps after step ic2.
// 2. Repeat until max|D| < esp2 (or itmax): scan the divergence (k outer,
//    i inner, the first largest wins), then one in-place sweep (i outer,
//    k inner) that adds dp = -omg D / (2 dt c) to the cell pressure (only
//    where |D| >= esp2) and moves the six faces; restore the inflow column,
//    clear body cells, z walls.
// 3. dtmin from the largest signed u/dx, v/dy, w/dz and delm.
// 4. Boundary values with the outflow uu kept.
void hsmac2(Store& s, double& dtmin) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  auto& uu = s.uu;
  auto& vv = s.vv;
  auto& ww = s.ww;
  auto& pp = s.pp;
  const auto &dx = s.dx, &dy = s.dy, &dz = s.dz, &dxc = s.dxc, &dyc = s.dyc, &dzc = s.dzc;

  s.iter = 0;
  double esp2 = s.esp;
  read_esp2(s);
  say(fmt::Line() << "esp esp2=" << s.esp << esp2);
  say(fmt::Line() << "ic2 ic3 sesp" << s.ic2 << s.ic3 << s.sesp);

  int nn2 = s.nn - s.ic2;
  if (nn2 <= 1) nn2 = 1;
  if (nn2 >= s.ic3) nn2 = s.ic3;
  const double rnc = std::pow(s.esp / s.sesp, 1.0 / (s.ic3 - 1));
  esp2 = s.sesp * std::pow(rnc, nn2 - 1);
  say(fmt::Line() << "nn   =" << s.nn);
  say(fmt::Line() << "nn2  =" << nn2);
  say(fmt::Line() << "rnc  =" << rnc);
  say(fmt::Line() << "sesp =" << s.sesp);
  say(fmt::Line() << "esp  =" << s.esp);
  say(fmt::Line() << "esp2 = " << esp2);

  double dm = 0;
  for (;;) {
    s.iter = s.iter + 1;
    if (s.iter > itmax) break;

    // scan, walked in memory order; ties go to the first cell of the
    // k-outer, i-inner order
    dm = 0;
    int li = 0, lj = 0, lk = 0;
    bool finite = true;
    for (int i = is; i <= ie - 1; ++i)
      for (int j = js; j <= je - 1; ++j)
        for (int k = ks; k <= ke - 1; ++k) {
          if (s.iflag(i, j, k) != 0) continue;
          const double D = (uu(i + 1, j, k) - uu(i, j, k)) / dx(i) + (vv(i, j + 1, k) - vv(i, j, k)) / dy(j) +
                           (ww(i, j, k + 1) - ww(i, j, k)) / dz(k);
          const double a = std::fabs(D);
          if (!std::isfinite(D)) finite = false;
          if (a > dm) {
            dm = a;
            li = i, lj = j, lk = k;
          } else if (a == dm && dm > 0 &&
                     (k < lk || (k == lk && (j < lj || (j == lj && i < li))))) {
            li = i, lj = j, lk = k;
          }
        }
    if (!finite) throw BlowUp{s.nn};
    if (dm < esp2) break;

    {
      TextWriter w("iter.dat", unit::iter, Mode::Unknown);
      w.line(fmt::I(s.iter, 10) + fmt::F(dm, 20, 10) + fmt::F(esp2, 20, 10) + fmt::I(s.ic2, 10));
      w.line(fmt::I(li, 5) + fmt::I(lj, 5) + fmt::I(lk, 5));
      w.close();
    }

    const double dt = s.dt, omg = s.omg;
    for (int i = is; i <= ie - 1; ++i)
      for (int j = js; j <= je - 1; ++j)
        for (int k = ks; k <= ke - 1; ++k) {
          double D = (uu(i + 1, j, k) - uu(i, j, k)) / dx(i) + (vv(i, j + 1, k) - vv(i, j, k)) / dy(j) +
                     (ww(i, j, k + 1) - ww(i, j, k)) / dz(k);
          const double c = 1 / (dxc(i) * dxc(i + 1)) + 1 / (dyc(j) * dyc(j + 1)) + 1 / (dzc(k) * dzc(k + 1));
          if (s.iflag(i, j, k) != 0) D = 0;
          const double dp = -omg * D / (2 * dt * c);
          if (std::fabs(D) >= esp2) pp(i, j, k) = pp(i, j, k) + dp;
          if (i != ie - 1) uu(i + 1, j, k) = uu(i + 1, j, k) + dp * dt / dxc(i + 1);
          uu(i, j, k) = uu(i, j, k) - dp * dt / dxc(i);
          vv(i, j + 1, k) = vv(i, j + 1, k) + dp * dt / dyc(j + 1);
          vv(i, j, k) = vv(i, j, k) - dp * dt / dyc(j);
          ww(i, j, k + 1) = ww(i, j, k + 1) + dp * dt / dzc(k + 1);
          ww(i, j, k) = ww(i, j, k) - dp * dt / dzc(k);
        }

    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je - 1; ++j) uu(is, j, k) = s.ub0(j, k);
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je; ++j) vv(is, j, k) = s.vb0(j, k);
    for (int k = ks; k <= ke; ++k)
      for (int j = js; j <= je - 1; ++j) ww(is, j, k) = s.wb0(j, k);

    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je - 1; ++j)
        for (int i = is; i <= ie - 1; ++i)
          if (s.iflag(i, j, k) != 0) {
            uu(i, j, k) = 0;
            uu(i + 1, j, k) = 0;
            vv(i, j, k) = 0;
            vv(i, j + 1, k) = 0;
            ww(i, j, k) = 0;
            ww(i, j, k + 1) = 0;
            pp(i, j, k) = 0;
          }
    if (s.izper != 0)
      for (int i = is; i <= ie - 1; ++i)
        for (int j = js; j <= je - 1; ++j) {
          ww(i, j, ks) = 0;
          ww(i, j, ke) = 0;
        }
  }
  say(fmt::Line() << "Iteration =" << s.iter);
  say(fmt::Line() << "esp , dm  =" << s.esp << dm);

  double r = 0;
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        r = std::max(r, uu(i, j, k) / dx(i));
        r = std::max(r, vv(i, j, k) / dy(j));
        r = std::max(r, ww(i, j, k) / dz(k));
      }
  r = std::max(1 / s.delm, r);
  dtmin = 1 / r;
  say(fmt::Line() << "max dt  =" << dtmin);

  s.iobu = 0;
  s.iobv = 1;
  s.iobw = 1;
  uvwbdy(s);
  prsbdy(s);
}

}  // namespace qv
