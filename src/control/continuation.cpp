#include "control/continuation.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "io/console.hpp"
#include "io/format.hpp"
#include "store/blocks.hpp"

namespace qv {
namespace {

constexpr int kStateUnit = 27;  // unit number shown in failure messages
constexpr std::int32_t kMagic = 0x53435651;  // "QVCS"
constexpr std::int32_t kLayout = 1;
constexpr std::size_t kOriginInts = 4;  // 16 characters of the first run's input field name

// The fields of the state, each over its whole extent (ghost layers too),
// in the order of the file.
template <class S>
auto state_fields(S& s) {
  return std::array{&s.flow.uu,   &s.flow.vv,    &s.flow.ww,    &s.flow.pp,     &s.flow.nut,    &s.flow.fu,
                    &s.flow.fv,   &s.flow.fw,    &s.flow.fxn,   &s.flow.fyn,    &s.flow.fxn0,   &s.flow.fyn0,
                    &s.stats.su,  &s.stats.sv,   &s.stats.sw,   &s.stats.suu,   &s.stats.svv,   &s.stats.sww,
                    &s.stats.suv, &s.stats.svw,  &s.stats.swu,  &s.stats.sgs11, &s.stats.sgs22, &s.stats.sgs33,
                    &s.stats.spm, &s.stats.spm2, &s.stats.snut, &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz};
}
template <class S>
auto state_planes(S& s) {
  return std::array{&s.flow.ub0, &s.flow.vb0, &s.flow.wb0};
}
// Counters (record 2) and reals (record 3), in the order of the file.
template <class S, class C>
auto state_ints(S& s, C& c) {
  return std::array{&s.run.nn,       &s.run.nt,       &c.nxsnap,      &c.nout,         &c.itm2c,   &c.outflow.iobu,
                    &c.outflow.iobv, &c.outflow.iobw, &s.body.nsnext, &s.body.nsample, &s.run.iter};
}
template <class S, class C>
auto state_reals(S& s, C& c) {
  Body& b = s.body;
  std::array<double*, 5 + 9 * kDofs> r{};
  std::size_t n = 0;
  for (double* v : {&s.run.t, &s.run.dt, &s.run.Vin, &c.ref_speed, &c.dtmin}) r[n++] = v;
  for (Dof3* q : {&b.pf, &b.dis, &b.vel, &b.acc, &b.dis0, &b.vel0, &b.acc0, &b.first_dis, &b.first_vel})
    for (int d = 0; d < kDofs; ++d) r[n++] = &(*q)[d];
  return r;
}

[[noreturn]] void refuse_state(const std::string& name, const std::string& why) {
  throw RunStop("the continuation state " + name + " " + why, 2);
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::string num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

}  // namespace

std::string state_name(const std::string& nfile) { return fmt::trim_name(nfile) + ".state"; }

std::string continuation_request() {
  if (!file_exists(kContinueInput)) return "";
  TextReader r(kContinueInput, kStateUnit);
  std::string line = r.next();
  r.close();
  const std::size_t a = line.find_first_not_of(" \t"), b = line.find_last_not_of(" \t\r");
  if (a == std::string::npos) throw RunStop(std::string(kContinueInput) + " line 1: no state file named", 2);
  return line.substr(a, b - a + 1);
}

int state_step(const std::string& name) {
  RecordReader r(name, kStateUnit);
  r.next();
  if (r.record_bytes() < 8 || r.get_int() != kMagic || r.get_int() != kLayout)
    refuse_state(name, "is not a state file of this program");
  r.next();
  return r.get_int();
}

namespace {

void write_state(const Store& s, const RunCounters& c, const std::string& name, std::vector<Staged>* set) {
  RecordWriter w(name, kStateUnit, Mode::Unknown, true);
  const Field& any = s.flow.uu;
  w.begin(11 * 4);
  for (int v : {static_cast<int>(kMagic), static_cast<int>(kLayout), s.grid.is, s.grid.ie, s.grid.js, s.grid.je,
                s.grid.ks, s.grid.ke, any.ni(), any.nj(), any.nk()})
    w.put(static_cast<std::int32_t>(v));
  w.end();
  RunCounters cc = c;
  Store& ms = const_cast<Store&>(s);  // the accessors below only read
  const auto ints = state_ints(ms, cc);
  w.begin((ints.size() + 2 + kOriginInts) * 4);
  for (const int* v : ints) w.put(static_cast<std::int32_t>(*v));
  w.put(static_cast<std::int32_t>(c.history_full_warned));
  w.put(static_cast<std::int32_t>(c.origin.size() > 4 * kOriginInts ? 4 * kOriginInts : c.origin.size()));
  char origin[4 * kOriginInts] = {};
  std::memcpy(origin, c.origin.data(), std::min(c.origin.size(), sizeof origin));
  for (std::size_t n = 0; n < kOriginInts; ++n) {
    std::int32_t v;
    std::memcpy(&v, origin + 4 * n, 4);
    w.put(v);
  }
  w.end();
  const auto reals = state_reals(ms, cc);
  w.begin(reals.size() * 8);
  for (const double* v : reals) w.put(*v);
  w.end();
  const std::size_t ns = static_cast<std::size_t>(s.body.nsample);
  w.begin(3 * ns * 8);
  for (std::size_t n = 0; n < 3 * ns; ++n) w.put(s.body.fhist[n]);
  w.end();
  w.begin(9 * ns * 8);
  for (std::size_t n = 0; n < 9 * ns; ++n) w.put(s.body.bhist[n]);
  w.end();
  for (const Plane* p : state_planes(s)) {
    w.begin(p->size() * 8);
    for (std::size_t n = 0; n < p->size(); ++n) w.put(p->data()[n]);
    w.end();
  }
  for (const Field* f : state_fields(s)) write_block(w, *f, 1, f->ni(), 1, f->nj(), 1, f->nk());
  if (set)
    w.close_staged(*set);
  else
    w.close();
}

}  // namespace

void save_state(const Store& s, const RunCounters& c, const std::string& name, std::vector<Staged>* set) {
  try {
    write_state(s, c, name, set);
  } catch (const IoError& e) {
    warn(std::string(e.what()) + "; the state for an exact continuation at step " + std::to_string(s.run.nn) +
         " is not saved");
  }
}

void read_state(Store& s, RunCounters& c, const std::string& name) {
  RecordReader r(name, kStateUnit);
  r.next();
  if (r.record_bytes() != 11 * 4 || r.get_int() != kMagic || r.get_int() != kLayout)
    refuse_state(name, "is not a state file of this program");
  int b[9];
  for (int& v : b) v = r.get_int();
  const Field& any = s.flow.uu;
  if (b[0] != s.grid.is || b[1] != s.grid.ie || b[2] != s.grid.js || b[3] != s.grid.je || b[4] != s.grid.ks ||
      b[5] != s.grid.ke || b[6] != any.ni() || b[7] != any.nj() || b[8] != any.nk())
    refuse_state(name, "belongs to a grid of " + std::to_string(b[1] - 2) + " x " + std::to_string(b[3] - 2) + " x " +
                           std::to_string(b[5] - 2) + " grid lines; this run has " + std::to_string(s.grid.ie - 2) +
                           " x " + std::to_string(s.grid.je - 2) + " x " + std::to_string(s.grid.ke - 2));

  // What the restart pair already gave, checked against the state.
  Store saved_scalars;  // only its scalars are used
  RunCounters sc;
  const auto ints = state_ints(saved_scalars, sc);
  r.next();
  if (r.record_bytes() != (ints.size() + 2 + kOriginInts) * 4) refuse_state(name, "is damaged (record 2)");
  for (int* v : ints) *v = r.get_int();
  const bool full_warned = r.get_int() != 0;
  const int origin_len = r.get_int();
  char origin[4 * kOriginInts];
  for (std::size_t n = 0; n < kOriginInts; ++n) {
    const std::int32_t v = r.get_int();
    std::memcpy(origin + 4 * n, &v, 4);
  }
  if (origin_len < 0 || origin_len > static_cast<int>(sizeof origin)) refuse_state(name, "is damaged (record 2)");
  const auto reals = state_reals(saved_scalars, sc);
  r.next();
  if (r.record_bytes() != reals.size() * 8) refuse_state(name, "is damaged (record 3)");
  for (double* v : reals) *v = r.get_real();
  if (!same_bits(saved_scalars.run.t, s.run.t))
    refuse_state(name, "was saved at t = " + num(saved_scalars.run.t) +
                           ", the input field file holds t = " + num(s.run.t) + ": they are not one set");
  if (saved_scalars.run.nn < 1 || saved_scalars.body.nsample < 0 || saved_scalars.body.nsample > kMaxSamples)
    refuse_state(name, "is damaged (record 2)");
  if (!same_bits(saved_scalars.run.dt, s.run.dt))
    warn("the continuation state " + name + " was run with dt = " + num(saved_scalars.run.dt) +
         ", this run has dt = " + num(s.run.dt) + ": the continuation is not exact");
  if (!same_bits(saved_scalars.run.Vin, s.run.Vin))
    warn("the continuation state " + name + " was run with Vin = " + num(saved_scalars.run.Vin) +
         ", this run has Vin = " + num(s.run.Vin) + ": the continuation is not exact");

  const std::size_t ns = static_cast<std::size_t>(saved_scalars.body.nsample);
  r.next();
  if (r.record_bytes() != 3 * ns * 8) refuse_state(name, "is damaged (record 4)");
  for (std::size_t n = 0; n < 3 * ns; ++n) s.body.fhist[n] = r.get_real();
  r.next();
  if (r.record_bytes() != 9 * ns * 8) refuse_state(name, "is damaged (record 5)");
  for (std::size_t n = 0; n < 9 * ns; ++n) s.body.bhist[n] = r.get_real();
  for (Plane* p : state_planes(s)) {
    r.next();
    if (r.record_bytes() != p->size() * 8) refuse_state(name, "is damaged (inflow planes)");
    for (std::size_t n = 0; n < p->size(); ++n) p->data()[n] = r.get_real();
  }
  for (Field* f : state_fields(s)) {
    r.next();
    if (r.record_bytes() != static_cast<std::size_t>(f->ni()) * f->nj() * f->nk() * 8)
      refuse_state(name, "is damaged (field records)");
    for (int k = 1; k <= f->nk(); ++k)
      for (int j = 1; j <= f->nj(); ++j)
        for (int i = 1; i <= f->ni(); ++i) (*f)(i, j, k) = r.get_real();
  }
  r.close();

  // Only now, with every record read, does the state replace the store's.
  const int nt = s.run.nt;
  {
    Store& t = saved_scalars;
    auto dst_i = state_ints(s, c);
    const auto src_i = state_ints(t, sc);
    for (std::size_t n = 0; n < dst_i.size(); ++n) *dst_i[n] = *src_i[n];
    auto dst_r = state_reals(s, c);
    const auto src_r = state_reals(t, sc);
    const double Vin = s.run.Vin, dt = s.run.dt;
    for (std::size_t n = 0; n < dst_r.size(); ++n) *dst_r[n] = *src_r[n];
    s.run.Vin = Vin;  // the values of this run's inputs stay in force
    s.run.dt = dt;
  }
  s.run.nt = nt;  // the run length is this run's own (change.inf)
  c.history_full_warned = full_warned;
  c.origin.assign(origin, static_cast<std::size_t>(origin_len));
}

}  // namespace qv
