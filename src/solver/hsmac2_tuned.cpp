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
// (no contraction, no reciprocal), so only the order changes.
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

#include "solver/solver.hpp"

namespace qv {
namespace {

// ---------------------------------------------------------------------------
// Divergence scan

struct ScanResult {
  double dm = 0;
  int li = 0, lj = 0, lk = 0;
  bool finite = true;
};

// True when (k, j, i) comes first in the scan's k-outer, i-inner order.
inline bool before(int k, int j, int i, const ScanResult& r) {
  return k < r.lk || (k == r.lk && (j < r.lj || (j == r.lj && i < r.li)));
}

// Scans planes i0..i1: the divergence of a column streams and vectorises,
// then its maximum; within a column the first k holding the column maximum
// competes, ties going to the smaller (k, j, i).
__attribute__((target_clones("avx512f", "avx2", "default"))) ScanResult scan_planes(const Store& s, int i0,
                                                                                     int i1) {
  const std::size_t si = s.uu.stride_i(), sj = s.uu.stride_j();
  const double* __restrict u = s.uu.data();
  const double* __restrict v = s.vv.data();
  const double* __restrict w = s.ww.data();
  const std::int32_t* __restrict fl = s.iflag.data();
  const int ks = s.ks, ke = s.ke;
  const double* __restrict dz = s.dz.data();
  alignas(64) double a[kMaxK + 8];
  ScanResult r;
  bool finite = true;
  for (int i = i0; i <= i1; ++i) {
    const double dxi = s.dx(i);
    for (int j = s.js; j <= s.je - 1; ++j) {
      const double dyj = s.dy(j);
      const std::size_t c0 = static_cast<std::size_t>(i - 1) * si + static_cast<std::size_t>(j - 1) * sj;
      const double* __restrict uc = u + c0 - 1;
      const double* __restrict ucp = u + c0 + si - 1;
      const double* __restrict vc = v + c0 - 1;
      const double* __restrict vcp = v + c0 + sj - 1;
      const double* __restrict wc = w + c0 - 1;
      const std::int32_t* __restrict fc = fl + c0 - 1;
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
};

struct Column {
  double dxi, dxc0, dxc1, dyj, dyc0, dyc1, cij;
  bool last;
  std::size_t c0;
};

Column column(const Store& s, const std::vector<double>& cxy, int i, int j) {
  return {s.dx(i),
          s.dxc(i),
          s.dxc(i + 1),
          s.dy(j),
          s.dyc(j),
          s.dyc(j + 1),
          cxy[static_cast<std::size_t>(i) * s.iflag.nj() + j - 1],
          i == s.ie - 1,
          static_cast<std::size_t>(i - 1) * s.uu.stride_i() + static_cast<std::size_t>(j - 1) * s.uu.stride_j()};
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

#define QV_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl")))

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
};

void fill_skew(const Sweep& sw, std::vector<double>& buf, SkewTables& tab) {
  const int nk = sw.ke - sw.ks;
  const std::size_t nsteps = static_cast<std::size_t>(nk + 16);
  const std::size_t need = 4 * nsteps * 8;
  if (buf.size() < need) buf.resize(need);  // sized at start-up; a store made by hand may lack it
  std::fill(buf.begin(), buf.end(), 1.0);
  double* d[4] = {buf.data(), buf.data() + nsteps * 8, buf.data() + 2 * nsteps * 8, buf.data() + 3 * nsteps * 8};
  for (std::size_t t = 0; t < nsteps; ++t)
    for (int g = 0; g < 8; ++g) {
      const int L = sw.ks + static_cast<int>(t) - g;
      if (L < sw.ks || L > sw.ke - 1) continue;
      d[0][t * 8 + g] = sw.dz[L];
      d[1][t * 8 + g] = sw.dzc[L];
      d[2][t * 8 + g] = sw.dzc[L + 1];
      d[3][t * 8 + g] = sw.cz[L];
    }
  tab = {d[0], d[1], d[2], d[3]};
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

QV_AVX512 void group8(const Sweep& sw, const SkewTables& tab, const Column* col) {
  const int ks = sw.ks, ke = sw.ke, nk = ke - ks;
  const std::ptrdiff_t si = static_cast<std::ptrdiff_t>(sw.si), sj = static_cast<std::ptrdiff_t>(sw.sj);
  double dxi[8], dxc0[8], dxc1[8], dyj[8], dyc0[8], dyc1[8], cij[8];
  for (int g = 0; g < 8; ++g) {
    dxi[g] = col[g].dxi;
    dxc0[g] = col[g].dxc0;
    dxc1[g] = col[g].dxc1;
    dyj[g] = col[g].dyj;
    dyc0[g] = col[g].dyc0;
    dyc1[g] = col[g].dyc1;
    cij[g] = col[g].cij;
  }
  const __m512d vdxi = _mm512_loadu_pd(dxi), vdxc0 = _mm512_loadu_pd(dxc0), vdxc1 = _mm512_loadu_pd(dxc1);
  const __m512d vdyj = _mm512_loadu_pd(dyj), vdyc0 = _mm512_loadu_pd(dyc0), vdyc1 = _mm512_loadu_pd(dyc1);
  const __m512d vcij = _mm512_loadu_pd(cij);
  const bool last = col[0].last;
  const __m512d dt = _mm512_set1_pd(sw.dt), omg = _mm512_set1_pd(sw.omg), esp2 = _mm512_set1_pd(sw.esp2);
  const __m512d two = _mm512_set1_pd(2.0);
  const __m512d zero = _mm512_setzero_pd();
  const __m512d sign = _mm512_set1_pd(-0.0);
  const __m512d negomg = _mm512_xor_pd(omg, sign);  // -omg
  const __m512i up1 = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 0);  // lane g takes lane g-1

  __m512d U0[8], U1[8], V0[8], V1[8], W0[8], W1[8], P[8], F[8];
  __m512d vcarry = zero, wcarry = zero;
  __mmask8 prev_active = 0;
  const int nsteps = nk + 8;  // up to the top w face of the last lane
  for (int t0 = 0; t0 < nsteps; t0 += 8) {
    const int L0 = ks + t0;
    // load: row g covers layers L0-g .. L0-g+7 of column j0+g
    __mmask8 mc[8], mw[8];
    for (int g = 0; g < 8; ++g) {
      const int L = L0 - g;
      mc[g] = row_mask(L, ks, ke - 1);
      mw[g] = row_mask(L, ks, ke);
      const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(col[g].c0) + (L - 1);
      // eight columns of seven arrays are more streams than the hardware
      // follows: fetch each row's line three blocks ahead
      constexpr std::ptrdiff_t ahead = 24;
      _mm_prefetch(reinterpret_cast<const char*>(sw.u + c + ahead), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(sw.u + c + si + ahead), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(sw.v + c + ahead), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(sw.w + c + ahead), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(sw.p + c + ahead), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(sw.fl + c + ahead), _MM_HINT_T0);
      if (mc[g] == 0xFF && mw[g] == 0xFF) {
        U0[g] = _mm512_loadu_pd(sw.u + c);
        U1[g] = _mm512_loadu_pd(sw.u + c + si);
        V0[g] = _mm512_loadu_pd(sw.v + c);
        V1[g] = _mm512_loadu_pd(sw.v + c + sj);
        W0[g] = _mm512_loadu_pd(sw.w + c);
        W1[g] = _mm512_loadu_pd(sw.w + c + 1);
        P[g] = _mm512_loadu_pd(sw.p + c);
        F[g] = _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sw.fl + c)));
        continue;
      }
      U0[g] = _mm512_maskz_loadu_pd(mc[g], sw.u + c);
      U1[g] = _mm512_maskz_loadu_pd(mc[g], sw.u + c + si);
      V0[g] = _mm512_maskz_loadu_pd(mc[g], sw.v + c);
      V1[g] = _mm512_maskz_loadu_pd(mc[g], sw.v + c + sj);
      W0[g] = _mm512_maskz_loadu_pd(mw[g], sw.w + c);
      W1[g] = _mm512_maskz_loadu_pd(mc[g], sw.w + c + 1);
      P[g] = _mm512_maskz_loadu_pd(mc[g], sw.p + c);
      F[g] = _mm512_cvtepi32_pd(_mm256_maskz_loadu_epi32(mc[g], sw.fl + c));
    }
    transpose8(U0);
    transpose8(U1);
    transpose8(V0);
    transpose8(V1);
    transpose8(W0);
    transpose8(W1);
    transpose8(P);
    transpose8(F);
    for (int e = 0; e < 8; ++e) {
      const int t = t0 + e;
      const __mmask8 act = active_lanes(t, nk);
      const __m512d dz = _mm512_loadu_pd(tab.dz + 8 * t);
      const __m512d dzc0 = _mm512_loadu_pd(tab.dzc0 + 8 * t);
      const __m512d dzc1 = _mm512_loadu_pd(tab.dzc1 + 8 * t);
      const __m512d czk = _mm512_loadu_pd(tab.cz + 8 * t);
      const __m512d u0 = U0[e], u1 = U1[e], v1 = V1[e], w1 = W1[e], p0 = P[e];
      // v face on the low side: lane 0 from memory, lane g from lane g-1's last step
      const __m512d v0 = _mm512_mask_blend_pd(0xFE, V0[e], _mm512_permutexvar_pd(up1, vcarry));
      // w face below: from this lane's last step where it was active
      const __m512d w0 = _mm512_mask_blend_pd(prev_active, W0[e], wcarry);
      __m512d D = _mm512_add_pd(
          _mm512_add_pd(_mm512_div_pd(_mm512_sub_pd(u1, u0), vdxi), _mm512_div_pd(_mm512_sub_pd(v1, v0), vdyj)),
          _mm512_div_pd(_mm512_sub_pd(w1, w0), dz));
      const __m512d cc = _mm512_add_pd(vcij, czk);
      const __mmask8 body = _mm512_cmp_pd_mask(F[e], zero, _CMP_NEQ_UQ);
      D = _mm512_mask_blend_pd(body, D, zero);
      // dp = -omg * D / (2 * dt * cc)
      const __m512d dp = _mm512_div_pd(_mm512_mul_pd(negomg, D),
                                       _mm512_mul_pd(_mm512_mul_pd(two, dt), cc));
      const __m512d absD = _mm512_andnot_pd(sign, D);
      const __mmask8 big = _mm512_cmp_pd_mask(absD, esp2, _CMP_GE_OQ);
      const __m512d dpdt = _mm512_mul_pd(dp, dt);
      const __m512d u1n = last ? u1 : _mm512_add_pd(u1, _mm512_div_pd(dpdt, vdxc1));
      const __m512d u0n = _mm512_sub_pd(u0, _mm512_div_pd(dpdt, vdxc0));
      const __m512d v1n = _mm512_add_pd(v1, _mm512_div_pd(dpdt, vdyc1));
      const __m512d v0n = _mm512_sub_pd(v0, _mm512_div_pd(dpdt, vdyc0));
      const __m512d w1n = _mm512_add_pd(w1, _mm512_div_pd(dpdt, dzc1));
      const __m512d w0n = _mm512_sub_pd(w0, _mm512_div_pd(dpdt, dzc0));
      P[e] = _mm512_mask_blend_pd(big, p0, _mm512_add_pd(p0, dp));
      U0[e] = u0n;
      U1[e] = u1n;
      V0[e] = v0n;
      V1[e] = v1n;
      // an idle lane just past its top cell stores the top face it carries
      W0[e] = _mm512_mask_blend_pd(act, w0, w0n);
      vcarry = v1n;
      wcarry = w1n;
      prev_active = act;
    }
    transpose8(U0);
    if (!last) transpose8(U1);
    transpose8(V0);
    transpose8(V1);
    transpose8(W0);
    transpose8(P);
    for (int g = 0; g < 8; ++g) {
      const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(col[g].c0) + (L0 - g - 1);
      if (mc[g] == 0xFF && mw[g] == 0xFF) {
        _mm512_storeu_pd(sw.p + c, P[g]);
        if (!last) _mm512_storeu_pd(sw.u + c + si, U1[g]);
        _mm512_storeu_pd(sw.u + c, U0[g]);
        _mm512_storeu_pd(sw.v + c, V0[g]);
        _mm512_storeu_pd(sw.w + c, W0[g]);
        continue;
      }
      _mm512_mask_storeu_pd(sw.p + c, mc[g], P[g]);
      if (!last) _mm512_mask_storeu_pd(sw.u + c + si, mc[g], U1[g]);
      _mm512_mask_storeu_pd(sw.u + c, mc[g], U0[g]);
      _mm512_mask_storeu_pd(sw.v + c, mc[g], V0[g]);
      _mm512_mask_storeu_pd(sw.w + c, mw[g], W0[g]);
    }
    // the v faces above the group's last column wait in memory for the next group
    _mm512_mask_storeu_pd(sw.v + static_cast<std::ptrdiff_t>(col[7].c0 + sj) + (L0 - 7 - 1), mc[7], V1[7]);
  }
}

bool have_avx512() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                          __builtin_cpu_supports("avx512vl");
  return yes;
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

// A thread waits for the one on the plane before it: briefly spinning, as
// the other is normally a few columns ahead, then asleep, so that more
// threads than free cores cost no more than the cores they get.
inline void wait_for(const int* flag, int at_least) {
  std::atomic_ref<const int> a(*flag);
  for (int spins = 0; spins < 2000; ++spins) {
    if (a.load(std::memory_order_acquire) >= at_least) return;
    _mm_pause();
  }
  for (int v = a.load(std::memory_order_acquire); v < at_least; v = a.load(std::memory_order_acquire)) a.wait(v);
}

void sweep_plane(const PlaneWork& pw, int i, bool wait) {
  const Store& s = pw.s;
  int* prev = &pw.progress[i - 1];
  int* mine = &pw.progress[i];
  auto done = [&](int n) {
    std::atomic_ref<int> a(*mine);
    a.store(n, std::memory_order_release);
    a.notify_all();
  };
  for (int J = 0; J < pw.ngroups; ++J) {
    if (wait) wait_for(prev, J + 1);
    const int j0 = s.js + J * pw.G;
    if (pw.G == 8) {
      Column col[8];
      for (int g = 0; g < 8; ++g) col[g] = column(s, pw.cxy, i, j0 + g);
      group8(pw.sw, pw.tab, col);
    } else if (pw.G == 4) {
      group4(pw.sw, s, pw.cxy, i, j0);
    } else {
      columns_in_order(pw.sw, s, pw.cxy, i, j0, j0 + pw.G - 1);
    }
    done(J + 1);
  }
  if (wait) wait_for(prev, pw.ngroups + 1);
  columns_in_order(pw.sw, s, pw.cxy, i, s.js + pw.ngroups * pw.G, s.je - 1);
  done(pw.ngroups + 1);
}


// Threads for a pass over `cells` cells divided into `parts` pieces: the
// threads OpenMP gives us, but no more than leave each thread a fair share
// of work (a thread that waits for another costs more than it gains on a
// small grid, above all on a busy machine).  QV_CELLS_PER_THREAD sets that
// share (default 16384; 1 divides even the tiniest grid).
int threads_for(double cells, int parts) {
  const char* e = std::getenv("QV_CELLS_PER_THREAD");
  const double v = e ? std::atof(e) : 0;
  const double share = v >= 1 ? v : 16384.0;
  const int by_size = static_cast<int>(std::max(1.0, cells / share));
  return std::max(1, std::min({omp_get_max_threads(), parts, by_size}));
}

}  // namespace

// ---------------------------------------------------------------------------

bool divergence_scan(const Store& s, double& dm, int& li, int& lj, int& lk) {
  const int n = s.ie - s.is;
  const int T = threads_for(static_cast<double>(n) * (s.je - s.js) * (s.ke - s.ks), n);
  ScanResult part[64];
  const int nt = std::min(T, 64);
#pragma omp parallel for num_threads(nt) schedule(static, 1)
  for (int t = 0; t < nt; ++t) {
    const int i0 = s.is + n * t / nt, i1 = s.is + n * (t + 1) / nt - 1;
    part[t] = i0 <= i1 ? scan_planes(s, i0, i1) : ScanResult{};
  }
  // the first largest over all planes, in scan order
  ScanResult r;
  for (int t = 0; t < nt; ++t) {
    const ScanResult& p = part[t];
    r.finite = r.finite && p.finite;
    if (p.dm == 0 || p.dm < r.dm) continue;
    if (p.dm > r.dm || before(p.lk, p.lj, p.li, r)) {
      r.dm = p.dm;
      r.li = p.li, r.lj = p.lj, r.lk = p.lk;
    }
  }
  dm = r.dm;
  li = r.li, lj = r.lj, lk = r.lk;
  return r.finite;
}

void correction_sweep(Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz,
                      int group) {
  const Sweep sw{s.uu.stride_i(), s.uu.stride_j(), s.uu.data(), s.vv.data(), s.ww.data(), s.pp.data(),
                 s.iflag.data(), s.dt,           s.omg,       esp2,        s.dz.data(), s.dzc.data(),
                 cz.data(),      s.ks,           s.ke};
  const int nk = s.ke - s.ks, ncol = s.je - s.js;
  int G = group;
  if (G == 0) G = have_avx512() ? 8 : 4;
  if (G == 8 && !have_avx512()) G = 4;
  // a group needs at least as many layers as columns (and the eight-lane
  // blocks a few more, so a row's layers stay within its column)
  if ((G == 8 && nk < 16) || (G == 4 && nk < 4)) G = 1;
  SkewTables tab{};
  if (G == 8) fill_skew(sw, s.work_skew, tab);
  const PlaneWork pw{s, sw, cxy, tab, G, G > 1 ? ncol / G : ncol, s.work_progress.data()};
  if (s.work_progress.size() < static_cast<std::size_t>(s.ie) + 1) s.work_progress.resize(static_cast<std::size_t>(s.ie) + 1);
  std::fill(s.work_progress.begin(), s.work_progress.end(), 0);

  const int np = s.ie - s.is;
  const int T = threads_for(static_cast<double>(np) * ncol * nk, np);
  if (T == 1) {
    for (int i = s.is; i <= s.ie - 1; ++i) sweep_plane(pw, i, false);
    return;
  }
#pragma omp parallel num_threads(T)
  {
    const int t = omp_get_thread_num();
    for (int i = s.is + t; i <= s.ie - 1; i += T) sweep_plane(pw, i, i > s.is);
  }
}

}  // namespace qv
