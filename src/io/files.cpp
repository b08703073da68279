#include "io/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/format.hpp"

namespace qv {
namespace {

// `shown` is the name failure messages carry (the target of a temporary file).
std::FILE* open_stream(const std::string& name, int unit, Mode mode, bool for_write,
                       const std::string& shown) {
  if (dir_exists(name)) io_fail("open failure", unit, shown);
  switch (mode) {
    case Mode::Old:
      if (!file_exists(name)) io_fail("file not found", unit, shown);
      break;
    case Mode::New:
      if (file_exists(name)) io_fail("cannot overwrite existing file", unit, shown);
      break;
    case Mode::Append:
      if (!file_exists(name)) io_fail("file not found", unit, shown);
      break;
    case Mode::Unknown:
      break;
  }
  const char* how = "rb";
  if (for_write) {
    how = mode == Mode::Append ? "ab" : (mode == Mode::New ? "wbx" : "wb");
  } else if (mode == Mode::Unknown && !file_exists(name)) {
    // an open in mode unknown creates a missing file
    if (std::FILE* c = std::fopen(name.c_str(), "ab")) std::fclose(c);
  }
  std::FILE* f = std::fopen(name.c_str(), how);
  if (!f) {
    if (errno == ENOENT) io_fail("file not found", unit, shown);
    if (errno == EEXIST) io_fail("cannot overwrite existing file", unit, shown);
    io_fail("open failure", unit, shown);
  }
  return f;
}

DirSync dir_sync = nullptr;

// Makes the renames in the directory of `name` durable; false when the sync
// failed.  A file system without directory syncs (EINVAL, ENOTSUP) and a
// directory that cannot be opened for one count as done.
bool dir_synced(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(name).parent_path();
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;
  const int rc = dir_sync ? dir_sync(fd) : ::fsync(fd);
  const int err = errno;
  ::close(fd);
  return rc == 0 || err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP;
}

// A failed directory sync is a failed write of `name` on `unit`.
void sync_dir_of(const std::string& name, int unit) {
  if (!dir_synced(name)) io_fail("error during write", unit, name);
}

// The first failed directory sync of a set; the renames go on after it
// (the set stands once its journal is in place) and it is reported at the end.
struct SyncFailure {
  std::string name;
  int unit = 0;
  void sync(const std::string& n, int u) {
    if (!dir_synced(n) && name.empty()) name = n, unit = u;
  }
  void report() const {
    if (!name.empty()) io_fail("error during write", unit, name);
  }
};

// Renames `from` to `to` unless `to` exists (the check and the rename are
// one step where the file system allows it).
bool rename_no_replace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

long file_size(std::FILE* f) {
  struct stat st {};
  if (fstat(fileno(f), &st) != 0) return -1;
  return static_cast<long>(st.st_size);
}

template <class T>
T to_little(T v) {
  if constexpr (std::endian::native == std::endian::big) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    std::memcpy(&v, b, sizeof(T));
  }
  return v;
}

}  // namespace

void io_fail(const char* condition, int unit, const std::string& file) {
  throw IoError(std::string(condition) + ", unit " + std::to_string(unit) + ", file " + file);
}

bool file_exists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool dir_exists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------- text out

TextWriter::TextWriter(const std::string& name, int unit, Mode mode) : name_(name), unit_(unit) {
  f_ = open_stream(name, unit, mode, true, name);
}

TextWriter::~TextWriter() {
  if (f_) std::fclose(f_);
}

void TextWriter::line(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), f_) != text.size() || std::fputs("\r\n", f_) == EOF)
    io_fail("error during write", unit_, name_);
}

void TextWriter::flush() {
  if (std::fflush(f_) != 0) io_fail("error during write", unit_, name_);
}

void TextWriter::close() {
  if (!f_) return;
  std::FILE* f = f_;
  f_ = nullptr;
  if (std::fclose(f) != 0) io_fail("error during write", unit_, name_);
}

// ----------------------------------------------------------------- text in

TextReader::TextReader(const std::string& name, int unit, Mode mode) : name_(name), unit_(unit) {
  f_ = open_stream(name, unit, mode, false, name);
}

TextReader::~TextReader() {
  if (f_) std::fclose(f_);
}

std::string TextReader::next() {
  std::string s;
  int c;
  bool any = false;
  while ((c = std::fgetc(f_)) != EOF) {
    any = true;
    if (c == '\n') break;
    // every text input is a few fixed-column fields: an endless line (a
    // device, a binary file) is refused, not read into memory
    if (s.size() >= kMaxLineLength)
      io_fail(("line longer than " + std::to_string(kMaxLineLength) + " characters").c_str(), unit_, name_);
    s += static_cast<char>(c);
  }
  if (!any) {
    if (std::ferror(f_)) io_fail("open failure", unit_, name_);
    io_fail("end-of-file during read", unit_, name_);
  }
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

long long TextReader::I(const std::string& line, int col, int w) const {
  auto v = fmt::read_int(line, col, w);
  if (!v) io_fail("input conversion error", unit_, name_);
  return *v;
}

double TextReader::F(const std::string& line, int col, int w, int d) const {
  auto v = fmt::read_real(line, col, w, d);
  if (!v) io_fail("input conversion error", unit_, name_);
  return *v;
}

void TextReader::reals(int n, int per_line, int w, int d, double* out) {
  std::string line;
  for (int m = 0; m < n; ++m) {
    if (m % per_line == 0) line = next();
    out[m] = F(line, 1 + (m % per_line) * w, w, d);
  }
}

void TextReader::ints(int n, int per_line, int w, std::int32_t* out) {
  std::string line;
  for (int m = 0; m < n; ++m) {
    if (m % per_line == 0) line = next();
    out[m] = static_cast<std::int32_t>(I(line, 1 + (m % per_line) * w, w));
  }
}

void TextReader::close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

// ------------------------------------------------------------- records out

RecordWriter::RecordWriter(const std::string& name, int unit, Mode mode, bool atomic)
    : name_(name),
      path_(name),
      unit_(unit),
      atomic_(atomic && (mode == Mode::Unknown || mode == Mode::New)),
      mode_(mode) {
  if (atomic_) {
    if (dir_exists(name)) io_fail("open failure", unit, name);
    if (mode == Mode::New && file_exists(name)) io_fail("cannot overwrite existing file", unit, name);
    path_ = name + ".part";
  }
  f_ = open_stream(path_, unit, atomic_ ? Mode::Unknown : mode, true, name_);
  buf_.resize(1 << 20);
  std::setvbuf(f_, buf_.data(), _IOFBF, buf_.size());
}

RecordWriter::~RecordWriter() {
  if (f_) {
    std::fclose(f_);
    if (atomic_) std::remove(path_.c_str());
  }
}

void RecordWriter::raw(const void* p, std::size_t n) {
  if (std::fwrite(p, 1, n, f_) != n) io_fail("error during write", unit_, name_);
}

void RecordWriter::begin(std::size_t bytes) {
  expected_ = bytes;
  written_ = 0;
  const std::int32_t L = to_little(static_cast<std::int32_t>(bytes));
  raw(&L, 4);
}

void RecordWriter::put(std::int32_t v) {
  v = to_little(v);
  raw(&v, 4);
  written_ += 4;
}

void RecordWriter::put(double v) {
  v = to_little(v);
  raw(&v, 8);
  written_ += 8;
}

void RecordWriter::end() {
  if (written_ != expected_) throw std::logic_error("record length mismatch writing " + name_);
  const std::int32_t L = to_little(static_cast<std::int32_t>(expected_));
  raw(&L, 4);
}

void RecordWriter::close() {
  if (!f_) return;
  if (!atomic_) {
    std::FILE* f = f_;
    f_ = nullptr;
    const bool ok = std::fflush(f) == 0;
    if (!(std::fclose(f) == 0 && ok)) io_fail("error during write", unit_, name_);
    return;
  }
  std::vector<Staged> one;
  close_staged(one);
  if (mode_ == Mode::New) {
    if (!rename_no_replace(path_, name_)) {
      const bool exists = errno == EEXIST;
      std::remove(path_.c_str());
      io_fail(exists ? "cannot overwrite existing file" : "error during write", unit_, name_);
    }
  } else if (std::rename(path_.c_str(), name_.c_str()) != 0) {
    std::remove(path_.c_str());
    io_fail("error during write", unit_, name_);
  }
  sync_dir_of(name_, unit_);
}

void RecordWriter::close_staged(std::vector<Staged>& set) {
  if (!f_) return;
  std::FILE* f = f_;
  f_ = nullptr;
  bool ok = std::fflush(f) == 0;
  if (ok) ok = ::fsync(fileno(f)) == 0;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    std::remove(path_.c_str());
    io_fail("error during write", unit_, name_);
  }
  set.push_back({path_, name_, unit_});
}

// ------------------------------------------------------- sets of files

void commit_staged(std::vector<Staged>& set, const std::string& journal) {
  namespace fs = std::filesystem;
  auto drop = [&] {
    for (const Staged& p : set) std::remove(p.part.c_str());
  };
  {
    const std::string part = journal + ".part";
    std::FILE* j = std::fopen(part.c_str(), "wb");
    bool ok = j != nullptr;
    if (ok) {
      ok = std::fputs("quivel_vib8 commit\n", j) >= 0;
      // names relative to the journal's directory, so that a folder moved
      // after a crash still completes
      const fs::path base = fs::absolute(journal).parent_path();
      auto rel = [&](const std::string& n) { return fs::absolute(n).lexically_relative(base).string(); };
      for (const Staged& p : set)
        ok = ok && std::fprintf(j, "%s\t%s\n", rel(p.part).c_str(), rel(p.target).c_str()) > 0;
      ok = std::fflush(j) == 0 && ok;
      ok = ::fsync(fileno(j)) == 0 && ok;
      ok = std::fclose(j) == 0 && ok;
    }
    if (!ok || std::rename(part.c_str(), journal.c_str()) != 0) {
      std::remove(part.c_str());
      drop();
      io_fail("error during write", set.empty() ? 0 : set.front().unit, journal);
    }
  }
  SyncFailure failed;
  failed.sync(journal, set.empty() ? 0 : set.front().unit);
  // From here on the new set stands: the journal completes it after a
  // crash or a failed rename, so its temporaries must stay.
  const std::vector<Staged> committed = std::move(set);
  set.clear();
  for (const Staged& p : committed)
    if (std::rename(p.part.c_str(), p.target.c_str()) != 0) io_fail("error during write", p.unit, p.target);
  for (const Staged& p : committed) failed.sync(p.target, p.unit);
  std::remove(journal.c_str());
  failed.sync(journal, committed.empty() ? 0 : committed.front().unit);
  failed.report();
}

bool complete_commit(const std::string& journal) {
  if (!file_exists(journal)) {
    remove_stale_part(journal);
    return false;
  }
  std::FILE* j = std::fopen(journal.c_str(), "rb");
  if (!j) io_fail("open failure", 0, journal);
  std::string text;
  for (int c; (c = std::fgetc(j)) != EOF;) text += static_cast<char>(c);
  std::fclose(j);
  std::vector<Staged> set;
  std::size_t p = 0;
  bool first = true;
  while (p < text.size()) {
    std::size_t e = text.find('\n', p);
    if (e == std::string::npos) e = text.size();
    const std::string l = text.substr(p, e - p);
    p = e + 1;
    if (first) {
      if (l != "quivel_vib8 commit") io_fail("input conversion error", 0, journal);
      first = false;
      continue;
    }
    const std::size_t tab = l.find('\t');
    if (tab == std::string::npos) io_fail("input conversion error", 0, journal);
    const std::filesystem::path base = std::filesystem::path(journal).parent_path();
    set.push_back({(base / l.substr(0, tab)).string(), (base / l.substr(tab + 1)).string(), 0});
  }
  if (first) io_fail("end-of-file during read", 0, journal);
  for (const Staged& s : set)
    if (file_exists(s.part) && std::rename(s.part.c_str(), s.target.c_str()) != 0)
      io_fail("error during write", 0, s.target);
  SyncFailure failed;
  for (const Staged& s : set) failed.sync(s.target, 0);
  std::remove(journal.c_str());
  failed.sync(journal, 0);
  failed.report();
  return true;
}

void set_dir_sync(DirSync sync) { dir_sync = sync; }

void remove_stale_part(const std::string& name) {
  const std::string part = name + ".part";
  if (file_exists(part)) std::remove(part.c_str());
}

// -------------------------------------------------------------- records in

RecordReader::RecordReader(const std::string& name, int unit) : name_(name), unit_(unit) {
  f_ = open_stream(name, unit, Mode::Old, false, name);
}

RecordReader::~RecordReader() {
  if (f_) std::fclose(f_);
}

void RecordReader::next() {
  std::int32_t L = 0;
  if (std::fread(&L, 1, 4, f_) != 4) io_fail("end-of-file during read", unit_, name_);
  L = to_little(L);
  const long here = std::ftell(f_);
  const long size = file_size(f_);
  if (L < 0 || (size >= 0 && here + static_cast<long>(L) + 4 > size))
    io_fail("end-of-file during read", unit_, name_);
  rec_.resize(static_cast<std::size_t>(L));
  std::int32_t L2 = 0;
  if ((L > 0 && std::fread(rec_.data(), 1, rec_.size(), f_) != rec_.size()) ||
      std::fread(&L2, 1, 4, f_) != 4 || to_little(L2) != L)
    io_fail("end-of-file during read", unit_, name_);
  pos_ = 0;
}

void RecordReader::take(void* p, std::size_t n) {
  if (pos_ + n > rec_.size()) io_fail("input statement requires too much data", unit_, name_);
  std::memcpy(p, rec_.data() + pos_, n);
  pos_ += n;
}

std::int32_t RecordReader::get_int() {
  std::int32_t v;
  take(&v, 4);
  return to_little(v);
}

double RecordReader::get_real() {
  double v;
  take(&v, 8);
  return to_little(v);
}

void RecordReader::require(std::size_t bytes) const {
  if (bytes > rec_.size()) io_fail("input statement requires too much data", unit_, name_);
}

void RecordReader::close() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

}  // namespace qv
