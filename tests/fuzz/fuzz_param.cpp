// The parameter reader on arbitrary files: it reads them or stops with one
// of the defined failures, and never crashes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "control/run.hpp"
#include "io/files.hpp"

namespace {
struct Setup {
  Setup() {
    const auto dir = std::filesystem::temp_directory_path() / ("qvfuzz-param-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::ofstream("quivel_vib8.fil") << "   10    0    2\r\nsnap1\r\nsnap2\r\n";
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  {
    std::ofstream o("quivel_vib8.inf", std::ios::binary);
    o.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  qv::Store s;
  qv::RunFiles f;
  try {
    qv::rdparm(s, f);
    qv::check_limits(s, f);
  } catch (const qv::IoError&) {
  } catch (const qv::RunStop&) {
  }
  return 0;
}
