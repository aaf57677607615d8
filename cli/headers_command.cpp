#include <cstdio>

#include "Commands.h"
#include "OpenStream.h"
#include "browser/PackDetails.h"
#include "support/MemoryTree.h"

namespace varlow::cli {

// varlow-cli headers FILE --offset OFFSET [--json]
int RunHeaders(const Args& args) {
  const auto files = Positionals(args, {"--offset"});
  const auto offsetText = Option(args, "--offset");
  if (files.size() != 1 || !offsetText) {
    std::fputs("usage: varlow-cli headers FILE --offset OFFSET [--json]\n", stderr);
    return 2;
  }
  const auto offset = ParseNumber(*offsetText);
  if (!offset || *offset < 0) {
    std::fprintf(stderr, "varlow-cli: bad offset %s\n", offsetText->c_str());
    return 2;
  }
  auto stream = OpenVideoStream(files[0], args);
  if (!stream) return 1;

  TPackIndex index;
  index.SetStream(std::move(stream));
  TMemoryTree tree;
  TPackDetails details;
  if (!UpdatePack(index, *offset, tree, details)) {
    if (details.Status == TPackStatus::NoPackStarts)
      std::fprintf(stderr, "varlow-cli: no pack starts at offset %lld\n", *offset);
    else
      std::fprintf(stderr, "varlow-cli: nothing to read at offset %lld\n", *offset);
    return 1;
  }
  if (Flag(args, "--json")) std::printf("%s\n", tree.ToJson().c_str());
  else std::fputs(tree.ToText().c_str(), stdout);
  return 0;
}

} // namespace varlow::cli
