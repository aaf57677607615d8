#include <cstdio>
#include <string>

#include "Commands.h"
#include "OpenStream.h"
#include "check/StreamCheck.h"

namespace varlow::cli {

// varlow-cli check FILE [--json]: 0 when the stream breaks no rule checked, 1 when it breaks
// one (or cannot be read).
int RunCheck(const Args& args) {
  const auto files = Positionals(args, {});
  if (files.size() != 1) {
    std::fputs("usage: varlow-cli check FILE [--json]\n", stderr);
    return 2;
  }
  auto stream = OpenVideoStream(files[0], args);
  if (!stream) return 1;
  const TCheckReport report = CheckStream(*stream);
  const std::string text = Flag(args, "--json") ? CheckReportJson(report) : CheckReportText(report);
  std::fputs(text.c_str(), stdout);
  if (report.ReadFailed) std::fprintf(stderr, "varlow-cli: %s: reading failed\n", files[0].c_str());
  return report.Count > 0 || report.ReadFailed ? 1 : 0;
}

}  // namespace varlow::cli
