// Fixed-column reading and writing must never crash, whatever the line.
#include <cstdint>
#include <cstring>
#include <string>

#include "io/format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int col = 1 + data[0] % 40, w = 1 + data[1] % 30, d = data[2] % 12;
  const std::string line(reinterpret_cast<const char*>(data + 3), size - 3);
  qv::fmt::read_int(line, col, w);
  auto v = qv::fmt::read_real(line, col, w, d);
  qv::fmt::read_text(line, col, w);
  qv::fmt::parse_real(line);
  if (v) {
    qv::fmt::F(*v, w, d);
    qv::fmt::E(*v, w, d);
    qv::fmt::general(*v);
  }
  if (size >= 11) {
    double x;
    std::memcpy(&x, data + 3, sizeof x);
    qv::fmt::F(x, w, d);
    qv::fmt::E(x, w, d);
    qv::fmt::general(x);
  }
  return 0;
}
