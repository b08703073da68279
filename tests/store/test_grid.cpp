// Grid file and metrics: ghost widths for periodic and non-periodic sides,
// centre distances, delm, the count check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "io/files.hpp"
#include "io/format.hpp"
#include "store/input.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;
using qv::fmt::F;
using qv::fmt::I;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Grid lines from 0 with the given widths, starting at index 3.
void set_lines(qv::Line& c, const std::vector<double>& widths) {
  double v = 0;
  c(3) = v;
  for (std::size_t m = 0; m < widths.size(); ++m) c(static_cast<int>(m) + 4) = v += widths[m];
}

// Four grid lines in each direction: x widths 1 2 3, y widths 2 1 2, z widths 1 3 2.
qv::Store stretched(int iyper, int izper) {
  qv::Store s;
  s.grid.ie = s.grid.je = s.grid.ke = 6;
  s.run.iyper = iyper;
  s.run.izper = izper;
  s.run.Re = 100;
  set_lines(s.grid.x, {1, 2, 3});
  set_lines(s.grid.y, {2, 1, 2});
  set_lines(s.grid.z, {1, 3, 2});
  qv::grid_metrics(s);
  return s;
}

}  // namespace

TEST(GridMetrics, XIsAlwaysNonPeriodic) {
  for (int per : {0, 1}) {
    const qv::Store s = stretched(per, per);
    EXPECT_EQ(s.grid.dx(3), 1.0);
    EXPECT_EQ(s.grid.dx(2), 1.0);
    EXPECT_EQ(s.grid.dx(6), 3.0);
    EXPECT_EQ(s.grid.dx(1), 0.0);
    EXPECT_EQ(s.grid.dx(7), 0.0);
    EXPECT_EQ(s.grid.dxc(3), 1.0);
    EXPECT_EQ(s.grid.dxc(4), 1.5);
    EXPECT_EQ(s.grid.dxc(6), 3.0);
    EXPECT_EQ(s.grid.dxc(2), 0.0);
    EXPECT_EQ(s.grid.dxc(7), 0.0);
    EXPECT_EQ(s.grid.x(2), -1.0);
    EXPECT_EQ(s.grid.x(7), 9.0);
    EXPECT_EQ(s.grid.x(1), 0.0);
  }
}

TEST(GridMetrics, NonPeriodicSidesCopyTheEndWidths) {
  for (int izper : {1, 2, -1}) {
    const qv::Store s = stretched(1, izper);
    EXPECT_EQ(s.grid.dy(2), 2.0);
    EXPECT_EQ(s.grid.dy(6), 2.0);
    EXPECT_EQ(s.grid.dy(1), 0.0);
    EXPECT_EQ(s.grid.dy(7), 0.0);
    EXPECT_EQ(s.grid.y(2), -2.0);
    EXPECT_EQ(s.grid.y(7), 7.0);
    EXPECT_EQ(s.grid.y(1), 0.0);
    // the outermost centre distances see only one ghost width
    EXPECT_EQ(s.grid.dyc(2), 1.0);
    EXPECT_EQ(s.grid.dyc(4), 1.5);
    EXPECT_EQ(s.grid.dyc(6), 2.0);
    EXPECT_EQ(s.grid.dyc(7), 1.0);
    EXPECT_EQ(s.grid.dz(2), 1.0) << izper;
    EXPECT_EQ(s.grid.dz(6), 2.0);
    EXPECT_EQ(s.grid.z(2), -1.0);
    EXPECT_EQ(s.grid.z(7), 8.0);
    EXPECT_EQ(s.grid.dzc(2), 0.5);
    EXPECT_EQ(s.grid.dzc(7), 1.0);
  }
}

TEST(GridMetrics, PeriodicSidesWrapTwoLayers) {
  const qv::Store s = stretched(0, 0);
  // y widths 2 1 2 on lines 3..6
  EXPECT_EQ(s.grid.dy(2), 2.0);  // dy(je-1)
  EXPECT_EQ(s.grid.dy(1), 1.0);  // dy(je-2)
  EXPECT_EQ(s.grid.dy(6), 2.0);  // dy(js)
  EXPECT_EQ(s.grid.dy(7), 1.0);  // dy(js+1)
  EXPECT_EQ(s.grid.y(2), -2.0);
  EXPECT_EQ(s.grid.y(1), -3.0);
  EXPECT_EQ(s.grid.y(7), 7.0);
  EXPECT_EQ(s.grid.y(8), 8.0);
  EXPECT_EQ(s.grid.y(2) - s.grid.y(1), s.grid.y(5) - s.grid.y(4));
  EXPECT_EQ(s.grid.dyc(2), 1.5);
  EXPECT_EQ(s.grid.dyc(7), 1.5);
  // z widths 1 3 2: the ghost widths are the widths at the other end
  EXPECT_EQ(s.grid.dz(2), 2.0);
  EXPECT_EQ(s.grid.dz(1), 3.0);
  EXPECT_EQ(s.grid.dz(6), 1.0);
  EXPECT_EQ(s.grid.dz(7), 3.0);
  EXPECT_EQ(s.grid.z(2), -2.0);
  EXPECT_EQ(s.grid.z(1), -5.0);
  EXPECT_EQ(s.grid.z(7), 7.0);
  EXPECT_EQ(s.grid.z(8), 10.0);
  EXPECT_EQ(s.grid.dzc(2), 2.5);
  EXPECT_EQ(s.grid.dzc(3), 1.5);
  EXPECT_EQ(s.grid.dzc(7), 2.0);
}

TEST(GridMetrics, ViscousBoundOfTheGrid) {
  // uniform h, Re 100: 50 h^2 / 3
  for (double h : {0.25, 0.5, 1.0}) {
    const qv::Store s = qvt::tiny_store(6, 5, 4, h);
    EXPECT_DOUBLE_EQ(s.run.delm, 50 * h * h / 3) << h;
  }
  // capped at 10000
  EXPECT_EQ(qvt::tiny_store(4, 4, 3, 100.0).run.delm, 10000.0);
  // the smallest cell wins: widths 1 in every direction somewhere
  const qv::Store st = stretched(1, 1);
  EXPECT_DOUBLE_EQ(st.run.delm, 50.0 / (1.0 / 1 + 1.0 / 1 + 1.0 / 1));
  // equal neighbouring lines give a zero width and delm 0
  qv::Store z;
  z.grid.ie = z.grid.je = z.grid.ke = 6;
  z.run.iyper = z.run.izper = 1;
  z.run.Re = 100;
  set_lines(z.grid.x, {1, 0, 1});
  set_lines(z.grid.y, {1, 1, 1});
  set_lines(z.grid.z, {1, 1, 1});
  qv::grid_metrics(z);
  EXPECT_EQ(z.run.delm, 0.0);
}

// The filter widths of every cell and node the sub-grid model, the
// modified pressure and the statistics read, each the pow of its own three
// spacings bit for bit (periodic and wall sides: the node table reads the
// ghost centre distances), and built anew with a new grid.
TEST(GridMetrics, FilterWidthsOfCellsAndNodes) {
  for (const int per : {0, 1}) {
    qv::Store s = qvt::tiny_store(9, 8, 7, 1.0, per, 1 - per);
    for (const unsigned seed : {3u, 4u}) {
      qvt::uneven_grid(s, seed, 0.1, 0.2, 0.3, 0.05);
      const qv::Grid& g = s.grid;
      int cells = 0, nodes = 0;
      for (int i = g.is; i <= g.ie; ++i)
        for (int j = g.js; j <= g.je; ++j)
          for (int k = g.ks; k <= g.ke; ++k) {
            const double node = std::pow(g.dxc(i) * g.dyc(j) * g.dzc(k), static_cast<double>(0.33333f));
            nodes += std::memcmp(&node, &g.delta_node(i, j, k), sizeof node) == 0;
            if (j == g.je || k == g.ke) continue;
            const double cell = std::pow(g.dx(i) * g.dy(j) * g.dz(k), static_cast<double>(0.33333f));
            cells += std::memcmp(&cell, &g.delta(i, j, k), sizeof cell) == 0;
          }
      EXPECT_EQ(cells, (g.ie - g.is + 1) * (g.je - g.js) * (g.ke - g.ks)) << per << " " << seed;
      EXPECT_EQ(nodes, (g.ie - g.is + 1) * (g.je - g.js + 1) * (g.ke - g.ks + 1)) << per << " " << seed;
    }
  }
}

// ---------------------------------------------------------------- the file

namespace {

class AxisFileTest : public qvt::InTempDir {
 protected:
  static qv::Store store(int nx, int ny, int nz, int iyper = 1, int izper = 1) {
    return qvt::sized_store(nx, ny, nz, iyper, izper);
  }
  static std::string values(const std::vector<double>& v) {
    std::string t;
    for (std::size_t m = 0; m < v.size(); ++m) {
      t += F(v[m], 10, 5);
      if (m % 5 == 4 || m + 1 == v.size()) t += "\r\n";
    }
    return t;
  }
  static std::vector<double> ramp(int n, double h) {
    std::vector<double> v;
    for (int m = 0; m < n; ++m) v.push_back(m * h);
    return v;
  }
  // rdaxis; returns the console output, *err the failure (IoError text or "stop").
  std::string read_axis(qv::Store& s, std::string* err) {
    return qvt::capture_failure([&] { qv::rdaxis(s, "axis.dat      "); }, err);
  }
};

}  // namespace

TEST_F(AxisFileTest, ValuesFiveToALineEachAxisOnANewLine) {
  // twelve x values take 5 + 5 + 2 and the third line's spare columns are not read
  std::string t = I(12, 5) + I(3, 5) + I(2, 5) + "\r\n";
  t += values(ramp(10, 0.5));
  t += F(5.0, 10, 5) + F(5.5, 10, 5) + F(99.0, 10, 5) + "\r\n";
  t += values({-1, 0, 2}) + values({0, 0.25});
  qvt::write_file("axis.dat", t);
  qv::Store s = store(12, 3, 2);
  std::string err;
  const std::string out = read_axis(s, &err);
  ASSERT_EQ(err, "");
  EXPECT_EQ(s.grid.x(3), 0.0);
  EXPECT_EQ(s.grid.x(14), 5.5);
  EXPECT_EQ(s.grid.x(15), 6.0);  // ghost line, not the spare value
  EXPECT_EQ(s.grid.y(3), -1.0);
  EXPECT_EQ(s.grid.y(5), 2.0);
  EXPECT_EQ(s.grid.z(4), 0.25);
  EXPECT_EQ(s.grid.dz(3), 0.25);
  EXPECT_DOUBLE_EQ(s.run.delm, 50.0 / (4 + 1 + 16));
  EXPECT_EQ(out, " delm =" + qv::fmt::general(s.run.delm) + "\n");
}

TEST_F(AxisFileTest, CountMismatchLastOneWins) {
  struct Case {
    int nx, ny, nz, err;
  };
  // the store holds 100 x 50 x 40
  for (const Case& c : {Case{101, 50, 40, 1}, Case{100, 49, 40, 2}, Case{100, 50, 41, 3}, Case{99, 49, 40, 2},
                        Case{101, 50, 39, 3}, Case{100, 51, 41, 3}, Case{0, 0, 0, 3}}) {
    qvt::write_file("axis.dat", I(c.nx, 5) + I(c.ny, 5) + I(c.nz, 5) + "\r\n");
    qv::Store s = store(100, 50, 40);
    std::string err;
    const std::string out = read_axis(s, &err);
    EXPECT_EQ(err, "stop");
    EXPECT_EQ(out, " # of data are not same.\n [1];x [2];y [3];z not same " + I(c.err, 12) + "\n")
        << c.nx << " " << c.ny << " " << c.nz;
  }
}

TEST_F(AxisFileTest, MissingShortAndMalformedFiles) {
  qv::Store s = store(3, 2, 2);
  std::string err;
  read_axis(s, &err);
  EXPECT_EQ(err, "file not found, unit 12, file axis.dat");

  qvt::write_file("axis.dat", "    3    2    2\n       0.0       1.0       2.0\n       0.0       1.0\n");
  read_axis(s, &err);
  EXPECT_EQ(err, "end-of-file during read, unit 12, file axis.dat");

  qvt::write_file("axis.dat", "    3    2    2\n       0.0       1.0       2,0\n");
  read_axis(s, &err);
  EXPECT_EQ(err, "input conversion error, unit 12, file axis.dat");

  qvt::write_file("axis.dat", "    3   2x    2\n");
  read_axis(s, &err);
  EXPECT_EQ(err, "input conversion error, unit 12, file axis.dat");
}
