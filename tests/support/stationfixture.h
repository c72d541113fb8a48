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

// Puts every shared record and global back to its value at program start and sets the
// scanner model.
void ResetSharedState(int model);

#endif // STATIONFIXTURE_H
