#include "Startup.h"

#include <QApplication>
#include <QIcon>

#include "AppContext.h"
#include "DataFiles.h"
#include "Look.h"
#include "ProTool.h"
#include "Prompts.h"
#include "ShellMessages.h"

namespace fbx::ui {

void RunStartup(AppContext& app, const std::string& startDir, QWidget* parent) {
    app.editorOpen = 0;
    app.programDir = programDirFrom(startDir);
    app.configPath = defaultConfigPath(app.programDir);
    ReportLoad(parent, loadSettings(app.settings, app.configPath, LoadPurpose::Startup));
    ProTool(app.settings, app.codes);
}

void ReportLoad(QWidget* parent, const LoadOutcome& outcome) {
    if (!outcome.defaultsTaken) return;
    ask(parent, welcomeMessage());
    if (!outcome.writeStatus.isOk()) ask(parent, defaultsNotWrittenMessage(outcome.writeStatus));
}

void SetUpApplication(QApplication& application) {
    QApplication::setApplicationName(QStringLiteral("ferobrixlan"));
#ifdef FEROBRIXLAN_VERSION
    QApplication::setApplicationVersion(QStringLiteral(FEROBRIXLAN_VERSION));
#endif
    QApplication::setDesktopFileName(QStringLiteral("ferobrixlan"));
    application.setFont(systemFont(9));
    application.setWindowIcon(QIcon(iconResource()));
}

}  // namespace fbx::ui
