// Record files and text files byte for byte; open modes and failure messages.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>

#include "io/files.hpp"
#include "store/blocks.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;
using qv::Mode;
using qv::RecordReader;
using qv::RecordWriter;
using qv::TextReader;
using qv::TextWriter;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { cd_ = std::make_unique<qvt::ScopedDir>(dir_); }
  void TearDown() override {
    cd_.reset();
    fs::remove_all(dir_);
  }
  std::string dir_ = qvt::temp_dir("files");
  std::unique_ptr<qvt::ScopedDir> cd_;
};

// The message of the IoError f throws, or "".
std::string io_message(const std::function<void()>& f) {
  try {
    f();
  } catch (const qv::IoError& e) {
    return e.what();
  }
  return "";
}

template <class T>
std::string le(T v) {
  std::string b(sizeof v, '\0');
  std::memcpy(b.data(), &v, sizeof v);  // the test machine is little-endian
  return b;
}
std::string le32(std::int32_t v) { return le(v); }

}  // namespace

TEST_F(FilesTest, RecordFraming) {
  {
    RecordWriter w("r.bin", 22, Mode::Unknown);
    w.begin(0);
    w.end();
    w.begin(20);
    w.put(std::int32_t{-2});
    w.put(1.5);
    w.put(-0.1);
    w.end();
    w.close();
  }
  const std::string got = qvt::read_file("r.bin");
  EXPECT_EQ(got.substr(0, 8), std::string(8, '\0'));
  EXPECT_EQ(got.substr(8), le32(20) + le32(-2) + le(1.5) + le(-0.1) + le32(20));
  EXPECT_EQ(got.size(), 8u + 28u);
}

TEST_F(FilesTest, BlocksAreFirstIndexFastest) {
  qv::Field f;
  f.allocate(4, 4, 4);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j)
      for (int k = 1; k <= 4; ++k) f(i, j, k) = 100 * i + 10 * j + k;
  {
    RecordWriter w("b.bin", 21, Mode::New);
    qv::write_block(w, f, 2, 3, 1, 2, 3, 4);
    w.close();
  }
  std::string want = le32(64);
  for (int k = 3; k <= 4; ++k)
    for (int j = 1; j <= 2; ++j)
      for (int i = 2; i <= 3; ++i) want += le(100.0 * i + 10 * j + k);
  EXPECT_EQ(qvt::read_file("b.bin"), want + le32(64));
  qv::Field g;
  g.allocate(4, 4, 4);
  RecordReader r("b.bin", 14);
  qv::read_block(r, g, 2, 3, 1, 2, 3, 4);
  EXPECT_EQ(g(3, 2, 4), 324.0);
  EXPECT_EQ(g(1, 1, 3), 0.0);
}

TEST_F(FilesTest, RecordReadsTakeFromTheStartAndSkipTheRest) {
  qvt::write_file("r.bin", le32(20) + le32(7) + le(2.5) + le(3.5) + le32(20) + le32(8) + le(-9.0) + le32(8));
  RecordReader r("r.bin", 15);
  r.next();
  EXPECT_EQ(r.get_int(), 7);
  r.next();
  EXPECT_EQ(r.get_real(), -9.0);
  EXPECT_EQ(io_message([&] { r.get_int(); }), "input statement requires too much data, unit 15, file r.bin");
  EXPECT_EQ(io_message([&] { r.next(); }), "end-of-file during read, unit 15, file r.bin");
  qv::Field g;
  g.allocate(2, 2, 2);
  RecordReader b("r.bin", 14);
  EXPECT_EQ(io_message([&] { qv::read_block(b, g, 1, 2, 1, 2, 1, 1); }),
            "input statement requires too much data, unit 14, file r.bin");
}

TEST_F(FilesTest, TruncatedRecordsAreEndOfFile) {
  const std::string full = le32(16) + le(1.0) + le(2.0) + le32(16);
  for (std::size_t cut : {0u, 2u, 11u, 22u}) {
    qvt::write_file("t.bin", full.substr(0, cut));
    RecordReader r("t.bin", 14);
    EXPECT_EQ(io_message([&] { r.next(); }), "end-of-file during read, unit 14, file t.bin") << cut;
  }
}

TEST_F(FilesTest, TextLinesOutAndIn) {
  qvt::write_file("t.txt", "a much longer former content\r\n");
  {
    TextWriter w("t.txt", 19, Mode::Unknown);
    w.line("   ");
    w.line(" a b");
    w.close();
  }
  EXPECT_EQ(qvt::read_file("t.txt"), "   \r\n a b\r\n");
  {
    TextWriter w("t.txt", 20, Mode::Append);
    w.line("c");
  }
  EXPECT_EQ(qvt::read_file("t.txt"), "   \r\n a b\r\nc\r\n");

  qvt::write_file("in.txt", "first\r\nsecond\n\r\n   12  abc");
  TextReader r("in.txt", 10);
  EXPECT_EQ(r.next(), "first");
  EXPECT_EQ(r.next(), "second");
  EXPECT_EQ(r.next(), "");
  const std::string l = r.next();
  EXPECT_EQ(r.I(l, 1, 5), 12);
  EXPECT_EQ(io_message([&] { r.I(l, 6, 5); }), "input conversion error, unit 10, file in.txt");
  EXPECT_EQ(io_message([&] { r.F(l, 6, 5, 2); }), "input conversion error, unit 10, file in.txt");
  EXPECT_EQ(io_message([&] { r.next(); }), "end-of-file during read, unit 10, file in.txt");
}

TEST_F(FilesTest, ValueListsFillLinesAndStartOnANewLine) {
  qvt::write_file("in.txt",
                  "       1.0       2.0       3.0       4.0       5.0\r\n"
                  "       6.0       7.0       8.0       9.0      10.0\r\n"
                  "      11.0      12.0      99.0\r\n"
                  "    1    2    3    4    5    6    7    8    9   10\n"
                  "   11   12\n");
  TextReader r("in.txt", 12);
  double v[12];
  r.reals(12, 5, 10, 5, v);
  for (int n = 0; n < 12; ++n) EXPECT_EQ(v[n], n + 1.0);
  std::int32_t f[12];
  r.ints(12, 10, 5, f);
  for (int n = 0; n < 12; ++n) EXPECT_EQ(f[n], n + 1);
  EXPECT_EQ(io_message([&] { r.ints(1, 10, 5, f); }), "end-of-file during read, unit 12, file in.txt");
}

TEST_F(FilesTest, OpenModeFailures) {
  fs::create_directory("adir");
  qvt::write_file("stat.dat", "keep");
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { TextReader r("axis.dat", 12); }, "file not found, unit 12, file axis.dat"},
      {[] { RecordReader r("field.dat", 14); }, "file not found, unit 14, file field.dat"},
      {[] { TextReader r("nodir/axis.dat", 12); }, "file not found, unit 12, file nodir/axis.dat"},
      {[] { TextWriter w("none.txt", 20, Mode::Append); }, "file not found, unit 20, file none.txt"},
      {[] { TextWriter w("DAT/quivel_vib8.ts", 20, Mode::Unknown); }, "file not found, unit 20, file DAT/quivel_vib8.ts"},
      {[] { RecordWriter w("DAT/final", 22, Mode::Unknown, true); }, "file not found, unit 22, file DAT/final"},
      {[] { RecordWriter w("nodir/s", 23, Mode::New); }, "file not found, unit 23, file nodir/s"},
      {[] { RecordWriter w("stat.dat", 23, Mode::New); }, "cannot overwrite existing file, unit 23, file stat.dat"},
      {[] { TextReader r("adir", 12); }, "open failure, unit 12, file adir"},
      {[] { TextWriter w("adir", 19, Mode::Unknown); }, "open failure, unit 19, file adir"},
      {[] { RecordWriter w("adir", 22, Mode::Unknown, true); }, "open failure, unit 22, file adir"},
  };
  for (const auto& [open, message] : cases) EXPECT_EQ(io_message(open), message);
  EXPECT_EQ(qvt::read_file("stat.dat"), "keep");
  EXPECT_FALSE(fs::exists("none.txt"));
  // mode unknown creates a missing file, which then reads as empty
  EXPECT_EQ(io_message([] { TextReader("change.inf", 18, Mode::Unknown).next(); }),
            "end-of-file during read, unit 18, file change.inf");
  EXPECT_EQ(fs::file_size("change.inf"), 0u);
}

TEST_F(FilesTest, FailedWritesAreReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(io_message([] {
              TextWriter w("/dev/full", 19, Mode::Unknown);
              w.line("x");
              w.close();
            }),
            "error during write, unit 19, file /dev/full");
}

TEST_F(FilesTest, AtomicWriterReplacesTheTargetOnlyOnClose) {
  qvt::write_file("final.dat", "old");
  {
    RecordWriter w("final.dat", 22, Mode::Unknown, true);
    w.begin(0);
    w.end();
    EXPECT_EQ(qvt::read_file("final.dat"), "old");
  }  // abandoned: the old file stays, the partial one goes
  EXPECT_EQ(qvt::read_file("final.dat"), "old");
  EXPECT_FALSE(fs::exists("final.dat.part"));
  {
    RecordWriter w("final.dat", 22, Mode::Unknown, true);
    w.begin(0);
    w.end();
    w.close();
  }
  EXPECT_EQ(qvt::read_file("final.dat"), std::string(8, '\0'));
  EXPECT_FALSE(fs::exists("final.dat.part"));
}

// A new file written aside is put in place only if its name is still free
// when it is complete: one made meanwhile is kept, not overwritten.
TEST_F(FilesTest, AtomicNewFileNeverReplacesOne) {
  {
    RecordWriter w("snap", 21, Mode::New, true);
    w.begin(0);
    w.end();
    qvt::write_file("snap", "made meanwhile");
    std::string err;
    qvt::capture_failure([&] { w.close(); }, &err);
    EXPECT_EQ(err, "cannot overwrite existing file, unit 21, file snap");
  }
  EXPECT_EQ(qvt::read_file("snap"), "made meanwhile");
  EXPECT_FALSE(fs::exists("snap.part"));
}

// Files put in place as one set: when a rename fails (a crash would do the
// same) the journal keeps the rest of the set, and the next start completes
// it, so the pair is all new; without a journal the old files stay.
TEST_F(FilesTest, SetOfFilesIsAllOldOrAllNew) {
  auto stage = [](const std::string& name, std::vector<qv::Staged>& set) {
    RecordWriter w(name, 22, Mode::Unknown, true);
    w.begin(4);
    w.put(std::int32_t{7});
    w.end();
    w.close_staged(set);
  };
  const std::string fresh = std::string("\4\0\0\0\7\0\0\0\4\0\0\0", 12);
  qvt::write_file("a", "old a");
  std::vector<qv::Staged> set;
  stage("a", set);
  stage("b", set);
  fs::create_directories("b/full");  // a rename over a non-empty directory fails
  std::string err;
  qvt::capture_failure([&] { qv::commit_staged(set, "pair.commit"); }, &err);
  EXPECT_EQ(err, "error during write, unit 22, file b");
  EXPECT_TRUE(set.empty()) << "the temporaries belong to the journal now";
  EXPECT_EQ(qvt::read_file("a"), fresh);
  EXPECT_TRUE(fs::exists("b.part"));
  EXPECT_TRUE(fs::exists("pair.commit"));

  // the folder is moved before the next start: the journal still applies
  fs::remove_all("b");
  fs::create_directory("moved");
  for (const char* f : {"a", "b.part", "pair.commit"}) fs::rename(f, std::string("moved/") + f);
  EXPECT_TRUE(qv::complete_commit("moved/pair.commit"));
  EXPECT_EQ(qvt::read_file("moved/b"), fresh);
  EXPECT_FALSE(fs::exists("moved/b.part"));
  EXPECT_FALSE(fs::exists("moved/pair.commit"));
  EXPECT_FALSE(qv::complete_commit("moved/pair.commit"));

  // staged but never committed: the old files stay, the temporaries go
  qvt::write_file("a", "old a");
  stage("a", set);
  EXPECT_FALSE(qv::complete_commit("pair.commit"));
  qv::remove_stale_part("a");
  EXPECT_EQ(qvt::read_file("a"), "old a");
  EXPECT_FALSE(fs::exists("a.part"));
}

// Directory syncs that fail with a real error (EIO) are failed writes of the
// file whose rename they make durable; a file system without directory
// syncs (EINVAL) is not an error.  Each sync of a set is failed in turn.
namespace {
int failing_call = 0;
int sync_calls = 0;
int sync_errno = EIO;
int fake_dir_sync(int) {
  if (++sync_calls != failing_call) return 0;
  errno = sync_errno;
  return -1;
}
}  // namespace

TEST_F(FilesTest, FailedDirectorySyncsAreReported) {
  struct Restore {
    ~Restore() { qv::set_dir_sync(nullptr); }
  } restore;
  qv::set_dir_sync(fake_dir_sync);
  auto stage = [](const std::string& name, std::vector<qv::Staged>& set, int unit) {
    RecordWriter w(name, unit, Mode::Unknown, true);
    w.begin(4);
    w.put(std::int32_t{7});
    w.end();
    w.close_staged(set);
  };
  auto commit = [&](int fail, int err) {
    failing_call = fail, sync_calls = 0, sync_errno = err;
    std::vector<qv::Staged> set;
    stage("a", set, 22);
    stage("b", set, 25);
    return io_message([&] { qv::commit_staged(set, "pair.commit"); });
  };
  // syncs: journal, a, b, journal removed
  const char* expected[] = {"error during write, unit 22, file pair.commit", "error during write, unit 22, file a",
                            "error during write, unit 25, file b", "error during write, unit 22, file pair.commit"};
  for (int call = 1; call <= 4; ++call) {
    EXPECT_EQ(commit(call, EIO), expected[call - 1]) << "sync " << call;
    EXPECT_EQ(sync_calls, 4) << "the renames go on after a failed sync";
    EXPECT_TRUE(fs::exists("a") && fs::exists("b") && !fs::exists("a.part") && !fs::exists("pair.commit"));
    EXPECT_EQ(commit(call, EINVAL), "") << "sync " << call;
  }

  failing_call = 1, sync_calls = 0, sync_errno = EIO;
  RecordWriter w("single", 24, Mode::Unknown, true);
  w.begin(0);
  w.end();
  EXPECT_EQ(io_message([&] { w.close(); }), "error during write, unit 24, file single");

  // a journal left by a crash, completed at the next start
  std::vector<qv::Staged> set;
  stage("a", set, 22);
  qvt::write_file("pair.commit", "quivel_vib8 commit\na.part\ta\n");
  failing_call = 2, sync_calls = 0;
  EXPECT_EQ(io_message([&] { qv::complete_commit("pair.commit"); }), "error during write, unit 0, file pair.commit");
  EXPECT_FALSE(fs::exists("a.part") || fs::exists("pair.commit"));
}
