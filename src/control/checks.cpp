#include "control/checks.hpp"
#include "control/continuation.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <sstream>
#include <vector>

#include "body/body.hpp"
#include "io/console.hpp"
#include "io/files.hpp"
#include "io/format.hpp"
#include "io/locks.hpp"
#include "output/output.hpp"
#include "output/probes.hpp"
#include "store/blocks.hpp"
#include "store/layouts.hpp"
#include "store/input.hpp"

namespace qv {
namespace {

namespace fs = std::filesystem;

// A box of indices i1..i2, j1..j2, k1..k2.
struct IndexBox {
  int i1, i2, j1, j2, k1, k2;
};

// Whether every value of box b of f passes `ok`, and the largest |value|
// of those that pass: neither depends on the order of the points, so the
// planes are shared among the threads.  A caller that must name the first
// failing value walks the box again in its own order.
template <class Ok>
bool all_pass(const Field& f, const IndexBox& b, Ok ok, double* largest) {
  bool pass = true;
  double m = 0;
#pragma omp parallel for schedule(static) reduction(&& : pass) reduction(max : m)
  for (int i = b.i1; i <= b.i2; ++i)
    for (int j = b.j1; j <= b.j2; ++j)
      for (int k = b.k1; k <= b.k2; ++k) {
        const double v = f(i, j, k);
        if (ok(v))
          m = std::max(m, std::fabs(v));
        else
          pass = false;
      }
  *largest = m;
  return pass;
}

std::string num(double v) {
  std::ostringstream o;
  o << v;
  return o.str();
}

[[noreturn]] void refuse(const std::string& why) { throw RunStop(why, 2); }

void param(int line, const char* field, double v, bool ok, const char* rule) {
  if (!ok)
    refuse(std::string("quivel_vib8.inf line ") + std::to_string(line) + ", " + field + " = " + num(v) + ": " + rule);
}

// The file a name stands for, the same for every spelling of it.
std::string identity(const std::string& name) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::absolute(name, ec), ec);
  return ec ? fs::absolute(name).lexically_normal().string() : p.string();
}

std::string dir_of(const std::string& name) {
  const std::string d = fs::path(name).parent_path().string();
  return d.empty() ? "." : d;
}

struct Named {
  std::string name;  // trimmed
  int unit;
  std::string what;
  bool atomic;  // written aside and renamed (needs only its directory writable)
};

}  // namespace

std::string journal_name(const std::string& nfile) { return fmt::trim_name(nfile) + ".commit"; }
std::string saved_history_name(const std::string& vfile) { return fmt::trim_name(vfile) + ".ckpt"; }
std::string saved_stats_name(const std::string& statfile) { return fmt::trim_name(statfile) + ".ckpt"; }

void lock_directory() {
  static int fd = -1;
  if (fd >= 0) return;
  fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK)
      refuse("another run is using this directory (one run per directory; it holds the lock on it)");
    ::close(fd);
    fd = -1;
  }
}

void check_params(const Store& s) {
  if (!std::isfinite(s.run.Vin))
    refuse("the inflow velocity Vin = " + num(s.run.Vin) + " typed at the console must be finite");
  auto finite = [](int line, const char* field, double v) { param(line, field, v, std::isfinite(v), "must be finite"); };
  param(4, "Re", s.run.Re, s.run.Re > 0 && std::isfinite(s.run.Re), "must be positive");
  finite(5, "Cs", s.run.Cs);
  param(6, "dt", s.run.dt, s.run.dt > 0 && std::isfinite(s.run.dt), "must be positive");
  param(7, "esp", s.run.esp, s.run.esp > 0 && std::isfinite(s.run.esp), "must be positive");
  param(7, "omg", s.run.omg, s.run.omg > 0 && s.run.omg < 2, "must lie between 0 and 2");
  finite(8, "ca1", s.run.ca1);
  finite(8, "ca2", s.run.ca2);
  const int n = s.body.ndof;
  const bool mx = moves_x(n), my = moves_y(n), mt = moves_t(n);
  if (mx || my)
    param(11, "amas", s.body.amas, s.body.amas > 0 && std::isfinite(s.body.amas),
          "must be positive for a body that moves in x or y");
  if (mt)
    param(11, "aitm", s.body.aitm, s.body.aitm > 0 && std::isfinite(s.body.aitm),
          "must be positive for a body that turns");
  // the spring, damping and start-up oscillation of each degree of freedom that moves
  for (int d = 0; d < kDofs; ++d)
    if (moves(n, d)) {
      const std::string L(1, kDofLetter[d]);
      finite(12, (L + "kst").c_str(), s.body.kst[d]);
      finite(13, (L + "h0").c_str(), s.body.h0[d]);
      finite(15, (L + "amp").c_str(), s.body.amp[d]);
    }
  if (mx || my || mt)
    param(14, "beta", s.body.beta, s.body.beta > 0 && std::isfinite(s.body.beta),
          "must be positive for a body that moves");
}

void warn_params(const Store& s, int change_nt) {
  auto note = [](int line, const char* field, double v, const std::string& what) {
    warn("quivel_vib8.inf line " + std::to_string(line) + ", " + field + " = " + num(v) + ": " + what);
  };
  if (s.run.iyper != 0 && s.run.iyper != 1) note(3, "iyper", s.run.iyper, "taken as 1 (slip walls in y)");
  if (s.run.izper != 0 && s.run.izper != 1 && s.run.izper != 2)
    note(3, "izper", s.run.izper, "taken as 1 (slip walls in z)");
  if (s.body.ndof < 0 || s.body.ndof > 6)
    note(14, "ndof", s.body.ndof,
         "not one of 0 to 6: the body moves in no direction and its restored state is set to zero");
  if (s.run.esp >= 1) note(7, "esp", s.run.esp, "a tolerance of 1 or more leaves the divergence hardly corrected");
  if (s.body.nsmp < 0) note(16, "nsmp", s.body.nsmp, "negative: no body history is sampled");
  // ca1, ca2 are held as 2v - 1 of the file value v
  if (s.run.ca1 < -1 || s.run.ca1 > 1) note(8, "ca1", (s.run.ca1 + 1) / 2, "outside 0 (no slip) to 1 (slip)");
  if (s.run.ca2 < -1 || s.run.ca2 > 1) note(8, "ca2", (s.run.ca2 + 1) / 2, "outside 0 (no slip) to 1 (slip)");
  if (change_nt <= 0) warn("change.inf: nt = " + std::to_string(change_nt) + ": the run takes one step");
}

void check_grid_lines(const Store& s, const std::string& axisfile) {
  struct Axis {
    const char* name;
    const Line& c;
    int lo, hi;
  };
  for (const Axis& a : {Axis{"x", s.grid.x, s.grid.is, s.grid.ie}, Axis{"y", s.grid.y, s.grid.js, s.grid.je},
                        Axis{"z", s.grid.z, s.grid.ks, s.grid.ke}}) {
    for (int i = a.lo; i <= a.hi; ++i)
      if (!std::isfinite(a.c(i)))
        refuse(fmt::trim_name(axisfile) + ": " + a.name + " grid line " + std::to_string(i - a.lo + 1) + " = " +
               num(a.c(i)) + " is not finite");
    for (int i = a.lo; i < a.hi; ++i)
      if (!(a.c(i + 1) > a.c(i)))
        refuse(fmt::trim_name(axisfile) + ": " + a.name + " grid lines " + std::to_string(i - a.lo + 1) + " and " +
               std::to_string(i - a.lo + 2) + " do not increase (" + num(a.c(i)) + ", " + num(a.c(i + 1)) + ")");
  }
}

void check_flags(const Store& s, const std::string& flagfile) {
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
        if (s.flow.iflag(i, j, k) == 0) return;
  refuse(fmt::trim_name(flagfile) + ": every cell is a body cell; the flow has no fluid cell");
}

namespace {

// Every file the run writes, by its name in the parameter and file-name
// lists; `atomic` for those written aside and renamed.
std::vector<Named> output_files(const RunFiles& f) {
  std::vector<Named> out = {
      {fmt::trim_name(f.finalfile), unit::final_field, "the final field file", true},
      {fmt::trim_name(f.statfile), unit::stats, "the statistics file", true},
      {fmt::trim_name(f.vfile), unit::history, "the vibration history file (vfile)", true},
      {fmt::trim_name(f.nfile), unit::body_state, "the body-state file (nfile)", true},
      {kSeriesFile, unit::series, "the time series", false},
      {"change.out", unit::change_out, "the change report", false},
      {"iter.dat", unit::iter, "the iteration report", false},
      {"fort.1", unit::probe_u, "the probe file", false},
      {"fort.2", unit::probe_v, "the probe file", false},
  };
  if (file_exists(kProbeInput)) out.push_back({kProbeFile, 26, "the probe series", false});
  for (int n = 1; n <= f.nfl; ++n)
    out.push_back({fmt::trim_name(f.fname[static_cast<std::size_t>(n)]), unit::snapshot,
                   "snapshot " + std::to_string(n) + " of quivel_vib8.fil", true});
  return out;
}

// The files the run writes beside its outputs and may remove: the
// temporaries of the files put in place whole, the commit journal, the
// whole state and the sets saved at snapshot instants.
std::vector<Named> beside_files(const std::vector<Named>& out, const RunFiles& f) {
  std::vector<Named> beside;
  for (const Named& o : out)
    if (o.atomic) beside.push_back({o.name + ".part", o.unit, "the temporary of " + o.what, false});
  for (const std::string& n :
       {journal_name(f.nfile), saved_history_name(f.vfile), saved_stats_name(f.statfile), state_name(f.nfile)}) {
    beside.push_back({n, unit::body_state, "the file " + n + " this run writes", false});
    beside.push_back({n + ".part", unit::body_state, "the file " + n + ".part this run writes", false});
  }
  return beside;
}

}  // namespace

void lock_outputs(const RunFiles& f) {
  std::vector<Named> all = output_files(f);
  const std::vector<Named> beside = beside_files(all, f);
  all.insert(all.end(), beside.begin(), beside.end());
  for (const Named& o : all) {
    if (o.name.empty()) continue;  // refused by check_outputs
    const OutputLock l = lock_output(o.name, !o.atomic);
    if (l.state == LockState::held)
      refuse("another run is writing " + o.what + " " + o.name + " (" + l.real +
             "; it holds the lock on that file): one run per output file");
    if (l.state == LockState::unavailable) {
      warn("the files this run writes cannot be locked (" + lock_unavailable_reason() +
           "): another run writing them would not be refused");
      return;
    }
  }
}

void check_outputs(const Store& s, const RunFiles& f, int continued_from) {
  const std::vector<Named> out = output_files(f);
  for (const Named& o : out) {
    if (o.name.empty()) refuse("no file name given for " + o.what);
    if (dir_exists(o.name)) io_fail("open failure", o.unit, o.name);
    const std::string dir = dir_of(o.name);
    if (!dir_exists(dir)) io_fail("file not found", o.unit, o.name);
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
      refuse("the directory " + dir + " of " + o.what + " " + o.name + " cannot be written");
    if (!o.atomic && file_exists(o.name) && ::access(o.name.c_str(), W_OK) != 0)
      refuse(o.what + " " + o.name + " exists and cannot be written");
  }

  std::vector<Named> in = {
      {"quivel_vib8.inf", unit::param, "the parameter file", false},
      {"quivel_vib8.fil", unit::names, "the file-name list", false},
      {fmt::trim_name(f.axisfile), unit::axis, "the grid file", false},
      {fmt::trim_name(f.flagfile), unit::flag, "the flag file", false},
      {"esp2.inf", unit::esp2, "the tolerance file", false},
      {"change.inf", unit::change_in, "the change file", false},
      {kProbeInput, 26, "the probe list", false},
  };
  const std::string field_in = fmt::trim_name(f.inputfile), body_in = fmt::trim_name(f.nfile0);
  if (!fresh_start(f.inputfile)) {
    in.push_back({field_in, unit::field_in, "the input field file", false});
    in.push_back({body_in, unit::body_in, "the body-state input file (nfile0)", false});
  }
  // None of the files written beside the outputs may be an input or an output.
  const std::vector<Named> beside = beside_files(out, f);
  std::vector<std::string> oid, iid, bid;
  for (const Named& o : out) oid.push_back(identity(o.name));
  for (const Named& i : in) iid.push_back(identity(i.name));
  for (const Named& b : beside) bid.push_back(identity(b.name));
  for (std::size_t a = 0; a < out.size(); ++a) {
    for (std::size_t b = a + 1; b < out.size(); ++b)
      if (oid[a] == oid[b]) refuse(out[a].what + " and " + out[b].what + " are the same file: " + out[b].name);
    for (std::size_t b = 0; b < in.size(); ++b) {
      if (oid[a] != iid[b]) continue;
      // the restart pair is replaced in place: it was read at start-up
      if (out[a].unit == unit::final_field && in[b].unit == unit::field_in) continue;
      if (out[a].unit == unit::body_state && in[b].unit == unit::body_in) continue;
      refuse(out[a].what + " would overwrite " + in[b].what + ": " + out[a].name);
    }
  }
  for (std::size_t a = 0; a < beside.size(); ++a) {
    for (std::size_t b = 0; b < in.size(); ++b)
      if (bid[a] == iid[b]) refuse(beside[a].what + " would overwrite " + in[b].what + ": " + in[b].name);
    for (std::size_t b = 0; b < out.size(); ++b)
      if (bid[a] == oid[b]) refuse(beside[a].what + " would overwrite " + out[b].what + ": " + out[b].name);
  }

  const std::string stat = fmt::trim_name(f.statfile);
  if (file_exists(stat)) io_fail("cannot overwrite existing file", unit::stats, stat);
  if (f.ifc > 0)
    for (int n = 1; n <= f.nfl && static_cast<long long>(n) * f.ifc <= s.run.nt; ++n) {
      if (static_cast<long long>(n) * f.ifc <= continued_from) continue;  // reached before
      const std::string name = fmt::trim_name(f.fname[static_cast<std::size_t>(n)]);
      if (file_exists(name)) io_fail("cannot overwrite existing file", unit::snapshot, name);
    }
}

void recover_outputs(const RunFiles& f) {
  if (complete_commit(journal_name(f.nfile)))
    std::fprintf(stderr, "warning: completed the end-of-run set that an earlier run left half renamed (%s)\n",
                 journal_name(f.nfile).c_str());
}

void remove_temporaries(const RunFiles& f) {
  for (const std::string& n : {fmt::trim_name(f.finalfile), fmt::trim_name(f.statfile), fmt::trim_name(f.vfile),
                               fmt::trim_name(f.nfile), saved_history_name(f.vfile), state_name(f.nfile),
                               saved_stats_name(f.statfile)})
    if (!n.empty()) remove_stale_part(n);
  for (int n = 1; n <= f.nfl; ++n) {
    const std::string name = fmt::trim_name(f.fname[static_cast<std::size_t>(n)]);
    if (!name.empty()) remove_stale_part(name);
  }
}

void check_saved_sets(const RunFiles& f) {
  for (const std::string& n : {saved_history_name(f.vfile), saved_stats_name(f.statfile)})
    if (file_exists(n))
      refuse(n + " holds what a killed run saved at its last snapshot instant (its body history and statistics so "
                 "far), the only copy, which this run would overwrite: move " +
             saved_history_name(f.vfile) + " and " + saved_stats_name(f.statfile) +
             " away first, or continue that run in a new folder (tools/qv restart --from-snapshot)");
}

namespace {

// Records 2.. of a restart input, as its layout table gives them: each of
// the length this grid gives it, every real in it finite (record 2 of a
// field file holds four integers behind its four reals, which are not
// looked at).
void check_records(RecordReader& r, const Store& s, const std::string& name, const std::string& what,
                   std::span<const RecordLayout> layout) {
  for (std::size_t m = 1; m < layout.size(); ++m) {
    const int rec = static_cast<int>(m) + 1;
    try {
      r.next();
    } catch (const IoError&) {
      refuse(what + " " + name + " ends before its record " + std::to_string(rec));
    }
    const ItemCount items = item_count(layout[m].items);
    const std::size_t want = layout[m].block() ? block_bytes(s, layout[m]) : items.bytes();
    if (r.record_bytes() != want)
      refuse(what + " " + name + ": record " + std::to_string(rec) + " holds " + std::to_string(r.record_bytes()) +
             " bytes where this run's grid needs " + std::to_string(want) +
             " (not a file of this layout and grid)");
    const std::size_t reals = layout[m].block() ? want / 8 : items.reals;
    for (std::size_t k = 0; k < reals; ++k) {
      const double v = r.get_real();
      if (!std::isfinite(v))
        refuse(what + " " + name + ": record " + std::to_string(rec) + " holds a value that is not finite (" +
               num(v) + ", item " + std::to_string(k + 1) + ")");
    }
  }
}

}  // namespace

void check_restart_files(const Store& s, const RunFiles& f) {
  if (fresh_start(f.inputfile)) return;
  if (complete_commit(journal_name(f.nfile0)))
    std::fprintf(stderr, "warning: completed the end-of-run set that an earlier run left half renamed (%s)\n",
                 journal_name(f.nfile0).c_str());
  const std::string field = fmt::trim_name(f.inputfile), body = fmt::trim_name(f.nfile0);
  auto grid = [](int ie, int je, int ke) {
    return std::to_string(ie - 2) + " x " + std::to_string(je - 2) + " x " + std::to_string(ke - 2);
  };
  {
    RecordReader r(field, unit::field_in);
    r.next();
    int b[6];
    for (int& v : b) v = r.get_int();
    if (b[0] != s.grid.is || b[1] != s.grid.ie || b[2] != s.grid.js || b[3] != s.grid.je || b[4] != s.grid.ks ||
        b[5] != s.grid.ke)
      refuse("the input field file " + field + " holds a grid of " + grid(b[1], b[3], b[5]) +
             " grid lines; this run has " + grid(s.grid.ie, s.grid.je, s.grid.ke));
    check_records(r, s, field, "the input field file", kFieldFile);
  }
  {
    RecordReader r(body, unit::body_in);
    r.next();
    int b[5];
    for (int& v : b) v = r.get_int();
    if (b[0] != s.grid.is || b[1] != s.grid.ie || b[2] != s.grid.js || b[3] != s.grid.ks || b[4] != s.grid.ke)
      refuse("the body-state input file " + body + " is not of this run's grid of " +
             grid(s.grid.ie, s.grid.je, s.grid.ke) + " grid lines");
    check_records(r, s, body, "the body-state input file", kBodyStateFile);
  }
}

// ------------------------------------------------------------------ blow-up

namespace {

// The distance of the farthest grid corner from the axis of rotation.
double reach(const Store& s) {
  double r = 0;
  for (int i : {s.grid.is, s.grid.ie})
    for (int j : {s.grid.js, s.grid.je}) r = std::max(r, std::hypot(s.grid.x(i), s.grid.y(j)));
  return r;
}

}  // namespace

double body_speed(const Store& s) {
  return std::hypot(s.body.vel.x, s.body.vel.y) + std::fabs(s.body.vel.t) * reach(s);
}

double reference_speed(const Store& s) {
  // a spring-mass started from (x, v) moves no faster than |v| + w |x|; an
  // imposed oscillation A sin(w t) no faster than w |A|
  auto free = [](double dis, double vel, double w) {
    return std::isfinite(w) ? std::fabs(vel) + w * std::fabs(dis) : std::fabs(vel);
  };
  auto forced = [](double a, double w) { return std::isfinite(w) ? w * std::fabs(a) : 0.0; };
  const double r = reach(s);
  double body = 0;
  if (s.body.ndof != 0) {
    const Body& m = s.body;
    double v[kDofs] = {0, 0, 0};  // x, y and the rotation rate
    for (int d = 0; d < kDofs; ++d)
      if (moves(m.ndof, d)) {
        const double w = m.natural_frequency(d);
        v[d] = std::max(free(m.dis[d], m.vel[d], w), forced(m.amp[d], w));
      }
    body = std::hypot(v[0], v[1]) + v[2] * r;
  }
  return std::max({std::fabs(s.run.Vin), largest_velocity(s), body_speed(s), body});
}

std::string beyond_range(const Store& s, double ref_speed) {
  const double bound = 100 * ref_speed;
  const std::string of = " (the bound of 100 x " + num(ref_speed) +
                         ", the largest speed of Vin, the start-up field and the body's start and spring)";
  double umax = 0;
  std::string where;
  if (!flow_within_bound(s, bound, &umax, &where)) return where + of;
  if (bound > 0 && !(body_speed(s) <= bound)) return "the body speed " + num(body_speed(s)) + of;
  // The pressure: the dynamic pressure of the bound speed, and what an
  // impulse of that speed across the box raises in one step.  The loads:
  // that pressure on every face of the box, at the farthest corner.
  const double L = std::max({s.grid.x(s.grid.ie) - s.grid.x(s.grid.is), s.grid.y(s.grid.je) - s.grid.y(s.grid.js),
                             s.grid.z(s.grid.ke) - s.grid.z(s.grid.ks)});
  const double A = 2 * ((s.grid.x(s.grid.ie) - s.grid.x(s.grid.is)) * (s.grid.y(s.grid.je) - s.grid.y(s.grid.js)) +
                        (s.grid.y(s.grid.je) - s.grid.y(s.grid.js)) * (s.grid.z(s.grid.ke) - s.grid.z(s.grid.ks)) +
                        (s.grid.z(s.grid.ke) - s.grid.z(s.grid.ks)) * (s.grid.x(s.grid.ie) - s.grid.x(s.grid.is)));
  const double pbound = bound * bound + bound * L / s.run.dt;
  const std::string pof = " (the bound " + num(pbound) + " of the pressure that a speed of 100 x " + num(ref_speed) +
                          " can raise)";
  const auto pressure_ok = [&](double p) { return std::isfinite(p) && !(bound > 0 && std::fabs(p) > pbound); };
  double largest = 0;
  if (!all_pass(s.flow.pp, {s.grid.is, s.grid.ie, s.grid.js, s.grid.je - 1, s.grid.ks, s.grid.ke - 1}, pressure_ok,
                &largest))
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int i = s.grid.is; i <= s.grid.ie; ++i) {
          const double p = s.flow.pp(i, j, k);
          if (!pressure_ok(p))
            return "pp(" + std::to_string(i) + "," + std::to_string(j) + "," + std::to_string(k) + ") = " + num(p) +
                   pof;
        }
  const struct {
    const char* name;
    double v, limit;
  } loads[] = {
      {"pfx", s.body.pf.x, pbound * A}, {"pfy", s.body.pf.y, pbound * A}, {"pft", s.body.pf.t, pbound * A * reach(s)}};
  for (const auto& l : loads)
    if (!std::isfinite(l.v) || (bound > 0 && std::fabs(l.v) > l.limit))
      return std::string("the load ") + l.name + " = " + num(l.v) + pof;
  return "";
}

namespace {

struct Block {
  const char* name;
  const Field& f;
  IndexBox box;
};

std::array<Block, 4> flow_blocks(const Store& s) {
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  return {{{"uu", s.flow.uu, {is, ie + 1, js, je - 1, ks, ke - 1}},
           {"vv", s.flow.vv, {is, ie, js, je, ks, ke - 1}},
           {"ww", s.flow.ww, {is, ie, js, je - 1, ks, ke}},
           {"nut", s.flow.nut, {is, ie, js, je - 1, ks, ke - 1}}}};
}

template <class Visit>
bool each_block(const Store& s, Visit visit) {
  for (const Block& b : flow_blocks(s))
    for (int i = b.box.i1; i <= b.box.i2; ++i)
      for (int j = b.box.j1; j <= b.box.j2; ++j)
        for (int k = b.box.k1; k <= b.box.k2; ++k)
          if (!visit(b, i, j, k, b.f(i, j, k))) return false;
  return true;
}

}  // namespace

double largest_velocity(const Store& s) {
  double m = 0;
  each_block(s, [&](const Block& b, int, int, int, double v) {
    if (&b.f != &s.flow.nut && std::isfinite(v)) m = std::max(m, std::fabs(v));
    return true;
  });
  return m;
}

bool flow_within_bound(const Store& s, double bound, double* umax, std::string* where) {
  // a velocity must be finite and within the bound, nut finite
  const auto within = [&](bool vel, double v) { return std::isfinite(v) && !(vel && bound > 0 && std::fabs(v) > bound); };
  // the usual case, every value within bounds, without the order
  double m = 0;
  bool pass = true;
  for (const Block& b : flow_blocks(s)) {
    const bool vel = &b.f != &s.flow.nut;
    double largest = 0;
    pass = all_pass(b.f, b.box, [&](double v) { return within(vel, v); }, &largest);
    if (!pass) break;
    if (vel) m = std::max(m, largest);
  }
  if (pass) {
    *umax = m;
    return true;
  }
  // a value fails: the walk in the blocks' order names the first
  m = 0;
  const bool ok = each_block(s, [&](const Block& b, int i, int j, int k, double v) {
    const bool vel = &b.f != &s.flow.nut;
    if (within(vel, v)) {
      if (vel) m = std::max(m, std::fabs(v));
      return true;
    }
    *where = std::string(b.name) + "(" + std::to_string(i) + "," + std::to_string(j) + "," + std::to_string(k) +
             ") = " + num(v);
    m = std::isfinite(v) ? std::max(m, std::fabs(v)) : v;
    return false;
  });
  *umax = m;
  return ok;
}

}  // namespace qv
