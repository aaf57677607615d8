#include <cstdio>
#include <string>

#include "Commands.h"
#include "OpenStream.h"
#include "browser/PackIndex.h"
#include "support/MemoryTree.h"

namespace varlow::cli {

namespace {

constexpr std::int32_t kDefaultRows = 40;

void PrintText(const TPackIndex& index) {
  std::puts("Offset\tLen\tStart Code\tCoding Type\tFrame #");
  for (std::int32_t i = 0; i < index.PackCount(); ++i) {
    const TPackRow row = index.ListView1Data(i);
    std::printf("%s\t%s\t%s\t%s\t%s\n", row[0].c_str(), row[1].c_str(), row[2].c_str(), row[3].c_str(),
                row[4].c_str());
  }
}

void PrintJson(const TPackIndex& index) {
  std::string out = "[";
  for (std::int32_t i = 0; i < index.PackCount(); ++i) {
    const TPackRec rec = index.Pack(i);
    const TPackRow row = index.ListView1Data(i);
    if (i > 0) out += ",\n";
    out += "{\"offset\":" + std::to_string(rec.Offset) + ",\"length\":" + std::to_string(rec.Length) +
           ",\"startCode\":" + JsonString(row[2]) + ",\"codingType\":" + JsonString(row[3]) +
           ",\"frame\":" + (row[4].empty() ? std::string("null") : row[4]) + ",\"row\":[";
    for (std::size_t c = 0; c < row.size(); ++c) out += (c ? "," : "") + JsonString(row[c]);
    out += "]}";
  }
  out += "]\n";
  std::fputs(out.c_str(), stdout);
}

} // namespace

// varlow-cli packs FILE [--from OFFSET] [--rows N] [--json]
int RunPacks(const Args& args) {
  const auto files = Positionals(args, {"--from", "--rows"});
  if (files.size() != 1) {
    std::fputs("usage: varlow-cli packs FILE [--from OFFSET] [--rows N] [--json]\n", stderr);
    return 2;
  }
  long long from = 0;
  if (auto text = Option(args, "--from")) {
    auto v = ParseNumber(*text);
    if (!v || *v < 0) {
      std::fprintf(stderr, "varlow-cli: bad offset %s\n", text->c_str());
      return 2;
    }
    from = *v;
  }
  long long rows = kDefaultRows;
  if (auto text = Option(args, "--rows")) {
    auto v = ParseNumber(*text);
    if (!v || *v < 1) {
      std::fprintf(stderr, "varlow-cli: bad row count %s\n", text->c_str());
      return 2;
    }
    rows = std::min<long long>(*v, kMaxPacks);  // the list holds no more than the index window
  }
  auto stream = OpenVideoStream(files[0], args);
  if (!stream) return 1;

  TPackIndex index;
  index.SetStream(std::move(stream));
  index.SetRowsPerPage(static_cast<std::int32_t>(rows));
  index.RefreshPosition(from);
  if (Flag(args, "--json")) PrintJson(index);
  else PrintText(index);
  return 0;
}

} // namespace varlow::cli
