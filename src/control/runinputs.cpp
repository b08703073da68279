// The two small files read while the run goes on, each layout in one place.
#include "control/files.hpp"
#include "control/run.hpp"

namespace qv {

// "esp2.inf": ic2, ic3, sesp in (2I10,F10.5).
ToleranceRamp read_esp2_file() {
  TextReader r("esp2.inf", unit::esp2, Mode::Unknown);
  const std::string l = r.next();
  ToleranceRamp t;
  t.ic2 = static_cast<int>(r.I(l, 1, 10));
  t.ic3 = static_cast<int>(r.I(l, 11, 10));
  t.sesp = r.F(l, 21, 10, 5);
  r.close();
  return t;
}

// "change.inf": nt in (I10).
int read_change_file() {
  TextReader r("change.inf", unit::change_in, Mode::Unknown);
  const int nt = static_cast<int>(r.I(r.next(), 1, 10));
  r.close();
  return nt;
}

}  // namespace qv
