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
  const std::size_t ns = static_cast<std::size_t>(s.body.nsample);
  {
    RecordWriter w(name, unit::history, Mode::Unknown, true);
    w.begin(4 + 8 + 8);
    w.put(static_cast<std::int32_t>(s.body.nsample));
    w.put(s.body.nsmp * s.run.dt);
    w.put(s.body.beta);
    w.end();
    for (const char* r : {"xdis1 ydis1 tdis1", "xvel1 yvel1 tvel1"}) {
      const Dof3& q = *named_triple(s.body, kHistoryFile[record_of(kHistoryFile, r)].names);
      w.begin(24);
      for (int d = 0; d < kDofs; ++d) w.put(q[d]);
      w.end();
    }
    w.begin(3 * ns * 8);
    for (std::size_t n = 0; n < 3 * ns; ++n) w.put(s.body.fhist[n]);
    w.end();
    for (std::size_t d = 0; d < 3; ++d) {
      w.begin(3 * ns * 8);
      for (std::size_t n = 0; n < ns; ++n)
        for (std::size_t q = 0; q < 3; ++q) w.put(s.body.bhist[9 * n + 3 * d + q]);
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
    for (int v : {s.grid.is, s.grid.ie, s.grid.js, s.grid.ks, s.grid.ke}) w.put(static_cast<std::int32_t>(v));
    w.end();
    for (const RecordLayout& r : kBodyStateFile)
      if (r.block()) {
        write_block(w, named_field(s, r.names), s, r);
      } else if (const Dof3* q = named_triple(s.body, r.names)) {
        w.begin(24);
        for (int d = 0; d < kDofs; ++d) w.put((*q)[d]);
        w.end();
      }
    if (set)
      w.close_staged(*set);
    else
      w.close();
  }
}

}  // namespace qv
