#pragma once

#include <QDialog>

namespace fbx::ui {

struct AppContext;

// The about window: a grey window with, in the movie's rectangle, the
// program's name, version and what it does. No movie player exists on this
// platform, so ferolan.swf is not played.
class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(const AppContext& app, QWidget* parent = nullptr);

    static QString programVersion();
};

}  // namespace fbx::ui
