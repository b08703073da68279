// Start-up input of the store: grid and body flags.
#pragma once

#include <string>

#include "io/files.hpp"
#include "store/store.hpp"

namespace qv {

// True when the run starts without an initial field file.
inline bool fresh_start(const std::string& inputfile) { return inputfile.compare(0, 5, "fffff") == 0; }

// Grid lines, widths, centre distances with their ghost values, and delm.
void rdaxis(Store& s, const std::string& axisfile);

// Widths, centre distances and ghost lines from the grid lines x(is..ie),
// y(js..je), z(ks..ke); the viscous time-step bound delm; the filter
// widths of an allocated store.
void grid_metrics(Store& s);

// The first line of the grid and flag files: Nx, Ny, Nz against ie, je, ke
// (the last mismatch wins); a mismatch prints `header` and the error code
// and stops the run.
void check_counts(const Store& s, TextReader& r, const std::string& file, const char* header);

// Body flags of the fluid box, extended into the y and z ghost layers.
void rdflag(Store& s, const std::string& flagfile);

}  // namespace qv
