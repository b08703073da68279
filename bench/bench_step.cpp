// Speed of the time step on a fixed-body case built in memory.
//
//   bench_step [nx ny nz [steps]]     (cell counts; default: both standard sizes)
//
// Reports seconds per step, pressure-iteration sweeps per second and cell
// updates per second of the scan plus correction, and the explicit-terms
// sweep per cell.  Console output of the operations goes to /dev/null.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <cmath>

#include "body/body.hpp"
#include "output/output.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"

namespace {

using clk = std::chrono::steady_clock;
double since(clk::time_point t0) { return std::chrono::duration<double>(clk::now() - t0).count(); }

// A square body of 10 x 10 cells a quarter of the way downstream, on a grid
// stretched by 2 % per cell away from the body in x and y.
qv::Store make_case(int cx, int cy, int cz) {
  qv::Store s;
  s.ie = cx + 3;  // cx cells: cx + 1 grid lines
  s.je = cy + 3;
  s.ke = cz + 3;
  s.iyper = 1;
  s.izper = 0;
  s.Re = 22000;
  s.Cs = 0.1;
  s.dt = 0.002;
  s.esp = 0.001;
  s.omg = 1.5;
  s.ca1 = -1;
  s.ca2 = -1;
  s.Vin = 1;
  s.amas = s.aitm = s.xkst = s.ykst = s.tkst = 1;
  s.beta = 0.25;
  s.allocate();
  qv::initarr(s);
  const int bi = s.is + cx / 4, bj = s.js + cy / 2 - 5;
  auto axis = [](qv::Line& c, int lo, int hi, int b0, int b1) {
    c(b0) = 0;
    double w = 0.1;
    for (int m = b0 + 1; m <= hi; ++m) {
      if (m > b1) w *= 1.02;
      c(m) = c(m - 1) + w;
    }
    w = 0.1;
    for (int m = b0 - 1; m >= lo; --m) {
      w *= 1.02;
      c(m) = c(m + 1) - w;
    }
  };
  axis(s.x, s.is, s.ie, bi, bi + 10);
  axis(s.y, s.js, s.je, bj, bj + 10);
  for (int k = s.ks; k <= s.ke; ++k) s.z(k) = 0.1 * (k - s.ks);
  qv::grid_metrics(s);
  for (int k = s.ks; k <= s.ke - 1; ++k)
    for (int j = bj; j < bj + 10; ++j)
      for (int i = bi; i < bi + 10; ++i) s.iflag(i, j, k) = 1;
  return s;
}

// The thing to beat: the correction sweep written plainly over arrays stored
// i fastest (the file order), walked i outermost and k innermost.
double naive_sweep_rate(const qv::Store& s, int sweeps) {
  const int NI = s.ie + 2, NJ = s.je + 2, NK = s.ke + 2;
  auto at = [&](int i, int j, int k) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(NI) * ((j - 1) + static_cast<std::size_t>(NJ) * (k - 1));
  };
  const std::size_t n = static_cast<std::size_t>(NI) * NJ * NK;
  std::vector<double> u(n), v(n), w(n), p(n);
  std::vector<int> fl(n);
  for (int i = 1; i <= NI; ++i)
    for (int j = 1; j <= NJ; ++j)
      for (int k = 1; k <= NK; ++k) {
        u[at(i, j, k)] = s.uu(i, j, k);
        v[at(i, j, k)] = s.vv(i, j, k);
        w[at(i, j, k)] = s.ww(i, j, k);
        fl[at(i, j, k)] = s.iflag(i, j, k);
      }
  const double dt = s.dt, omg = s.omg, esp2 = s.esp;
  const auto t0 = clk::now();
  for (int sweep = 0; sweep < sweeps; ++sweep)
    for (int i = s.is; i <= s.ie - 1; ++i)
      for (int j = s.js; j <= s.je - 1; ++j)
        for (int k = s.ks; k <= s.ke - 1; ++k) {
          double D = (u[at(i + 1, j, k)] - u[at(i, j, k)]) / s.dx(i) + (v[at(i, j + 1, k)] - v[at(i, j, k)]) / s.dy(j) +
                     (w[at(i, j, k + 1)] - w[at(i, j, k)]) / s.dz(k);
          const double c = 1 / (s.dxc(i) * s.dxc(i + 1)) + 1 / (s.dyc(j) * s.dyc(j + 1)) + 1 / (s.dzc(k) * s.dzc(k + 1));
          if (fl[at(i, j, k)] != 0) D = 0;
          const double dp = -omg * D / (2 * dt * c);
          if (std::fabs(D) >= esp2) p[at(i, j, k)] += dp;
          if (i != s.ie - 1) u[at(i + 1, j, k)] += dp * dt / s.dxc(i + 1);
          u[at(i, j, k)] -= dp * dt / s.dxc(i);
          v[at(i, j + 1, k)] += dp * dt / s.dyc(j + 1);
          v[at(i, j, k)] -= dp * dt / s.dyc(j);
          w[at(i, j, k + 1)] += dp * dt / s.dzc(k + 1);
          w[at(i, j, k)] -= dp * dt / s.dzc(k);
        }
  const double cells = static_cast<double>(s.ie - s.is) * (s.je - s.js) * (s.ke - s.ks);
  return sweeps * cells / since(t0) / 1e6;
}

void run(int cx, int cy, int cz, int steps) {
  qv::Store s = make_case(cx, cy, cz);
  double dtmin = 0;
  const std::string fresh = "fffff";
  qv::rdvelo(s, fresh, "");
  qv::hsmac2(s, dtmin);
  const double cells = static_cast<double>(cx) * cy * cz;

  double t_mom = 0, t_hsmac = 0, t_all = 0;
  long iters = 0;
  for (int n = 0; n < steps; ++n) {
    const auto t0 = clk::now();
    s.nn += 1;
    s.t += s.dt;
    qv::shift_history(s);
    auto t1 = clk::now();
    qv::momentum_terms(s);
    t_mom += since(t1);
    qv::advance_velocity(s, fresh);
    t1 = clk::now();
    qv::hsmac2(s, dtmin);
    t_hsmac += since(t1);
    iters += s.iter;
    qv::subgrid_viscosity(s);
    qv::calfrm(s);
    qv::calvib(s);
    qv::stats_accumulate(s);
    t_all += since(t0);
  }
  const double naive = naive_sweep_rate(s, 10);
  // our correction sweep alone, on a copy of the state
  double ours;
  {
    qv::Store c = s;
    std::vector<double> cxy(static_cast<std::size_t>(c.iflag.ni()) * c.iflag.nj()), cz(static_cast<std::size_t>(c.iflag.nk()) + 1);
    for (int i = c.is; i <= c.ie - 1; ++i)
      for (int j = c.js; j <= c.je - 1; ++j)
        cxy[static_cast<std::size_t>(i) * c.iflag.nj() + j - 1] = 1 / (c.dxc(i) * c.dxc(i + 1)) + 1 / (c.dyc(j) * c.dyc(j + 1));
    for (int k = c.ks; k <= c.ke - 1; ++k) cz[static_cast<std::size_t>(k)] = 1 / (c.dzc(k) * c.dzc(k + 1));
    const auto t0 = clk::now();
    for (int n = 0; n < 10; ++n) qv::correction_sweep(c, c.esp, cxy, cz);
    ours = 10 * cells / since(t0) / 1e6;
  }
  std::fprintf(stderr, "%4d x %3d x %2d cells: correction sweep alone: plain i-fastest walk %6.1f Mcell/s, ours %6.1f Mcell/s\n",
               cx, cy, cz, naive, ours);
  std::fprintf(stderr,
               "%4d x %3d x %2d cells (%8.0f): %7.4f s/step | hsmac2 %6.1f sweeps/s, %6.1f Mcell/s "
               "(%.1f iterations/step) | explicit terms %6.1f ns/cell\n",
               cx, cy, cz, cells, t_all / steps, iters / t_hsmac, iters * cells / t_hsmac / 1e6,
               static_cast<double>(iters) / steps, t_mom / steps / cells * 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  const auto dir = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::ofstream("esp2.inf") << "         0        10   0.01000\r\n";
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  if (argc >= 4) {
    run(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), argc >= 5 ? std::atoi(argv[4]) : 5);
  } else {
    run(100, 80, 30, 5);
    run(200, 160, 60, 3);
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
}
