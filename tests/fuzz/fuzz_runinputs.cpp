// The files read every step, "esp2.inf" and "change.inf", on arbitrary
// lines: each is read or refused with one of the defined failures, never a
// crash; a tolerance ramp that is accepted gives a finite, positive
// tolerance at every step; a step count that is accepted is the one written.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "control/run.hpp"
#include "io/files.hpp"
#include "io/format.hpp"

namespace {
struct Setup {
  Setup() {
    const auto dir = std::filesystem::temp_directory_path() / ("qvfuzz-runinputs-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"esp2.inf", "change.inf"}) {
    std::ofstream o(name, std::ios::binary);
    o << bytes;
  }
  try {
    const qv::ToleranceRamp t = qv::read_esp2_file();
    const double esp = 0.001;  // a tolerance the parameter check accepts
    const double rnc = std::pow(esp / t.sesp, 1.0 / (t.ic3 - 1));
    for (int nn2 : {1, 2, t.ic3}) {
      const double esp2 = t.sesp * std::pow(rnc, nn2 - 1);
      if (!std::isfinite(esp2) || !(esp2 > 0)) std::abort();
    }
  } catch (const qv::IoError&) {
  }
  try {
    const int nt = qv::read_change_file();
    std::string first = bytes.substr(0, bytes.find('\n'));
    if (!first.empty() && first.back() == '\r') first.pop_back();  // as the reader takes a line
    if (qv::fmt::read_int(first, 1, 10) != static_cast<long long>(nt)) std::abort();
  } catch (const qv::IoError&) {
  }
  return 0;
}
