#include "output/probes.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "io/files.hpp"
#include "io/format.hpp"

namespace qv {
namespace {

constexpr int kProbeUnit = 26;  // unit number shown in failure messages

void warn_fort_row(const Store& s) {
  if (kInflowProbeJ <= s.grid.je - 1 && kInflowProbeK <= s.grid.ke - 1) return;
  std::fprintf(stderr,
               "warning: fort.1 and fort.2 sample the fixed row j = %d, k = %d, which lies outside the "
               "fluid cells of this grid (j = %d..%d, k = %d..%d): they will not hold flow values; list points "
               "in probes.inf for DAT/probes.dat\n",
               kInflowProbeJ, kInflowProbeK, s.grid.js, s.grid.je - 1, s.grid.ks, s.grid.ke - 1);
}

// Positions of one axis for a kind of value: grid lines (faces) or centres.
struct Axis {
  const Line& c;
  bool centre;
  double at(int n) const { return centre ? (c(n) + c(n + 1)) / 2 : c(n); }
};

// Low index n in lo..hi-1 with at(n) <= v <= at(n+1), and the weight of n+1.
void locate(const Axis& a, int lo, int hi, double v, int& n, double& w) {
  n = lo;
  while (n < hi - 1 && a.at(n + 1) <= v) ++n;
  w = (v - a.at(n)) / (a.at(n + 1) - a.at(n));
}

ProbeStencil stencil(const Store& s, double x, double y, double z, bool cx, bool cy, bool cz) {
  ProbeStencil st;
  // Centres run from the ghost cell before the box to the last fluid cell's
  // neighbour, faces over the box itself; either way every point inside the
  // box lies between two stored values.
  locate(Axis{s.grid.x, cx}, cx ? s.grid.is - 1 : s.grid.is, s.grid.ie, x, st.i, st.wi);
  locate(Axis{s.grid.y, cy}, cy ? s.grid.js - 1 : s.grid.js, s.grid.je, y, st.j, st.wj);
  locate(Axis{s.grid.z, cz}, cz ? s.grid.ks - 1 : s.grid.ks, s.grid.ke, z, st.k, st.wk);
  return st;
}

// The fluid cell holding a coordinate (half-open cells, the last one closed);
// -1 when outside lo..hi.
int cell_of(const Line& c, int lo, int hi, double v) {
  if (!(v >= c(lo) && v <= c(hi))) return -1;
  int n = lo;
  while (n < hi - 1 && c(n + 1) <= v) ++n;
  return n;
}

[[noreturn]] void refuse(int line, const std::string& why) {
  throw RunStop(std::string(kProbeInput) + ", line " + std::to_string(line) + ": " + why, 2);
}

std::vector<ProbePoint> read_points(const Store& s) {
  std::vector<ProbePoint> pts;
  std::ifstream in(kProbeInput);
  if (!in) io_fail("open failure", kProbeUnit, kProbeInput);
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    for (char& ch : text)
      if (ch == ',' || ch == '\t' || ch == '\r') ch = ' ';
    std::istringstream words(text);
    std::vector<double> v;
    std::string word;
    bool bad = false;
    while (words >> word) {
      if (v.empty() && word[0] == '#') break;
      const auto r = fmt::parse_real(word);
      if (!r || !std::isfinite(*r)) bad = true;
      else v.push_back(*r);
    }
    if (v.empty() && !bad) continue;
    if (bad || v.size() != 3) refuse(line, "expected three numbers x y z, got \"" + text + "\"");
    ProbePoint p;
    p.x = v[0];
    p.y = v[1];
    p.z = v[2];
    p.line = line;
    const int i = cell_of(s.grid.x, s.grid.is, s.grid.ie, p.x), j = cell_of(s.grid.y, s.grid.js, s.grid.je, p.y),
              k = cell_of(s.grid.z, s.grid.ks, s.grid.ke, p.z);
    char where[160];
    std::snprintf(where, sizeof where, "point (%g, %g, %g)", p.x, p.y, p.z);
    if (i < 0 || j < 0 || k < 0) {
      char box[200];
      std::snprintf(box, sizeof box, " lies outside the fluid box x %g..%g, y %g..%g, z %g..%g", s.grid.x(s.grid.is),
                    s.grid.x(s.grid.ie), s.grid.y(s.grid.js), s.grid.y(s.grid.je), s.grid.z(s.grid.ks),
                    s.grid.z(s.grid.ke));
      refuse(line, where + std::string(box));
    }
    if (s.flow.iflag(i, j, k) != 0) refuse(line, where + std::string(" lies inside the body"));
    p.at[0] = stencil(s, p.x, p.y, p.z, false, true, true);
    p.at[1] = stencil(s, p.x, p.y, p.z, true, false, true);
    p.at[2] = stencil(s, p.x, p.y, p.z, true, true, false);
    p.at[3] = stencil(s, p.x, p.y, p.z, true, true, true);
    pts.push_back(p);
  }
  return pts;
}

// A column title right-aligned in w columns.
std::string column(const std::string& name, std::size_t w) {
  std::string c(name.size() >= w ? 1 : w - name.size(), ' ');
  c += name;
  return c;
}

}  // namespace

double probe_value(const Field& q, const ProbeStencil& st) {
  const int i = st.i, j = st.j, k = st.k;
  const double a = 1 - st.wi, b = 1 - st.wj, c = 1 - st.wk;
  const double lo = b * (a * q(i, j, k) + st.wi * q(i + 1, j, k)) + st.wj * (a * q(i, j + 1, k) + st.wi * q(i + 1, j + 1, k));
  const double hi = b * (a * q(i, j, k + 1) + st.wi * q(i + 1, j, k + 1)) +
                    st.wj * (a * q(i, j + 1, k + 1) + st.wi * q(i + 1, j + 1, k + 1));
  return c * lo + st.wk * hi;
}

Probes probes_start(const Store& s, bool continuing) {
  Probes p;
  if (file_exists(kProbeInput)) p.points = read_points(s);
  // fort.1 and fort.2 matter only where no probe point samples the flow
  if (p.points.empty()) warn_fort_row(s);
  if (p.points.empty()) return p;
  const bool append = s.run.t > 0 && file_exists(kProbeFile);
  p.out = std::make_shared<TextWriter>(kProbeFile, kProbeUnit, append ? Mode::Append : Mode::Unknown);
  if (append && continuing) return p;  // the lines go on under the header already there
  char buf[200];
  std::snprintf(buf, sizeof buf, "# probes of %s, start at t = %.10g", kProbeInput, s.run.t);
  p.out->line(buf);
  for (std::size_t n = 0; n < p.points.size(); ++n) {
    const ProbePoint& q = p.points[n];
    std::snprintf(buf, sizeof buf, "# Probe %zu (%.6g %.6g %.6g)", n + 1, q.x, q.y, q.z);
    p.out->line(buf);
  }
  std::string cols(1, '#');
  cols += column("nn", 9);
  cols += column("t", 15);
  for (std::size_t n = 1; n <= p.points.size(); ++n)
    for (const char* q : {"u", "v", "w", "p"}) {
      std::string name(q);
      name += std::to_string(n);
      cols += column(name, 20);
    }
  p.out->line(cols);
  p.out->flush();
  return p;
}

void probes_sample(const Store& s, Probes& p) {
  if (!p.out) return;
  std::string l = fmt::I(s.run.nn, 10) + fmt::F(s.run.t, 15, 6);
  for (const ProbePoint& q : p.points) {
    l += fmt::E(probe_value(s.flow.uu, q.at[0]), 20, 12);
    l += fmt::E(probe_value(s.flow.vv, q.at[1]), 20, 12);
    l += fmt::E(probe_value(s.flow.ww, q.at[2]), 20, 12);
    l += fmt::E(probe_value(s.flow.pp, q.at[3]), 20, 12);
  }
  p.out->line(l);
  p.out->flush();
}

namespace {

void probe_line(std::shared_ptr<TextWriter>& w, const char* name, int unit, const InflowProbe& p, const double* q,
                bool append) {
  if (!w) w = std::make_shared<TextWriter>(name, unit, append && file_exists(name) ? Mode::Append : Mode::Unknown);
  w->line(fmt::I(p.nn, 10) + fmt::F(p.t, 15, 10) + fmt::F(q[0], 15, 10) + fmt::F(q[1], 15, 10) + fmt::F(q[2], 15, 10));
  w->flush();
}

}  // namespace

void StepFiles::inflow_probe(const InflowProbe& p) {
  try {
    probe_line(fort1_, "fort.1", unit::probe_u, p, p.u, append_);
    probe_line(fort2_, "fort.2", unit::probe_v, p, p.v, append_);
  } catch (const IoError& e) {
    if (failure_.empty()) failure_ = e.what();
  }
}

void StepFiles::pressure_pass(const PressurePass& p) {
  try {
    TextWriter w("iter.dat", unit::iter, Mode::Unknown);
    w.line(fmt::I(p.iter, 10) + fmt::F(p.dm, 20, 10) + fmt::F(p.esp2, 20, 10) + fmt::I(p.ic2, 10));
    w.line(fmt::I(p.li, 5) + fmt::I(p.lj, 5) + fmt::I(p.lk, 5));
    w.close();
  } catch (const IoError& e) {
    if (failure_.empty()) failure_ = e.what();
  }
}

}  // namespace qv
