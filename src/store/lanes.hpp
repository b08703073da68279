// The four fields of the pressure iteration in lane order.
//
// The correction sweep runs eight neighbouring rows j as the eight lanes of
// one vector.  Each lane walks its row as one stream through all planes,
// the columns of the row end to end, lane g one step behind lane g-1.  In
// the store's own order the eight cells of one such step lie far apart.
// For the passes of one call of hsmac2, which may be hundreds, the four
// fields the iteration touches are therefore copied once into an order of
// their own, in which the eight cells of a step are one vector:
//
//   cell (i, j, k), with j = js + 8 b + g, lies at position
//   c = (i - is) S + (k - ks) of lane g of block b, S = nk + 1 slots a
//   column (the last slot holds the column's top w face, ww(i, j, ke));
//   lane g takes position c at step c + g: element 8 (c + g) + g of the
//   block's stream.
//
// The copies hold exactly the faces and cells the scan, the sweep and the
// restore read or write (uu planes is..ie, the others is..ie-1; vv rows to
// je, ww layers to ke); copied back after the last pass, they leave the
// store as the passes on the store itself would have left it.  Everything
// else in the copies is padding that no cell reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace qv {

struct Store;

// Storage on 64-byte boundaries, so that each step's vector is one aligned load.
template <class T>
struct Aligned64 {
  using value_type = T;
  Aligned64() = default;
  template <class U>
  Aligned64(const Aligned64<U>&) {}
  T* allocate(std::size_t n) {
    const std::size_t bytes = (n * sizeof(T) + 63) / 64 * 64;
    void* p = std::aligned_alloc(64, bytes);
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <class U>
  bool operator==(const Aligned64<U>&) const { return true; }
};

// Doubles on 64-byte boundaries.
using AlignedDoubles = std::vector<double, Aligned64<double>>;

class LaneFields {
 public:
  enum Which { kU, kV, kW, kP };

  // Sizes the copies for the store's box (at start-up; later calls
  // allocate only if the box grew).
  void size_for(const Store& s);
  // uu, vv, ww, pp and the body cells in; uu, vv, ww, pp back.
  void gather(const Store& s);
  void scatter(Store& s) const;

  double& at(Which f, int i, int j, int k) { return field(f)[index(i, j, k)]; }
  double at(Which f, int i, int j, int k) const { return field(f)[index(i, j, k)]; }

  // planes is..ie, blocks of eight rows from js (one more than the rows
  // need, so that the last block has a neighbour), len steps a block
  int is = 0, js = 0, ks = 0;
  int nk = 0;    // cells per column, ke - ks
  int S = 0;     // slots per column, nk + 1
  int ncol = 0;  // rows of cells, je - js
  int nb = 0;
  std::size_t len = 0;
  // The first element of block b's stream.
  std::size_t block(int b) const { return static_cast<std::size_t>(b) * len * 8; }
  // The position of (i, k) in a stream.
  std::size_t position(int i, int k) const {
    return static_cast<std::size_t>(i - is) * static_cast<std::size_t>(S) + static_cast<std::size_t>(k - ks);
  }
  std::size_t index(int i, int j, int k) const {
    const int b = (j - js) / 8, g = (j - js) % 8;
    return block(b) + (position(i, k) + static_cast<std::size_t>(g)) * 8 + static_cast<std::size_t>(g);
  }
  double* field(Which f) { return mem_.data() + f * per_; }
  const double* field(Which f) const { return mem_.data() + f * per_; }
  // Bit g of body()[block(b) / 8 + t]: the cell of lane g at step t of
  // block b is a body cell.
  const std::uint8_t* body() const { return body_.data(); }

  // Steps a sweep's streams have done, for the hand-over between threads:
  // one count a block, kCountStride ints apart so that each has a cache
  // line of its own.
  static constexpr int kCountStride = 16;
  std::vector<int> steps_done;

 private:
  std::size_t per_ = 0;  // elements of one field
  AlignedDoubles mem_;
  std::vector<std::uint8_t> body_;
};

}  // namespace qv
