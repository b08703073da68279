// Tuned kernels of the pressure iteration.
//
// Each function here must equal, bit for bit, its plain version in
// hsmac2.cpp; tests/solver/test_sweep_order.cpp compares them field by field
// on stretched grids, and for several thread counts.
//
//   divergence_scan   == divergence_scan_in_order
//   correction_sweep  == correction_sweep_in_order
//
// Why the correction sweep can be reordered at all: a cell (i, j, k) reads
// and writes only its own pressure and its six faces, and each face belongs
// to two cells, the lower of which moves it first.  So any order in which
// every cell comes after its three lower neighbours (i-1, j-1, k-1) gives
// every cell exactly the inputs of the ordered sweep.  Two orders are used:
//
// - within a plane i, a wavefront over a group of G neighbouring columns:
//   column j0+g runs g layers behind column j0, so the G cells of one step
//   are independent and are computed side by side, lane g of a vector
//   holding column j0+g;
// - across planes, threads: plane i+1 may run group J once plane i has
//   finished group J (the u faces between the planes are then final for it).
//
// Every formula is evaluated per lane with the operations of the plain cell
// (no contraction), so only the order changes.  The eight-lane sweep and the
// scan take their quotients by grid metrics and by 2 dt c from reciprocals
// (quotient.hpp), which give the bits of the division; they divide when a
// divisor lies outside the range that allows it.
// GCC 12 flags the undefined source vector its own intrinsics pass to
// unmasked forms as "maybe uninitialized"; the value is never read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "solver/quotient.hpp"
#include "solver/solver.hpp"
#include "solver/tuned_support.hpp"

namespace qv {
namespace {

using tuned::dividend;
using tuned::over;

using tuned::have_avx512;
using tuned::Progress;
using tuned::reciprocals_usable;
using tuned::before;
using tuned::ScanResult;
using tuned::threads_for;

// ---------------------------------------------------------------------------
// Divergence scan

#define QV_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl")))

// The divergence of one column, layers ks..ke-1 (at least eight), into
// a[ks..ke-1], with the quotients taken from the reciprocals rdxi, rdyj and
// rdz[k].  Whole vectors only, the last one overlapping the one before it:
// on the development machine masked loads made this scan five times slower
// once the fields no longer fit the cache.
QV_AVX512 void divergence_column8(const double* uc, const double* ucp, const double* vc, const double* vcp,
                                  const double* wc, double dxi, double rdxi, double dyj, double rdyj,
                                  const double* dz, const double* rdz, int ks, int ke, double* a) {
  const __m512d bx = _mm512_set1_pd(dxi), yx = _mm512_set1_pd(rdxi);
  const __m512d by = _mm512_set1_pd(dyj), yy = _mm512_set1_pd(rdyj);
  for (int k = ks;; k += 8) {
    if (k + 7 > ke - 1) k = ke - 8;
    const __m512d du = _mm512_sub_pd(_mm512_loadu_pd(ucp + k), _mm512_loadu_pd(uc + k));
    const __m512d dv = _mm512_sub_pd(_mm512_loadu_pd(vcp + k), _mm512_loadu_pd(vc + k));
    const __m512d dw = _mm512_sub_pd(_mm512_loadu_pd(wc + k + 1), _mm512_loadu_pd(wc + k));
    const __m512d bz = _mm512_loadu_pd(dz + k), yz = _mm512_loadu_pd(rdz + k);
    const __m512d D = _mm512_add_pd(_mm512_add_pd(quotient::divide8(du, bx, yx), quotient::divide8(dv, by, yy)),
                                    quotient::divide8(dw, bz, yz));
    _mm512_storeu_pd(a + k, D);
    if (k + 7 >= ke - 1) break;
  }
}

// Scans planes i0..i1: the divergence of a column streams and vectorises,
// then its maximum; within a column the first k holding the column maximum
// competes, ties going to the smaller (k, j, i).  rdz: the reciprocals of dz
// for divergence_column8, or null to divide.
__attribute__((target_clones("avx512f", "avx2", "default"))) ScanResult scan_planes(const Store& s, int i0,
                                                                                     int i1, const double* rdz) {
  const std::size_t si = s.flow.uu.stride_i(), sj = s.flow.uu.stride_j();
  const double* __restrict u = s.flow.uu.data();
  const double* __restrict v = s.flow.vv.data();
  const double* __restrict w = s.flow.ww.data();
  const std::int32_t* __restrict fl = s.flow.iflag.data();
  const int ks = s.grid.ks, ke = s.grid.ke;
  const double* __restrict dz = s.grid.dz.data();
  alignas(64) double a[kMaxK + 8];
  ScanResult r;
  bool finite = true;
  for (int i = i0; i <= i1; ++i) {
    const double dxi = s.grid.dx(i), rdxi = 1 / dxi;
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) {
      const double dyj = s.grid.dy(j), rdyj = 1 / dyj;
      const std::size_t c0 = static_cast<std::size_t>(i - 1) * si + static_cast<std::size_t>(j - 1) * sj;
      const double* __restrict uc = u + c0 - 1;
      const double* __restrict ucp = u + c0 + si - 1;
      const double* __restrict vc = v + c0 - 1;
      const double* __restrict vcp = v + c0 + sj - 1;
      const double* __restrict wc = w + c0 - 1;
      const std::int32_t* __restrict fc = fl + c0 - 1;
      if (rdz)
        divergence_column8(uc, ucp, vc, vcp, wc, dxi, rdxi, dyj, rdyj, dz, rdz, ks, ke, a);
      else
        for (int k = ks; k <= ke - 1; ++k)
          a[k] = (ucp[k] - uc[k]) / dxi + (vcp[k] - vc[k]) / dyj + (wc[k + 1] - wc[k]) / dz[k];
      double cmax = 0;
      for (int k = ks; k <= ke - 1; ++k) {
        const double D = a[k];
        finite = finite && (fc[k] != 0 || D - D == 0);
        const double ad = fc[k] != 0 ? 0.0 : std::fabs(D);
        a[k] = ad;
        cmax = ad > cmax ? ad : cmax;
      }
      if (cmax < r.dm || cmax == 0) continue;
      int kf = ks;
      while (a[kf] != cmax) ++kf;
      if (cmax > r.dm || before(kf, j, i, r)) {
        r.dm = cmax;
        r.li = i, r.lj = j, r.lk = kf;
      }
    }
  }
  r.finite = finite;
  return r;
}

// ---------------------------------------------------------------------------
// Correction sweep: one cell, as in the ordered sweep

struct Sweep {
  std::size_t si, sj;
  double* __restrict u;
  double* __restrict v;
  double* __restrict w;
  double* __restrict p;
  const std::int32_t* __restrict fl;
  double dt, omg, esp2;
  const double* __restrict dz;
  const double* __restrict dzc;
  const double* __restrict cz;
  int ks, ke;
  bool exact;  // the eight-lane groups take quotients from reciprocals
};

struct Column {
  double dxi, dxc0, dxc1, dyj, dyc0, dyc1, cij;
  bool last;
  std::size_t c0;
  double rdxi, rdxc0, rdxc1, rdyj, rdyc0, rdyc1;  // their reciprocals
};

Column column(const Store& s, const std::vector<double>& cxy, int i, int j) {
  return {
      s.grid.dx(i),
      s.grid.dxc(i),
      s.grid.dxc(i + 1),
      s.grid.dy(j),
      s.grid.dyc(j),
      s.grid.dyc(j + 1),
      cxy[static_cast<std::size_t>(i) * s.flow.iflag.nj() + j - 1],
      i == s.grid.ie - 1,
      static_cast<std::size_t>(i - 1) * s.flow.uu.stride_i() + static_cast<std::size_t>(j - 1) * s.flow.uu.stride_j(),
      1 / s.grid.dx(i),
      1 / s.grid.dxc(i),
      1 / s.grid.dxc(i + 1),
      1 / s.grid.dy(j),
      1 / s.grid.dyc(j),
      1 / s.grid.dyc(j + 1)};
}

inline void cell(const Sweep& sw, const Column& col, int k) {
  const std::size_t si = sw.si, sj = sw.sj;
  double* __restrict u = sw.u;
  double* __restrict v = sw.v;
  double* __restrict w = sw.w;
  const std::size_t c = col.c0 + static_cast<std::size_t>(k - 1);
  double D = (u[c + si] - u[c]) / col.dxi + (v[c + sj] - v[c]) / col.dyj + (w[c + 1] - w[c]) / sw.dz[k];
  const double cc = col.cij + sw.cz[k];
  if (sw.fl[c] != 0) D = 0;
  const double dp = -sw.omg * D / (2 * sw.dt * cc);
  if (std::fabs(D) >= sw.esp2) sw.p[c] = sw.p[c] + dp;
  if (!col.last) u[c + si] = u[c + si] + dp * sw.dt / col.dxc1;
  u[c] = u[c] - dp * sw.dt / col.dxc0;
  v[c + sj] = v[c + sj] + dp * sw.dt / col.dyc1;
  v[c] = v[c] - dp * sw.dt / col.dyc0;
  w[c + 1] = w[c + 1] + dp * sw.dt / sw.dzc[k + 1];
  w[c] = w[c] - dp * sw.dt / sw.dzc[k];
}

void columns_in_order(const Sweep& sw, const Store& s, const std::vector<double>& cxy, int i, int j0, int j1) {
  for (int j = j0; j <= j1; ++j) {
    const Column col = column(s, cxy, i, j);
    for (int k = sw.ks; k <= sw.ke - 1; ++k) cell(sw, col, k);
  }
}

// ---------------------------------------------------------------------------
// Four columns as one vector of four (any x86-64 processor)

__attribute__((target_clones("avx2", "default"))) void group4_steady(const Sweep& sw, const Column* col, int k0,
                                                                      int k1) {
  constexpr int G = 4;
  const std::size_t si = sw.si, sj = sw.sj;
  typedef double v4 __attribute__((vector_size(32)));
  v4 vdxi, vdxc0, vdxc1, vdyj, vdyc0, vdyc1, vcij;
  for (int g = 0; g < G; ++g) {
    vdxi[g] = col[g].dxi;
    vdxc0[g] = col[g].dxc0;
    vdxc1[g] = col[g].dxc1;
    vdyj[g] = col[g].dyj;
    vdyc0[g] = col[g].dyc0;
    vdyc1[g] = col[g].dyc1;
    vcij[g] = col[g].cij;
  }
  const bool last = col[0].last;
  const v4 dt = {sw.dt, sw.dt, sw.dt, sw.dt};
  const v4 omg = {sw.omg, sw.omg, sw.omg, sw.omg};
  const v4 esp2 = {sw.esp2, sw.esp2, sw.esp2, sw.esp2};
  const v4 zero = {0, 0, 0, 0};
  const v4 two = {2, 2, 2, 2};
  for (int k = k0; k <= k1; ++k) {
    std::size_t c[G];
    v4 u0, u1, v0, v1, w0, w1, p0, body, dzk, dzc0k, dzc1k, czk;
    for (int g = 0; g < G; ++g) {
      const int kg = k - g;
      c[g] = col[g].c0 + static_cast<std::size_t>(kg - 1);
      u0[g] = sw.u[c[g]];
      u1[g] = sw.u[c[g] + si];
      v0[g] = sw.v[c[g]];
      v1[g] = sw.v[c[g] + sj];
      w0[g] = sw.w[c[g]];
      w1[g] = sw.w[c[g] + 1];
      p0[g] = sw.p[c[g]];
      body[g] = sw.fl[c[g]] != 0 ? 1.0 : 0.0;
      dzk[g] = sw.dz[kg];
      dzc0k[g] = sw.dzc[kg];
      dzc1k[g] = sw.dzc[kg + 1];
      czk[g] = sw.cz[kg];
    }
    v4 D = (u1 - u0) / vdxi + (v1 - v0) / vdyj + (w1 - w0) / dzk;
    const v4 cc = vcij + czk;
    D = body != zero ? zero : D;
    const v4 dp = -omg * D / (two * dt * cc);
    const v4 absD = D < zero ? -D : D;
    p0 = absD >= esp2 ? p0 + dp : p0;
    const v4 u1n = u1 + dp * dt / vdxc1;
    u1 = last ? u1 : u1n;
    u0 = u0 - dp * dt / vdxc0;
    v1 = v1 + dp * dt / vdyc1;
    v0 = v0 - dp * dt / vdyc0;
    w1 = w1 + dp * dt / dzc1k;
    w0 = w0 - dp * dt / dzc0k;
    for (int g = 0; g < G; ++g) {
      sw.p[c[g]] = p0[g];
      sw.u[c[g] + si] = u1[g];
      sw.u[c[g]] = u0[g];
      sw.v[c[g] + sj] = v1[g];
      sw.v[c[g]] = v0[g];
      sw.w[c[g] + 1] = w1[g];
      sw.w[c[g]] = w0[g];
    }
  }
}

// Columns j0..j0+3 of plane i: ramp in, all four busy, ramp out.
void group4(const Sweep& sw, const Store& s, const std::vector<double>& cxy, int i, int j0) {
  constexpr int G = 4;
  Column col[G];
  for (int g = 0; g < G; ++g) col[g] = column(s, cxy, i, j0 + g);
  const int ks = sw.ks, ke = sw.ke;
  for (int t = 0; t < G - 1; ++t)
    for (int g = 0; g <= t; ++g) cell(sw, col[g], ks + t - g);
  group4_steady(sw, col, ks + G - 1, ke - 1);
  for (int t = 1; t < G; ++t)
    for (int g = t; g < G; ++g) cell(sw, col[g], ke - 1 + t - g);
}

// ---------------------------------------------------------------------------
// Eight columns as one AVX-512 vector.
//
// The lanes of one step lie (nk - 1) apart in memory, so instead of
// gathering them, eight steps are taken at a time: each column's run of
// eight layers is one contiguous (masked) load, and an 8 x 8 transpose
// turns the eight runs into the eight steps' vectors, lane g of step e
// holding layer L0 + e - g of column j0 + g.  Results go back the same way.
// Masks keep every load and store inside the column's own layers, so no
// lane ever touches another column, another plane or a ghost value.
//
// Faces that pass between the cells of one block stay in registers:
// the w face below a cell is the w face above the cell the same lane did
// one step before, and the v face on the low side of lane g is the one
// lane g-1 moved one step before (lane 0 takes it from memory: the group
// to its left has finished).

QV_AVX512 inline void transpose8(__m512d r[8]) {
  const __m512i lo2 = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0);
  const __m512i hi2 = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  const __m512i lo4 = _mm512_set_epi64(11, 10, 9, 8, 3, 2, 1, 0);
  const __m512i hi4 = _mm512_set_epi64(15, 14, 13, 12, 7, 6, 5, 4);
  const __m512d t0 = _mm512_unpacklo_pd(r[0], r[1]), t1 = _mm512_unpackhi_pd(r[0], r[1]);
  const __m512d t2 = _mm512_unpacklo_pd(r[2], r[3]), t3 = _mm512_unpackhi_pd(r[2], r[3]);
  const __m512d t4 = _mm512_unpacklo_pd(r[4], r[5]), t5 = _mm512_unpackhi_pd(r[4], r[5]);
  const __m512d t6 = _mm512_unpacklo_pd(r[6], r[7]), t7 = _mm512_unpackhi_pd(r[6], r[7]);
  // rows 0-3 and 4-7 of elements {0,4}, {2,6}, {1,5}, {3,7}
  const __m512d s0 = _mm512_permutex2var_pd(t0, lo2, t2), s1 = _mm512_permutex2var_pd(t0, hi2, t2);
  const __m512d s2 = _mm512_permutex2var_pd(t1, lo2, t3), s3 = _mm512_permutex2var_pd(t1, hi2, t3);
  const __m512d s4 = _mm512_permutex2var_pd(t4, lo2, t6), s5 = _mm512_permutex2var_pd(t4, hi2, t6);
  const __m512d s6 = _mm512_permutex2var_pd(t5, lo2, t7), s7 = _mm512_permutex2var_pd(t5, hi2, t7);
  r[0] = _mm512_permutex2var_pd(s0, lo4, s4);
  r[4] = _mm512_permutex2var_pd(s0, hi4, s4);
  r[2] = _mm512_permutex2var_pd(s1, lo4, s5);
  r[6] = _mm512_permutex2var_pd(s1, hi4, s5);
  r[1] = _mm512_permutex2var_pd(s2, lo4, s6);
  r[5] = _mm512_permutex2var_pd(s2, hi4, s6);
  r[3] = _mm512_permutex2var_pd(s3, lo4, s7);
  r[7] = _mm512_permutex2var_pd(s3, hi4, s7);
}

// The per-step layer values of lane g (layer ks + t - g), padded with 1
// outside the column so that idle lanes compute nothing exceptional.
struct SkewTables {
  const double* dz;
  const double* dzc0;
  const double* dzc1;
  const double* cz;
  const double* rdz;  // the reciprocals of the first three
  const double* rdzc0;
  const double* rdzc1;
};

void fill_skew(const Sweep& sw, AlignedDoubles& buf, SkewTables& tab) {
  const int nk = sw.ke - sw.ks;
  const std::size_t nsteps = static_cast<std::size_t>(nk + 16);
  const std::size_t need = Scratch::kSkewTables * nsteps * 8;
  if (buf.size() < need) buf.resize(need);  // sized at start-up; a store made by hand may lack it
  std::fill(buf.begin(), buf.end(), 1.0);
  double* d[Scratch::kSkewTables];
  for (int n = 0; n < Scratch::kSkewTables; ++n) d[n] = buf.data() + n * nsteps * 8;
  for (std::size_t t = 0; t < nsteps; ++t)
    for (int g = 0; g < 8; ++g) {
      const int L = sw.ks + static_cast<int>(t) - g;
      if (L < sw.ks || L > sw.ke - 1) continue;
      d[0][t * 8 + g] = sw.dz[L];
      d[1][t * 8 + g] = sw.dzc[L];
      d[2][t * 8 + g] = sw.dzc[L + 1];
      d[3][t * 8 + g] = sw.cz[L];
      for (int n = 0; n < 3; ++n) d[4 + n][t * 8 + g] = 1 / d[n][t * 8 + g];
    }
  tab = {d[0], d[1], d[2], d[3], d[4], d[5], d[6]};
}

// Lanes active at step t: column g holds layer ks + t - g when
// 0 <= t - g <= nk - 1.
inline __mmask8 active_lanes(int t, int nk) {
  const unsigned lo = t >= 7 ? 0xFFu : (1u << (t + 1)) - 1u;
  const int h = t - nk + 1;
  const unsigned hi = h <= 0 ? 0xFFu : (h >= 8 ? 0u : (0xFFu << h) & 0xFFu);
  return static_cast<__mmask8>(lo & hi);
}

// Mask of the row of lane g that starts at layer L: layers kmin..kmax.
inline __mmask8 row_mask(int L, int kmin, int kmax) {
  const int a = std::max(kmin - L, 0), b = std::min(kmax - L, 7);
  if (a > b) return 0;
  return static_cast<__mmask8>(((1u << (b + 1)) - 1u) & ~((1u << a) - 1u));
}

// One group of eight columns in flight: its column values, the faces it
// carries from step to step, and the current block of eight steps.
struct Lanes8 {
  __m512d dxi, dxc0, dxc1, dyj, dyc0, dyc1, cij;
  __m512d rdxi, rdxc0, rdxc1, rdyj, rdyc0, rdyc1;
  bool last;
  std::ptrdiff_t c0[8];
  __m512d vcarry, wcarry;
  __mmask8 prev_active;
  __mmask8 mc[8], mw[8];
  __m512d U0[8], U1[8], V0[8], V1[8], W0[8], W1[8], P[8], F[8];
};

#define QV_AVX512_INLINE QV_AVX512 __attribute__((always_inline)) inline

QV_AVX512_INLINE void lanes_start(Lanes8& q, const Column* col) {
  // each column value, gathered over the eight columns into its vector
  static constexpr double Column::*from[] = {&Column::dxi,  &Column::dxc0,  &Column::dxc1,  &Column::dyj,
                                             &Column::dyc0, &Column::dyc1,  &Column::cij,   &Column::rdxi,
                                             &Column::rdxc0, &Column::rdxc1, &Column::rdyj, &Column::rdyc0,
                                             &Column::rdyc1};
  static constexpr __m512d Lanes8::*to[] = {&Lanes8::dxi,  &Lanes8::dxc0,  &Lanes8::dxc1,  &Lanes8::dyj,
                                            &Lanes8::dyc0, &Lanes8::dyc1,  &Lanes8::cij,   &Lanes8::rdxi,
                                            &Lanes8::rdxc0, &Lanes8::rdxc1, &Lanes8::rdyj, &Lanes8::rdyc0,
                                            &Lanes8::rdyc1};
  for (std::size_t n = 0; n < std::size(from); ++n) {
    double a[8];
    for (int g = 0; g < 8; ++g) a[g] = col[g].*from[n];
    q.*to[n] = _mm512_loadu_pd(a);
  }
  for (int g = 0; g < 8; ++g) q.c0[g] = static_cast<std::ptrdiff_t>(col[g].c0);
  q.last = col[0].last;
  q.vcarry = q.wcarry = _mm512_setzero_pd();
  q.prev_active = 0;
}

// Block of steps t0..t0+7: row g covers layers L0-g .. L0-g+7 of column j0+g.
QV_AVX512_INLINE void lanes_load(const Sweep& sw, Lanes8& q, int t0) {
  const int ks = sw.ks, ke = sw.ke;
  const std::ptrdiff_t si = static_cast<std::ptrdiff_t>(sw.si), sj = static_cast<std::ptrdiff_t>(sw.sj);
  const int L0 = ks + t0;
  for (int g = 0; g < 8; ++g) {
    const int L = L0 - g;
    q.mc[g] = row_mask(L, ks, ke - 1);
    q.mw[g] = row_mask(L, ks, ke);
    const std::ptrdiff_t c = q.c0[g] + (L - 1);
    // eight columns of seven arrays are more streams than the hardware
    // follows: fetch each row's line three blocks ahead
    constexpr std::ptrdiff_t ahead = 24;
    _mm_prefetch(reinterpret_cast<const char*>(sw.u + c + ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(sw.u + c + si + ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(sw.v + c + ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(sw.w + c + ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(sw.p + c + ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(sw.fl + c + ahead), _MM_HINT_T0);
    if (q.mc[g] == 0xFF && q.mw[g] == 0xFF) {
      q.U0[g] = _mm512_loadu_pd(sw.u + c);
      q.U1[g] = _mm512_loadu_pd(sw.u + c + si);
      q.V0[g] = _mm512_loadu_pd(sw.v + c);
      q.V1[g] = _mm512_loadu_pd(sw.v + c + sj);
      q.W0[g] = _mm512_loadu_pd(sw.w + c);
      q.W1[g] = _mm512_loadu_pd(sw.w + c + 1);
      q.P[g] = _mm512_loadu_pd(sw.p + c);
      q.F[g] = _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sw.fl + c)));
      continue;
    }
    q.U0[g] = _mm512_maskz_loadu_pd(q.mc[g], sw.u + c);
    q.U1[g] = _mm512_maskz_loadu_pd(q.mc[g], sw.u + c + si);
    q.V0[g] = _mm512_maskz_loadu_pd(q.mc[g], sw.v + c);
    q.V1[g] = _mm512_maskz_loadu_pd(q.mc[g], sw.v + c + sj);
    q.W0[g] = _mm512_maskz_loadu_pd(q.mw[g], sw.w + c);
    q.W1[g] = _mm512_maskz_loadu_pd(q.mc[g], sw.w + c + 1);
    q.P[g] = _mm512_maskz_loadu_pd(q.mc[g], sw.p + c);
    q.F[g] = _mm512_cvtepi32_pd(_mm256_maskz_loadu_epi32(q.mc[g], sw.fl + c));
  }
  transpose8(q.U0);
  transpose8(q.U1);
  transpose8(q.V0);
  transpose8(q.V1);
  transpose8(q.W0);
  transpose8(q.W1);
  transpose8(q.P);
  transpose8(q.F);
}


// Step t = t0 + e: the eight cells of the step, each as the ordered sweep's cell.
template <bool Exact>
QV_AVX512_INLINE void lanes_step(const Sweep& sw, const SkewTables& tab, Lanes8& q, int t, int e) {
  const int nk = sw.ke - sw.ks;
  const __m512d dt = _mm512_set1_pd(sw.dt), esp2 = _mm512_set1_pd(sw.esp2);
  const __m512d sign = _mm512_set1_pd(-0.0);
  const __m512d negomg = _mm512_xor_pd(_mm512_set1_pd(sw.omg), sign);  // -omg
  const __m512d twodt = _mm512_mul_pd(_mm512_set1_pd(2.0), dt);         // 2 * dt
  const __m512d zero = _mm512_setzero_pd();
  const __m512i up1 = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 0);  // lane g takes lane g-1

  const __mmask8 act = active_lanes(t, nk);
  const __m512d dz = _mm512_loadu_pd(tab.dz + 8 * t);
  const __m512d dzc0 = _mm512_loadu_pd(tab.dzc0 + 8 * t);
  const __m512d dzc1 = _mm512_loadu_pd(tab.dzc1 + 8 * t);
  const __m512d czk = _mm512_loadu_pd(tab.cz + 8 * t);
  const __m512d rdz = _mm512_loadu_pd(tab.rdz + 8 * t);
  const __m512d rdzc0 = _mm512_loadu_pd(tab.rdzc0 + 8 * t);
  const __m512d rdzc1 = _mm512_loadu_pd(tab.rdzc1 + 8 * t);
  const __m512d u0 = q.U0[e], u1 = q.U1[e], v1 = q.V1[e], w1 = q.W1[e], p0 = q.P[e];
  // v face on the low side: lane 0 from memory, lane g from lane g-1's last step
  const __m512d v0 = _mm512_mask_blend_pd(0xFE, q.V0[e], _mm512_permutexvar_pd(up1, q.vcarry));
  // w face below: from this lane's last step where it was active
  const __m512d w0 = _mm512_mask_blend_pd(q.prev_active, q.W0[e], q.wcarry);
  __m512d D = _mm512_add_pd(_mm512_add_pd(over<Exact>(dividend<Exact>(_mm512_sub_pd(u1, u0)), q.dxi, q.rdxi),
                                          over<Exact>(dividend<Exact>(_mm512_sub_pd(v1, v0)), q.dyj, q.rdyj)),
                            over<Exact>(dividend<Exact>(_mm512_sub_pd(w1, w0)), dz, rdz));
  const __m512d cc = _mm512_add_pd(q.cij, czk);
  const __mmask8 body = _mm512_cmp_pd_mask(q.F[e], zero, _CMP_NEQ_UQ);
  D = _mm512_mask_blend_pd(body, D, zero);
  // dp = -omg * D / (2 * dt * cc); the reciprocal of 2 dt cc, off the chain
  // through D, is the one division left
  const __m512d den = _mm512_mul_pd(twodt, cc);
  const __m512d rden = Exact ? _mm512_div_pd(_mm512_set1_pd(1.0), den) : den;
  const __m512d dp = over<Exact>(dividend<Exact>(_mm512_mul_pd(negomg, D)), den, rden);
  const __m512d absD = _mm512_andnot_pd(sign, D);
  const __mmask8 big = _mm512_cmp_pd_mask(absD, esp2, _CMP_GE_OQ);
  const quotient::Dividend8 dpdt = dividend<Exact>(_mm512_mul_pd(dp, dt));
  const __m512d w1n = _mm512_add_pd(w1, over<Exact>(dpdt, dzc1, rdzc1));
  const __m512d v1n = _mm512_add_pd(v1, over<Exact>(dpdt, q.dyc1, q.rdyc1));
  q.U1[e] = q.last ? u1 : _mm512_add_pd(u1, over<Exact>(dpdt, q.dxc1, q.rdxc1));
  q.U0[e] = _mm512_sub_pd(u0, over<Exact>(dpdt, q.dxc0, q.rdxc0));
  q.V0[e] = _mm512_sub_pd(v0, over<Exact>(dpdt, q.dyc0, q.rdyc0));
  q.V1[e] = v1n;
  // an idle lane just past its top cell stores the top face it carries
  q.W0[e] = _mm512_mask_blend_pd(act, w0, _mm512_sub_pd(w0, over<Exact>(dpdt, dzc0, rdzc0)));
  q.P[e] = _mm512_mask_blend_pd(big, p0, _mm512_add_pd(p0, dp));
  q.vcarry = v1n;
  q.wcarry = w1n;
  q.prev_active = act;
}

QV_AVX512_INLINE void lanes_store(const Sweep& sw, Lanes8& q, int t0) {
  const std::ptrdiff_t si = static_cast<std::ptrdiff_t>(sw.si), sj = static_cast<std::ptrdiff_t>(sw.sj);
  const int L0 = sw.ks + t0;
  transpose8(q.U0);
  if (!q.last) transpose8(q.U1);
  transpose8(q.V0);
  transpose8(q.V1);
  transpose8(q.W0);
  transpose8(q.P);
  for (int g = 0; g < 8; ++g) {
    const std::ptrdiff_t c = q.c0[g] + (L0 - g - 1);
    if (q.mc[g] == 0xFF && q.mw[g] == 0xFF) {
      _mm512_storeu_pd(sw.p + c, q.P[g]);
      if (!q.last) _mm512_storeu_pd(sw.u + c + si, q.U1[g]);
      _mm512_storeu_pd(sw.u + c, q.U0[g]);
      _mm512_storeu_pd(sw.v + c, q.V0[g]);
      _mm512_storeu_pd(sw.w + c, q.W0[g]);
      continue;
    }
    _mm512_mask_storeu_pd(sw.p + c, q.mc[g], q.P[g]);
    if (!q.last) _mm512_mask_storeu_pd(sw.u + c + si, q.mc[g], q.U1[g]);
    _mm512_mask_storeu_pd(sw.u + c, q.mc[g], q.U0[g]);
    _mm512_mask_storeu_pd(sw.v + c, q.mc[g], q.V0[g]);
    _mm512_mask_storeu_pd(sw.w + c, q.mw[g], q.W0[g]);
  }
  // the v faces above the group's last column wait in memory for the next group
  _mm512_mask_storeu_pd(sw.v + q.c0[7] + sj + (L0 - 7 - 1), q.mc[7], q.V1[7]);
}

// N independent groups (from neighbouring planes) side by side, so that
// one group's chain of dependent divisions overlaps the other's.
template <int N, bool Exact>
QV_AVX512 void groups8(const Sweep& sw, const SkewTables& tab, const Column* const* cols) {
  Lanes8 q[N];
  for (int n = 0; n < N; ++n) lanes_start(q[n], cols[n]);
  const int nsteps = sw.ke - sw.ks + 8;  // up to the top w face of the last lane
  for (int t0 = 0; t0 < nsteps; t0 += 8) {
    for (int n = 0; n < N; ++n) lanes_load(sw, q[n], t0);
    for (int e = 0; e < 8; ++e)
      for (int n = 0; n < N; ++n) lanes_step<Exact>(sw, tab, q[n], t0 + e, e);
    for (int n = 0; n < N; ++n) lanes_store(sw, q[n], t0);
  }
}

// ---------------------------------------------------------------------------
// One plane, group by group, each group after the same group of the plane
// before it.

struct PlaneWork {
  const Store& s;
  const Sweep& sw;
  const std::vector<double>& cxy;
  const SkewTables& tab;
  int G;        // columns per group (8, 4, or 1 for the ordered walk)
  int ngroups;  // full groups; the rest of the columns form one more
  int* progress;
};


void group(const PlaneWork& pw, int i, int J) {
  const Store& s = pw.s;
  const int j0 = s.grid.js + J * pw.G;
  if (pw.G == 8) {
    Column col[8];
    for (int g = 0; g < 8; ++g) col[g] = column(s, pw.cxy, i, j0 + g);
    const Column* one[1] = {col};
    if (pw.sw.exact)
      groups8<1, true>(pw.sw, pw.tab, one);
    else
      groups8<1, false>(pw.sw, pw.tab, one);
  } else if (pw.G == 4) {
    group4(pw.sw, s, pw.cxy, i, j0);
  } else {
    columns_in_order(pw.sw, s, pw.cxy, i, j0, j0 + pw.G - 1);
  }
}

void leftover_columns(const PlaneWork& pw, int i) {
  columns_in_order(pw.sw, pw.s, pw.cxy, i, pw.s.grid.js + pw.ngroups * pw.G, pw.s.grid.je - 1);
}

void sweep_plane(const PlaneWork& pw, int i, bool wait) {
  const Progress pr{pw.progress};
  for (int J = 0; J < pw.ngroups; ++J) {
    pr.wait(i, J + 1, wait);
    group(pw, i, J);
    pr.done(i, J + 1);
  }
  pr.wait(i, pw.ngroups + 1, wait);
  leftover_columns(pw, i);
  pr.done(i, pw.ngroups + 1);
}

// Planes a and b = a + 1 with eight-column groups: group J + 1 of plane a
// runs side by side with group J of plane b, which it no longer touches.
void sweep_two_planes(const PlaneWork& pw, int a, bool wait) {
  const Progress pr{pw.progress};
  const int b = a + 1, ng = pw.ngroups;
  const Store& s = pw.s;
  pr.wait(a, 1, wait);
  group(pw, a, 0);
  pr.done(a, 1);
  for (int J = 0; J + 1 < ng; ++J) {
    pr.wait(a, J + 2, wait);
    Column ca[8], cb[8];
    for (int g = 0; g < 8; ++g) {
      ca[g] = column(s, pw.cxy, a, s.grid.js + (J + 1) * 8 + g);
      cb[g] = column(s, pw.cxy, b, s.grid.js + J * 8 + g);
    }
    const Column* two[2] = {ca, cb};
    if (pw.sw.exact)
      groups8<2, true>(pw.sw, pw.tab, two);
    else
      groups8<2, false>(pw.sw, pw.tab, two);
    pr.done(a, J + 2);
    pr.done(b, J + 1);
  }
  pr.wait(a, ng + 1, wait);
  leftover_columns(pw, a);
  pr.done(a, ng + 1);
  group(pw, b, ng - 1);
  pr.done(b, ng);
  leftover_columns(pw, b);
  pr.done(b, ng + 1);
}


}  // namespace

// ---------------------------------------------------------------------------

bool divergence_scan(const Store& s, double& dm, int& li, int& lj, int& lk, bool divider) {
  const int n = s.grid.ie - s.grid.is;
  alignas(64) double rdz_buf[kMaxK + 8];
  const double* rdz = nullptr;
  if (!divider && s.grid.ke <= kMaxK && s.grid.ke - s.grid.ks >= 8 && reciprocals_usable(s)) {
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) rdz_buf[k] = 1 / s.grid.dz(k);
    rdz = rdz_buf;
  }
  const int T = threads_for(static_cast<double>(n) * (s.grid.je - s.grid.js) * (s.grid.ke - s.grid.ks), n);
  ScanResult part[64];
  const int nt = std::min(T, 64);
#pragma omp parallel for num_threads(nt) schedule(static, 1)
  for (int t = 0; t < nt; ++t) {
    const int i0 = s.grid.is + n * t / nt, i1 = s.grid.is + n * (t + 1) / nt - 1;
    part[t] = i0 <= i1 ? scan_planes(s, i0, i1, rdz) : ScanResult{};
  }
  // the first largest over all planes, in scan order
  const ScanResult r = tuned::first_largest(part, nt);
  dm = r.dm;
  li = r.li, lj = r.lj, lk = r.lk;
  return r.finite;
}

void correction_sweep(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz,
                      int group, bool divider) {
  const bool exact = !divider && reciprocals_usable(s, &cxy, &cz);
  const Sweep sw{s.flow.uu.stride_i(),
                 s.flow.uu.stride_j(),
                 s.flow.uu.data(),
                 s.flow.vv.data(),
                 s.flow.ww.data(),
                 s.flow.pp.data(),
                 s.flow.iflag.data(),
                 s.run.dt,
                 s.run.omg,
                 esp2,
                 s.grid.dz.data(),
                 s.grid.dzc.data(),
                 cz.data(),
                 s.grid.ks,
                 s.grid.ke,
                 exact};
  const int nk = s.grid.ke - s.grid.ks, ncol = s.grid.je - s.grid.js;
  int G = group;
  if (G == 0) G = have_avx512() ? 8 : 4;
  if (G == 8 && !have_avx512()) G = 4;
  // a group needs at least as many layers as columns (and the eight-lane
  // blocks a few more, so a row's layers stay within its column)
  if ((G == 8 && nk < 16) || (G == 4 && nk < 4)) G = 1;
  SkewTables tab{};
  if (G == 8) fill_skew(sw, s.work.work_skew, tab);
  if (s.work.work_progress.size() < static_cast<std::size_t>(s.grid.ie) + 1)
    s.work.work_progress.resize(static_cast<std::size_t>(s.grid.ie) + 1);
  std::fill(s.work.work_progress.begin(), s.work.work_progress.end(), 0);
  const PlaneWork pw{s, sw, cxy, tab, G, G > 1 ? ncol / G : ncol, s.work.work_progress.data()};

  // units of work: planes, or pairs of planes for the eight-column groups
  const int np = s.grid.ie - s.grid.is;
  const int P = G == 8 && pw.ngroups >= 1 ? 2 : 1;
  const int nunits = (np + P - 1) / P;
  auto unit = [&](int u, bool wait) {
    const int a = s.grid.is + u * P;
    if (P == 2 && a + 1 <= s.grid.ie - 1)
      sweep_two_planes(pw, a, wait);
    else
      for (int i = a; i <= std::min(a + P - 1, s.grid.ie - 1); ++i) sweep_plane(pw, i, wait);
  };
  const int T = threads_for(static_cast<double>(np) * ncol * nk, nunits);
  if (T == 1) {
    for (int u = 0; u < nunits; ++u) unit(u, false);
    return;
  }
#pragma omp parallel num_threads(T)
  {
    const int t = omp_get_thread_num();
    for (int u = t; u < nunits; u += T) unit(u, u > 0);
  }
}

}  // namespace qv
