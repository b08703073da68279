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
  const double rRe = 1 / st.Re;
  const int i2 = st.ie - 1;
  const int j2 = D == 1 ? st.je : st.je - 1;
  const int k2 = D == 2 ? st.ke : st.ke - 1;
  const Line& WD = *ax[D].W;
  const Line& CD = *ax[D].C;
  // every field shares the store's box, so one linear index and one set of
  // strides serve them all
  const std::ptrdiff_t sd[3] = {static_cast<std::ptrdiff_t>(q.stride_i()), static_cast<std::ptrdiff_t>(q.stride_j()),
                                1};
  const std::ptrdiff_t e = sd[D];
  const double* vel[3] = {comp[0]->data(), comp[1]->data(), comp[2]->data()};
  double* fd = f.data();
  double* nut = st.nut.data();
  const std::int32_t* fl = st.iflag.data();
  const std::int32_t* near = st.near_body.data();

  for (int i = st.is; i <= i2; ++i)
    for (int j = st.js; j <= j2; ++j)
      for (int k = st.ks; k <= k2; ++k) {
        const int m[3] = {i, j, k};
        const std::ptrdiff_t cQ = static_cast<std::ptrdiff_t>(q.index(i, j, k));
        const std::ptrdiff_t cP = cQ - e;
        const bool bQ = fl[cQ] != 0;
        const bool bP = fl[cP] != 0;
        if (bQ && bP) {
          fd[cQ] = 0;
          continue;
        }
        // every ghost target lies within two cells of the point: far from
        // the body the rules have nothing to write, and no flag around the
        // point is set
        const bool nb = near[cQ] != 0;
        if (nb) {
          reflect_A(st, D, i, j, k);
          reflect_B(st, i, j, k);
          reflect_C(st, i, j, k);
          reflect_D(st, i, j, k);
          reflect_E(st, i, j, k);
          reflect_F(st, i, j, k);
          reflect_G(st, i, j, k);
        }

        // values of the swept component along each direction, m-2..m+2
        const double* qp = vel[D] + cQ;
        auto qa = [&](int c, int off) { return qp[off * sd[c]]; };
        const double qc = qp[0];

        // advecting velocities
        double a[3];
        a[D] = qc;
        for (int c = 0; c < 3; ++c) {
          if (c == D) continue;
          const double* w = vel[c];
          const double sq = w[cQ] + w[cQ + sd[c]];
          const double sp = w[cP] + w[cP + sd[c]];
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
            if (nb) {
              if (fl[cQ - sd[c]] != 0)
                mk = 2;
              else if (fl[cQ + sd[c]] != 0)
                mk = 1;
            }
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
            const double* w = vel[c];
            od[c] = ((w[cQ] + w[cQ + sd[c]]) / 2 - (w[cP] + w[cP + sd[c]]) / 2) / CD(m[D]);
          } else {
            od[c] = 0;
          }
        }

        // eddy viscosity at the point and its gradient
        double& nQ = nut[cQ];
        double& nP = nut[cP];
        if (bQ && !bP) nQ = nP;
        if (bP && !bQ) nP = nQ;
        const double wP = WD(m[D]), wQ = WD(m[D] - 1), cD = CD(m[D]);
        const double nu = (nP * wP + nQ * wQ) / (cD * 2);
        double G[3];
        G[D] = (nQ - nP) / cD;
        for (int c = 0; c < 3; ++c) {
          if (c == D) continue;
          const std::ptrdiff_t ec = sd[c];
          double& nQp = nut[cQ + ec];
          double& nQm = nut[cQ - ec];
          double& nPp = nut[cP + ec];
          double& nPm = nut[cP - ec];
          double np, nm;
          if (!nb) {
            np = (nPp * wP + nQp * wQ) / (cD * 2);
            nm = (nPm * wP + nQm * wQ) / (cD * 2);
          } else {
            const bool bQp = fl[cQ + ec] != 0, bQm = fl[cQ - ec] != 0;
            const bool bPp = fl[cP + ec] != 0, bPm = fl[cP - ec] != 0;
            if (bQp && !bQ) nQp = nQ;
            if (bQm && !bQ) nQm = nQ;
            if (bPp && !bP) nPp = nP;
            if (bPm && !bP) nPm = nP;
            np = (nPp * wP + nQp * wQ) / (cD * 2);
            nm = (nPm * wP + nQm * wQ) / (cD * 2);
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
        fd[cQ] = r;
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
