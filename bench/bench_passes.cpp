// The passes a step makes once, each alone, on the benchmarks' fixed-body
// case, and where a pass has a tuned kernel beside its recipe, both:
//
//   bench_passes [nx ny nz [body [calls]]]   (cells; default 200 160 60, a body of 10 cells, 10 calls)
//
// After two whole steps from rest, calls each pass again and again, the
// passes taking turns, on one thread and on two, and reports each pass's
// fastest call in ns per cell.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <omp.h>

#include "bench_case.hpp"
#include "output/statistics.hpp"
#include "solver/solver.hpp"

namespace {

using clk = std::chrono::steady_clock;
double since(clk::time_point t0) { return std::chrono::duration<double>(clk::now() - t0).count(); }

struct Pass {
  const char* name;
  std::function<void()> run;
};

}  // namespace

int main(int argc, char** argv) {
  const int cx = argc > 3 ? std::atoi(argv[1]) : 200, cy = argc > 3 ? std::atoi(argv[2]) : 160,
            cz = argc > 3 ? std::atoi(argv[3]) : 60;
  const int body = argc > 4 ? std::atoi(argv[4]) : 10, calls = argc > 5 ? std::atoi(argv[5]) : 10;
  const auto dir = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  qv::Store s = qvbench::developed_case(cx, cy, cz, body);
  const std::vector<Pass> passes = {
      {"explicit terms", [&] { qv::momentum_terms(s); }},
      {"eddy viscosity", [&] { qv::subgrid_viscosity(s); }},
      {"statistics", [&] { qv::stats_accumulate(s); }},
      {"statistics, recipe", [&] { qv::stats::accumulate_in_order(s); }},
      {"z side fill of uu",
       [&] {
         const qv::Grid& g = s.grid;
         qv::fill_sides(s.flow.uu, qv::side_k(s), 2, {g.ks - 1, g.ks - 2, g.ke, g.ke + 1}, g.is, g.ie, g.js, g.je - 1);
       }},
      {"y side fill of uu",
       [&] {
         const qv::Grid& g = s.grid;
         qv::fill_sides(s.flow.uu, qv::side_j(s), 1, {g.js - 1, g.js - 2, g.je, g.je + 1}, g.is, g.ie, g.ks, g.ke - 1);
       }},
  };
  const double cells = static_cast<double>(cx) * cy * cz;
  for (const int threads : {1, 2}) {
    omp_set_num_threads(threads);
    std::vector<double> best(passes.size(), 1e30);
    for (int c = 0; c < calls; ++c)
      for (std::size_t p = 0; p < passes.size(); ++p) {
        const auto t0 = clk::now();
        passes[p].run();
        best[p] = std::min(best[p], since(t0));
      }
    std::fprintf(stderr, "%3d x %3d x %2d cells, body %d x %d, %d thread%s (ns/cell):", cx, cy, cz, body, body, threads,
                 threads == 1 ? " " : "s");
    for (std::size_t p = 0; p < passes.size(); ++p)
      std::fprintf(stderr, "%s %s %.2f", p ? "," : "", passes[p].name, best[p] / cells * 1e9);
    std::fprintf(stderr, "\n");
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
}
