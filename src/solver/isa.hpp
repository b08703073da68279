// The instruction sets the tuned kernels are compiled for, each in a
// target region of its own, and the widest this processor has.
#pragma once

namespace qv {

enum class Isa { avx512, avx2, plain };

inline Isa widest_isa() {
  static const Isa isa = __builtin_cpu_supports("avx512f") ? Isa::avx512
                         : __builtin_cpu_supports("avx2") ? Isa::avx2
                                                          : Isa::plain;
  return isa;
}

}  // namespace qv
