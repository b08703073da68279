// A body set turning in still fluid and released must lose energy to the
// fluid: its rotation amplitude may not grow.  This runs the real program.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "io/files.hpp"
#include "support/case.hpp"

namespace {

struct History {
  std::vector<double> tacc, tvel, tdis, pft;
  double dt = 0;
};

History read_history(const std::string& path) {
  qv::RecordReader r(path, 99);
  r.next();
  const int n = r.get_int();
  History h;
  h.dt = r.get_real();
  r.next();
  r.next();
  r.next();
  for (int m = 0; m < n; ++m) {
    r.get_real();
    r.get_real();
    h.pft.push_back(r.get_real());
  }
  r.next();
  r.next();
  r.next();
  for (int m = 0; m < n; ++m) {
    h.tacc.push_back(r.get_real());
    h.tvel.push_back(r.get_real());
    h.tdis.push_back(r.get_real());
  }
  return h;
}

double peak(const std::vector<double>& v, std::size_t a, std::size_t b) {
  double m = 0;
  for (std::size_t n = a; n < b && n < v.size(); ++n) m = std::max(m, std::fabs(v[n]));
  return m;
}

}  // namespace

TEST(RotationCoupling, ReleasedRotationDecaysInStillFluid) {
  const std::string dir = qvt::temp_dir("rotation");
  qvt::CaseSetup c;
  c.nx = 41;  // 40 cells of 0.125 over -2.5..2.5
  c.ny = 41;
  c.nz = 3;
  c.h = 0.125;
  // periodic sides: slip walls would be fixed in the turning frame and turn
  // the enclosed fluid with the body
  c.iyper = 0;
  c.body_i0 = 16, c.body_i1 = 23, c.body_j0 = 16, c.body_j1 = 23;  // a unit square at the origin
  c.Re = 100;
  c.dt = 0.01;
  c.nt = 300;
  c.ndof = 3;
  c.aitm = 0.1;  // lighter than the fluid it turns: the demanding case
  c.tkst = 0.1 * 4 * M_PI * M_PI;  // period 1
  c.th0 = 0;
  c.beta = 0.25;
  c.tamp = 0.05;
  c.tfrc = 0.5;
  c.nsmp = 1;
  c.ic3 = 20;
  qvt::write_case(dir, c);
  ASSERT_EQ(qvt::run_program(dir, "0.0\n"), 0);

  const History h = read_history(dir + "/vib.dat");
  ASSERT_EQ(h.tdis.size(), 300u);
  // first full period after the release (t = 0.5) against the last one
  const double first = peak(h.tdis, 50, 150);
  const double last = peak(h.tdis, 200, 300);
  EXPECT_GT(first, 0.01);
  EXPECT_LE(last, first * 1.001) << "rotation grows after release: " << first << " -> " << last;

  // the fluid takes energy from the turning body: the work of the moment on
  // the body over the free motion is negative
  double work = 0;
  for (std::size_t n = 50; n < h.pft.size(); ++n) work += h.pft[n] * h.tvel[n] * c.dt;
  EXPECT_LT(work, 0.0);
}
