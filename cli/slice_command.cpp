#include <cstdio>

#include "Commands.h"
#include "OpenStream.h"
#include "browser/SliceRequest.h"
#include "support/MemoryTree.h"

namespace varlow::cli {

// varlow-cli slice FILE --offset OFFSET --slice K|all [--json]
int RunSlice(const Args& args) {
  const auto files = Positionals(args, {"--offset", "--slice"});
  const auto offsetText = Option(args, "--offset");
  const auto sliceText = Option(args, "--slice");
  if (files.size() != 1 || !offsetText || !sliceText) {
    std::fputs("usage: varlow-cli slice FILE --offset OFFSET --slice K|all [--json]\n", stderr);
    return 2;
  }
  const auto offset = ParseNumber(*offsetText);
  if (!offset || *offset < 0) {
    std::fprintf(stderr, "varlow-cli: bad offset %s\n", offsetText->c_str());
    return 2;
  }
  // "all": the analyser's negative index, every slice of the picture.
  long long slice = -1;
  if (*sliceText != "all") {
    const auto k = ParseNumber(*sliceText);
    if (!k || *k < 0 || *k > 0x7FFFFFFF) {
      std::fprintf(stderr, "varlow-cli: bad slice %s\n", sliceText->c_str());
      return 2;
    }
    slice = *k;
  }
  auto stream = OpenVideoStream(files[0], args);
  if (!stream) return 1;

  TPackIndex index;
  index.SetStream(std::move(stream));
  TMemoryTree tree;
  const TSliceRequestResult result = UpdataSliceDetails(index, *offset, static_cast<std::int32_t>(slice), tree, nullptr);
  if (result == TSliceRequestResult::NoPackStarts) {
    std::fprintf(stderr, "varlow-cli: no pack starts at offset %lld\n", *offset);
    return 1;
  }
  if (tree.Size() == 0) {
    std::fprintf(stderr, "varlow-cli: no slice %s at offset %lld\n", sliceText->c_str(), *offset);
    return 1;
  }
  if (Flag(args, "--json")) std::printf("%s\n", tree.ToJson().c_str());
  else std::fputs(tree.ToText().c_str(), stdout);
  return 0;
}

} // namespace varlow::cli
