#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace varlow {

enum class TMessageLevel { Information, Warning };

// Every plain message to the user goes through here, so that tests can take the messages
// instead of a modal box waiting for a click. A warning shows the warning icon.
void ShowMessage(QWidget* parent, const QString& text, TMessageLevel level = TMessageLevel::Information);

// Sends every message to `hook` instead of a modal box; an empty function restores the box.
using MessageHook = std::function<void(const QString& text)>;
void SetMessageHook(MessageHook hook);
// The same with the message's level; when set it is called instead of the plain hook.
using LevelledMessageHook = std::function<void(const QString& text, TMessageLevel level)>;
void SetLevelledMessageHook(LevelledMessageHook hook);

}  // namespace varlow
