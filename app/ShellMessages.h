#pragma once

#include <string>

#include "Message.h"
#include "Status.h"

namespace fbx::ui {

// The message boxes of the main window and its dialogs, each built in one
// place: text, title, icon, buttons and whether the beep sounds first. The
// windows hand them to ask() (Prompts.h).

// First run, or a configuration file that cannot be read.
Message welcomeMessage();
// The defaults could not be written to the configuration file at start-up.
Message defaultsNotWrittenMessage(const Status& status);
// A save of the settings failed (settings dialog, path dialog).
Message saveFailedMessage(const Status& status);
// Work > Editor could not start the outside editor.
Message editorNotStartedMessage();
// Settings dialog, Confirm: Yes writes the configuration file.
Message saveOrNotMessage();
// Path dialog, "Sure" with an empty path or a directory.
Message wrongPathMessage();
// Path dialog: a drive or directory that cannot be read; text is the
// system's reason.
Message unreadableDirectoryMessage(const std::string& reason);
// Path dialog, save: the chosen file exists and is not a configuration file.
Message replaceOtherFileMessage(const std::string& path);
// Processing dialog, "O K" with a box whose bracket count cannot make a rule.
Message inputIncompleteMessage();

}  // namespace fbx::ui
