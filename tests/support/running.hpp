// Test support for whole runs of the real program: a program running in a
// case directory that a test can watch and act on, and record files read
// back record by record.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvt {

// Occurrences of `what` in text.
int count(const std::string& text, const std::string& what);

// The program started in dir with its standard output on a pipe (standard
// error to console.err), so a test can act while it runs.
class Running {
 public:
  // A file_size_limit >= 0 (bytes) is set in the child, as `ulimit -f`
  // would, so it applies to the program alone.
  Running(const std::string& dir, const std::string& console, long long file_size_limit = -1);
  ~Running();
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  // Reads output until `what` has appeared `times` times; false on timeout or end.
  bool wait_for(const std::string& what, int times = 1, int seconds = 60);
  // Waits until console.err holds `what`; false on timeout.
  bool wait_for_err(const std::string& what, int seconds = 60);
  // Reads to the end of the output and returns the exit status (-signal if
  // killed); a program still running after two minutes is killed.
  int finish();
  // Closes the reading end of the standard output pipe.
  void close_output();
  pid_t pid() const { return pid_; }
  std::string out;

 private:
  bool pump(int ms);
  std::string dir_;
  pid_t pid_ = -1;
  int fd_ = -1;
};

// Number of the last "nn = " line.
int last_step(const std::string& out);

// True when no temporary ("*.part") lies in dir or below.
bool no_temporaries(const std::string& dir);

// The records of a record file (reading stops at the first damaged one).
struct Rec {
  std::vector<std::string> r;
  double real(std::size_t rec, std::size_t n) const;
  std::int32_t int32(std::size_t rec, std::size_t byte) const;
};
Rec records(const std::string& path);

}  // namespace qvt
