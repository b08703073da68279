// Eight doubles as one vector of g++'s vector extension, for the kernels
// that run a recipe on eight cells of a column at once: each operation acts
// lane by lane, as on one double, and the instruction set is that of the
// target region the kernel is compiled in.
#pragma once

#include <cstring>

namespace qv::vec8 {

typedef double vd __attribute__((vector_size(64)));
typedef long long vm __attribute__((vector_size(64)));  // lane masks: all bits set or none

// Eight consecutive doubles, loaded or stored with no alignment asked.
inline vd ld(const double* p) {
  vd v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void put(double* p, vd v) { std::memcpy(p, &v, sizeof v); }

}  // namespace qv::vec8
