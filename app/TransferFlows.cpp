#include "TransferFlows.h"

#include <QFile>
#include <QFileInfo>

#include "AppContext.h"
#include "ConfigFile.h"
#include "Desktop.h"
#include "Prompts.h"
#include "ReceivedFile.h"
#include "TransferTexts.h"
#include "TransferWindow.h"

namespace fbx::ui {

namespace {

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

Message box(std::string text, std::string title, Buttons buttons, Icon icon) {
    Message m;
    m.text = std::move(text);
    m.title = std::move(title);
    m.buttons = buttons;
    m.icon = icon;
    return m;
}

}  // namespace

void ChooseAndSendFile(QWidget* mainWindow, AppContext& app) {
    SendFile(mainWindow, app, {});
}

void SendFile(QWidget* mainWindow, AppContext& app, const QString& named) {
    std::string fileText;
    QString path = named;
    for (bool choose = path.isEmpty();; choose = true) {
        if (choose) path = openFileName(mainWindow, {texts::kSend, "*.*", lastProgramFolder()});
        app.settings.lastFilePath = localPath(path);
        if (path.isEmpty()) return;
        fileText.clear();
        if (QFileInfo::exists(path)) {
            Status read = readWholeFile(localPath(path), fileText);
            if (!read.isOk()) {
                // Not silently: the operator learns why the program did not open.
                Message m = box(read.message(), texts::kSendDataError, Buttons::Ok, Icon::Stop);
                m.beep = true;
                ask(mainWindow, m);
                return;
            }
        }
        if (fileText.size() > 2) break;
        if (ask(mainWindow, box(texts::kEmptyFile, texts::kSendDataError, Buttons::OkCancel,
                                Icon::Stop)) == Answer::Cancel)
            return;
    }
    rememberProgram(path);
    TransferWindow window(app, mainWindow);
    if (window.openSend(std::move(fileText), path)) window.exec();
}

void ReceiveToFile(QWidget* mainWindow, AppContext& app) {
    QString path =
        saveFileName(mainWindow, {"Receive", withProgramFilters("*.txt"), lastProgramFolder()});
    app.settings.lastFilePath = localPath(path);
    if (path.isEmpty()) return;
    rememberFolderOf(path);
    if (QFileInfo::exists(path) &&
        ask(mainWindow, box(std::string(texts::kRewrite) + "\r\n" + localPath(path),
                            texts::kSaveAs, Buttons::OkCancel, Icon::Question)) == Answer::Cancel)
        return;
    ReceivedFile target(localPath(path));
    Status prepared = target.prepare();
    if (!prepared.isOk()) {
        Message m = box(prepared.message(), texts::kError, Buttons::Ok, Icon::Stop);
        m.beep = true;
        ask(mainWindow, m);
        return;
    }
    TransferWindow window(app, mainWindow);
    if (window.openReceive(path)) window.exec();
}

}  // namespace fbx::ui
