// The initial field: the analytic start and the restart from an earlier
// run's field file and body-state file.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

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

std::string run_rdvelo(Store& s, const std::string& input, const std::string& nfile0 = "") {
  testing::internal::CaptureStdout();
  try {
    qv::rdvelo(s, A(input, 14), A(nfile0, 14));
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
      for (int c = k - 1; c <= k; ++c) n += s.iflag(a, b, c) != 0;
  return n;
}
bool body_node(const Store& s, int i, int j, int k) { return body_cells(s, i, j, k) > 0; }

TEST(Rdvelo, FreshStartIsUniformAwayFromANoSlipBody) {
  Store s = qvt::tiny_store(12, 10, 7, 0.5, 1, 1);
  s.Vin = 1.5;
  s.ca1 = -1;  // file value 0
  for (int k = 5; k <= 6; ++k)
    for (int j = 6; j <= 7; ++j)
      for (int i = 6; i <= 7; ++i) s.iflag(i, j, k) = 1;
  const std::string out = run_rdvelo(s, "fffff");
  EXPECT_EQ(printed(out, "ca01="), 0.0);
  EXPECT_EQ(out.find("input file"), std::string::npos);
  EXPECT_EQ(s.outflow.iobu, 1);
  EXPECT_EQ(s.outflow.iobv, 1);
  EXPECT_EQ(s.outflow.iobw, 1);
  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je; ++j)
      for (int k = ks; k <= ke; ++k) {
        // Surface nodes 0; the node inside the block touches no fluid face.
        const int n = body_cells(s, i, j, k);
        EXPECT_EQ(s.un(i, j, k), n > 0 && n < 8 ? 0.0 : 1.5) << i << " " << j << " " << k;
        EXPECT_EQ(s.vn(i, j, k), 0.0);
        EXPECT_EQ(s.pn(i, j, k), 0.0);
      }
  for (int i = is; i <= ie; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        const bool near = body_node(s, i, j, k) || body_node(s, i, j + 1, k) || body_node(s, i, j, k + 1) ||
                          body_node(s, i, j + 1, k + 1);
        if (!near) {
          EXPECT_EQ(s.uu(i, j, k), 1.5) << i << " " << j << " " << k;
        }
      }
  for (int j = js; j <= je - 1; ++j)
    for (int k = ks; k <= ke - 1; ++k) EXPECT_EQ(s.ub0(j, k), 1.5);
  // The body's upstream face is a normal face: 0 after the boundary values.
  EXPECT_EQ(s.uu(6, 6, 5), 0.0);
  for (int i = is; i <= ie - 1; ++i)
    for (int j = js; j <= je - 1; ++j)
      for (int k = ks; k <= ke - 1; ++k) {
        EXPECT_EQ(s.vv(i, j, k), 0.0);
        EXPECT_EQ(s.ww(i, j, k), 0.0);
        EXPECT_EQ(s.pp(i, j, k), 0.0);
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
  s.Vin = 2.0;
  s.ca1 = 1;  // file value 1
  for (int d : {-1, 1}) {
    s.iflag(c, c + d, c) = 1;
    s.iflag(c, c, c + d) = 1;
  }
  s.iflag(c, c, c) = 1;
  const std::string out = run_rdvelo(s, "fffff");
  EXPECT_EQ(printed(out, "ca01="), 1.0);
  // The centre cell comes after its lower neighbours and only its x faces
  // border fluid: its upstream and downstream corners end at 0.
  EXPECT_EQ(s.un(c, c, c), 0.0);
  EXPECT_EQ(s.un(c + 1, c, c), 0.0);
  // Nodes of the arms' y and z faces carry the slip value.
  EXPECT_EQ(s.un(c, c - 1, c), 1.0);
  EXPECT_EQ(s.un(c, c + 1, c + 1), 1.0);
  EXPECT_EQ(s.un(c + 1, c + 2, c + 1), 1.0);
  // Nodes off the body keep Vin.
  EXPECT_EQ(s.un(c - 1, c, c), 2.0);
  EXPECT_EQ(s.un(c, c - 2, c), 2.0);
}

// A slip body three cells thick in every direction: the nodes inside each
// of its four faces parallel to x start at ca01 = 1, those inside its two
// x faces at 0, whichever face it is.
TEST(Rdvelo, FreshStartSlipBodyFacesParallelToXCarryTheSlipValue) {
  const int lo = 6, hi = 8;  // body cells lo..hi in i, j and k; nodes lo..hi+1
  Store s = qvt::tiny_store(13, 13, 13, 0.5, 1, 1);
  s.Vin = 2.0;
  s.ca1 = 1;
  for (int i = lo; i <= hi; ++i)
    for (int j = lo; j <= hi; ++j)
      for (int k = lo; k <= hi; ++k) s.iflag(i, j, k) = 1;
  run_rdvelo(s, "fffff");
  for (int a = lo + 1; a <= hi; ++a)
    for (int b = lo + 1; b <= hi; ++b) {
      EXPECT_EQ(s.un(a, lo, b), 1.0) << "-y face";
      EXPECT_EQ(s.un(a, hi + 1, b), 1.0) << "+y face";
      EXPECT_EQ(s.un(a, b, lo), 1.0) << "-z face";
      EXPECT_EQ(s.un(a, b, hi + 1), 1.0) << "+z face";
      EXPECT_EQ(s.un(lo, a, b), 0.0) << "-x face";
      EXPECT_EQ(s.un(hi + 1, a, b), 0.0) << "+x face";
      EXPECT_EQ(s.un(a, a, b), 2.0) << "inside the body, no face";
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
  for (Field* f : {&e.uu, &e.vv, &e.ww, &e.pp, &e.fu, &e.fv, &e.fw, &e.nut, &e.fxn, &e.fyn}) {
    fill(*f, base);
    base += 1e6;
  }
  e.xacc = 0.11, e.yacc = 0.12, e.tacc = 0.13;
  e.xdis = 0.21, e.ydis = 0.22, e.tdis = 0.23;
  e.xvel = 0.31, e.yvel = 0.32, e.tvel = 0.33;
  return e;
}

// The final field file of that run, in its record layout.
void write_field(const std::string& name, const Store& e, double t) {
  qv::RecordWriter w(name, qv::unit::final_field, qv::Mode::Unknown);
  const int is = e.is, ie = e.ie, js = e.js, je = e.je, ks = e.ks, ke = e.ke;
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
void write_body(const std::string& name, const Store& e) {
  qv::RecordWriter w(name, qv::unit::body_state, qv::Mode::Unknown);
  w.begin(20);
  for (int v : {e.is, e.ie, e.js, e.ks, e.ke}) w.put(static_cast<std::int32_t>(v));
  w.end();
  for (auto triple : {std::array<double, 3>{e.xacc, e.yacc, e.tacc}, std::array<double, 3>{e.xdis, e.ydis, e.tdis},
                      std::array<double, 3>{e.xvel, e.yvel, e.tvel}}) {
    w.begin(24);
    for (double v : triple) w.put(v);
    w.end();
  }
  for (const qv::RecordLayout& r : qv::kBodyStateFile)
    if (r.block()) qv::write_block(w, qv::named_field(e, r.names), e, r);
  w.close();
}

TEST(Rdvelo, RestartReadsTheFieldAndBodyStateOfAnEarlierRun) {
  const std::string dir = qvt::temp_dir("rdvelo");
  qvt::ScopedDir here(dir);
  const Store e = earlier(6, 5, 5);
  write_field("field.dat", e, 7.625);
  write_body("body0.dat", e);

  Store s = qvt::tiny_store(6, 5, 5, 0.5, 1, 1);
  s.Re = 100;
  s.dt = 0.01;
  s.outflow = {1, 1, 1};
  const std::string out = run_rdvelo(s, "field.dat", "body0.dat");
  EXPECT_NE(out.find("input file = field.dat"), std::string::npos) << out;
  EXPECT_EQ(printed(out, "t2 ="), 7.625);
  EXPECT_EQ(s.t, 7.625);
  // Only the time is taken from record 2.
  EXPECT_EQ(s.Re, 100);
  EXPECT_EQ(s.dt, 0.01);
  EXPECT_EQ(s.outflow.iobu, 0);
  EXPECT_EQ(s.outflow.iobv, 0);
  EXPECT_EQ(s.outflow.iobw, 0);

  const int is = s.is, ie = s.ie, js = s.js, je = s.je, ks = s.ks, ke = s.ke;
  const double p0 = e.pp(is, je / 2, ke / 2);
  // Away from the walls the fields are as read, the outflow column too: the
  // outflow copies are off on a restart.
  for (int k = ks + 1; k <= ke - 1; ++k)
    for (int j = js + 1; j <= je - 1; ++j)
      for (int i = is; i <= ie; ++i) {
        EXPECT_EQ(s.uu(i, j, k), e.uu(i, j, k));
        EXPECT_EQ(s.vv(i, j, k), e.vv(i, j, k));
        EXPECT_EQ(s.ww(i, j, k), e.ww(i, j, k));
        if (i <= ie - 1) {
          EXPECT_EQ(s.pp(i, j, k), e.pp(i, j, k) - p0);
        }
      }
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) EXPECT_EQ(s.uu(ie + 1, j, k), e.uu(ie + 1, j, k));
  int wrong = 0;
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je; ++j)
      for (int i = is; i <= ie; ++i) {
        wrong += s.fu(i, j, k) != e.fu(i, j, k) || s.fv(i, j, k) != e.fv(i, j, k) || s.fw(i, j, k) != e.fw(i, j, k);
        wrong += s.fxn(i, j, k) != e.fxn(i, j, k) || s.fyn(i, j, k) != e.fyn(i, j, k);
        wrong += s.un(i, j, k) != 0.0;  // node fields are not set on a restart
      }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(s.nut(is + 1, js + 1, ks + 1), 0.0);  // the tenth record is not read

  for (const auto m : {&Store::xacc, &Store::yacc, &Store::tacc, &Store::xdis, &Store::ydis, &Store::tdis,
                       &Store::xvel, &Store::yvel, &Store::tvel})
    EXPECT_EQ(s.*m, e.*m);

  // The inflow planes are saved before the boundary values are applied: the
  // bottom wall zeroes ww(is, j, ks) afterwards, wb0 keeps the value read.
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je - 1; ++j) EXPECT_EQ(s.ub0(j, k), e.uu(is, j, k));
  for (int k = ks; k <= ke - 1; ++k)
    for (int j = js; j <= je; ++j) EXPECT_EQ(s.vb0(j, k), e.vv(is, j, k));
  for (int k = ks; k <= ke; ++k)
    for (int j = js; j <= je - 1; ++j) EXPECT_EQ(s.wb0(j, k), e.ww(is, j, k));
  EXPECT_EQ(s.ww(is, js, ks), 0.0);
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
