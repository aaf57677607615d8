#pragma once
#include <cstdint>
#include <vector>

// A demultiplexer written for the tests alone, in plain byte arithmetic and apart from the
// project's readers: the video payload of a clean transport or program stream as ffmpeg writes
// them, and the file offset of every payload byte.
namespace varlow::test {

struct TDemuxed {
  std::vector<std::uint8_t> Video;
  std::vector<std::int64_t> Offsets;  // file offset of each byte of Video
  void Take(const std::vector<std::uint8_t>& file, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      Video.push_back(file[i]);
      Offsets.push_back(static_cast<std::int64_t>(i));
    }
  }
};

// Transport stream with `packet` bytes a packet and the sync byte at `sync` in each: the payload
// of the first PID whose first PES has a video stream_id.
inline TDemuxed DemuxTransport(const std::vector<std::uint8_t>& file, std::size_t packet, std::size_t sync) {
  TDemuxed out;
  int videoPid = -1;
  for (std::size_t at = 0; at + packet <= file.size(); at += packet) {
    const std::size_t p = at + sync;
    if (file[p] != 0x47) continue;
    const int pid = (file[p + 1] & 0x1F) << 8 | file[p + 2];
    const bool start = (file[p + 1] & 0x40) != 0;
    const int control = file[p + 3] >> 4 & 3;
    std::size_t payload = p + 4;
    if (control & 2) payload += 1 + file[p + 4];
    if (!(control & 1) || payload >= p + 188) continue;
    if (videoPid < 0 && start && file[payload] == 0 && file[payload + 1] == 0 && file[payload + 2] == 1 &&
        (file[payload + 3] & 0xF0) == 0xE0)
      videoPid = pid;
    if (pid != videoPid) continue;
    if (start) payload += 9 + file[payload + 8];
    out.Take(file, payload, p + 188);
  }
  return out;
}

// Program stream (MPEG-2 or MPEG-1 packs): the payload of stream 0xE0.
inline TDemuxed DemuxProgram(const std::vector<std::uint8_t>& file) {
  TDemuxed out;
  std::size_t at = 0;
  while (at + 6 <= file.size()) {
    if (file[at] != 0 || file[at + 1] != 0 || file[at + 2] != 1) break;
    const std::uint8_t id = file[at + 3];
    if (id == 0xB9) {
      at += 4;
      continue;
    }
    if (id == 0xBA) {
      at += (file[at + 4] & 0xC0) == 0x40 ? 14 + (file[at + 13] & 7) : 12;
      continue;
    }
    const std::size_t end = at + 6 + (std::size_t{file[at + 4]} << 8 | file[at + 5]);
    if (id == 0xE0) {
      std::size_t p = at + 6;
      if ((file[p] & 0xC0) == 0x80) {
        p += 3 + file[p + 2];
      } else {
        while (file[p] == 0xFF) ++p;
        if ((file[p] & 0xC0) == 0x40) p += 2;
        if ((file[p] & 0xF0) == 0x20) p += 5;
        else if ((file[p] & 0xF0) == 0x30) p += 10;
        else ++p;  // 0x0F
      }
      out.Take(file, p, std::min(end, file.size()));
    }
    at = end;
  }
  return out;
}

} // namespace varlow::test
