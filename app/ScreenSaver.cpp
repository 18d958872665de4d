#include "ScreenSaver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

namespace fbx::ui {

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";

bool serviceRuns() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    return bus.interface()->isServiceRegistered(kService).value();
}

QDBusInterface* screenSaver() {
    auto* iface = new QDBusInterface(kService, "/org/freedesktop/ScreenSaver", kService,
                                     QDBusConnection::sessionBus());
    iface->setTimeout(500);
    return iface;
}

}  // namespace

void ScreenSaverInhibitor::inhibit() {
    if (m_cookie != 0 || !serviceRuns()) return;
    std::unique_ptr<QDBusInterface> iface(screenSaver());
    QDBusReply<uint> reply =
        iface->call("Inhibit", QStringLiteral("ferobrixlan"), QStringLiteral("transfer running"));
    if (reply.isValid()) m_cookie = reply.value();
}

void ScreenSaverInhibitor::release() {
    if (m_cookie == 0) return;
    std::unique_ptr<QDBusInterface> iface(screenSaver());
    iface->call("UnInhibit", m_cookie);
    m_cookie = 0;
}

}  // namespace fbx::ui
