#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "PictureHelper.h"
#include "support/Log.h"
#include "support/VersionInfo.h"

namespace {

constexpr const char* kUsage =
    "usage: varlow-cli COMMAND FILE... [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  varlow-cli packs FILE [--from OFFSET] [--rows N] [--json]\n"
    "      the packs of the index window that starts at OFFSET (default 0, at most 256 rows)\n"
    "  varlow-cli headers FILE --offset OFFSET [--json]\n"
    "      the header tree of the pack at OFFSET\n"
    "  varlow-cli slice FILE --offset OFFSET --slice K|all [--json]\n"
    "      the bit-level tree of slice K (or of every slice) of the picture at OFFSET\n"
    "  varlow-cli transrate IN OUT [--bitrate N | --size SIZE | --ratio F] [--method requant|cut]\n"
    "                     [--stream N] [--keep-mux-rate] [--threads N]\n"
    "      brings IN's video under N bit/s (100000 to 50000000, default 5000000) into OUT, or makes OUT\n"
    "      at most SIZE bytes (suffixes k, M, G, KiB, MiB, GiB) or about F times IN (0 < F <= 1); a\n"
    "      container comes out as the same container with its other streams unchanged (--keep-mux-rate:\n"
    "      every other packet keeps its place, null packets fill what the video freed); groups of\n"
    "      pictures are processed on N threads (default: the machine's cores), with the same output\n"
    "  varlow-cli stats FILE [--json]\n"
    "      statistics of the whole stream\n"
    "  varlow-cli check FILE [--json]\n"
    "      the rules the stream breaks (header values, marker bits, VBV underflow and overflow),\n"
    "      each with its offset and bit position; exit status 1 when there is any\n"
    "  varlow-cli pictures FILE [--csv]\n"
    "      one line per picture\n"
    "  varlow-cli picture FILE --offset OFFSET --png OUT [--overlay types,quant,mv,slices]\n"
    "                     [--field frame|top|bottom]\n"
    "      the decoded picture at OFFSET as PNG, with the analyser's findings drawn on it\n"
    "  varlow-cli streams FILE [--json]\n"
    "      the streams of a transport or program stream\n"
    "\n"
    "FILE may be a video elementary stream, a transport stream (.ts, .m2ts) or a program stream\n"
    "(.mpg, .vob, MPEG-1 system streams); in a container every command reads its\n"
    "first MPEG-1/2 video stream, or the one --stream N picks (N as `streams` lists it), and\n"
    "OFFSET is the file offset of a start code's first byte.\n"
    "OFFSET may be decimal or hexadecimal (0x1A2B or $1A2B).\n"
    "\n"
    "options:\n"
    "  --verbose    also print the diagnostic trace lines (errors are always printed)\n"
    "  --help, -h   print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "exit status: 0 success, 1 failure, 2 bad command line\n";

void PrintUsage(FILE* to) { std::fputs(kUsage, to); }

// The version line as the About box shows it, read back from this program's own version block;
// the numbers it was built with when the block cannot be read.
std::string VersionLineOfThisProgram() {
  try {
    return varlow::TVersionInfo(varlow::ExecutablePath()).VersionText();
  } catch (const std::exception&) {
    return varlow::VersionLine(VARLOW_VERSION_MAJOR, VARLOW_VERSION_MINOR, VARLOW_VERSION_PATCH, VARLOW_VERSION_TWEAK);
  }
}

bool IsHelp(const std::string& a) { return a == "--help" || a == "-h"; }

// The options each command knows: those that take a value, and flags.
struct TCommandOptions {
  const char* Command;
  std::vector<std::string> WithValue;
  std::vector<std::string> Flags;
};
const std::vector<TCommandOptions>& CommandOptions() {
  static const std::vector<TCommandOptions> options = {
      {"packs", {"--from", "--rows", "--stream"}, {"--json"}},
      {"headers", {"--offset", "--stream"}, {"--json"}},
      {"slice", {"--offset", "--slice", "--stream"}, {"--json"}},
      {"transrate", {"--bitrate", "--method", "--stream", "--size", "--ratio", "--threads"}, {"--keep-mux-rate"}},
      {"picture", {"--offset", "--png", "--overlay", "--field", "--stream"}, {}},
      {"stats", {"--stream"}, {"--json"}},
      {"check", {"--stream"}, {"--json"}},
      {"pictures", {"--stream"}, {"--csv"}},
      {"streams", {}, {"--json"}},
  };
  return options;
}

// A misspelt option must not be ignored (a user would trust output made without it): every
// word that starts with "--" must be one of the command's options, and an option that takes a
// value must have one.
bool OptionsKnown(const std::string& command, const varlow::cli::Args& args) {
  const auto has = [](const std::vector<std::string>& list, const std::string& word) {
    return std::find(list.begin(), list.end(), word) != list.end();
  };
  for (const TCommandOptions& known : CommandOptions()) {
    if (command != known.Command) continue;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i].rfind("--", 0) != 0) continue;
      if (has(known.WithValue, args[i])) {
        if (i + 1 >= args.size()) {
          std::fprintf(stderr, "varlow-cli: option '%s' needs a value\n", args[i].c_str());
          return false;
        }
        ++i;
      } else if (!has(known.Flags, args[i])) {
        std::fprintf(stderr, "varlow-cli: unknown option '%s' for %s\n", args[i].c_str(), known.Command);
        return false;
      }
    }
  }
  return true;
}

int Dispatch(const std::string& command, const varlow::cli::Args& args, bool verbose) {
  if (!OptionsKnown(command, args)) {
    PrintUsage(stderr);
    return 2;
  }
  if (command == "packs") return varlow::cli::RunPacks(args);
  if (command == "headers") return varlow::cli::RunHeaders(args);
  if (command == "slice") return varlow::cli::RunSlice(args);
  if (command == "transrate") return varlow::cli::RunTransrate(args);
  if (command == "picture") return varlow::cli::RunPictureProgram(args, verbose);
  if (command == "stats") return varlow::cli::RunStats(args);
  if (command == "check") return varlow::cli::RunCheck(args);
  if (command == "pictures") return varlow::cli::RunPictures(args);
  if (command == "streams") return varlow::cli::RunStreams(args);
  if (!command.empty() && command[0] == '-')
    std::fprintf(stderr, "varlow-cli: unknown option '%s'\n", command.c_str());
  else
    std::fprintf(stderr, "varlow-cli: unknown command '%s'\n", command.c_str());
  PrintUsage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  const auto [words, verbose] = varlow::cli::SplitVerbose(argc, argv);
  varlow::SetDebugChannelEnabled(verbose);

  int rc = 2;
  if (words.empty()) {
    PrintUsage(stderr);
  } else if (words[0] == "--version") {
    std::printf("varlow-cli %s\n", VersionLineOfThisProgram().c_str());
    rc = 0;
  } else if (IsHelp(words[0]) || words[0] == "help") {
    PrintUsage(stdout);
    rc = 0;
  } else {
    varlow::cli::Args args(words.begin() + 1, words.end());
    bool help = false;
    for (const auto& a : args) help = help || IsHelp(a);
    if (help) {
      PrintUsage(stdout);
      rc = 0;
    } else {
      rc = Dispatch(words[0], args, verbose);
    }
  }
  varlow::ClearLogPrefix();
  return rc;
}
