#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "container/ByteSource.h"

namespace varlow {

inline constexpr std::int32_t kFirstVideoStream = -1;

struct TOpenedSource {
  std::unique_ptr<TByteSource> Source;  // null when the file was refused
  std::string Refusal;                  // why, in the words the user is shown
  bool CannotOpen = false;              // the file itself could not be opened
};

// Opens `path` as Varlow reads it: a transport or program stream as the video stream inside it
// (`stream`: an index of the container's stream list, or the first MPEG-1/2 video stream), any
// other file as a video elementary stream, refused when its first 2,048 bytes hold no picture,
// group or sequence header start code ("Not valid MPEG-2 video elementary stream").
TOpenedSource OpenVideoSource(const std::string& path, TFileStream::Mode mode, std::int32_t stream = kFirstVideoStream);

// The same for a file already open.
TOpenedSource OpenVideoSource(std::unique_ptr<TFileStream> file, std::int32_t stream = kFirstVideoStream);

} // namespace varlow
