// The benchmarks' fixed-body case, built in memory.
#pragma once

#include <string>

#include "output/output.hpp"
#include "output/probes.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"
#include "store/store.hpp"

namespace qvbench {

// A square body of n x n cells (10 unless said) a quarter of the way
// downstream, on a grid stretched by 2 % per cell away from the body in x
// and y.
inline qv::Store make_case(int cx, int cy, int cz, int n = 10) {
  qv::Store s;
  s.grid.ie = cx + 3;  // cx cells: cx + 1 grid lines
  s.grid.je = cy + 3;
  s.grid.ke = cz + 3;
  s.run.iyper = 1;
  s.run.izper = 0;
  s.run.Re = 22000;
  s.run.Cs = 0.1;
  s.run.dt = 0.002;
  s.run.esp = 0.001;
  s.run.omg = 1.5;
  s.run.ca1 = -1;
  s.run.ca2 = -1;
  s.run.Vin = 1;
  s.body.amas = s.body.aitm = s.body.kst.x = s.body.kst.y = s.body.kst.t = 1;
  s.body.beta = 0.25;
  s.allocate();
  qv::initarr(s);
  const int bi = s.grid.is + cx / 4, bj = s.grid.js + cy / 2 - n / 2;
  auto axis = [](qv::Line& c, int lo, int hi, int b0, int b1) {
    c(b0) = 0;
    double w = 0.1;
    for (int m = b0 + 1; m <= hi; ++m) {
      if (m > b1) w *= 1.02;
      c(m) = c(m - 1) + w;
    }
    w = 0.1;
    for (int m = b0 - 1; m >= lo; --m) {
      w *= 1.02;
      c(m) = c(m + 1) - w;
    }
  };
  axis(s.grid.x, s.grid.is, s.grid.ie, bi, bi + n);
  axis(s.grid.y, s.grid.js, s.grid.je, bj, bj + n);
  for (int k = s.grid.ks; k <= s.grid.ke; ++k) s.grid.z(k) = 0.1 * (k - s.grid.ks);
  qv::grid_metrics(s);
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = bj; j < bj + n; ++j)
      for (int i = bi; i < bi + n; ++i) s.flow.iflag(i, j, k) = 1;
  return s;
}

// The same case after two whole steps from rest, so that the flow and the
// eddy viscosity are not uniform.
inline qv::Store developed_case(int cx, int cy, int cz, int n = 10) {
  qv::Store s = make_case(cx, cy, cz, n);
  double dtmin = 0;
  const std::string fresh = "fffff";
  qv::OutflowSwitches outflow;
  qv::rdvelo(s, fresh, "", outflow);
  qv::StepFiles files;
  const qv::ToleranceRamp ramp{0, 10, 0.01};
  qv::hsmac2(s, ramp, dtmin, files, outflow);
  for (int step = 0; step < 2; ++step) {
    s.run.nn += 1;
    s.run.t += s.run.dt;
    qv::shift_history(s);
    qv::momentum_terms(s);
    qv::advance_velocity(s, fresh, files, outflow);
    qv::hsmac2(s, ramp, dtmin, files, outflow);
    qv::subgrid_viscosity(s);
  }
  return s;
}

}  // namespace qvbench
