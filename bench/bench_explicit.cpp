// The explicit momentum terms alone, on the benchmarks' fixed-body case.
//
//   bench_explicit [nx ny nz [body [calls]]]   (cells; default 200 160 60, a body of 10 cells, 20 calls)
//
// After two whole steps from rest (so that the flow and the eddy viscosity
// are not uniform), calls the explicit terms again and again on one thread
// and on two, and reports the fastest call and the mean in ns per cell.
// The larger the body, the larger the share of points near it, which run
// one after the other in the defining order.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <omp.h>

#include "bench_case.hpp"
#include "solver/solver.hpp"

namespace {

using clk = std::chrono::steady_clock;
double since(clk::time_point t0) { return std::chrono::duration<double>(clk::now() - t0).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int cx = argc > 3 ? std::atoi(argv[1]) : 200, cy = argc > 3 ? std::atoi(argv[2]) : 160,
            cz = argc > 3 ? std::atoi(argv[3]) : 60;
  const int body = argc > 4 ? std::atoi(argv[4]) : 10, calls = argc > 5 ? std::atoi(argv[5]) : 20;
  const auto dir = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  qv::Store s = qvbench::developed_case(cx, cy, cz, body);
  const double cells = static_cast<double>(cx) * cy * cz;
  for (const int threads : {1, 2}) {
    omp_set_num_threads(threads);
    double best = 1e30, total = 0;
    for (int c = 0; c < calls; ++c) {
      const auto t0 = clk::now();
      qv::momentum_terms(s);
      const double t = since(t0);
      best = std::min(best, t);
      total += t;
    }
    std::fprintf(stderr, "%3d x %3d x %2d cells, body %d x %d, %d thread%s: explicit terms %6.2f ns/cell (mean %6.2f)\n", cx,
                 cy, cz, body, body, threads, threads == 1 ? " " : "s", best / cells * 1e9, total / calls / cells * 1e9);
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
}
