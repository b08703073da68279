// Pieces of the explicit momentum terms shared by the recipe, point by
// point in the defining order (momentum.cpp), and the tuned kernel
// (momentum_kernel.cpp), which must give the same bits.
#pragma once

#include <array>
#include <cstddef>

#include "solver/isa.hpp"
#include "store/store.hpp"

namespace qv::mom {

// Weights of the four-point derivative: [0] over m-2..m+1 (backward-biased
// set), [1] over m-1..m+2 (forward-biased set).
using Weights = std::array<double, 4>;
using WeightSets = std::array<Weights, 2>;

struct Axis {
  const Line* X;  // grid-line coordinates
  const Line* W;  // cell widths
  const Line* C;  // centre distances
  int lo, hi;     // first and last active index of the direction
  bool walls;     // non-periodic (y, z) or always (x)
  // per index: own[m] at the face points, cross[m] at the cell centres
  const WeightSets* own;
  const WeightSets* cross;
};

// Everything a sweep reads besides the fields: the three axes with their
// four-point weights (built into the store's work space) and the strides.
struct Stencil {
  Store& s;
  Axis ax[3];
  Field* comp[3];         // uu, vv, ww
  std::ptrdiff_t sd[3];   // linear strides of i, j, k (shared by every field)
  explicit Stencil(Store& st);
};

// One velocity point of the fu (D = 0), fv (1) or fw (2) sweep, in place:
// ghosts, nut copies and f(i,j,k).
template <int D>
void point(const Stencil& st, int i, int j, int k);

// The tuned kernel (momentum_terms) on the given instruction set; the
// processor must have it.  For the tests of every path.
using qv::Isa;
void momentum_terms_on(Store& s, Isa isa);

}  // namespace qv::mom
