#include "solver/solver.hpp"

namespace qv {

// Every loop below but the face rule updates each value from its own old
// value and values the loop does not write, so the planes i are shared
// among the threads.
void shift_history(Store& s) {
#pragma omp parallel for schedule(static)
  for (int i = s.is; i <= s.ie; ++i)
    for (int j = s.js; j <= s.je; ++j)
      for (int k = s.ks; k <= s.ke; ++k) {
        s.fu0(i, j, k) = s.fu(i, j, k);
        s.fv0(i, j, k) = s.fv(i, j, k);
        s.fw0(i, j, k) = s.fw(i, j, k);
      }
}

// Velocity prediction:
// 1-3. u += dt (0.5 (3 (f - acc - frame) - (f0 - acc0 - frame0)) - dp/dxc),
//      interior faces only (not the inflow and outflow faces);
// 4. z walls; 5. body faces 0; 6. inflow (calls inflow); 7. boundary values
//    with outflow copies (calls uvwbdy).
void advance_velocity(Store& s, const std::string& inputfile, StepReports& reports) {
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  const double dt = s.dt;
  auto &uu = s.uu, &vv = s.vv, &ww = s.ww;
  const auto& pp = s.pp;
#pragma omp parallel for schedule(static)
  for (int i = is + 1; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        uu(i, j, k) = uu(i, j, k) + dt * (0.5 * (3 * (s.fu(i, j, k) - s.xacc - s.fxn(i, j, k)) -
                                                 (s.fu0(i, j, k) - s.xacc0 - s.fxn0(i, j, k))) -
                                          (pp(i, j, k) - pp(i - 1, j, k)) / s.dxc(i));
#pragma omp parallel for schedule(static)
  for (int i = is + 1; i <= ie - 1; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke - 1; ++k)
        vv(i, j, k) = vv(i, j, k) + dt * (0.5 * (3 * (s.fv(i, j, k) - s.yacc - s.fyn(i, j, k)) -
                                                 (s.fv0(i, j, k) - s.yacc0 - s.fyn0(i, j, k))) -
                                          (pp(i, j, k) - pp(i, j - 1, k)) / s.dyc(j));
#pragma omp parallel for schedule(static)
  for (int i = is + 1; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke; ++k)
        ww(i, j, k) = ww(i, j, k) +
                      dt * (0.5 * (3 * s.fw(i, j, k) - s.fw0(i, j, k)) - (pp(i, j, k) - pp(i, j, k - 1)) / s.dzc(k));
  if (s.izper != 0)
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
        if (s.iflag(i, j, k) != 0) face_rule(s, i, j, k);
  inflow(s, inputfile, reports);
  s.outflow = kOutflowCopied;
  uvwbdy(s);
}

}  // namespace qv
