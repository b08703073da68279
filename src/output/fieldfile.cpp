#include <cmath>

#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"
#include "output/statistics.hpp"
#include "solver/solver.hpp"

namespace qv {
namespace {

// Records 1-10 of a field file, with `p` as the pressure block.
void write_field(const std::string& name, int unit, Mode mode, Store& s, const Field& p,
                 std::vector<Staged>* set = nullptr) {
  RecordWriter w(name, unit, mode, true);
  write_header(w, s);
  for (const RecordLayout& r : kFieldFile)
    if (r.block()) write_block(w, std::string_view(r.names) == "pp" ? p : named_field(s, r.names), s, r);
  if (set)
    w.close_staged(*set);
  else
    w.close();
}

}  // namespace

void write_header(RecordWriter& w, const Store& s) { write_header(w, s, s.run.nt); }

void write_header(RecordWriter& w, const Store& s, int nt) {
  w.begin(6 * 4);
  for (int v : {s.grid.is, s.grid.ie, s.grid.js, s.grid.je, s.grid.ks, s.grid.ke}) w.put(static_cast<std::int32_t>(v));
  w.end();
  w.begin(4 * 8 + 4 * 4);
  for (double v : {s.run.Re, s.run.Cs, s.run.dt, s.run.t}) w.put(v);
  for (int v : {nt, s.run.iyper, s.run.izper, s.run.iter}) w.put(static_cast<std::int32_t>(v));
  w.end();
}

void write_final(Store& s, const std::string& finalfile, std::vector<Staged>* set) {
  write_field(fmt::trim_name(finalfile), unit::final_field, Mode::Unknown, s, s.flow.pp, set);
}

void modified_pressure(Store& s) {
#pragma omp parallel for schedule(static)  // each cell on its own
  for (int i = s.grid.is; i <= s.grid.ie; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
        s.work.pm(i, j, k) = stats::modified_pressure_of<double>(s, stats::OneNode{s, i, j, k});
}

void write_snapshot(Store& s, const std::string& name) {
  modified_pressure(s);
  say(fmt::Line() << "********************* output DATA *********");
  say(fmt::Line() << " file =" << name);
  say(fmt::Line() << "********************* output DATA *********");
  write_field(fmt::trim_name(name), unit::snapshot, Mode::New, s, s.work.pm);
}

}  // namespace qv
