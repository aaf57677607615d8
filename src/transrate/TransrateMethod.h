#pragma once
#include <optional>
#include <string_view>

namespace varlow {

// How the transrater brings pictures under the rate: re-quantising the coded blocks with a
// coarser quantiser, or cutting the last run/level codes of each block.
enum class TTransrateMethod { Requant, Cut };

// The method's name as the command line and the dialog spell it ("requant", "cut").
constexpr std::string_view TransrateMethodName(TTransrateMethod Method) {
  return Method == TTransrateMethod::Cut ? "cut" : "requant";
}

// The method named `Name`; nullopt for any other text.
constexpr std::optional<TTransrateMethod> ParseTransrateMethod(std::string_view Name) {
  if (Name == "requant") return TTransrateMethod::Requant;
  if (Name == "cut") return TTransrateMethod::Cut;
  return std::nullopt;
}

}  // namespace varlow
