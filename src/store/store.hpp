// The field store: every array and scalar the operations share.
//
// Index semantics are 1-based (i, j, k) as the program has always used them:
// the active box is is..ie, js..je, ks..ke with is = js = ks = 3, and the
// ghost layers lie outside it.  The memory order behind the accessor is our
// own choice: k varies fastest, then j, then i, because the hot sweeps run
// with i outermost and k innermost.  Files are still written i-fastest.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/lanes.hpp"

namespace qv {

// Largest box the program supports (ghost layers included).
inline constexpr int kMaxI = 217;
inline constexpr int kMaxJ = 165;
inline constexpr int kMaxK = 65;
// The body history keeps every sample: room for kHistoryStart samples is
// made at start-up and grows as the run needs it, up to kMaxSamples, the
// most a record of the history file holds (3 reals per sample, 32-bit
// length).
inline constexpr int kHistoryStart = 70000;
inline constexpr int kMaxSamples = 2147483647 / 24;

template <class T>
class Field3 {
 public:
  void allocate(int ni, int nj, int nk) {
    ni_ = ni;
    nj_ = nj;
    nk_ = nk;
    sj_ = nk;
    si_ = static_cast<std::size_t>(nj) * nk;
    d_.assign(static_cast<std::size_t>(ni) * nj * nk, T{});
  }
  T& operator()(int i, int j, int k) { return d_[index(i, j, k)]; }
  const T& operator()(int i, int j, int k) const { return d_[index(i, j, k)]; }
  // For probes at fixed positions that may lie beyond a small grid: an entry
  // outside the allocated box reads as the zero it would hold if it existed.
  T value_or_zero(int i, int j, int k) const {
    if (i < 1 || j < 1 || k < 1 || i > ni_ || j > nj_ || k > nk_) return T{};
    return d_[index(i, j, k)];
  }
  void zero() { std::fill(d_.begin(), d_.end(), T{}); }
  int ni() const { return ni_; }
  int nj() const { return nj_; }
  int nk() const { return nk_; }
  // Strides of the memory order (k fastest) for hand-tuned sweeps.
  std::size_t stride_i() const { return si_; }
  std::size_t stride_j() const { return sj_; }
  T* data() { return d_.data(); }
  const T* data() const { return d_.data(); }
  std::size_t index(int i, int j, int k) const {
#ifdef QV_BOUNDS_CHECK
    if (i < 1 || j < 1 || k < 1 || i > ni_ || j > nj_ || k > nk_) out_of_range(i, j, k);
#endif
    return static_cast<std::size_t>(i - 1) * si_ + static_cast<std::size_t>(j - 1) * sj_ +
           static_cast<std::size_t>(k - 1);
  }

 private:
  [[noreturn]] void out_of_range(int i, int j, int k) const;
  std::vector<T> d_;
  int ni_ = 0, nj_ = 0, nk_ = 0;
  std::size_t si_ = 0, sj_ = 0;
};

using Field = Field3<double>;
using Flags = Field3<std::int32_t>;

// A plane indexed (j, k), for the inflow values.
class Plane {
 public:
  void allocate(int nj, int nk) {
    nj_ = nj;
    nk_ = nk;
    d_.assign(static_cast<std::size_t>(nj) * nk, 0.0);
  }
  double& operator()(int j, int k) { return d_[static_cast<std::size_t>(j - 1) * nk_ + (k - 1)]; }
  double operator()(int j, int k) const { return d_[static_cast<std::size_t>(j - 1) * nk_ + (k - 1)]; }
  void zero() { std::fill(d_.begin(), d_.end(), 0.0); }
  double* data() { return d_.data(); }
  const double* data() const { return d_.data(); }
  std::size_t size() const { return d_.size(); }

 private:
  std::vector<double> d_;
  int nj_ = 0, nk_ = 0;
};

// A line of grid values indexed from 1 (x, dx, dxc, ...).
class Line {
 public:
  explicit Line(int n = 0) : d_(static_cast<std::size_t>(n) + 1, 0.0) {}
  double& operator()(int i) { return d_[static_cast<std::size_t>(i)]; }
  double operator()(int i) const { return d_[static_cast<std::size_t>(i)]; }
  void zero() { std::fill(d_.begin(), d_.end(), 0.0); }
  const double* data() const { return d_.data(); }  // data()[i] == (*this)(i)
  int size() const { return static_cast<int>(d_.size()) - 1; }

 private:
  std::vector<double> d_;
};

// The store is read by meaning, one group each: s.grid, s.flow, s.body,
// s.stats, s.work and s.run.  Open files and the switches one operation
// leaves for the next are not in it: their owners (the driver, the
// operation that decides them) pass them explicitly.

// Filter-width exponent of the sub-grid model: a single-precision 0.33333
// widened to 64 bits.
inline constexpr double kThird = static_cast<double>(0.33333f);
// Filter width D = (a b c)^kThird of a box of sides a, b, c.
inline double filter_width(double a, double b, double c) { return std::pow(a * b * c, kThird); }

// The grid: the index box and the grid lines with their spacings, and the
// filter widths they give, built with the spacings (grid_metrics) and read
// by the eddy viscosity, the modified pressure and the statistics:
//   delta(i, j, k)      = filter_width(dx(i), dy(j), dz(k)) of the cell,
//                         i = is..ie, j = js..je-1, k = ks..ke-1;
//   delta_node(i, j, k) = filter_width(dxc(i), dyc(j), dzc(k)) of the node,
//                         i = is..ie, j = js..je, k = ks..ke.
struct Grid {
  int is = 3, js = 3, ks = 3;
  int ie = 0, je = 0, ke = 0;
  Line x{kMaxI}, dx{kMaxI}, dxc{kMaxI};
  Line y{kMaxJ}, dy{kMaxJ}, dyc{kMaxJ};
  Line z{kMaxK}, dz{kMaxK}, dzc{kMaxK};
  Field delta, delta_node;
};

// The flow: what the field files hold and the step carries on.
struct Flow {
  Field uu, vv, ww, pp, nut;
  Field fu, fv, fw, fu0, fv0, fw0;  // explicit terms and their history
  Field fxn, fyn, fxn0, fyn0;       // frame terms of the rotating body and their history
  Flags iflag;                      // 1 in a body cell
  Plane ub0, vb0, wb0;              // inflow values of the step
};

// One value per degree of freedom of the body: x, y and the rotation t;
// [0], [1], [2] are x, y, t, for the loops over the degrees of freedom.
// The defined names are member .x .y .t of a triple of Body:
//   xdis ydis tdis -> dis    xvel yvel tvel -> vel    xacc yacc tacc -> acc
//   xdis0 ydis0 tdis0 -> dis0  xvel0 yvel0 tvel0 -> vel0  xacc0 yacc0 tacc0 -> acc0
//   pfx pfy pft -> pf   xkst ykst tkst -> kst   xh0 yh0 th0 -> h0
//   xamp yamp tamp -> amp   xdmp ydmp tdmp -> dmp
struct Dof3 {
  double x = 0, y = 0, t = 0;
  double& operator[](int d) { return d == 0 ? x : d == 1 ? y : t; }
  double operator[](int d) const { return d == 0 ? x : d == 1 ? y : t; }
};
inline constexpr int kDofs = 3;
// The letter of a degree of freedom in the defined names (x, y, t).
inline constexpr char kDofLetter[kDofs] = {'x', 'y', 't'};

// The body: loads, state, parameters and history.
struct Body {
  Dof3 pf;                // pressure force pfx, pfy and moment pft
  Dof3 dis, vel, acc;     // xdis .. tacc
  Dof3 dis0, vel0, acc0;  // their values of the step before
  // parameters
  double amas = 0, aitm = 0;  // mass (x and y) and moment of inertia (t)
  Dof3 kst, h0, amp, dmp;     // stiffness, damping ratio, forced amplitude, damping coefficient
  double beta = 0;
  int ndof = 0;
  double tfrc = 0;
  int nsmp = 0;
  // history: a sample every nsmp steps, from step nsnext on
  int nsnext = 0, nsample = 0;
  std::vector<double> fhist;  // 3 per sample
  std::vector<double> bhist;  // 3 x 3 per sample
  Dof3 first_dis, first_vel;  // the state after step 1
  // The mass of degree of freedom d: amas for x and y, aitm for t.
  double mass(int d) const { return d == 2 ? aitm : amas; }
  // Its natural frequency sqrt(kst / mass).
  double natural_frequency(int d) const { return std::sqrt(kst[d] / mass(d)); }
};

// The degrees of freedom the selector ndof sets free: 1 y, 2 x, 3 the
// rotation, 4 x and y, 5 y and the rotation, 6 all three; 0 none (the body
// state stays as it is).
inline bool moves_x(int ndof) { return ndof == 2 || ndof == 4 || ndof == 6; }
inline bool moves_y(int ndof) { return ndof == 1 || ndof == 4 || ndof == 5 || ndof == 6; }
inline bool moves_t(int ndof) { return ndof == 3 || ndof == 5 || ndof == 6; }
inline bool moves(int ndof, int d) { return d == 0 ? moves_x(ndof) : d == 1 ? moves_y(ndof) : moves_t(ndof); }

// The statistics sums (and the stresses the sub-grid model leaves for them).
struct Statistics {
  Field tauxy, tauyz, tauxz;
  Field su, sv, sw, suu, svv, sww, suv, svw, swu;
  Field sgs11, sgs22, sgs33, spm, spm2, snut;
};

// Scratch: work arrays that hold nothing from one operation to the next.
struct Scratch {
  Field un, vn, wn, pn;  // node values of the conversions
  Field pm;              // modified pressure of snapshots and statistics
  Flags near_body;       // a body cell within two cells (see momentum_terms)
  // work space of the pressure iteration, sized once
  std::vector<double> work_cxy, work_cz;
  AlignedDoubles work_skew;  // per-step layer values of the vector sweep (each step's vector one line)
  static constexpr int kSkewTables = 7;  // ... in that many tables of 8 (nk + 16),
  static constexpr int kPlaneValues = 6;  // then this many x metrics per plane
  std::vector<int> work_progress;      // groups done per plane, for the threads
  std::vector<std::array<int, 3>> work_body;  // the interior body cells (i, j, k)
  std::vector<std::array<int, 3>> work_body_rim;  // those of them a sweep can change (hsmac2)
  LaneFields work_lanes;  // uu, vv, ww, pp in the pressure iteration's own order
  // four-point derivative weights of the explicit terms (backward and
  // forward sets), per direction for face and centre points, sized once
  using CubicWeights = std::array<std::array<double, 4>, 2>;
  std::vector<CubicWeights> work_weights;
};

// The run control: the time step, the counters, the flow parameters and
// the pressure iteration's settings and result.
struct RunControl {
  double dt = 0, t = 0;
  int nn = 0, nt = 0;
  double Vin = 0;
  double Re = 0, Cs = 0;
  int iyper = 0, izper = 0;
  double esp = 0, omg = 0;
  int iter = 0;  // pressure iterations of the last hsmac2
  double delm = 0;
  double ca1 = 0, ca2 = 0;
};

struct Store {
  Grid grid;
  Flow flow;
  Body body;
  Statistics stats;
  Scratch work;
  RunControl run;
  // Sizes every array for the box is..ie+2, js..je+2, ks..ke+2 once; ie, je,
  // ke must be set.  Nothing is allocated after this.
  void allocate();
};

// Makes room for one more body-history sample; false at kMaxSamples or
// when the memory is not there.
bool history_room(Body& b);

// Zeroes the main arrays (over their whole extent) before the grid is read.
void initarr(Store& s);

// True when nx, ny, nz grid lines (the parameter file's counts) fit the store.
bool fits_store(int nx, int ny, int nz);

// The smallest box of indices that holds every cell of f flagged other
// than 0, ghost layers included (i0 > i1 and so on when there is none).
struct BodyBox {
  int i0, i1, j0, j1, k0, k1;
};
BodyBox body_box(const Flags& f);

}  // namespace qv
