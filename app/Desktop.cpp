#include "Desktop.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace fbx::ui {

namespace {

QSettings store() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ferobrixlan"),
                     QStringLiteral("desktop"));
}

const QString kFolder = QStringLiteral("programs/folder");
const QString kRecent = QStringLiteral("programs/recent");

// The frame the window manager puts around a window, as far as a window
// already on the screen shows it.
QMargins frameMargins(const QWidget* window) {
    if (window->isVisible())
        return {window->geometry().left() - window->frameGeometry().left(),
                window->geometry().top() - window->frameGeometry().top(),
                window->frameGeometry().right() - window->geometry().right(),
                window->frameGeometry().bottom() - window->geometry().bottom()};
    for (const QWidget* other : QApplication::topLevelWidgets())
        if (other != window && other->isVisible() && other->frameGeometry() != other->geometry())
            return frameMargins(other);
    return {};
}

// Writes the window's place under its key each time it hides; fits it on
// its screen again once it shows, when the frame around it is known.
class PlaceKeeper : public QObject {
public:
    PlaceKeeper(QWidget* window, QString key) : QObject(window), m_key(std::move(key)) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Hide) store().setValue(m_key, window->saveGeometry());
        if (event->type() == QEvent::Show)
            QTimer::singleShot(0, window, [window] { fitOnScreen(window); });
        return false;
    }

private:
    QString m_key;
};

}  // namespace

QString lastProgramFolder() {
    return store().value(kFolder).toString();
}

void rememberFolderOf(const QString& path) {
    store().setValue(kFolder, QFileInfo(path).absolutePath());
}

void rememberProgram(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QSettings settings = store();
    QStringList recent = settings.value(kRecent).toStringList();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    settings.setValue(kRecent, recent.mid(0, kRecentPrograms));
    settings.setValue(kFolder, QFileInfo(absolute).absolutePath());
}

QStringList recentPrograms() {
    return store().value(kRecent).toStringList().mid(0, kRecentPrograms);
}

void placeWindow(QWidget* window, const QSize& designed, const QString& key) {
    const QString name = QStringLiteral("windows/") + key;
    if (!window->restoreGeometry(store().value(name).toByteArray())) window->resize(designed);
    fitOnScreen(window);
    new PlaceKeeper(window, name);
}

void fitOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry().marginsRemoved(frameMargins(window));
    const QSize size = window->size();
    if (size.width() > area.width() || size.height() > area.height()) {
        const double scale =
            std::min(double(area.width()) / size.width(), double(area.height()) / size.height());
        window->resize(int(size.width() * scale), int(size.height() * scale));
    }
    if (!window->testAttribute(Qt::WA_Moved)) return;
    const QRect place = window->geometry();
    const int dx = std::max(area.left() - place.left(), std::min(0, area.right() - place.right()));
    const int dy = std::max(area.top() - place.top(), std::min(0, area.bottom() - place.bottom()));
    if (dx != 0 || dy != 0) window->move(window->pos() + QPoint(dx, dy));
}

bool pressFocusedButton(QWidget* window, QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
    auto* button = qobject_cast<QPushButton*>(window->focusWidget());
    if (!button || !button->isVisible() || !button->isEnabled()) return false;
    button->click();
    event->accept();
    return true;
}

}  // namespace fbx::ui
