#pragma once
#include <optional>
#include <string>
#include <vector>

namespace varlow {
struct TOverviewData;
}

namespace varlow::cli {

// The arguments after the command name.
using Args = std::vector<std::string>;

// The words of a command line without --verbose, which may stand anywhere (the commands never
// see it), and whether it was there.
struct TCommandLine {
  std::vector<std::string> Words;
  bool Verbose = false;
};
TCommandLine SplitVerbose(int argc, char** argv);

// Value of "--name VALUE" in args, if present.
std::optional<std::string> Option(const Args& args, const std::string& name);
// Whether the flag "--name" is present.
bool Flag(const Args& args, const std::string& name);
// The positional arguments (those not starting with "--" and not an option's value; --stream
// always takes one).
std::vector<std::string> Positionals(const Args& args, const std::vector<std::string>& optionsWithValue);
// Parses a decimal or 0x/$-prefixed hexadecimal 64-bit number; nullopt when it is not one.
std::optional<long long> ParseNumber(const std::string& text);

int RunPacks(const Args& args);
int RunHeaders(const Args& args);
int RunSlice(const Args& args);
int RunTransrate(const Args& args);
int RunPicture(const Args& args);
int RunStats(const Args& args);
int RunCheck(const Args& args);
int RunPictures(const Args& args);
int RunStreams(const Args& args);
// Scans the whole of FILE into `data` with a progress line on a terminal; false (with a message
// on standard error) when it cannot be opened, is refused or could not be read to its end.
bool ScanWholeFile(const std::string& path, const Args& args, TOverviewData& data);

} // namespace varlow::cli
