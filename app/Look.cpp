#include "Look.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace fbx::ui {

QString systemFaceName() {
    static const QString face = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* name : {"PMingLiU", "新細明體", "AR PL UMing TW", "AR PL UMing HK",
                                 "AR PL UMing CN"}) {
            if (families.contains(QString::fromUtf8(name))) return QString::fromUtf8(name);
        }
        return QFont().family();
    }();
    return face;
}

QFont systemFont(double pointSize, bool bold) {
    QFont font(systemFaceName());
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

int twips(int value, const QWidget* widget) {
    double dpi = 96;
    if (widget) {
        dpi = widget->logicalDpiX();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        dpi = screen->logicalDotsPerInchX();
    }
    if (dpi <= 0) dpi = 96;
    return static_cast<int>(value * dpi / 1440.0 + 0.5);
}

}  // namespace fbx::ui
