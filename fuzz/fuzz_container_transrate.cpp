// Transrates arbitrary bytes as a file, the way `varlow-cli transrate` does: transport and program
// streams go through the container writers. Nothing may crash, hang or touch memory it was not
// given, and a run that did not succeed leaves no file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/Log.h"
#include "transrate/TransrateFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    varlow::SetLogSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;
  if (size < 1) return 0;
  static const std::string in = "/tmp/varlow-fuzz-in-" + std::to_string(::getpid());
  static const std::string out = "/tmp/varlow-fuzz-out-" + std::to_string(::getpid());
  // The last byte picks the rate, the method, whether the multiplex keeps its places and whether
  // the output is aimed at a share of the input's size instead (which refuses the kept places).
  varlow::TTransrateOptions options;
  options.Bitrate = 1'500'000 + (data[size - 1] & 0x07) * 2'000'000;
  options.Method = (data[size - 1] & 0x08) != 0 ? varlow::TTransrateMethod::Cut : varlow::TTransrateMethod::Requant;
  options.KeepMuxRate = (data[size - 1] & 0x10) != 0;
  if ((data[size - 1] & 0x20) != 0) options.Ratio = (data[size - 1] & 0x40) != 0 ? 0.05 : 0.5;
  --size;
  if (FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const varlow::TTransrateResult result = varlow::TransrateFile(in, out, options);
  if (!result.Succeeded() && ::access(out.c_str(), F_OK) == 0) __builtin_trap();
  std::remove(out.c_str());
  std::remove(in.c_str());
  return 0;
}
