// One tile of the scan-area picture: a green square that stands for a selected piece of the
// scanner bed. Every tile position has its item, created once at start-up; selecting a tile
// adds the item to the scene, deselecting takes it out again.
#ifndef SCANTILE_H
#define SCANTILE_H

#include <QGraphicsItem>
#include <QObject>

class QGraphicsPathItem;

// Local rectangle shared by every tile item of the model (set when the picture is drawn).
extern int topleftX;
extern int topleftY;
extern int tileW;
extern int tileH;

// Shaped items shown instead of the square tile at column 0, rows 7 and 8, on the models
// whose bed has a cut corner there; null on the others.
extern QGraphicsPathItem *corner2aGraphic;
extern QGraphicsPathItem *corner2bGraphic;
extern QGraphicsPathItem *corner3aGraphic;
extern QGraphicsPathItem *corner3bGraphic;

class scantile : public QObject, public QGraphicsItem
{
    Q_OBJECT
    Q_INTERFACES(QGraphicsItem)

public:
    explicit scantile(QGraphicsItem *parent = nullptr);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

protected:
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
};

#endif // SCANTILE_H
