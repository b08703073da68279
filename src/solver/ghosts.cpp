// Body-surface ghost velocities.  A velocity point lies inside the body when
// both cells beside it are body cells; reached by a fluid stencil it gets
// the mirror of the nearest fluid value times ca1 (-1 no slip, +1 slip).
#include "solver/solver.hpp"

namespace qv {
namespace {

inline bool body(const Store& s, int i, int j, int k) { return s.iflag(i, j, k) != 0; }
inline bool inside_u(const Store& s, int i, int j, int k) { return body(s, i - 1, j, k) && body(s, i, j, k); }
inline bool inside_v(const Store& s, int i, int j, int k) { return body(s, i, j - 1, k) && body(s, i, j, k); }
inline bool inside_w(const Store& s, int i, int j, int k) { return body(s, i, j, k - 1) && body(s, i, j, k); }

}  // namespace

void face_rule(Store& s, int i, int j, int k) {
  s.uu(i, j, k) = 0;
  s.vv(i, j, k) = 0;
  s.ww(i, j, k) = 0;
  s.uu(i + 1, j, k) = 0;
  s.vv(i, j + 1, k) = 0;
  s.ww(i, j, k + 1) = 0;
}

// B: first ghosts of uu across y and z.
void reflect_B(Store& s, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  const double f = s.ca1;
  if (inside_u(s, i, j + 1, k)) s.uu(i, j + 1, k) = f * s.uu(i, j, k);
  if (inside_u(s, i, j - 1, k)) s.uu(i, j - 1, k) = f * s.uu(i, j, k);
  if (inside_u(s, i, j, k + 1)) s.uu(i, j, k + 1) = f * s.uu(i, j, k);
  if (inside_u(s, i, j, k - 1)) s.uu(i, j, k - 1) = f * s.uu(i, j, k);
}

// C: second ghosts of uu, mirrored from the point halfway.
void reflect_C(Store& s, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  const double f = s.ca1;
  if (inside_u(s, i, j + 2, k)) s.uu(i, j + 2, k) = f * s.uu(i, j + 1, k);
  if (inside_u(s, i, j - 2, k)) s.uu(i, j - 2, k) = f * s.uu(i, j - 1, k);
  if (inside_u(s, i, j, k + 2)) s.uu(i, j, k + 2) = f * s.uu(i, j, k + 1);
  if (inside_u(s, i, j, k - 2)) s.uu(i, j, k - 2) = f * s.uu(i, j, k - 1);
}

void reflect_D(Store& s, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  const double f = s.ca1;
  if (inside_v(s, i + 1, j, k)) s.vv(i + 1, j, k) = f * s.vv(i, j, k);
  if (inside_v(s, i - 1, j, k)) s.vv(i - 1, j, k) = f * s.vv(i, j, k);
  if (inside_v(s, i, j, k + 1)) s.vv(i, j, k + 1) = f * s.vv(i, j, k);
  if (inside_v(s, i, j, k - 1)) s.vv(i, j, k - 1) = f * s.vv(i, j, k);
}

void reflect_E(Store& s, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  const double f = s.ca1;
  if (inside_v(s, i + 2, j, k)) s.vv(i + 2, j, k) = f * s.vv(i + 1, j, k);
  if (inside_v(s, i - 2, j, k)) s.vv(i - 2, j, k) = f * s.vv(i - 1, j, k);
  if (inside_v(s, i, j, k + 2)) s.vv(i, j, k + 2) = f * s.vv(i, j, k + 1);
  if (inside_v(s, i, j, k - 2)) s.vv(i, j, k - 2) = f * s.vv(i, j, k - 1);
}

void reflect_F(Store& s, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  const double f = s.ca1;
  if (inside_w(s, i + 1, j, k)) s.ww(i + 1, j, k) = f * s.ww(i, j, k);
  if (inside_w(s, i - 1, j, k)) s.ww(i - 1, j, k) = f * s.ww(i, j, k);
  if (inside_w(s, i, j + 1, k)) s.ww(i, j + 1, k) = f * s.ww(i, j, k);
  if (inside_w(s, i, j - 1, k)) s.ww(i, j - 1, k) = f * s.ww(i, j, k);
}

void reflect_G(Store& s, int i, int j, int k) {
  if (body(s, i, j, k)) return;
  const double f = s.ca1;
  if (inside_w(s, i + 2, j, k)) s.ww(i + 2, j, k) = f * s.ww(i + 1, j, k);
  if (inside_w(s, i - 2, j, k)) s.ww(i - 2, j, k) = f * s.ww(i - 1, j, k);
  if (inside_w(s, i, j + 2, k)) s.ww(i, j + 2, k) = f * s.ww(i, j + 1, k);
  if (inside_w(s, i, j - 2, k)) s.ww(i, j - 2, k) = f * s.ww(i, j - 1, k);
}

// A: the ghost two faces away in the swept direction mirrors the point itself.
void reflect_A(Store& s, int dir, int i, int j, int k) {
  const double f = s.ca1;
  switch (dir) {
    case 0:
      if (body(s, i + 1, j, k)) s.uu(i + 2, j, k) = f * s.uu(i, j, k);
      if (body(s, i - 2, j, k)) s.uu(i - 2, j, k) = f * s.uu(i, j, k);
      break;
    case 1:
      if (body(s, i, j + 1, k)) s.vv(i, j + 2, k) = f * s.vv(i, j, k);
      if (body(s, i, j - 2, k)) s.vv(i, j - 2, k) = f * s.vv(i, j, k);
      break;
    default:
      if (body(s, i, j, k + 1)) s.ww(i, j, k + 2) = f * s.ww(i, j, k);
      if (body(s, i, j, k - 2)) s.ww(i, j, k - 2) = f * s.ww(i, j, k);
      break;
  }
}

}  // namespace qv
