#pragma once
#include <memory>
#include <string>

#include "support/FileStream.h"

namespace varlow::cli {

// Opens FILE for reading as the window's File > Open does: a file that cannot be opened, or whose
// first 2,048 bytes hold no picture, group or sequence header start code, is refused with a
// message on standard error (null is returned).
std::unique_ptr<TFileStream> OpenVideoStream(const std::string& path);

} // namespace varlow::cli
