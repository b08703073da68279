// Field files, snapshots, statistics and body files written from a store.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "io/files.hpp"
#include "output/output.hpp"
#include "solver/solver.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;

namespace {

// Every record of a record file, each as its data bytes; the framing
// (leading and trailing length word) is checked on the way.
std::vector<std::string> records(const std::string& path) {
  const std::string b = qvt::read_file(path);
  std::vector<std::string> out;
  std::size_t p = 0;
  while (p < b.size()) {
    std::int32_t L, L2;
    EXPECT_LE(p + 4, b.size());
    std::memcpy(&L, b.data() + p, 4);
    EXPECT_LE(p + 8 + static_cast<std::size_t>(L), b.size()) << path;
    if (p + 8 + static_cast<std::size_t>(L) > b.size()) break;
    std::memcpy(&L2, b.data() + p + 4 + L, 4);
    EXPECT_EQ(L, L2) << path;
    out.push_back(b.substr(p + 4, static_cast<std::size_t>(L)));
    p += 8 + static_cast<std::size_t>(L);
  }
  return out;
}

double real_at(const std::string& rec, std::size_t n) {
  double v;
  std::memcpy(&v, rec.data() + 8 * n, 8);
  return v;
}
std::int32_t int_at(const std::string& rec, std::size_t byte) {
  std::int32_t v;
  std::memcpy(&v, rec.data() + byte, 4);
  return v;
}

// A store of nx x ny x nz grid lines whose fields carry their own indices.
qv::Store tagged(int nx, int ny, int nz) {
  qv::Store s = qvt::tiny_store(nx, ny, nz, 0.5);
  s.run.Re = 150, s.run.Cs = 0.1, s.run.dt = 0.02, s.run.t = 1.25, s.run.nt = 77, s.run.iter = 9;
  s.run.iyper = 1, s.run.izper = 2;
  int q = 0;
  for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.pp, &s.flow.fu, &s.flow.fv, &s.flow.fw, &s.flow.nut,
                       &s.flow.fxn, &s.flow.fyn}) {
    ++q;
    for (int i = 1; i <= s.grid.ie + 2; ++i)
      for (int j = 1; j <= s.grid.je + 2; ++j)
        for (int k = 1; k <= s.grid.ke + 2; ++k) (*f)(i, j, k) = q * 1e6 + i * 1e4 + j * 1e2 + k;
  }
  return s;
}

// The block i1..i2, j1..j2, k1..k2 of a record, compared in file order.
void expect_block(const std::string& rec, const qv::Field& f, int i1, int i2, int j1, int j2, int k1, int k2) {
  const std::size_t n = static_cast<std::size_t>(i2 - i1 + 1) * (j2 - j1 + 1) * (k2 - k1 + 1);
  ASSERT_EQ(rec.size(), 8 * n);
  std::size_t m = 0;
  for (int k = k1; k <= k2; ++k)
    for (int j = j1; j <= j2; ++j)
      for (int i = i1; i <= i2; ++i, ++m)
        if (real_at(rec, m) != f(i, j, k)) {
          ADD_FAILURE() << "item " << m << " is " << real_at(rec, m) << ", want (" << i << "," << j << "," << k
                        << ") = " << f(i, j, k);
          return;
        }
}

}  // namespace

TEST(FinalFieldFile, RecordLayout) {
  const std::string dir = qvt::temp_dir("final");
  qvt::ScopedDir cd(dir);
  const int nx = 6, ny = 5, nz = 4;
  qv::Store s = tagged(nx, ny, nz);
  qv::write_final(s, "final.dat     ");
  const auto r = records("final.dat");
  ASSERT_EQ(r.size(), 10u);
  ASSERT_EQ(r[0].size(), 24u);
  const int bounds[6] = {3, nx + 2, 3, ny + 2, 3, nz + 2};
  for (int n = 0; n < 6; ++n) EXPECT_EQ(int_at(r[0], 4 * n), bounds[n]);
  ASSERT_EQ(r[1].size(), 48u);
  EXPECT_EQ(real_at(r[1], 0), 150);
  EXPECT_EQ(real_at(r[1], 1), 0.1);
  EXPECT_EQ(real_at(r[1], 2), 0.02);
  EXPECT_EQ(real_at(r[1], 3), 1.25);
  const int ints[4] = {77, 1, 2, 9};
  for (int n = 0; n < 4; ++n) EXPECT_EQ(int_at(r[1], 32 + 4 * n), ints[n]);
  // counts in grid lines: record 3 (nx+1)(ny-1)(nz-1) reals, record 7 nx ny nz
  EXPECT_EQ(r[2].size(), 8u * (nx + 1) * (ny - 1) * (nz - 1));
  EXPECT_EQ(r[6].size(), 8u * nx * ny * nz);
  for (std::size_t n = 2; n < std::size(qv::kFieldFile); ++n) {
    const qv::RecordLayout& b = qv::kFieldFile[n];
    expect_block(r[n], qv::named_field(s, b.names), s.grid.is, s.grid.ie + b.di, s.grid.js, s.grid.je + b.dj, s.grid.ks,
                 s.grid.ke + b.dk);
  }
}

// Written twice, the file holds the second state only, is replaced whole
// and leaves no temporary behind; a write that fails half-way (here: the
// file-size limit) leaves the previous file as it was.
TEST(FinalFieldFile, ReplacedWholeOrNotAtAll) {
  const std::string dir = qvt::temp_dir("final2");
  qvt::ScopedDir cd(dir);
  qv::Store s = tagged(9, 7, 5);
  qv::write_final(s, "final.dat");
  const std::string first = qvt::read_file("final.dat");
  s.run.t = 2.5;
  s.flow.uu(s.grid.is, s.grid.js, s.grid.ks) = -1;
  qv::write_final(s, "final.dat");
  const std::string second = qvt::read_file("final.dat");
  EXPECT_EQ(second.size(), first.size());
  const auto r = records("final.dat");
  ASSERT_EQ(r.size(), 10u);
  EXPECT_EQ(real_at(r[1], 3), 2.5);
  EXPECT_EQ(real_at(r[2], 0), -1);
  EXPECT_FALSE(fs::exists("final.dat.part"));

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{4000, 4000};
    setrlimit(RLIMIT_FSIZE, &lim);
    s.run.t = 9;
    try {
      qv::write_final(s, "final.dat");
    } catch (const qv::IoError& e) {
      _exit(std::string(e.what()) == "error during write, unit 22, file final.dat" ? 0 : 1);
    } catch (...) {
      _exit(2);
    }
    _exit(3);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 wrong message, 2 other exception, 3 no failure";
  EXPECT_EQ(qvt::read_file("final.dat"), second);
  EXPECT_FALSE(fs::exists("final.dat.part"));
}

TEST(Snapshot, ModifiedPressureBlockAndNewFileOnly) {
  const std::string dir = qvt::temp_dir("snap");
  qvt::ScopedDir cd(dir);
  qv::Store s = tagged(6, 5, 4);
  s.flow.nut.zero();
  testing::internal::CaptureStdout();
  qv::write_snapshot(s, "snap1");
  qv::write_final(s, "final.dat");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" ********************* output DATA *********\n  file =snap1"), std::string::npos);
  // nut = 0: the snapshot is the final file, pressure block included
  EXPECT_EQ(qvt::read_file("snap1"), qvt::read_file("final.dat"));

  // pm = pp - 2/3 nut^2 / (D Ck^2 D), D = (dx dy dz)^0.33333 (single-precision exponent)
  s.grid.x(s.grid.is + 1) = 0.3;  // a narrower first cell
  qvt::build_metrics(s);
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.nut(i, j, k) = 0.01 * (i + j + k);
  testing::internal::CaptureStdout();
  qv::write_snapshot(s, "snap2");
  testing::internal::GetCapturedStdout();
  const auto r = records("snap2");
  ASSERT_EQ(r.size(), 10u);
  std::size_t m = 0;
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int i = s.grid.is; i <= s.grid.ie; ++i, ++m) {
        const double D = std::pow(s.grid.dx(i) * s.grid.dy(j) * s.grid.dz(k), 0.3333300054073334);
        const double n = s.flow.nut(i, j, k);
        const double want = s.flow.pp(i, j, k) - (2.0 / 3.0) * (n * n / (D * (0.094 * 0.094) * D));
        ASSERT_DOUBLE_EQ(real_at(r[5], m), want) << i << "," << j << "," << k;
      }
  expect_block(r[9], s.flow.nut, s.grid.is, s.grid.ie, s.grid.js, s.grid.je - 1, s.grid.ks, s.grid.ke - 1);

  const std::string before = qvt::read_file("snap2");
  try {
    testing::internal::CaptureStdout();
    qv::write_snapshot(s, "snap2         ");
    testing::internal::GetCapturedStdout();
    FAIL() << "an existing snapshot was overwritten";
  } catch (const qv::IoError& e) {
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(e.what(), "cannot overwrite existing file, unit 21, file snap2");
  }
  EXPECT_EQ(qvt::read_file("snap2"), before);
}

TEST(BodyFiles, RecordLayout) {
  const std::string dir = qvt::temp_dir("body");
  qvt::ScopedDir cd(dir);
  qv::Store s = tagged(6, 5, 4);
  s.body.nsmp = 4, s.run.dt = 0.025, s.body.beta = 0.3;
  s.body.nsample = 2;
  for (int n = 0; n < 6; ++n) s.body.fhist[n] = 10 + n;
  for (int n = 0; n < 18; ++n) s.body.bhist[n] = 100 + n;
  s.body.first_dis[0] = 1, s.body.first_dis[1] = 2, s.body.first_dis[2] = 3;
  s.body.first_vel[0] = 4, s.body.first_vel[1] = 5, s.body.first_vel[2] = 6;
  s.body.acc.x = 0.1, s.body.acc.y = 0.2, s.body.acc.t = 0.3, s.body.dis.x = 0.4, s.body.dis.y = 0.5,
  s.body.dis.t = 0.6;
  s.body.vel.x = 0.7, s.body.vel.y = 0.8, s.body.vel.t = 0.9;
  testing::internal::CaptureStdout();
  qv::write_body_files(s, "vib.dat       ", "body.dat      ");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find(" vfile=vib.dat"), std::string::npos);
  EXPECT_NE(out.find(" nfile=body.dat"), std::string::npos);

  const auto v = records("vib.dat");
  ASSERT_EQ(v.size(), 7u);
  ASSERT_EQ(v[0].size(), 20u);
  EXPECT_EQ(int_at(v[0], 0), 2);
  double iv, beta;
  std::memcpy(&iv, v[0].data() + 4, 8);
  std::memcpy(&beta, v[0].data() + 12, 8);
  EXPECT_DOUBLE_EQ(iv, 0.1);
  EXPECT_EQ(beta, 0.3);
  for (int q = 0; q < 3; ++q) {
    EXPECT_EQ(real_at(v[1], q), 1 + q);
    EXPECT_EQ(real_at(v[2], q), 4 + q);
  }
  ASSERT_EQ(v[3].size(), 48u);
  for (int n = 0; n < 6; ++n) EXPECT_EQ(real_at(v[3], n), 10 + n);
  // one record per degree of freedom, each sample's (acc, vel, dis) together
  for (int d = 0; d < 3; ++d) {
    ASSERT_EQ(v[4 + d].size(), 48u);
    for (int smp = 0; smp < 2; ++smp)
      for (int q = 0; q < 3; ++q) EXPECT_EQ(real_at(v[4 + d], 3 * smp + q), 100 + 9 * smp + 3 * d + q);
  }

  const auto b = records("body.dat");
  ASSERT_EQ(b.size(), 6u);
  ASSERT_EQ(b[0].size(), 20u) << "five index bounds, je is not among them";
  const int bounds[5] = {3, s.grid.ie, 3, 3, s.grid.ke};
  for (int n = 0; n < 5; ++n) EXPECT_EQ(int_at(b[0], 4 * n), bounds[n]);
  const double triples[3][3] = {{0.1, 0.2, 0.3}, {0.4, 0.5, 0.6}, {0.7, 0.8, 0.9}};
  for (int r = 0; r < 3; ++r) {
    ASSERT_EQ(b[1 + r].size(), 24u);
    for (int q = 0; q < 3; ++q) EXPECT_EQ(real_at(b[1 + r], q), triples[r][q]);
  }
  expect_block(b[4], s.flow.fxn, s.grid.is, s.grid.ie, s.grid.js, s.grid.je, s.grid.ks, s.grid.ke);
  expect_block(b[5], s.flow.fyn, s.grid.is, s.grid.ie, s.grid.js, s.grid.je, s.grid.ks, s.grid.ke);
  EXPECT_FALSE(fs::exists("vib.dat.part"));
  EXPECT_FALSE(fs::exists("body.dat.part"));

  // no sampling: a zero interval and four empty records
  s.body.nsmp = 0, s.body.nsample = 0;
  testing::internal::CaptureStdout();
  qv::write_body_files(s, "vib.dat", "body.dat");
  testing::internal::GetCapturedStdout();
  const auto e = records("vib.dat");
  ASSERT_EQ(e.size(), 7u);
  EXPECT_EQ(int_at(e[0], 0), 0);
  std::memcpy(&iv, e[0].data() + 4, 8);
  EXPECT_EQ(iv, 0.0);
  for (int n = 3; n < 7; ++n) EXPECT_EQ(e[n].size(), 0u);
  EXPECT_EQ(qvt::read_file("vib.dat").size(), 28u + 2 * 32u + 4 * 8u);
}

// ------------------------------------------------------------ statistics

namespace {

// A store whose velocity, pressure and eddy viscosity vary in space.
qv::Store varied() {
  qv::Store s = qvt::tiny_store(6, 5, 4, 0.5);
  s.grid.x(s.grid.is + 2) = 1.1;
  s.grid.y(s.grid.js + 1) = 0.35;
  s.grid.z(s.grid.ks + 1) = 0.3;
  qvt::build_metrics(s);
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) {
        s.flow.uu(i, j, k) = 1 + 0.1 * i - 0.05 * j * k;
        s.flow.vv(i, j, k) = 0.2 * std::sin(i + 2.0 * j - k);
        s.flow.ww(i, j, k) = -0.1 * std::cos(0.5 * i * j + k);
        s.flow.pp(i, j, k) = 0.3 * i - 0.2 * j + 0.1 * k;
        s.flow.nut(i, j, k) = 0.001 * (1 + i + 2 * j + 3 * k);
      }
  return s;
}

// The normal sub-grid stress of direction d (0 x, 1 y, 2 z) that one call
// adds at the node (i, j, k), from the node velocities and nut of q: node
// eddy viscosity interpolated in x, then y, then z; kn from the node filter
// width; a centred gradient over the two cells around the node.
double normal_stress(const qv::Store& q, int d, int i, int j, int k) {
  auto lin = [](double lo, double hi, double wlo, double whi) { return (hi * wlo + lo * whi) / (wlo + whi); };
  double m[2][2];
  for (int dj = 0; dj < 2; ++dj)
    for (int dk = 0; dk < 2; ++dk)
      m[dj][dk] = lin(q.flow.nut(i - 1, j - dj, k - dk), q.flow.nut(i, j - dj, k - dk), q.grid.dx(i - 1), q.grid.dx(i));
  const double y0 = lin(m[1][0], m[0][0], q.grid.dy(j - 1), q.grid.dy(j));
  const double y1 = lin(m[1][1], m[0][1], q.grid.dy(j - 1), q.grid.dy(j));
  const double nt = lin(y1, y0, q.grid.dz(k - 1), q.grid.dz(k));
  const double Dn = std::pow(q.grid.dxc(i) * q.grid.dyc(j) * q.grid.dzc(k), 0.3333300054073334);
  const double kn = nt * nt / (0.094 * 0.094 * (Dn * Dn));
  const double grad[3] = {(q.work.un(i + 1, j, k) - q.work.un(i - 1, j, k)) / (q.grid.dx(i) + q.grid.dx(i - 1)),
                          (q.work.vn(i, j + 1, k) - q.work.vn(i, j - 1, k)) / (q.grid.dy(j) + q.grid.dy(j - 1)),
                          (q.work.wn(i, j, k + 1) - q.work.wn(i, j, k - 1)) / (q.grid.dz(k) + q.grid.dz(k - 1))};
  return (2.0 / 3.0) * kn - 2 * nt * grad[d];
}

void average(qv::Store& s, int steps) {
  testing::internal::CaptureStdout();
  qv::stats_average(s, steps);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind(" rstt =", 0), 0u) << out;
}

}  // namespace

TEST(Statistics, OneSampleGivesMeansOfTheSampleAndZeroVariances) {
  qv::Store s = varied();
  qv::stats_accumulate(s);
  qv::Store ref = s;  // un, vn, wn and pm of the sample
  average(s, 1);
  for (int k = s.grid.ks; k <= s.grid.ke; ++k)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int i = s.grid.is; i <= s.grid.ie; ++i) {
        EXPECT_EQ(s.stats.su(i, j, k), ref.work.un(i, j, k));
        EXPECT_EQ(s.stats.sv(i, j, k), ref.work.vn(i, j, k));
        EXPECT_EQ(s.stats.sw(i, j, k), ref.work.wn(i, j, k));
        EXPECT_EQ(s.stats.snut(i, j, k), ref.flow.nut(i, j, k));
        for (const qv::Field* f : {&s.stats.suu, &s.stats.svv, &s.stats.sww, &s.stats.suv, &s.stats.svw, &s.stats.swu})
          EXPECT_NEAR((*f)(i, j, k), 0.0, 1e-15);
      }
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int i = s.grid.is; i <= s.grid.ie; ++i) {
        EXPECT_EQ(s.stats.spm(i, j, k), ref.work.pm(i, j, k));
        EXPECT_NEAR(s.stats.spm2(i, j, k), 0.0, 1e-14);
      }
  EXPECT_NE(s.stats.sgs11(s.grid.is + 1, s.grid.js + 1, s.grid.ks + 1), 0.0);
}

// Two different samples: means, second moments about the mean and the mean
// normal sub-grid stresses at a node on a stretched grid.
TEST(Statistics, TwoSamples) {
  qv::Store s = varied();
  qv::stats_accumulate(s);
  qv::Store a = s;
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) {
        s.flow.uu(i, j, k) *= -0.5;
        s.flow.vv(i, j, k) += 0.3;
        s.flow.nut(i, j, k) *= 2;
      }
  qv::stats_accumulate(s);
  qv::Store b = s;
  average(s, 2);
  const int i = s.grid.is + 2, j = s.grid.js + 1, k = s.grid.ks + 1;
  const double mu = (a.work.un(i, j, k) + b.work.un(i, j, k)) * 0.5,
               mv = (a.work.vn(i, j, k) + b.work.vn(i, j, k)) * 0.5;
  EXPECT_DOUBLE_EQ(s.stats.su(i, j, k), mu);
  EXPECT_DOUBLE_EQ(s.stats.suu(i, j, k),
                   0.5 * (a.work.un(i, j, k) * a.work.un(i, j, k) + b.work.un(i, j, k) * b.work.un(i, j, k)) - mu * mu);
  EXPECT_DOUBLE_EQ(s.stats.suv(i, j, k),
                   0.5 * (a.work.un(i, j, k) * a.work.vn(i, j, k) + b.work.un(i, j, k) * b.work.vn(i, j, k)) - mu * mv);
  EXPECT_GT(s.stats.suu(i, j, k), 0.0);

  EXPECT_NEAR(s.stats.sgs11(i, j, k), 0.5 * (normal_stress(a, 0, i, j, k) + normal_stress(b, 0, i, j, k)), 1e-13);
}

// The outflow plane i = ie of the normal sub-grid stresses, on a grid
// stretched in x, y and z: its x gradient reaches the ghost node ie+1 and
// its node viscosity the outflow ghost cell of nut, and every node of the
// plane, edges and corners included, follows the same formula.
TEST(Statistics, NormalSubgridStressesAtTheOutflowPlane) {
  qv::Store s = varied();
  qvt::grow(s.grid.x, s.grid.is, s.grid.ie, 0.2, 1.17);
  qvt::grow(s.grid.y, s.grid.js, s.grid.je, 0.15, 1.23);
  qvt::grow(s.grid.z, s.grid.ks, s.grid.ke, 0.3, 1.11);
  qvt::build_metrics(s);
  for (int j = 1; j <= s.grid.je + 2; ++j)
    for (int k = 1; k <= s.grid.ke + 2; ++k)
      s.flow.nut(s.grid.ie, j, k) = 0.05 + 0.002 * j * k;  // not the linear trend
  qv::stats_accumulate(s);
  const int i = s.grid.ie;
  for (int j = s.grid.js; j <= s.grid.je; ++j)
    for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
      const qv::Field* sums[3] = {&s.stats.sgs11, &s.stats.sgs22, &s.stats.sgs33};
      for (int d = 0; d < 3; ++d) {
        const double want = normal_stress(s, d, i, j, k);
        ASSERT_NEAR((*sums[d])(i, j, k), want, 1e-13 * std::max(1.0, std::abs(want)))
            << "sgs" << d + 1 << d + 1 << " at " << i << "," << j << "," << k;
      }
      ASSERT_NE(s.work.un(i + 1, j, k), s.work.un(i - 1, j, k));
    }
}

TEST(Statistics, UniformFlow) {
  qv::Store s = qvt::tiny_store(6, 5, 4, 0.5);
  s.grid.x(s.grid.is + 1) = 0.2;
  qvt::build_metrics(s);
  const double U = 0.7;
  for (int i = 1; i <= s.grid.ie + 2; ++i)
    for (int j = 1; j <= s.grid.je + 2; ++j)
      for (int k = 1; k <= s.grid.ke + 2; ++k) s.flow.uu(i, j, k) = U;
  for (int n = 0; n < 3; ++n) qv::stats_accumulate(s);
  average(s, 3);
  for (int k = s.grid.ks; k <= s.grid.ke; ++k)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int i = s.grid.is; i <= s.grid.ie; ++i) {
        EXPECT_NEAR(s.stats.su(i, j, k), U, 1e-15);
        EXPECT_EQ(s.stats.sv(i, j, k), 0.0);
        EXPECT_NEAR(s.stats.suu(i, j, k), 0.0, 1e-15);
        EXPECT_EQ(s.stats.suv(i, j, k), 0.0);
        EXPECT_EQ(s.stats.swu(i, j, k), 0.0);
      }
}

// A pure strain u = a x, v = b y, w = c z (a + b + c = 0) with a uniform
// eddy viscosity n, on a grid stretched in x, y and z: each normal
// sub-grid stress is (2/3) k - 2 n (its strain rate), so its departure from
// the mean of the three is -2 n a, -2 n b, -2 n c, whatever k is.
TEST(Statistics, NormalSubgridStressesOfAPureStrain) {
  qv::Store s = qvt::tiny_store(7, 6, 6, 1.0);
  for (int m = 0; m <= s.grid.ie - s.grid.is; ++m) s.grid.x(s.grid.is + m) = 0.2 * m + 0.03 * m * m;
  for (int m = 0; m <= s.grid.je - s.grid.js; ++m) s.grid.y(s.grid.js + m) = 0.15 * m + 0.05 * m * m;
  for (int m = 0; m <= s.grid.ke - s.grid.ks; ++m) s.grid.z(s.grid.ks + m) = 0.3 * m + 0.02 * m * m;
  qvt::build_metrics(s);
  const double a = 0.8, b = -1.3, c = 0.5, n = 0.04;
  for (int i = 1; i <= s.grid.ie + 1; ++i)
    for (int j = 1; j <= s.grid.je + 1; ++j)
      for (int k = 1; k <= s.grid.ke + 1; ++k) {
        s.flow.uu(i, j, k) = a * s.grid.x(i);
        s.flow.vv(i, j, k) = b * s.grid.y(j);
        s.flow.ww(i, j, k) = c * s.grid.z(k);
        s.flow.nut(i, j, k) = n;
      }
  qv::stats_accumulate(s);
  for (int i = s.grid.is + 1; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js + 1; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks + 1; k <= s.grid.ke - 1; ++k) {
        const double mean = (s.stats.sgs11(i, j, k) + s.stats.sgs22(i, j, k) + s.stats.sgs33(i, j, k)) / 3;
        EXPECT_NEAR(s.stats.sgs11(i, j, k) - mean, -2 * n * a, 1e-12) << i << "," << j << "," << k;
        EXPECT_NEAR(s.stats.sgs22(i, j, k) - mean, -2 * n * b, 1e-12) << i << "," << j << "," << k;
        EXPECT_NEAR(s.stats.sgs33(i, j, k) - mean, -2 * n * c, 1e-12) << i << "," << j << "," << k;
        ASSERT_GT(mean, 0.0);  // (2/3) k
      }
}

TEST(Statistics, FileLayoutAndNewFileOnly) {
  const std::string dir = qvt::temp_dir("stat");
  qvt::ScopedDir cd(dir);
  const int nx = 6, ny = 5, nz = 4;
  qv::Store s = tagged(nx, ny, nz);
  int q = 0;
  for (qv::Field* f : {&s.stats.su, &s.stats.sv, &s.stats.sw, &s.stats.suu, &s.stats.svv, &s.stats.sww, &s.stats.suv,
                       &s.stats.svw, &s.stats.swu, &s.stats.sgs11, &s.stats.sgs22, &s.stats.sgs33, &s.stats.spm,
                       &s.stats.spm2, &s.stats.snut, &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz}) {
    ++q;
    for (int i = 1; i <= s.grid.ie + 2; ++i)
      for (int j = 1; j <= s.grid.je + 2; ++j)
        for (int k = 1; k <= s.grid.ke + 2; ++k) (*f)(i, j, k) = q * 1e6 + i * 1e4 + j * 1e2 + k;
  }
  qv::write_stats(s, "stat.dat      ");
  const auto r = records("stat.dat");
  ASSERT_EQ(r.size(), 20u);
  EXPECT_EQ(r[0].size(), 24u);
  ASSERT_EQ(r[1].size(), 48u);
  EXPECT_EQ(real_at(r[1], 3), 1.25);
  EXPECT_EQ(int_at(r[1], 32), 77);
  EXPECT_EQ(int_at(r[1], 44), 9);
  q = 0;
  for (const qv::Field* f :
       {&s.stats.su, &s.stats.sv, &s.stats.sw, &s.stats.suu, &s.stats.svv, &s.stats.sww, &s.stats.suv, &s.stats.svw,
        &s.stats.swu, &s.stats.sgs11, &s.stats.sgs22, &s.stats.sgs33, &s.stats.spm, &s.stats.spm2, &s.stats.snut,
        &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz}) {
    SCOPED_TRACE(testing::Message() << "record " << q + 3);
    const bool cells = f == &s.stats.spm || f == &s.stats.spm2;
    expect_block(r[2 + q], *f, s.grid.is, s.grid.ie, s.grid.js, cells ? s.grid.je - 1 : s.grid.je, s.grid.ks,
                 cells ? s.grid.ke - 1 : s.grid.ke);
    ++q;
  }
  EXPECT_EQ(r[14].size(), 8u * nx * (ny - 1) * (nz - 1));
  try {
    qv::write_stats(s, "stat.dat");
    FAIL() << "an existing statistics file was overwritten";
  } catch (const qv::IoError& e) {
    EXPECT_STREQ(e.what(), "cannot overwrite existing file, unit 23, file stat.dat");
  }
}
