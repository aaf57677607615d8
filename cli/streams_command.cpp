#include <cstdio>
#include <string>

#include "Commands.h"
#include "container/ContainerLayout.h"
#include "support/Format.h"
#include "support/MemoryTree.h"

namespace varlow::cli {

namespace {

std::string Hex(std::uint64_t value, int digits) { return "0x" + HexUpper(value, digits); }

std::string IdText(const TContainerStream& s, const TContainerFormat& f) {
  if (f.Kind == TContainerKind::Transport) return Hex(s.Pid, 4);
  return s.StreamId == 0xBD ? Hex(s.StreamId, 2) + "/" + Hex(s.SubStreamId, 2) : Hex(s.StreamId, 2);
}

} // namespace

// varlow-cli streams FILE [--json]
int RunStreams(const Args& args) {
  const auto files = Positionals(args, {});
  if (files.size() != 1) {
    std::fputs("usage: varlow-cli streams FILE [--json]\n", stderr);
    return 2;
  }
  const auto file = TFileStream::Open(files[0], TFileStream::Mode::ReadOnly);
  if (!file) {
    std::fprintf(stderr, "varlow-cli: cannot open %s\n", files[0].c_str());
    return 1;
  }
  const auto format = ProbeContainer(*file);
  const bool json = Flag(args, "--json");
  if (!format) {
    if (json) std::puts("{\"container\":null,\"streams\":[]}");
    else std::printf("%s: not a transport or program stream\n", files[0].c_str());
    return 0;
  }
  TContainerLayout layout;
  layout.Format = *format;
  layout.Streams = ListContainerStreams(*file, *format);
  const bool transport = format->Kind == TContainerKind::Transport;
  if (json) {
    std::string out = "{\"container\":" + JsonString(layout.KindName()) +
                      ",\"packetSize\":" + std::to_string(format->PacketSize) + ",\"streams\":[";
    for (const TContainerStream& s : layout.Streams) {
      if (s.Index > 0) out += ",";
      out += "{\"index\":" + std::to_string(s.Index);
      if (transport) out += ",\"pid\":" + std::to_string(s.Pid) + ",\"program\":" + std::to_string(s.Program);
      out += ",\"streamId\":" + std::to_string(s.StreamId);
      if (!transport && s.StreamId == 0xBD) out += ",\"subStreamId\":" + std::to_string(s.SubStreamId);
      out += ",\"streamType\":" + (s.StreamType < 0 ? std::string("null") : std::to_string(s.StreamType)) +
             ",\"codec\":" + JsonString(s.Codec) + ",\"video\":" + (s.Video ? "true" : "false") +
             ",\"mpegVideo\":" + (s.Mpeg12Video ? "true" : "false") + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
  }
  std::printf("%s\n", layout.KindName().c_str());
  std::printf("Index\t%s\tProgram\tType\tCodec\n", transport ? "PID" : "Stream ID");
  for (const TContainerStream& s : layout.Streams) {
    std::printf("%d\t%s\t%s\t%s\t%s\n", s.Index, IdText(s, *format).c_str(),
                transport ? std::to_string(s.Program).c_str() : "-",
                s.StreamType < 0 ? "-" : Hex(static_cast<std::uint64_t>(s.StreamType), 2).c_str(), s.Codec.c_str());
  }
  return 0;
}

} // namespace varlow::cli
