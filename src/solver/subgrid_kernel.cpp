// The eddy viscosity and the shear-stress sums as the program runs them.
// They must equal, bit for bit, sgs::eddy_viscosity_in_order (subgrid.cpp):
// every nut of a fluid cell and every stress sum.
//
// - Eight cells of a column (i, j), k to k + 7, are the eight lanes of a
//   vector: the recipe (sgs::smagorinsky, corner_viscosity_of) is written
//   once over its values, and each lane does the operations of its cell in
//   the same order.  Body cells are computed too but not stored.  A column
//   whose length is not a multiple of eight ends with the last eight cells,
//   of which only those not yet done are stored.
// - The cells of a column take their nut first, eight at a time, then
//   their corner viscosities: a corner reads nut of k - 1 and k only, and
//   nut reads no nut, so each corner sees what it sees in the defining
//   order.
// - Threads take blocks of planes i.  A corner reads nut of the plane
//   before, so each thread first computes the nut of its block's last
//   plane, which the next block's first plane reads, and sweeps its block
//   after all have done so.
#include "solver/subgrid.hpp"
#include "solver/vec8.hpp"

#include <immintrin.h>
#include <omp.h>

#include <cstdint>
#include <cstring>

namespace qv {
namespace {

using vec8::vd, vec8::vm, vec8::ld, vec8::put;
typedef std::int32_t vf __attribute__((vector_size(32)));

// What the kernel reads besides the fields: the strides and the lines.
struct Sweep {
  Store* s;
  std::ptrdiff_t si, sj;  // strides of i and j (k is 1)
  bool noslip;
};

// Eight cells (i, j, k0 + l), l = 0..7, read at their offsets.
struct EightCells {
  std::ptrdiff_t at0;  // index of (i, j, k0)
  const Sweep* w;
  const Line* dzl;
  int k0;
  vd at(const Field& f, int a, int b, int c) const { return ld(f.data() + at0 + a * w->si + b * w->sj + c); }
  vd dz(int c) const { return ld(dzl->data() + k0 + c); }
  vm body(int a, int b, int c) const {
    vf f;
    std::memcpy(&f, w->s->flow.iflag.data() + at0 + a * w->si + b * w->sj + c, sizeof f);
    return __builtin_convertvector(f != 0, vm);
  }
  static vd zero_where(vm m, vd x) { return m ? vd{} : x; }
};

}  // namespace

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
namespace {
struct Cells : EightCells {
  static vd root(vd x) { return reinterpret_cast<vd>(_mm512_maskz_sqrt_pd(0xff, reinterpret_cast<__m512d>(x))); }
};
#include "solver/subgrid_lanes.inc"
}  // namespace
}  // namespace avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
namespace {
struct Cells : EightCells {
  static vd root(vd x) {
    __m256d h[2];
    std::memcpy(h, &x, sizeof x);
    h[0] = _mm256_sqrt_pd(h[0]);
    h[1] = _mm256_sqrt_pd(h[1]);
    std::memcpy(&x, h, sizeof x);
    return x;
  }
};
#include "solver/subgrid_lanes.inc"
}  // namespace
}  // namespace avx2
#pragma GCC pop_options

namespace plain {
namespace {
struct Cells : EightCells {
  static vd root(vd x) {
    for (int l = 0; l < 8; ++l) x[l] = std::sqrt(x[l]);
    return x;
  }
};
#include "solver/subgrid_lanes.inc"
}  // namespace
}  // namespace plain

void sgs::eddy_viscosity_on(Store& s, Isa isa) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je;
  const Sweep w{&s, static_cast<std::ptrdiff_t>(s.flow.nut.stride_i()), static_cast<std::ptrdiff_t>(s.flow.nut.stride_j()),
                sgs::no_slip_at_body(s)};
  void (*column)(const Sweep&, int, int, sgs::Part) =
      isa == Isa::avx512 ? avx512::column : isa == Isa::avx2 ? avx2::column : plain::column;
#pragma omp parallel
  {
    const long long n = ie - is, nth = omp_get_num_threads(), t = omp_get_thread_num();
    const int i0 = is + static_cast<int>(n * t / nth), i1 = is + static_cast<int>(n * (t + 1) / nth);
    const int handed_on = t + 1 < nth && i1 > i0 ? i1 - 1 : -1;  // nut done before the sweep
    if (handed_on >= 0)
      for (int j = js; j <= je - 1; ++j) column(w, handed_on, j, sgs::Part::viscosity);
#pragma omp barrier
    for (int i = i0; i < i1; ++i)
      for (int j = js; j <= je - 1; ++j)
        column(w, i, j, i == handed_on ? sgs::Part::stresses : sgs::Part::both);
  }
}

}  // namespace qv
