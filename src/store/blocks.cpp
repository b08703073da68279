#include "store/blocks.hpp"

namespace qv {

void write_block(RecordWriter& w, const Field& f, int i1, int i2, int j1, int j2, int k1, int k2) {
  const std::size_t n = static_cast<std::size_t>(i2 - i1 + 1) * (j2 - j1 + 1) * (k2 - k1 + 1);
  w.begin(n * 8);
  for (int k = k1; k <= k2; ++k)
    for (int j = j1; j <= j2; ++j)
      for (int i = i1; i <= i2; ++i) w.put(f.value_or_zero(i, j, k));
  w.end();
}

void read_block(RecordReader& r, Field& f, int i1, int i2, int j1, int j2, int k1, int k2) {
  r.next();
  const std::size_t n = static_cast<std::size_t>(i2 - i1 + 1) * (j2 - j1 + 1) * (k2 - k1 + 1);
  r.require(n * 8);
  for (int k = k1; k <= k2; ++k)
    for (int j = j1; j <= j2; ++j)
      for (int i = i1; i <= i2; ++i) f(i, j, k) = r.get_real();
}

}  // namespace qv
