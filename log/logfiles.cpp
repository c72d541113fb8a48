#include "logfiles.h"

#include "maker.h"
#include "scanstate.h"
#include "safeqfile.h"
#include "stationpaths.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QStringList>

#include <cstdio>

QDateTime (*LogClock)() = &QDateTime::currentDateTime;

namespace
{

// What the logs of each model are called and what their headers say.
struct ModelLogs {
    int model;
    const char *filePrefix; // "KIREL5" for "KIREL5_boot.log"
    const char *title;      // model name at the head of each header line
    const char *scanColumns;
    bool hasErrorLog; // the KIREL-3000 error log is created but never written
};

const ModelLogs kModelLogs[] = {
    {kModelKIREL5, "KIREL5", "KIREL-5000/5100",
     "Date,Time,File,Mode,Resolution,StartW,StartH,Width,Height,Laser1,Filter1,HV1,Laser2,"
     "Filter2,HV2",
     true},
    {kModelKIREL3, "KIREL3", "KIREL-3000",
     "Date,Time,File,Mode,Resolution,StartW,StartH,Width,Height,Laser,Filter,Sensitivity", false},
    {kModelVESK5000, "VESK", "VESK-5000", "Date,Time,File,Resolution,StartW,StartH,Width,Height",
     true},
    {kModelVESK1800, "VESK", "VESK-1802", "Date,Time,File,Resolution,StartW,StartH,Width,Height",
     true},
};

// An unknown model falls back to the KIREL-5000/5100, like its data folder does.
const ModelLogs &CurrentModelLogs()
{
    for (const auto &logs : kModelLogs)
        if (logs.model == ScannerType)
            return logs;
    return kModelLogs[0];
}

QString ModelLogPath(const char *kind)
{
    return ModelDataFile(
        QStringLiteral("%1_%2.log")
            .arg(QLatin1String(CurrentModelLogs().filePrefix), QLatin1String(kind)));
}

QString HeaderLine(const char *logName)
{
    return QStringLiteral("%1 %2 - %3")
        .arg(QLatin1String(CurrentModelLogs().title), QLatin1String(logName),
             QLatin1String(SCANSTATION_MAKER_WEB));
}

// One line as stored: the low 8 bits of each UTF-16 code unit, then a line feed.
QByteArray LineBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() + 1);
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xFF));
    bytes.append('\n');
    return bytes;
}

// The logs that could not be written, with the reason, each told to the operator once.
QHash<QString, QString> logFailures;

// Appends one line in one checked write to a file opened for this line only.
void LineAppend(QFile &file, const QString &line)
{
    QString problem;
    if (!SafeQFileWrite(file.fileName(), SafeWrite::Append, LineBytes(line), &problem))
        LogFailureTell(file.fileName(), problem);
}

void LineAppend(const QString &path, const QString &line)
{
    QFile file(path);
    LineAppend(file, line);
}

// Writes one line on LOGdatastream, when the caller has attached a device to it.
void StreamLineWrite(const QString &line)
{
    if (!LOGdatastream.device())
        return;
    const QByteArray bytes = LineBytes(line);
    LOGdatastream.writeRawData(bytes.constData(), bytes.size());
}

// Creates a missing log with its header lines; an existing one is never touched, and
// nothing but a regular file counts as existing.
void LogFileCreate(const QString &path, std::initializer_list<QString> header)
{
    const QFileInfo existing(path);
    if (existing.isFile() && !existing.isSymLink())
        return;
    QByteArray bytes;
    for (const QString &line : header)
        bytes += LineBytes(line);
    QString problem;
    if (!SafeQFileWrite(path, SafeWrite::New, bytes, &problem))
        LogFailureTell(path, problem);
}

} // namespace

// A log that cannot be written costs no scan and no start-up: the operator is told once per
// file on the status log, and the line is lost.
void LogFailureTell(const QString &path, const QString &problem)
{
    if (logFailures.contains(path))
        return;
    logFailures.insert(path, problem);
    std::fprintf(stderr, "LOG NOT WRITTEN: %s\n", qPrintable(problem));
    ++logeventnumber;
    StatusLogUpdate(LogTimestamp() + QStringLiteral("LOG NOT WRITTEN: ") + problem);
}

QString LogWriteProblem(const QString &path)
{
    return logFailures.value(path);
}

QString LogTimestamp()
{
    // The C locale names days and months in English whatever the machine is set to.
    return QLocale::c().toString(LogClock(), QStringLiteral("ddd MMM dd yyyy HH:mm:ss "));
}

QString BootLogPath()
{
    return ModelLogPath("boot");
}

QString ErrorLogPath()
{
    return ModelLogPath("error");
}

QString ScanLogPath()
{
    return ModelLogPath("scan");
}

void LogFilesCreate()
{
    LogFileCreate(BootLogPath(), {HeaderLine("BOOT LOG")});
    LogFileCreate(ErrorLogPath(), {HeaderLine("ERROR LOG")});
    LogFileCreate(ScanLogPath(),
                  {HeaderLine("SCAN LOG"), QLatin1String(CurrentModelLogs().scanColumns)});
}

int BootLogWrite(const QString &text)
{
    LineAppend(BootLogPath(), LogTimestamp() + text);
    return 1;
}

int ErrorLogWrite(const QString &text)
{
    if (CurrentModelLogs().hasErrorLog)
        LineAppend(ErrorLogPath(), LogTimestamp() + text);
    return 1;
}

int ScanLogWrite(const QString &text)
{
    LineAppend(kirelscanfile_log, LogTimestamp() + QLatin1Char(' ') + text);
    return 1;
}

int ScanningLogWrite(const QString &text)
{
    LineAppend(kirelscanfile_log, LogTimestamp() + text);
    return 1;
}

int LogFileWrite(const QString &text)
{
    StreamLineWrite(text);
    return 1;
}

int ScanLogHeadFileWrite(const QString &text)
{
    StreamLineWrite(text);
    return 1;
}

int LogDateFileWrite(const QString &text)
{
    StreamLineWrite(LogTimestamp() + QLatin1Char(' ') + text);
    return 1;
}

int StatusLogUpdate(const QString &text)
{
    // Before start-up has set the count there is no line to replace: take it as the first.
    if (logeventnumber < 1)
        logeventnumber = 1;
    if (logeventnumber > kStatusLogLines) {
        for (int i = 1; i < kStatusLogLines; ++i)
            QStatusString[i - 1] = QStatusString[i];
        QStatusString[kStatusLogLines - 1] = text;
        logeventnumber = kStatusLogLines;
    } else {
        QStatusString[logeventnumber - 1] = text;
    }
    QNewStatusString = QStatusString[0];
    for (int i = 1; i < logeventnumber; ++i)
        QNewStatusString += QLatin1Char('\n') + QStatusString[i];
    return 1;
}

QString ScanLogRecord(quint32 startX, quint32 startY, quint32 width, quint32 height,
                      int filterNumber)
{
    constexpr quint32 kMicrometresPerMm = 1000;
    const int resolutionCode = scanparams[1];
    const int latitude = scanparams[2];
    const int sensitivity = scanparams[7] * 256 + scanparams[8];
    const int resolution = scanparams[7];
    const int laser = scanparams[9];
    const QList<quint32> area = {startX / kMicrometresPerMm, startY / kMicrometresPerMm,
                                 width / kMicrometresPerMm, height / kMicrometresPerMm};

    QStringList fields{image_dir + QLatin1Char('/') + image_name};
    auto add = [&fields](qint64 n) { fields << QString::number(n); };
    if (ScannerType == kModelKIREL5) {
        add(scanTemplate[0].mode);
        add(resolution);
    } else {
        add(resolutionCode);
        add(latitude);
        add(sensitivity);
    }
    for (quint32 mm : area)
        add(mm);
    if (ScannerType == kModelKIREL5) {
        add(laser);
        add(filterNumber);
        add(scan_HVch1);
        add(0);
        add(0);
        add(0);
    } else if (ScannerType == kModelKIREL3) {
        add(laser);
        add(filterNumber);
    }
    return fields.join(QLatin1Char(','));
}
