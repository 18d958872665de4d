#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;

namespace fbx {
class TransferEngine;
}

namespace fbx::ui {

// Drives a transfer engine from the window's event loop: passes run in
// slices of a few milliseconds, after which the event queue gets its turn
// (so Esc, quit and hold act at once); when the engine can make no progress
// the host sleeps on the port's descriptor or a short timer instead of
// spinning. Never nests the event loop; a step already running (a message
// box open inside it) is not entered again.
class EngineHost : public QObject {
    Q_OBJECT
public:
    EngineHost(TransferEngine& engine, int portDescriptor, QObject* parent = nullptr);
    ~EngineHost() override;

    void start();
    void stop();

    static constexpr qint64 kSliceNs = 5'000'000;

private:
    void run();

    TransferEngine& m_engine;
    QTimer m_timer;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_inRun = false;
    bool m_stopped = false;
};

}  // namespace fbx::ui
