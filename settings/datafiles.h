// The four data files of the station: scan templates, system parameters, filter tray and
// filter modules. Each is a plain sequence of records in a Qt data stream of version 17,
// big-endian, with no header.
//
// Loaders never fail: a missing file gives the empty list or the defaults, a short or
// damaged file gives the records that are whole, the rest keeps the loader's defaults. A
// link, FIFO, device or folder in place of a file is not opened and counts as missing.
// Writers replace the file whole and return false when it could not be written completely;
// the file then keeps its previous content and DataFileWriteProblem() says why. A list file
// that did not load whole is never rewritten from the partial list.
#ifndef DATAFILES_H
#define DATAFILES_H

#include "scanstate.h"

#include <QDataStream>
#include <QString>

// Absolute paths (under StationRoot) of the four files for the current ScannerType.
QString TemplatesFilePath();
QString SysParamFilePath();
QString FilterTrayFilePath();
QString FilterModuleFilePath();

// Templates: fills scanTemplate and templatecount (at most 100 records).
void TemplatesLoad();
// Writes records 0 .. count-1 of scanTemplate (never more than 100). With traceRecords the
// scan request's service lines "Template %d  Laser %i" and "Template %d  Filter %i" follow
// each record on standard error.
bool TemplatesWrite(int count, bool traceRecords = false);

// Record 0 holds its laser in one of two forms, told apart by its name: the scan request
// names it kStartupTemplateName and stores the position in the channel-1 laser list; every
// record written from Template Management (the capture, which Save renames "Last Settings",
// and the named templates) stores the laser code plus one, 0 for none. Delete never leaves
// element 0 under the scan request's name, so a record of that name is always the scan's.
extern const char kStartupTemplateName[];
// The channel-1 list entry (of the first `count` in laserCh1) of the template's laser; the
// first entry when the list does not hold it.
int TemplateLaserEntry(const ScanTempl &t, int count);

// Start Scan's update of record 0 ("startup"): the whole list as TemplatesWrite writes it,
// with the service lines; when the file did not load whole, record 0 alone is replaced in
// front of the rest of the file as it stands on disk.
bool TemplateStartupWrite();

// Why the last write failed: the path and the reason, for the operator.
QString DataFileWriteProblem();
// Writes what the loaders refused or found damaged to the boot log (when it is on), once.
void DataFileLoadProblemsLog();

// Filter tray: fills filterTray[0..3], then installs the fixed KIREL-3000 tray on model 10.
void FilterTrayLoad();
bool FilterTrayWrite();

// System parameters: fills sysparams, or the defaults 0, 0, 1, 1, 0 without a file.
void SysParamsLoad();
bool SysParamsWrite();

// Filter modules: fills filterModule and filtercount (at most 50 records).
void FilterModulesLoad();
// Writes records 0 .. filtercount-1, at least record 0 and never more than 50.
bool FilterModulesWrite();

// Record layouts, shared by the loaders, the writers and the dialogs.
void TemplateRecordWrite(QDataStream &out, const ScanTempl &t);
void FilterModRecordWrite(QDataStream &out, const FilterMod &m);
// Readers of the same layouts. They fill `t` or `m` only when the whole record was read and
// return false otherwise (end of file, or a string longer than what is left of the file);
// the stream's status then tells why. ScanTempl::filterType is not stored and keeps its value.
bool TemplateRecordRead(QDataStream &in, ScanTempl &t);
bool FilterModRecordRead(QDataStream &in, FilterMod &m);
// A stream attached to `device` in the layout of the data files.
void DataStreamPrepare(QDataStream &stream, QIODevice *device);

// Filter icon rule: the icon resource name of a filter code, empty for code 0.
QString FilterIconName(int filterCode);
// Fills iconCh1Pos, iconnameCh1Pos, iconCh2Pos, iconnameCh2Pos from filterTray.
void FilterIconsUpdate();

#endif // DATAFILES_H
