#include "support/running.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "io/files.hpp"
#include "support/case.hpp"

namespace fs = std::filesystem;

namespace qvt {

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

Running::Running(const std::string& dir, const std::string& console, long long file_size_limit) : dir_(dir) {
  write_file(dir + "/console.in", console);
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    const int in = open("console.in", O_RDONLY);
    const int err = open("console.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(fds[1], 1);
    dup2(err, 2);
    close(fds[0]);
    close(fds[1]);
    if (file_size_limit >= 0) {
      const rlimit r{static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
      if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(122);
    }
    execl(QV_PROGRAM, QV_PROGRAM, static_cast<char*>(nullptr));
    _exit(121);
  }
  close(fds[1]);
  fd_ = fds[0];
}

Running::~Running() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (fd_ >= 0) close(fd_);
}

bool Running::wait_for(const std::string& what, int times, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (count(out, what) < times) {
    if (std::chrono::steady_clock::now() > until || !pump(200)) return count(out, what) >= times;
  }
  return true;
}

bool Running::wait_for_err(const std::string& what, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (read_file(dir_ + "/console.err").find(what) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    if (fd_ >= 0)
      pump(50);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

int Running::finish() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  int status = 0;
  for (;;) {
    if (fd_ >= 0) {
      if (!pump(1000)) break;  // the output ended
    } else {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (std::chrono::steady_clock::now() > until) kill(pid_, SIGKILL);
  }
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

void Running::close_output() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool Running::pump(int ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return true;
  char buf[4096];
  const ssize_t n = read(fd_, buf, sizeof buf);
  if (n <= 0) return false;
  out.append(buf, static_cast<std::size_t>(n));
  return true;
}

int last_step(const std::string& out) {
  const std::size_t p = out.rfind(" nn = ");
  return p == std::string::npos ? 0 : std::stoi(out.substr(p + 6, 14));
}

bool no_temporaries(const std::string& dir) {
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().extension() == ".part") return false;
  return true;
}

double Rec::real(std::size_t rec, std::size_t n) const {
  double v;
  std::memcpy(&v, r.at(rec).data() + 8 * n, 8);
  return v;
}

std::int32_t Rec::int32(std::size_t rec, std::size_t byte) const {
  std::int32_t v;
  std::memcpy(&v, r.at(rec).data() + byte, 4);
  return v;
}

Rec records(const std::string& path) {
  Rec out;
  qv::RecordReader rd(path, 99);
  for (;;) {
    try {
      rd.next();
    } catch (const qv::IoError&) {
      break;
    }
    std::string data;
    for (std::size_t n = 0; n < rd.record_bytes() / 4; ++n) {
      const std::int32_t v = rd.get_int();
      data.append(reinterpret_cast<const char*>(&v), 4);
    }
    out.r.push_back(data);
  }
  return out;
}

}  // namespace qvt
