#include "stationpaths.h"

#include "scanstate.h"

QString StationRoot;
int StationModel = kModelKIREL5;

QString StationPath(const QString &fixedPath)
{
    return StationRoot + fixedPath;
}

QString ModelDataDir(int model)
{
    switch (model) {
    case kModelKIREL3:
        return QStringLiteral("/home/pi/KIREL3-IR/");
    case kModelVESK5000:
    case kModelVESK1800:
        return QStringLiteral("/home/pi/VESK-IR/");
    case kModelKIREL5:
    default:
        return QStringLiteral("/home/pi/KIREL5-IR/");
    }
}

QString ModelDataFile(const QString &fileName)
{
    return StationPath(ModelDataDir(ScannerType) + fileName);
}

QString Kirel5DataFile(const QString &fileName)
{
    return StationPath(ModelDataDir(kModelKIREL5) + fileName);
}

QString DefaultImageDir()
{
    return StationPath(QStringLiteral("/home"));
}
