// The two small files read while the run goes on, each layout in one place.
#include <cmath>
#include <cstdint>
#include <sstream>

#include "control/run.hpp"
#include "io/console.hpp"
#include "io/files.hpp"

namespace qv {

namespace {

[[noreturn]] void bad(const std::string& why, int unit, const char* file) { io_fail(why.c_str(), unit, file); }

int in_range(long long v, const char* name, int unit, const char* file) {
  if (v < INT32_MIN || v > INT32_MAX) bad(std::string(name) + " = " + std::to_string(v) + " out of range", unit, file);
  return static_cast<int>(v);
}

}  // namespace

// "esp2.inf": ic2, ic3, sesp in (2I10,F10.5).
ToleranceRamp read_esp2_file() {
  TextReader r("esp2.inf", unit::esp2, Mode::Old);
  const std::string l = r.next();
  ToleranceRamp t;
  t.ic2 = in_range(r.I(l, 1, 10), "ic2", unit::esp2, "esp2.inf");
  t.ic3 = in_range(r.I(l, 11, 10), "ic3", unit::esp2, "esp2.inf");
  t.sesp = r.F(l, 21, 10, 5);
  r.close();
  if (t.ic3 < 2) bad("ic3 = " + std::to_string(t.ic3) + " must be at least 2", unit::esp2, "esp2.inf");
  if (!(t.sesp > 0) || !std::isfinite(t.sesp)) {
    std::ostringstream o;
    o << "sesp = " << t.sesp << " must be positive";
    bad(o.str(), unit::esp2, "esp2.inf");
  }
  return t;
}

ToleranceRamp ToleranceFile::read(bool tolerant) {
  try {
    last_ = read_esp2_file();
    read_ = true;
  } catch (const IoError& e) {
    if (!tolerant || !read_) throw;
    warn(std::string(e.what()) + "; keeping the last tolerance ramp");
  }
  return last_;
}

// "change.inf": nt in (I10).
int read_change_file() {
  TextReader r("change.inf", unit::change_in, Mode::Old);
  const int nt = in_range(r.I(r.next(), 1, 10), "nt", unit::change_in, "change.inf");
  r.close();
  return nt;
}

}  // namespace qv
