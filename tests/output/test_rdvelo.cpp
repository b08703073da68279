// The initial field: the analytic start and the restart from an earlier
// run's field file and body-state file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "io/files.hpp"
#include "io/format.hpp"
#include "output/output.hpp"
#include "store/input.hpp"
#include "support/case.hpp"

namespace {

using qv::Field;
using qv::Store;
using qv::fmt::A;

// The number printed after `key` on the console.
double printed(const std::string& out, const std::string& key) {
  const auto p = out.find(key);
  if (p == std::string::npos) {
    ADD_FAILURE() << "no \"" << key << "\" in:\n" << out;
    return NAN;
  }
  return std::strtod(out.c_str() + p + key.size(), nullptr);
}

std::string run_rdvelo(Store& s, const std::string& input, const std::string& nfile0 = "",
                       qv::OutflowSwitches* switches = nullptr) {
  qv::OutflowSwitches outflow{2, 2, 2};  // neither set: rdvelo must choose
  testing::internal::CaptureStdout();
  try {
    qv::rdvelo(s, A(input, 14), A(nfile0, 14), outflow);
    if (switches) *switches = outflow;
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  return testing::internal::GetCapturedStdout();
}

// ------------------------------------------------------------ fresh start

// The number of body cells among the eight around node (i,j,k).
int body_cells(const Store& s, int i, int j, int k) {
  int n = 0;
  for (int a = i - 1; a <= i; ++a)
    for (int b = j - 1; b <= j; ++b)
      for (int c = k - 1; c <= k; ++c) n += s.flow.iflag(a, b, c) != 0;
  return n;
}
bool body_node(const Store& s, int i, int j, int k) { return body_cells(s, i, j, k) > 0; }

TEST(Rdvelo, FreshStartIsUniformAwayFromANoSlipBody) {
  Store s = qvt::tiny_store(12, 10, 7, 0.5, 1, 1);
  s.run.Vin = 1.5;
  s.run.ca1 = -1;  // file value 0
  for (int k = 5; k <= 6; ++k)
    for (int j = 6; j <= 7; ++j)
      for (int i = 6; i <= 7; ++i) s.flow.iflag(i, j, k) = 1;
  qv::OutflowSwitches outflow;
  const std::string out = run_rdvelo(s, "fffff", "", &outflow);
  EXPECT_EQ(printed(out, "ca01="), 0.0);
  EXPECT_EQ(out.find("input file"), std::string::npos);
  EXPECT_EQ(outflow.iobu, 1);
  EXPECT_EQ(outflow.iobv, 1);
  EXPECT_EQ(outflow.iobw, 1);
  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        // Surface nodes 0; the node inside the block touches no fluid face.
        const int n = body_cells(s, i, j, k);
        EXPECT_EQ(s.work.un(i, j, k), n > 0 && n < 8 ? 0.0 : 1.5) << i << " " << j << " " << k;
        EXPECT_EQ(s.work.vn(i, j, k), 0.0);
        EXPECT_EQ(s.work.pn(i, j, k), 0.0);
      }
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        const bool near = body_node(s, i, j, k) || body_node(s, i, j + 1, k) || body_node(s, i, j, k + 1) ||
                          body_node(s, i, j + 1, k + 1);
        if (!near) {
          EXPECT_EQ(s.flow.uu(i, j, k), 1.5) << i << " " << j << " " << k;
        }
      }
  for (int j = js; j <= je - 1; ++j)
    for (int k = ks; k <= ke - 1; ++k) EXPECT_EQ(s.flow.ub0(j, k), 1.5);
  // The body's upstream face is a normal face: 0 after the boundary values.
  EXPECT_EQ(s.flow.uu(6, 6, 5), 0.0);
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        EXPECT_EQ(s.flow.vv(i, j, k), 0.0);
        EXPECT_EQ(s.flow.ww(i, j, k), 0.0);
        EXPECT_EQ(s.flow.pp(i, j, k), 0.0);
      }
}

TEST(Rdvelo, FreshStartSlipBodyNodesFollowTheOrderOfCellsAndFaces) {
  // A plus-shaped body in the plane i = c: a centre cell whose y and z
  // neighbours are body.  With ca01 = 1 the faces parallel to x give 1 (not
  // Vin) and the x faces 0; a node shared by both keeps the last assignment,
  // cells taken k, j, i ascending and faces in the order -x, +x, -y, +y,
  // -z, +z.
  const int c = 7;
  Store s = qvt::tiny_store(12, 12, 12, 0.5, 1, 1);
  s.run.Vin = 2.0;
  s.run.ca1 = 1;  // file value 1
  for (int d : {-1, 1}) {
    s.flow.iflag(c, c + d, c) = 1;
    s.flow.iflag(c, c, c + d) = 1;
  }
  s.flow.iflag(c, c, c) = 1;
  const std::string out = run_rdvelo(s, "fffff");
  EXPECT_EQ(printed(out, "ca01="), 1.0);
  // The centre cell comes after its lower neighbours and only its x faces
  // border fluid: its upstream and downstream corners end at 0.
  EXPECT_EQ(s.work.un(c, c, c), 0.0);
  EXPECT_EQ(s.work.un(c + 1, c, c), 0.0);
  // Nodes of the arms' y and z faces carry the slip value.
  EXPECT_EQ(s.work.un(c, c - 1, c), 1.0);
  EXPECT_EQ(s.work.un(c, c + 1, c + 1), 1.0);
  EXPECT_EQ(s.work.un(c + 1, c + 2, c + 1), 1.0);
  // Nodes off the body keep Vin.
  EXPECT_EQ(s.work.un(c - 1, c, c), 2.0);
  EXPECT_EQ(s.work.un(c, c - 2, c), 2.0);
}

// A slip body three cells thick in every direction: the nodes inside each
// of its four faces parallel to x start at ca01 = 1, those inside its two
// x faces at 0, whichever face it is.
TEST(Rdvelo, FreshStartSlipBodyFacesParallelToXCarryTheSlipValue) {
  const int lo = 6, hi = 8;  // body cells lo..hi in i, j and k; nodes lo..hi+1
  Store s = qvt::tiny_store(13, 13, 13, 0.5, 1, 1);
  s.run.Vin = 2.0;
  s.run.ca1 = 1;
  for (int i = lo; i <= hi; ++i)
    for (int j = lo; j <= hi; ++j)
      for (int k = lo; k <= hi; ++k) s.flow.iflag(i, j, k) = 1;
  run_rdvelo(s, "fffff");
  for (int a = lo + 1; a <= hi; ++a)
    for (int b = lo + 1; b <= hi; ++b) {
      EXPECT_EQ(s.work.un(a, lo, b), 1.0) << "-y face";
      EXPECT_EQ(s.work.un(a, hi + 1, b), 1.0) << "+y face";
      EXPECT_EQ(s.work.un(a, b, lo), 1.0) << "-z face";
      EXPECT_EQ(s.work.un(a, b, hi + 1), 1.0) << "+z face";
      EXPECT_EQ(s.work.un(lo, a, b), 0.0) << "-x face";
      EXPECT_EQ(s.work.un(hi + 1, a, b), 0.0) << "+x face";
      EXPECT_EQ(s.work.un(a, a, b), 2.0) << "inside the body, no face";
    }
}

// ----------------------------------------------------------------- restart

void fill(Field& f, double base) {
  for (int i = 1; i <= f.ni(); ++i)
    for (int j = 1; j <= f.nj(); ++j)
      for (int k = 1; k <= f.nk(); ++k) f(i, j, k) = base + i * 10000.0 + j * 100.0 + k;
}

// An earlier run's state with every entry distinct.
Store earlier(int nx, int ny, int nz) {
  Store e = qvt::tiny_store(nx, ny, nz, 0.5, 1, 1);
  double base = 1e6;
  for (Field* f : {&e.flow.uu, &e.flow.vv, &e.flow.ww, &e.flow.pp, &e.flow.fu, &e.flow.fv, &e.flow.fw, &e.flow.nut,
                   &e.flow.fxn, &e.flow.fyn}) {
    fill(*f, base);
    base += 1e6;
  }
  e.body.acc.x = 0.11, e.body.acc.y = 0.12, e.body.acc.t = 0.13;
  e.body.dis.x = 0.21, e.body.dis.y = 0.22, e.body.dis.t = 0.23;
  e.body.vel.x = 0.31, e.body.vel.y = 0.32, e.body.vel.t = 0.33;
  return e;
}

// The final field file of that run, in its record layout.
void write_field(const std::string& name, const Store& e, double t) {
  qv::RecordWriter w(name, qv::unit::final_field, qv::Mode::Unknown);
  const int is = e.grid.is, ie = e.grid.ie, js = e.grid.js, je = e.grid.je, ks = e.grid.ks, ke = e.grid.ke;
  w.begin(24);
  for (int v : {is, ie, js, je, ks, ke}) w.put(static_cast<std::int32_t>(v));
  w.end();
  w.begin(48);
  for (double v : {99.0, 0.17, 0.005, t}) w.put(v);
  for (int v : {50, 1, 1, 7}) w.put(static_cast<std::int32_t>(v));
  w.end();
  for (const qv::RecordLayout& r : qv::kFieldFile)
    if (r.block()) qv::write_block(w, qv::named_field(e, r.names), e, r);
  w.close();
}

// Its body-state file.
// The body state of e, record by record as its layout table lists them; the
// reals of a record are looked up here by their defined names, apart from
// the program's own mapping.
double body_value(const Store& e, const std::string& name) {
  const qv::Body& b = e.body;
  const std::pair<const char*, double> values[] = {{"xacc", b.acc.x}, {"yacc", b.acc.y}, {"tacc", b.acc.t},
                                                   {"xdis", b.dis.x}, {"ydis", b.dis.y}, {"tdis", b.dis.t},
                                                   {"xvel", b.vel.x}, {"yvel", b.vel.y}, {"tvel", b.vel.t}};
  for (const auto& [n, v] : values)
    if (name == n) return v;
  ADD_FAILURE() << "no body value " << name;
  return 0;
}
int box_value(const Store& e, const std::string& name) {
  const std::pair<const char*, int> values[] = {{"is", e.grid.is}, {"ie", e.grid.ie}, {"js", e.grid.js},
                                                {"je", e.grid.je}, {"ks", e.grid.ks}, {"ke", e.grid.ke}};
  for (const auto& [n, v] : values)
    if (name == n) return v;
  ADD_FAILURE() << "no box value " << name;
  return 0;
}
void write_body(const std::string& name, const Store& e) {
  qv::RecordWriter w(name, qv::unit::body_state, qv::Mode::Unknown);
  for (const qv::RecordLayout& r : qv::kBodyStateFile) {
    if (r.block()) {
      qv::write_block(w, qv::named_field(e, r.names), e, r);
      continue;
    }
    std::istringstream names(r.names);
    std::vector<std::string> items{std::istream_iterator<std::string>(names), {}};
    const bool ints = std::string(r.items).back() == 'i';
    w.begin(items.size() * (ints ? 4 : 8));
    for (const std::string& n : items)
      if (ints)
        w.put(static_cast<std::int32_t>(box_value(e, n)));
      else
        w.put(body_value(e, n));
    w.end();
  }
  w.close();
}

TEST(Rdvelo, RestartReadsTheFieldAndBodyStateOfAnEarlierRun) {
  const std::string dir = qvt::temp_dir("rdvelo");
  qvt::ScopedDir here(dir);
  const Store e = earlier(6, 5, 5);
  write_field("field.dat", e, 7.625);
  write_body("body0.dat", e);

  Store s = qvt::tiny_store(6, 5, 5, 0.5, 1, 1);
  s.run.Re = 100;
  s.run.dt = 0.01;
  qv::OutflowSwitches outflow{1, 1, 1};
  const std::string out = run_rdvelo(s, "field.dat", "body0.dat", &outflow);
  EXPECT_NE(out.find("input file = field.dat"), std::string::npos) << out;
  EXPECT_EQ(printed(out, "t2 ="), 7.625);
  EXPECT_EQ(s.run.t, 7.625);
  // Only the time is taken from record 2.
  EXPECT_EQ(s.run.Re, 100);
  EXPECT_EQ(s.run.dt, 0.01);
  EXPECT_EQ(outflow.iobu, 0);
  EXPECT_EQ(outflow.iobv, 0);
  EXPECT_EQ(outflow.iobw, 0);

  const int is = s.grid.is, ie = s.grid.ie, js = s.grid.js, je = s.grid.je, ks = s.grid.ks, ke = s.grid.ke;
  const double p0 = e.flow.pp(is, je / 2, ke / 2);
  // Away from the walls the fields are as read, the outflow column too: the
  // outflow copies are off on a restart.
  for (int k = ks + 1; k <= ke - 1; ++k)
    for (int j = js + 1; j <= je - 1; ++j)
      for (int i = is; i <= ie; ++i) {
        EXPECT_EQ(s.flow.uu(i, j, k), e.flow.uu(i, j, k));
        EXPECT_EQ(s.flow.vv(i, j, k), e.flow.vv(i, j, k));
        EXPECT_EQ(s.flow.ww(i, j, k), e.flow.ww(i, j, k));
        if (i <= ie - 1) {
          EXPECT_EQ(s.flow.pp(i, j, k), e.flow.pp(i, j, k) - p0);
        }
      }
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) EXPECT_EQ(s.flow.uu(ie + 1, j, k), e.flow.uu(ie + 1, j, k));
  int wrong = 0;
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je; ++j)
      for (int i = is; i <= ie; ++i) {
        wrong += s.flow.fu(i, j, k) != e.flow.fu(i, j, k) || s.flow.fv(i, j, k) != e.flow.fv(i, j, k) ||
                 s.flow.fw(i, j, k) != e.flow.fw(i, j, k);
        wrong += s.flow.fxn(i, j, k) != e.flow.fxn(i, j, k) || s.flow.fyn(i, j, k) != e.flow.fyn(i, j, k);
        wrong += s.work.un(i, j, k) != 0.0;  // node fields are not set on a restart
      }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(s.flow.nut(is + 1, js + 1, ks + 1), 0.0);  // the tenth record is not read

  for (int d = 0; d < qv::kDofs; ++d) {
    EXPECT_EQ(s.body.acc[d], e.body.acc[d]);
    EXPECT_EQ(s.body.dis[d], e.body.dis[d]);
    EXPECT_EQ(s.body.vel[d], e.body.vel[d]);
  }

  // The inflow planes are saved before the boundary values are applied: the
  // bottom wall zeroes ww(is, j, ks) afterwards, wb0 keeps the value read.
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) EXPECT_EQ(s.flow.ub0(j, k), e.flow.uu(is, j, k));
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je; ++j) EXPECT_EQ(s.flow.vb0(j, k), e.flow.vv(is, j, k));
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je - 1; ++j) EXPECT_EQ(s.flow.wb0(j, k), e.flow.ww(is, j, k));
  EXPECT_EQ(s.flow.ww(is, js, ks), 0.0);
}

TEST(Rdvelo, RestartFailures) {
  const std::string dir = qvt::temp_dir("rdvelo-bad");
  qvt::ScopedDir here(dir);
  // A field file written for smaller bounds runs out of data.
  write_field("small.dat", earlier(5, 5, 5), 1.0);
  write_body("body0.dat", earlier(6, 5, 5));
  {
    Store s = qvt::tiny_store(6, 5, 5, 0.5, 1, 1);
    try {
      run_rdvelo(s, "small.dat", "body0.dat");
      ADD_FAILURE() << "a field file for other bounds was read";
    } catch (const qv::IoError& err) {
      const std::string what = err.what();
      EXPECT_NE(what.find("input statement requires too much data"), std::string::npos) << what;
      EXPECT_NE(what.find("small.dat"), std::string::npos) << what;
    }
  }
  // A missing body-state file stops the restart.
  write_field("field.dat", earlier(6, 5, 5), 1.0);
  {
    Store s = qvt::tiny_store(6, 5, 5, 0.5, 1, 1);
    EXPECT_THROW(run_rdvelo(s, "field.dat", "nobody.dat"), qv::IoError);
  }
}

}  // namespace
