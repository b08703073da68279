// The pressure iteration's passes in lane order (store/lanes.hpp).
//
// Each function here must equal, bit for bit, the pass of the same name on
// the store, and so the defined pass (tests/solver/test_lane_order.cpp):
//
//   lanes_divergence_scan      == divergence_scan_in_order
//   lanes_correction_sweep     == correction_sweep_in_order
//
// and lanes_restore_after_sweep makes the writes of restore_after_sweep.
//
// The sweep.  A cell reads and writes only its own pressure and its six
// faces, and the lower of the two cells of a face moves it first; so any
// order in which every cell follows its three low neighbours gives the
// bits of the ordered sweep.  Here lane g of block b walks row
// j = js + 8 b + g as one stream, column after column, plane after plane,
// taking stream position c = (i - is) S + (k - ks) at step c + g:
// - (i, j, k-1) and (i-1, j, k) are earlier positions of the same lane;
// - lane g-1 reaches (i, j-1, k) one step before lane g reaches (i, j, k);
// - lane 7's neighbour above is lane 0 of block b+1, which runs at least
//   nine steps behind (one column, S steps, within a thread; a count of
//   the steps done between threads).
// The w face below a cell and the v face beside it pass from step to step
// in registers; the v face above lane 7 is lane 0 of the next block, read
// and written there.  The uu face above a cell is S positions on in the
// same stream.  At a step the eight lanes lie in at most two neighbouring
// columns (S > 8): lanes g <= r in column q, the others in column q-1,
// for step q S + r; the x metrics of the step are the two planes' values
// under that mask.  Lanes without a cell at a step (a column's top slot,
// the stream's ends, the rows past the last) compute with a zero
// divergence and store what they loaded or carry, so only the copy's
// padding, and the top faces a lane carries to its slot, see what they
// compute.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "solver/quotient.hpp"
#include "solver/solver.hpp"
#include "solver/tuned_support.hpp"
#include "store/lanes.hpp"

namespace qv {

bool lanes_usable(const Store& s) { return tuned::have_avx512() && s.grid.ke - s.grid.ks >= 8; }

// ---------------------------------------------------------------------------
// Restore: the writes of restore_after_sweep, in its order

void lanes_restore_after_sweep(LaneFields& L, const Store& s, const std::vector<std::array<int, 3>>& body) {
  using W = LaneFields::Which;
  const int is = s.grid.is, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  const std::ptrdiff_t nbody = static_cast<std::ptrdiff_t>(body.size());
  // Shared among the threads: each loop writes every element at most once,
  // or only zeros, so the threads' order within a loop does not matter.
  // Between loops that may write one element (an inflow face that is a body
  // face, or a periodic z face) the barrier keeps the order.
#pragma omp parallel
  {
#pragma omp for schedule(static) nowait
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je - 1; ++j) L.at(W::kU, is, j, k) = s.flow.ub0(j, k);
#pragma omp for schedule(static) nowait
    for (int k = ks; k <= ke - 1; ++k)
      for (int j = js; j <= je; ++j) L.at(W::kV, is, j, k) = s.flow.vb0(j, k);
#pragma omp for schedule(static)
    for (int k = ks; k <= ke; ++k)
      for (int j = js; j <= je - 1; ++j) L.at(W::kW, is, j, k) = s.flow.wb0(j, k);
#pragma omp for schedule(static) nowait
    for (std::ptrdiff_t n = 0; n < nbody; ++n) {
      const auto& [i, j, k] = body[static_cast<std::size_t>(n)];
      // the face rule and the cleared pressure of a body cell
      L.at(W::kU, i, j, k) = 0;
      L.at(W::kV, i, j, k) = 0;
      L.at(W::kW, i, j, k) = 0;
      L.at(W::kU, i + 1, j, k) = 0;
      L.at(W::kV, i, j + 1, k) = 0;
      L.at(W::kW, i, j, k + 1) = 0;
      L.at(W::kP, i, j, k) = 0;
    }
    if (s.run.izper != 0) {
#pragma omp for schedule(static) nowait
      for (int i = is; i <= s.grid.ie - 1; ++i)
        for (int j = js; j <= je - 1; ++j) {
          L.at(W::kW, i, j, ks) = 0;
          L.at(W::kW, i, j, ke) = 0;
        }
    }
  }
}

namespace {

using tuned::dividend;
using tuned::over;

#define QV_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl")))
#define QV_AVX512_INLINE QV_AVX512 __attribute__((always_inline)) inline

// Blocks a thread runs side by side, each one column behind the one before,
// so that one block's chain of dependent quotients overlaps the other's.
constexpr int kSideBySide = 2;
constexpr int kCountStride = LaneFields::kCountStride;

// ---------------------------------------------------------------------------
// Which lanes have a cell at a step

// At step q S + r of a stream, lanes g > r are still in column q-1.
inline unsigned lanes_behind(int r) { return r < 7 ? (0xFEu << r) & 0xFFu : 0u; }

// The lanes at a column's top slot at step q S + r (position -1 mod S):
// lane r+1 of column q-1, and lane 0 at the column's last step.
inline unsigned lanes_at_slot(int r, int S) { return (r < 7 ? (2u << r) & 0xFFu : 0u) | (r == S - 1 ? 1u : 0u); }

// The rows of block b that hold cells.
inline unsigned rows_of(const LaneFields& L, int b) {
  const int n = std::clamp(L.ncol - 8 * b, 0, 8);
  return (1u << n) - 1u;
}

// The lanes of a stream that do cells while it is at column q: a pass does
// the planes of columns c0..c1-1, and rows are the block's rows.
struct ColumnLanes {
  unsigned ahead, behind;  // lanes in column q, lanes in column q-1
  __mmask8 at(int r, int S, unsigned beh) const {
    return static_cast<__mmask8>(((ahead & ~beh) | (behind & beh)) & ~lanes_at_slot(r, S));
  }
};

inline ColumnLanes column_lanes(int q, int c0, int c1, unsigned rows) {
  return {q >= c0 && q < c1 ? rows : 0u, q - 1 >= c0 && q - 1 < c1 ? rows : 0u};
}

// Per-slot layer values, lane g at slot r holding layer ks + (r - g) mod S,
// 1 at the top slot; seven tables of S steps.
struct Layers {
  const double *dz, *dzc0, *dzc1, *cz, *rdz, *rdzc0, *rdzc1;
  // per plane i, kPlaneValues apart: dx(i), dxc(i), dxc(i+1) and their
  // reciprocals, so that a stream moving to a column only loads them
  const double* planes;
};
constexpr int kPlaneValues = Scratch::kPlaneValues;

Layers fill_layers(const Store& s, const LaneFields& L, const double* cz, AlignedDoubles& buf) {
  const std::size_t n = static_cast<std::size_t>(L.S) * 8;
  const std::size_t np = kPlaneValues * static_cast<std::size_t>(s.grid.ie + 2);
  // sized at start-up; a store made by hand may lack it
  if (buf.size() < 7 * n + np) buf.resize(7 * n + np);
  std::fill(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(7 * n), 1.0);
  double* planes = buf.data() + 7 * n;
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
    double* p = planes + kPlaneValues * static_cast<std::size_t>(i);
    p[0] = s.grid.dx(i);
    p[1] = s.grid.dxc(i);
    p[2] = s.grid.dxc(i + 1);
    for (int t = 0; t < 3; ++t) p[3 + t] = 1 / p[t];
  }
  double* d[7];
  for (int t = 0; t < 7; ++t) d[t] = buf.data() + t * n;
  for (int r = 0; r < L.S; ++r)
    for (int g = 0; g < 8; ++g) {
      const int m = ((r - g) % L.S + L.S) % L.S;
      if (m == L.nk) continue;
      const int k = s.grid.ks + m;
      const std::size_t e = static_cast<std::size_t>(r) * 8 + static_cast<std::size_t>(g);
      d[0][e] = s.grid.dz(k);
      d[1][e] = s.grid.dzc(k);
      d[2][e] = s.grid.dzc(k + 1);
      d[3][e] = cz ? cz[k] : 1.0;
      for (int t = 0; t < 3; ++t) d[4 + t][e] = 1 / d[t][e];
    }
  return {d[0], d[1], d[2], d[3], d[4], d[5], d[6], planes};
}

// The row values of one block as vectors, 1 for lanes without a row.
struct RowValues {
  __m512d dyj, dyc0, dyc1, rdyj, rdyc0, rdyc1;
};

QV_AVX512 RowValues row_values(const Store& s, int b) {
  alignas(64) double a[6][8];
  for (int g = 0; g < 8; ++g) {
    const int j = s.grid.js + 8 * b + g;
    const bool row = j <= s.grid.je - 1;
    a[0][g] = row ? s.grid.dy(j) : 1.0;
    a[1][g] = row ? s.grid.dyc(j) : 1.0;
    a[2][g] = row ? s.grid.dyc(j + 1) : 1.0;
    for (int t = 0; t < 3; ++t) a[3 + t][g] = 1 / a[t][g];
  }
  return {_mm512_load_pd(a[0]), _mm512_load_pd(a[1]), _mm512_load_pd(a[2]),
          _mm512_load_pd(a[3]), _mm512_load_pd(a[4]), _mm512_load_pd(a[5])};
}

// The plane values of one block: the x metrics of plane i and the x and y
// parts of c of its rows (0 for lanes without a row).
struct PlaneValues {
  __m512d dxi, dxc0, dxc1, rdxi, rdxc0, rdxc1, cij;
};

QV_AVX512 PlaneValues plane_values(const Store& s, const Layers& tab, const double* cxy, int i, int b,
                                   unsigned rows) {
  const double* p = tab.planes + kPlaneValues * static_cast<std::size_t>(i);
  PlaneValues v;
  v.dxi = _mm512_set1_pd(p[0]);
  v.dxc0 = _mm512_set1_pd(p[1]);
  v.dxc1 = _mm512_set1_pd(p[2]);
  v.rdxi = _mm512_set1_pd(p[3]);
  v.rdxc0 = _mm512_set1_pd(p[4]);
  v.rdxc1 = _mm512_set1_pd(p[5]);
  v.cij = cxy ? _mm512_maskz_loadu_pd(static_cast<__mmask8>(rows),
                                      cxy + static_cast<std::size_t>(i) * s.flow.iflag.nj() + s.grid.js + 8 * b - 1)
              : _mm512_setzero_pd();
  return v;
}

// The plane values of a step: lanes in beh from the column behind.
QV_AVX512_INLINE PlaneValues blend(unsigned beh, const PlaneValues& a, const PlaneValues& z) {
  const __mmask8 m = static_cast<__mmask8>(beh);
  return {_mm512_mask_blend_pd(m, a.dxi, z.dxi),     _mm512_mask_blend_pd(m, a.dxc0, z.dxc0),
          _mm512_mask_blend_pd(m, a.dxc1, z.dxc1),   _mm512_mask_blend_pd(m, a.rdxi, z.rdxi),
          _mm512_mask_blend_pd(m, a.rdxc0, z.rdxc0), _mm512_mask_blend_pd(m, a.rdxc1, z.rdxc1),
          _mm512_mask_blend_pd(m, a.cij, z.cij)};
}

// The plane of column q, kept within the planes of cells (a column outside
// them has no lane with a cell).
inline int plane_of(const Store& s, int q) { return std::clamp(s.grid.is + q, s.grid.is, s.grid.ie - 1); }

// Element e's uu face above in x: the same lane, one column (S steps) on.
inline std::size_t u_above(std::size_t e, int S) { return e + static_cast<std::size_t>(S) * 8; }

// v face above lane g at step t: lane g+1's own face at the next step; lane
// 7's is lane 0 of the next block, seven steps back.
QV_AVX512_INLINE __m512d v_above(const double* v, const double* vn, std::size_t t) {
  const std::size_t back = t >= 7 ? (t - 7) * 8 : 0;
  return _mm512_castsi512_pd(_mm512_alignr_epi64(_mm512_castpd_si512(_mm512_load_pd(vn + back)),
                                                 _mm512_castpd_si512(_mm512_load_pd(v + t * 8 + 8)), 1));
}

// ---------------------------------------------------------------------------
// Correction sweep

struct SweepConst {
  double dt, omg, esp2;
  int S;
};

// What a lane passes to its next step and to the next lane: the v face
// above, the w face above, and whether it had a cell.
struct Carry {
  __m512d v, w;
  __mmask8 had;
};

// One block's stream in flight, at column col.
struct Stream {
  RowValues y;
  PlaneValues ahead, behind;  // the planes of columns col and col - 1
  double* u;
  double* v;
  double* vn;  // vv of the next block
  double* w;
  double* p;
  const std::uint8_t* body;
  int b, col;
  unsigned rows;
  ColumnLanes cells, ucells;  // lanes with a cell; those whose uu face above moves
  Carry carry;
};

QV_AVX512 Stream stream_at(LaneFields& L, const Store& s, const Layers& tab, const double* cxy, int b) {
  using W = LaneFields::Which;
  Stream q;
  q.y = row_values(s, b);
  const std::size_t o = L.block(b);
  q.u = L.field(W::kU) + o;
  q.v = L.field(W::kV) + o;
  q.vn = L.field(W::kV) + L.block(b + 1);
  q.w = L.field(W::kW) + o;
  q.p = L.field(W::kP) + o;
  q.body = L.body() + o / 8;
  q.b = b;
  q.col = -1;
  q.rows = rows_of(L, b);
  q.ahead = plane_values(s, tab, cxy, s.grid.is, b, q.rows);
  q.carry = {_mm512_setzero_pd(), _mm512_setzero_pd(), 0};
  return q;
}

// Moves a stream to column c of the planes' np columns.
QV_AVX512 void to_column(Stream& q, const Store& s, const Layers& tab, const double* cxy, int c, int np) {
  q.col = c;
  q.behind = q.ahead;
  q.ahead = plane_values(s, tab, cxy, plane_of(s, c), q.b, q.rows);
  q.cells = column_lanes(c, 0, np, q.rows);
  // the last plane's uu face above is the outflow face: not moved
  q.ucells = column_lanes(c, 0, np - 1, q.rows);
}

// Which quotients of a step come from reciprocals (quotient.hpp); the
// others are divided.  Every choice gives the same bits.
struct Quotients {
  bool divergence;   // the three of D and the one of dp, a chain through D
  bool corrections;  // the six of the faces, which share one dividend
};

// Step col S + r of a stream: the cells of the step, each as the ordered
// sweep's cell.  Blend: r < 7, when the lanes may lie in two columns.
template <Quotients F, bool Blend>
QV_AVX512_INLINE void step(const SweepConst& k, const Layers& tab, const Stream& q, Carry& c, int r) {
  const __m512d dt = _mm512_set1_pd(k.dt), esp2 = _mm512_set1_pd(k.esp2);
  const __m512d sign = _mm512_set1_pd(-0.0);
  const __m512d negomg = _mm512_xor_pd(_mm512_set1_pd(k.omg), sign);  // -omg
  const __m512d twodt = _mm512_mul_pd(_mm512_set1_pd(2.0), dt);        // 2 * dt
  const __m512d zero = _mm512_setzero_pd();
  const __m512i up1 = _mm512_set_epi64(6, 5, 4, 3, 2, 1, 0, 0);  // lane g takes lane g-1

  const unsigned beh = Blend ? lanes_behind(r) : 0u;
  const __mmask8 act = q.cells.at(r, k.S, beh);
  const __mmask8 uact = q.ucells.at(r, k.S, beh);
  const PlaneValues x = Blend ? blend(beh, q.ahead, q.behind) : q.ahead;
  const std::size_t t = static_cast<std::size_t>(q.col) * k.S + static_cast<std::size_t>(r);
  const std::size_t e = t * 8, eu = u_above(e, k.S);
  const std::size_t z = static_cast<std::size_t>(r) * 8;
  const __m512d dz = _mm512_loadu_pd(tab.dz + z);
  const __m512d dzc0 = _mm512_loadu_pd(tab.dzc0 + z);
  const __m512d dzc1 = _mm512_loadu_pd(tab.dzc1 + z);
  const __m512d czk = _mm512_loadu_pd(tab.cz + z);
  const __m512d rdz = _mm512_loadu_pd(tab.rdz + z);
  const __m512d rdzc0 = _mm512_loadu_pd(tab.rdzc0 + z);
  const __m512d rdzc1 = _mm512_loadu_pd(tab.rdzc1 + z);

  const __m512d u0 = _mm512_load_pd(q.u + e), u1 = _mm512_load_pd(q.u + eu), p0 = _mm512_load_pd(q.p + e);
  const __m512d v1 = v_above(q.v, q.vn, t);
  // v face below: lane 0 from memory, lane g from lane g-1's last step
  const __m512d v0 = _mm512_mask_blend_pd(0xFE, _mm512_load_pd(q.v + e), _mm512_permutexvar_pd(up1, c.v));
  // w faces: below from this lane's last step where it had a cell
  const __m512d w1 = _mm512_load_pd(q.w + e + 8);
  const __m512d w0 = _mm512_mask_blend_pd(c.had, _mm512_load_pd(q.w + e), c.w);

  constexpr bool E = F.divergence, C = F.corrections;
  __m512d D = _mm512_add_pd(_mm512_add_pd(over<E>(dividend<E>(_mm512_sub_pd(u1, u0)), x.dxi, x.rdxi),
                                          over<E>(dividend<E>(_mm512_sub_pd(v1, v0)), q.y.dyj, q.y.rdyj)),
                            over<E>(dividend<E>(_mm512_sub_pd(w1, w0)), dz, rdz));
  const __m512d cc = _mm512_add_pd(x.cij, czk);
  const __mmask8 body = static_cast<__mmask8>(q.body[t]);
  D = _mm512_mask_blend_pd(static_cast<__mmask8>(body | static_cast<__mmask8>(~act)), D, zero);
  // dp = -omg * D / (2 * dt * cc); from reciprocals, the reciprocal of
  // 2 dt cc, off the chain through D, is the one division left
  const __m512d den = _mm512_mul_pd(twodt, cc);
  const __m512d rden = E ? _mm512_div_pd(_mm512_set1_pd(1.0), den) : den;
  const __m512d dp = over<E>(dividend<E>(_mm512_mul_pd(negomg, D)), den, rden);
  const __m512d absD = _mm512_andnot_pd(sign, D);
  const __mmask8 big = _mm512_mask_cmp_pd_mask(act, absD, esp2, _CMP_GE_OQ);
  const quotient::Dividend8 dpdt = dividend<C>(_mm512_mul_pd(dp, dt));
  const __m512d w1n = _mm512_add_pd(w1, over<C>(dpdt, dzc1, rdzc1));
  const __m512d v1n = _mm512_add_pd(v1, over<C>(dpdt, q.y.dyc1, q.y.rdyc1));
  _mm512_store_pd(q.u + eu, _mm512_mask_add_pd(u1, uact, u1, over<C>(dpdt, x.dxc1, x.rdxc1)));
  _mm512_store_pd(q.u + e, _mm512_mask_sub_pd(u0, act, u0, over<C>(dpdt, x.dxc0, x.rdxc0)));
  _mm512_store_pd(q.v + e, _mm512_mask_sub_pd(v0, act, v0, over<C>(dpdt, q.y.dyc0, q.y.rdyc0)));
  // a lane at its column's top slot stores the top face it carries
  _mm512_store_pd(q.w + e, _mm512_mask_sub_pd(w0, act, w0, over<C>(dpdt, dzc0, rdzc0)));
  _mm512_store_pd(q.p + e, _mm512_mask_add_pd(p0, big, p0, dp));
  // lane 7's v face above waits in the next block for that block's lane 0
  if (act & 0x80) _mm_storeh_pd(q.vn + (t - 7) * 8, _mm512_extractf64x2_pd(v1n, 3));
  c = {v1n, w1n, act};
}

// Steps r0..r1-1 of the current column of n streams side by side, the
// carries in copies that no store to the fields can touch, so that they
// stay in registers.
template <int N, Quotients F, bool Blend>
QV_AVX512_INLINE void steps(const SweepConst& k, const Layers& tab, Stream* q, int r0, int r1) {
  Carry c[N];
  for (int n = 0; n < N; ++n) c[n] = q[n].carry;
  for (int r = r0; r < r1; ++r)
#pragma GCC unroll 4
    for (int n = 0; n < N; ++n) step<F, Blend>(k, tab, q[n], c[n], r);
  for (int n = 0; n < N; ++n) q[n].carry = c[n];
}

template <Quotients F, bool Blend>
QV_AVX512 void steps_of(const SweepConst& k, const Layers& tab, Stream* q, int n, int r0, int r1) {
  if (n == 2)
    steps<2, F, Blend>(k, tab, q, r0, r1);
  else
    steps<1, F, Blend>(k, tab, q, r0, r1);
}
static_assert(kSideBySide == 2, "steps_of runs one or two streams");

struct SweepWork {
  LaneFields& L;
  const Store& s;
  const double* cxy;
  const SweepConst k;
  const Layers tab;
  SweepForm form;  // reciprocals, mixed or divider
  int np;       // planes of cells: columns 0..np-1 of a stream
  int nblocks;  // blocks with cells
  int* count;   // steps done by the last block of each unit, kCountStride apart
};

// Waits until the block before unit u's first has done `need` steps.
inline void wait_steps(const SweepWork& w, int u, int need, int& seen) {
  if (seen >= need) return;
  const int* c = &w.count[(u - 1) * kCountStride];
  tuned::wait_for(c, need);
  seen = std::atomic_ref<const int>(*c).load(std::memory_order_acquire);
}

inline void publish_steps(const SweepWork& w, int u, int n) {
  std::atomic_ref<int> a(w.count[u * kCountStride]);
  a.store(n, std::memory_order_release);
  a.notify_all();
}

// Unit u: blocks kSideBySide u onwards, each one column behind the one
// before.  Block b-1 writes lane 0 of block b's step t at its own step
// t + 7, and reads there before block b moves it; block b loads the
// vector of step t + 1 at its step t.  So block b runs step t once block
// b-1 has done t + 9 steps: the unit's first block, at column Q, waits for
// (Q + 1) S + 8 steps of the block before (within a unit the lag is S).
template <Quotients F>
QV_AVX512 void sweep_unit(const SweepWork& w, int u, bool wait) {
  const int S = w.k.S, np = w.np;
  const int b0 = kSideBySide * u, m = std::min(kSideBySide, w.nblocks - b0);
  const int total = np * S + 7;  // steps of a stream
  Stream q[kSideBySide];
  for (int n = 0; n < m; ++n) q[n] = stream_at(w.L, w.s, w.tab, w.cxy, b0 + n);
  int seen = 0;
  for (int Q = 0; Q <= np + m - 1; ++Q) {
    if (wait) wait_steps(w, u, std::min(total, (Q + 1) * S + 8), seen);
    // streams at columns 0..np (np: the last lanes finishing plane np - 1)
    const int lo = std::max(0, Q - np), hi = std::min(m - 1, Q);
    for (int n = lo; n <= hi; ++n) to_column(q[n], w.s, w.tab, w.cxy, Q - n, np);
    steps_of<F, true>(w.k, w.tab, q + lo, hi - lo + 1, 0, 7);
    const int lo_full = Q - lo == np ? lo + 1 : lo;
    if (lo_full <= hi) steps_of<F, false>(w.k, w.tab, q + lo_full, hi - lo_full + 1, 7, S);
    const int c = Q - (m - 1);  // the last block's column
    publish_steps(w, u, c < 0 ? 0 : c >= np ? total : (c + 1) * S);
  }
}

// The sweep's form on this processor.  With reciprocals, a step is a long
// run of multiplications and fused operations; the mixed form hands the
// four quotients of the chain through D to the divider, which otherwise
// idles, and keeps the six corrections on reciprocals.  Which is faster
// depends on the processor's divider, so the first sweeps of a process
// take the two forms in turn, timed, and from then on the faster is kept.
// The forms give the same bits, so these are the run's own sweeps.
class FormTrial {
 public:
  SweepForm next() const { return kept_ ? *kept_ : n_ % 2 == 0 ? SweepForm::reciprocals : SweepForm::mixed; }
  bool deciding() const { return !kept_; }
  void timed(SweepForm f, double seconds) {
    const int m = f == SweepForm::mixed;
    best_[m] = std::min(best_[m], seconds);
    if (++n_ == 2 * kEach) kept_ = best_[1] < best_[0] ? SweepForm::mixed : SweepForm::reciprocals;
  }

 private:
  static constexpr int kEach = 4;  // sweeps of each form timed
  int n_ = 0;
  double best_[2] = {1e300, 1e300};
  std::optional<SweepForm> kept_;
};

void run_sweep(LaneFields& L, const Store& s, double esp2, const std::vector<double>& cxy, const std::vector<double>& cz,
               SweepForm form) {
  Store& ws = const_cast<Store&>(s);  // the work space of the pass
  const Layers tab = fill_layers(s, L, cz.data(), ws.work.work_skew);
  const int nblocks = (L.ncol + 7) / 8;
  const int nunits = (nblocks + kSideBySide - 1) / kSideBySide;
  std::fill(L.steps_done.begin(), L.steps_done.end(), 0);
  const int np = s.grid.ie - s.grid.is;
  const SweepWork w{L, s, cxy.data(), SweepConst{s.run.dt, s.run.omg, esp2, L.S}, tab, form, np, nblocks,
                    L.steps_done.data()};
  auto unit = [&](int u, bool wait) {
    if (w.form == SweepForm::reciprocals)
      sweep_unit<Quotients{true, true}>(w, u, wait);
    else if (w.form == SweepForm::mixed)
      sweep_unit<Quotients{false, true}>(w, u, wait);
    else
      sweep_unit<Quotients{false, false}>(w, u, wait);
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

}  // namespace

void lanes_correction_sweep(LaneFields& L, const Store& s, double esp2, const std::vector<double>& cxy,
                            const std::vector<double>& cz, SweepForm form) {
  static FormTrial trial;  // the sweeps run on the calling thread, one at a time
  const bool timed = form == SweepForm::faster && trial.deciding();
  if (form == SweepForm::faster) form = trial.next();
  if (form != SweepForm::divider && !tuned::reciprocals_usable(s, &cxy, &cz)) form = SweepForm::divider;
  const auto t0 = std::chrono::steady_clock::now();
  run_sweep(L, s, esp2, cxy, cz, form);
  if (timed && form != SweepForm::divider)
    trial.timed(form, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
}

// ---------------------------------------------------------------------------
// Divergence scan

namespace {

// What the scan reads of block b, at column col.
struct ScanStream {
  RowValues y;
  PlaneValues ahead, behind;
  const double *u, *v, *vn, *w;
  const std::uint8_t* body;
  int b, col;
  unsigned rows;
  ColumnLanes cells;
};

ScanStream scan_stream(const LaneFields& L, const Store& s, int b) {
  using W = LaneFields::Which;
  const std::size_t o = L.block(b);
  ScanStream k;
  k.y = row_values(s, b);
  k.u = L.field(W::kU) + o;
  k.v = L.field(W::kV) + o;
  k.vn = L.field(W::kV) + L.block(b + 1);
  k.w = L.field(W::kW) + o;
  k.body = L.body() + o / 8;
  k.b = b;
  k.col = -1;
  k.rows = rows_of(L, b);
  return k;
}

// Which of the scan's three quotients come from reciprocals; the others
// are divided.  They do not wait on each other, so the divider and the
// multipliers may work side by side.
struct ScanQuotients {
  bool x, y, z;
};

// The divergence of the cells at step col S + r, and the lanes that are
// fluid cells.
template <ScanQuotients F, bool Blend>
QV_AVX512_INLINE __m512d divergence_at(const ScanStream& k, const Layers& tab, int S, int r, __mmask8& fluid) {
  const unsigned beh = Blend ? lanes_behind(r) : 0u;
  const PlaneValues x = Blend ? blend(beh, k.ahead, k.behind) : k.ahead;
  const std::size_t t = static_cast<std::size_t>(k.col) * S + static_cast<std::size_t>(r);
  const std::size_t e = t * 8, z = static_cast<std::size_t>(r) * 8;
  const __m512d du = _mm512_sub_pd(_mm512_load_pd(k.u + u_above(e, S)), _mm512_load_pd(k.u + e));
  const __m512d dv = _mm512_sub_pd(v_above(k.v, k.vn, t), _mm512_load_pd(k.v + e));
  const __m512d dw = _mm512_sub_pd(_mm512_load_pd(k.w + e + 8), _mm512_load_pd(k.w + e));
  fluid = static_cast<__mmask8>(k.cells.at(r, S, beh) & ~k.body[t]);
  return _mm512_add_pd(_mm512_add_pd(over<F.x>(dividend<F.x>(du), x.dxi, x.rdxi),
                                     over<F.y>(dividend<F.y>(dv), k.y.dyj, k.y.rdyj)),
                       over<F.z>(dividend<F.z>(dw), _mm512_loadu_pd(tab.dz + z), _mm512_loadu_pd(tab.rdz + z)));
}

// Steps r0..r1-1 of the current column: the largest |D| of the fluid cells
// into vmax, the lanes with a D not finite into bad.
template <ScanQuotients F, bool Blend>
QV_AVX512_INLINE void largest(const ScanStream& k, const Layers& tab, int S, int r0, int r1, __m512d& vmax,
                              __mmask8& bad) {
  const __m512d sign = _mm512_set1_pd(-0.0);
  for (int r = r0; r < r1; ++r) {
    __mmask8 fluid;
    const __m512d D = divergence_at<F, Blend>(k, tab, S, r, fluid);
    // D - D is 0 for every finite D
    bad |= _mm512_mask_cmp_pd_mask(fluid, _mm512_sub_pd(D, D), _mm512_setzero_pd(), _CMP_NEQ_UQ);
    vmax = _mm512_mask_max_pd(vmax, fluid, vmax, _mm512_andnot_pd(sign, D));
  }
}

// Steps r0..r1-1 of the current column: the first fluid cell in scan order
// whose |D| equals dm into c (found: c holds one).
template <ScanQuotients F, bool Blend>
QV_AVX512_INLINE void first_equal(const ScanStream& k, const Store& s, const Layers& tab, int S, int r0, int r1,
                                  double dm, tuned::ScanResult& c, bool& found) {
  const __m512d sign = _mm512_set1_pd(-0.0);
  for (int r = r0; r < r1; ++r) {
    __mmask8 fluid;
    const __m512d D = divergence_at<F, Blend>(k, tab, S, r, fluid);
    unsigned hit = _mm512_mask_cmp_pd_mask(fluid, _mm512_andnot_pd(sign, D), _mm512_set1_pd(dm), _CMP_EQ_OQ);
    for (; hit; hit &= hit - 1) {
      const int g = __builtin_ctz(hit);
      const int pos = k.col * S + r - g;
      const int i = s.grid.is + pos / S, kk = s.grid.ks + pos % S, j = s.grid.js + 8 * k.b + g;
      if (!found || tuned::before(kk, j, i, c)) c.li = i, c.lj = j, c.lk = kk, found = true;
    }
  }
}

// The scan of the planes of columns c0..c1-1, every block.  Each column's
// largest |D| is located there when it may be the pass's first largest.
template <ScanQuotients F>
QV_AVX512 tuned::ScanResult scan_columns(const LaneFields& L, const Store& s, const Layers& tab, int c0, int c1) {
  tuned::ScanResult res;
  __mmask8 bad = 0;
  const int S = L.S;
  const int nblocks = (L.ncol + 7) / 8;
  for (int b = 0; b < nblocks; ++b) {
    ScanStream k = scan_stream(L, s, b);
    k.ahead = plane_values(s, tab, nullptr, plane_of(s, c0), b, k.rows);
    for (int q = c0; q <= c1; ++q) {
      k.col = q;
      k.behind = k.ahead;
      k.ahead = plane_values(s, tab, nullptr, plane_of(s, q), b, k.rows);
      k.cells = column_lanes(q, c0, c1, k.rows);
      const int r1 = q < c1 ? S : 7;  // column c1: the last lanes finishing plane c1 - 1
      __m512d vmax = _mm512_setzero_pd();
      largest<F, true>(k, tab, S, 0, 7, vmax, bad);
      largest<F, false>(k, tab, S, 7, r1, vmax, bad);
      const double dm = _mm512_reduce_max_pd(vmax);
      if (dm == 0 || dm < res.dm) continue;
      tuned::ScanResult c;
      bool found = false;
      first_equal<F, true>(k, s, tab, S, 0, 7, dm, c, found);
      first_equal<F, false>(k, s, tab, S, 7, r1, dm, c, found);
      if (dm > res.dm || tuned::before(c.lk, c.lj, c.li, res)) {
        res.dm = dm;
        res.li = c.li, res.lj = c.lj, res.lk = c.lk;
      }
    }
  }
  res.finite = bad == 0;
  return res;
}

// The mixed form: the quotients in x and y by the divider, in z from
// reciprocals (on the development machine faster than dividing only y).
constexpr ScanQuotients kMixedScan{false, false, true};

tuned::ScanResult scan_in_parts(const LaneFields& L, const Store& s, ScanForm form) {
  Store& ws = const_cast<Store&>(s);
  const Layers tab = fill_layers(s, L, nullptr, ws.work.work_skew);
  const int n = s.grid.ie - s.grid.is;
  const int T = tuned::threads_for(static_cast<double>(n) * L.ncol * L.nk, n);
  tuned::ScanResult part[64];
  const int nt = std::min(T, 64);
#pragma omp parallel for num_threads(nt) schedule(static, 1)
  for (int t = 0; t < nt; ++t) {
    const int c0 = n * t / nt, c1 = n * (t + 1) / nt;
    if (c0 >= c1)
      part[t] = tuned::ScanResult{};
    else
      part[t] = form == ScanForm::reciprocals ? scan_columns<ScanQuotients{true, true, true}>(L, s, tab, c0, c1)
                : form == ScanForm::mixed     ? scan_columns<kMixedScan>(L, s, tab, c0, c1)
                                              : scan_columns<ScanQuotients{false, false, false}>(L, s, tab, c0, c1);
  }
  return tuned::first_largest(part, nt);
}

// The form that scans fastest on this processor: each scans the same
// fields three times, the forms in turn, and the best time of each counts.
// Processors of one kind differ most in how fast they divide, so this is
// timed, not assumed.
ScanForm fastest_scan_form(const LaneFields& L, const Store& s) {
  using clk = std::chrono::steady_clock;
  constexpr ScanForm forms[] = {ScanForm::reciprocals, ScanForm::mixed, ScanForm::divider};
  double best[3] = {1e300, 1e300, 1e300};
  for (int round = 0; round < 3; ++round)
    for (int f = 0; f < 3; ++f) {
      const auto t0 = clk::now();
      scan_in_parts(L, s, forms[f]);
      best[f] = std::min(best[f], std::chrono::duration<double>(clk::now() - t0).count());
    }
  return forms[std::min_element(best, best + 3) - best];
}

}  // namespace

bool lanes_divergence_scan(const LaneFields& L, const Store& s, double& dm, int& li, int& lj, int& lk, ScanForm form) {
  if (form != ScanForm::divider && !tuned::reciprocals_usable(s)) form = ScanForm::divider;
  if (form == ScanForm::faster) {
    static const ScanForm fastest = fastest_scan_form(L, s);
    form = fastest;
  }
  const tuned::ScanResult r = scan_in_parts(L, s, form);
  dm = r.dm;
  li = r.li, lj = r.lj, lk = r.lk;
  return r.finite;
}

}  // namespace qv
