#include "io/locks.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace qv {
namespace {

std::string g_reason;

// The lock table, opened once and kept open (closing any descriptor of it
// would drop the locks); -1 when it cannot be had.  It must be a regular
// file of this user's: one planted by someone else is not trusted.
int table() {
  static int fd = -2;
  if (fd != -2) return fd;
  fd = -1;
  const std::string path = "/tmp/quivel_vib8-" + std::to_string(::getuid()) + ".lock";
  const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (f < 0) {
    g_reason = path + ": " + std::strerror(errno);
    return fd;
  }
  struct stat st;
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    g_reason = path + " is not a file of this user's";
    ::close(f);
    return fd;
  }
  return fd = f;
}

std::string real_path(const std::string& name) {
  char buf[PATH_MAX];
  return ::realpath(name.c_str(), buf) ? std::string(buf) : name;
}

// One byte of the table: taken, held by another, or no lock to be had.
LockState lock_byte(long long offset) {
  const int fd = table();
  if (fd < 0) return LockState::unavailable;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return LockState::taken;
  if (errno == EAGAIN || errno == EACCES) return LockState::held;
  g_reason = std::string("locks on /tmp: ") + std::strerror(errno);
  return LockState::unavailable;
}

}  // namespace

long long lock_offset(unsigned long long dev, unsigned long long ino, const std::string& name,
                      long long born_s, unsigned born_ns) {
  // FNV-1a over the key, then a 64-bit finaliser so that names differing in
  // their last character spread over the whole range
  unsigned long long h = 14695981039346656037ull;
  auto mix = [&h](const void* p, std::size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (std::size_t k = 0; k < n; ++k) h = (h ^ b[k]) * 1099511628211ull;
  };
  mix(&dev, sizeof dev);
  mix(&ino, sizeof ino);
  mix(&born_s, sizeof born_s);
  mix(&born_ns, sizeof born_ns);
  mix(name.data(), name.size());
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return static_cast<long long>(h >> 2);
}

namespace {

std::string dir_part(const std::filesystem::path& p) {
  return p.parent_path().empty() ? "." : p.parent_path().string();
}

// The name a chain of symlinks ends at (the name itself when it is none).
std::string through_links(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path p(name);
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) break;
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : fs::path(dir_part(p)) / to;
  }
  return p.string();
}

// Device, inode and birth time of `path` (following links); a file system
// that keeps no birth time gives 0.  An inode number is reused once its
// file is gone, and a run can outlive the folder it writes in (removed
// under it); the birth time tells the new file or folder from the old one.
struct Identity {
  unsigned long long dev = 0, ino = 0;
  long long born_s = 0;
  unsigned born_ns = 0;
};
bool identity(const std::string& path, Identity& id) {
  struct statx x;
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &x) != 0) return false;
  id.dev = ::makedev(x.stx_dev_major, x.stx_dev_minor);
  id.ino = x.stx_ino;
  if (x.stx_mask & STATX_BTIME) id.born_s = x.stx_btime.tv_sec, id.born_ns = x.stx_btime.tv_nsec;
  return true;
}

// The lock of `base` in the directory `dir`.
OutputLock lock_entry(const std::string& dir, const std::string& base) {
  Identity d;
  if (base.empty() || !identity(dir, d)) return {};
  return {lock_byte(lock_offset(d.dev, d.ino, base, d.born_s, d.born_ns)), real_path(dir) + "/" + base};
}

}  // namespace

OutputLock lock_output(const std::string& name, bool in_place) {
  namespace fs = std::filesystem;
  const fs::path p(name);
  OutputLock r = lock_entry(dir_part(p), p.filename().string());
  if (r.state != LockState::taken || !in_place) return r;
  // written in place: the file the name reaches, by its name and its inode;
  // a device (/dev/null, say) is shared by design and not locked
  struct stat f;
  const bool exists = ::stat(name.c_str(), &f) == 0;
  if (exists && !S_ISREG(f.st_mode)) return r;
  const fs::path to(through_links(name));
  if (to != p) r = lock_entry(dir_part(to), to.filename().string());
  Identity id;
  if (r.state == LockState::taken && exists && identity(name, id))
    r = {lock_byte(lock_offset(id.dev, id.ino, "", id.born_s, id.born_ns)), real_path(name)};
  return r;
}

std::string lock_unavailable_reason() { return g_reason; }

}  // namespace qv
