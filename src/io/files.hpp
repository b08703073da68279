// Record files and text files: the one set of file conventions.
//
// Record file: each record is a 4-byte little-endian length L, L bytes of
// data (32-bit integers and 64-bit reals, little-endian, packed), then L
// again.  Arrays are written with the first index fastest.
// Text file: lines end with CR LF when written; on input a line ends at LF
// and a CR before it is dropped.
//
// Every failed open, read or write raises IoError carrying the message the
// program stops with: "<condition>, unit <n>, file <name>".
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

// A failure of the file layer; the message is the one printed at the stop.
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A deliberate stop of the run with console lines already written (count
// mismatches, refused parameters); the status is the process exit status.
class RunStop : public std::runtime_error {
 public:
  RunStop(const std::string& what, int status) : std::runtime_error(what), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

enum class Mode { Old, New, Unknown, Append };

// Units the program's files are opened on (they appear in failure messages).
namespace unit {
inline constexpr int console_in = 5;
inline constexpr int probe_u = 1, probe_v = 2;
inline constexpr int param = 10, names = 11, axis = 12, flag = 13, field_in = 14, body_in = 15;
inline constexpr int esp2 = 16, iter = 17, change_in = 18, change_out = 19, series = 20;
inline constexpr int snapshot = 21, final_field = 22, stats = 23, history = 24, body_state = 25;
}  // namespace unit

[[noreturn]] void io_fail(const char* condition, int unit, const std::string& file);

class TextWriter {
 public:
  // Writes the file in place: mode Unknown replaces it (or creates it), New
  // refuses a name that exists, Append adds to one that exists.  A file that
  // must never be seen half written is a RecordWriter's atomic case.
  TextWriter(const std::string& name, int unit, Mode mode);
  ~TextWriter();
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  void line(const std::string& text);
  void flush();
  void close();

 private:
  std::FILE* f_ = nullptr;
  std::string name_;
  int unit_;
};

inline constexpr std::size_t kMaxLineLength = 65536;

class TextReader {
 public:
  TextReader(const std::string& name, int unit, Mode mode = Mode::Old);
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;
  // The next line (without its line end); end of file, or a line longer
  // than kMaxLineLength characters, raises IoError.
  std::string next();
  // Fixed-column fields of a line; conversion errors raise IoError.
  long long I(const std::string& line, int col, int w) const;
  double F(const std::string& line, int col, int w, int d) const;
  // n reals in lines of per_line fields of width w with d decimals.
  void reals(int n, int per_line, int w, int d, double* out);
  void ints(int n, int per_line, int w, std::int32_t* out);
  void close();

 private:
  std::FILE* f_ = nullptr;
  std::string name_;
  int unit_;
};

// A file written aside (`part`) and not yet renamed to its name (`target`).
struct Staged {
  std::string part, target;
  int unit = 0;
};

class RecordWriter {
 public:
  // With atomic, the records go to "<name>.part" beside the target, which
  // close() renames over it: mode Unknown replaces the file whole, mode New
  // refuses, at the open and again at the rename, a name that exists.
  RecordWriter(const std::string& name, int unit, Mode mode, bool atomic = false);
  ~RecordWriter();
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;
  // A record of `bytes` data bytes: begin, the items, end.
  void begin(std::size_t bytes);
  void put(std::int32_t v);
  void put(double v);
  void end();
  // Completes the file; with atomic, renames the temporary over the target.
  void close();
  // Atomic mode Unknown only: completes the temporary on disk but leaves the
  // rename to commit_staged, which puts several files in place as one set.
  void close_staged(std::vector<Staged>& set);

 private:
  void raw(const void* p, std::size_t n);
  std::FILE* f_ = nullptr;
  std::string name_, path_;
  int unit_;
  bool atomic_;
  Mode mode_;
  std::size_t expected_ = 0, written_ = 0;
  std::vector<char> buf_;
};

class RecordReader {
 public:
  RecordReader(const std::string& name, int unit);
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;
  // Reads the next record; the items are then taken from its start.
  void next();
  std::int32_t get_int();
  double get_real();
  // Fails as a read past its end would when the record holds fewer than `bytes`.
  void require(std::size_t bytes) const;
  std::size_t record_bytes() const { return rec_.size(); }
  void close();

 private:
  void take(void* p, std::size_t n);
  std::FILE* f_ = nullptr;
  std::string name_;
  int unit_;
  std::vector<unsigned char> rec_;
  std::size_t pos_ = 0;
};

// True when a regular file or directory of that name exists.
bool file_exists(const std::string& name);
bool dir_exists(const std::string& name);

// Puts the staged files in place as one set.  Before the first rename a
// journal (written aside and renamed) lists them; it is removed after the
// last.  A crash before the journal exists leaves every old file, a crash
// after it leaves a journal that complete_commit finishes: so the set on
// disk is all old or all new once the program has started again.
void commit_staged(std::vector<Staged>& set, const std::string& journal);
// Finishes the renames of a journal a crash left behind; false when there
// is none.  Failures raise IoError.
bool complete_commit(const std::string& journal);
// Removes the temporary "<name>.part" a crash may have left beside name.
void remove_stale_part(const std::string& name);

// The call that makes a directory's renames durable (fsync on the open
// directory; 0 or -1 with errno).  Tests replace it to inject failures;
// nullptr restores fsync.
using DirSync = int (*)(int fd);
void set_dir_sync(DirSync sync);

}  // namespace qv
