#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

class QKeyEvent;
class QWidget;

namespace fbx::ui {

// What the window program keeps of the desktop from one run to the next: the
// folder programs were last chosen in, the programs sent last and the places
// of the windows. It lives in the user's configuration folder
// (~/.config/ferobrixlan/desktop.ini), never in ferobrixlan.cfg, whose format
// is fixed. All on the user-interface thread.

// The folder the Send and Receive file dialogs start in: the one a program or
// a target was last chosen in; empty before the first.
QString lastProgramFolder();
// A file chosen for receiving: its folder is the one to start in next time.
void rememberFolderOf(const QString& path);
// A program chosen for sending: its folder, and its place at the top of the
// recent programs.
void rememberProgram(const QString& path);

// The programs sent last, the latest first; at most kRecentPrograms.
inline constexpr int kRecentPrograms = 8;
QStringList recentPrograms();

// Gives a top-level window its place before it shows: where it was when it
// last closed (kept under key), else its designed size. Either way it fits the
// available area of its screen: a window larger than the area is scaled down
// with its proportions kept, and moved inside it, so that every button can be
// reached. The place is kept again each time the window hides.
void placeWindow(QWidget* window, const QSize& designed, const QString& key);

// Keeps window inside the available area of its screen, as above.
void fitOnScreen(QWidget* window);

// Enter or Return presses the push button that has the focus, as Space does;
// true when the key was taken. Dialogs call it from keyPressEvent, so that
// Enter in a list or a field presses nothing.
bool pressFocusedButton(QWidget* window, QKeyEvent* event);

}  // namespace fbx::ui
