// Body-surface ghost velocities.  A velocity point lies inside the body when
// both cells beside it are body cells; reached by a fluid stencil it gets
// the mirror of the nearest fluid value times ca1 (-1 no slip, +1 slip).
#include <algorithm>
#include <cstdint>

#include "solver/solver.hpp"

namespace qv {
namespace {

inline bool body(const Store& s, int i, int j, int k) { return s.flow.iflag(i, j, k) != 0; }

}  // namespace

void face_rule(Store& s, int i, int j, int k) {
  s.flow.uu(i, j, k) = 0;
  s.flow.vv(i, j, k) = 0;
  s.flow.ww(i, j, k) = 0;
  s.flow.uu(i + 1, j, k) = 0;
  s.flow.vv(i, j + 1, k) = 0;
  s.flow.ww(i, j, k + 1) = 0;
}

// The mirror at a fluid point: across each axis but the component's own,
// both ways, the ghost `depth` points away gets ca1 x the value one point
// nearer, when both cells beside it are body cells.
void reflect(Store& s, int c, int depth, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  Field& q = c == 0 ? s.flow.uu : c == 1 ? s.flow.vv : s.flow.ww;
  const double f = s.run.ca1;
  for (int a = 0; a < 3; ++a) {
    if (a == c) continue;
    for (const int sign : {1, -1}) {
      int t[3] = {i, j, k}, from[3] = {i, j, k}, low[3];
      t[a] += sign * depth;
      from[a] += sign * (depth - 1);
      std::copy(t, t + 3, low);
      low[c] -= 1;
      if (body(s, low[0], low[1], low[2]) && body(s, t[0], t[1], t[2]))
        q(t[0], t[1], t[2]) = f * q(from[0], from[1], from[2]);
    }
  }
}

// A: the ghost two faces away in the swept direction mirrors the point itself.
void reflect_A(Store& s, int dir, int i, int j, int k) {
  const double f = s.run.ca1;
  switch (dir) {
    case 0:
      if (body(s, i + 1, j, k)) s.flow.uu(i + 2, j, k) = f * s.flow.uu(i, j, k);
      if (body(s, i - 2, j, k)) s.flow.uu(i - 2, j, k) = f * s.flow.uu(i, j, k);
      break;
    case 1:
      if (body(s, i, j + 1, k)) s.flow.vv(i, j + 2, k) = f * s.flow.vv(i, j, k);
      if (body(s, i, j - 2, k)) s.flow.vv(i, j - 2, k) = f * s.flow.vv(i, j, k);
      break;
    default:
      if (body(s, i, j, k + 1)) s.flow.ww(i, j, k + 2) = f * s.flow.ww(i, j, k);
      if (body(s, i, j, k - 2)) s.flow.ww(i, j, k - 2) = f * s.flow.ww(i, j, k);
      break;
  }
}

}  // namespace qv
