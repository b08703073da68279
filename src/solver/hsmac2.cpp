#include <cmath>
#include <vector>

#include "io/console.hpp"
#include "solver/solver.hpp"

namespace qv {
namespace {


}  // namespace

void correction_coefficients(const Store& s, std::vector<double>& cxy, std::vector<double>& cz) {
  // the x and y parts summed once per column, the z part per layer
  cxy.resize(static_cast<std::size_t>(s.flow.iflag.ni()) * s.flow.iflag.nj());
  cz.resize(static_cast<std::size_t>(s.flow.iflag.nk()) + 1);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      cxy[static_cast<std::size_t>(i) * s.flow.iflag.nj() + j - 1] =
          1 / (s.grid.dxc(i) * s.grid.dxc(i + 1)) + 1 / (s.grid.dyc(j) * s.grid.dyc(j + 1));
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    cz[static_cast<std::size_t>(k)] = 1 / (s.grid.dzc(k) * s.grid.dzc(k + 1));
}

// Divergence scan as defined: dm = max |D| over the fluid cells, k outer,
// j, i inner, the first largest keeping its location.  Returns false when
// a divergence is not finite.
bool divergence_scan_in_order(const Store& s, double& dm, int& li, int& lj, int& lk) {
  dm = 0;
  li = lj = lk = 0;
  bool finite = true;
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
        if (s.flow.iflag(i, j, k) != 0) continue;
        const double D = (s.flow.uu(i + 1, j, k) - s.flow.uu(i, j, k)) / s.grid.dx(i) +
                         (s.flow.vv(i, j + 1, k) - s.flow.vv(i, j, k)) / s.grid.dy(j) +
                         (s.flow.ww(i, j, k + 1) - s.flow.ww(i, j, k)) / s.grid.dz(k);
        if (!std::isfinite(D)) finite = false;
        if (std::fabs(D) > dm) {
          li = i, lj = j, lk = k;
          dm = std::fabs(D);
        }
      }
  return finite;
}

// The in-place correction sweep in its defining order: i outermost, then j,
// k innermost; every cell sees the faces already corrected before it.
void correction_sweep_in_order(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz) {
  auto &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww, &pp = s.flow.pp;
  const auto &dx = s.grid.dx, &dy = s.grid.dy, &dz = s.grid.dz, &dxc = s.grid.dxc, &dyc = s.grid.dyc, &dzc = s.grid.dzc;
  const double dt = s.run.dt, omg = s.run.omg;
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        double D = (uu(i + 1, j, k) - uu(i, j, k)) / dx(i) + (vv(i, j + 1, k) - vv(i, j, k)) / dy(j) +
                   (ww(i, j, k + 1) - ww(i, j, k)) / dz(k);
        // c, its x and y parts summed once per column (the same operations)
        const double c = cxy[static_cast<std::size_t>(i) * s.flow.iflag.nj() + j - 1] + cz[static_cast<std::size_t>(k)];
        if (s.flow.iflag(i, j, k) != 0) D = 0;
        const double dp = -omg * D / (2 * dt * c);
        if (std::fabs(D) >= esp2) pp(i, j, k) = pp(i, j, k) + dp;
        if (i != s.grid.ie - 1) uu(i + 1, j, k) = uu(i + 1, j, k) + dp * dt / dxc(i + 1);
        uu(i, j, k) = uu(i, j, k) - dp * dt / dxc(i);
        vv(i, j + 1, k) = vv(i, j + 1, k) + dp * dt / dyc(j + 1);
        vv(i, j, k) = vv(i, j, k) - dp * dt / dyc(j);
        ww(i, j, k + 1) = ww(i, j, k + 1) + dp * dt / dzc(k + 1);
        ww(i, j, k) = ww(i, j, k) - dp * dt / dzc(k);
      }
}

// What the sweep leaves to be put back: the inflow column, the body cells
// (faces and pressure to 0), the z walls.
void restore_after_sweep(Store& s) {
  const int is = s.grid.is, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) s.flow.uu(is, j, k) = s.flow.ub0(j, k);
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je; ++j) s.flow.vv(is, j, k) = s.flow.vb0(j, k);
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je - 1; ++j) s.flow.ww(is, j, k) = s.flow.wb0(j, k);

  // every write is a zero, so the list order does not matter
  for (const auto& [i, j, k] : s.work.work_body) {
    face_rule(s, i, j, k);
    s.flow.pp(i, j, k) = 0;
  }
  if (s.run.izper != 0)
    for (int i = is; i <= s.grid.ie - 1; ++i)
      for (int j = js; j <= je - 1; ++j) {
        s.flow.ww(i, j, ks) = 0;
        s.flow.ww(i, j, ke) = 0;
      }
}

// The interior body cells, and their rim: those that a sweep after the
// first restore can change.
//
// A sweep moves a face only through the two cells beside it, and a body
// cell moves none (its D is 0, so it adds a signed zero to each face and
// to nothing else, which leaves a +0 as it is).  Once the first restore of
// a call has cleared every body cell to +0, a later sweep can change only
// the faces a fluid cell of the sweep shares with a body cell, and the
// restore of the inflow column only faces at i = is.  So from the second
// pass on, clearing the body cells beside a swept fluid cell and those at
// i = is writes what clearing them all writes; the others hold +0 already.
void list_body_cells(Store& s) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  const auto& f = s.flow.iflag;
  auto fluid = [&](int i, int j, int k) {
    return i >= is && i <= ie - 1 && j >= js && j <= je - 1 && k >= ks && k <= ke - 1 && f(i, j, k) == 0;
  };
  std::size_t n = 0;
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) n += f(i, j, k) != 0;
  s.work.work_body.resize(n);
  s.work.work_body_rim.clear();
  n = 0;
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        if (f(i, j, k) == 0) continue;
        s.work.work_body[n++] = {i, j, k};
        if (i == is || fluid(i - 1, j, k) || fluid(i + 1, j, k) || fluid(i, j - 1, k) || fluid(i, j + 1, k) ||
            fluid(i, j, k - 1) || fluid(i, j, k + 1))
          s.work.work_body_rim.push_back({i, j, k});
      }
}

namespace {

// r = the largest of u/dx, v/dy, w/dz (signed) over the interior cells, body
// cells included.  A maximum does not depend on the order it is taken in,
// so the planes are divided among threads.
double largest_rate(const Store& s) {
  double r = 0;
#pragma omp parallel for reduction(max : r) schedule(static)
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        r = std::max(r, s.flow.uu(i, j, k) / s.grid.dx(i));
        r = std::max(r, s.flow.vv(i, j, k) / s.grid.dy(j));
        r = std::max(r, s.flow.ww(i, j, k) / s.grid.dz(k));
      }
  return r;
}

}  // namespace

// HSMAC pressure-velocity correction.
// 1. Tolerance ramp (the caller reads it from the tolerance file just before):
//    esp2 = sesp rnc^(nn2-1), falling from sesp to esp over ic3 steps after
//    step ic2.
// 2. Repeat until max|D| < esp2 (or kIterLimit): scan the divergence (k outer,
//    i inner, the first largest wins), hand the pass to the caller's report,
//    then one in-place sweep (i outer, k inner) that adds
//    dp = -omg D / (2 dt c) to the cell pressure (only where |D| >= esp2)
//    and moves the six faces; restore the inflow column, clear body cells,
//    z walls.
// 3. dtmin from the largest signed u/dx, v/dy, w/dz and delm.
// 4. Boundary values with the outflow uu kept: calls uvwbdy and prsbdy.
void hsmac2(Store& s, const ToleranceRamp& ramp, double& dtmin, StepReports& reports, OutflowSwitches& outflow) {
  s.run.iter = 0;
  double esp2 = s.run.esp;
  say(fmt::Line() << "esp esp2=" << s.run.esp << esp2);
  say(fmt::Line() << "ic2 ic3 sesp" << ramp.ic2 << ramp.ic3 << ramp.sesp);

  int nn2 = s.run.nn - ramp.ic2;
  if (nn2 <= 1) nn2 = 1;
  if (nn2 >= ramp.ic3) nn2 = ramp.ic3;
  const double rnc = std::pow(s.run.esp / ramp.sesp, 1.0 / (ramp.ic3 - 1));
  esp2 = ramp.sesp * std::pow(rnc, nn2 - 1);
  say(fmt::Line() << "nn   =" << s.run.nn);
  say(fmt::Line() << "nn2  =" << nn2);
  say(fmt::Line() << "rnc  =" << rnc);
  say(fmt::Line() << "sesp =" << ramp.sesp);
  say(fmt::Line() << "esp  =" << s.run.esp);
  say(fmt::Line() << "esp2 = " << esp2);

  std::vector<double>& cxy = s.work.work_cxy;
  std::vector<double>& cz = s.work.work_cz;
  correction_coefficients(s, cxy, cz);

  list_body_cells(s);
  // the passes run on the lane-order copies where the processor allows
  LaneFields& lanes = s.work.work_lanes;
  const bool in_lanes = lanes_usable(s);
  if (in_lanes) lanes.gather(s);
  double dm = 0;
  bool cleared = false;  // every body cell cleared by a restore of this call
  for (;;) {
    s.run.iter = s.run.iter + 1;
    if (s.run.iter > kIterLimit) break;

    int li = 0, lj = 0, lk = 0;
    const bool finite = in_lanes ? lanes_divergence_scan(lanes, s, dm, li, lj, lk) : divergence_scan(s, dm, li, lj, lk);
    if (!finite) {
      if (in_lanes) lanes.scatter(s);
      throw BlowUp{s.run.nn};
    }
    if (dm < esp2) break;

    reports.pressure_pass({s.run.iter, dm, esp2, ramp.ic2, li, lj, lk});

    if (in_lanes) {
      lanes_correction_sweep(lanes, s, esp2, cxy, cz);
      lanes_restore_after_sweep(lanes, s, cleared ? s.work.work_body_rim : s.work.work_body);
      cleared = true;
    } else {
      correction_sweep(s, esp2, cxy, cz);
      restore_after_sweep(s);
    }
  }
  if (in_lanes) lanes.scatter(s);
  say(fmt::Line() << "Iteration =" << s.run.iter);
  say(fmt::Line() << "esp , dm  =" << s.run.esp << dm);

  double r = largest_rate(s);
  r = std::max(1 / s.run.delm, r);
  dtmin = 1 / r;
  say(fmt::Line() << "max dt  =" << dtmin);

  outflow = kOutflowCorrectedU;
  uvwbdy(s, outflow);
  prsbdy(s);
}

}  // namespace qv
