// The output locks: a lock that a run holds on a file removed under it
// must not stand for the next file that happens to get the same inode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "io/locks.hpp"
#include "support/case.hpp"

namespace {

ino_t inode(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

TEST(OutputLockTable, AFileWithAReusedInodeIsNotAnotherRunsFile) {
  namespace fs = std::filesystem;
  const std::string dir = qvt::temp_dir("locks");
  qvt::CaseSetup c;
  c.nt = 2;
  qvt::write_case(dir, c);
  // this process stands for a run that goes on writing a file in place
  // after the file was removed under it: it holds the file's inode lock
  const std::string gone = dir + "/gone.out";
  qvt::write_file(gone, "x");
  const ino_t n = inode(gone);
  ASSERT_EQ(qv::lock_output(gone, true).state, qv::LockState::taken);
  fs::remove(gone);
  // file systems hand a freed inode to the next file made near it: make
  // the run's change report until it has that inode
  const std::string report = dir + "/change.out";
  bool reused = false;
  for (int attempt = 0; attempt < 200 && !reused; ++attempt) {
    qvt::write_file(report, "");
    reused = inode(report) == n;
    if (!reused) fs::rename(report, dir + "/spare" + std::to_string(attempt));
  }
  if (!reused) {
    std::printf("this file system did not hand out inode %lu again; nothing to compare\n",
                static_cast<unsigned long>(n));
    return;
  }
  // a new file, not the one the lock holder writes: the run goes ahead
  EXPECT_EQ(qvt::run_program(dir, "1.0\n"), 0) << qvt::read_file(dir + "/console.err");
}
