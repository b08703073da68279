// What the tuned kernels of the pressure iteration share: the processor
// check, the test for reciprocal quotients, the plane hand-over between
// threads and the number of threads a pass gets.
#pragma once

#include <immintrin.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "solver/quotient.hpp"
#include "store/store.hpp"

namespace qv::tuned {

inline bool have_avx512() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                          __builtin_cpu_supports("avx512vl");
  return yes;
}

// True when the reciprocal quotients may stand in for the divisions of the
// scan and the sweep: the processor has the eight-lane kernels (and so an
// fma), and every divisor, dx dy dz, dxc dyc dzc and (given cxy and cz) 2 dt c,
// lies in the range quotient::divisor_ok allows.  2 dt c is monotone in the
// sums cxy + cz, so their least and largest bound it.
inline bool reciprocals_usable(const Store& s, const std::vector<double>* cxy_p = nullptr,
                        const std::vector<double>* cz_p = nullptr) {
  if (!have_avx512()) return false;
  bool ok = true;
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    ok = ok && quotient::divisor_ok(s.grid.dxc(i)) && (i == s.grid.ie || quotient::divisor_ok(s.grid.dx(i)));
  for (int j = s.grid.js; j <= s.grid.je; ++j)
    ok = ok && quotient::divisor_ok(s.grid.dyc(j)) && (j == s.grid.je || quotient::divisor_ok(s.grid.dy(j)));
  for (int k = s.grid.ks; k <= s.grid.ke; ++k)
    ok = ok && quotient::divisor_ok(s.grid.dzc(k)) && (k == s.grid.ke || quotient::divisor_ok(s.grid.dz(k)));
  if (!ok || !cxy_p) return ok;
  const std::vector<double>&cxy = *cxy_p, &cz = *cz_p;
  double lo = cz[static_cast<std::size_t>(s.grid.ks)], hi = lo;
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
    lo = std::min(lo, cz[static_cast<std::size_t>(k)]);
    hi = std::max(hi, cz[static_cast<std::size_t>(k)]);
  }
  double clo = cxy[static_cast<std::size_t>(s.grid.is) * s.flow.iflag.nj() + s.grid.js - 1], chi = clo;
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) {
      const double c = cxy[static_cast<std::size_t>(i) * s.flow.iflag.nj() + j - 1];
      if (!(c == c)) return false;
      clo = std::min(clo, c);
      chi = std::max(chi, c);
    }
  return lo == lo && hi == hi && quotient::divisor_ok(2 * s.run.dt * (clo + lo)) &&
         quotient::divisor_ok(2 * s.run.dt * (chi + hi));
}

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

// Progress of the planes, for the threads: a plane's count is the number of
// its groups done (the columns left over after the last group count as one
// more); group J of plane i may start once plane i-1 has done J + 1.
struct Progress {
  int* count;
  void wait(int i, int at_least, bool needed) const {
    if (needed) wait_for(&count[i - 1], at_least);
  }
  void done(int i, int n) const {
    std::atomic_ref<int> a(count[i]);
    a.store(n, std::memory_order_release);
    a.notify_all();
  }
};

// Threads for a pass over `cells` cells divided into `parts` pieces: the
// threads OpenMP gives us, but no more than leave each thread a fair share
// of work (a thread that waits for another costs more than it gains on a
// small grid, above all on a busy machine).  QV_CELLS_PER_THREAD sets that
// share (default 16384; 1 divides even the tiniest grid).
inline int threads_for(double cells, int parts) {
  const char* e = std::getenv("QV_CELLS_PER_THREAD");
  const double v = e ? std::atof(e) : 0;
  const double share = v >= 1 ? v : 16384.0;
  const int by_size = static_cast<int>(std::max(1.0, cells / share));
  return std::max(1, std::min({omp_get_max_threads(), parts, by_size}));
}

// The largest divergence of a part of the scan and where it lies first.
struct ScanResult {
  double dm = 0;
  int li = 0, lj = 0, lk = 0;
  bool finite = true;
};

// True when (k, j, i) comes first in the scan's k-outer, i-inner order.
inline bool before(int k, int j, int i, const ScanResult& r) {
  return k < r.lk || (k == r.lk && (j < r.lj || (j == r.lj && i < r.li)));
}

// The first largest of the parts of a scan, taken in scan order.
inline ScanResult first_largest(const ScanResult* part, int n) {
  ScanResult r;
  for (int t = 0; t < n; ++t) {
    const ScanResult& p = part[t];
    r.finite = r.finite && p.finite;
    if (p.dm == 0 || p.dm < r.dm) continue;
    if (p.dm > r.dm || before(p.lk, p.lj, p.li, r)) {
      r.dm = p.dm;
      r.li = p.li, r.lj = p.lj, r.lk = p.lk;
    }
  }
  return r;
}

// The quotients of the eight-lane kernels: from reciprocals (quotient.hpp),
// or with Exact false by the divider.
template <bool Exact>
QV_QUOTIENT_AVX512 quotient::Dividend8 dividend(__m512d a) {
  if constexpr (Exact) return quotient::dividend8(a);
  return {a, 0};
}
template <bool Exact>
QV_QUOTIENT_AVX512 __m512d over(const quotient::Dividend8& a, __m512d b, __m512d y) {
  if constexpr (Exact) return quotient::divide8(a, b, y);
  return _mm512_div_pd(a.a, b);
}

}  // namespace qv::tuned
