#pragma once

#include <QFont>
#include <QString>

class QWidget;

namespace fbx::ui {

// The face every window uses: PMingLiU where it is installed, else the free
// face that matches it (AR PL UMing, Debian's fonts-arphic-uming), else the
// platform's default.
QString systemFaceName();
QFont systemFont(double pointSize = 9, bool bold = false);

// Window geometry is designed in twips (1/1440 inch); converts at the
// screen's resolution (15 twips per pixel at 96 dots per inch).
int twips(int value, const QWidget* widget = nullptr);

}  // namespace fbx::ui
