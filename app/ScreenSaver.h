#pragma once

#include <cstdint>

namespace fbx::ui {

// Keeps the desktop's screen saver off for the time of a transfer, through
// the freedesktop ScreenSaver service on the session bus. Where no such
// service runs, nothing happens.
class ScreenSaverInhibitor {
public:
    ScreenSaverInhibitor() = default;
    ~ScreenSaverInhibitor() { release(); }
    ScreenSaverInhibitor(const ScreenSaverInhibitor&) = delete;
    ScreenSaverInhibitor& operator=(const ScreenSaverInhibitor&) = delete;

    void inhibit();
    void release();
    bool active() const { return m_cookie != 0; }

private:
    std::uint32_t m_cookie = 0;
};

}  // namespace fbx::ui
