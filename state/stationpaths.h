// Where the station's files live.
//
// Every fixed path of the station ("/home/pi/KIREL5-IR/...", the "/home" default folder)
// goes through StationPath(), which puts the file-system root in front of it. The root is
// empty for the station executables, so they use the paths as they stand; the tests put a
// temporary folder there and the simulator its own data folder.
#ifndef STATIONPATHS_H
#define STATIONPATHS_H

#include <QString>

// The file-system root in front of every fixed path; empty on the station.
extern QString StationRoot;

// The scanner model that this program was built for. Each station executable sets it before
// it builds the main window; the main window copies it into ScannerType.
extern int StationModel;

// A fixed path of the station, resolved under StationRoot.
QString StationPath(const QString &fixedPath);

// The model's data folder without the root and with its trailing "/":
// "/home/pi/KIREL5-IR/", "/home/pi/KIREL3-IR/" or "/home/pi/VESK-IR/".
QString ModelDataDir(int model);

// A file in the current model's data folder, resolved under StationRoot.
QString ModelDataFile(const QString &fileName);

// A file in the KIREL-5000/5100 data folder (the filter files are kept there for every
// model), resolved under StationRoot.
QString Kirel5DataFile(const QString &fileName);

// The default destination folder of the images, resolved under StationRoot.
QString DefaultImageDir();

#endif // STATIONPATHS_H
