#include "container/OpenSource.h"

#include <algorithm>

#include "browser/PackIndex.h"
#include "container/ContainerLayout.h"
#include "support/Trap.h"

namespace varlow {

namespace {

std::string ListOfCodecs(const std::vector<TContainerStream>& streams) {
  std::string list;
  for (const TContainerStream& s : streams) {
    if (list.find(s.Codec) != std::string::npos) continue;
    list += (list.empty() ? "" : ", ") + s.Codec;
  }
  return list.empty() ? "no streams that could be found" : list;
}

} // namespace

TOpenedSource OpenVideoSource(const std::string& path, TFileStream::Mode mode, std::int32_t stream) {
  auto file = TFileStream::Open(path, mode);
  if (!file) {
    TOpenedSource refused;
    refused.CannotOpen = true;
    refused.Refusal = "cannot open " + path;
    return refused;
  }
  return OpenVideoSource(std::move(file), stream);
}

TOpenedSource OpenVideoSource(std::unique_ptr<TFileStream> file, std::int32_t stream) {
  TOpenedSource result;
  const bool ran = Trap("OpenVideoSource", [&] {
    const std::optional<TContainerFormat> format = ProbeContainer(*file);
    if (!format) {
      if (stream != kFirstVideoStream) {
        result.Refusal = "--stream is for transport and program streams; this file is neither";
        return;
      }
      if (!IsPS(*file)) {
        result.Refusal = "Not valid MPEG-2 video elementary stream";
        return;
      }
      result.Source = std::make_unique<TByteSource>(std::move(file));
      return;
    }
    auto layout = std::make_shared<TContainerLayout>();
    layout->Format = *format;
    layout->Streams = ListContainerStreams(*file, *format);
    const auto& streams = layout->Streams;
    if (stream == kFirstVideoStream) {
      const auto it = std::find_if(streams.begin(), streams.end(), [](const TContainerStream& s) { return s.Mpeg12Video; });
      if (it == streams.end()) {
        result.Refusal = "No MPEG-1/2 video stream in this " + layout->KindName() + ": it holds " + ListOfCodecs(streams);
        return;
      }
      layout->Chosen = it->Index;
    } else {
      if (stream < 0 || stream >= static_cast<std::int32_t>(streams.size())) {
        result.Refusal = "No stream " + std::to_string(stream) + ": this " + layout->KindName() + " lists " +
                         std::to_string(streams.size()) + " (varlow-cli streams lists them)";
        return;
      }
      const TContainerStream& s = streams[static_cast<std::size_t>(stream)];
      if (!s.Mpeg12Video) {
        result.Refusal = "Stream " + std::to_string(stream) + " is not MPEG-1/2 video: it is " + s.Codec;
        return;
      }
      layout->Chosen = stream;
    }
    result.Source = std::make_unique<TByteSource>(std::move(file), std::move(layout));
  });
  if (!ran) {
    result.Source.reset();
    result.Refusal = "Not valid MPEG-2 video elementary stream";
  }
  return result;
}

} // namespace varlow
