// The record reader on arbitrary bytes: records are read or the defined
// failure is raised; no crash, no runaway allocation.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "io/files.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("qvfuzz-record-" + std::to_string(getpid()))).string();
  {
    std::ofstream o(path, std::ios::binary);
    o.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    qv::RecordReader r(path, 14);
    for (int n = 0; n < 64; ++n) {
      r.next();
      const std::size_t items = r.record_bytes() / 8 + 2;
      for (std::size_t m = 0; m < items && m < 4096; ++m) (n % 2) ? (void)r.get_real() : (void)r.get_int();
    }
  } catch (const qv::IoError&) {
  }
  return 0;
}
