// The four fields of the pressure iteration in lane order.
//
// The correction sweep runs eight neighbouring columns as the eight lanes of
// one vector, column j0+g one layer behind column j0+g-1.  In the store's
// own order the eight cells of one such step lie far apart.  For the passes
// of one call of hsmac2, which may be hundreds, the four fields the
// iteration touches are therefore copied once into an order of their own,
// in which the eight cells of a step are one vector:
//
//   cell (i, j, k), with j = js + 8 b + g, is lane g of block (i, b),
//   at position m = k - ks + g: element 8 m + g of the block.
//
// The copies hold exactly the faces and cells the scan, the sweep and the
// restore read or write (uu planes is..ie, the others is..ie-1; vv columns
// to je, ww layers to ke); copied back after the last pass, they leave the
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

  // planes from is, blocks of eight columns from js (one more than the
  // columns need, so the last block has a neighbour), nm positions a block
  int is = 0, js = 0, ks = 0;
  int nk = 0;    // cells per column, ke - ks
  int ncol = 0;  // cell columns, je - js
  int nb = 0, nm = 0;
  std::size_t block(int i, int b) const {
    return (static_cast<std::size_t>(i - is) * nb + static_cast<std::size_t>(b)) * nm * 8;
  }
  std::size_t index(int i, int j, int k) const {
    const int b = (j - js) / 8, g = (j - js) % 8;
    return block(i, b) + static_cast<std::size_t>(k - ks + g) * 8 + static_cast<std::size_t>(g);
  }
  double* field(Which f) { return mem_.data() + f * per_; }
  const double* field(Which f) const { return mem_.data() + f * per_; }
  // Bit g of body()[block(i, b) / 8 + m]: the cell of lane g at position m
  // of block (i, b) is a body cell.
  const std::uint8_t* body() const { return body_.data(); }

 private:
  std::size_t per_ = 0;  // elements of one field
  std::vector<double, Aligned64<double>> mem_;
  std::vector<std::uint8_t> body_;
};

}  // namespace qv
