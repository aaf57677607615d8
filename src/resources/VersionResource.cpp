// The executable's version block, filled from the project version, in a section of its own so
// that the About box and anything else can read it back from the file.
#include "support/VersionBlock.h"

namespace {

constexpr varlow::TStaticBytes kBlock =
    varlow::MakeVersionBlock(VARLOW_VERSION_MAJOR, VARLOW_VERSION_MINOR, VARLOW_VERSION_PATCH, VARLOW_VERSION_TWEAK);

[[gnu::used, gnu::section(".varlow.version")]] const std::array<std::uint8_t, kBlock.size()> kVersionBlock =
    varlow::TrimBlock<kBlock.size()>(kBlock);

}  // namespace
