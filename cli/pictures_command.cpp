#include <cstdio>
#include <string>

#include "Commands.h"
#include "overview/OverviewRecords.h"
#include "overview/PictureTable.h"

namespace varlow::cli {

// varlow-cli pictures FILE [--csv]
int RunPictures(const Args& args) {
  const auto files = Positionals(args, {});
  if (files.size() != 1) {
    std::fputs("usage: varlow-cli pictures FILE [--csv]\n", stderr);
    return 2;
  }
  TOverviewData data;
  const bool read = ScanWholeFile(files[0], args, data);
  if (!read && data.Report.BytesScanned == 0) return 1;
  WritePictureLines(data, Flag(args, "--csv"),
                    [](std::string_view line) { std::fwrite(line.data(), 1, line.size(), stdout); });
  return read ? 0 : 1;
}

} // namespace varlow::cli
