// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolicons.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace {

constexpr int size = 32;
const QColor ink(0x33, 0x3b, 0x44);
const QColor accent(0x2a, 0x7a, 0xc8);

void disc(QPainter &p)
{
    p.setPen(QPen(ink, 1.5));
    QRadialGradient shine(QPointF(12, 12), 18);
    shine.setColorAt(0, QColor(0xf4, 0xf6, 0xf8));
    shine.setColorAt(1, QColor(0xb8, 0xc4, 0xd0));
    p.setBrush(shine);
    p.drawEllipse(QPointF(16, 16), 14, 14);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 16), 4, 4);
    p.setPen(QPen(accent, 2));
    p.drawArc(QRectF(7, 7, 18, 18), 30 * 16, 60 * 16);
}

void save(QPainter &p)
{
    // A file with its corner folded and an arrow into it.
    p.setPen(QPen(ink, 1.5));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({{7, 3}, {20, 3}, {26, 9}, {26, 29}, {7, 29}}));
    p.drawLine(QPointF(20, 3), QPointF(20, 9));
    p.drawLine(QPointF(20, 9), QPointF(26, 9));
    p.setPen(QPen(accent, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16.5, 10), QPointF(16.5, 23));
    p.drawLine(QPointF(11, 18), QPointF(16.5, 23.5));
    p.drawLine(QPointF(22, 18), QPointF(16.5, 23.5));
}

void folder(QPainter &p)
{
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0xe8, 0xb9, 0x4a));
    p.drawPolygon(QPolygonF({{3, 8}, {11, 8}, {14, 11}, {27, 11}, {27, 26}, {3, 26}})); // the back
    p.setBrush(QColor(0xf6, 0xd3, 0x7a));
    p.drawPolygon(QPolygonF({{3, 26}, {8, 15}, {30, 15}, {27, 26}})); // the front, open
}

void record(QPainter &p)
{
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0xd0, 0x2b, 0x2b));
    p.drawEllipse(QPointF(16, 16), 11, 11);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawEllipse(QPointF(12.5, 12.5), 3.5, 3.5);
}

void options(QPainter &p)
{
    // Three sliders.
    for (int i = 0; i < 3; ++i) {
        const qreal y = 8 + i * 8;
        const qreal knob = i == 1 ? 20 : (i == 0 ? 11 : 15);
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, y), QPointF(28, y));
        p.setPen(QPen(ink, 1.5));
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(knob - 3, y - 4, 6, 8), 1.5, 1.5);
    }
}

void home(QPainter &p)
{
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0xf4, 0xf1, 0xea));
    p.drawRect(QRectF(8, 15, 16, 13));
    p.setBrush(QColor(0xc0, 0x4a, 0x3a));
    p.drawPolygon(QPolygonF({{4, 16}, {16, 5}, {28, 16}})); // the roof
    p.setBrush(accent);
    p.drawRect(QRectF(14, 20, 5, 8));
}

void exitDoor(QPainter &p)
{
    p.setPen(QPen(ink, 1.5));
    p.setBrush(QColor(0xd9, 0xdd, 0xe2));
    p.drawRect(QRectF(5, 4, 13, 24));
    p.setPen(QPen(QColor(0xc0, 0x3a, 0x2a), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13, 16), QPointF(28, 16));
    p.drawLine(QPointF(23, 11), QPointF(28, 16));
    p.drawLine(QPointF(23, 21), QPointF(28, 16));
}

using Drawing = void (*)(QPainter &);
struct Named {
    const char *name;
    Drawing draw;
};
const Named drawings[] = {{"media-optical-audio", disc},   {"document-save-as", save},
                          {"folder-open", folder},         {"media-record", record},
                          {"preferences-system", options}, {"go-home", home},
                          {"application-exit", exitDoor}};

} // namespace

QStringList DrawnToolIconNames()
{
    QStringList names;
    for (const Named &d : drawings)
        names << QLatin1String(d.name);
    return names;
}

QIcon DrawnToolIcon(const QString &themeName)
{
    for (const Named &d : drawings) {
        if (themeName != QLatin1String(d.name))
            continue;
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        d.draw(painter);
        painter.end();
        return QIcon(pixmap);
    }
    return QIcon();
}

QIcon ToolIcon(const QString &themeName)
{
    return QIcon::fromTheme(themeName, DrawnToolIcon(themeName));
}
