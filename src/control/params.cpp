#include "control/params.hpp"

#include "io/files.hpp"
#include "io/format.hpp"

namespace qv {
namespace {

using P = ParamFile;
ParamField name(int line, int col, std::string P::*m) { return {line, 'A', col, 14, 0, m, nullptr, nullptr}; }
ParamField whole(int line, int col, int w, int P::*m) { return {line, 'I', col, w, 0, nullptr, m, nullptr}; }
ParamField real(int line, char kind, int col, int w, int d, double P::*m) {
  return {line, kind, col, w, d, nullptr, nullptr, m};
}

}  // namespace

const std::vector<ParamField>& param_layout() {
  static const std::vector<ParamField> layout = {
      // (2X,A14,2X,A14,2X,A14,2X,A14,2X,A14)
      name(1, 3, &P::axisfile), name(1, 19, &P::flagfile), name(1, 35, &P::inputfile),
      name(1, 51, &P::finalfile), name(1, 67, &P::statfile),
      // (3I5)
      whole(2, 1, 5, &P::nx), whole(2, 6, 5, &P::ny), whole(2, 11, 5, &P::nz),
      // (2I5)
      whole(3, 1, 5, &P::iyper), whole(3, 6, 5, &P::izper),
      real(4, 'F', 1, 10, 0, &P::Re),   // (F10.0)
      real(5, 'F', 1, 10, 5, &P::Cs),   // (F10.5)
      real(6, 'E', 1, 13, 5, &P::dt),   // (E13.5)
      real(7, 'F', 1, 10, 5, &P::esp), real(7, 'F', 11, 10, 5, &P::omg),  // (2F10.5)
      real(8, 'F', 1, 10, 5, &P::ca1), real(8, 'F', 11, 10, 5, &P::ca2),  // (2F10.5)
      whole(9, 1, 5, &P::nt),           // (I5)
      // (2X,A14,2X,A14,2X,A14)
      name(10, 3, &P::nfile0), name(10, 19, &P::nfile), name(10, 35, &P::vfile),
      // (2E13.5)
      real(11, 'E', 1, 13, 5, &P::amas), real(11, 'E', 14, 13, 5, &P::aitm),
      // (3E13.5)
      real(12, 'E', 1, 13, 5, &P::xkst), real(12, 'E', 14, 13, 5, &P::ykst), real(12, 'E', 27, 13, 5, &P::tkst),
      // (3F10.5)
      real(13, 'F', 1, 10, 5, &P::xh0), real(13, 'F', 11, 10, 5, &P::yh0), real(13, 'F', 21, 10, 5, &P::th0),
      // (F10.5,I5)
      real(14, 'F', 1, 10, 5, &P::beta), whole(14, 11, 5, &P::ndof),
      // (4F10.5)
      real(15, 'F', 1, 10, 5, &P::xamp), real(15, 'F', 11, 10, 5, &P::yamp), real(15, 'F', 21, 10, 5, &P::tamp),
      real(15, 'F', 31, 10, 5, &P::tfrc),
      whole(16, 1, 5, &P::nsmp),  // (I5)
  };
  return layout;
}

std::string read_name(const std::string& line, int col, bool more_follow, const std::string& file, int line_no) {
  const std::string where = file + " line " + std::to_string(line_no) + ", columns " + std::to_string(col) + "-" +
                            std::to_string(col + kNameWidth - 1);
  const std::string name = fmt::read_text(line, col, kNameWidth);
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      throw RunStop(where + ": the name holds the control character " +
                        std::to_string(static_cast<unsigned char>(c)),
                    2);
  // The columns behind the field (the two blanks before the next name, or
  // the one right after the last) must be blank: a longer name would be cut
  // here and its rest read as part of the next name.
  const int last = col + kNameWidth + (more_follow ? 1 : 0);
  for (int c = col + kNameWidth; c <= last; ++c)
    if (static_cast<std::size_t>(c) <= line.size() && line[static_cast<std::size_t>(c - 1)] != ' ')
      throw RunStop(where + ": the name runs on into column " + std::to_string(c) + " (\"" +
                        line.substr(static_cast<std::size_t>(col - 1), static_cast<std::size_t>(last - col + 1)) +
                        "\"); a name has at most " + std::to_string(kNameWidth) + " characters",
                    2);
  return name;
}

ParamFile read_param_file(const std::string& file) {
  ParamFile p;
  TextReader r(file, unit::param);
  const auto& layout = param_layout();
  std::size_t n = 0;
  for (int line = 1; line <= kParamLines; ++line) {
    const std::string l = r.next();
    for (; n < layout.size() && layout[n].line == line; ++n) {
      const ParamField& f = layout[n];
      if (f.text)
        p.*f.text = read_name(l, f.col, n + 1 < layout.size() && layout[n + 1].line == line, file, line);
      else if (f.whole)
        p.*f.whole = static_cast<int>(r.I(l, f.col, f.w));
      else
        p.*f.real = r.F(l, f.col, f.w, f.d);
    }
  }
  r.close();
  return p;
}

}  // namespace qv
