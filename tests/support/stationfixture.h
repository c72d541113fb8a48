// Test support: a throw-away file-system root for the station and a reset of its shared
// state, so that every test starts from the state a freshly started program has.
#ifndef STATIONFIXTURE_H
#define STATIONFIXTURE_H

#include <QByteArray>
#include <QStringList>
#include <QString>
#include <QTemporaryDir>

// Puts StationRoot on a new temporary folder holding the three model data folders and
// "/home"; removes it and clears StationRoot again when it goes.
class TempStationRoot
{
public:
    TempStationRoot();
    ~TempStationRoot();
    bool isValid() const { return dir.isValid(); }
    QString root() const { return dir.path(); }
    // Absolute path of a fixed station path under this root.
    QString path(const QString &fixedPath) const { return dir.path() + fixedPath; }
    QByteArray readFile(const QString &fixedPath) const;
    bool writeFile(const QString &fixedPath, const QByteArray &bytes) const;

private:
    QTemporaryDir dir;
};

// Things a test puts where the station expects one of its files, as an attacker or an
// accident would. A link points into `outside`, a folder beyond the station's root: at a
// file there holding a text of its own, or (dangling) at a name there that does not exist.
enum class Obstacle { Link, DanglingLink, Fifo, Folder };
bool ObstaclePlace(Obstacle obstacle, const QString &path, const QString &outside);
// The obstacle is still there as placed, and a link's target is unchanged (not created).
bool ObstacleUntouched(Obstacle obstacle, const QString &path, const QString &outside);
// What the station says the obstacle is ("is a symbolic link", ...).
QString ObstacleKind(Obstacle obstacle);

// While it lives, every write of the station's file writers fails as on a full disk.
class DiskFull
{
public:
    DiskFull();
    ~DiskFull();
};

// Puts every shared record and global back to its value at program start and sets the
// scanner model.
void ResetSharedState(int model);

#endif // STATIONFIXTURE_H
