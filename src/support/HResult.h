#pragma once
#include <cstdint>

// Result codes of the readers' SetData and the analyser, transcoder and transrating entry points.
using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

constexpr bool Succeeded(HRESULT r) { return r >= 0; }
