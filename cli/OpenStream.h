#pragma once
#include <memory>
#include <string>

#include "Commands.h"
#include "container/ByteSource.h"

namespace varlow::cli {

// Opens FILE for reading as the window's File > Open does: a transport or program stream as
// its video stream (--stream N picks one of those `streams` lists), any other file as a video
// elementary stream. A file that cannot be opened or is refused gets a message on standard
// error (null is returned).
std::unique_ptr<TByteSource> OpenVideoStream(const std::string& path, const Args& args);

// The stream --stream asks for (kFirstVideoStream without it); false with a message when its
// value is not a number.
bool StreamChoice(const Args& args, std::int32_t& stream);

} // namespace varlow::cli
