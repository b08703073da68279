#include "io/console.hpp"

#include <cstdio>
#include <iostream>

#include "io/files.hpp"

namespace qv {
namespace {

std::string next_token() {
  std::string tok;
  int c;
  while ((c = std::getchar()) != EOF) {
    const bool sep = c == ' ' || c == ',' || c == '\n' || c == '\r' || c == '\t';
    if (sep) {
      if (!tok.empty()) break;
      continue;
    }
    tok += static_cast<char>(c);
  }
  if (tok.empty()) io_fail("end-of-file during read", unit::console_in, "stdin");
  return tok;
}

}  // namespace

void say(const fmt::Line& line) { say(line.str()); }

void say(const std::string& fixed_line) {
  std::fwrite(fixed_line.data(), 1, fixed_line.size(), stdout);
  std::fputc('\n', stdout);
  static bool closed = false;
  if (!closed && std::ferror(stdout)) {
    closed = true;
    warn("standard output cannot be written; the run goes on without its console");
  }
}

void warn(const std::string& text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); }

double ask_real() {
  std::fflush(stdout);
  auto v = fmt::parse_real(next_token());
  if (!v) io_fail("input conversion error", unit::console_in, "stdin");
  return *v;
}

long long ask_int() {
  std::fflush(stdout);
  auto v = fmt::parse_int(next_token());
  if (!v) io_fail("input conversion error", unit::console_in, "stdin");
  return *v;
}

}  // namespace qv
