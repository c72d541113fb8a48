#include "stationfixture.h"

#include "initiator.h"
#include "safefile.h"
#include "scanstate.h"
#include "stationpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QByteArray kObstacleTarget("the link's target, not the station's");

QString TargetOf(Obstacle obstacle, const QString &outside)
{
    return outside + (obstacle == Obstacle::Link ? QStringLiteral("/target")
                                                 : QStringLiteral("/nothing-here"));
}

ssize_t NoRoomWrite(int, const void *, std::size_t)
{
    errno = ENOSPC;
    return -1;
}

} // namespace

bool ObstaclePlace(Obstacle obstacle, const QString &path, const QString &outside)
{
    QFile::remove(path);
    switch (obstacle) {
    case Obstacle::Link: {
        QFile target(TargetOf(obstacle, outside));
        if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            target.write(kObstacleTarget) != kObstacleTarget.size())
            return false;
        target.close();
        return QFile::link(target.fileName(), path);
    }
    case Obstacle::DanglingLink:
        return QFile::link(TargetOf(obstacle, outside), path);
    case Obstacle::Fifo:
        return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0;
    case Obstacle::Folder:
        return QDir().mkpath(path);
    }
    return false;
}

bool ObstacleUntouched(Obstacle obstacle, const QString &path, const QString &outside)
{
    const QFileInfo at(path);
    struct stat st;
    switch (obstacle) {
    case Obstacle::Link: {
        QFile target(TargetOf(obstacle, outside));
        return at.isSymLink() && target.open(QIODevice::ReadOnly) &&
               target.readAll() == kObstacleTarget;
    }
    case Obstacle::DanglingLink:
        return at.isSymLink() && !QFileInfo::exists(TargetOf(obstacle, outside));
    case Obstacle::Fifo:
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
    case Obstacle::Folder:
        return at.isDir() && !at.isSymLink();
    }
    return false;
}

QString ObstacleKind(Obstacle obstacle)
{
    switch (obstacle) {
    case Obstacle::Link:
    case Obstacle::DanglingLink:
        return QStringLiteral("is a symbolic link");
    case Obstacle::Fifo:
        return QStringLiteral("is a FIFO");
    case Obstacle::Folder:
        return QStringLiteral("is a folder");
    }
    return QString();
}

DiskFull::DiskFull()
{
    SafeFileWriteCall = &NoRoomWrite;
}

DiskFull::~DiskFull()
{
    SafeFileWriteCall = &::write;
}

TempStationRoot::TempStationRoot()
{
    if (!dir.isValid())
        return;
    QDir d(dir.path());
    d.mkpath(QStringLiteral("home/pi/KIREL5-IR"));
    d.mkpath(QStringLiteral("home/pi/KIREL3-IR"));
    d.mkpath(QStringLiteral("home/pi/VESK-IR"));
    StationRoot = dir.path();
}

TempStationRoot::~TempStationRoot()
{
    StationRoot.clear();
}

QByteArray TempStationRoot::readFile(const QString &fixedPath) const
{
    QFile f(path(fixedPath));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool TempStationRoot::writeFile(const QString &fixedPath, const QByteArray &bytes) const
{
    QFile f(path(fixedPath));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

void ResetSharedState(int model)
{
    newscansetup = ScanSetup();
    scanDur = ScanDuration();
    for (auto &t : scanTemplate)
        t = ScanTempl();
    templatecount = 0;
    templateload = 0;
    for (auto &m : filterModule)
        m = FilterMod();
    filtercount = 0;
    for (auto &m : filterTray)
        m = FilterMod();
    filtertraystatus = 0;
    sysparams = SystemParams();

    StationModel = model;
    ScannerType = model;
    image_dir.clear();
    image_name.clear();
    image_comment.clear();
    scan_HVch1 = scan_HVch2 = 0;
    std::memset(laserCh1, 0, sizeof laserCh1);
    std::memset(laserCh2, 0, sizeof laserCh2);
    laserCh1index = laserCh2index = 0;
    for (auto &w : laserCh1wavelength)
        w.clear();
    LD685status = LD685manctrl = LD685count = 0;
    std::memset(scanparams, 0, sizeof scanparams);

    for (int i = 0; i < kTileColumns; ++i)
        for (int j = 0; j < kTileRows; ++j) {
            scanarea[i][j] = QPointF();
            item[i][j] = nullptr;
            tileflag[i][j] = 0;
        }
    tiletotal = 0;
    scancornerL = scancornerR = scancornerC = QPointF();
    scantileselX = scantileselY = 0;
    for (int i = 0; i < kTrayPositions; ++i) {
        iconCh1Pos[i] = iconCh2Pos[i] = QIcon();
        iconnameCh1Pos[i].clear();
        iconnameCh2Pos[i].clear();
    }

    KIREL5connectStatus = -1;
    scanpassnumber = -1;
    logeventnumber = 0;
    std::memset(scannerstat, 0, sizeof scannerstat);
    std::memset(vendorID, 0, sizeof vendorID);
    std::memset(scannerID, 0, sizeof scannerID);
    result = 0;
    StatusValue = 0;
    scanwriteerror = 0;
    scanstart_epochsecs = scancurrent_epochsecs = 0;
    scanelapsed_secs = scanremain_secs = 0;
    linestep = widthstep = 0;
    std::memset(scannerconfig, 0, sizeof scannerconfig);
    std::memset(LDconfig, 0, sizeof LDconfig);
    std::memset(lasermodule, 0, sizeof lasermodule);
    laserboxindex = 0;
    SCSIboardtempcol = 0;
    scantimercount = 0;
    LDboardtemp = LD685monit = SCSIboardtemp = 0;
    std::memset(histval, 0, sizeof histval);
    ScanFileSize = 0;
    for (auto &s : QStatusString)
        s.clear();
    QNewStatusString.clear();
}
