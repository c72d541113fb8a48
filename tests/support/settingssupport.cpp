#include "settingssupport.h"

#include "stationpaths.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <cstring>

QString FilterTrayFixedPath()
{
    return QStringLiteral("/home/pi/KIREL5-IR/filtertray.fil");
}

QString FilterModuleFixedPath()
{
    return QStringLiteral("/home/pi/KIREL5-IR/filtermodule.fil");
}

QString SysParamFixedPath(int model)
{
    return ModelDataDir(model) + QStringLiteral("sysparam.dat");
}

QString TemplatesFixedPath(int model)
{
    return ModelDataDir(model) + QStringLiteral("scan_templates.tpl");
}

QByteArray Be32(quint32 value)
{
    QByteArray b;
    for (int shift = 24; shift >= 0; shift -= 8)
        b.append(char((value >> shift) & 0xFF));
    return b;
}

QByteArray StringBytes(const QString &s)
{
    if (s.isNull())
        return Be32(0xFFFFFFFFu);
    QByteArray b = Be32(quint32(s.size() * 2));
    for (const QChar c : s) {
        b.append(char(c.unicode() >> 8));
        b.append(char(c.unicode() & 0xFF));
    }
    return b;
}

static QByteArray DoubleBytes(double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray b;
    for (int shift = 56; shift >= 0; shift -= 8)
        b.append(char((bits >> shift) & 0xFF));
    return b;
}

static QByteArray PointBytes(const QPointF &p)
{
    return DoubleBytes(p.x()) + DoubleBytes(p.y());
}

QByteArray ModuleBytes(const FilterMod &m)
{
    return StringBytes(m.filterlabel) + Be32(quint32(m.filterCh1)) + StringBytes(m.labelCh1) +
           Be32(quint32(m.filterCh2)) + StringBytes(m.labelCh2) + Be32(quint32(m.filterType));
}

QByteArray ModulesBytes(const QList<FilterMod> &modules)
{
    QByteArray b;
    for (const FilterMod &m : modules)
        b += ModuleBytes(m);
    return b;
}

QByteArray TemplateBytes(const ScanTempl &t)
{
    QByteArray b = StringBytes(t.name) + StringBytes(t.comment) + Be32(quint32(t.mode)) +
                   Be32(quint32(t.area)) + PointBytes(t.scancornerL) + PointBytes(t.scancornerR) +
                   PointBytes(t.scancornerC) + Be32(quint32(t.resolution));
    b.append(char(t.laserCh1));
    b.append(char(t.laserCh2));
    return b + Be32(quint32(t.filterCh1)) + Be32(quint32(t.filterCh2)) +
           StringBytes(t.filterLabel) + Be32(quint32(t.HVch1)) + Be32(quint32(t.HVch2)) +
           StringBytes(t.folder);
}

QByteArray TemplatesBytes(const QList<ScanTempl> &templates)
{
    QByteArray b;
    for (const ScanTempl &t : templates)
        b += TemplateBytes(t);
    return b;
}

QByteArray SysParamBytes(int raw, int shading, int boot, int scan, int read)
{
    return Be32(quint32(raw)) + Be32(quint32(shading)) + Be32(quint32(boot)) + Be32(quint32(scan)) +
           Be32(quint32(read));
}

FilterMod Module(const QString &label, int ch1, const QString &labelCh1, int ch2,
                 const QString &labelCh2, int type)
{
    FilterMod m;
    m.filterlabel = label;
    m.filterCh1 = ch1;
    m.labelCh1 = labelCh1;
    m.filterCh2 = ch2;
    m.labelCh2 = labelCh2;
    m.filterType = type;
    return m;
}

MessageBoxCloser::MessageBoxCloser()
{
    timer.setInterval(5);
    connect(&timer, &QTimer::timeout, this, &MessageBoxCloser::CloseVisible);
    timer.start();
}

void MessageBoxCloser::CloseVisible()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible())
            continue;
        shown.append({box->windowTitle(), box->text()});
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->done(0);
    }
}
