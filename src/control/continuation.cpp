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
  return std::array{&s.uu,    &s.vv,    &s.ww,    &s.pp,    &s.nut,   &s.fu,    &s.fv,    &s.fw,
                    &s.fxn,   &s.fyn,   &s.fxn0,  &s.fyn0,  &s.su,    &s.sv,    &s.sw,    &s.suu,
                    &s.svv,   &s.sww,   &s.suv,   &s.svw,   &s.swu,   &s.sgs11, &s.sgs22, &s.sgs33,
                    &s.spm,   &s.spm2,  &s.snut,  &s.tauxy, &s.tauyz, &s.tauxz};
}
template <class S>
auto state_planes(S& s) {
  return std::array{&s.ub0, &s.vb0, &s.wb0};
}
// Counters (record 2) and reals (record 3), in the order of the file.
template <class S, class C>
auto state_ints(S& s, C& c) {
  return std::array{&s.nn,  &s.nt,  &c.nxsnap, &c.nout,   &c.itm2c, &s.outflow.iobu, &s.outflow.iobv,
                    &s.outflow.iobw, &s.nsnext, &s.nsample, &s.iter};
}
template <class S, class C>
auto state_reals(S& s, C& c) {
  return std::array{&s.t,     &s.dt,    &s.Vin,   &c.ref_speed, &c.dtmin, &s.pfx,   &s.pfy,
                    &s.pft,   &s.xdis,  &s.ydis,  &s.tdis,      &s.xvel,  &s.yvel,  &s.tvel,  &s.xacc,
                    &s.yacc,  &s.tacc,  &s.xdis0, &s.ydis0,     &s.tdis0, &s.xvel0, &s.yvel0, &s.tvel0,
                    &s.xacc0, &s.yacc0, &s.tacc0, &s.first_dis[0], &s.first_dis[1], &s.first_dis[2],
                    &s.first_vel[0], &s.first_vel[1], &s.first_vel[2]};
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
  const Field& any = s.uu;
  w.begin(11 * 4);
  for (int v : {static_cast<int>(kMagic), static_cast<int>(kLayout), s.is, s.ie, s.js, s.je, s.ks, s.ke, any.ni(),
                any.nj(), any.nk()})
    w.put(static_cast<std::int32_t>(v));
  w.end();
  RunCounters cc = c;
  Store& ms = const_cast<Store&>(s);  // the accessors below only read
  const auto ints = state_ints(ms, cc);
  w.begin((ints.size() + 2 + kOriginInts) * 4);
  for (const int* v : ints) w.put(static_cast<std::int32_t>(*v));
  w.put(static_cast<std::int32_t>(s.history_full_warned));
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
  const std::size_t ns = static_cast<std::size_t>(s.nsample);
  w.begin(3 * ns * 8);
  for (std::size_t n = 0; n < 3 * ns; ++n) w.put(s.fhist[n]);
  w.end();
  w.begin(9 * ns * 8);
  for (std::size_t n = 0; n < 9 * ns; ++n) w.put(s.bhist[n]);
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
    warn(std::string(e.what()) + "; the state for an exact continuation at step " + std::to_string(s.nn) +
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
  const Field& any = s.uu;
  if (b[0] != s.is || b[1] != s.ie || b[2] != s.js || b[3] != s.je || b[4] != s.ks || b[5] != s.ke ||
      b[6] != any.ni() || b[7] != any.nj() || b[8] != any.nk())
    refuse_state(name, "belongs to a grid of " + std::to_string(b[1] - 2) + " x " + std::to_string(b[3] - 2) +
                           " x " + std::to_string(b[5] - 2) + " grid lines; this run has " +
                           std::to_string(s.ie - 2) + " x " + std::to_string(s.je - 2) + " x " +
                           std::to_string(s.ke - 2));

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
  if (!same_bits(saved_scalars.t, s.t))
    refuse_state(name, "was saved at t = " + num(saved_scalars.t) + ", the input field file holds t = " +
                           num(s.t) + ": they are not one set");
  if (saved_scalars.nn < 1 || saved_scalars.nsample < 0 || saved_scalars.nsample > kMaxSamples)
    refuse_state(name, "is damaged (record 2)");
  if (!same_bits(saved_scalars.dt, s.dt))
    warn("the continuation state " + name + " was run with dt = " + num(saved_scalars.dt) +
         ", this run has dt = " + num(s.dt) + ": the continuation is not exact");
  if (!same_bits(saved_scalars.Vin, s.Vin))
    warn("the continuation state " + name + " was run with Vin = " + num(saved_scalars.Vin) +
         ", this run has Vin = " + num(s.Vin) + ": the continuation is not exact");

  const std::size_t ns = static_cast<std::size_t>(saved_scalars.nsample);
  r.next();
  if (r.record_bytes() != 3 * ns * 8) refuse_state(name, "is damaged (record 4)");
  for (std::size_t n = 0; n < 3 * ns; ++n) s.fhist[n] = r.get_real();
  r.next();
  if (r.record_bytes() != 9 * ns * 8) refuse_state(name, "is damaged (record 5)");
  for (std::size_t n = 0; n < 9 * ns; ++n) s.bhist[n] = r.get_real();
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
  const int nt = s.nt;
  {
    Store& t = saved_scalars;
    auto dst_i = state_ints(s, c);
    const auto src_i = state_ints(t, sc);
    for (std::size_t n = 0; n < dst_i.size(); ++n) *dst_i[n] = *src_i[n];
    auto dst_r = state_reals(s, c);
    const auto src_r = state_reals(t, sc);
    const double Vin = s.Vin, dt = s.dt;
    for (std::size_t n = 0; n < dst_r.size(); ++n) *dst_r[n] = *src_r[n];
    s.Vin = Vin;  // the values of this run's inputs stay in force
    s.dt = dt;
  }
  s.nt = nt;  // the run length is this run's own (change.inf)
  s.history_full_warned = full_warned;
  c.origin.assign(origin, static_cast<std::size_t>(origin_len));
  s.continuing = true;
}

}  // namespace qv
