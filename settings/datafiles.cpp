#include "datafiles.h"

#include "logfiles.h"
#include "safeqfile.h"
#include "stationpaths.h"

#include <QBuffer>
#include <QIcon>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

namespace
{

// Stream version 17: the layout the station has always written.
constexpr QDataStream::Version kDataStreamVersion = QDataStream::Qt_5_6;
// Byte count that stands for a null string.
constexpr quint32 kNullStringBytes = 0xFFFFFFFFu;

const char kTemplatesFile[] = "scan_templates.tpl";
const char kSysParamFile[] = "sysparam.dat";
const char kFilterTrayFile[] = "filtertray.fil";
const char kFilterModuleFile[] = "filtermodule.fil";

const char kIconYellow[] = ":/img/KIREL5-Filter-Y510_i.png";
const char kIconOrange[] = ":/img/KIREL5-Filter-O575_i.png";
const char kIconRed[] = ":/img/KIREL5-Filter-R665_i.png";
// Last two digits of a filter code up to which the yellow icon, then the orange icon applies.
constexpr int kYellowLastDigitsMax = 39;
constexpr int kOrangeLastDigitsMax = 69;

// The KIREL-3000 carries a fixed tray; its channel 2 keeps what the tray file says.
struct FixedTrayPosition {
    const char *filterlabel;
    int filterCh1;
    const char *labelCh1;
    int filterType;
};
const FixedTrayPosition kKirel3Tray[kTrayPositions] = {
    {"IP", 520, "IP", 100},
    {"LPR", 580, "R R665", 800},
    {"LPG", 550, "G O575", 500},
    {"LPB", 520, "B Y520", 200},
};

// Reads one string. The byte count is checked against what is left of the file before
// anything is allocated, so a damaged count ends the read instead of eating memory.
bool StringRead(QDataStream &in, QString &s)
{
    if (in.status() != QDataStream::Ok)
        return false;
    quint32 bytes = 0;
    in >> bytes;
    if (in.status() != QDataStream::Ok)
        return false;
    if (bytes == kNullStringBytes) {
        s = QString();
        return true;
    }
    if (bytes % 2 != 0 || qint64(bytes) > in.device()->bytesAvailable()) {
        in.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    QByteArray raw(int(bytes), Qt::Uninitialized);
    if (in.readRawData(raw.data(), raw.size()) != raw.size()) {
        in.setStatus(QDataStream::ReadPastEnd);
        return false;
    }
    QString text(raw.size() / 2, Qt::Uninitialized);
    const uchar *units = reinterpret_cast<const uchar *>(raw.constData());
    for (int i = 0; i < text.size(); ++i)
        text[i] = QChar(qFromBigEndian<quint16>(units + 2 * i));
    s = bytes == 0 ? QString(QLatin1String("")) : text;
    return true;
}

QPointF PointRead(QDataStream &in)
{
    double x = 0;
    double y = 0;
    in >> x >> y;
    return QPointF(x, y);
}

void PointWrite(QDataStream &out, const QPointF &p)
{
    out << p.x() << p.y();
}

// The fifteen fields of a template record after its name.
bool TemplateRestRead(QDataStream &in, ScanTempl &t)
{
    ScanTempl r = t;
    qint32 mode = 0, area = 0, resolution = 0, filterCh1 = 0, filterCh2 = 0, HVch1 = 0, HVch2 = 0;
    quint8 laserCh1 = 0, laserCh2 = 0;
    in >> mode >> area;
    r.scancornerL = PointRead(in);
    r.scancornerR = PointRead(in);
    r.scancornerC = PointRead(in);
    in >> resolution >> laserCh1 >> laserCh2 >> filterCh1 >> filterCh2;
    if (!StringRead(in, r.filterLabel))
        return false;
    in >> HVch1 >> HVch2;
    if (!StringRead(in, r.folder))
        return false;
    r.mode = mode;
    r.area = area;
    r.resolution = resolution;
    r.laserCh1 = laserCh1;
    r.laserCh2 = laserCh2;
    r.filterCh1 = filterCh1;
    r.filterCh2 = filterCh2;
    r.HVch1 = HVch1;
    r.HVch2 = HVch2;
    t = r;
    return true;
}

// The five fields of a module record after its label.
bool FilterModRestRead(QDataStream &in, FilterMod &m)
{
    FilterMod r = m;
    qint32 filterCh1 = 0, filterCh2 = 0, filterType = 0;
    in >> filterCh1;
    if (!StringRead(in, r.labelCh1))
        return false;
    in >> filterCh2;
    if (!StringRead(in, r.labelCh2))
        return false;
    in >> filterType;
    if (in.status() != QDataStream::Ok)
        return false;
    r.filterCh1 = filterCh1;
    r.filterCh2 = filterCh2;
    r.filterType = filterType;
    m = r;
    return true;
}

// Why the last data-file write failed, and what the loaders found in the way.
QString lastWriteProblem;
QStringList loadProblems;

// Whether each list file loaded whole. One that did not (a record broken off in the middle,
// a damaged length) holds records the station could not read; rewriting it from the loaded
// list would drop them.
bool templatesFileWhole = true;
bool modulesFileWhole = true;

// Reads a data file whole. A missing file is no problem (the defaults stand in); a link,
// FIFO, device or folder in its place is refused and noted for the boot log.
bool DataFileRead(const QString &path, QByteArray &bytes)
{
    QString problem;
    bool missing = false;
    if (SafeQFileRead(path, bytes, &problem, &missing))
        return true;
    if (!missing)
        loadProblems << problem;
    return false;
}

// Reads a list file (templates or modules) into records[0 .. capacity-1] and returns its
// length. The list ends at the first record whose key is empty or null, at the end of the
// file, or at the first record that is not whole; only that last ending clears `whole`. The element
// just past the list is left with an empty key, because the writers count on it to end the list
// they write back.
template <typename Record>
int ListLoad(const QString &path, Record *records, int capacity, QString Record::*key,
             bool (*restRead)(QDataStream &, Record &), bool &whole)
{
    whole = true;
    QByteArray bytes;
    if (!DataFileRead(path, bytes))
        return 0;
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    QDataStream in;
    DataStreamPrepare(in, &file);
    int count = 0;
    while (count < capacity) {
        Record r = records[count];
        const bool atEnd = file.atEnd();
        if (!StringRead(in, r.*key) || (!(r.*key).isEmpty() && !restRead(in, r))) {
            records[count] = Record();
            whole = atEnd;
            break;
        }
        if ((r.*key).isEmpty()) {
            records[count].*key = r.*key;
            break;
        }
        records[count++] = r;
    }
    if (!whole)
        loadProblems << QStringLiteral("%1: record %2 is damaged; the file is kept as it is")
                            .arg(path)
                            .arg(count);
    return count;
}

// Rewrites a data file whole. The records are put together in memory, written to a
// temporary file beside the old one and renamed over it once they are all on disk, so a
// file that cannot be written keeps its previous content.
template <typename WriteRecords> bool DataFileWrite(const QString &path, WriteRecords writeRecords)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out;
    DataStreamPrepare(out, &buffer);
    writeRecords(out);
    lastWriteProblem.clear();
    return SafeQFileReplace(path, bytes, &lastWriteProblem);
}

// A list file that did not load whole is not rewritten from the list.
bool ListFileWritable(bool whole, const QString &path)
{
    if (whole)
        return true;
    lastWriteProblem = QStringLiteral("%1 holds a damaged record; it is kept as it is").arg(path);
    return false;
}

FilterMod EmptyTrayPosition()
{
    FilterMod m;
    m.filterlabel = m.labelCh1 = m.labelCh2 = QLatin1String("");
    return m;
}

QIcon FilterIcon(const QString &name)
{
    return name.isEmpty() ? QIcon() : QIcon(name);
}

} // namespace

void DataStreamPrepare(QDataStream &stream, QIODevice *device)
{
    stream.setDevice(device);
    stream.setVersion(kDataStreamVersion);
    stream.setByteOrder(QDataStream::BigEndian);
    stream.setFloatingPointPrecision(QDataStream::DoublePrecision);
}

QString TemplatesFilePath()
{
    return ModelDataFile(QLatin1String(kTemplatesFile));
}

QString SysParamFilePath()
{
    return ModelDataFile(QLatin1String(kSysParamFile));
}

QString FilterTrayFilePath()
{
    return Kirel5DataFile(QLatin1String(kFilterTrayFile));
}

QString FilterModuleFilePath()
{
    return Kirel5DataFile(QLatin1String(kFilterModuleFile));
}

void TemplateRecordWrite(QDataStream &out, const ScanTempl &t)
{
    out << t.name << t.comment << qint32(t.mode) << qint32(t.area);
    PointWrite(out, t.scancornerL);
    PointWrite(out, t.scancornerR);
    PointWrite(out, t.scancornerC);
    out << qint32(t.resolution) << quint8(t.laserCh1) << quint8(t.laserCh2) << qint32(t.filterCh1)
        << qint32(t.filterCh2) << t.filterLabel << qint32(t.HVch1) << qint32(t.HVch2) << t.folder;
}

void FilterModRecordWrite(QDataStream &out, const FilterMod &m)
{
    out << m.filterlabel << qint32(m.filterCh1) << m.labelCh1 << qint32(m.filterCh2) << m.labelCh2
        << qint32(m.filterType);
}

bool TemplateRecordRead(QDataStream &in, ScanTempl &t)
{
    ScanTempl r = t;
    if (!StringRead(in, r.name) || !StringRead(in, r.comment) || !TemplateRestRead(in, r))
        return false;
    t = r;
    return true;
}

bool FilterModRecordRead(QDataStream &in, FilterMod &m)
{
    FilterMod r = m;
    if (!StringRead(in, r.filterlabel) || !FilterModRestRead(in, r))
        return false;
    m = r;
    return true;
}

void TemplatesLoad()
{
    // The loader reads a record's name first and the comment belongs to the rest.
    auto restRead = [](QDataStream &in, ScanTempl &t) {
        return StringRead(in, t.comment) && TemplateRestRead(in, t);
    };
    templatecount = ListLoad<ScanTempl>(TemplatesFilePath(), scanTemplate, kMaxTemplates,
                                        &ScanTempl::name, restRead, templatesFileWhole);
}

bool TemplatesWrite(int count, bool traceRecords)
{
    const int records = qBound(0, count, kMaxTemplates);
    if (!ListFileWritable(templatesFileWhole, TemplatesFilePath()))
        return false;
    return DataFileWrite(TemplatesFilePath(), [records, traceRecords](QDataStream &out) {
        for (int i = 0; i < records; ++i) {
            TemplateRecordWrite(out, scanTemplate[i]);
            if (traceRecords) {
                std::fprintf(stderr, "Template %d  Laser %i\n", i, int(scanTemplate[i].laserCh1));
                std::fprintf(stderr, "Template %d  Filter %i\n", i, scanTemplate[i].filterCh1);
            }
        }
    });
}

const char kStartupTemplateName[] = "startup";

int TemplateLaserEntry(const ScanTempl &t, int count)
{
    if (t.name == QLatin1String(kStartupTemplateName))
        return t.laserCh1 < count ? t.laserCh1 : 0;
    for (int i = 0; i < count; ++i)
        if (laserCh1[i] + 1 == t.laserCh1)
            return i;
    return 0;
}

bool TemplateStartupWrite()
{
    if (templatesFileWhole)
        return TemplatesWrite(templatecount + 1, true);
    // Only record 0 changes: it is put in front of the rest of the file as it stands on
    // disk, so that the records the loader could not read are kept byte for byte.
    const QString path = TemplatesFilePath();
    QByteArray old;
    lastWriteProblem.clear();
    if (!SafeQFileRead(path, old, &lastWriteProblem))
        return false;
    QBuffer oldBuffer;
    oldBuffer.setData(old);
    oldBuffer.open(QIODevice::ReadOnly);
    QDataStream in;
    DataStreamPrepare(in, &oldBuffer);
    ScanTempl first;
    if (!TemplateRecordRead(in, first)) {
        lastWriteProblem =
            QStringLiteral("%1: its first record is damaged; the file is kept as it is").arg(path);
        return false;
    }
    const QByteArray rest = old.mid(int(oldBuffer.pos()));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out;
    DataStreamPrepare(out, &buffer);
    TemplateRecordWrite(out, scanTemplate[0]);
    std::fprintf(stderr, "Template %d  Laser %i\n", 0, int(scanTemplate[0].laserCh1));
    std::fprintf(stderr, "Template %d  Filter %i\n", 0, scanTemplate[0].filterCh1);
    return SafeQFileReplace(path, bytes + rest, &lastWriteProblem);
}

QString DataFileWriteProblem()
{
    return lastWriteProblem;
}

void DataFileLoadProblemsLog()
{
    for (const QString &problem : qAsConst(loadProblems))
        if (sysparams.bootlog == 1)
            BootLogWrite(QStringLiteral("FILE: ") + problem);
    loadProblems.clear();
}

void FilterTrayLoad()
{
    for (auto &position : filterTray)
        position = EmptyTrayPosition();
    QByteArray bytes;
    if (DataFileRead(FilterTrayFilePath(), bytes)) {
        QBuffer file(&bytes);
        file.open(QIODevice::ReadOnly);
        QDataStream in;
        DataStreamPrepare(in, &file);
        for (auto &position : filterTray)
            if (!FilterModRecordRead(in, position))
                break;
    }
    if (ScannerType != kModelKIREL3)
        return;
    for (int i = 0; i < kTrayPositions; ++i) {
        filterTray[i].filterlabel = QLatin1String(kKirel3Tray[i].filterlabel);
        filterTray[i].filterCh1 = kKirel3Tray[i].filterCh1;
        filterTray[i].labelCh1 = QLatin1String(kKirel3Tray[i].labelCh1);
        filterTray[i].filterType = kKirel3Tray[i].filterType;
    }
}

bool FilterTrayWrite()
{
    return DataFileWrite(FilterTrayFilePath(), [](QDataStream &out) {
        for (const auto &position : filterTray)
            FilterModRecordWrite(out, position);
    });
}

void SysParamsLoad()
{
    sysparams = SystemParams();
    sysparams.bootlog = 1;
    sysparams.scanlog = 1;
    QByteArray bytes;
    if (!DataFileRead(SysParamFilePath(), bytes))
        return;
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    QDataStream in;
    DataStreamPrepare(in, &file);
    // A short file sets the values it holds; the others keep their defaults.
    for (int *value : {&sysparams.rawdatasave, &sysparams.shadingdatasave, &sysparams.bootlog,
                       &sysparams.scanlog, &sysparams.readlog}) {
        qint32 v = 0;
        in >> v;
        if (in.status() != QDataStream::Ok)
            break;
        *value = v;
    }
}

bool SysParamsWrite()
{
    return DataFileWrite(SysParamFilePath(), [](QDataStream &out) {
        out << qint32(sysparams.rawdatasave) << qint32(sysparams.shadingdatasave)
            << qint32(sysparams.bootlog) << qint32(sysparams.scanlog) << qint32(sysparams.readlog);
    });
}

void FilterModulesLoad()
{
    filtercount = ListLoad<FilterMod>(FilterModuleFilePath(), filterModule, kMaxFilterModules,
                                      &FilterMod::filterlabel, FilterModRestRead, modulesFileWhole);
    // Nothing of an earlier list stays behind the one just read, also when there is no file:
    // the writer always writes record 0, and a module that was added and not saved would
    // be stored with it.
    std::fill(filterModule + filtercount, filterModule + kMaxFilterModules, FilterMod());
}

bool FilterModulesWrite()
{
    // Record 0 goes out even with no modules: its empty label ends the list for the reader.
    const int records = qBound(1, filtercount, kMaxFilterModules);
    if (!ListFileWritable(modulesFileWhole, FilterModuleFilePath()))
        return false;
    return DataFileWrite(FilterModuleFilePath(), [records](QDataStream &out) {
        for (int i = 0; i < records; ++i)
            FilterModRecordWrite(out, filterModule[i]);
    });
}

QString FilterIconName(int filterCode)
{
    if (filterCode == 0)
        return QString();
    const int lastDigits = filterCode - 100 * (filterCode / 100);
    if (lastDigits <= kYellowLastDigitsMax)
        return QLatin1String(kIconYellow);
    if (lastDigits <= kOrangeLastDigitsMax)
        return QLatin1String(kIconOrange);
    return QLatin1String(kIconRed);
}

void FilterIconsUpdate()
{
    for (int i = 0; i < kTrayPositions; ++i) {
        iconnameCh1Pos[i] = FilterIconName(filterTray[i].filterCh1);
        iconCh1Pos[i] = FilterIcon(iconnameCh1Pos[i]);
        iconnameCh2Pos[i] = FilterIconName(filterTray[i].filterCh2);
        iconCh2Pos[i] = FilterIcon(iconnameCh2Pos[i]);
    }
}
