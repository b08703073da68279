#include <cmath>
#include <functional>
#include <stdexcept>

#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"
#include "output/statistics.hpp"
#include "solver/solver.hpp"
#include "store/blocks.hpp"

namespace qv {
// Sums of node velocities, eddy viscosity, normal sub-grid stresses at the
// nodes, velocity products and modified pressure, a node after the other.
void stats::accumulate_in_order(Store& s) {
  face_to_node(s);
  modified_pressure(s);
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k)
        node_terms<double>(s, OneNode{s, i, j, k}, i, j, [&](Field& sum, double t) { sum(i, j, k) = sum(i, j, k) + t; });
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        cell_terms(s, s.work.pm(i, j, k), [&](Field& sum, double t) { sum(i, j, k) = sum(i, j, k) + t; });
}

void stats_accumulate(Store& s) { stats::accumulate_on(s, widest_isa()); }

namespace {

// The averages of the sums over the steps summed, rstt = 1/steps: a mean
// (also of the sub-grid stresses) and a second moment about the means.
double mean(double sum, double rstt) { return sum * rstt; }
double moment(double sum, double rstt, double mean_a, double mean_b) { return rstt * sum - mean_a * mean_b; }

// The blocks of the statistics file in their order, each with its sum and,
// for a second moment, the sums whose means it is taken about.
struct StatBlock {
  Field Statistics::*sum;
  Field Statistics::*a = nullptr;
  Field Statistics::*b = nullptr;
};
using P = Statistics;
const StatBlock kStatBlocks[] = {
    {&P::su},  {&P::sv},  {&P::sw},  {&P::suu, &P::su, &P::su}, {&P::svv, &P::sv, &P::sv},
    {&P::sww, &P::sw, &P::sw}, {&P::suv, &P::su, &P::sv}, {&P::svw, &P::sv, &P::sw}, {&P::swu, &P::sw, &P::su},
    {&P::sgs11}, {&P::sgs22}, {&P::sgs33}, {&P::spm},
    {&P::spm2, &P::spm, &P::spm}, {&P::snut}, {&P::tauxy}, {&P::tauyz}, {&P::tauxz}};

// The blocks of the statistics file in the order and over the boxes of its
// layout; kStatBlocks follows that order.
void write_stat_blocks(RecordWriter& w, const Store& s, const std::function<const Field&(const StatBlock&)>& block) {
  std::size_t n = 0;
  for (const RecordLayout& r : kStatisticsFile) {
    if (!r.block()) continue;
    const StatBlock& b = kStatBlocks[n++];
    if (&(s.stats.*b.sum) != &named_field(s, r.names)) throw std::logic_error("statistics blocks out of layout order");
    write_block(w, block(b), s, r);
  }
}

}  // namespace

// Means, variances and covariances over the steps summed.
void stats_average(Store& s, int steps) {
  const double rstt = 1.0 / steps;
  say(fmt::Line() << "rstt =" << rstt);
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke; ++k) {
        s.stats.su(i, j, k) = mean(s.stats.su(i, j, k), rstt);
        s.stats.sv(i, j, k) = mean(s.stats.sv(i, j, k), rstt);
        s.stats.sw(i, j, k) = mean(s.stats.sw(i, j, k), rstt);
        s.stats.snut(i, j, k) = mean(s.stats.snut(i, j, k), rstt);
        const double u = s.stats.su(i, j, k), v = s.stats.sv(i, j, k), w = s.stats.sw(i, j, k);
        s.stats.suu(i, j, k) = moment(s.stats.suu(i, j, k), rstt, u, u);
        s.stats.svv(i, j, k) = moment(s.stats.svv(i, j, k), rstt, v, v);
        s.stats.sww(i, j, k) = moment(s.stats.sww(i, j, k), rstt, w, w);
        s.stats.suv(i, j, k) = moment(s.stats.suv(i, j, k), rstt, u, v);
        s.stats.svw(i, j, k) = moment(s.stats.svw(i, j, k), rstt, v, w);
        s.stats.swu(i, j, k) = moment(s.stats.swu(i, j, k), rstt, w, u);
        for (Field* f :
             {&s.stats.sgs11, &s.stats.sgs22, &s.stats.sgs33, &s.stats.tauxy, &s.stats.tauyz, &s.stats.tauxz})
          (*f)(i, j, k) = mean((*f)(i, j, k), rstt);
      }
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
        s.stats.spm(i, j, k) = mean(s.stats.spm(i, j, k), rstt);
        const double p = s.stats.spm(i, j, k);
        s.stats.spm2(i, j, k) = moment(s.stats.spm2(i, j, k), rstt, p, p);
      }
}

void write_stats(Store& s, const std::string& statfile, std::vector<Staged>* set) {
  RecordWriter w(fmt::trim_name(statfile), unit::stats, Mode::New, true);
  write_header(w, s);
  write_stat_blocks(w, s, [&](const StatBlock& b) -> const Field& { return s.stats.*b.sum; });
  if (set)
    w.close_staged(*set);
  else
    w.close();
}

void write_stats_so_far(Store& s, const std::string& name, std::vector<Staged>* set) {
  const double rstt = 1.0 / s.run.nn;
  RecordWriter w(name, unit::stats, Mode::Unknown, true);
  write_header(w, s, s.run.nn);
  // each block averaged into the scratch array pn, the sums left as they are
  write_stat_blocks(w, s, [&](const StatBlock& b) -> const Field& {
    const Field& sum = s.stats.*b.sum;
    for (int i = s.grid.is; i <= s.grid.ie; ++i)
      for (int j = s.grid.js; j <= s.grid.je; ++j)
        for (int k = s.grid.ks; k <= s.grid.ke; ++k)
          s.work.pn(i, j, k) =
              b.a ? moment(sum(i, j, k), rstt, mean((s.stats.*b.a)(i, j, k), rstt), mean((s.stats.*b.b)(i, j, k), rstt))
                  : mean(sum(i, j, k), rstt);
    return s.work.pn;
  });
  if (set)
    w.close_staged(*set);
  else
    w.close();
}

}  // namespace qv
