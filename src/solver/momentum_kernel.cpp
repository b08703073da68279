// The explicit momentum terms as the program runs them.  They must equal,
// bit for bit, momentum_terms_in_order (momentum.cpp): every f, every
// ghost velocity and every nut copy.
//
// Each sweep (fu, then fv, then fw) runs in two phases:
// 1. the points near the body (a body cell within two cells of Q in every
//    direction), one after the other in the defining order, by the recipe
//    itself (mom::point);
// 2. all other points, eight k at a time (momentum_lanes.inc), the planes
//    i shared among the threads.  Phase 1 runs on one thread; the planes
//    far from the body in i start at once on the others, and the planes
//    close to it wait until phase 1 is done.
// Why this gives the same bits:
// - a point far from the body writes nothing but its own f: its rule A and
//   reflection targets all need a body cell within two cells, and its nut
//   copies a body cell beside the face;
// - the values it reads are fixed before phase 2 and equal what the
//   defining order would let it read.  Ghosts of groups B to G lie inside
//   the body, where its stencils never reach.  The one written value in
//   reach is its own component two faces below along the sweep (uu(i-2) of
//   fu), when the cell below that face is a body cell: rule A of the point
//   four cells below writes it, which comes earlier in the defining order
//   and is done in phase 1; no later point writes it.  nut is written only
//   in body cells, which it does not read;
// - the near points never read f, so they do not care that the far points
//   are done after them;
// - phase 1 writes only within two cells of a near point, so within four
//   of a body cell, and a far point of plane i reads planes i-2 to i+2:
//   a plane more than six planes from every body cell (kRemote keeps a
//   margin) reads nothing phase 1 writes, and may run beside it.
// Each f is written by one thread; no sum runs across points.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <omp.h>

#include <algorithm>
#include <cstdint>

#include "solver/momentum.hpp"
#include "solver/solver.hpp"

namespace qv {
namespace {

constexpr int kZ = kMaxK + 2;
// Planes this far in i from every body cell run beside phase 1.
constexpr int kRemote = 8;

// The z direction laid out for loads of eight k at a time.
struct ZLine {
  double w[2][2][4][kZ];  // four-point weights: [own, cross][set][n][k]
  double dz[kZ], dzc[kZ];
  double div_cross[kZ];  // (dzc(k) + dzc(k+1))/2
  double gden[kZ];       // (dz(k-1) + dz(k+1))/2 + dz(k)
};

// What the far points of one sweep read besides the fields' values.
struct Lanes {
  const double* vel[3];
  const double* nut;
  double* f;
  const std::int32_t* near;
  std::ptrdiff_t sd[3];
  const mom::Stencil* st;
  const ZLine* z;
  int is, ie, js, je, ks, ke;
  bool zwalls;
  double rRe;
};

// The x or y direction at the index mc of a column of sweep D: the values
// the recipe forms from the metrics, one per column.
struct Dir {
  double w[2][4];        // four-point weights, backward and forward set
  bool back, fwd;        // first-order fallback of the set
  double hm, hp;         // divisors of the first differences below and above
  double div;            // divisor of the second difference
  double gden;           // across the sweep: divisor of the nut gradient
  double wP, wQ, cD, wsum;  // along the sweep: widths of P and Q, centre distance, wQ + wP
};

template <int D, int C>
Dir direction(const Lanes& L, int mc) {
  const mom::Axis& A = L.st->ax[C];
  const Line &W = *A.W, &Cn = *A.C;
  Dir d{};
  const mom::WeightSets& w = C == D ? A.own[static_cast<std::size_t>(mc)] : A.cross[static_cast<std::size_t>(mc)];
  for (int n = 0; n < 4; ++n) {
    d.w[0][n] = w[0][static_cast<std::size_t>(n)];
    d.w[1][n] = w[1][static_cast<std::size_t>(n)];
  }
  if (C == D) {
    d.back = A.walls && mc == A.lo;
    d.fwd = C == 0 ? mc == A.hi - 1 : (A.walls && mc == A.hi);
    d.hm = W(mc - 1);
    d.hp = W(mc);
    d.div = Cn(mc);
    d.wP = W(mc);
    d.wQ = W(mc - 1);
    d.cD = Cn(mc);
    d.wsum = W(mc - 1) + W(mc);
  } else {
    d.back = A.walls && mc == A.lo;
    d.fwd = A.walls && mc == A.hi - 1;
    d.hm = Cn(mc);
    d.hp = Cn(mc + 1);
    d.div = (Cn(mc) + Cn(mc + 1)) / 2;
    d.gden = (W(mc - 1) + W(mc + 1)) / 2 + W(mc);
  }
  return d;
}

}  // namespace

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
#include "solver/momentum_lanes.inc"
}
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
#include "solver/momentum_lanes.inc"
}
#pragma GCC pop_options

namespace plain {
#include "solver/momentum_lanes.inc"
}

namespace {

// near_body = 1 where a body cell lies within two cells in every direction
// (the 5 x 5 x 5 neighbourhood clipped to the store): a dilation along k,
// then along j, then along i.  Each line is independent of the others.
void mark_near_body(Store& s) {
  const Flags& f = s.flow.iflag;
  const int ni = f.ni(), nj = f.nj(), nk = f.nk();
  const std::ptrdiff_t si = static_cast<std::ptrdiff_t>(f.stride_i()), sj = static_cast<std::ptrdiff_t>(f.stride_j());
  std::int32_t* nd = s.work.near_body.data();
  const std::int32_t* fd = f.data();
  // In place over count rows of nk values at stride st: each row becomes
  // the union of the rows from two below to two above (the two below
  // kept as they were).
  auto dilate_rows = [nk](std::int32_t* row, std::ptrdiff_t st, int count) {
    static const std::int32_t zero[kMaxK + 1] = {};
    std::int32_t ring[3][kMaxK + 1];
    const std::int32_t* below[2] = {zero, zero};
    for (int r = 0; r < count; ++r) {
      std::int32_t* p = row + r * st;
      std::int32_t* cur = ring[r % 3];
      std::copy(p, p + nk, cur);
      const std::int32_t* a1 = r + 1 < count ? p + st : zero;
      const std::int32_t* a2 = r + 2 < count ? p + 2 * st : zero;
      const std::int32_t *b0 = below[0], *b1 = below[1];
      for (int k = 0; k < nk; ++k) p[k] = b0[k] | b1[k] | cur[k] | a1[k] | a2[k];
      below[0] = below[1];
      below[1] = cur;
    }
  };
#pragma omp parallel
  {
#pragma omp for schedule(static)
    for (int i = 0; i < ni; ++i) {
      std::int32_t pad[kMaxK + 5] = {};
      for (int j = 0; j < nj; ++j) {
        const std::int32_t* col = fd + i * si + j * sj;
        std::int32_t* out = nd + i * si + j * sj;
        for (int k = 0; k < nk; ++k) pad[k + 2] = col[k] != 0;
        for (int k = 0; k < nk; ++k) out[k] = pad[k] | pad[k + 1] | pad[k + 2] | pad[k + 3] | pad[k + 4];
      }
    }
#pragma omp for schedule(static)
    for (int i = 0; i < ni; ++i) dilate_rows(nd + i * si, sj, nj);
#pragma omp for schedule(static)
    for (int j = 0; j < nj; ++j) dilate_rows(nd + j * sj, si, ni);
  }
}

template <int D>
void sweep(const mom::Stencil& st, const ZLine& z, const BodyBox& box, void (*plane)(const Lanes&, int)) {
  Store& s = st.s;
  const int j2 = D == 1 ? s.grid.je : s.grid.je - 1;
  const int k2 = D == 2 ? s.grid.ke : s.grid.ke - 1;
  const std::int32_t* near = s.work.near_body.data();
  Lanes L{};
  for (int c = 0; c < 3; ++c) {
    L.vel[c] = st.comp[c]->data();
    L.sd[c] = st.sd[c];
  }
  L.nut = s.flow.nut.data();
  L.f = (D == 0 ? s.flow.fu : (D == 1 ? s.flow.fv : s.flow.fw)).data();
  L.near = near;
  L.st = &st;
  L.z = &z;
  L.is = s.grid.is, L.ie = s.grid.ie, L.js = s.grid.js, L.je = s.grid.je, L.ks = s.grid.ks, L.ke = s.grid.ke;
  L.zwalls = s.run.izper != 0;
  L.rRe = 1 / s.run.Re;
  // the planes is..ie-1: those below lo and above hi are remote (all of
  // them when there is no body)
  const bool body = box.i0 <= box.i1;
  const int hi = body ? std::min(s.grid.ie - 1, box.i1 + kRemote) : s.grid.ie - 1;
  const int lo = body ? std::min(hi + 1, std::max(s.grid.is, box.i0 - kRemote)) : s.grid.ie;
  const int below = lo - s.grid.is, remote = below + (s.grid.ie - 1 - hi);
#pragma omp parallel
  {
    // 1. near the body, in the defining order, on one thread
#pragma omp masked
    for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
      for (int j = s.grid.js; j <= j2; ++j) {
        const std::int32_t* col = near + s.work.near_body.index(i, j, 1) - 1;
        for (int k = s.grid.ks; k <= k2; ++k)
          if (col[k] != 0) mom::point<D>(st, i, j, k);
      }
    // 2. the remote planes meanwhile, then the others
#pragma omp for schedule(dynamic)
    for (int n = 0; n < remote; ++n) plane(L, n < below ? s.grid.is + n : hi + 1 + (n - below));
#pragma omp for schedule(static)
    for (int i = lo; i <= hi; ++i) plane(L, i);
  }
}

}  // namespace

void momentum_terms(Store& s) {
  mom::momentum_terms_on(s, widest_isa());
}

void mom::momentum_terms_on(Store& s, Isa isa) {
  mark_near_body(s);
  const mom::Stencil st(s);
  ZLine z{};
  const mom::Axis& A = st.ax[2];
  for (int k = 1; k <= s.grid.ke + 1; ++k) {
    z.dz[k] = s.grid.dz(k);
    z.dzc[k] = s.grid.dzc(k);
  }
  for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
    for (int o = 0; o < 2; ++o) {
      const mom::WeightSets& w = o == 0 ? A.own[static_cast<std::size_t>(k)] : A.cross[static_cast<std::size_t>(k)];
      for (int set = 0; set < 2; ++set)
        for (int n = 0; n < 4; ++n) z.w[o][set][n][k] = w[static_cast<std::size_t>(set)][static_cast<std::size_t>(n)];
    }
    z.div_cross[k] = (s.grid.dzc(k) + s.grid.dzc(k + 1)) / 2;
    z.gden[k] = (s.grid.dz(k - 1) + s.grid.dz(k + 1)) / 2 + s.grid.dz(k);
  }
  const BodyBox box = body_box(s.flow.iflag);
  const bool wide = isa == mom::Isa::avx512, avx = isa == mom::Isa::avx2;
  sweep<0>(st, z, box, wide ? avx512::plane<0> : avx ? avx2::plane<0> : plain::plane<0>);
  sweep<1>(st, z, box, wide ? avx512::plane<1> : avx ? avx2::plane<1> : plain::plane<1>);
  sweep<2>(st, z, box, wide ? avx512::plane<2> : avx ? avx2::plane<2> : plain::plane<2>);
}

}  // namespace qv
