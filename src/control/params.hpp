// The parameter file "quivel_vib8.inf": 16 fixed-column lines, laid out in
// one table that the reader (and whatever writes such a file) goes by.
#pragma once

#include <string>
#include <vector>

namespace qv {

// The values of the parameter file as they stand in it (ca1, ca2 not yet
// transformed; names blank-padded to 14 characters).
struct ParamFile {
  std::string axisfile, flagfile, inputfile, finalfile, statfile;
  int nx = 0, ny = 0, nz = 0;
  int iyper = 0, izper = 0;
  double Re = 0, Cs = 0, dt = 0;
  double esp = 0, omg = 0;
  double ca1 = 0, ca2 = 0;
  int nt = 0;
  std::string nfile0, nfile, vfile;
  double amas = 0, aitm = 0;
  double xkst = 0, ykst = 0, tkst = 0;
  double xh0 = 0, yh0 = 0, th0 = 0;
  double beta = 0;
  int ndof = 0;
  double xamp = 0, yamp = 0, tamp = 0, tfrc = 0;
  int nsmp = 0;
};

// One field of a line: 'A' a 14-character name behind 2 blanks (2X,A14),
// 'I' an Iw, 'F' an Fw.d, 'E' an Ew.d field, at columns col..col+w-1.
// Exactly one of the member pointers is set, by the kind.
struct ParamField {
  int line;  // 1..16
  char kind;
  int col, w, d;
  std::string ParamFile::*text = nullptr;
  int ParamFile::*whole = nullptr;
  double ParamFile::*real = nullptr;
};

inline constexpr int kParamLines = 16;
inline constexpr int kNameWidth = 14;
// Every field of the 16 lines, line by line and left to right.
const std::vector<ParamField>& param_layout();

// The name field of columns col..col+13 of line `line_no` of `file`
// (trailing blanks kept).  A name holding a control character, or one that
// runs on behind its field (into the blank columns before the next field
// when `more_follow`, else into the column right after it), is refused
// (RunStop) with the file, line and columns.
std::string read_name(const std::string& line, int col, bool more_follow, const std::string& file, int line_no);

// Reads the 16 lines of the parameter file `name` (unit param); failures
// raise IoError.
ParamFile read_param_file(const std::string& name);

}  // namespace qv
