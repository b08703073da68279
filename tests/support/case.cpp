#include "support/case.hpp"

#include <omp.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "control/params.hpp"
#include "io/files.hpp"
#include "io/format.hpp"
#include "store/input.hpp"

namespace fs = std::filesystem;

namespace qvt {

void fill_random(qv::Store& s, unsigned seed) {
  std::mt19937 g(seed);
  std::uniform_real_distribution<double> d(-1, 1);
  for (qv::Field* f : {&s.flow.uu, &s.flow.vv, &s.flow.ww, &s.flow.pp})
    for (int i = 1; i <= f->ni(); ++i)
      for (int j = 1; j <= f->nj(); ++j)
        for (int k = 1; k <= f->nk(); ++k) (*f)(i, j, k) = d(g);
}

bool same_bits(const qv::Field& a, const qv::Field& b) {
  if (a.ni() != b.ni() || a.nj() != b.nj() || a.nk() != b.nk()) return false;
  const std::size_t n = static_cast<std::size_t>(a.ni()) * a.nj() * a.nk();
  return std::memcmp(a.data(), b.data(), n * sizeof(double)) == 0;
}

qv::Store sized_store(int nx, int ny, int nz, int iyper, int izper) {
  qv::Store s;
  s.grid.ie = nx + 2;
  s.grid.je = ny + 2;
  s.grid.ke = nz + 2;
  s.run.iyper = iyper;
  s.run.izper = izper;
  s.run.Re = 100;
  return s;
}

qv::Store tiny_store(int nx, int ny, int nz, double h, int iyper, int izper) {
  qv::Store s = sized_store(nx, ny, nz, iyper, izper);
  s.run.dt = 0.01;
  s.run.ca1 = -1;
  s.run.ca2 = -1;
  s.allocate();
  qv::initarr(s);
  for (int i = s.grid.is; i <= s.grid.ie; ++i) s.grid.x(i) = (i - s.grid.is) * h;
  for (int j = s.grid.js; j <= s.grid.je; ++j) s.grid.y(j) = (j - s.grid.js) * h;
  for (int k = s.grid.ks; k <= s.grid.ke; ++k) s.grid.z(k) = (k - s.grid.ks) * h;
  build_metrics(s);
  return s;
}

qv::Store stretched_store(int nx, int ny, int nz, Growth gx, Growth gy, Growth gz, int iyper, int izper) {
  qv::Store s = tiny_store(nx, ny, nz, 1.0, iyper, izper);
  grow(s.grid.x, s.grid.is, s.grid.ie, gx.h, gx.r);
  grow(s.grid.y, s.grid.js, s.grid.je, gy.h, gy.r);
  grow(s.grid.z, s.grid.ks, s.grid.ke, gz.h, gz.r);
  build_metrics(s);
  return s;
}

void uneven_grid(qv::Store& s, unsigned seed, double hx, double hy, double hz, double g) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> factor(0.7, 1.3);
  auto axis = [&](qv::Line& c, int lo, int hi, double h) {
    c(lo) = 0;
    for (int m = lo + 1; m <= hi; ++m) c(m) = c(m - 1) + h * factor(gen) * (1 + g * (m - lo));
  };
  axis(s.grid.x, s.grid.is, s.grid.ie, hx);
  axis(s.grid.y, s.grid.js, s.grid.je, hy);
  axis(s.grid.z, s.grid.ks, s.grid.ke, hz);
  build_metrics(s);
}

void build_metrics(qv::Store& s) { qv::grid_metrics(s); }

void grow(qv::Line& c, int lo, int hi, double h, double r) {
  double w = h;
  c(lo) = 0;
  for (int m = lo + 1; m <= hi; ++m, w *= r) c(m) = c(m - 1) + w;
}

namespace {

// Temporary directories of this test program, removed when it ends
// (kept with QV_KEEP_TEST_DIRS set, to look at a failing run).
struct TempDirs {
  std::vector<std::string> dirs;
  ~TempDirs() {
    if (std::getenv("QV_KEEP_TEST_DIRS")) return;
    std::error_code ec;
    for (const auto& d : dirs) fs::remove_all(d, ec);
  }
};
TempDirs& temp_dirs() {
  static TempDirs t;
  return t;
}

}  // namespace

std::string temp_dir(const std::string& tag) {
  std::string base = (fs::temp_directory_path() / ("qvtest-" + tag + "-XXXXXX")).string();
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  temp_dirs().dirs.emplace_back(buf.data());
  return std::string(buf.data());
}

ScopedDir::ScopedDir(const std::string& dir) : old(fs::current_path().string()) { fs::current_path(dir); }
ScopedDir::~ScopedDir() { fs::current_path(old); }

void InTempDir::SetUp() {
  dir_ = temp_dir("test");
  cd_ = std::make_unique<ScopedDir>(dir_);
}

void InTempDir::TearDown() {
  cd_.reset();
  fs::remove_all(dir_);
}

std::string capture_failure(const std::function<void()>& read, std::string* err) {
  testing::internal::CaptureStdout();
  err->clear();
  try {
    read();
  } catch (const qv::IoError& e) {
    *err = e.what();
  } catch (const qv::RunStop& e) {
    *err = "stop";
    EXPECT_NE(e.status(), 0);
  }
  return testing::internal::GetCapturedStdout();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream o(path, std::ios::binary);
  o << text;
}

void set_columns(const std::string& path, int line, int col, const std::string& text) {
  std::string s = read_file(path);
  std::size_t p = 0;
  for (int n = 1; n < line; ++n) p = s.find("\r\n", p) + 2;
  const std::size_t end = s.find("\r\n", p);
  std::string l = s.substr(p, end - p);
  if (l.size() < col - 1 + text.size()) l.resize(col - 1 + text.size(), ' ');
  l.replace(static_cast<std::size_t>(col - 1), text.size(), text);
  s.replace(p, end - p, l);
  write_file(path, s);
}

std::string read_file(const std::string& path) {
  std::ifstream i(path, std::ios::binary);
  std::stringstream ss;
  ss << i.rdbuf();
  return ss.str();
}

namespace {

std::string crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

// n grid lines (n - 1 cells) of spacing h, centred on the origin; with
// r != 1 the widths grow by r from the middle outwards, mirrored.
std::string coords(int n, double h, double r = 1) {
  std::vector<double> c(static_cast<std::size_t>(n));
  if (r == 1) {
    const double x0 = -0.5 * (n - 1) * h;
    for (int m = 0; m < n; ++m) c[static_cast<std::size_t>(m)] = x0 + m * h;
  } else {
    // upper half from the middle line (n odd) or middle cell (n even)
    double pos = n % 2 == 1 ? 0 : h / 2, w = n % 2 == 1 ? h : h * r;
    for (int m = n / 2; m < n; ++m, w *= r) {
      c[static_cast<std::size_t>(m)] = pos;
      c[static_cast<std::size_t>(n - 1 - m)] = 0.0 - pos;
      pos += w;
    }
  }
  std::string s;
  for (int m = 0; m < n; ++m) {
    s += qv::fmt::F(c[static_cast<std::size_t>(m)], 10, 5);
    if (m % 5 == 4 || m == n - 1) s += "\r\n";
  }
  return s;
}

}  // namespace

std::vector<std::string> param_lines(const qv::ParamFile& p) {
  using namespace qv::fmt;
  std::vector<std::string> lines(qv::kParamLines);
  for (const qv::ParamField& f : qv::param_layout()) {
    std::string& l = lines[static_cast<std::size_t>(f.line - 1)];
    l.resize(static_cast<std::size_t>(f.col - 1), ' ');
    if (f.text)
      l += A(p.*f.text, f.w);
    else if (f.whole)
      l += I(p.*f.whole, f.w);
    else if (f.kind == 'E')
      l += E(p.*f.real, f.w, f.d);
    else  // an F10.0 field is written with its decimals: it reads as written
      l += F(p.*f.real, f.w, f.d == 0 ? 1 : f.d);
  }
  return lines;
}

void write_case(const std::string& dir, const CaseSetup& c) {
  using namespace qv::fmt;
  fs::create_directories(dir + "/DAT");
  qv::ParamFile p;
  p.axisfile = "axis.dat";
  p.flagfile = "flag.dat";
  p.inputfile = c.input;
  p.finalfile = "final.dat";
  p.statfile = "stat.dat";
  p.nx = c.nx, p.ny = c.ny, p.nz = c.nz;
  p.iyper = c.iyper, p.izper = c.izper;
  p.Re = c.Re, p.Cs = c.Cs, p.dt = c.dt, p.esp = c.esp, p.omg = c.omg, p.ca1 = c.ca1, p.ca2 = c.ca2;
  p.nt = c.nt;
  p.nfile0 = "body0.dat";
  p.nfile = "body.dat";
  p.vfile = "vib.dat";
  p.amas = c.amas, p.aitm = c.aitm, p.xkst = c.xkst, p.ykst = c.ykst, p.tkst = c.tkst;
  p.xh0 = c.xh0, p.yh0 = c.yh0, p.th0 = c.th0, p.beta = c.beta, p.ndof = c.ndof;
  p.xamp = c.xamp, p.yamp = c.yamp, p.tamp = c.tamp, p.tfrc = c.tfrc;
  p.nsmp = c.nsmp;
  const std::vector<std::string> inf = param_lines(p);
  write_file(dir + "/quivel_vib8.inf", crlf(inf));
  std::vector<std::string> fil = {I(c.ifc, 5) + I(0, 5) + I(c.nfl, 5)};
  for (int n = 1; n <= c.nfl; ++n) {
    char b[32];
    std::snprintf(b, sizeof b, "DAT/snap%03d", n);
    fil.push_back(A(b, 14));
  }
  write_file(dir + "/quivel_vib8.fil", crlf(fil));
  write_file(dir + "/axis.dat", I(c.nx, 5) + I(c.ny, 5) + I(c.nz, 5) + "\r\n" + coords(c.nx, c.h, c.rx) +
                                    coords(c.ny, c.h, c.ry) + coords(c.nz, c.h, c.rz));
  std::string flags = I(c.nx, 5) + I(c.ny, 5) + I(c.nz, 5) + "\r\n";
  int n = 0;
  for (int k = 0; k < c.nz - 1; ++k)
    for (int j = 0; j < c.ny - 1; ++j)
      for (int i = 0; i < c.nx - 1; ++i) {
        const bool b = i >= c.body_i0 && i <= c.body_i1 && j >= c.body_j0 && j <= c.body_j1 && k >= c.body_k0 &&
                       (c.body_k1 < 0 || k <= c.body_k1);
        flags += I(b ? 1 : 0, 5);
        if (++n % 10 == 0) flags += "\r\n";
      }
  if (n % 10 != 0) flags += "\r\n";
  write_file(dir + "/flag.dat", flags);
  write_file(dir + "/esp2.inf", I(c.ic2, 10) + I(c.ic3, 10) + F(c.sesp, 10, 5) + "\r\n");
  write_file(dir + "/change.inf", I(c.nt, 10) + "\r\n");
}

int run_program(const std::string& dir, const std::string& console, std::string* out) {
  write_file(dir + "/console.in", console);
  const std::string cmd = "cd '" + dir + "' && '" QV_PROGRAM "' < console.in > console.out 2> console.err";
  const int rc = std::system(cmd.c_str());
  if (out) *out = read_file(dir + "/console.out");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

qv::Store pressure_case(int nx, int ny, int nz, unsigned seed) {
  qv::Store s = stretched_store(nx, ny, nz, {0.1, 1.04}, {0.12, 1.03}, {0.08, 1.06}, 1, 1);
  fill_random(s, seed);
  s.run.dt = 0.01;
  s.run.omg = 1.7;
  const qv::Grid& g = s.grid;
  for (int i = g.is + 2; i <= std::min(g.is + 4, g.ie - 1); ++i)
    for (int j = g.js + 3; j <= g.js + 4; ++j)
      for (int k = g.ks; k <= g.ks + 2; ++k) s.flow.iflag(i, j, k) = 1;
  s.flow.iflag(g.is + 1, g.js, g.ke - 1) = 1;
  if (g.ks + 5 <= g.ke + 2) s.flow.iflag(g.ie - 1, g.je - 1, g.ks + 5) = 1;
  for (int j = 1; j <= g.je + 2; ++j)
    for (int k = 1; k <= g.ke + 2; ++k) {
      s.flow.ub0(j, k) = 0.5 + 0.01 * j;
      s.flow.vb0(j, k) = -0.02 * k;
      s.flow.wb0(j, k) = 0.03 * j - 0.01 * k;
    }
  for (int i = g.is; i <= g.ie - 1; ++i)
    for (int j = g.js; j <= g.je - 1; ++j)
      for (int k = g.ks; k <= g.ke - 1; ++k)
        if (s.flow.iflag(i, j, k) != 0) s.work.work_body.push_back({i, j, k});
  return s;
}

ScopedThreads::ScopedThreads(int n) : old_(omp_get_max_threads()) {
  omp_set_num_threads(n);
  ::setenv("QV_CELLS_PER_THREAD", "1", 1);
}

ScopedThreads::~ScopedThreads() {
  omp_set_num_threads(old_);
  ::unsetenv("QV_CELLS_PER_THREAD");
}

}  // namespace qvt
