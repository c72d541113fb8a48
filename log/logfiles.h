// The station's text logs: boot, error and scan log per model, the per-scan scanning log,
// and the status log shown in the main window.
//
// Every writer opens, appends and closes on each call, so that a crash loses at most the
// line being written. Text is stored one byte per character (the low 8 bits of each UTF-16
// code unit), each line ended by a line feed. A log that cannot be opened or written is
// skipped: its first failure is told on the status log, and LogWriteProblem keeps it.
#ifndef LOGFILES_H
#define LOGFILES_H

#include <QDateTime>
#include <QString>

// The clock of the timestamps; tests put a fixed time here.
extern QDateTime (*LogClock)();

// "ddd MMM dd yyyy HH:mm:ss " in English, whatever the machine's locale.
QString LogTimestamp();

// Absolute paths (under StationRoot) of the model's logs for the current ScannerType.
QString BootLogPath();
QString ErrorLogPath();
QString ScanLogPath();

// Tells the operator once, on the status log, that the log at `path` could not be written.
void LogFailureTell(const QString &path, const QString &problem);
// Why the log at `path` could not be written in this run; empty while it could.
QString LogWriteProblem(const QString &path);

// Creates the boot, error and scan logs of the model with their headers when missing.
void LogFilesCreate();

int BootLogWrite(const QString &text);
int ErrorLogWrite(const QString &text);
int ScanLogWrite(const QString &text);
int ScanningLogWrite(const QString &text);
int LogFileWrite(const QString &text);
int ScanLogHeadFileWrite(const QString &text);
int LogDateFileWrite(const QString &text);
int StatusLogUpdate(const QString &text);

// The scan-log record of the scan in hand, as Start Scan writes it with ScanLogWrite: the
// image path, then the model's fields from scanTemplate[0], scanparams and scan_HVch1. The
// area is given in micrometres and logged in whole millimetres; filterNumber is the
// channel-1 filter number of the request.
QString ScanLogRecord(quint32 startX, quint32 startY, quint32 width, quint32 height,
                      int filterNumber);

#endif // LOGFILES_H
