#include <cmath>

#include "body/body.hpp"
#include "io/console.hpp"

namespace qv {
namespace {

struct Dof {
  double &dis, &vel, &acc, &dis0, &vel0, &acc0;
  double F, M, K, C, A, w;
};

// Newmark-beta with velocity weight 1/2, or the imposed start-up
// oscillation A sin(w t) while t < tfrc.
void newmark(const Store& s, Dof d) {
  const double dt = s.dt, beta = s.beta;
  d.dis0 = d.dis;
  d.vel0 = d.vel;
  d.acc0 = d.acc;
  const double dp = d.dis0, vp = d.vel0, ap = d.acc0;
  const double R = d.F - d.C * (vp + 0.5 * dt * ap) - d.K * (dp + dt * vp + (0.5 - beta) * (dt * dt) * ap);
  const double Meff = 0.5 * dt * d.C + d.M + beta * (dt * dt) * d.K;
  double a = R / Meff;
  double v = vp + 0.5 * dt * (ap + a);
  double x = dp + dt * vp + (0.5 - beta) * (dt * dt) * ap + beta * (dt * dt) * a;
  if (d.A != 0 && s.t < s.tfrc) {
    x = d.A * std::sin(d.w * s.t);
    v = d.w * d.A * std::cos(d.w * s.t);
    a = -(d.w * d.A * d.w) * std::sin(d.w * s.t);
  }
  d.dis = x;
  d.vel = v;
  d.acc = a;
}

}  // namespace

// 1. natural frequencies; 2-3. per degree of freedom selected by ndof a
//    Newmark step (unselected ones are zeroed; ndof = 0 leaves all as is);
// 4. console line; 5. history sample every nsmp steps; 6. first-step state;
// 7-8. frame terms of the rotating body frame at the uu and vv points.
void calvib(Store& s) {
  const double wx = std::sqrt(s.xkst / s.amas);
  const double wy = std::sqrt(s.ykst / s.amas);
  const double wt = std::sqrt(s.tkst / s.aitm);

  if (s.ndof != 0) {
    if (moves_x(s.ndof))
      newmark(s, {s.xdis, s.xvel, s.xacc, s.xdis0, s.xvel0, s.xacc0, s.pfx, s.amas, s.xkst, s.xdmp, s.xamp, wx});
    else
      s.xacc = s.xvel = s.xdis = 0;
    if (moves_y(s.ndof))
      newmark(s, {s.ydis, s.yvel, s.yacc, s.ydis0, s.yvel0, s.yacc0, s.pfy, s.amas, s.ykst, s.ydmp, s.yamp, wy});
    else
      s.yacc = s.yvel = s.ydis = 0;
    if (moves_t(s.ndof))
      newmark(s, {s.tdis, s.tvel, s.tacc, s.tdis0, s.tvel0, s.tacc0, s.pft, s.aitm, s.tkst, s.tdmp, s.tamp, wt});
    else
      s.tacc = s.tvel = s.tdis = 0;
  }

  say("###   in calvib nn,pfx,pfy,pft =" + fmt::I(s.nn, 5) + fmt::F(s.pfx, 10, 5) + fmt::F(s.pfy, 10, 5) +
      fmt::F(s.pft, 10, 5));

  if (s.nn == s.nsnext) {
    s.nsnext += s.nsmp;
    if (history_room(s)) {
      s.nsample += 1;
      const std::size_t n = static_cast<std::size_t>(s.nsample - 1);
      const double f[3] = {s.pfx, s.pfy, s.pft};
      const double b[9] = {s.xacc, s.xvel, s.xdis, s.yacc, s.yvel, s.ydis, s.tacc, s.tvel, s.tdis};
      for (std::size_t q = 0; q < 3; ++q) s.fhist[3 * n + q] = f[q];
      for (std::size_t q = 0; q < 9; ++q) s.bhist[9 * n + q] = b[q];
    } else if (!s.history_full_warned) {
      s.history_full_warned = true;
      warn("the body history cannot grow beyond " + std::to_string(s.nsample) + " samples (step " +
           std::to_string(s.nn) + "); sampling stops");
    }
  }

  if (s.nn == 1) {
    s.first_dis[0] = s.xdis;
    s.first_dis[1] = s.ydis;
    s.first_dis[2] = s.tdis;
    s.first_vel[0] = s.xvel;
    s.first_vel[1] = s.yvel;
    s.first_vel[2] = s.tvel;
  }

  // The state turns clockwise seen from +z (the sense of pft); the frame
  // terms are written for the counter-clockwise rate, hence the signs.
  const double rate = -s.tvel, racc = -s.tacc;
  const auto &uu = s.uu, &vv = s.vv;
  const auto &dx = s.dx, &dy = s.dy, &x = s.x, &y = s.y;
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je - 1; ++j)
      for (int i = s.is; i <= s.ie; ++i) {
        double vbar;
        if (i == s.is)
          vbar = 0.5 * (vv(i, j, k) + vv(i, j + 1, k));
        else if (i == s.ie)
          vbar = 0.5 * (vv(i - 1, j, k) + vv(i - 1, j + 1, k));
        else
          vbar = 0.5 * ((vv(i, j, k) + vv(i, j + 1, k)) * dx(i - 1) + (vv(i - 1, j, k) + vv(i - 1, j + 1, k)) * dx(i)) /
                 (dx(i - 1) + dx(i));
        s.fxn0(i, j, k) = s.fxn(i, j, k);
        const double yc = 0.5 * (y(j) + y(j + 1));
        s.fxn(i, j, k) = -2 * rate * vbar - racc * yc - rate * rate * x(i);
      }
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = s.js; j <= s.je; ++j)
      for (int i = s.is; i <= s.ie - 1; ++i) {
        double ubar;
        if (j == s.js)
          ubar = 0.5 * (uu(i, j, k) + uu(i + 1, j, k));
        else if (j == s.je)
          ubar = 0.5 * (uu(i, j - 1, k) + uu(i + 1, j - 1, k));
        else
          ubar = 0.5 * ((uu(i, j, k) + uu(i + 1, j, k)) * dy(j - 1) + (uu(i, j - 1, k) + uu(i + 1, j - 1, k)) * dy(j)) /
                 (dy(j - 1) + dy(j));
        s.fyn0(i, j, k) = s.fyn(i, j, k);
        const double xc = 0.5 * (x(i) + x(i + 1));
        s.fyn(i, j, k) = 2 * rate * ubar + racc * xc - rate * rate * y(j);
      }
}

}  // namespace qv
