#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <string>

// Runs varlow-cli with a command line, standard error folded into standard output.
namespace varlow::test {

struct CliRun {
  int status = -1;
  std::string out;
};

inline CliRun Cli(const std::string& args) {
  CliRun r;
  FILE* pipe = ::popen((std::string(VARLOW_CLI_PATH) + " " + args + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

} // namespace varlow::test
