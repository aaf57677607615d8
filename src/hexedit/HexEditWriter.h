#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "hexedit/HexEditModel.h"
#include "support/FileStream.h"

namespace varlow {

enum class TSaveStatus {
  Saved,        // every changed byte written and flushed
  ReadOnly,     // the stream cannot write; nothing written
  FileShrank,   // a changed byte lies at or past the file's end now; nothing written
  WriteFailed,  // a write failed; the bytes before it stay written
  FlushFailed,  // every byte written, but flushing them to the file failed
  FileChanged,  // a byte to be replaced no longer holds what the editor read; nothing written
  VerifyFailed, // read back after the save, the file's region is not what was meant
};

struct TSaveResult {
  TSaveStatus Status = TSaveStatus::Saved;
  std::int32_t Written = 0;     // changed bytes written
  std::int32_t Total = 0;       // changed bytes to write
  std::int64_t Position = -1;   // the byte that failed or lies past the end
  std::int64_t FileSize = -1;   // the file's size when it was found too short
  std::string Error;            // the system's reason for a failed write or flush

  bool Saved() const { return Status == TSaveStatus::Saved; }
  bool WroteAnything() const { return Written > 0; }
};

// Writes each changed byte into the file at its place, in the order of the list, then flushes
// the file. It never changes the file's length: when the file no longer reaches every changed
// byte (it shrank since the editor read it), nothing is written.
TSaveResult WriteChangedCells(TFileStream& stream, std::int64_t offset, std::span<const TChangedCell> cells);

// Writes the model's changes: a plain range as above; bytes read from scattered file offsets
// (a container's payloads) each at its own offset, guarded on both sides. Before writing, the
// file region from the first to the last changed byte is read and every changed byte must
// still hold what the editor read (else FileChanged, nothing written): a file rewritten since
// would put the edits on other bytes, packet headers among them. After the flush the region
// is read again and must equal the first read with exactly the changed bytes replaced, so
// that the bytes between the payloads are known to be untouched.
TSaveResult WriteChangedCells(TFileStream& stream, const THexEditModel& model);

// The message that tells the user what a failed save did and did not write; empty when saved.
std::string SaveResultText(const TSaveResult& result);

} // namespace varlow
