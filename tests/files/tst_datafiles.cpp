// The four data files: their exact bytes, the loaders' end-of-list rules and caps, the defaults
// for missing, short or damaged files, the KIREL-3000 tray and the filter icon rule.
#include "datafiles.h"
#include "scanstate.h"
#include "settingssupport.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QString kKirel5Dir = QStringLiteral("/home/pi/KIREL5-IR/");

ScanTempl SampleTemplate(int n)
{
    ScanTempl t;
    t.name = n == 0 ? QStringLiteral("startup") : QStringLiteral("Gel %1").arg(n);
    t.comment = n % 2 ? QStringLiteral("Cy5 \u03a9 blot") : QStringLiteral("");
    t.mode = n % 4;
    t.area = n % 6;
    t.scancornerL = QPointF(1, 2 + n);
    t.scancornerR = QPointF(3.5, 17);
    t.scancornerC = QPointF(2.25, -1.0 / 3);
    t.resolution = 100;
    t.laserCh1 = BYTE(4 + n);
    t.laserCh2 = 0;
    t.filterCh1 = 2;
    t.filterCh2 = 550;
    t.filterType = 500;
    t.filterLabel = QStringLiteral("LPG");
    t.HVch1 = 650 + n;
    t.HVch2 = 0;
    t.folder = n % 2 ? QString() : QStringLiteral("/home/pi/scans");
    return t;
}

FilterMod SampleModule(int n)
{
    return Module(QStringLiteral("Mod %1").arg(n), 510 + n, QStringLiteral("Y%1").arg(510 + n),
                  n % 2 ? 0 : 665, n % 2 ? QString() : QStringLiteral("R665"), 100 * n);
}

enum DataFile { TemplatesFile, TrayFile, SysParamFile, ModuleFile };

// Each system parameter of a sample file is the opposite of its default, so that every
// value shows whether it came from the file.
const int kSysParamDefaults[5] = {0, 0, 1, 1, 0};

QString FixedPath(DataFile file)
{
    const char *const names[] = {"scan_templates.tpl", "filtertray.fil", "sysparam.dat",
                                 "filtermodule.fil"};
    return kKirel5Dir + QLatin1String(names[file]);
}

void Load(DataFile file)
{
    void (*const loaders[])() = {TemplatesLoad, FilterTrayLoad, SysParamsLoad, FilterModulesLoad};
    loaders[file]();
}

// `count` is the list length the templates writer is given, or the modules count.
bool Write(DataFile file, int count = 1)
{
    switch (file) {
    case TemplatesFile:
        return TemplatesWrite(count);
    case TrayFile:
        return FilterTrayWrite();
    case SysParamFile:
        return SysParamsWrite();
    case ModuleFile:
        filtercount = count;
        return FilterModulesWrite();
    }
    return false;
}

// The two list files: their length after loading, their array size and the key (name or
// label) whose empty or null value ends the list.
int ListCount(DataFile file)
{
    return file == TemplatesFile ? templatecount : filtercount;
}

int Capacity(DataFile file)
{
    return file == TemplatesFile ? kMaxTemplates : kMaxFilterModules;
}

QString LoadedKey(DataFile file, int n)
{
    return file == TemplatesFile ? scanTemplate[n].name : filterModule[n].filterlabel;
}

// Records in their file form, so that the records of every file compare alike and a null
// string never passes for an empty one.
QByteArray SampleRecord(DataFile file, int n)
{
    switch (file) {
    case TemplatesFile:
        return TemplateBytes(SampleTemplate(n));
    case SysParamFile:
        return Be32(quint32(1 - kSysParamDefaults[n]));
    default:
        return ModuleBytes(SampleModule(n));
    }
}

QByteArray LoadedRecord(DataFile file, int n)
{
    const int sysParams[5] = {sysparams.rawdatasave, sysparams.shadingdatasave, sysparams.bootlog,
                              sysparams.scanlog, sysparams.readlog};
    switch (file) {
    case TemplatesFile:
        return TemplateBytes(scanTemplate[n]);
    case TrayFile:
        return ModuleBytes(filterTray[n]);
    case SysParamFile:
        return Be32(quint32(sysParams[n]));
    case ModuleFile:
        return ModuleBytes(filterModule[n]);
    }
    return QByteArray();
}

// What stands in for a record the file does not hold: the empty record past a list, an empty
// tray position (empty, not null, strings) and the default of a system parameter.
QByteArray MissingRecord(DataFile file, int n)
{
    switch (file) {
    case TemplatesFile:
        return TemplateBytes(ScanTempl());
    case TrayFile:
        return ModuleBytes(
            Module(QLatin1String(""), 0, QLatin1String(""), 0, QLatin1String(""), 0));
    case SysParamFile:
        return Be32(quint32(kSysParamDefaults[n]));
    case ModuleFile:
        return ModuleBytes(FilterMod());
    }
    return QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(DataFile)
Q_DECLARE_METATYPE(Obstacle)

class TestDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { root.reset(); }

    void templateBytes();
    void moduleBytes();
    void writeCap_data();
    void writeCap();

    void truncated_data();
    void truncated();
    void listLoad_data();
    void listLoad();

    void sysParams();
    void tray_data();
    void tray();

    void writeFailure_data();
    void writeFailure();
    void damagedTemplateAmongFive();
    void newFileOwnedLikeFolder();

    void filterIconName_data();
    void filterIconName();

private:
    QScopedPointer<TempStationRoot> root;
};

void TestDataFiles::init()
{
    root.reset(new TempStationRoot);
    QVERIFY(root->isValid());
    ResetSharedState(kModelKIREL5);
}

// The written bytes, and the same records read back: a loaded template keeps the filter type
// that its record does not hold.
void TestDataFiles::templateBytes()
{
    scanTemplate[0] = SampleTemplate(0);
    scanTemplate[1] = SampleTemplate(1);
    QVERIFY(TemplatesWrite(3)); // record 2 is the empty record that ends the list

    const QByteArray file = root->readFile(FixedPath(TemplatesFile));
    // "startup": 14 bytes of UTF-16BE after the count.
    QCOMPARE(file.left(18).toHex(), QByteArray("0000000e0073007400610072007400750070"));
    QCOMPARE(file, TemplatesBytes({SampleTemplate(0), SampleTemplate(1), ScanTempl()}));

    ResetSharedState(kModelKIREL5);
    scanTemplate[1].filterType = 42;
    TemplatesLoad();
    QCOMPARE(templatecount, 2);
    QCOMPARE(TemplateBytes(scanTemplate[1]), TemplateBytes(SampleTemplate(1)));
    QCOMPARE(scanTemplate[1].filterType, 42);
}

void TestDataFiles::moduleBytes()
{
    filterModule[0] = Module(QStringLiteral("LPR"), 580, QStringLiteral("R"), 0, QString(), 800);
    QVERIFY(Write(ModuleFile, 1));
    QCOMPARE(root->readFile(FixedPath(ModuleFile)).toHex(' '),
             QByteArray("00 00 00 06 00 4c 00 50 00 52 00 00 02 44 00 00 00 02 00 52 "
                        "00 00 00 00 ff ff ff ff 00 00 03 20"));
}

void TestDataFiles::writeCap_data()
{
    QTest::addColumn<DataFile>("file");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("written");
    QTest::newRow("templates, one past the array")
        << TemplatesFile << kMaxTemplates + 1 << kMaxTemplates;
    QTest::newRow("templates, negative") << TemplatesFile << -3 << 0;
    QTest::newRow("modules, past the array")
        << ModuleFile << kMaxFilterModules + 20 << kMaxFilterModules;
    QTest::newRow("modules, none still writes record 0") << ModuleFile << 0 << 1;
}

// A count past the array writes the records that exist and no more.
void TestDataFiles::writeCap()
{
    QFETCH(DataFile, file);
    QFETCH(int, count);
    QFETCH(int, written);
    QByteArray expected;
    for (int i = 0; i < Capacity(file); ++i) {
        if (file == TemplatesFile)
            scanTemplate[i] = SampleTemplate(i);
        else
            filterModule[i] = SampleModule(i);
        if (i < written)
            expected += SampleRecord(file, i);
    }
    QVERIFY(Write(file, count));
    QCOMPARE(root->readFile(FixedPath(file)), expected);
}

void TestDataFiles::truncated_data()
{
    QTest::addColumn<DataFile>("file");
    QTest::addColumn<int>("records");
    QTest::newRow("templates") << TemplatesFile << 3;
    QTest::newRow("modules") << ModuleFile << 3;
    QTest::newRow("tray") << TrayFile << kTrayPositions;
    QTest::newRow("system parameters") << SysParamFile << 5;
}

// Every prefix of a file loads the records that are whole in it, and never a half-read one:
// a list ends there, the tray and the system parameters keep their defaults for the rest.
void TestDataFiles::truncated()
{
    QFETCH(DataFile, file);
    QFETCH(int, records);
    const bool list = file == TemplatesFile || file == ModuleFile;
    QByteArray bytes;
    QVector<int> ends;
    for (int i = 0; i < records; ++i)
        ends << (bytes += SampleRecord(file, i)).size();
    for (int cut = 0; cut <= bytes.size(); ++cut) {
        ResetSharedState(kModelKIREL5);
        QVERIFY(root->writeFile(FixedPath(file), bytes.left(cut)));
        Load(file);
        const int whole =
            int(std::count_if(ends.begin(), ends.end(), [cut](int end) { return end <= cut; }));
        if (list)
            QCOMPARE(ListCount(file), whole);
        for (int i = 0; i < records + (list ? 1 : 0); ++i)
            QCOMPARE(LoadedRecord(file, i),
                     i < whole ? SampleRecord(file, i) : MissingRecord(file, i));
    }
}

void TestDataFiles::listLoad_data()
{
    QTest::addColumn<DataFile>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expectedCount"); // -1: any count, as long as loading ends
    QTest::addColumn<bool>("damaged");      // then the list is not written over the file
    auto records = [](DataFile file, int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += SampleRecord(file, i);
        return bytes;
    };
    // A null and an empty first field both end the list, whatever follows them.
    auto ended = [&records](DataFile file, int before, const QString &ending) {
        ScanTempl t = SampleTemplate(7);
        t.name = ending;
        FilterMod m = SampleModule(7);
        m.filterlabel = ending;
        return records(file, before) + (file == TemplatesFile ? TemplateBytes(t) : ModuleBytes(m)) +
               SampleRecord(file, 8);
    };
    QTest::newRow("templates, null name after one")
        << TemplatesFile << ended(TemplatesFile, 1, QString()) << 1 << false;
    QTest::newRow("templates, empty first name")
        << TemplatesFile << ended(TemplatesFile, 0, QStringLiteral("")) << 0 << false;
    QTest::newRow("modules, empty label after two")
        << ModuleFile << ended(ModuleFile, 2, QStringLiteral("")) << 2 << false;
    QTest::newRow("modules, null first label")
        << ModuleFile << ended(ModuleFile, 0, QString()) << 0 << false;
    // A file longer than the array loads as many records as the array holds.
    QTest::newRow("templates past the array")
        << TemplatesFile << records(TemplatesFile, kMaxTemplates + 5) << kMaxTemplates << false;
    QTest::newRow("modules past the array")
        << ModuleFile << records(ModuleFile, kMaxFilterModules + 5) << kMaxFilterModules << false;

    const QByteArray template0 = TemplateBytes(SampleTemplate(0));
    const QByteArray module0 = ModuleBytes(SampleModule(0));
    QTest::newRow("templates, name longer than the file")
        << TemplatesFile << Be32(0x7ffffffe) + StringBytes("ab") << 0 << true;
    QTest::newRow("templates, odd name count")
        << TemplatesFile << Be32(3) + QByteArray("a\0b", 3) << 0 << true;
    ScanTempl bad = SampleTemplate(1);
    bad.folder = QStringLiteral("/x");
    QByteArray second = TemplateBytes(bad);
    second.replace(second.size() - 8, 4, Be32(0x40000000)); // folder count
    QTest::newRow("templates, folder longer than the file")
        << TemplatesFile << template0 + second << 1 << true;
    QTest::newRow("modules, channel 1 label longer than the file")
        << ModuleFile
        << module0 + StringBytes("M") + Be32(520) + Be32(0x20000000) + StringBytes("x") << 1
        << true;
    // Garbage of a fixed seed, so that every run sees the same bytes.
    QByteArray garbage(64 * 1024, Qt::Uninitialized);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);
    QTest::newRow("modules, garbage") << ModuleFile << garbage << -1 << true;
}

// The list ends at its end mark, at the array's end or before a damaged record; the records
// before are loaded whole, and the element past the list is empty.
void TestDataFiles::listLoad()
{
    QFETCH(DataFile, file);
    QFETCH(QByteArray, bytes);
    QFETCH(int, expectedCount);
    QFETCH(bool, damaged);
    QVERIFY(root->writeFile(FixedPath(file), bytes));
    Load(file);
    const int count = ListCount(file);
    if (expectedCount >= 0)
        QCOMPARE(count, expectedCount);
    QVERIFY(count >= 0 && count <= Capacity(file));
    if (expectedCount > 0)
        QCOMPARE(LoadedRecord(file, count - 1), SampleRecord(file, count - 1));
    if (count < Capacity(file))
        QVERIFY(LoadedKey(file, count).isEmpty());
    // The records past the damage are still on disk: the list is not written over them.
    if (damaged && expectedCount >= 0) {
        QVERIFY(!Write(file, count + 1));
        QCOMPARE(root->readFile(FixedPath(file)), bytes);
    }
}

// Without a file the boot and scan logs are on, everything else off.
void TestDataFiles::sysParams()
{
    SysParamsLoad();
    for (int i = 0; i < 5; ++i)
        QCOMPARE(LoadedRecord(SysParamFile, i), MissingRecord(SysParamFile, i));

    sysparams = {1, 0, 0, 1, 1};
    QVERIFY(SysParamsWrite());
    QCOMPARE(root->readFile(FixedPath(SysParamFile)).toHex(),
             QByteArray("0000000100000000000000000000000100000001"));
}

void TestDataFiles::tray_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("withFile");
    // The tray file is shared by every model.
    QTest::newRow("VESK-5000 with the tray file") << int(kModelVESK5000) << true;
    // The loader presets empty (not null) strings: a tray written back without a file keeps
    // zero-length labels.
    QTest::newRow("KIREL-5000/5100 without a file") << int(kModelKIREL5) << false;
    // The KIREL-3000's channel 1 is fixed whatever the file holds; channel 2 is the file's.
    QTest::newRow("KIREL-3000 with another tray") << int(kModelKIREL3) << true;
}

// The tray as loaded over a stale one, then written back.
void TestDataFiles::tray()
{
    QFETCH(int, model);
    QFETCH(bool, withFile);
    QByteArray file;
    for (int i = 0; i < kTrayPositions; ++i)
        file += ModuleBytes(SampleModule(i));
    if (withFile)
        QVERIFY(root->writeFile(FixedPath(TrayFile), file));
    ScannerType = model;
    filterTray[2] = SampleModule(5);
    FilterTrayLoad();

    const FilterMod fixed[kTrayPositions] = {
        Module("IP", 520, "IP", 0, "", 100), Module("LPR", 580, "R R665", 0, "", 800),
        Module("LPG", 550, "G O575", 0, "", 500), Module("LPB", 520, "B Y520", 0, "", 200)};
    for (int i = 0; i < kTrayPositions; ++i) {
        if (model != kModelKIREL3) {
            QCOMPARE(LoadedRecord(TrayFile, i),
                     withFile ? SampleRecord(TrayFile, i) : MissingRecord(TrayFile, i));
            continue;
        }
        FilterMod expected = fixed[i]; // channel 2 is the file's
        expected.filterCh2 = SampleModule(i).filterCh2;
        expected.labelCh2 = SampleModule(i).labelCh2;
        QCOMPARE(ModuleBytes(filterTray[i]), ModuleBytes(expected));
    }
    if (model == kModelKIREL3)
        return;
    QVERIFY(FilterTrayWrite());
    if (withFile)
        QCOMPARE(root->readFile(FixedPath(TrayFile)), file);
    else
        QCOMPARE(root->readFile(FixedPath(TrayFile)).size(), kTrayPositions * 24);
}

enum Blocker { NoDataFolder, DiskIsFull, Obstructed };

void TestDataFiles::writeFailure_data()
{
    QTest::addColumn<DataFile>("file");
    QTest::addColumn<int>("blocker");
    QTest::addColumn<Obstacle>("obstacle");
    const DataFile files[] = {TemplatesFile, TrayFile, SysParamFile, ModuleFile};
    const char *names[] = {"templates", "tray", "system parameters", "modules"};
    for (int i = 0; i < 4; ++i) {
        QTest::addRow("%s, no data folder", names[i])
            << files[i] << int(NoDataFolder) << Obstacle();
        QTest::addRow("%s, full disk", names[i]) << files[i] << int(DiskIsFull) << Obstacle();
        for (Obstacle o :
             {Obstacle::Link, Obstacle::DanglingLink, Obstacle::Fifo, Obstacle::Folder})
            QTest::addRow("%s, its path %s (%d)", names[i], qPrintable(ObstacleKind(o)), int(o))
                << files[i] << int(Obstructed) << o;
    }
}

// As root, a missing folder, a full disk or something else at the file's path makes a file
// unwritable. The loader takes nothing from what is in the way (nor waits on a FIFO); the writer
// fails, says why, and leaves the old file, the obstacle and a link's target as they were.
void TestDataFiles::writeFailure()
{
    QFETCH(DataFile, file);
    QFETCH(int, blocker);
    QFETCH(Obstacle, obstacle);
    const QString path = root->path(FixedPath(file));
    QTemporaryDir outside;
    if (blocker == NoDataFolder)
        QVERIFY(QDir(root->path(kKirel5Dir)).removeRecursively());
    if (blocker == DiskIsFull)
        QVERIFY(root->writeFile(FixedPath(file), SampleRecord(file, 0)));
    if (blocker == Obstructed) {
        QVERIFY(ObstaclePlace(obstacle, path, outside.path()));
        Load(file);
        QCOMPARE(LoadedRecord(file, 0), MissingRecord(file, 0));
    }
    {
        std::optional<DiskFull> full;
        if (blocker == DiskIsFull)
            full.emplace();
        QVERIFY(!Write(file));
    }
    QVERIFY2(DataFileWriteProblem().startsWith(path), qPrintable(DataFileWriteProblem()));
    if (blocker == DiskIsFull)
        QCOMPARE(root->readFile(FixedPath(file)), SampleRecord(file, 0));
    if (blocker == Obstructed) {
        QVERIFY(ObstacleUntouched(obstacle, path, outside.path()));
        QVERIFY(DataFileWriteProblem().endsWith(ObstacleKind(obstacle)));
    }
    QCOMPARE(QDir(QFileInfo(path).path()).entryList({".*"}, QDir::Hidden | QDir::Files),
             QStringList()); // no temporary file left
}

// One damaged record among five: the list stops before it and is never written over the file;
// Start Scan's record 0 replaces the first record alone, the rest stays byte for byte.
void TestDataFiles::damagedTemplateAmongFive()
{
    QByteArray bytes;
    for (int i = 0; i < 5; ++i)
        bytes += TemplateBytes(SampleTemplate(i));
    const int third =
        TemplateBytes(SampleTemplate(0)).size() + TemplateBytes(SampleTemplate(1)).size();
    bytes.data()[third + StringBytes(SampleTemplate(2).name).size()] ^= 0x40; // comment length
    QVERIFY(root->writeFile(FixedPath(TemplatesFile), bytes));
    TemplatesLoad();
    QCOMPARE(templatecount, 2);
    QVERIFY(!TemplatesWrite(templatecount));
    scanTemplate[0].HVch1 = 999;
    QVERIFY(TemplateStartupWrite());
    const int first = TemplateBytes(SampleTemplate(0)).size();
    QCOMPARE(root->readFile(FixedPath(TemplatesFile)),
             TemplateBytes(scanTemplate[0]) + bytes.mid(first));
}

// Run as root in a folder of another user, a new data file is that user's; a replaced one
// keeps its owner.
void TestDataFiles::newFileOwnedLikeFolder()
{
    if (geteuid() != 0)
        QSKIP("needs root");
    const QByteArray folder = QFile::encodeName(root->path(kKirel5Dir));
    const QByteArray path = QFile::encodeName(root->path(FixedPath(SysParamFile)));
    QCOMPARE(chown(folder.constData(), 4242, 4343), 0);
    QVERIFY(SysParamsWrite());
    struct stat st;
    QCOMPARE(stat(path.constData(), &st), 0);
    QCOMPARE(int(st.st_uid), 4242);
    QCOMPARE(int(st.st_gid), 4343);
    QCOMPARE(chown(path.constData(), 4545, 4646), 0);
    QVERIFY(SysParamsWrite());
    QCOMPARE(stat(path.constData(), &st), 0);
    QCOMPARE(int(st.st_uid), 4545);
}

void TestDataFiles::filterIconName_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("icon");
    // The colour goes by the code's last two digits: the bounds of each band.
    const QString yellow = QStringLiteral(":/img/KIREL5-Filter-Y510_i.png");
    const QString orange = QStringLiteral(":/img/KIREL5-Filter-O575_i.png");
    const QString red = QStringLiteral(":/img/KIREL5-Filter-R665_i.png");
    QTest::newRow("0 no icon") << 0 << QString();
    QTest::newRow("139 yellow") << 139 << yellow;
    QTest::newRow("140 orange") << 140 << orange;
    QTest::newRow("169 orange") << 169 << orange;
    QTest::newRow("170 red") << 170 << red;
    QTest::newRow("600 yellow") << 600 << yellow;
}

void TestDataFiles::filterIconName()
{
    QFETCH(int, code);
    QFETCH(QString, icon);
    QCOMPARE(FilterIconName(code), icon);
    QCOMPARE(FilterIconName(code).isNull(), icon.isNull());
}

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
