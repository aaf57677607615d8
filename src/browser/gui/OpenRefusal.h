#pragma once
#include <QString>

namespace varlow {

// What stands against browsing `path`, in the words the user is shown and naming the file:
// it does not exist, is a folder, is empty or cannot be read. Empty when none of these holds
// and the file's bytes decide.
QString PathProblem(const QString& path);

// The message for a file that was read but refused. `refusal` is the opener's own reason;
// empty (or the opener's plain "not valid" text) means the bytes are no MPEG video.
QString RefusalMessage(const QString& path, const QString& refusal);

// The message for a file that exists but could not be opened.
QString CannotReadMessage(const QString& path);

}  // namespace varlow
