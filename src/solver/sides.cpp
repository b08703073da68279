// Edge lines of the outer box, where two sides meet.
#include <algorithm>

#include "solver/solver.hpp"
#include "solver/tuned_support.hpp"

namespace qv {

SideMap side_i(const Store& s) { return {s.grid.is, s.grid.ie - 1, false}; }
SideMap side_j(const Store& s) { return {s.grid.js, s.grid.je - 1, s.run.iyper == 0}; }
SideMap side_k(const Store& s) { return {s.grid.ks, s.grid.ke - 1, s.run.izper == 0}; }

void fill_sides(Field& q, const SideMap& m, int axis, std::initializer_list<int> ghosts, int a1, int a2, int b1,
                int b2) {
  // the points in the store's order (the second index b innermost), the
  // first index shared among the threads
  const std::size_t count = ghosts.size() * static_cast<std::size_t>(std::max(0, a2 - a1 + 1)) *
                            static_cast<std::size_t>(std::max(0, b2 - b1 + 1));
#pragma omp parallel for schedule(static) num_threads(tuned::threads_for(static_cast<double>(count), a2 - a1 + 1))
  for (int a = a1; a <= a2; ++a)
    for (int b = b1; b <= b2; ++b) {
      if (axis == 2 && b + 8 <= b2)
        for (const int n : ghosts) __builtin_prefetch(&q(a, b + 8, n), 1);
      for (const int n : ghosts) {
        if (axis == 0)
          q(n, a, b) = q(m(n), a, b);
        else if (axis == 1)
          q(a, n, b) = q(a, m(n), b);
        else
          q(a, b, n) = q(a, b, m(n));
      }
    }
}

void edge_lines_x(Field& q, const Store& s, int i1, int i2) {
  const SideMap mj = side_j(s), mk = side_k(s);
  const int gj[2] = {s.grid.js - 1, s.grid.je}, gk[2] = {s.grid.ks - 1, s.grid.ke};
  for (int i = i1; i <= i2; ++i)
    for (int k : gk)
      for (int j : gj) q(i, j, k) = q(i, mj(j), mk(k));
}

void edge_lines_y(Field& q, const Store& s, int j1, int j2) {
  const SideMap mi = side_i(s), mk = side_k(s);
  const int gi[2] = {s.grid.is - 1, s.grid.ie}, gk[2] = {s.grid.ks - 1, s.grid.ke};
  for (int j = j1; j <= j2; ++j)
    for (int k : gk)
      for (int i : gi) q(i, j, k) = q(mi(i), j, mk(k));
}

void edge_lines_z(Field& q, const Store& s, int k1, int k2) {
  const SideMap mi = side_i(s), mj = side_j(s);
  const int gi[2] = {s.grid.is - 1, s.grid.ie}, gj[2] = {s.grid.js - 1, s.grid.je};
  for (int k = k1; k <= k2; ++k)
    for (int j : gj)
      for (int i : gi) q(i, j, k) = q(mi(i), mj(j), k);
}

}  // namespace qv
