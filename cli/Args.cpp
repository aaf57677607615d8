#include <cstdlib>
#include <string_view>

#include "Commands.h"

namespace varlow::cli {

TCommandLine SplitVerbose(int argc, char** argv) {
  TCommandLine line;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--verbose")
      line.Verbose = true;
    else
      line.Words.emplace_back(argv[i]);
  }
  return line;
}

std::optional<std::string> Option(const Args& args, const std::string& name) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == name) return args[i + 1];
  return std::nullopt;
}

bool Flag(const Args& args, const std::string& name) {
  for (const auto& a : args)
    if (a == name) return true;
  return false;
}

std::vector<std::string> Positionals(const Args& args, const std::vector<std::string>& optionsWithValue) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) == 0) {
      bool takesValue = args[i] == "--stream";
      for (const auto& o : optionsWithValue) takesValue = takesValue || args[i] == o;
      if (takesValue) ++i;
      continue;
    }
    out.push_back(args[i]);
  }
  return out;
}

std::optional<long long> ParseNumber(const std::string& text) {
  std::string t = text;
  int base = 10;
  if (t.rfind("0x", 0) == 0 || t.rfind("0X", 0) == 0) {
    t = t.substr(2);
    base = 16;
  } else if (t.rfind("$", 0) == 0) {
    t = t.substr(1);
    base = 16;
  }
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, base);
  if (*end != '\0') return std::nullopt;
  return v;
}

} // namespace varlow::cli
