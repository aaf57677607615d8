#pragma once
#include <QString>
#include <cstdint>

#include "transrate/TransrateFile.h"

class QWidget;

namespace varlow {

class TFileStream;

// Tools > Transrate for the open file: asks for the bit rate and the method, then for the
// output file, runs the transrate behind a progress window and says how it went.
void RunTransrateCommand(QWidget* parent, const QString& InputPath, const TFileStream& OpenStream,
                         std::int32_t Stream = -1);

// What the user is told at the end of a run.
QString TransrateResultText(const TTransrateResult& Result, const QString& OutputPath, std::int32_t Bitrate,
                            bool TargetExisted);

}  // namespace varlow
