#pragma once

#include <string>

namespace fbx {

// A message box as the system asks it: fixed text, title, icon and buttons,
// and whether the system beep sounds first. Core code describes the box;
// the window program shows it through one seam, the command line prints it,
// and tests answer it.
enum class Icon { None, Stop, Question, Exclamation, Information };
enum class Buttons { Ok, OkCancel, YesNo, SaveDiscardCancel };
enum class Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7, Save = 8, Discard = 9 };

struct Message {
    std::string text;
    std::string title;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    bool beep = false;
    std::string detail;  // extra text for the operator (device path, reason)
};

inline bool needsAnswer(const Message& m) { return m.buttons != Buttons::Ok; }

}  // namespace fbx
