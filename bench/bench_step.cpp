// Speed of the time step on a fixed-body case built in memory.
//
//   bench_step [nx ny nz [steps]]     (cell counts; default: both standard sizes)
//
// Reports, on one thread and on two: seconds per step; the pressure
// iteration in ns per cell, and its parts (divergence scan, correction
// sweep, fix-ups) each alone; the explicit terms in ns per cell; and a plain
// iteration over i-fastest arrays for comparison, timed in the same run.
// Console output of the operations goes to /dev/null.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <cmath>
#include <functional>
#include <algorithm>

#include <omp.h>

#include "body/body.hpp"
#include "output/output.hpp"
#include "output/probes.hpp"
#include "solver/solver.hpp"
#include "store/input.hpp"
#include "bench_case.hpp"

namespace {

using clk = std::chrono::steady_clock;
double since(clk::time_point t0) { return std::chrono::duration<double>(clk::now() - t0).count(); }

// The thing to beat: one pressure iteration written plainly over arrays
// stored i fastest (the file order), in the defined loop orders, one cell
// at a time: the scan (k outer, i inner), the correction sweep (i outer,
// k inner) and the fix-ups.  Returns ns per cell and iteration.
double plain_iteration_ns(const qv::Store& s, int iterations) {
  const int NI = s.grid.ie + 2, NJ = s.grid.je + 2, NK = s.grid.ke + 2;
  auto at = [&](int i, int j, int k) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(NI) * ((j - 1) + static_cast<std::size_t>(NJ) * (k - 1));
  };
  const std::size_t n = static_cast<std::size_t>(NI) * NJ * NK;
  std::vector<double> u(n), v(n), w(n), p(n);
  std::vector<int> fl(n);
  for (int i = 1; i <= NI; ++i)
    for (int j = 1; j <= NJ; ++j)
      for (int k = 1; k <= NK; ++k) {
        u[at(i, j, k)] = s.flow.uu(i, j, k);
        v[at(i, j, k)] = s.flow.vv(i, j, k);
        w[at(i, j, k)] = s.flow.ww(i, j, k);
        p[at(i, j, k)] = s.flow.pp(i, j, k);
        fl[at(i, j, k)] = s.flow.iflag(i, j, k);
      }
  const double dt = s.run.dt, omg = s.run.omg, esp2 = s.run.esp;
  double dm_sum = 0;
  const auto t0 = clk::now();
  for (int it = 0; it < iterations; ++it) {
    double dm = 0;
    int li = 0, lj = 0, lk = 0;
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) {
          if (fl[at(i, j, k)] != 0) continue;
          const double D = (u[at(i + 1, j, k)] - u[at(i, j, k)]) / s.grid.dx(i) +
                           (v[at(i, j + 1, k)] - v[at(i, j, k)]) / s.grid.dy(j) +
                           (w[at(i, j, k + 1)] - w[at(i, j, k)]) / s.grid.dz(k);
          if (std::fabs(D) > dm) dm = std::fabs(D), li = i, lj = j, lk = k;
        }
    dm_sum += dm + li + lj + lk;
    for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
          double D = (u[at(i + 1, j, k)] - u[at(i, j, k)]) / s.grid.dx(i) +
                     (v[at(i, j + 1, k)] - v[at(i, j, k)]) / s.grid.dy(j) +
                     (w[at(i, j, k + 1)] - w[at(i, j, k)]) / s.grid.dz(k);
          const double c = 1 / (s.grid.dxc(i) * s.grid.dxc(i + 1)) + 1 / (s.grid.dyc(j) * s.grid.dyc(j + 1)) +
                           1 / (s.grid.dzc(k) * s.grid.dzc(k + 1));
          if (fl[at(i, j, k)] != 0) D = 0;
          const double dp = -omg * D / (2 * dt * c);
          if (std::fabs(D) >= esp2) p[at(i, j, k)] += dp;
          if (i != s.grid.ie - 1) u[at(i + 1, j, k)] += dp * dt / s.grid.dxc(i + 1);
          u[at(i, j, k)] -= dp * dt / s.grid.dxc(i);
          v[at(i, j + 1, k)] += dp * dt / s.grid.dyc(j + 1);
          v[at(i, j, k)] -= dp * dt / s.grid.dyc(j);
          w[at(i, j, k + 1)] += dp * dt / s.grid.dzc(k + 1);
          w[at(i, j, k)] -= dp * dt / s.grid.dzc(k);
        }
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j) u[at(s.grid.is, j, k)] = s.flow.ub0(j, k);
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
      for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
        for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
          if (fl[at(i, j, k)] != 0) {
            u[at(i, j, k)] = u[at(i + 1, j, k)] = 0;
            v[at(i, j, k)] = v[at(i, j + 1, k)] = 0;
            w[at(i, j, k)] = w[at(i, j, k + 1)] = 0;
            p[at(i, j, k)] = 0;
          }
  }
  const double cells = static_cast<double>(s.grid.ie - s.grid.is) * (s.grid.je - s.grid.js) * (s.grid.ke - s.grid.ks);
  if (dm_sum < 0) std::fprintf(stderr, "?");
  return since(t0) / iterations / cells * 1e9;
}

struct Figures {
  double step_s, iteration_ns, scan_ns, sweep_ns, fixup_ns, explicit_ns, plain_ns, iterations;
  double scan_divider_ns, sweep_divider_ns;  // the same kernels dividing
  double lanes_scan_divider_ns, lanes_sweep_divider_ns;
  double lanes_sweep_mixed_ns;  // the lane-order sweep with the chain through D divided
  double lanes_scan_mixed_ns;   // the lane-order scan with the x and y quotients divided
  double lanes_scan_ns, lanes_sweep_ns, lanes_restore_ns, lanes_rim_ns, lanes_copy_ns;  // on the lane-order copies, and their copying
  double floor_ns;  // reading and writing the four copies once, in place: what memory alone costs a sweep
};

// Every element of the four lane-order copies read and written once, in
// place, by the threads OpenMP gives: the memory traffic of one sweep with
// no arithmetic to speak of.  The factor is read at run time so that the
// compiler cannot drop the loop.
double memory_floor_ns(qv::LaneFields& L, double cells, double factor) {
  double* const a = L.field(qv::LaneFields::kU);
  const std::ptrdiff_t n = 4 * (L.field(qv::LaneFields::kV) - a);  // the four copies lie end to end
  const auto t0 = clk::now();
#pragma omp parallel for schedule(static)
  for (std::ptrdiff_t e = 0; e < n; ++e) a[e] *= factor;
  return since(t0) / cells * 1e9;
}

Figures run(int cx, int cy, int cz, int steps, int threads, int body) {
  omp_set_num_threads(threads);
  qv::Store s = qvbench::make_case(cx, cy, cz, body);
  double dtmin = 0;
  const std::string fresh = "fffff";
  qv::OutflowSwitches outflow;
  qv::rdvelo(s, fresh, "", outflow);
  qv::StepFiles files;  // fort.1, fort.2 and iter.dat as the program writes them
  const qv::ToleranceRamp ramp{0, 10, 0.01};
  qv::hsmac2(s, ramp, dtmin, files, outflow);
  const double cells = static_cast<double>(cx) * cy * cz;

  double t_mom = 0, t_hsmac = 0, t_all = 0;
  long iters = 0;
  for (int n = 0; n < steps; ++n) {
    const auto t0 = clk::now();
    s.run.nn += 1;
    s.run.t += s.run.dt;
    qv::shift_history(s);
    auto t1 = clk::now();
    qv::momentum_terms(s);
    t_mom += since(t1);
    qv::advance_velocity(s, fresh, files, outflow);
    t1 = clk::now();
    qv::hsmac2(s, ramp, dtmin, files, outflow);
    t_hsmac += since(t1);
    iters += s.run.iter;
    qv::subgrid_viscosity(s);
    qv::calfrm(s);
    qv::calvib(s);
    qv::stats_accumulate(s);
    t_all += since(t0);
  }
  Figures f{};
  f.step_s = t_all / steps;
  f.iterations = static_cast<double>(iters) / steps;
  // hsmac2 per iteration, its set-up, final bound and boundary values included
  f.iteration_ns = t_hsmac / iters / cells * 1e9;
  f.explicit_ns = t_mom / steps / cells * 1e9;

  // the parts of one iteration, each alone, on a copy of the state; the
  // parts take turns and each keeps its fastest time, so that a busy
  // machine disturbs their ratios as little as it can
  {
    qv::Store c = s;
    std::vector<double>& cxy = c.work.work_cxy;
    std::vector<double>& cz = c.work.work_cz;
    double dm;
    int li, lj, lk;
    c.work.work_lanes.gather(c);
    const double factor = std::getenv("QV_BENCH_FACTOR") ? std::atof(std::getenv("QV_BENCH_FACTOR")) : 1.0;
    const std::function<void()> part[] = {
        [&] { qv::divergence_scan(c, dm, li, lj, lk); },
        [&] { qv::correction_sweep(c, c.run.esp, cxy, cz); },
        [&] { qv::restore_after_sweep(c); },
        [&] { qv::divergence_scan(c, dm, li, lj, lk, true); },
        [&] { qv::correction_sweep(c, c.run.esp, cxy, cz, 0, true); },
        [&] { qv::lanes_divergence_scan(c.work.work_lanes, c, dm, li, lj, lk, qv::ScanForm::reciprocals); },
        [&] { qv::lanes_correction_sweep(c.work.work_lanes, c, c.run.esp, cxy, cz, qv::SweepForm::reciprocals); },
        [&] {
          c.work.work_lanes.scatter(c);
          c.work.work_lanes.gather(c);
        },
        [&] { f.floor_ns = memory_floor_ns(c.work.work_lanes, cells, factor); },
        [&] { qv::lanes_restore_after_sweep(c.work.work_lanes, c, c.work.work_body); },
        // from the second pass of a call on, only the rim is cleared
        [&] { qv::lanes_restore_after_sweep(c.work.work_lanes, c, c.work.work_body_rim); },
        [&] { qv::lanes_divergence_scan(c.work.work_lanes, c, dm, li, lj, lk, qv::ScanForm::divider); },
        [&] { qv::lanes_correction_sweep(c.work.work_lanes, c, c.run.esp, cxy, cz, qv::SweepForm::divider); },
        [&] { qv::lanes_correction_sweep(c.work.work_lanes, c, c.run.esp, cxy, cz, qv::SweepForm::mixed); },
        [&] { qv::lanes_divergence_scan(c.work.work_lanes, c, dm, li, lj, lk, qv::ScanForm::mixed); },
    };
    constexpr int kParts = 15;
    double best[kParts];
    std::fill(best, best + kParts, 1e30);
    for (int n = 0; n < 10; ++n)
      for (int p = 0; p < kParts; ++p) {
        const auto t0 = clk::now();
        part[p]();
        best[p] = std::min(best[p], since(t0) / cells * 1e9);
      }
    f.scan_ns = best[0];
    f.sweep_ns = best[1];
    f.fixup_ns = best[2];
    f.scan_divider_ns = best[3];
    f.sweep_divider_ns = best[4];
    f.lanes_scan_ns = best[5];
    f.lanes_sweep_ns = best[6];
    f.lanes_copy_ns = best[7];
    f.lanes_restore_ns = best[9];
    f.lanes_rim_ns = best[10];
    f.lanes_scan_divider_ns = best[11];
    f.lanes_sweep_divider_ns = best[12];
    f.lanes_sweep_mixed_ns = best[13];
    f.lanes_scan_mixed_ns = best[14];
    f.floor_ns = best[8];
  }
  f.plain_ns = plain_iteration_ns(s, 5);
  return f;
}

void report(int cx, int cy, int cz, int steps, int body = 10) {
  for (int threads : {1, 2}) {
    const Figures f = run(cx, cy, cz, steps, threads, body);
    std::fprintf(stderr,
                 "%3d x %3d x %2d cells, %d thread%s: %7.3f s/step (%.0f iterations/step) | iteration %5.2f ns/cell "
                 "(scan %5.2f, sweep %5.2f, fix-ups %5.2f; dividing: scan %5.2f, sweep %5.2f; lane order: scan %5.2f, sweep "
                 "%5.2f (dividing: %5.2f, %5.2f; mixed: %5.2f, %5.2f), restore %5.2f (rim %5.2f), copies %5.2f; memory floor %5.2f) | explicit terms %6.1f "
                 "ns/cell | plain i-fastest iteration %5.1f ns/cell, %4.1f x slower\n",
                 cx, cy, cz, threads, threads == 1 ? " " : "s", f.step_s, f.iterations, f.iteration_ns, f.scan_ns,
                 f.sweep_ns, f.fixup_ns, f.scan_divider_ns, f.sweep_divider_ns, f.lanes_scan_ns, f.lanes_sweep_ns,
                 f.lanes_scan_divider_ns, f.lanes_sweep_divider_ns, f.lanes_scan_mixed_ns, f.lanes_sweep_mixed_ns, f.lanes_restore_ns, f.lanes_rim_ns, f.lanes_copy_ns, f.floor_ns, f.explicit_ns, f.plain_ns,
                 f.plain_ns / f.iteration_ns);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto dir = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  if (argc >= 4) {
    report(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]), argc >= 5 ? std::atoi(argv[4]) : 5,
           argc >= 6 ? std::atoi(argv[5]) : 10);
  } else {
    report(100, 80, 30, 5);
    report(200, 160, 60, 3);
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
}
