#pragma once
#include <QString>
#include <cstdint>

#include "transrate/TransrateFile.h"

class QWidget;

namespace varlow {

class TFileStream;

// Tools > Transrate for the open file: asks for the rate, size or share and the method, then for the
// output file, runs the transrate behind a progress window and says how it went.
void RunTransrateCommand(QWidget* parent, const QString& InputPath, const TFileStream& OpenStream,
                         std::int32_t Stream = -1);

// What the user is told at the end of a run; what it could not keep ends the text.
QString TransrateResultText(const TTransrateResult& Result, const QString& OutputPath, const TTransrateOptions& Options,
                            bool TargetExisted);

}  // namespace varlow
