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
//
// This file is the recipe, one point after the other in the defining
// order.  The program runs the tuned kernel of momentum_kernel.cpp, which
// gives the same bits.
#include "solver/momentum.hpp"

#include "solver/solver.hpp"

namespace qv::mom {
namespace {

// Signed distance s(a) - s(b) between points of one direction: face
// points, or cell centres formed as half-sums of face coordinates.
inline double face_diff(const Line& X, int a, int b) { return X(a) - X(b); }
inline double centre_diff(const Line& X, int a, int b) {
  if (a == b + 1) return (X(a + 1) - X(b)) * 0.5;
  if (b == a + 1) return (X(a) - X(b + 1)) * 0.5;
  return ((X(a) + X(a + 1)) - X(b) - X(b + 1)) * 0.5;
}

// Weights of the derivative at point c of the cubic through points
// first..first+3: for a point n other than c, the product of (s(c) - s(p))
// over the two other points over the product of (s(n) - s(p)) over the
// three points p != n; for c itself, the sum of 1/(s(c) - s(p)).
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

void build_weights(const Line& X, WeightSets* own, WeightSets* cross, int lo, int last_own, int last_cross) {
  auto fd = [&](int p, int q) { return face_diff(X, p, q); };
  auto cd = [&](int p, int q) { return centre_diff(X, p, q); };
  for (int m = lo; m <= last_own; ++m) {
    own[static_cast<std::size_t>(m)][0] = cubic_weights(m, m - 2, fd);
    own[static_cast<std::size_t>(m)][1] = cubic_weights(m, m - 1, fd);
  }
  for (int m = lo; m <= last_cross; ++m) {
    cross[static_cast<std::size_t>(m)][0] = cubic_weights(m, m - 2, cd);
    cross[static_cast<std::size_t>(m)][1] = cubic_weights(m, m - 1, cd);
  }
}

inline double apply(const Weights& w, double q0, double q1, double q2, double q3) {
  return w[0] * q0 + w[1] * q1 + w[2] * q2 + w[3] * q3;
}

// Velocity along the swept component's direction c: the cell-centre
// value of component c (its two faces summed: sq in Q, sp in P),
// interpolated linearly to the face between P and Q; wQ, wP are the widths
// of P and Q (each weights the other cell).
inline double advecting_velocity(double sq, double sp, double wQ, double wP) {
  return (sq * wQ + sp * wP) / (wQ + wP) * 0.5;
}

// Convective derivative along one direction for the advecting velocity
// a: the cubic through the four points on the upwind-biased side, or the
// first-order upwind difference (dm backward, dp forward) at the ends and
// beside the body.  q[0..4] are the values at m-2..m+2.
inline double upwind_derivative(double a, const WeightSets& w, bool back_fallback, bool fwd_fallback, double dm,
                                double dp, const double q[5]) {
  if (a >= 0) return back_fallback ? dm : apply(w[0], q[0], q[1], q[2], q[3]);
  return fwd_fallback ? dp : apply(w[1], q[1], q[2], q[3], q[4]);
}

// Eddy viscosity interpolated to the face between P and Q (weights: the
// width of the other cell, over twice the centre distance).
inline double face_viscosity(double nP, double nQ, double wP, double wQ, double cD) {
  return (nP * wP + nQ * wQ) / (cD * 2);
}

// The eddy viscosity beside the body.  A body cell next to a fluid cell
// takes that cell's viscosity, and the copy stays in nut; a neighbour
// value interpolated across a pair with a body cell is replaced by a
// fluid value.  So no viscosity from inside the body enters the face
// value or the gradients.  For the face between P and Q:
// 1. along the sweep: Q in the body takes nut(P), P in the body nut(Q);
struct Beside {
  double* nut;
  const std::int32_t* fl;
  std::ptrdiff_t cQ, cP;
  bool bQ, bP;
};
inline void copy_into_body_along(const Beside& b) {
  if (b.bQ && !b.bP) b.nut[b.cQ] = b.nut[b.cP];
  if (b.bP && !b.bQ) b.nut[b.cP] = b.nut[b.cQ];
}
// 2. across it, for the neighbours at +e and -e (stride ec) of Q and P:
//    a. body neighbours of a fluid Q or P take its viscosity, in the order
//       Q+e, Q-e, P+e, P-e;
//    b. n+ and n- are interpolated between the P and Q columns like nu;
//    c. a neighbour pair with one body cell gives its fluid cell's value;
//    d. a pair with two body cells gives the value of the fluid one of P
//       and Q (the face then lies on the body surface).
inline void neighbour_viscosity(const Beside& b, std::ptrdiff_t ec, double wP, double wQ, double cD, double& np,
                                double& nm) {
  double* nut = b.nut;
  const std::int32_t* fl = b.fl;
  double& nQ = nut[b.cQ];
  double& nP = nut[b.cP];
  double& nQp = nut[b.cQ + ec];
  double& nQm = nut[b.cQ - ec];
  double& nPp = nut[b.cP + ec];
  double& nPm = nut[b.cP - ec];
  const bool bQ = b.bQ, bP = b.bP;
  const bool bQp = fl[b.cQ + ec] != 0, bQm = fl[b.cQ - ec] != 0;
  const bool bPp = fl[b.cP + ec] != 0, bPm = fl[b.cP - ec] != 0;
  if (bQp && !bQ) nQp = nQ;
  if (bQm && !bQ) nQm = nQ;
  if (bPp && !bP) nPp = nP;
  if (bPm && !bP) nPm = nP;
  np = face_viscosity(nPp, nQp, wP, wQ, cD);
  nm = face_viscosity(nPm, nQm, wP, wQ, cD);
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

}  // namespace

Stencil::Stencil(Store& st) : s(st) {
  comp[0] = &s.flow.uu;
  comp[1] = &s.flow.vv;
  comp[2] = &s.flow.ww;
  sd[0] = static_cast<std::ptrdiff_t>(s.flow.uu.stride_i());
  sd[1] = static_cast<std::ptrdiff_t>(s.flow.uu.stride_j());
  sd[2] = 1;
  const std::size_t n = kMaxI + 1;
  WeightSets* w = s.work.work_weights.data();
  build_weights(s.grid.x, w, w + n, s.grid.is, s.grid.ie - 1, s.grid.ie - 1);
  build_weights(s.grid.y, w + 2 * n, w + 3 * n, s.grid.js, s.grid.je, s.grid.je - 1);
  build_weights(s.grid.z, w + 4 * n, w + 5 * n, s.grid.ks, s.grid.ke, s.grid.ke - 1);
  ax[0] = Axis{&s.grid.x, &s.grid.dx, &s.grid.dxc, s.grid.is, s.grid.ie, true, w, w + n};
  ax[1] = Axis{&s.grid.y, &s.grid.dy, &s.grid.dyc, s.grid.js, s.grid.je, s.run.iyper != 0, w + 2 * n, w + 3 * n};
  ax[2] = Axis{&s.grid.z, &s.grid.dz, &s.grid.dzc, s.grid.ks, s.grid.ke, s.run.izper != 0, w + 4 * n, w + 5 * n};
}

template <int D>
void point(const Stencil& st, int i, int j, int k) {
  Store& s = st.s;
  const std::ptrdiff_t* sd = st.sd;
  const double* vel[3] = {st.comp[0]->data(), st.comp[1]->data(), st.comp[2]->data()};
  double* f = (D == 0 ? s.flow.fu : (D == 1 ? s.flow.fv : s.flow.fw)).data();
  const std::int32_t* fl = s.flow.iflag.data();
  const int m[3] = {i, j, k};
  const Line& WD = *st.ax[D].W;
  const Line& CD = *st.ax[D].C;
  const std::ptrdiff_t cQ = static_cast<std::ptrdiff_t>(s.flow.uu.index(i, j, k));
  const std::ptrdiff_t cP = cQ - sd[D];
  const bool bQ = fl[cQ] != 0, bP = fl[cP] != 0;

  // 1. a face inside the body
  if (bQ && bP) {
    f[cQ] = 0;
    return;
  }
  // 2. ghosts inside the body
  reflect_A(s, D, i, j, k);
  for (int c = 0; c < 3; ++c)
    for (int depth = 1; depth <= 2; ++depth) reflect(s, c, depth, i, j, k);

  // values of the swept component along each direction, m-2..m+2, read
  // after the ghost writes
  const double* qp = vel[D] + cQ;
  double q[3][5];
  for (int c = 0; c < 3; ++c)
    for (int o = -2; o <= 2; ++o) q[c][o + 2] = qp[o * sd[c]];
  const double qc = q[0][2];

  // cell-centre sums of the other components in Q and P
  double sq[3], sp[3];
  for (int c = 0; c < 3; ++c) {
    if (c == D) continue;
    sq[c] = vel[c][cQ] + vel[c][cQ + sd[c]];
    sp[c] = vel[c][cP] + vel[c][cP + sd[c]];
  }

  double conv = 0, lap = 0, g[3], od[3];
  for (int c = 0; c < 3; ++c) {
    const Axis& A = st.ax[c];
    const int mc = m[c];
    // 3. body marker of a cross direction: 2 body below, 1 body above only
    int marker = 0;
    if (c != D) {
      if (fl[cQ - sd[c]] != 0)
        marker = 2;
      else if (fl[cQ + sd[c]] != 0)
        marker = 1;
    }
    // first differences (also the first-order upwind differences), the
    // divisor of the second difference, ends of the four-point stencil
    double dp, dm, div;
    bool back_fallback, fwd_fallback;
    const WeightSets* w;
    if (c == D) {
      dp = (q[c][3] - qc) / (*A.W)(mc);
      dm = (qc - q[c][1]) / (*A.W)(mc - 1);
      div = (*A.C)(mc);
      back_fallback = A.walls && mc == A.lo;
      fwd_fallback = c == 0 ? mc == A.hi - 1 : (A.walls && mc == A.hi);
      w = &A.own[static_cast<std::size_t>(mc)];
    } else {
      dp = (q[c][3] - qc) / (*A.C)(mc + 1);
      dm = (qc - q[c][1]) / (*A.C)(mc);
      div = ((*A.C)(mc) + (*A.C)(mc + 1)) / 2;
      back_fallback = marker == 2 || (A.walls && mc == A.lo);
      fwd_fallback = marker == 1 || (A.walls && mc == A.hi - 1);
      w = &A.cross[static_cast<std::size_t>(mc)];
    }
    // 4. convection a * dq/dc
    const double a = c == D ? qc : advecting_velocity(sq[c], sp[c], WD(m[D] - 1), WD(m[D]));
    const double cc = a * upwind_derivative(a, *w, back_fallback, fwd_fallback, dm, dp, q[c]);
    conv = c == 0 ? cc : conv + cc;
    // 5. Laplacian, central derivative of the swept component along c,
    //    derivative of component c along the sweep
    const double term = (dp - dm) / div;
    lap = c == 0 ? term : lap + term;
    g[c] = (dp + dm) * 0.5;
    od[c] = c == D ? 0 : (sq[c] / 2 - sp[c] / 2) / CD(m[D]);
  }

  // eddy viscosity at the face (nu) and its gradient G
  const Beside b{s.flow.nut.data(), fl, cQ, cP, bQ, bP};
  copy_into_body_along(b);
  const double wP = WD(m[D]), wQ = WD(m[D] - 1), cD = CD(m[D]);
  const double nP = b.nut[cP], nQ = b.nut[cQ];
  const double nu = face_viscosity(nP, nQ, wP, wQ, cD);
  double G[3];
  G[D] = (nQ - nP) / cD;
  for (int c = 0; c < 3; ++c) {
    if (c == D) continue;
    double np, nm;
    neighbour_viscosity(b, sd[c], wP, wQ, cD, np, nm);
    const Line& Wc = *st.ax[c].W;
    const int mc = m[c];
    G[c] = (np - nm) / ((Wc(mc - 1) + Wc(mc + 1)) / 2 + Wc(mc));  // centres of the cells mc-1, mc+1
  }

  // -convection + (1/Re + nu) Lap + 2 G_D g_D + sum over the cross
  // directions of G_c (dq_c/dD + dq/dc)
  double r = -conv + (1 / s.run.Re + nu) * lap;
  for (int c = 0; c < 3; ++c) {
    if (c == D)
      r = r + 2 * G[c] * g[c];
    else
      r = r + G[c] * (od[c] + g[c]);
  }
  f[cQ] = r;
}

template void point<0>(const Stencil&, int, int, int);
template void point<1>(const Stencil&, int, int, int);
template void point<2>(const Stencil&, int, int, int);

}  // namespace qv::mom

namespace qv {

void momentum_terms_in_order(Store& s) {
  const mom::Stencil st(s);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) mom::point<0>(st, i, j, k);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) mom::point<1>(st, i, j, k);
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) mom::point<2>(st, i, j, k);
}

}  // namespace qv
