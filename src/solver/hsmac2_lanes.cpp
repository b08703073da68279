// The pressure iteration's passes in lane order (store/lanes.hpp).
//
// Each function here must equal, bit for bit, the pass of the same name on
// the store, and so the defined pass (tests/solver/test_lane_order.cpp):
//
//   lanes_divergence_scan      == divergence_scan_in_order
//   lanes_correction_sweep     == correction_sweep_in_order
//   lanes_restore_after_sweep  == restore_after_sweep
//
// The sweep is the eight-lane wavefront of hsmac2_tuned.cpp (the reasons
// for its order are there) without the transposes: step m of block (i, b)
// is the vector at position m, lane g holding layer ks + m - g of column
// js + 8 b + g.  The w face below a cell and the v face beside it pass
// from step to step in registers as before; the v face above lane 7 is
// lane 0 of the next block, read and written there.  Lanes without a cell
// at a step (the wavefront's ends, the columns past the last) compute with
// a zero divergence and store what they loaded, so only the copy's padding
// ever sees what they compute.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "solver/quotient.hpp"
#include "solver/solver.hpp"
#include "store/lanes.hpp"
#include "solver/tuned_support.hpp"

namespace qv {

bool lanes_usable(const Store& s) { return tuned::have_avx512() && s.grid.ke - s.grid.ks >= 8; }

// ---------------------------------------------------------------------------
// Restore: the writes of restore_after_sweep, in its order

void lanes_restore_after_sweep(LaneFields& L, const Store& s) {
  using W = LaneFields::Which;
  const int is = s.grid.is, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) L.at(W::kU, is, j, k) = s.flow.ub0(j, k);
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je; ++j) L.at(W::kV, is, j, k) = s.flow.vb0(j, k);
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je - 1; ++j) L.at(W::kW, is, j, k) = s.flow.wb0(j, k);
  for (const auto& [i, j, k] : s.work.work_body) {
    // the face rule and the cleared pressure of a body cell
    L.at(W::kU, i, j, k) = 0;
    L.at(W::kV, i, j, k) = 0;
    L.at(W::kW, i, j, k) = 0;
    L.at(W::kU, i + 1, j, k) = 0;
    L.at(W::kV, i, j + 1, k) = 0;
    L.at(W::kW, i, j, k + 1) = 0;
    L.at(W::kP, i, j, k) = 0;
  }
  if (s.run.izper != 0)
    for (int i = is; i <= s.grid.ie - 1; ++i)
      for (int j = js; j <= je - 1; ++j) {
        L.at(W::kW, i, j, ks) = 0;
        L.at(W::kW, i, j, ke) = 0;
      }
}

namespace {

using tuned::dividend;
using tuned::over;

#define QV_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl")))
#define QV_AVX512_INLINE QV_AVX512 __attribute__((always_inline)) inline

// Lanes with a cell at step m: layer m - g within 0..nk-1, column g below ncol.
inline __mmask8 cells_at(int m, int nk, __mmask8 columns) {
  const unsigned lo = m >= 7 ? 0xFFu : (1u << (m + 1)) - 1u;
  const int h = m - nk + 1;
  const unsigned hi = h <= 0 ? 0xFFu : (h >= 8 ? 0u : (0xFFu << h) & 0xFFu);
  return static_cast<__mmask8>(lo & hi & columns);
}

// The columns of block b that hold cells.
inline __mmask8 columns_of(const LaneFields& L, int b) {
  const int n = std::clamp(L.ncol - 8 * b, 0, 8);
  return static_cast<__mmask8>((1u << n) - 1u);
}

// Per-step layer values, lane g at position m holding layer ks + m - g, 1
// where the lane has no layer; seven tables of nm steps.
struct Layers {
  const double *dz, *dzc0, *dzc1, *cz, *rdz, *rdzc0, *rdzc1;
};

Layers fill_layers(const Store& s, const LaneFields& L, const double* cz, std::vector<double>& buf) {
  const std::size_t n = static_cast<std::size_t>(L.nm) * 8;
  if (buf.size() < 7 * n) buf.resize(7 * n);  // sized at start-up; a store made by hand may lack it
  std::fill(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(7 * n), 1.0);
  double* d[7];
  for (int t = 0; t < 7; ++t) d[t] = buf.data() + t * n;
  for (int m = 0; m < L.nm; ++m)
    for (int g = 0; g < 8; ++g) {
      const int k = s.grid.ks + m - g;
      if (k < s.grid.ks || k > s.grid.ke - 1) continue;
      const std::size_t e = static_cast<std::size_t>(m) * 8 + static_cast<std::size_t>(g);
      d[0][e] = s.grid.dz(k);
      d[1][e] = s.grid.dzc(k);
      d[2][e] = s.grid.dzc(k + 1);
      d[3][e] = cz ? cz[k] : 1.0;
      for (int t = 0; t < 3; ++t) d[4 + t][e] = 1 / d[t][e];
    }
  return {d[0], d[1], d[2], d[3], d[4], d[5], d[6]};
}

// The column values of one block as vectors, 1 for lanes without a column.
struct BlockValues {
  __m512d dyj, dyc0, dyc1, rdyj, rdyc0, rdyc1, cij;
  __m512d dxi, dxc0, dxc1, rdxi, rdxc0, rdxc1;
};

QV_AVX512 BlockValues block_values(const Store& s, const double* cxy, int i, int b) {
  alignas(64) double a[7][8];
  for (int g = 0; g < 8; ++g) {
    const int j = s.grid.js + 8 * b + g;
    const bool col = j <= s.grid.je - 1;
    a[0][g] = col ? s.grid.dy(j) : 1.0;
    a[1][g] = col ? s.grid.dyc(j) : 1.0;
    a[2][g] = col ? s.grid.dyc(j + 1) : 1.0;
    a[3][g] = 1 / a[0][g];
    a[4][g] = 1 / a[1][g];
    a[5][g] = 1 / a[2][g];
    a[6][g] = col && cxy ? cxy[static_cast<std::size_t>(i) * s.flow.iflag.nj() + j - 1] : 0.0;
  }
  BlockValues v;
  v.dyj = _mm512_load_pd(a[0]);
  v.dyc0 = _mm512_load_pd(a[1]);
  v.dyc1 = _mm512_load_pd(a[2]);
  v.rdyj = _mm512_load_pd(a[3]);
  v.rdyc0 = _mm512_load_pd(a[4]);
  v.rdyc1 = _mm512_load_pd(a[5]);
  v.cij = _mm512_load_pd(a[6]);
  v.dxi = _mm512_set1_pd(s.grid.dx(i));
  v.dxc0 = _mm512_set1_pd(s.grid.dxc(i));
  v.dxc1 = _mm512_set1_pd(s.grid.dxc(i + 1));
  v.rdxi = _mm512_set1_pd(1 / s.grid.dx(i));
  v.rdxc0 = _mm512_set1_pd(1 / s.grid.dxc(i));
  v.rdxc1 = _mm512_set1_pd(1 / s.grid.dxc(i + 1));
  return v;
}


struct SweepConst {
  double dt, omg, esp2;
  int nk;
};

// One block of eight columns in flight.
struct Block {
  BlockValues c;
  double* u0;  // uu of plane i, this block
  double* u1;  // uu of plane i + 1
  double* v;
  double* vn;  // vv of the next block
  double* w;
  double* p;
  const std::uint8_t* body;
  bool last;
  __mmask8 columns;
  __m512d vcarry, wcarry;
  __mmask8 prev;
};

QV_AVX512 Block block_at(LaneFields& L, const Store& s, const std::vector<double>& cxy, int i, int b) {
  using W = LaneFields::Which;
  Block q;
  q.c = block_values(s, cxy.data(), i, b);
  const std::size_t o = L.block(i, b);
  q.u0 = L.field(W::kU) + o;
  q.u1 = L.field(W::kU) + L.block(i + 1, b);
  q.v = L.field(W::kV) + o;
  q.vn = L.field(W::kV) + L.block(i, b + 1);
  q.w = L.field(W::kW) + o;
  q.p = L.field(W::kP) + o;
  q.body = L.body() + L.block(i, b) / 8;
  q.last = i == s.grid.ie - 1;
  q.columns = columns_of(L, b);
  q.vcarry = q.wcarry = _mm512_setzero_pd();
  q.prev = 0;
  return q;
}

// Step m of a block: the eight cells of the step, each as the ordered
// sweep's cell.
template <bool Exact>
QV_AVX512_INLINE void step(const SweepConst& k, const Layers& tab, Block& q, int m) {
  const __m512d dt = _mm512_set1_pd(k.dt), esp2 = _mm512_set1_pd(k.esp2);
  const __m512d sign = _mm512_set1_pd(-0.0);
  const __m512d negomg = _mm512_xor_pd(_mm512_set1_pd(k.omg), sign);  // -omg
  const __m512d twodt = _mm512_mul_pd(_mm512_set1_pd(2.0), dt);        // 2 * dt
  const __m512d zero = _mm512_setzero_pd();
  const __m512i up1 = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 0);  // lane g takes lane g-1

  const __mmask8 act = cells_at(m, k.nk, q.columns);
  const std::size_t e = static_cast<std::size_t>(m) * 8;
  const __m512d dz = _mm512_loadu_pd(tab.dz + e);
  const __m512d dzc0 = _mm512_loadu_pd(tab.dzc0 + e);
  const __m512d dzc1 = _mm512_loadu_pd(tab.dzc1 + e);
  const __m512d czk = _mm512_loadu_pd(tab.cz + e);
  const __m512d rdz = _mm512_loadu_pd(tab.rdz + e);
  const __m512d rdzc0 = _mm512_loadu_pd(tab.rdzc0 + e);
  const __m512d rdzc1 = _mm512_loadu_pd(tab.rdzc1 + e);

  const __m512d u0 = _mm512_load_pd(q.u0 + e), u1 = _mm512_load_pd(q.u1 + e), p0 = _mm512_load_pd(q.p + e);
  // v face above lane g: lane g+1's own face at the next position; lane 7's
  // is lane 0 of the next block, seven positions back
  const std::size_t back = m >= 7 ? e - 56 : 0;
  const __m512d v1 = _mm512_castsi512_pd(_mm512_alignr_epi64(_mm512_castpd_si512(_mm512_load_pd(q.vn + back)),
                                                             _mm512_castpd_si512(_mm512_load_pd(q.v + e + 8)), 1));
  // v face below: lane 0 from memory, lane g from lane g-1's last step
  const __m512d v0 = _mm512_mask_blend_pd(0xFE, _mm512_load_pd(q.v + e), _mm512_permutexvar_pd(up1, q.vcarry));
  // w faces: below from this lane's last step where it had a cell
  const __m512d w1 = _mm512_load_pd(q.w + e + 8);
  const __m512d w0 = _mm512_mask_blend_pd(q.prev, _mm512_load_pd(q.w + e), q.wcarry);

  __m512d D = _mm512_add_pd(_mm512_add_pd(over<Exact>(dividend<Exact>(_mm512_sub_pd(u1, u0)), q.c.dxi, q.c.rdxi),
                                          over<Exact>(dividend<Exact>(_mm512_sub_pd(v1, v0)), q.c.dyj, q.c.rdyj)),
                            over<Exact>(dividend<Exact>(_mm512_sub_pd(w1, w0)), dz, rdz));
  const __m512d cc = _mm512_add_pd(q.c.cij, czk);
  const __mmask8 body = static_cast<__mmask8>(q.body[m]);
  D = _mm512_mask_blend_pd(static_cast<__mmask8>(body | static_cast<__mmask8>(~act)), D, zero);
  // dp = -omg * D / (2 * dt * cc); the reciprocal of 2 dt cc, off the chain
  // through D, is the one division left
  const __m512d den = _mm512_mul_pd(twodt, cc);
  const __m512d rden = Exact ? _mm512_div_pd(_mm512_set1_pd(1.0), den) : den;
  const __m512d dp = over<Exact>(dividend<Exact>(_mm512_mul_pd(negomg, D)), den, rden);
  const __m512d absD = _mm512_andnot_pd(sign, D);
  const __mmask8 big = _mm512_mask_cmp_pd_mask(act, absD, esp2, _CMP_GE_OQ);
  const quotient::Dividend8 dpdt = dividend<Exact>(_mm512_mul_pd(dp, dt));
  const __m512d w1n = _mm512_add_pd(w1, over<Exact>(dpdt, dzc1, rdzc1));
  const __m512d v1n = _mm512_add_pd(v1, over<Exact>(dpdt, q.c.dyc1, q.c.rdyc1));
  if (!q.last) _mm512_store_pd(q.u1 + e, _mm512_mask_add_pd(u1, act, u1, over<Exact>(dpdt, q.c.dxc1, q.c.rdxc1)));
  _mm512_store_pd(q.u0 + e, _mm512_mask_sub_pd(u0, act, u0, over<Exact>(dpdt, q.c.dxc0, q.c.rdxc0)));
  _mm512_store_pd(q.v + e, _mm512_mask_sub_pd(v0, act, v0, over<Exact>(dpdt, q.c.dyc0, q.c.rdyc0)));
  // a lane just past its top cell stores the top face it carries
  _mm512_store_pd(q.w + e, _mm512_mask_sub_pd(w0, act, w0, over<Exact>(dpdt, dzc0, rdzc0)));
  _mm512_store_pd(q.p + e, _mm512_mask_add_pd(p0, big, p0, dp));
  // lane 7's v face above waits in the next block for that block's lane 0
  if (act & 0x80) _mm_storeh_pd(q.vn + back, _mm512_extractf64x2_pd(v1n, 3));
  q.vcarry = v1n;
  q.wcarry = w1n;
  q.prev = act;
}

// N blocks side by side (from neighbouring planes), so that one block's
// chain of dependent quotients overlaps the other's.
template <int N, bool Exact>
QV_AVX512 void blocks(const SweepConst& k, const Layers& tab, Block* q) {
  const int nsteps = k.nk + 8;  // up to the top w face of lane 7
  for (int m = 0; m < nsteps; ++m)
    for (int n = 0; n < N; ++n) step<Exact>(k, tab, q[n], m);
}

struct SweepWork {
  LaneFields& L;
  const Store& s;
  const std::vector<double>& cxy;
  const SweepConst k;
  const Layers tab;
  bool exact;
  int nblocks;  // blocks with cells
  int* progress;
};

template <int N>
QV_AVX512 void run_blocks(const SweepWork& w, Block* q) {
  if (w.exact)
    blocks<N, true>(w.k, w.tab, q);
  else
    blocks<N, false>(w.k, w.tab, q);
}

QV_AVX512 void one_block(const SweepWork& w, int i, int b) {
  Block q = block_at(w.L, w.s, w.cxy, i, b);
  run_blocks<1>(w, &q);
}

QV_AVX512 void sweep_plane(const SweepWork& w, int i, bool wait) {
  const tuned::Progress pr{w.progress};
  for (int b = 0; b < w.nblocks; ++b) {
    pr.wait(i, b + 1, wait);
    one_block(w, i, b);
    pr.done(i, b + 1);
  }
}

// Planes a and a + 1: block b + 1 of plane a runs beside block b of plane
// a + 1, which it no longer touches.
QV_AVX512 void sweep_two_planes(const SweepWork& w, int a, bool wait) {
  const tuned::Progress pr{w.progress};
  const int nb = w.nblocks;
  pr.wait(a, 1, wait);
  one_block(w, a, 0);
  pr.done(a, 1);
  for (int b = 0; b + 1 < nb; ++b) {
    pr.wait(a, b + 2, wait);
    Block q[2] = {block_at(w.L, w.s, w.cxy, a, b + 1), block_at(w.L, w.s, w.cxy, a + 1, b)};
    run_blocks<2>(w, q);
    pr.done(a, b + 2);
    pr.done(a + 1, b + 1);
  }
  one_block(w, a + 1, nb - 1);
  pr.done(a + 1, nb);
}

}  // namespace

void lanes_correction_sweep(LaneFields& L, const Store& s, double esp2, const std::vector<double>& cxy,
                            const std::vector<double>& cz, bool divider) {
  const bool exact = !divider && tuned::reciprocals_usable(s, &cxy, &cz);
  Store& ws = const_cast<Store&>(s);  // the work space of the pass
  const Layers tab = fill_layers(s, L, cz.data(), ws.work.work_skew);
  if (ws.work.work_progress.size() < static_cast<std::size_t>(s.grid.ie) + 1)
    ws.work.work_progress.resize(static_cast<std::size_t>(s.grid.ie) + 1);
  std::fill(ws.work.work_progress.begin(), ws.work.work_progress.end(), 0);
  const int nblocks = (L.ncol + 7) / 8;
  const SweepWork w{L,   s,     cxy,     SweepConst{s.run.dt, s.run.omg, esp2, L.nk},
                    tab, exact, nblocks, ws.work.work_progress.data()};

  // units of work: pairs of planes
  const int np = s.grid.ie - s.grid.is;
  const int nunits = (np + 1) / 2;
  auto unit = [&](int u, bool wait) {
    const int a = s.grid.is + 2 * u;
    if (a + 1 <= s.grid.ie - 1)
      sweep_two_planes(w, a, wait);
    else
      sweep_plane(w, a, wait);
  };
  const int T = tuned::threads_for(static_cast<double>(np) * L.ncol * L.nk, nunits);
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

// ---------------------------------------------------------------------------
// Divergence scan

namespace {

// The first cell, in scan order, of block (i, b) whose |D| equals dm.
template <bool Exact>
QV_AVX512 void locate(const LaneFields& L, const Store& s, const Layers& tab, const BlockValues& c, int i, int b,
                      double dm, tuned::ScanResult& r);

// What the scan reads of block (i, b).
struct ScanBlock {
  const double *u0, *u1, *v, *vn, *w;  // uu of planes i and i+1, vv here and in the next block, ww
  const std::uint8_t* body;
  __mmask8 columns;
};

ScanBlock scan_block(const LaneFields& L, int i, int b) {
  using W = LaneFields::Which;
  const std::size_t o = L.block(i, b);
  return {L.field(W::kU) + o,
          L.field(W::kU) + L.block(i + 1, b),
          L.field(W::kV) + o,
          L.field(W::kV) + L.block(i, b + 1),
          L.field(W::kW) + o,
          L.body() + o / 8,
          columns_of(L, b)};
}

// The divergence of the cells at position m, and the lanes that are fluid cells.
template <bool Exact>
QV_AVX512_INLINE __m512d block_divergence(const ScanBlock& k, const Layers& tab, const BlockValues& c, int m,
                                          int nk, __mmask8& fluid) {
  const std::size_t e = static_cast<std::size_t>(m) * 8;
  const std::size_t back = m >= 7 ? e - 56 : 0;
  const __m512d v1 = _mm512_castsi512_pd(_mm512_alignr_epi64(_mm512_castpd_si512(_mm512_load_pd(k.vn + back)),
                                                             _mm512_castpd_si512(_mm512_load_pd(k.v + e + 8)), 1));
  const __m512d du = _mm512_sub_pd(_mm512_load_pd(k.u1 + e), _mm512_load_pd(k.u0 + e));
  const __m512d dv = _mm512_sub_pd(v1, _mm512_load_pd(k.v + e));
  const __m512d dw = _mm512_sub_pd(_mm512_load_pd(k.w + e + 8), _mm512_load_pd(k.w + e));
  fluid = static_cast<__mmask8>(cells_at(m, nk, k.columns) & ~k.body[m]);
  return _mm512_add_pd(_mm512_add_pd(over<Exact>(dividend<Exact>(du), c.dxi, c.rdxi),
                                     over<Exact>(dividend<Exact>(dv), c.dyj, c.rdyj)),
                       over<Exact>(dividend<Exact>(dw), _mm512_loadu_pd(tab.dz + e), _mm512_loadu_pd(tab.rdz + e)));
}

template <bool Exact>
QV_AVX512 tuned::ScanResult scan_planes(const LaneFields& L, const Store& s, const Layers& tab, int i0, int i1) {
  tuned::ScanResult r;
  __mmask8 bad = 0;
  const __m512d sign = _mm512_set1_pd(-0.0);
  const int nblocks = (L.ncol + 7) / 8;
  for (int i = i0; i <= i1; ++i)
    for (int b = 0; b < nblocks; ++b) {
      const BlockValues c = block_values(s, nullptr, i, b);
      const ScanBlock k = scan_block(L, i, b);
      __m512d vmax = _mm512_setzero_pd();
      for (int m = 0; m < L.nk + 7; ++m) {
        __mmask8 fluid;
        const __m512d D = block_divergence<Exact>(k, tab, c, m, L.nk, fluid);
        // D - D is 0 for every finite D
        bad |= _mm512_mask_cmp_pd_mask(fluid, _mm512_sub_pd(D, D), _mm512_setzero_pd(), _CMP_NEQ_UQ);
        vmax = _mm512_mask_max_pd(vmax, fluid, vmax, _mm512_andnot_pd(sign, D));
      }
      const double bmax = _mm512_reduce_max_pd(vmax);
      if (bmax == 0 || bmax < r.dm) continue;
      locate<Exact>(L, s, tab, c, i, b, bmax, r);
    }
  r.finite = bad == 0;
  return r;
}

template <bool Exact>
QV_AVX512 void locate(const LaneFields& L, const Store& s, const Layers& tab, const BlockValues& c, int i, int b,
                      double dm, tuned::ScanResult& r) {
  const ScanBlock k = scan_block(L, i, b);
  const __m512d sign = _mm512_set1_pd(-0.0);
  int bk = 0, bj = 0;
  bool found = false;
  for (int m = 0; m < L.nk + 7; ++m) {
    __mmask8 fluid;
    const __m512d D = block_divergence<Exact>(k, tab, c, m, L.nk, fluid);
    unsigned hit = _mm512_mask_cmp_pd_mask(fluid, _mm512_andnot_pd(sign, D), _mm512_set1_pd(dm), _CMP_EQ_OQ);
    for (; hit; hit &= hit - 1) {
      const int g = __builtin_ctz(hit);
      const int k = s.grid.ks + m - g, j = s.grid.js + 8 * b + g;
      if (!found || k < bk || (k == bk && j < bj)) bk = k, bj = j, found = true;
    }
  }
  if (dm > r.dm || tuned::before(bk, bj, i, r)) {
    r.dm = dm;
    r.li = i, r.lj = bj, r.lk = bk;
  }
}

}  // namespace

bool lanes_divergence_scan(const LaneFields& L, const Store& s, double& dm, int& li, int& lj, int& lk) {
  Store& ws = const_cast<Store&>(s);
  const Layers tab = fill_layers(s, L, nullptr, ws.work.work_skew);
  const bool exact = tuned::reciprocals_usable(s);
  const int n = s.grid.ie - s.grid.is;
  const int T = tuned::threads_for(static_cast<double>(n) * L.ncol * L.nk, n);
  tuned::ScanResult part[64];
  const int nt = std::min(T, 64);
#pragma omp parallel for num_threads(nt) schedule(static, 1)
  for (int t = 0; t < nt; ++t) {
    const int i0 = s.grid.is + n * t / nt, i1 = s.grid.is + n * (t + 1) / nt - 1;
    if (i0 > i1)
      part[t] = tuned::ScanResult{};
    else
      part[t] = exact ? scan_planes<true>(L, s, tab, i0, i1) : scan_planes<false>(L, s, tab, i0, i1);
  }
  const tuned::ScanResult r = tuned::first_largest(part, nt);
  dm = r.dm;
  li = r.li, lj = r.lj, lk = r.lk;
  return r.finite;
}

}  // namespace qv
