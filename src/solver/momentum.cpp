// Explicit momentum terms fu, fv, fw: minus the convective acceleration
// plus the viscous stress divergence with 1/Re + nut.
//
// Per velocity point (three sweeps fu, fv, fw; i outermost, k innermost):
// 1. both cells beside the point in the body: f = 0, nothing else;
// 2. rule A, then reflection groups B to G (ghosts inside the body);
// 3. body markers of the cross directions (2 = body on the low side);
// 4. convection: four-point upwind-biased derivative (the cubic through
//    four neighbours, weights from the coordinates), first-order upwind at
//    the ends and next to the body;
// 5. viscous term: (1/Re + nu) Laplacian + eddy-viscosity gradient terms,
//    with nut copied into body cells next to the fluid as it goes.
#include <algorithm>
#include <array>
#include <vector>

#include "solver/solver.hpp"

namespace qv {
namespace {

using Weights = std::array<double, 4>;

struct Axis {
  const Line* X;   // grid-line coordinates
  const Line* W;   // cell widths
  const Line* C;   // centre distances
  int lo, hi;      // first and last active index of the direction
  bool walls;      // non-periodic (y, z) or always (x)
  // own[m]: face points; cross[m]: cell centres.  [0] backward, [1] forward set.
  std::array<Weights, 2>* own;    // per index, in the store's work space
  std::array<Weights, 2>* cross;
};

// Signed distance s(a) - s(b) between points of one direction.
inline double face_diff(const Line& X, int a, int b) { return X(a) - X(b); }
inline double centre_diff(const Line& X, int a, int b) {
  if (a == b + 1) return (X(a + 1) - X(b)) * 0.5;
  if (b == a + 1) return (X(a) - X(b + 1)) * 0.5;
  return ((X(a) + X(a + 1)) - X(b) - X(b + 1)) * 0.5;
}

// Weights of the derivative at point c of the cubic through points
// first..first+3.
template <class Diff>
Weights cubic_weights(int c, int first, Diff diff) {
  Weights w{};
  for (int n = 0; n < 4; ++n) {
    const int pn = first + n;
    if (pn == c) {
      double sum = 0;
      for (int p = first; p < first + 4; ++p)
        if (p != c) sum = sum + 1 / diff(c, p);
      w[static_cast<std::size_t>(n)] = sum;
    } else {
      double num = 1, den = 1;
      bool firstnum = true, firstden = true;
      for (int p = first; p < first + 4; ++p) {
        if (p != pn && p != c) {
          num = firstnum ? diff(c, p) : num * diff(c, p);
          firstnum = false;
        }
        if (p != pn) {
          den = firstden ? diff(pn, p) : den * diff(pn, p);
          firstden = false;
        }
      }
      w[static_cast<std::size_t>(n)] = num / den;
    }
  }
  return w;
}

void build_weights(Axis& a, int last_own, int last_cross) {
  const Line& X = *a.X;
  auto fd = [&](int p, int q) { return face_diff(X, p, q); };
  auto cd = [&](int p, int q) { return centre_diff(X, p, q); };
  for (int m = a.lo; m <= last_own; ++m) {
    a.own[static_cast<std::size_t>(m)][0] = cubic_weights(m, m - 2, fd);
    a.own[static_cast<std::size_t>(m)][1] = cubic_weights(m, m - 1, fd);
  }
  for (int m = a.lo; m <= last_cross; ++m) {
    a.cross[static_cast<std::size_t>(m)][0] = cubic_weights(m, m - 2, cd);
    a.cross[static_cast<std::size_t>(m)][1] = cubic_weights(m, m - 1, cd);
  }
}

inline double apply(const Weights& w, double q0, double q1, double q2, double q3) {
  return w[0] * q0 + w[1] * q1 + w[2] * q2 + w[3] * q3;
}

struct Sweep {
  Store& s;
  Axis ax[3];
  Field* comp[3];

  explicit Sweep(Store& st) : s(st) {
    comp[0] = &s.uu;
    comp[1] = &s.vv;
    comp[2] = &s.ww;
    const std::size_t n = kMaxI + 1;
    Store::CubicWeights* w = s.work_weights.data();
    ax[0] = Axis{&s.x, &s.dx, &s.dxc, s.is, s.ie, true, w, w + n};
    ax[1] = Axis{&s.y, &s.dy, &s.dyc, s.js, s.je, s.iyper != 0, w + 2 * n, w + 3 * n};
    ax[2] = Axis{&s.z, &s.dz, &s.dzc, s.ks, s.ke, s.izper != 0, w + 4 * n, w + 5 * n};
    build_weights(ax[0], s.ie - 1, s.ie - 1);
    build_weights(ax[1], s.je, s.je - 1);
    build_weights(ax[2], s.ke, s.ke - 1);
  }

  template <int D>
  void run();
};

template <int D>
void Sweep::run() {
  Store& st = s;
  Field& q = *comp[D];
  Field& f = D == 0 ? st.fu : (D == 1 ? st.fv : st.fw);
  Field& nut = st.nut;
  const Flags& fl = st.iflag;
  const double rRe = 1 / st.Re;
  const int i2 = st.ie - 1;
  const int j2 = D == 1 ? st.je : st.je - 1;
  const int k2 = D == 2 ? st.ke : st.ke - 1;
  const Line& WD = *ax[D].W;
  const Line& CD = *ax[D].C;

  for (int i = st.is; i <= i2; ++i)
    for (int j = st.js; j <= j2; ++j)
      for (int k = st.ks; k <= k2; ++k) {
        const int m[3] = {i, j, k};
        int P[3] = {i, j, k};
        P[D] -= 1;
        const bool bQ = fl(i, j, k) != 0;
        const bool bP = fl(P[0], P[1], P[2]) != 0;
        if (bQ && bP) {
          f(i, j, k) = 0;
          continue;
        }
        // every ghost target lies within two cells of the point: far from
        // the body the rules have nothing to write
        if (st.near_body(i, j, k) != 0) {
          reflect_A(st, D, i, j, k);
          reflect_B(st, i, j, k);
          reflect_C(st, i, j, k);
          reflect_D(st, i, j, k);
          reflect_E(st, i, j, k);
          reflect_F(st, i, j, k);
          reflect_G(st, i, j, k);
        }

        // values of the swept component along each direction, m-2..m+2
        auto qa = [&](int c, int off) {
          int n[3] = {i, j, k};
          n[c] += off;
          return q(n[0], n[1], n[2]);
        };
        const double qc = q(i, j, k);

        // advecting velocities
        double a[3];
        a[D] = qc;
        for (int c = 0; c < 3; ++c) {
          if (c == D) continue;
          Field& w = *comp[c];
          int Qe[3] = {i, j, k}, Pe[3] = {P[0], P[1], P[2]};
          Qe[c] += 1;
          Pe[c] += 1;
          const double sq = w(i, j, k) + w(Qe[0], Qe[1], Qe[2]);
          const double sp = w(P[0], P[1], P[2]) + w(Pe[0], Pe[1], Pe[2]);
          a[c] = (sq * WD(m[D] - 1) + sp * WD(m[D])) / (WD(m[D] - 1) + WD(m[D])) * 0.5;
        }

        // convective derivatives
        double conv = 0;
        for (int c = 0; c < 3; ++c) {
          const Axis& A = ax[c];
          const int mc = m[c];
          bool back_fb, fwd_fb;
          double hm, hp;
          const Weights* wts;
          if (c == D) {
            back_fb = A.walls && mc == A.lo;
            fwd_fb = c == 0 ? mc == A.hi - 1 : (A.walls && mc == A.hi);
            hm = (*A.W)(mc - 1);
            hp = (*A.W)(mc);
            wts = A.own[static_cast<std::size_t>(mc)].data();
          } else {
            int mk = 0;
            int lo[3] = {i, j, k}, up[3] = {i, j, k};
            lo[c] -= 1;
            up[c] += 1;
            if (fl(lo[0], lo[1], lo[2]) != 0)
              mk = 2;
            else if (fl(up[0], up[1], up[2]) != 0)
              mk = 1;
            back_fb = mk == 2 || (A.walls && mc == A.lo);
            fwd_fb = mk == 1 || (A.walls && mc == A.hi - 1);
            hm = (*A.C)(mc);
            hp = (*A.C)(mc + 1);
            wts = A.cross[static_cast<std::size_t>(mc)].data();
          }
          double Dq;
          if (a[c] >= 0) {
            if (back_fb)
              Dq = (qc - qa(c, -1)) / hm;
            else
              Dq = apply(wts[0], qa(c, -2), qa(c, -1), qc, qa(c, 1));
          } else {
            if (fwd_fb)
              Dq = (qa(c, 1) - qc) / hp;
            else
              Dq = apply(wts[1], qa(c, -1), qc, qa(c, 1), qa(c, 2));
          }
          const double cc = a[c] * Dq;
          conv = c == 0 ? cc : conv + cc;
        }

        // viscous: first differences, Laplacian, central derivatives
        double lap = 0, g[3], od[3];
        for (int c = 0; c < 3; ++c) {
          const Axis& A = ax[c];
          const int mc = m[c];
          double dp, dm, div;
          if (c == D) {
            dp = (qa(c, 1) - qc) / (*A.W)(mc);
            dm = (qc - qa(c, -1)) / (*A.W)(mc - 1);
            div = (*A.C)(mc);
          } else {
            dp = (qa(c, 1) - qc) / (*A.C)(mc + 1);
            dm = (qc - qa(c, -1)) / (*A.C)(mc);
            div = ((*A.C)(mc) + (*A.C)(mc + 1)) / 2;
          }
          const double term = (dp - dm) / div;
          lap = c == 0 ? term : lap + term;
          g[c] = (dp + dm) * 0.5;
          // derivative along the own direction of the component c
          if (c != D) {
            Field& w = *comp[c];
            int Qe[3] = {i, j, k}, Pe[3] = {P[0], P[1], P[2]};
            Qe[c] += 1;
            Pe[c] += 1;
            od[c] = ((w(i, j, k) + w(Qe[0], Qe[1], Qe[2])) / 2 - (w(P[0], P[1], P[2]) + w(Pe[0], Pe[1], Pe[2])) / 2) /
                    CD(m[D]);
          } else {
            od[c] = 0;
          }
        }

        // eddy viscosity at the point and its gradient
        double& nQ = nut(i, j, k);
        double& nP = nut(P[0], P[1], P[2]);
        if (bQ && !bP) nQ = nP;
        if (bP && !bQ) nP = nQ;
        const double wP = WD(m[D]), wQ = WD(m[D] - 1), cD = CD(m[D]);
        const double nu = (nP * wP + nQ * wQ) / (cD * 2);
        double G[3];
        G[D] = (nQ - nP) / cD;
        for (int c = 0; c < 3; ++c) {
          if (c == D) continue;
          int Qp[3] = {i, j, k}, Qm[3] = {i, j, k}, Pp[3] = {P[0], P[1], P[2]}, Pm[3] = {P[0], P[1], P[2]};
          Qp[c] += 1;
          Qm[c] -= 1;
          Pp[c] += 1;
          Pm[c] -= 1;
          const bool bQp = fl(Qp[0], Qp[1], Qp[2]) != 0, bQm = fl(Qm[0], Qm[1], Qm[2]) != 0;
          const bool bPp = fl(Pp[0], Pp[1], Pp[2]) != 0, bPm = fl(Pm[0], Pm[1], Pm[2]) != 0;
          double& nQp = nut(Qp[0], Qp[1], Qp[2]);
          double& nQm = nut(Qm[0], Qm[1], Qm[2]);
          double& nPp = nut(Pp[0], Pp[1], Pp[2]);
          double& nPm = nut(Pm[0], Pm[1], Pm[2]);
          if (bQp && !bQ) nQp = nQ;
          if (bQm && !bQ) nQm = nQ;
          if (bPp && !bP) nPp = nP;
          if (bPm && !bP) nPm = nP;
          double np = (nPp * wP + nQp * wQ) / (cD * 2);
          double nm = (nPm * wP + nQm * wQ) / (cD * 2);
          if (bPp && !bQp) np = nQp;
          if (bQp && !bPp) np = nPp;
          if (bPm && !bQm) nm = nQm;
          if (bQm && !bPm) nm = nPm;
          if (bQp && bPp) {
            if (bQ && !bP) np = nP;
            if (bP && !bQ) np = nQ;
          }
          if (bQm && bPm) {
            if (bQ && !bP) nm = nP;
            if (bP && !bQ) nm = nQ;
          }
          const Line& Wc = *ax[c].W;
          const int mc = m[c];
          G[c] = (np - nm) / ((Wc(mc - 1) + Wc(mc + 1)) / 2 + Wc(mc));
        }

        double r = -conv + (rRe + nu) * lap;
        for (int c = 0; c < 3; ++c) {
          if (c == D)
            r = r + 2 * G[c] * g[c];
          else
            r = r + G[c] * (od[c] + g[c]);
        }
        f(i, j, k) = r;
      }
}

// near_body = 1 where a body cell lies within two cells in every direction
// (a 5 x 5 x 5 neighbourhood), by three one-dimensional passes.
void mark_near_body(Store& s) {
  Flags& n = s.near_body;
  const Flags& f = s.iflag;
  const int ni = f.ni(), nj = f.nj(), nk = f.nk();
  int line[kMaxI + 1];
  for (int i = 1; i <= ni; ++i)
    for (int j = 1; j <= nj; ++j)
      for (int k = 1; k <= nk; ++k) {
        int b = 0;
        for (int d = std::max(1, k - 2); d <= std::min(nk, k + 2); ++d) b |= f(i, j, d) != 0;
        n(i, j, k) = b;
      }
  for (int i = 1; i <= ni; ++i)
    for (int k = 1; k <= nk; ++k) {
      for (int j = 1; j <= nj; ++j) line[j] = n(i, j, k);
      for (int j = 1; j <= nj; ++j) {
        int b = 0;
        for (int d = std::max(1, j - 2); d <= std::min(nj, j + 2); ++d) b |= line[d];
        n(i, j, k) = b;
      }
    }
  for (int j = 1; j <= nj; ++j)
    for (int k = 1; k <= nk; ++k) {
      for (int i = 1; i <= ni; ++i) line[i] = n(i, j, k);
      for (int i = 1; i <= ni; ++i) {
        int b = 0;
        for (int d = std::max(1, i - 2); d <= std::min(ni, i + 2); ++d) b |= line[d];
        n(i, j, k) = b;
      }
    }
}

}  // namespace

void momentum_terms(Store& s) {
  mark_near_body(s);
  Sweep sw(s);
  sw.run<0>();
  sw.run<1>();
  sw.run<2>();
}

}  // namespace qv
