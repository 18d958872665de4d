#include "ShellMessages.h"

#include "ProTool.h"

namespace fbx::ui {

namespace {

constexpr const char* kProgramName = "ferobrixlan";

Message box(std::string text, std::string title, Icon icon, Buttons buttons = Buttons::Ok,
            bool beep = false) {
    Message m;
    m.text = std::move(text);
    m.title = std::move(title);
    m.icon = icon;
    m.buttons = buttons;
    m.beep = beep;
    return m;
}

}  // namespace

Message welcomeMessage() {
    return box(kWelcomeText, kWelcomeTitle, Icon::Question, Buttons::Ok, true);
}

Message defaultsNotWrittenMessage(const Status& status) {
    return box("The default settings could not be written to the configuration file:\n" +
                   status.message() + "\n\nThey hold in memory until the program ends.",
               "Save", Icon::Exclamation);
}

Message saveFailedMessage(const Status& status) {
    return box("The settings could not be saved:\n" + status.message(), "Save", Icon::Exclamation);
}

Message editorNotStartedMessage() {
    // The three lines of the box, each keeping its trailing blank.
    return box(
        "Sorry during the edit path can't open ,\n"
        "Please select the path of [Select]==> [Edit] \n"
        "the setting then can be use . ",
        "Select Edit path", Icon::Question, Buttons::Ok, true);
}

Message saveOrNotMessage() {
    return box("Save or not", "Save", Icon::Question, Buttons::YesNo);
}

Message wrongPathMessage() {
    return box("Select wrong path\nPlsre-select", "Error", Icon::Question, Buttons::Ok, true);
}

Message unreadableDirectoryMessage(const std::string& reason) {
    return box(reason, kProgramName, Icon::None, Buttons::Ok, true);
}

Message replaceOtherFileMessage(const std::string& path) {
    return box(path + "\nis not a configuration file.\nReplace it with the settings?", "Save",
               Icon::Exclamation, Buttons::YesNo);
}

Message inputIncompleteMessage() {
    return box("Input imcomplete,try again ", "error", Icon::Stop, Buttons::Ok, true);
}

}  // namespace fbx::ui
