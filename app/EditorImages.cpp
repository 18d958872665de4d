#include "EditorImages.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <functional>

namespace fbx::ui {

namespace {

constexpr int kSize = 24;

void Page(QPainter& p, QRectF r) {
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(Qt::white);
    p.drawRect(r);
    p.setPen(QPen(QColor(120, 120, 160), 1));
    for (double y = r.top() + 4; y < r.bottom() - 2; y += 3)
        p.drawLine(QPointF(r.left() + 2.5, y), QPointF(r.right() - 2.5, y));
}

void DrawOpen(QPainter& p) {
    p.setPen(QPen(QColor(140, 100, 10), 1));
    p.setBrush(QColor(235, 190, 60));
    p.drawPolygon(QPolygonF({{2.5, 6.5}, {9.5, 6.5}, {11.5, 8.5}, {20.5, 8.5}, {20.5, 19.5}, {2.5, 19.5}}));
    p.setBrush(QColor(250, 215, 100));
    p.drawPolygon(QPolygonF({{5.5, 11.5}, {22.5, 11.5}, {19.5, 19.5}, {2.5, 19.5}}));
}

void DrawSave(QPainter& p) {
    p.setPen(QPen(QColor(20, 40, 100), 1));
    p.setBrush(QColor(50, 90, 180));
    p.drawRect(QRectF(3.5, 3.5, 17, 17));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6.5, 3.5, 11, 7));
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(7.5, 14.5, 9, 6));
}

void DrawPrint(QPainter& p) {
    Page(p, QRectF(6.5, 2.5, 11, 9));
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(170, 170, 175));
    p.drawRoundedRect(QRectF(2.5, 10.5, 19, 8), 2, 2);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6.5, 15.5, 11, 6));
    p.setBrush(QColor(60, 200, 60));
    p.drawEllipse(QPointF(18.5, 13), 1, 1);
}

void DrawCut(QPainter& p) {
    p.setPen(QPen(QColor(90, 90, 90), 1.6));
    p.drawLine(QPointF(8, 3), QPointF(15.5, 15));
    p.drawLine(QPointF(16, 3), QPointF(8.5, 15));
    p.setPen(QPen(QColor(180, 30, 30), 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(7, 18), 3, 3);
    p.drawEllipse(QPointF(17, 18), 3, 3);
}

void DrawCopy(QPainter& p) {
    Page(p, QRectF(3.5, 2.5, 11, 14));
    Page(p, QRectF(9.5, 7.5, 11, 14));
}

void DrawPaste(QPainter& p) {
    p.setPen(QPen(QColor(90, 60, 20), 1));
    p.setBrush(QColor(190, 140, 70));
    p.drawRoundedRect(QRectF(3.5, 4.5, 14, 17), 1.5, 1.5);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(7.5, 2.5, 6, 4));
    Page(p, QRectF(10.5, 9.5, 10, 12));
}

void DrawUndo(QPainter& p) {
    QPainterPath arc;
    arc.moveTo(7, 9);
    arc.cubicTo(QPointF(14, 4), QPointF(22, 8), QPointF(19, 16));
    arc.cubicTo(QPointF(17.5, 19.5), QPointF(14, 20), QPointF(11, 20));
    p.setPen(QPen(QColor(30, 90, 170), 2.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 170));
    p.drawPolygon(QPolygonF({{2, 9}, {10, 3.5}, {10, 14}}));
}

void DrawPreview(QPainter& p) {
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(200, 230, 250));
    p.drawEllipse(QPointF(10, 10), 6, 6);
    p.setPen(QPen(QColor(120, 80, 30), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14.8, 14.8), QPointF(20.5, 20.5));
}

void DrawSetting(QPainter& p) {
    // A gear with the N of the sequence numbers in it.
    QPainterPath gear;
    const QPointF c(12, 12);
    for (int i = 0; i < 32; ++i) {
        double a = (i - 0.5) * M_PI / 16;
        double r = (i / 2) % 2 == 0 ? 10.5 : 8;
        QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0) gear.moveTo(pt); else gear.lineTo(pt);
    }
    gear.closeSubpath();
    p.setPen(QPen(QColor(70, 70, 80), 1));
    p.setBrush(QColor(150, 155, 170));
    p.drawPath(gear);
    p.setBrush(Qt::white);
    p.drawEllipse(c, 5.5, 5.5);
    QFont f;
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(190, 20, 20));
    p.drawText(QRectF(6, 6, 12, 12), Qt::AlignCenter, "N");
}

}  // namespace

QIcon EditorImage(const QString& name) {
    static const QHash<QString, std::function<void(QPainter&)>> painters = {
        {"Open", DrawOpen},   {"Save", DrawSave},   {"Print", DrawPrint},
        {"Cut", DrawCut},     {"Copy", DrawCopy},   {"Paste", DrawPaste},
        {"Undo", DrawUndo},   {"Preview", DrawPreview}, {"Setting", DrawSetting}};
    static QHash<QString, QIcon> drawn;
    auto found = drawn.find(name);
    if (found != drawn.end()) return *found;
    auto painter = painters.find(name);
    if (painter == painters.end()) return {};
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap(kSize * scale, kSize * scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        (*painter)(p);
        p.end();
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    drawn.insert(name, icon);
    return icon;
}

}  // namespace fbx::ui
