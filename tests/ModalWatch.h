#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace fbx::test {

// For a handler that opens a modal window with exec(): once the window is
// up, runs `inspect` on it and closes it, so that the handler returns. Arm it
// before the action that opens the window; afterwards name() and title() tell
// which window came up (empty when none did within two seconds). It stops
// watching when it goes out of scope.
class ModalWatch {
public:
    explicit ModalWatch(std::function<void(QWidget*)> inspect = {})
        : m_inspect(std::move(inspect)) {
        m_clock.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }
    QString name() const { return m_name; }
    QString title() const { return m_title; }

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && m_clock.elapsed() < 2000) return;
        m_timer.stop();
        if (!modal) return;
        m_name = modal->objectName();
        m_title = modal->windowTitle();
        if (m_inspect) m_inspect(modal);
        if (modal->isVisible()) modal->close();
    }

    std::function<void(QWidget*)> m_inspect;
    QElapsedTimer m_clock;
    QTimer m_timer;
    QString m_name, m_title;
};

}  // namespace fbx::test
