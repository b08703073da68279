#include <array>

#include "io/console.hpp"
#include "io/files.hpp"
#include "output/output.hpp"

namespace qv {

// Vibration history (7 records) and body state (6 records), each written
// to a temporary file and renamed over the old one when complete.
void write_body_files(Store& s, const std::string& vfile, const std::string& nfile, std::vector<Staged>* set) {
  say(fmt::Line() << "vfile=" << vfile);
  say(fmt::Line() << "nfile=" << nfile);
  write_history(s, fmt::trim_name(vfile), set);
  write_body_state(s, fmt::trim_name(nfile), set);
}

void write_history(Store& s, const std::string& name, std::vector<Staged>* set) {
  const std::size_t ns = static_cast<std::size_t>(s.nsample);
  {
    RecordWriter w(name, unit::history, Mode::Unknown, true);
    w.begin(4 + 8 + 8);
    w.put(static_cast<std::int32_t>(s.nsample));
    w.put(s.nsmp * s.dt);
    w.put(s.beta);
    w.end();
    w.begin(24);
    for (double v : s.first_dis) w.put(v);
    w.end();
    w.begin(24);
    for (double v : s.first_vel) w.put(v);
    w.end();
    w.begin(3 * ns * 8);
    for (std::size_t n = 0; n < 3 * ns; ++n) w.put(s.fhist[n]);
    w.end();
    for (std::size_t d = 0; d < 3; ++d) {
      w.begin(3 * ns * 8);
      for (std::size_t n = 0; n < ns; ++n)
        for (std::size_t q = 0; q < 3; ++q) w.put(s.bhist[9 * n + 3 * d + q]);
      w.end();
    }
    if (set)
      w.close_staged(*set);
    else
      w.close();
  }
}

void write_body_state(Store& s, const std::string& name, std::vector<Staged>* set) {
  {
    RecordWriter w(name, unit::body_state, Mode::Unknown, true);
    w.begin(5 * 4);
    for (int v : {s.is, s.ie, s.js, s.ks, s.ke}) w.put(static_cast<std::int32_t>(v));
    w.end();
    for (auto t : {std::array<double, 3>{s.xacc, s.yacc, s.tacc}, std::array<double, 3>{s.xdis, s.ydis, s.tdis},
                   std::array<double, 3>{s.xvel, s.yvel, s.tvel}}) {
      w.begin(24);
      for (double v : t) w.put(v);
      w.end();
    }
    for (const RecordLayout& r : kBodyStateFile)
      if (r.block()) write_block(w, named_field(s, r.names), s, r);
    if (set)
      w.close_staged(*set);
    else
      w.close();
  }
}

}  // namespace qv
