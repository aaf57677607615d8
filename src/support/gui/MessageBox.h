#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace varlow {

// Every plain message to the user goes through here, so that tests can take the messages
// instead of a modal box waiting for a click.
void ShowMessage(QWidget* parent, const QString& text);

// Sends every message to `hook` instead of a modal box; an empty function restores the box.
using MessageHook = std::function<void(const QString& text)>;
void SetMessageHook(MessageHook hook);

}  // namespace varlow
