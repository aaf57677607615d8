#include "support/OutputNames.h"

#include <filesystem>

namespace varlow {

std::string ProposedOutputName(std::string_view streamPath, std::string_view what, std::string_view extension) {
  const std::filesystem::path stream(streamPath);
  std::string ext(extension);
  if (ext.empty()) ext = stream.has_extension() ? stream.extension().string().substr(1) : "m2v";
  if (!stream.has_filename()) return std::string(what) + "." + ext;
  const std::string name = stream.stem().string() + "-" + std::string(what) + "." + ext;
  return (stream.parent_path() / name).string();
}

}  // namespace varlow
