// Probes through the real program: DAT/probes.dat from probes.inf, its
// header, values, refusals and restart, and the warning about the fixed
// row of fort.1 and fort.2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "io/files.hpp"
#include "io/format.hpp"
#include "output/probes.hpp"
#include "store/store.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;

namespace {

// Grid lines stretched away from the middle: widths h, h*r, h*r^2, ...
std::vector<double> stretched(int n, double h, double r) {
  std::vector<double> c(static_cast<std::size_t>(n));
  const int mid = n / 2;
  c[static_cast<std::size_t>(mid)] = 0;
  double w = h;
  for (int m = mid + 1; m < n; ++m, w *= r) c[static_cast<std::size_t>(m)] = c[static_cast<std::size_t>(m - 1)] + w;
  w = h;
  for (int m = mid - 1; m >= 0; --m, w *= r) c[static_cast<std::size_t>(m)] = c[static_cast<std::size_t>(m + 1)] - w;
  for (double& v : c) v = std::round(v * 1e5) / 1e5;  // as the F10.5 file holds them
  return c;
}

struct Grid {
  std::vector<double> x, y, z;
};

// A case on a stretched grid in x and y; its grid lines in *g.
void stretched_case(const std::string& dir, const qvt::CaseSetup& c, Grid* g) {
  qvt::write_case(dir, c);
  g->x = stretched(c.nx, c.h, 1.1);
  g->y = stretched(c.ny, c.h, 1.15);
  g->z.clear();
  for (int m = 0; m < c.nz; ++m) g->z.push_back(std::round((-0.5 * (c.nz - 1) + m) * c.h * 1e5) / 1e5);
  std::string s = qv::fmt::I(c.nx, 5) + qv::fmt::I(c.ny, 5) + qv::fmt::I(c.nz, 5) + "\r\n";
  for (const auto* a : {&g->x, &g->y, &g->z})
    for (std::size_t m = 0; m < a->size(); ++m) {
      s += qv::fmt::F((*a)[m], 10, 5);
      if (m % 5 == 4 || m + 1 == a->size()) s += "\r\n";
    }
  qvt::write_file(dir + "/axis.dat", s);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(l);
  }
  return out;
}

std::vector<double> numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> v;
  for (std::string w; in >> w;) v.push_back(std::stod(w));
  return v;
}

// Record 3 of a field file (uu over is..ie+1, js..je-1, ks..ke-1, i fastest).
std::vector<double> uu_block(const std::string& path) {
  qv::RecordReader r(path, 99);
  r.next();
  r.next();
  r.next();
  std::vector<double> v(r.record_bytes() / 8);
  for (double& d : v) d = r.get_real();
  return v;
}

class Probes : public qvt::InTempDir {};

// A store on a stretched grid whose fields are linear in the coordinates of
// their own points: u(x(i), yc(j), zc(k)), v(xc, y, zc), w(xc, yc, z), p at
// centres. Linear interpolation must give the value of the same function
// at the probe, wherever it lies.
double lin(double x, double y, double z, int q) { return 1.25 + 0.5 * q + 0.3 * x - 0.7 * y + 0.11 * z * (q + 1); }

qv::Store linear_store() {
  qv::Store s = qvt::tiny_store(12, 10, 5, 1.0, 1, 0);
  const auto g = stretched(12, 0.2, 1.12), h = stretched(10, 0.25, 1.2);
  for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.x(i) = g[static_cast<std::size_t>(i - s.grid.is)];
  for (int j = s.grid.js; j <= s.grid.je; ++j) s.grid.y(j) = h[static_cast<std::size_t>(j - s.grid.js)];
  qvt::build_metrics(s);
  s.flow.iflag(5, 5, 4) = 1;
  auto c = [](const qv::Line& l, int n) { return (l(n) + l(n + 1)) / 2; };
  for (int i = s.grid.is - 1; i <= s.grid.ie; ++i)
    for (int j = s.grid.js - 1; j <= s.grid.je; ++j)
      for (int k = s.grid.ks - 1; k <= s.grid.ke; ++k) {
        s.flow.uu(i, j, k) = lin(s.grid.x(i), c(s.grid.y, j), c(s.grid.z, k), 0);
        s.flow.vv(i, j, k) = lin(c(s.grid.x, i), s.grid.y(j), c(s.grid.z, k), 1);
        s.flow.ww(i, j, k) = lin(c(s.grid.x, i), c(s.grid.y, j), s.grid.z(k), 2);
        s.flow.pp(i, j, k) = lin(c(s.grid.x, i), c(s.grid.y, j), c(s.grid.z, k), 3);
      }
  return s;
}

TEST_F(Probes, LinearFieldsAreInterpolatedExactlyAndTheHeaderNamesTheColumns) {
  qv::Store s = linear_store();
  s.run.t = 0;
  s.run.nn = 7;
  fs::create_directories("DAT");
  // Off every grid line; on a u face; between the inflow face and the first
  // centre; near the upper y side and the top; a comment and a blank line.
  const double px[] = {0.33, s.grid.x(8), s.grid.x(3) + 0.01, 0.5},
               py[] = {0.1, (s.grid.y(6) + s.grid.y(7)) / 2, -0.3, s.grid.y(12) - 0.01},
               pz[] = {0.05, (s.grid.z(4) + s.grid.z(5)) / 2, s.grid.z(3), s.grid.z(7) - 0.01};
  std::string inf = "# wake points\n";
  for (int n = 0; n < 4; ++n) {
    char b[120];
    std::snprintf(b, sizeof b, n == 2 ? "%.12g, %.12g, %.12g\n\n" : "%.12g %.12g %.12g\n", px[n], py[n], pz[n]);
    inf += b;
  }
  qvt::write_file("probes.inf", inf);
  qv::Probes p = qv::probes_start(s, false);
  ASSERT_EQ(p.points.size(), 4u);
  qv::probes_sample(s, p);
  p.out.reset();
  const auto l = lines(qvt::read_file("DAT/probes.dat"));
  ASSERT_EQ(l.size(), 6u + 1u);
  EXPECT_EQ(l[0], "# probes of probes.inf, start at t = 0");
  EXPECT_EQ(l[1], "# Probe 1 (0.33 0.1 0.05)");
  std::istringstream titles(l[5].substr(1));
  std::vector<std::string> t;
  for (std::string w; titles >> w;) t.push_back(w);
  ASSERT_EQ(t.size(), 2u + 4u * 4u);
  EXPECT_EQ(t[0], "nn");
  EXPECT_EQ(t[1], "t");
  EXPECT_EQ(t[2], "u1");
  EXPECT_EQ(t[5], "p1");
  EXPECT_EQ(t[17], "p4");
  const auto v = numbers(l[6]);
  ASSERT_EQ(v.size(), t.size());
  EXPECT_EQ(v[0], 7);
  for (int n = 0; n < 4; ++n)
    for (int q = 0; q < 4; ++q)
      EXPECT_NEAR(v[static_cast<std::size_t>(2 + 4 * n + q)], lin(px[n], py[n], pz[n], q), 1e-10)
          << "probe " << n + 1 << " quantity " << q;
  // The u face: its own value, exactly.
  EXPECT_EQ(qv::probe_value(s.flow.uu, p.points[1].at[0]), s.flow.uu(8, 6, 4));
}

TEST_F(Probes, TheFortRowIsCheckedAtStartUp) {
  for (const auto& [ny, nz, warned] : {std::tuple{13, 3, true}, {79, 9, false}, {79, 8, true}, {78, 9, true}}) {
    qv::Store s = qvt::tiny_store(5, ny, nz);
    testing::internal::CaptureStderr();
    qv::probes_start(s, false);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("warning: fort.1 and fort.2 sample the fixed row j = 80, k = 10") != std::string::npos, warned)
        << ny << " " << nz << ": " << err;
  }
  // A probe list that samples the flow makes the fixed row irrelevant: no
  // warning; a list without points still warns.
  qv::Store s = qvt::tiny_store(5, 13, 3);
  std::filesystem::create_directories("DAT");
  for (const auto& [list, warned] : {std::pair{"1.5 1.5 0.5\n", false}, {"# nothing\n", true}}) {
    qvt::write_file("probes.inf", list);
    testing::internal::CaptureStderr();
    qv::probes_start(s, false);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("warning: fort.1 and fort.2") != std::string::npos, warned) << list << err;
  }
}

TEST_F(Probes, AProbeOnAFaceGivesThatFacesValueAndARestartAppends) {
  qvt::CaseSetup c;
  c.nx = 17, c.ny = 13, c.nz = 4, c.nt = 4;
  c.body_i0 = 5, c.body_i1 = 6, c.body_j0 = 5, c.body_j1 = 7;
  Grid g;
  stretched_case(dir_, c, &g);
  // u face of cell (i, j, k) = (9, 4, 1), 0-based: x line 9, y and z centres.
  const std::size_t fi = 9, fj = 4, fk = 1;
  const double yc = (g.y[fj] + g.y[fj + 1]) / 2, zc = (g.z[fk] + g.z[fk + 1]) / 2;
  char buf[200];
  std::snprintf(buf, sizeof buf, "%.10g %.10g %.10g\n", g.x[fi], yc, zc);
  qvt::write_file(dir_ + "/probes.inf", buf);
  ASSERT_EQ(qvt::run_program(dir_, "1\n"), 0);
  auto l = lines(qvt::read_file(dir_ + "/DAT/probes.dat"));
  ASSERT_EQ(l.size(), 3u + 4u);
  const auto last = numbers(l.back());
  const auto uu = uu_block(dir_ + "/final.dat");
  const std::size_t ni = static_cast<std::size_t>(c.nx) + 1, nj = static_cast<std::size_t>(c.ny) - 1;
  const double face = uu[fi + ni * (fj + nj * fk)];
  EXPECT_NE(face, 1.0);  // the body has disturbed it
  EXPECT_NEAR(last[2], face, 1e-11);  // 12 digits written

  // Continue from the final field: the file gains a second header and the
  // new run's lines, the time going on.
  fs::rename(dir_ + "/body.dat", dir_ + "/body0.dat");
  fs::remove(dir_ + "/stat.dat");
  std::string inf = qvt::read_file(dir_ + "/quivel_vib8.inf");
  inf.replace(34, 14, qv::fmt::A("final.dat", 14));
  qvt::write_file(dir_ + "/quivel_vib8.inf", inf);
  ASSERT_EQ(qvt::run_program(dir_, "1\n0\n"), 0) << qvt::read_file(dir_ + "/console.err");
  l = lines(qvt::read_file(dir_ + "/DAT/probes.dat"));
  ASSERT_EQ(l.size(), 2u * (3u + 4u));
  EXPECT_EQ(l[7].rfind("# probes of probes.inf, start at t = 0.04", 0), 0u) << l[7];
  EXPECT_EQ(numbers(l[10])[0], 1);
  EXPECT_NEAR(numbers(l[13])[1], 0.08, 1e-9);
}

TEST_F(Probes, PointsOutsideTheFluidOrInsideTheBodyAreRefusedWithTheirLine) {
  qvt::CaseSetup c;
  c.nt = 1;
  qvt::write_case(dir_, c);
  // Body cells i 5..6, j 5..6 of a uniform grid of h = 0.25 from -2 (x), -1.5 (y).
  const struct {
    const char* text;
    const char* why;
  } cases[] = {{"0 0 0\n1 2 3 4\n", "line 2: expected three numbers"},
               {"0 0 0\n# c\n9 0 0\n", "line 3: point (9, 0, 0) lies outside the fluid box"},
               {"-0.5 -0.1 0\n", "line 1: point (-0.5, -0.1, 0) lies inside the body"},
               {"0 0 nan\n", "line 1: expected three numbers"}};
  for (const auto& k : cases) {
    qvt::write_file(dir_ + "/probes.inf", k.text);
    std::string out;
    EXPECT_EQ(qvt::run_program(dir_, "1\n", &out), 2) << k.text;
    const std::string err = qvt::read_file(dir_ + "/console.err");
    EXPECT_NE(err.find(std::string("probes.inf, ") + k.why), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir_ + "/DAT/probes.dat"));
    EXPECT_EQ(out.find("nn = "), std::string::npos);  // refused before the first step
  }
}

TEST_F(Probes, WithoutProbesInfNothingChanges) {
  qvt::CaseSetup c;
  c.nt = 2;
  qvt::write_case(dir_ + "/a", c);
  qvt::write_case(dir_ + "/b", c);
  qvt::write_file(dir_ + "/b/probes.inf", "0.5 0 0\n");
  std::string a, b;
  ASSERT_EQ(qvt::run_program(dir_ + "/a", "1\n", &a), 0);
  ASSERT_EQ(qvt::run_program(dir_ + "/b", "1\n", &b), 0);
  EXPECT_EQ(a, b);
  EXPECT_FALSE(fs::exists(dir_ + "/a/DAT/probes.dat"));
  EXPECT_TRUE(fs::exists(dir_ + "/b/DAT/probes.dat"));
  // Standard error differs only in the fort.1/fort.2 warning, which a probe
  // list that samples the flow makes needless.
  EXPECT_NE(qvt::read_file(dir_ + "/a/console.err").find("list points in probes.inf"), std::string::npos);
  EXPECT_EQ(qvt::read_file(dir_ + "/b/console.err"), "");
}

}  // namespace
