#include <cmath>

#include "body/body.hpp"
#include "io/console.hpp"

namespace qv {
namespace {

// Newmark-beta with velocity weight 1/2 of degree of freedom d, whose
// natural frequency is w, or the imposed start-up oscillation A sin(w t)
// while t < tfrc.
void newmark(Body& b, int d, const RunControl& run, double w) {
  const double dt = run.dt, beta = b.beta;
  const double F = b.pf[d], M = b.mass(d), K = b.kst[d], C = b.dmp[d], A = b.amp[d];
  b.dis0[d] = b.dis[d];
  b.vel0[d] = b.vel[d];
  b.acc0[d] = b.acc[d];
  const double dp = b.dis0[d], vp = b.vel0[d], ap = b.acc0[d];
  const double R = F - C * (vp + 0.5 * dt * ap) - K * (dp + dt * vp + (0.5 - beta) * (dt * dt) * ap);
  const double Meff = 0.5 * dt * C + M + beta * (dt * dt) * K;
  double a = R / Meff;
  double v = vp + 0.5 * dt * (ap + a);
  double x = dp + dt * vp + (0.5 - beta) * (dt * dt) * ap + beta * (dt * dt) * a;
  if (A != 0 && run.t < b.tfrc) {
    x = A * std::sin(w * run.t);
    v = w * A * std::cos(w * run.t);
    a = -(w * A * w) * std::sin(w * run.t);
  }
  b.dis[d] = x;
  b.vel[d] = v;
  b.acc[d] = a;
}

}  // namespace

// 1. natural frequencies; 2-3. per degree of freedom selected by ndof a
//    Newmark step (unselected ones are zeroed; ndof = 0 leaves all as is);
// 4. console line; 5. history sample every nsmp steps (false when the
//    history cannot grow for it); 6. first-step state;
// 7-8. frame terms of the rotating body frame at the uu and vv points.
bool calvib(Store& s) {
  Body& b = s.body;
  if (b.ndof != 0)
    for (int d = 0; d < kDofs; ++d) {
      if (moves(b.ndof, d))
        newmark(b, d, s.run, b.natural_frequency(d));
      else
        b.acc[d] = b.vel[d] = b.dis[d] = 0;
    }

  say("###   in calvib nn,pfx,pfy,pft =" + fmt::I(s.run.nn, 5) + fmt::F(b.pf.x, 10, 5) + fmt::F(b.pf.y, 10, 5) +
      fmt::F(b.pf.t, 10, 5));

  bool sampled = true;
  if (s.run.nn == b.nsnext) {
    b.nsnext += b.nsmp;
    sampled = history_room(b);
    if (sampled) {
      b.nsample += 1;
      const std::size_t n = static_cast<std::size_t>(b.nsample - 1);
      for (int d = 0; d < kDofs; ++d) {
        const std::size_t q = static_cast<std::size_t>(d);
        b.fhist[3 * n + q] = b.pf[d];
        b.bhist[9 * n + 3 * q] = b.acc[d];
        b.bhist[9 * n + 3 * q + 1] = b.vel[d];
        b.bhist[9 * n + 3 * q + 2] = b.dis[d];
      }
    }
  }

  if (s.run.nn == 1) {
    b.first_dis = b.dis;
    b.first_vel = b.vel;
  }

  // The state turns clockwise seen from +z (the sense of pft); the frame
  // terms are written for the counter-clockwise rate, hence the signs.
  // Every point is computed on its own (it reads the velocities and the
  // grid, and writes its own fxn0, fxn or fyn0, fyn), so the planes i are
  // shared among the threads, k innermost as the store lies.
  const double rate = -s.body.vel.t, racc = -s.body.acc.t;
  const auto &uu = s.flow.uu, &vv = s.flow.vv;
  const auto &dx = s.grid.dx, &dy = s.grid.dy, &x = s.grid.x, &y = s.grid.y;
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  auto& fxn = s.flow.fxn;
  auto& fyn = s.flow.fyn;
  auto& fxn0 = s.flow.fxn0;
  auto& fyn0 = s.flow.fyn0;
#pragma omp parallel
  {
#pragma omp for schedule(static) nowait
    for (int i = is; i <= ie; ++i)
      for (int j = js; j <= je - 1; ++j) {
        const double yc = 0.5 * (y(j) + y(j + 1));
        for (int k = ks; k <= ke - 1; ++k) {
          double vbar;
          if (i == is)
            vbar = 0.5 * (vv(i, j, k) + vv(i, j + 1, k));
          else if (i == ie)
            vbar = 0.5 * (vv(i - 1, j, k) + vv(i - 1, j + 1, k));
          else
            vbar = 0.5 *
                   ((vv(i, j, k) + vv(i, j + 1, k)) * dx(i - 1) + (vv(i - 1, j, k) + vv(i - 1, j + 1, k)) * dx(i)) /
                   (dx(i - 1) + dx(i));
          fxn0(i, j, k) = fxn(i, j, k);
          fxn(i, j, k) = -2 * rate * vbar - racc * yc - rate * rate * x(i);
        }
      }
#pragma omp for schedule(static)
    for (int i = is; i <= ie - 1; ++i) {
      const double xc = 0.5 * (x(i) + x(i + 1));
      for (int j = js; j <= je; ++j)
        for (int k = ks; k <= ke - 1; ++k) {
          double ubar;
          if (j == js)
            ubar = 0.5 * (uu(i, j, k) + uu(i + 1, j, k));
          else if (j == je)
            ubar = 0.5 * (uu(i, j - 1, k) + uu(i + 1, j - 1, k));
          else
            ubar = 0.5 *
                   ((uu(i, j, k) + uu(i + 1, j, k)) * dy(j - 1) + (uu(i, j - 1, k) + uu(i + 1, j - 1, k)) * dy(j)) /
                   (dy(j - 1) + dy(j));
          fyn0(i, j, k) = fyn(i, j, k);
          fyn(i, j, k) = 2 * rate * ubar + racc * xc - rate * rate * y(j);
        }
    }
  }
  return sampled;
}

}  // namespace qv
