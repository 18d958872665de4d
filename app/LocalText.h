#pragma once

#include <QString>
#include <string>

namespace fbx::ui {

// Settings values and paths are 8-bit text in the platform's encoding; the
// widgets hold QString. These two are the only crossings between them.
inline QString localText(const std::string& text) {
    return QString::fromLocal8Bit(text);
}
inline std::string localBytes(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

}  // namespace fbx::ui
