// The statistics sums of a step as the program runs them.  They must
// equal, bit for bit, stats::accumulate_in_order (statistics.cpp): every
// node velocity, modified pressure and sum.
//
// - Eight nodes of a column (i, j), k to k + 7, are the eight lanes of a
//   vector: the formulas (node_velocity_of, stats::node_terms,
//   stats::modified_pressure_of) are written once over their values, and
//   each lane does the operations of its node in the same order.  A column
//   whose length is not a multiple of eight ends with its last eight
//   nodes, of which those done before keep their sums.
// - A node's sub-grid stresses read the node velocities of its neighbours,
//   so every node velocity is in place before the sums start.  Both passes
//   share the planes i among the threads: each value belongs to one node
//   or cell.
// - Columns of fewer than eight cells take the recipe.
#include <immintrin.h>


#include "output/output.hpp"
#include "output/statistics.hpp"
#include "solver/vec8.hpp"

namespace qv {
namespace {

using vec8::vd, vec8::vm, vec8::ld, vec8::put;

enum class Part { velocities, sums };

// What the kernel reads besides the fields: the strides.
struct Sweep {
  Store* s;
  std::ptrdiff_t si, sj;  // strides of i and j (k is 1)
};

// Eight nodes (i, j, k0 + l), l = 0..7, read at their offsets.
struct Nodes {
  std::ptrdiff_t at0;  // index of (i, j, k0)
  const Sweep* w;
  int k0;
  vd at(const Field& f, int a, int b, int c) const { return ld(f.data() + at0 + a * w->si + b * w->sj + c); }
  vd dz(int c) const { return ld(w->s->grid.dz.data() + k0 + c); }
  vd dzc(int c) const { return ld(w->s->grid.dzc.data() + k0 + c); }
};

}  // namespace

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
namespace {
#include "output/statistics_lanes.inc"
}  // namespace
}  // namespace avx512
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
namespace {
#include "output/statistics_lanes.inc"
}  // namespace
}  // namespace avx2
#pragma GCC pop_options

namespace plain {
namespace {
#include "output/statistics_lanes.inc"
}  // namespace
}  // namespace plain

void stats::accumulate_on(Store& s, Isa isa) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je;
  if (s.grid.ke - s.grid.ks < 8) {  // columns too short for the lanes
    accumulate_in_order(s);
    return;
  }
  const Sweep w{&s, static_cast<std::ptrdiff_t>(s.flow.uu.stride_i()), static_cast<std::ptrdiff_t>(s.flow.uu.stride_j())};
  void (*column)(const Sweep&, int, int, Part) =
      isa == Isa::avx512 ? avx512::column : isa == Isa::avx2 ? avx2::column : plain::column;
#pragma omp parallel
  {
#pragma omp for schedule(static)
    for (int i = is; i <= ie; ++i)
      for (int j = js; j <= je; ++j) column(w, i, j, Part::velocities);
#pragma omp for schedule(static)
    for (int i = is; i <= ie; ++i)
      for (int j = js; j <= je; ++j) column(w, i, j, Part::sums);
  }
}

}  // namespace qv
