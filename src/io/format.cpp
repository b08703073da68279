#include "io/format.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qv::fmt {
namespace {

std::string right(const std::string& s, int w) {
  if (static_cast<int>(s.size()) > w) return std::string(static_cast<std::size_t>(w), '*');
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::string non_finite(double v, int w) {
  std::string s;
  if (std::isnan(v))
    s = "NaN";
  else
    s = std::string(v < 0 ? "-" : "") + (w >= 8 + (v < 0 ? 1 : 0) ? "Infinity" : "Inf");
  return right(s, w);
}

// Drops the optional leading zero of "0." / "-0." when the field is too narrow.
std::string fit_number(std::string s, int w) {
  if (static_cast<int>(s.size()) > w) {
    if (s.rfind("0.", 0) == 0)
      s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0)
      s.erase(1, 1);
  }
  return right(s, w);
}

std::string field(std::string_view line, int col, int w) {
  std::string f;
  for (int c = col; c < col + w; ++c) {
    const std::size_t p = static_cast<std::size_t>(c - 1);
    f += p < line.size() ? line[p] : ' ';
  }
  return f;
}

std::string without_blanks(const std::string& f) {
  std::string s;
  for (char c : f)
    if (c != ' ' && c != '\t') s += c;
  return s;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Checks [sign] digits [. digits] [exponent] and rewrites it as a C number
// string; implied decimals apply only without a point and an exponent.
std::optional<double> real_from(const std::string& s, int d) {
  if (s.empty()) return 0.0;
  std::size_t p = 0;
  std::string sign;
  if (s[p] == '+' || s[p] == '-') sign = s[p++] == '-' ? "-" : "";
  std::string ip, fp, ex;
  bool point = false, have_exp = false;
  while (p < s.size() && is_digit(s[p])) ip += s[p++];
  if (p < s.size() && s[p] == '.') {
    point = true;
    ++p;
    while (p < s.size() && is_digit(s[p])) fp += s[p++];
  }
  if (ip.empty() && fp.empty()) return std::nullopt;
  if (p < s.size()) {
    char c = s[p];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q') {
      ++p;
    } else if (c != '+' && c != '-') {
      return std::nullopt;
    }
    have_exp = true;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) ex += s[p++];
    std::string ed;
    while (p < s.size() && is_digit(s[p])) ed += s[p++];
    if (ed.empty()) return std::nullopt;
    ex += ed;
  }
  if (p != s.size()) return std::nullopt;
  std::string num;
  if (!point && !have_exp && d > 0) {
    std::string digits = ip;
    if (static_cast<int>(digits.size()) <= d) digits.insert(0, static_cast<std::size_t>(d) - digits.size() + 1, '0');
    num = sign + digits.substr(0, digits.size() - static_cast<std::size_t>(d)) + "." +
          digits.substr(digits.size() - static_cast<std::size_t>(d));
  } else {
    num = sign + (ip.empty() ? "0" : ip) + "." + (fp.empty() ? "0" : fp);
  }
  if (have_exp) num += "e" + ex;
  return std::strtod(num.c_str(), nullptr);
}

}  // namespace

std::string I(long long v, int w) { return right(std::to_string(v), w); }

std::string F(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", d, v);
  return fit_number(buf, w);
}

std::string E(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*E", d > 0 ? d - 1 : 0, v);
  // buf: [-]D.DDDE[+-]XX
  std::string b(buf);
  std::string sign;
  std::size_t p = 0;
  if (b[0] == '-') {
    sign = "-";
    p = 1;
  }
  std::string digits;
  for (; p < b.size() && b[p] != 'E'; ++p)
    if (is_digit(b[p])) digits += b[p];
  int e = std::atoi(b.c_str() + p + 1);
  if (v != 0) e += 1;
  digits = digits.substr(0, static_cast<std::size_t>(d));
  std::string ex;
  const int ae = std::abs(e);
  char eb[16];
  if (ae <= 99)
    std::snprintf(eb, sizeof eb, "E%c%02d", e < 0 ? '-' : '+', ae);
  else if (ae <= 999)
    std::snprintf(eb, sizeof eb, "%c%03d", e < 0 ? '-' : '+', ae);
  else
    return std::string(static_cast<std::size_t>(w), '*');
  return fit_number(sign + "0." + digits + eb, w);
}

std::string A(std::string_view s, int w) {
  std::string r(s.substr(0, static_cast<std::size_t>(w)));
  r.resize(static_cast<std::size_t>(w), ' ');
  return r;
}

std::string X(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

std::optional<long long> read_int(std::string_view line, int col, int w) {
  const std::string s = without_blanks(field(line, col, w));
  if (s.empty()) return 0;
  std::size_t p = 0;
  bool neg = false;
  if (s[0] == '+' || s[0] == '-') neg = s[p++] == '-';
  if (p == s.size()) return std::nullopt;
  long long v = 0;
  for (; p < s.size(); ++p) {
    if (!is_digit(s[p])) return std::nullopt;
    if (v > 100000000000000000LL) return std::nullopt;
    v = v * 10 + (s[p] - '0');
  }
  return neg ? -v : v;
}

std::optional<double> read_real(std::string_view line, int col, int w, int d) {
  return real_from(without_blanks(field(line, col, w)), d);
}

std::string read_text(std::string_view line, int col, int w) { return field(line, col, w); }

std::optional<double> parse_real(std::string_view token) {
  if (token.empty()) return std::nullopt;
  return real_from(std::string(token), 0);
}

std::optional<long long> parse_int(std::string_view token) {
  if (token.empty()) return std::nullopt;
  return read_int(token, 1, static_cast<int>(token.size()));
}

std::string general(double v) {
  char buf[64];
  if (!std::isfinite(v)) return right(std::isnan(v) ? "NaN" : (v < 0 ? "-Infinity" : "Infinity"), 25);
  const double a = std::fabs(v);
  if (a >= 0.1 && a < 1e15) {
    int e = static_cast<int>(std::floor(std::log10(a)));
    int dec = 14 - e;
    if (dec < 0) dec = 0;
    std::snprintf(buf, sizeof buf, "%.*f", dec, v);
    return right(buf, 25);
  }
  std::snprintf(buf, sizeof buf, "%.14E", v);  // 15 significant digits
  std::string b(buf);
  const std::size_t p = b.find('E');
  const int e = std::atoi(b.c_str() + p + 1);
  char eb[16];
  std::snprintf(eb, sizeof eb, "E%c%03d", e < 0 ? '-' : '+', std::abs(e));
  return right(b.substr(0, p) + eb, 25);
}

Line& Line::operator<<(int v) { return *this << static_cast<long long>(v); }
Line& Line::operator<<(long long v) {
  s_ += I(v, 12);
  return *this;
}
Line& Line::operator<<(double v) {
  s_ += general(v);
  return *this;
}

std::string trim_name(std::string_view name) {
  std::size_t n = name.size();
  while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == '\0')) --n;
  return std::string(name.substr(0, n));
}

}  // namespace qv::fmt
