#include "AboutWindow.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "AppContext.h"
#include "DataFiles.h"
#include "Look.h"

namespace fbx::ui {

AboutWindow::AboutWindow(const AppContext& app, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("form6"));
    setWindowTitle(QStringLiteral(" "));
    setFixedSize(twips(7455, this), twips(5670, this));
    setAutoFillBackground(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(grey);

    // The movie's rectangle.
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("movie"));
    panel->setGeometry(twips(240, this), twips(240, this), twips(6975, this), twips(5175, this));
    panel->setAutoFillBackground(true);
    panel->setFrameShape(QFrame::StyledPanel);
    QPalette night = panel->palette();
    night.setColor(QPalette::Window, QColor(14, 28, 46));
    night.setColor(QPalette::WindowText, QColor(232, 238, 244));
    panel->setPalette(night);

    auto* layout = new QVBoxLayout(panel);
    layout->setSpacing(twips(120, this));
    layout->addStretch(1);

    auto* picture = new QLabel(panel);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setAlignment(Qt::AlignCenter);
    const QString first = findDataFile(app.programDir, pictureName(1));
    if (!first.isEmpty()) picture->setPixmap(QPixmap(first));
    layout->addWidget(picture);

    auto* name = new QLabel(QStringLiteral("ferobrixlan"), panel);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(systemFont(24, true));
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    auto* version = new QLabel(QStringLiteral("Version %1").arg(programVersion()), panel);
    version->setObjectName(QStringLiteral("version"));
    version->setFont(systemFont(11));
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);

    auto* description = new QLabel(
        QStringLiteral("Sends NC part programs to a machine tool's controller and receives "
                       "them over an RS-232 line, with DNC drip feed, ISO/EIA tape code and "
                       "processing strings."),
        panel);
    description->setObjectName(QStringLiteral("description"));
    description->setFont(systemFont(10));
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);
    layout->addWidget(description);
    layout->addStretch(1);
    layout->setContentsMargins(twips(360, this), twips(240, this), twips(360, this),
                               twips(240, this));
}

QString AboutWindow::programVersion() {
#ifdef FEROBRIXLAN_VERSION
    return QStringLiteral(FEROBRIXLAN_VERSION);
#else
    return QStringLiteral("unknown");
#endif
}

}  // namespace fbx::ui
