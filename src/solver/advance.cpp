#include "solver/solver.hpp"

namespace qv {

// Every loop below but the face rule updates each value from its own old
// value and values the loop does not write, so the planes i are shared
// among the threads.
void shift_history(Store& s) {
#pragma omp parallel for schedule(static)
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
        s.flow.fu0(i, j, k) = s.flow.fu(i, j, k);
        s.flow.fv0(i, j, k) = s.flow.fv(i, j, k);
        s.flow.fw0(i, j, k) = s.flow.fw(i, j, k);
      }
}

// Velocity prediction:
// 1-3. u += dt (0.5 (3 (f - acc - frame) - (f0 - acc0 - frame0)) - dp/dxc),
//      interior faces only (not the inflow and outflow faces);
// 4. z walls; 5. body faces 0; 6. inflow (calls inflow); 7. boundary values
//    with outflow copies (calls uvwbdy).
void advance_velocity(Store& s, const std::string& inputfile, StepReports& reports, OutflowSwitches& outflow) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  const double dt = s.run.dt;
  auto &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww;
  const auto& pp = s.flow.pp;
#pragma omp parallel for schedule(static)
  for (int i = is + 1; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        uu(i, j, k) = uu(i, j, k) + dt * (0.5 * (3 * (s.flow.fu(i, j, k) - s.body.acc.x - s.flow.fxn(i, j, k)) -
                                                 (s.flow.fu0(i, j, k) - s.body.acc0.x - s.flow.fxn0(i, j, k))) -
                                          (pp(i, j, k) - pp(i - 1, j, k)) / s.grid.dxc(i));
#pragma omp parallel for schedule(static)
  for (int i = is + 1; i <= ie - 1; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        vv(i, j, k) = vv(i, j, k) + dt * (0.5 * (3 * (s.flow.fv(i, j, k) - s.body.acc.y - s.flow.fyn(i, j, k)) -
                                                 (s.flow.fv0(i, j, k) - s.body.acc0.y - s.flow.fyn0(i, j, k))) -
                                          (pp(i, j, k) - pp(i, j - 1, k)) / s.grid.dyc(j));
#pragma omp parallel for schedule(static)
  for (int i = is + 1; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke; ++k)
        ww(i, j, k) = ww(i, j, k) + dt * (0.5 * (3 * s.flow.fw(i, j, k) - s.flow.fw0(i, j, k)) -
                                          (pp(i, j, k) - pp(i, j, k - 1)) / s.grid.dzc(k));
  if (s.run.izper != 0)
    for (int i = is; i <= ie - 1; ++i)
      for (int j = js; j <= je - 1; ++j) {
        ww(i, j, ks) = 0;
        ww(i, j, ke) = 0;
      }
  // the face rule writes only zeros, so it runs in memory order (k
  // fastest) rather than k outer, i inner: the same faces end at 0
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        if (s.flow.iflag(i, j, k) != 0) face_rule(s, i, j, k);
  inflow(s, inputfile, reports, outflow);
  outflow = kOutflowCopied;
  uvwbdy(s, outflow);
}

}  // namespace qv
