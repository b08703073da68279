// Velocity and pressure probes at points of the researcher's choice.
//
// "probes.inf" (optional) lists one point per line, x y z in grid
// coordinates (blanks or commas between them; blank lines and lines
// starting with # are skipped). Without it nothing is written. With it,
// every step appends one line to "DAT/probes.dat": nn, t, then u v w p at
// each point, interpolated linearly (in x, y and z) from the staggered
// values around the point. The file starts with # lines naming the points
// and the columns; a fresh start replaces it, a restart appends to it.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "solver/solver.hpp"
#include "store/store.hpp"

namespace qv {

class TextWriter;

inline constexpr const char* kProbeInput = "probes.inf";
inline constexpr const char* kProbeFile = "DAT/probes.dat";

// One interpolation stencil: the low corner (i, j, k) of the eight values
// and the weights of the high neighbour along each axis.
struct ProbeStencil {
  int i = 0, j = 0, k = 0;
  double wi = 0, wj = 0, wk = 0;
};

struct ProbePoint {
  double x = 0, y = 0, z = 0;
  int line = 0;                            // line of probes.inf
  std::array<ProbeStencil, 4> at;          // u, v, w, p
};

struct Probes {
  std::vector<ProbePoint> points;
  std::shared_ptr<TextWriter> out;
};

// Start-up, after the grid, the flags and the initial field: warns on
// standard error when the fixed row of fort.1 and fort.2 lies outside the
// fluid cells; reads probes.inf, refuses a point outside the fluid or inside
// the body (RunStop naming its line), and opens DAT/probes.dat.
Probes probes_start(const Store& s, bool continuing);

// Appends the line of this step (nothing without probes).
void probes_sample(const Store& s, Probes& p);

// The files the steps report to as they run: a line each of fort.1 and
// fort.2 per inflow (the files replaced at the first line, or appended to by
// a run that continues another exactly), and "iter.dat" rewritten at every
// pass of the pressure iteration above its tolerance.
class StepFiles : public StepReports {
 public:
  // fort.1 and fort.2 of a continuing run: appended to when they exist
  void continue_lines() { append_ = true; }
  void inflow_probe(const InflowProbe& p) override;
  void pressure_pass(const PressurePass& p) override;
  // A write that failed inside a step does not cut the step short: its
  // message is kept here (the first one) for the driver to end the run on.
  const std::string& failure() const { return failure_; }

 private:
  std::string failure_;
  std::shared_ptr<TextWriter> fort1_, fort2_;
  bool append_ = false;
};

// The value of q interpolated with one stencil.
double probe_value(const Field& q, const ProbeStencil& st);

}  // namespace qv
