// The four data files: their exact bytes, the loaders' end-of-list rules and caps, the
// defaults that stand in for missing, short or damaged files, the KIREL-3000 tray and the
// filter icon rule.
#include "datafiles.h"
#include "scanstate.h"
#include "stationfixture.h"
#include "stationpaths.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

namespace
{

const QString kKirel5Dir = QStringLiteral("/home/pi/KIREL5-IR/");

// Expected file content, built field by field from the record layouts: big-endian integers,
// strings as a 32-bit byte count and UTF-16BE code units, IEEE doubles. Deliberately does
// not use QDataStream, so that it checks the writers rather than repeating them.
class Bytes
{
public:
    Bytes &i32(qint32 v)
    {
        const quint32 u = quint32(v);
        for (int shift = 24; shift >= 0; shift -= 8)
            data.append(char((u >> shift) & 0xFF));
        return *this;
    }
    Bytes &u8(quint8 v)
    {
        data.append(char(v));
        return *this;
    }
    Bytes &f64(double v)
    {
        quint64 u;
        std::memcpy(&u, &v, sizeof u);
        for (int shift = 56; shift >= 0; shift -= 8)
            data.append(char((u >> shift) & 0xFF));
        return *this;
    }
    // A null string is the count 0xFFFFFFFF alone; an empty one the count 0.
    Bytes &str(const QString &s)
    {
        if (s.isNull())
            return i32(-1);
        i32(s.size() * 2);
        for (const QChar c : s) {
            data.append(char(c.unicode() >> 8));
            data.append(char(c.unicode() & 0xFF));
        }
        return *this;
    }
    Bytes &point(const QPointF &p) { return f64(p.x()).f64(p.y()); }
    Bytes &templ(const ScanTempl &t)
    {
        str(t.name).str(t.comment).i32(t.mode).i32(t.area);
        point(t.scancornerL).point(t.scancornerR).point(t.scancornerC);
        i32(t.resolution).u8(t.laserCh1).u8(t.laserCh2).i32(t.filterCh1).i32(t.filterCh2);
        return str(t.filterLabel).i32(t.HVch1).i32(t.HVch2).str(t.folder);
    }
    Bytes &module(const FilterMod &m)
    {
        return str(m.filterlabel)
            .i32(m.filterCh1)
            .str(m.labelCh1)
            .i32(m.filterCh2)
            .str(m.labelCh2)
            .i32(m.filterType);
    }

    QByteArray data;
};

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
    FilterMod m;
    m.filterlabel = QStringLiteral("Mod %1").arg(n);
    m.filterCh1 = 510 + n;
    m.labelCh1 = QStringLiteral("Y%1").arg(510 + n);
    m.filterCh2 = n % 2 ? 0 : 665;
    m.labelCh2 = n % 2 ? QString() : QStringLiteral("R665");
    m.filterType = 100 * n;
    return m;
}

bool SameTemplate(const ScanTempl &a, const ScanTempl &b)
{
    return a.name == b.name && a.comment == b.comment && a.mode == b.mode && a.area == b.area &&
           a.scancornerL == b.scancornerL && a.scancornerR == b.scancornerR &&
           a.scancornerC == b.scancornerC && a.resolution == b.resolution &&
           a.laserCh1 == b.laserCh1 && a.laserCh2 == b.laserCh2 && a.filterCh1 == b.filterCh1 &&
           a.filterCh2 == b.filterCh2 && a.filterLabel == b.filterLabel && a.HVch1 == b.HVch1 &&
           a.HVch2 == b.HVch2 && a.folder == b.folder;
}

bool SameModule(const FilterMod &a, const FilterMod &b)
{
    return a.filterlabel == b.filterlabel && a.filterCh1 == b.filterCh1 &&
           a.labelCh1 == b.labelCh1 && a.filterCh2 == b.filterCh2 && a.labelCh2 == b.labelCh2 &&
           a.filterType == b.filterType;
}

bool IsEmptyTrayPosition(const FilterMod &m)
{
    return m.filterlabel.isEmpty() && m.labelCh1.isEmpty() && m.labelCh2.isEmpty() &&
           m.filterCh1 == 0 && m.filterCh2 == 0 && m.filterType == 0;
}

enum DataFile { TemplatesFile, TrayFile, SysParamFile, ModuleFile };

QString FixedPath(DataFile file)
{
    switch (file) {
    case TemplatesFile:
        return kKirel5Dir + QStringLiteral("scan_templates.tpl");
    case TrayFile:
        return kKirel5Dir + QStringLiteral("filtertray.fil");
    case SysParamFile:
        return kKirel5Dir + QStringLiteral("sysparam.dat");
    case ModuleFile:
        return kKirel5Dir + QStringLiteral("filtermodule.fil");
    }
    return QString();
}

bool Write(DataFile file)
{
    switch (file) {
    case TemplatesFile:
        return TemplatesWrite(1);
    case TrayFile:
        return FilterTrayWrite();
    case SysParamFile:
        return SysParamsWrite();
    case ModuleFile:
        return FilterModulesWrite();
    }
    return false;
}

// Runs `action` with the standard error stream going to a file and returns what it printed.
QByteArray CapturedStderr(const std::function<void()> &action)
{
    QTemporaryFile capture;
    if (!capture.open())
        return QByteArray();
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(capture.handle(), STDERR_FILENO);
    action();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    capture.seek(0);
    return capture.readAll();
}

// Number of records that end within the first `cut` bytes.
int WholeRecords(const QVector<int> &ends, int cut)
{
    return int(std::count_if(ends.begin(), ends.end(), [cut](int end) { return end <= cut; }));
}

} // namespace

Q_DECLARE_METATYPE(DataFile)

class TestDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void paths_data();
    void paths();

    void templateBytes();
    void templatesRoundTrip();
    void templatesTrace();
    void listEnd_data();
    void listEnd();
    void templatesCap();
    void templatesWriteCap_data();
    void templatesWriteCap();
    void modulesCap();
    void moduleBytes();

    void truncatedTemplates();
    void truncatedModules();
    void truncatedTray();
    void truncatedSysParams();
    void damagedTemplates_data();
    void damagedTemplates();
    void damagedModules_data();
    void damagedModules();
    void reloadClearsElementPastList();

    void sysParams();
    void trayRoundTrip();
    void missingTrayIsEmpty();
    void kirel3Tray_data();
    void kirel3Tray();

    void writeFailure_data();
    void writeFailure();

    void filterIconName_data();
    void filterIconName();
    void filterIconsUpdate();

private:
    QScopedPointer<TempStationRoot> root;
};

void TestDataFiles::init()
{
    root.reset(new TempStationRoot);
    QVERIFY(root->isValid());
    ResetSharedState(kModelKIREL5);
}

void TestDataFiles::cleanup()
{
    root.reset();
}

void TestDataFiles::paths_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("dataDir");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5) << kKirel5Dir;
    QTest::newRow("KIREL-3000") << int(kModelKIREL3) << QStringLiteral("/home/pi/KIREL3-IR/");
    QTest::newRow("VESK-5000") << int(kModelVESK5000) << QStringLiteral("/home/pi/VESK-IR/");
    QTest::newRow("VESK-1800II") << int(kModelVESK1800) << QStringLiteral("/home/pi/VESK-IR/");
}

// Templates and system parameters follow the model; both filter files stay with the
// KIREL-5000/5100.
void TestDataFiles::paths()
{
    QFETCH(int, model);
    QFETCH(QString, dataDir);
    ScannerType = model;
    QCOMPARE(TemplatesFilePath(), root->path(dataDir + QStringLiteral("scan_templates.tpl")));
    QCOMPARE(SysParamFilePath(), root->path(dataDir + QStringLiteral("sysparam.dat")));
    QCOMPARE(FilterTrayFilePath(), root->path(FixedPath(TrayFile)));
    QCOMPARE(FilterModuleFilePath(), root->path(FixedPath(ModuleFile)));
}

void TestDataFiles::templateBytes()
{
    scanTemplate[0] = SampleTemplate(0);
    scanTemplate[1] = SampleTemplate(1);
    QVERIFY(TemplatesWrite(3)); // record 2 is the empty record that ends the list

    const QByteArray file = root->readFile(FixedPath(TemplatesFile));
    // "startup": 14 bytes of UTF-16BE after the count.
    QCOMPARE(file.left(18).toHex(), QByteArray("0000000e0073007400610072007400750070"));
    Bytes expected;
    expected.templ(SampleTemplate(0)).templ(SampleTemplate(1)).templ(ScanTempl());
    QCOMPARE(file.toHex(), expected.data.toHex());
}

void TestDataFiles::templatesRoundTrip()
{
    for (int i = 0; i < 3; ++i)
        scanTemplate[i] = SampleTemplate(i);
    QVERIFY(TemplatesWrite(4));

    ResetSharedState(kModelKIREL5);
    scanTemplate[1].filterType = 42; // not in the file: a loaded template keeps it
    TemplatesLoad();
    QCOMPARE(templatecount, 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(SameTemplate(scanTemplate[i], SampleTemplate(i)), qPrintable(QString::number(i)));
    QCOMPARE(scanTemplate[1].filterType, 42);
    QVERIFY(scanTemplate[3].name.isEmpty());
}

// The scan request's service lines after each record, on standard error.
void TestDataFiles::templatesTrace()
{
    scanTemplate[0] = SampleTemplate(0);
    const QByteArray printed = CapturedStderr([] { QVERIFY(TemplatesWrite(2, true)); });
    QCOMPARE(printed, QByteArray("Template 0  Laser 4\nTemplate 0  Filter 2\n"
                                 "Template 1  Laser 0\nTemplate 1  Filter 0\n"));
    QVERIFY(CapturedStderr([] { TemplatesWrite(2); }).isEmpty());
}

void TestDataFiles::listEnd_data()
{
    QTest::addColumn<DataFile>("file");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("before");
    QTest::newRow("templates, null name after one") << TemplatesFile << QString() << 1;
    QTest::newRow("templates, empty name after one") << TemplatesFile << QStringLiteral("") << 1;
    QTest::newRow("templates, empty first name") << TemplatesFile << QStringLiteral("") << 0;
    QTest::newRow("modules, null label after two") << ModuleFile << QString() << 2;
    QTest::newRow("modules, empty label after two") << ModuleFile << QStringLiteral("") << 2;
    QTest::newRow("modules, null first label") << ModuleFile << QString() << 0;
}

// A null and an empty first field both end the list, whatever follows them.
void TestDataFiles::listEnd()
{
    QFETCH(DataFile, file);
    QFETCH(QString, ending);
    QFETCH(int, before);
    Bytes b;
    if (file == TemplatesFile) {
        for (int i = 0; i < before; ++i)
            b.templ(SampleTemplate(i));
        ScanTempl end = SampleTemplate(7);
        end.name = ending;
        b.templ(end).templ(SampleTemplate(8));
        QVERIFY(root->writeFile(FixedPath(file), b.data));
        TemplatesLoad();
        QCOMPARE(templatecount, before);
        QVERIFY(scanTemplate[before].name.isEmpty());
    } else {
        for (int i = 0; i < before; ++i)
            b.module(SampleModule(i));
        FilterMod end = SampleModule(7);
        end.filterlabel = ending;
        b.module(end).module(SampleModule(8));
        QVERIFY(root->writeFile(FixedPath(file), b.data));
        FilterModulesLoad();
        QCOMPARE(filtercount, before);
        QVERIFY(filterModule[before].filterlabel.isEmpty());
    }
}

void TestDataFiles::templatesCap()
{
    Bytes b;
    for (int i = 0; i < kMaxTemplates + 5; ++i)
        b.templ(SampleTemplate(i));
    QVERIFY(root->writeFile(FixedPath(TemplatesFile), b.data));
    TemplatesLoad();
    QCOMPARE(templatecount, kMaxTemplates);
    QVERIFY(SameTemplate(scanTemplate[kMaxTemplates - 1], SampleTemplate(kMaxTemplates - 1)));
}

void TestDataFiles::templatesWriteCap_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("written");
    QTest::newRow("far past the array") << 150 << kMaxTemplates;
    QTest::newRow("one past the array") << kMaxTemplates + 1 << kMaxTemplates;
    QTest::newRow("whole array") << kMaxTemplates << kMaxTemplates;
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("negative") << -3 << 0;
}

void TestDataFiles::templatesWriteCap()
{
    QFETCH(int, count);
    QFETCH(int, written);
    Bytes expected;
    for (int i = 0; i < kMaxTemplates; ++i) {
        scanTemplate[i] = SampleTemplate(i);
        if (i < written)
            expected.templ(scanTemplate[i]);
    }
    QVERIFY(TemplatesWrite(count));
    QCOMPARE(root->readFile(FixedPath(TemplatesFile)), expected.data);
}

void TestDataFiles::modulesCap()
{
    Bytes b;
    for (int i = 0; i < kMaxFilterModules + 5; ++i)
        b.module(SampleModule(i));
    QVERIFY(root->writeFile(FixedPath(ModuleFile), b.data));
    FilterModulesLoad();
    QCOMPARE(filtercount, kMaxFilterModules);
    QVERIFY(SameModule(filterModule[kMaxFilterModules - 1], SampleModule(kMaxFilterModules - 1)));

    // A count past the array writes the 50 modules that exist and no more.
    filtercount = kMaxFilterModules + 20;
    QVERIFY(FilterModulesWrite());
    Bytes expected;
    for (int i = 0; i < kMaxFilterModules; ++i)
        expected.module(SampleModule(i));
    QCOMPARE(root->readFile(FixedPath(ModuleFile)), expected.data);
}

void TestDataFiles::moduleBytes()
{
    filterModule[0].filterlabel = QStringLiteral("LPR");
    filterModule[0].filterCh1 = 580;
    filterModule[0].labelCh1 = QStringLiteral("R");
    filterModule[0].filterCh2 = 0;
    filterModule[0].labelCh2 = QString();
    filterModule[0].filterType = 800;
    filtercount = 1;
    QVERIFY(FilterModulesWrite());
    QCOMPARE(root->readFile(FixedPath(ModuleFile)).toHex(' '),
             QByteArray("00 00 00 06 00 4c 00 50 00 52 00 00 02 44 00 00 00 02 00 52 "
                        "00 00 00 00 ff ff ff ff 00 00 03 20"));
}

// Every prefix of a three-record file loads the records that are whole in it, and never a
// half-read one.
void TestDataFiles::truncatedTemplates()
{
    Bytes b;
    QVector<int> ends;
    for (int i = 0; i < 3; ++i)
        ends << b.templ(SampleTemplate(i)).data.size();
    for (int cut = 0; cut <= b.data.size(); ++cut) {
        ResetSharedState(kModelKIREL5);
        QVERIFY(root->writeFile(FixedPath(TemplatesFile), b.data.left(cut)));
        TemplatesLoad();
        const int whole = WholeRecords(ends, cut);
        QVERIFY2(templatecount == whole, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        for (int i = 0; i < whole; ++i)
            QVERIFY(SameTemplate(scanTemplate[i], SampleTemplate(i)));
        QVERIFY2(SameTemplate(scanTemplate[whole], ScanTempl()),
                 qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
}

void TestDataFiles::truncatedModules()
{
    Bytes b;
    QVector<int> ends;
    for (int i = 0; i < 3; ++i)
        ends << b.module(SampleModule(i)).data.size();
    for (int cut = 0; cut <= b.data.size(); ++cut) {
        ResetSharedState(kModelKIREL5);
        QVERIFY(root->writeFile(FixedPath(ModuleFile), b.data.left(cut)));
        FilterModulesLoad();
        const int whole = WholeRecords(ends, cut);
        QVERIFY2(filtercount == whole, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        for (int i = 0; i < whole; ++i)
            QVERIFY(SameModule(filterModule[i], SampleModule(i)));
        QVERIFY(SameModule(filterModule[whole], FilterMod()));
    }
}

void TestDataFiles::truncatedTray()
{
    Bytes b;
    QVector<int> ends;
    for (int i = 0; i < kTrayPositions; ++i)
        ends << b.module(SampleModule(i)).data.size();
    for (int cut = 0; cut <= b.data.size(); ++cut) {
        QVERIFY(root->writeFile(FixedPath(TrayFile), b.data.left(cut)));
        FilterTrayLoad();
        for (int i = 0; i < kTrayPositions; ++i) {
            const QString where = QStringLiteral("cut at %1, position %2").arg(cut).arg(i);
            if (ends[i] <= cut)
                QVERIFY2(SameModule(filterTray[i], SampleModule(i)), qPrintable(where));
            else
                QVERIFY2(IsEmptyTrayPosition(filterTray[i]), qPrintable(where));
        }
    }
}

void TestDataFiles::truncatedSysParams()
{
    const QByteArray file = Bytes().i32(1).i32(1).i32(0).i32(0).i32(1).data;
    const int fromFile[5] = {1, 1, 0, 0, 1};
    const int defaults[5] = {0, 0, 1, 1, 0};
    for (int cut = 0; cut <= file.size(); ++cut) {
        QVERIFY(root->writeFile(FixedPath(SysParamFile), file.left(cut)));
        SysParamsLoad();
        const int loaded[5] = {sysparams.rawdatasave, sysparams.shadingdatasave, sysparams.bootlog,
                               sysparams.scanlog, sysparams.readlog};
        for (int i = 0; i < 5; ++i)
            QVERIFY2(loaded[i] == ((i + 1) * 4 <= cut ? fromFile[i] : defaults[i]),
                     qPrintable(QStringLiteral("cut at %1, value %2").arg(cut).arg(i)));
    }
}

// Garbage made by a fixed seed, so that every run sees the same bytes.
static QByteArray Garbage(quint32 seed, int size)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

void TestDataFiles::damagedTemplates_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("expectedCount"); // -1: any count, as long as loading ends
    const QByteArray one = Bytes().templ(SampleTemplate(0)).data;
    QTest::newRow("name longer than the file") << Bytes().i32(0x7ffffffe).str("ab").data << 0;
    QTest::newRow("name count 0xfffffffe") << Bytes().i32(-2).data << 0;
    QTest::newRow("odd name count") << Bytes().i32(3).u8('a').u8(0).u8('b').data << 0;
    ScanTempl bad = SampleTemplate(1);
    bad.folder = QStringLiteral("/x");
    QByteArray second = Bytes().templ(bad).data;
    second.replace(second.size() - 8, 4, Bytes().i32(0x40000000).data); // folder count
    QTest::newRow("folder longer than the file") << one + second << 1;
    QTest::newRow("garbage") << Garbage(1, 64 * 1024) << -1;
    QTest::newRow("garbage after a record") << one + Garbage(2, 4096) << -1;
}

void TestDataFiles::damagedTemplates()
{
    QFETCH(QByteArray, file);
    QFETCH(int, expectedCount);
    QVERIFY(root->writeFile(FixedPath(TemplatesFile), file));
    TemplatesLoad();
    if (expectedCount >= 0)
        QCOMPARE(templatecount, expectedCount);
    QVERIFY(templatecount >= 0 && templatecount <= kMaxTemplates);
    if (expectedCount > 0)
        QVERIFY(SameTemplate(scanTemplate[0], SampleTemplate(0)));
    if (templatecount < kMaxTemplates)
        QVERIFY(scanTemplate[templatecount].name.isEmpty());
}

void TestDataFiles::damagedModules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("expectedCount");
    const QByteArray one = Bytes().module(SampleModule(0)).data;
    QTest::newRow("label longer than the file") << Bytes().i32(0x7ffffffe).data << 0;
    QTest::newRow("channel 1 label longer than the file")
        << one + Bytes().str("M").i32(520).i32(0x20000000).str("x").data << 1;
    QTest::newRow("garbage") << Garbage(3, 64 * 1024) << -1;
}

void TestDataFiles::damagedModules()
{
    QFETCH(QByteArray, file);
    QFETCH(int, expectedCount);
    QVERIFY(root->writeFile(FixedPath(ModuleFile), file));
    FilterModulesLoad();
    if (expectedCount >= 0)
        QCOMPARE(filtercount, expectedCount);
    QVERIFY(filtercount >= 0 && filtercount <= kMaxFilterModules);
    if (filtercount < kMaxFilterModules)
        QVERIFY(filterModule[filtercount].filterlabel.isEmpty());
}

// A shorter file loaded over a longer list leaves no stale record just past the new end,
// where a writer would pick it up again (a module file is written with at least record 0).
void TestDataFiles::reloadClearsElementPastList()
{
    for (int i = 0; i < 3; ++i)
        filterModule[i] = SampleModule(i);
    QVERIFY(root->writeFile(FixedPath(ModuleFile), Bytes().module(SampleModule(0)).data));
    FilterModulesLoad();
    QCOMPARE(filtercount, 1);
    QVERIFY(filterModule[1].filterlabel.isEmpty());
    QVERIFY(FilterModulesWrite());
    FilterModulesLoad();
    QCOMPARE(filtercount, 1);

    // With no module left the file still holds record 0, whose null label ends the list.
    QVERIFY(root->writeFile(FixedPath(ModuleFile), QByteArray()));
    FilterModulesLoad();
    QCOMPARE(filtercount, 0);
    QVERIFY(FilterModulesWrite());
    QCOMPARE(root->readFile(FixedPath(ModuleFile)), Bytes().module(FilterMod()).data);
}

// Without a file the boot and scan logs are on and everything else off.
void TestDataFiles::sysParams()
{
    SysParamsLoad();
    QCOMPARE(sysparams.rawdatasave, 0);
    QCOMPARE(sysparams.shadingdatasave, 0);
    QCOMPARE(sysparams.bootlog, 1);
    QCOMPARE(sysparams.scanlog, 1);
    QCOMPARE(sysparams.readlog, 0);

    sysparams = {1, 0, 0, 1, 1};
    QVERIFY(SysParamsWrite());
    QCOMPARE(root->readFile(FixedPath(SysParamFile)).toHex(),
             QByteArray("0000000100000000000000000000000100000001"));
    sysparams = SystemParams();
    SysParamsLoad();
    QCOMPARE(sysparams.rawdatasave, 1);
    QCOMPARE(sysparams.bootlog, 0);
    QCOMPARE(sysparams.readlog, 1);
}

void TestDataFiles::trayRoundTrip()
{
    for (int i = 0; i < kTrayPositions; ++i)
        filterTray[i] = SampleModule(i);
    QVERIFY(FilterTrayWrite());
    Bytes expected;
    for (int i = 0; i < kTrayPositions; ++i)
        expected.module(SampleModule(i));
    QCOMPARE(root->readFile(FixedPath(TrayFile)), expected.data);

    ResetSharedState(kModelVESK5000); // the tray file is shared by every model
    FilterTrayLoad();
    for (int i = 0; i < kTrayPositions; ++i)
        QVERIFY(SameModule(filterTray[i], SampleModule(i)));
}

// The loader presets empty (not null) strings: a tray written back without a file keeps
// zero-length labels.
void TestDataFiles::missingTrayIsEmpty()
{
    filterTray[2] = SampleModule(2);
    FilterTrayLoad();
    for (const auto &position : filterTray) {
        QVERIFY(IsEmptyTrayPosition(position));
        QVERIFY(!position.filterlabel.isNull());
    }
    QVERIFY(FilterTrayWrite());
    QCOMPARE(root->readFile(FixedPath(TrayFile)).size(), kTrayPositions * 24);
}

void TestDataFiles::kirel3Tray_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("withFile");
    QTest::newRow("KIREL-3000 without tray file") << int(kModelKIREL3) << false;
    QTest::newRow("KIREL-3000 with another tray") << int(kModelKIREL3) << true;
    QTest::newRow("KIREL-5000/5100 keeps its tray") << int(kModelKIREL5) << true;
}

// The KIREL-3000's channel 1 is fixed whatever the file holds; channel 2 comes from the file.
void TestDataFiles::kirel3Tray()
{
    QFETCH(int, model);
    QFETCH(bool, withFile);
    if (withFile) {
        Bytes b;
        for (int i = 0; i < kTrayPositions; ++i)
            b.module(SampleModule(i));
        QVERIFY(root->writeFile(FixedPath(TrayFile), b.data));
    }
    ScannerType = model;
    FilterTrayLoad();

    struct Fixed {
        const char *label;
        int ch1;
        const char *labelCh1;
        int type;
    };
    const Fixed fixed[kTrayPositions] = {{"IP", 520, "IP", 100},
                                         {"LPR", 580, "R R665", 800},
                                         {"LPG", 550, "G O575", 500},
                                         {"LPB", 520, "B Y520", 200}};
    for (int i = 0; i < kTrayPositions; ++i) {
        const FilterMod fromFile = withFile ? SampleModule(i) : FilterMod();
        if (model != kModelKIREL3) {
            QVERIFY(SameModule(filterTray[i], fromFile));
            continue;
        }
        QCOMPARE(filterTray[i].filterlabel, QString::fromLatin1(fixed[i].label));
        QCOMPARE(filterTray[i].filterCh1, fixed[i].ch1);
        QCOMPARE(filterTray[i].labelCh1, QString::fromLatin1(fixed[i].labelCh1));
        QCOMPARE(filterTray[i].filterType, fixed[i].type);
        QCOMPARE(filterTray[i].filterCh2, fromFile.filterCh2);
        QCOMPARE(filterTray[i].labelCh2, fromFile.labelCh2); // a null label equals an empty one
    }
}

void TestDataFiles::writeFailure_data()
{
    QTest::addColumn<DataFile>("file");
    QTest::addColumn<bool>("folderMissing");
    const DataFile files[] = {TemplatesFile, TrayFile, SysParamFile, ModuleFile};
    const char *names[] = {"templates", "tray", "system parameters", "modules"};
    for (int i = 0; i < 4; ++i) {
        QTest::newRow(qPrintable(QStringLiteral("%1, no data folder").arg(names[i])))
            << files[i] << true;
        QTest::newRow(qPrintable(QStringLiteral("%1, folder in the way").arg(names[i])))
            << files[i] << false;
    }
}

// Tests run as root, so permissions cannot make a file unwritable: a missing folder or a
// folder standing where the file should be does.
void TestDataFiles::writeFailure()
{
    QFETCH(DataFile, file);
    QFETCH(bool, folderMissing);
    if (folderMissing)
        QVERIFY(QDir(root->path(kKirel5Dir)).removeRecursively());
    else
        QVERIFY(QDir().mkpath(root->path(FixedPath(file))));
    QVERIFY(!Write(file));
    QCOMPARE(QFileInfo(root->path(FixedPath(file))).isDir(), !folderMissing);
}

void TestDataFiles::filterIconName_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("icon");
    const QString yellow = QStringLiteral(":/img/KIREL5-Filter-Y510_i.png");
    const QString orange = QStringLiteral(":/img/KIREL5-Filter-O575_i.png");
    const QString red = QStringLiteral(":/img/KIREL5-Filter-R665_i.png");
    QTest::newRow("0 no icon") << 0 << QString();
    QTest::newRow("520 yellow") << 520 << yellow;
    QTest::newRow("550 orange") << 550 << orange;
    QTest::newRow("580 red") << 580 << red;
    QTest::newRow("139 yellow") << 139 << yellow;
    QTest::newRow("140 orange") << 140 << orange;
    QTest::newRow("169 orange") << 169 << orange;
    QTest::newRow("170 red") << 170 << red;
    QTest::newRow("600 yellow") << 600 << yellow;
    QTest::newRow("999 red") << 999 << red;
}

void TestDataFiles::filterIconName()
{
    QFETCH(int, code);
    QFETCH(QString, icon);
    QCOMPARE(FilterIconName(code), icon);
    QCOMPARE(FilterIconName(code).isNull(), icon.isNull());
}

void TestDataFiles::filterIconsUpdate()
{
    const int ch1[kTrayPositions] = {520, 0, 550, 580};
    const int ch2[kTrayPositions] = {0, 665, 139, 570};
    for (int i = 0; i < kTrayPositions; ++i) {
        filterTray[i].filterCh1 = ch1[i];
        filterTray[i].filterCh2 = ch2[i];
        iconnameCh1Pos[i] = iconnameCh2Pos[i] = QStringLiteral("stale");
    }
    FilterIconsUpdate();
    for (int i = 0; i < kTrayPositions; ++i) {
        QCOMPARE(iconnameCh1Pos[i], FilterIconName(ch1[i]));
        QCOMPARE(iconnameCh2Pos[i], FilterIconName(ch2[i]));
        QCOMPARE(iconCh1Pos[i].isNull(), ch1[i] == 0);
        QCOMPARE(iconCh2Pos[i].isNull(), ch2[i] == 0);
    }
}

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
