#include "scantile.h"

#include <QBrush>
#include <QCursor>
#include <QPainter>
#include <QPen>

int topleftX = 0;
int topleftY = 0;
int tileW = 0;
int tileH = 0;

QGraphicsPathItem *corner2aGraphic = nullptr;
QGraphicsPathItem *corner2bGraphic = nullptr;
QGraphicsPathItem *corner3aGraphic = nullptr;
QGraphicsPathItem *corner3bGraphic = nullptr;

scantile::scantile(QGraphicsItem *parent) : QObject(), QGraphicsItem(parent) {}

QRectF scantile::boundingRect() const
{
    return QRectF(topleftX, topleftY, tileW, tileH);
}

void scantile::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(QPen(Qt::black));
    painter->setBrush(QBrush(Qt::green, Qt::SolidPattern));
    painter->drawRect(boundingRect());
}

void scantile::mouseReleaseEvent(QGraphicsSceneMouseEvent *)
{
    setCursor(Qt::ArrowCursor);
}
