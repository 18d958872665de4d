#include "EngineHost.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include "TransferEngine.h"

namespace fbx::ui {

EngineHost::EngineHost(TransferEngine& engine, int portDescriptor, QObject* parent)
    : QObject(parent), m_engine(engine) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &EngineHost::run);
    if (portDescriptor >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(portDescriptor, QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            m_notifier->setEnabled(false);
            run();
        });
    }
}

EngineHost::~EngineHost() = default;

void EngineHost::start() {
    m_stopped = false;
    m_timer.start(0);
}

void EngineHost::stop() {
    m_stopped = true;
    m_timer.stop();
    if (m_notifier) m_notifier->setEnabled(false);
}

void EngineHost::run() {
    if (m_inRun || m_stopped) return;
    m_inRun = true;
    QElapsedTimer slice;
    slice.start();
    StepResult result;
    do {
        result = m_engine.step();
    } while (result.progressed && !m_engine.closed() && slice.nsecsElapsed() < kSliceNs);
    m_inRun = false;
    if (m_engine.closed() || m_stopped) {
        stop();
        return;
    }
    if (m_notifier) m_notifier->setEnabled(!result.progressed && result.watchPort);
    m_timer.start(result.progressed ? 0 : result.waitMs);
}

}  // namespace fbx::ui
