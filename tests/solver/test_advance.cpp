// Velocity prediction: Adams-Bashforth combination, frame terms and the
// pressure gradient of the previous step.
#include <gtest/gtest.h>

#include "solver/solver.hpp"
#include "support/case.hpp"

namespace {

void fill(qv::Field& f, double v) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = v;
}

qv::Store stretched_at_rest() {
  qv::Store s = qvt::stretched_store(9, 5, 4, {0.35, 1.1}, {1, 1}, {1, 1}, 0, 1);
  s.run.dt = 0.02;
  s.run.Vin = 0;
  return s;
}

}  // namespace

TEST(AdvanceVelocity, AdamsBashforthFrameAndPressureGradient) {
  qvt::ScopedDir d(qvt::temp_dir("advance"));
  struct Case {
    double f, f0, acc, acc0, frame, frame0, G, change;
  };
  const double dt = 0.02;
  const Case cases[] = {
      {0, 0, 0, 0, 0, 0, 0, 0},                  // at rest: stays at rest
      {0, 0, 0, 0, 0, 0, 1.5, -dt * 1.5},        // linear pressure, stretched grid
      {0.8, 0.8, 0, 0, 0, 0, 0, dt * 0.8},       // (3f - f)/2 = f
      {0.8, 0, 0, 0, 0, 0, 0, dt * 1.2},         // first step: 1.5 f
      {0, 0, 0.4, 0.4, 0, 0, 0, -dt * 0.4},      // constant body acceleration
      {0, 0, 0, 0, 0.25, 0.25, 0, -dt * 0.25},   // frame term
      // the old term takes the previous step's acceleration and frame term:
      // (3 (-0.4) - (-0.1)) / 2 and (3 (-0.25) - (-0.05)) / 2
      {0, 0, 0.4, 0.1, 0, 0, 0, -dt * 0.55},
      {0, 0, 0, 0, 0.25, 0.05, 0, -dt * 0.35},
      {0.6, 0.2, 0.4, 0.1, 0.25, 0.05, 0, dt * 0.5 * (3 * (0.6 - 0.4 - 0.25) - (0.2 - 0.1 - 0.05))}};
  for (const Case& c : cases) {
    qv::Store s = stretched_at_rest();
    fill(s.flow.fu, c.f), fill(s.flow.fv, c.f);
    fill(s.flow.fu0, c.f0), fill(s.flow.fv0, c.f0);
    s.body.acc.x = s.body.acc.y = c.acc;
    s.body.acc0.x = s.body.acc0.y = c.acc0;
    fill(s.flow.fxn, c.frame), fill(s.flow.fyn, c.frame), fill(s.flow.fxn0, c.frame0), fill(s.flow.fyn0, c.frame0);
    for (int i = 1; i <= s.grid.ie + 1; ++i)
      for (int j = 1; j <= s.grid.je + 2; ++j)
        for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.pp(i, j, k) = c.G * (s.grid.x(i) + s.grid.x(i + 1)) / 2;
    qv::StepReports quiet;
    qv::OutflowSwitches outflow{0, 0, 0};
    qv::advance_velocity(s, "start.dat", quiet, outflow);
    EXPECT_EQ(outflow.iobu + outflow.iobv + outflow.iobw, 3);  // every outflow face copied
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        for (int i = s.grid.is + 1; i <= s.grid.ie - 1; ++i) EXPECT_NEAR(s.flow.uu(i, j, k), c.change, 1e-14) << i;
        EXPECT_EQ(s.flow.uu(s.grid.is, j, k), 0.0);                             // inflow face: Vin
        EXPECT_EQ(s.flow.uu(s.grid.ie, j, k), s.flow.uu(s.grid.ie - 1, j, k));  // outflow face: copied
      }
    // vv: the same terms apart from the pressure, which varies along x only
    const double dv = c.change + (c.G != 0 ? dt * c.G : 0);
    for (int i = s.grid.is + 1; i <= s.grid.ie - 1; ++i)
      EXPECT_NEAR(s.flow.vv(i, s.grid.js + 1, s.grid.ks), dv, 1e-14) << i;
  }
}
