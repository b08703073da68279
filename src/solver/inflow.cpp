#include <cmath>

#include "io/console.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

struct Polar {
  double phi, rho;
};
inline Polar polar(double X, double Y) { return {std::atan2(Y, X), std::sqrt(X * X + Y * Y)}; }

InflowProbe probe_row(const Store& s) {
  InflowProbe p;
  p.nn = s.run.nn;
  p.t = s.run.t;
  const int at[3] = {s.grid.is, s.grid.is + 2, s.grid.is + 5};
  for (int n = 0; n < 3; ++n) {
    p.u[n] = s.flow.uu.value_or_zero(at[n], kInflowProbeJ, kInflowProbeK);
    p.v[n] = s.flow.vv.value_or_zero(at[n], kInflowProbeJ, kInflowProbeK);
  }
  return p;
}

}  // namespace

// Inflow seen from the body frame:
// 1. uniform Vin (ghost column is-1 too); 2-3. minus the body velocity;
// 4. minus the rotation of the frame, omega x r about the grid origin;
// 5. at the first two steps of a fresh start, the whole field shifted by
//    the change of the body velocity;
// 6. boundary values (calls uvwbdy); 7. the inflow probe row, handed to the
//    caller's reports.
//
// The rotation state (tdis, tvel, tacc) is positive clockwise seen from +z,
// the sense of the moment on the body; the frame here turns the other way
// round, so the flow sees the angle -tdis at the rate -tvel.
void inflow(Store& s, const std::string& inputfile, StepReports& reports, const OutflowSwitches& outflow) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  auto &uu = s.flow.uu, &vv = s.flow.vv, &ww = s.flow.ww;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js - 1; j <= je; ++j) uu(is, j, k) = uu(is - 1, j, k) = s.flow.ub0(j, k) = s.run.Vin;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js - 1; j <= je + 1; ++j) vv(is, j, k) = vv(is - 1, j, k) = s.flow.vb0(j, k) = 0;
  for (int k = ks; k <= ke; ++k)
    for (int j = js - 1; j <= je; ++j) ww(is, j, k) = ww(is - 1, j, k) = s.flow.wb0(j, k) = 0;

  if (moves_x(s.body.ndof))
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js - 1; j <= je; ++j) {
        uu(is, j, k) = uu(is, j, k) - s.body.vel.x;
        s.flow.ub0(j, k) = s.flow.ub0(j, k) - s.body.vel.x;
      }
  if (moves_y(s.body.ndof))
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js - 1; j <= je + 1; ++j) {
        vv(is, j, k) = vv(is, j, k) - s.body.vel.y;
        s.flow.vb0(j, k) = s.flow.vb0(j, k) - s.body.vel.y;
      }

  const double ang = -s.body.dis.t;  // the frame's angle and rate, counter-clockwise
  const double rate = -s.body.vel.t;
  const auto &x = s.grid.x, &y = s.grid.y;
  if (moves_t(s.body.ndof)) {
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js - 1; j <= je; ++j) {
        const double yc = (y(j) + y(j + 1)) / 2;
        const Polar a = polar(x(is), yc);
        uu(is, j, k) = s.flow.ub0(j, k) + std::sin(ang + a.phi) * a.rho * rate;
        s.flow.ub0(j, k) = uu(is, j, k);
        const Polar b = polar(x(is - 1), yc);
        uu(is - 1, j, k) = uu(is - 1, j, k) + std::sin(ang + b.phi) * b.rho * rate;
      }
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js - 1; j <= je + 1; ++j) {
        const Polar a = polar((x(is) + x(is + 1)) / 2, y(j));
        vv(is, j, k) = s.flow.vb0(j, k) - std::cos(ang + a.phi) * a.rho * rate;
        s.flow.vb0(j, k) = vv(is, j, k);
        const Polar b = polar((x(is - 1) + x(is)) / 2, y(j));
        vv(is - 1, j, k) = vv(is - 1, j, k) - std::cos(ang + b.phi) * b.rho * rate;
      }
  }

  if (fresh_start(inputfile) && s.run.nn <= 2) {
    say(fmt::Line() << "#############################  " << inputfile << s.run.nn);
    if (moves_x(s.body.ndof))
      for (int k = ks; k <= ke - 1; ++k)
        for (int j = js; j <= je - 1; ++j)
          for (int i = is + 2; i <= ie + 1; ++i) uu(i, j, k) = uu(i, j, k) - (s.body.vel.x - s.body.vel0.x);
    if (moves_y(s.body.ndof))
      for (int k = ks; k <= ke - 1; ++k)
        for (int j = js; j <= je; ++j)
          for (int i = is + 1; i <= ie; ++i) vv(i, j, k) = vv(i, j, k) - (s.body.vel.y - s.body.vel0.y);
    const double drate = -(s.body.vel.t - s.body.vel0.t);
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je; ++j) {
        const double yc = (y(j) + y(j + 1)) / 2;
        for (int i = is + 1; i <= ie + 1; ++i) {
          const Polar a = polar(x(i), yc);
          uu(i, j, k) = uu(i, j, k) + std::sin(ang + a.phi) * a.rho * drate;
        }
      }
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je; ++j)
        for (int i = is + 1; i <= ie; ++i) {
          const Polar a = polar((x(i) + x(i + 1)) / 2, y(j));
          vv(i, j, k) = vv(i, j, k) - std::cos(ang + a.phi) * a.rho * drate;
        }
  }

  uvwbdy(s, outflow);
  reports.inflow_probe(probe_row(s));
}

}  // namespace qv
