#pragma once

#include <string>

#include "ConfigFile.h"

class QApplication;
class QWidget;

namespace fbx::ui {

struct AppContext;

// Start-up of the window program, before the main window shows: editorOpen
// 0, programDir from the start-up directory, configPath in it, the settings
// loaded (a first run writes the defaults and greets the operator), then
// ProTool. A step that fails does not stop the next one. Boxes are asked
// with parent as their owner (nullptr before the main window exists).
void RunStartup(AppContext& app, const std::string& startDir, QWidget* parent);

// Tells the operator what a load did: the welcome box when the defaults took
// the place of the file, and a warning naming the file when the defaults could
// not be written to it.
void ReportLoad(QWidget* parent, const LoadOutcome& outcome);

// Name, version, the face every window uses and the icon of the application.
void SetUpApplication(QApplication& application);

}  // namespace fbx::ui
