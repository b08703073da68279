// Fixed-column (edit-descriptor) writing and reading, and free-format lines.
//
// Writing: Iw, Fw.d, Ew.d (mantissa 0.d..d, signed two-digit exponent), Aw,
// nX.  A value too wide for its field fills the field with asterisks.
// Reading: a numeric field is taken from its columns only; blanks inside it
// are ignored and an all-blank field reads 0; an F or E field without a
// decimal point takes its last d digits as decimals; exponent forms
// (1.5E3, 1.5D3, 1.5e+3, 1.5+3) are accepted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv::fmt {

std::string I(long long v, int w);
std::string F(double v, int w, int d);
std::string E(double v, int w, int d);
std::string A(std::string_view s, int w);
std::string X(int n);

// Field readers: the field is columns [col, col+w) of the line (1-based col),
// blank-padded if the line is shorter.  nullopt means a conversion error.
std::optional<long long> read_int(std::string_view line, int col, int w);
std::optional<double> read_real(std::string_view line, int col, int w, int d);
std::string read_text(std::string_view line, int col, int w);

// Parses a whole numeric token (free-format input); nullopt if not a number.
std::optional<double> parse_real(std::string_view token);
std::optional<long long> parse_int(std::string_view token);

// Free-format line: one leading blank, then the items.  Integers are
// right-aligned in 12 columns, reals in general notation with 15 significant
// digits.
class Line {
 public:
  Line() : s_(" ") {}
  Line& operator<<(std::string_view text) {
    s_ += text;
    return *this;
  }
  Line& operator<<(const char* text) { return *this << std::string_view(text); }
  Line& operator<<(const std::string& text) { return *this << std::string_view(text); }
  Line& operator<<(int v);
  Line& operator<<(long long v);
  Line& operator<<(double v);
  const std::string& str() const { return s_; }

 private:
  std::string s_;
};

// The general-notation form of a real used in free-format lines.
std::string general(double v);

// A name from a fixed-width field without its trailing blanks.
std::string trim_name(std::string_view name);

}  // namespace qv::fmt
