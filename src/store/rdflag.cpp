#include <vector>

#include "io/console.hpp"
#include "io/files.hpp"
#include "store/input.hpp"

namespace qv {

void check_counts(const Store& s, TextReader& r, const std::string& file, const char* header) {
  const std::string l = r.next();
  const long long Nx = r.I(l, 1, 5), Ny = r.I(l, 6, 5), Nz = r.I(l, 11, 5);
  int err = 0;
  if (Nx + 2 != s.grid.ie) err = 1;
  if (Ny + 2 != s.grid.je) err = 2;
  if (Nz + 2 != s.grid.ke) err = 3;
  if (err != 0) {
    say(fmt::Line() << header);
    say(fmt::Line() << "[1];x [2];y [3];z not same " << err);
    throw RunStop(file + " line 1: the counts " + std::to_string(Nx) + " " + std::to_string(Ny) + " " +
                      std::to_string(Nz) + " differ from nx, ny, nz = " + std::to_string(s.grid.ie - 2) + " " +
                      std::to_string(s.grid.je - 2) + " " + std::to_string(s.grid.ke - 2) + " of quivel_vib8.inf",
                  2);
  }
}

// 1. Counts checked as for the grid.
// 2. Flags of the fluid box, i fastest, ten per line.
// 3. Body cells on the z sides, then the y sides, extended two ghost layers.
void rdflag(Store& s, const std::string& flagfile) {
  const std::string name = fmt::trim_name(flagfile);
  TextReader r(name, unit::flag);
  check_counts(s, r, name, "# of data are not same in rdflag.");
  const int ni = s.grid.ie - s.grid.is, nj = s.grid.je - s.grid.js, nk = s.grid.ke - s.grid.ks;
  std::vector<std::int32_t> v(static_cast<std::size_t>(ni) * nj * nk);
  r.ints(static_cast<int>(v.size()), 10, 5, v.data());
  r.close();
  std::size_t n = 0;
  for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j)
      for (int i = s.grid.is; i <= s.grid.ie - 1; ++i) s.flow.iflag(i, j, k) = v[n++];

  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int j = s.grid.js; j <= s.grid.je - 1; ++j) {
      if (s.flow.iflag(i, j, s.grid.ks) != 0) s.flow.iflag(i, j, s.grid.ks - 1) = s.flow.iflag(i, j, s.grid.ks - 2) = 1;
      if (s.flow.iflag(i, j, s.grid.ke - 1) != 0) s.flow.iflag(i, j, s.grid.ke) = s.flow.iflag(i, j, s.grid.ke + 1) = 1;
    }
  for (int i = s.grid.is; i <= s.grid.ie - 1; ++i)
    for (int k = s.grid.ks; k <= s.grid.ke - 1; ++k) {
      if (s.flow.iflag(i, s.grid.js, k) != 0) s.flow.iflag(i, s.grid.js - 1, k) = s.flow.iflag(i, s.grid.js - 2, k) = 1;
      if (s.flow.iflag(i, s.grid.je - 1, k) != 0) s.flow.iflag(i, s.grid.je, k) = s.flow.iflag(i, s.grid.je + 1, k) = 1;
    }
}

}  // namespace qv
