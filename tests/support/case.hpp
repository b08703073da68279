// Test support: tiny stores built in memory, and case directories written
// to a fresh temporary directory for runs of the real program.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/params.hpp"
#include "store/store.hpp"

namespace qvt {

// Counts nx, ny, nz are numbers of grid lines, as in the parameter file
// (nx - 1 cells along x).
// A store of nx x ny x nz grid lines on a uniform grid of spacing h (origin at
// 0), metrics built as the grid reader builds them.
qv::Store tiny_store(int nx, int ny, int nz, double h = 1.0, int iyper = 1, int izper = 1);
// The same box and settings with nothing allocated or read yet (what the
// parameter reader leaves for the grid reader).
qv::Store sized_store(int nx, int ny, int nz, int iyper = 1, int izper = 1);

// One axis of a stretched grid: lines from 0, the first cell h wide, each
// next one r times the one before.
struct Growth {
  double h = 1, r = 1;
};
// A tiny store on a grid stretched along x, y and z as gx, gy, gz say.
qv::Store stretched_store(int nx, int ny, int nz, Growth gx, Growth gy, Growth gz, int iyper = 1, int izper = 1);
// The grid lines of s drawn anew from 0 with widths h (1 + g m) (m the cell
// number from 0), each times its own random factor in [0.7, 1.3] (from
// seed): every width differs from its neighbours.  Metrics rebuilt.
void uneven_grid(qv::Store& s, unsigned seed, double hx, double hy, double hz, double g);

// True when two fields hold the same bytes (signs of zeros and NaN
// payloads included), ghosts and all.
bool same_bits(const qv::Field& a, const qv::Field& b);

// uu, vv, ww, pp uniform in [-1, 1] over the whole box, ghosts included.
void fill_random(qv::Store& s, unsigned seed);

// Grid metrics from the grid lines already in s.x, s.y, s.z.
void build_metrics(qv::Store& s);

// Grid lines c(lo..hi) from 0 with widths h, h r, h r^2, ...
void grow(qv::Line& c, int lo, int hi, double h, double r);

// A fresh, empty temporary directory; the test's working directory is
// moved there by ScopedDir.
std::string temp_dir(const std::string& tag);
struct ScopedDir {
  explicit ScopedDir(const std::string& dir);
  ~ScopedDir();
  std::string old;
};

// A test that runs in a fresh temporary directory of its own.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;
  std::unique_ptr<ScopedDir> cd_;
};

// Runs an input operation and returns its console output; *err receives
// the failure: the IoError text, or "stop" for a refused input (which must
// carry a non-zero status).
std::string capture_failure(const std::function<void()>& read, std::string* err);

// A state for the pressure iteration's passes: random fields on a grid
// whose every width differs from its neighbours' (so a metric taken from
// the wrong cell shows), a body block two to three cells thick touching the
// first layer (cut short by the last plane of a grid of fewer than six
// planes), single body cells in the first and the last column, the inflow
// values the restore puts back, and the body-cell list.
qv::Store pressure_case(int nx, int ny, int nz, unsigned seed);

// n OpenMP threads for the life of the object, dividing even tiny grids.
class ScopedThreads {
 public:
  explicit ScopedThreads(int n);
  ~ScopedThreads();

 private:
  int old_;
};

void write_file(const std::string& path, const std::string& text);
// Replaces columns col..col+text.size()-1 of line `line` (both from 1) of a
// text file with CR LF line ends.
void set_columns(const std::string& path, int line, int col, const std::string& text);
std::string read_file(const std::string& path);

// A complete runnable case on a grid of nx x ny x nz grid lines centred on
// the origin (uniform unless rx, ry, rz say otherwise), with a block body
// over the given cell ranges.
struct CaseSetup {
  int nx = 17, ny = 13, nz = 3;
  double h = 0.25;
  int iyper = 1, izper = 0;
  double Re = 100, Cs = 0.0, dt = 0.01, esp = 0.001, omg = 1.5, ca1 = 0, ca2 = 0;
  int nt = 5;
  double amas = 1, aitm = 1, xkst = 1, ykst = 1, tkst = 1, xh0 = 0, yh0 = 0, th0 = 0, beta = 0.25;
  int ndof = 0;
  double xamp = 0, yamp = 0, tamp = 0, tfrc = 0;
  int nsmp = 1;
  int ifc = 0, nfl = 0;
  std::string input = "fffff";
  int body_i0 = 5, body_i1 = 6, body_j0 = 5, body_j1 = 6;  // cell ranges, 0-based
  int body_k0 = 0, body_k1 = -1;                           // -1: to the last cell
  // Stretched grids: cell widths h r^m growing by r (> 1) away from the
  // middle of each axis, symmetric about the origin.
  double rx = 1, ry = 1, rz = 1;
  int ic2 = 0, ic3 = 5;
  double sesp = 0.01;
};
void write_case(const std::string& dir, const CaseSetup& c);

// The 16 lines of a parameter file holding p, by the reader's layout.
std::vector<std::string> param_lines(const qv::ParamFile& p);

// Runs the program in dir with the given console input; returns the exit
// status, stdout in *out.
int run_program(const std::string& dir, const std::string& console, std::string* out = nullptr);

}  // namespace qvt
