#include "PictureHelper.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace varlow::cli {

namespace {

constexpr const char* kPictureProgram = "varlow-cli-picture";

// Beside this program in a build tree; in the installed layout, under the private program
// directory (given relative to the installed varlow-cli).
std::vector<std::filesystem::path> PictureProgramCandidates() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const std::filesystem::path dir = self.parent_path();
  return {dir / kPictureProgram, dir / VARLOW_CLI_PROGRAM_DIR / kPictureProgram};
}

} // namespace

int RunPictureProgram(const Args& args, bool verbose) {
  for (const std::filesystem::path& candidate : PictureProgramCandidates()) {
    if (::access(candidate.c_str(), X_OK) != 0) continue;
    const std::string program = candidate.string();
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    if (verbose) words.emplace_back("--verbose");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(program.c_str(), argv.data());
    std::fprintf(stderr, "varlow-cli: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
    return 1;
  }
  std::fprintf(stderr, "varlow-cli: %s, which draws pictures, is not installed beside varlow-cli\n", kPictureProgram);
  return 1;
}

} // namespace varlow::cli
