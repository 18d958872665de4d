#pragma once

class QWidget;

namespace fbx::ui {

// QScintilla's own accessibility support counts the characters from the start
// of the text to the caret at every move of the caret and at every change,
// which takes a quarter of a second at the end of a 50 MB program. A program
// text area is described to assistive tools as a plain editable text instead.
void describeAsPlainText(QWidget* textArea);

}  // namespace fbx::ui
