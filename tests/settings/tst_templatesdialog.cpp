// The template dialog driven as the operator drives it: the current-settings group, the
// table newest first, Save, Delete and Load, and the templates file they leave behind.
#include "templatesdialog.h"

#include "scanstate.h"
#include "settingssupport.h"
#include "stationfixture.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace
{

constexpr int kModel = kModelKIREL5;

ScanTempl Templ(const QString &name, int mode, int area, int resolution, int laser,
                const QString &filterLabel, int HV, const QString &folder)
{
    ScanTempl t;
    t.name = name;
    t.comment = name.isEmpty() ? QString() : name + QStringLiteral(" comment");
    t.mode = mode;
    t.area = area;
    t.scancornerL = QPointF(2, 3);
    t.scancornerR = QPointF(4, 5);
    t.scancornerC = QPointF(3, 5);
    t.resolution = resolution;
    t.laserCh1 = BYTE(laser);
    t.filterCh1 = 1;
    t.filterCh2 = 1;
    t.filterLabel = filterLabel;
    t.HVch1 = HV;
    t.folder = folder;
    return t;
}

const ScanTempl kCurrent =
    Templ("startup", kModeFluorescence, kAreaGrid, 100, 3, "Y510", 600, "/home/pi/images");
const ScanTempl kA = Templ("A", kModeIP, kArea3543, 200, 1, "IP", 750, "/home/a");
const ScanTempl kB = Templ("B", kModeIPV, kArea2040, 100, 2, "G O575", 500, "/home/b");
const ScanTempl kC = Templ("C", kModeFluorescence, kArea2340, 50, 2, "R R665", 800, "/home/c");

void ListSet(const QList<ScanTempl> &list)
{
    for (int i = 0; i < list.size(); ++i)
        scanTemplate[i] = list[i];
    templatecount = list.size();
}

// Every element and the count, to see that nothing at all changed.
QByteArray AllTemplatesBytes()
{
    QByteArray b = Be32(quint32(templatecount));
    for (const ScanTempl &t : scanTemplate)
        b += TemplateBytes(t);
    return b;
}

QTableWidget *Table(TemplatesDialog &d)
{
    return Child<QTableWidget>(&d, "tableWidget_templates");
}

QStringList RowNames(TemplatesDialog &d)
{
    QStringList names;
    for (int r = 0; r < Table(d)->rowCount(); ++r)
        names << Table(d)->item(r, 0)->text();
    return names;
}

void Press(TemplatesDialog &d, const char *button)
{
    QTest::mouseClick(Child<QPushButton>(&d, QLatin1String(button)), Qt::LeftButton);
}

QString Shown(TemplatesDialog &d, const char *label)
{
    return Child<QLabel>(&d, QLatin1String(label))->text();
}

} // namespace

class TestTemplatesDialog : public QObject
{
    Q_OBJECT

    MessageBoxCloser *boxes = nullptr;
    std::unique_ptr<TempStationRoot> root;

    bool FileWritten() { return QFile::exists(root->path(TemplatesFixedPath(kModel))); }

private slots:
    void initTestCase() { boxes = new MessageBoxCloser; }
    void cleanupTestCase() { delete boxes; }
    void init()
    {
        boxes->shown.clear();
        root = std::make_unique<TempStationRoot>();
        ResetSharedState(kModel);
    }
    void cleanup() { root.reset(); }

    void saveKeepsCurrentSettingsUnlisted_data();
    void saveKeepsCurrentSettingsUnlisted();
    void tableNewestFirst();
    void currentSettingsTexts_data();
    void currentSettingsTexts();
    void deleteClosesGap();
    void loadCopiesIntoElementZero();
    void refusedChangesNothing_data();
    void refusedChangesNothing();
};

// Element 0 stays the current settings; the template goes after the list, so that the next
// scan, which renames element 0 "startup", leaves it alone.
void TestTemplatesDialog::saveKeepsCurrentSettingsUnlisted_data()
{
    QTest::addColumn<bool>("afterB");
    QTest::addColumn<QString>("comment"); // null: left untouched
    QTest::newRow("first save, no file yet") << false << QStringLiteral("first");
    QTest::newRow("after a template, no comment") << true << QString();
}

void TestTemplatesDialog::saveKeepsCurrentSettingsUnlisted()
{
    QFETCH(bool, afterB);
    QFETCH(QString, comment);
    if (afterB)
        ListSet({kCurrent, kB});
    else
        scanTemplate[0] = kCurrent;

    TemplatesDialog d(nullptr);
    QCOMPARE(Table(d)->rowCount(), afterB ? 1 : 0);
    Child<QLineEdit>(&d, "lineEdit_name")->setText("A");
    if (!comment.isNull())
        Child<QLineEdit>(&d, "lineEdit_comment")->setText(comment);
    Press(d, "pushButton_save");

    ScanTempl current = kCurrent;
    current.name = "Last Settings";
    current.comment = "Not displayed";
    ScanTempl saved = kCurrent;
    saved.name = "A";
    saved.comment = comment.isNull() ? QLatin1String("") : comment; // empty, not null
    QList<ScanTempl> file{current};
    if (afterB)
        file << kB;
    file << saved;
    QCOMPARE(templatecount, file.size());
    QCOMPARE(TemplateBytes(scanTemplate[0]), TemplateBytes(current));
    QCOMPARE(TemplateBytes(scanTemplate[file.size() - 1]), TemplateBytes(saved));
    QCOMPARE(root->readFile(TemplatesFixedPath(kModel)), TemplatesBytes(file));
    QCOMPARE(RowNames(d), afterB ? QStringList({"A", "B"}) : QStringList({"A"}));
}

void TestTemplatesDialog::tableNewestFirst()
{
    ScanTempl c = kC;
    c.laserCh2 = 0;
    c.filterCh2 = 3;
    c.HVch2 = 0;
    ListSet({kCurrent, kA, kB, c});

    TemplatesDialog d(nullptr);
    QTableWidget *table = Table(d);
    QCOMPARE(RowNames(d), (QStringList{"C", "B", "A"}));
    QCOMPARE(table->columnCount(), 12);
    const QStringList cells = {"C",     "C comment", "Fluorescence", "23x40cm", "50",
                               "473nm", "none",      "R R665",       "3",       "800",
                               "0",     "/home/c"};
    for (int col = 0; col < 12; ++col)
        QCOMPARE(table->item(0, col)->text(), cells[col]);
}

void TestTemplatesDialog::currentSettingsTexts_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<int>("laser");
    QTest::addColumn<int>("HV");
    QTest::addColumn<QString>("slot0");     // wavelength the poll found in laser slot 0
    QTest::addColumn<QStringList>("texts"); // mode, area, resolution, laser, HV

    // The stored laser is the laser code plus one: codes 1 and 2 are the lasers of slots 0
    // and 1, 4 the 635 nm, 8 the 670 nm laser, 16 the 685 nm diode.
    QTest::newRow("IP, 35x43, no laser") << 0 << 1 << 200 << 0 << 1000 << "473"
                                         << QStringList{"IP", "35x43cm", "200µm", "none", "1000 V"};
    QTest::newRow("digitizing, 20x25, slot-0 laser")
        << 3 << 5 << 25 << 2 << 250 << "473"
        << QStringList{"Digitizing", "20x25cm", " 25µm", "473nm", " 250 V"};
    QTest::newRow("slot 0 holds the 532 nm laser")
        << 2 << 0 << 100 << 2 << 600 << "532"
        << QStringList{"Fluorescence", "Grid", "100µm", "532nm", " 600 V"};
    QTest::newRow("slot-1 laser") << 2 << 0 << 100 << 3 << 600 << "473"
                                  << QStringList{"Fluorescence", "Grid", "100µm", "532nm",
                                                 " 600 V"};
    QTest::newRow("635nm") << 0 << 0 << 100 << 5 << 750 << "473"
                           << QStringList{"IP", "Grid", "100µm", "635nm", " 750 V"};
    QTest::newRow("670nm") << 2 << 0 << 100 << 9 << 600 << "473"
                           << QStringList{"Fluorescence", "Grid", "100µm", "670nm", " 600 V"};
    QTest::newRow("685nm diode") << 2 << 0 << 100 << 17 << 600 << "473"
                                 << QStringList{"Fluorescence", "Grid", "100µm", "685nm", " 600 V"};
    QTest::newRow("laser value of no laser shows the number")
        << 1 << 0 << 50 << 7 << 750 << "473" << QStringList{"IP-V", "Grid", " 50µm", "7", " 750 V"};
}

void TestTemplatesDialog::currentSettingsTexts()
{
    QFETCH(int, mode);
    QFETCH(int, area);
    QFETCH(int, resolution);
    QFETCH(int, laser);
    QFETCH(int, HV);
    QFETCH(QString, slot0);
    QFETCH(QStringList, texts);
    laserCh1wavelength[1] = slot0;
    ScanTempl t = Templ("X", mode, area, resolution, laser, "G O575", HV, "/home/x");
    t.laserCh2 = BYTE(laser);
    ListSet({kCurrent, t});
    scanTemplate[0] = t;

    TemplatesDialog d(nullptr);
    QCOMPARE(Shown(d, "label_modetext"), texts[0]);
    QCOMPARE(Shown(d, "label_areatext"), texts[1]);
    QCOMPARE(Shown(d, "label_resolutiontext"), texts[2]);
    QCOMPARE(Shown(d, "label_laserch1text"), texts[3]);
    QCOMPARE(Shown(d, "label_HVch1text"), texts[4]);
    QCOMPARE(Shown(d, "label_filterch1text"), QStringLiteral("G O575"));
    QCOMPARE(Shown(d, "label_foldertext"), QStringLiteral("/home/x"));
    // The table names the lasers by the same rule, on both channels.
    QCOMPARE(Table(d)->item(0, 5)->text(), texts[3]);
    QCOMPARE(Table(d)->item(0, 6)->text(), texts[3]);
}

void TestTemplatesDialog::deleteClosesGap()
{
    ListSet({kCurrent, kA, kB, kC});

    TemplatesDialog d(nullptr);
    Table(d)->selectRow(1);
    Press(d, "pushButton_Delete");

    QCOMPARE(templatecount, 3);
    QCOMPARE(RowNames(d), (QStringList{"C", "A"}));
    QCOMPARE(root->readFile(TemplatesFixedPath(kModel)), TemplatesBytes({kCurrent, kA, kC}));
    QCOMPARE(TemplateBytes(scanTemplate[2]), TemplateBytes(kC));
    // The scan request writes one record past the list: that record must end the list
    // instead of repeating the last template.
    QCOMPARE(TemplateBytes(scanTemplate[3]), TemplateBytes(ScanTempl()));
}

void TestTemplatesDialog::loadCopiesIntoElementZero()
{
    ListSet({kCurrent, kA, kB, kC});

    TemplatesDialog d(nullptr);
    Table(d)->selectRow(0);
    Press(d, "pushButton_Delete_2");

    QCOMPARE(templateload, 1);
    QCOMPARE(TemplateBytes(scanTemplate[0]), TemplateBytes(kC));
    QCOMPARE(templatecount, 4);
    // The group shows the loaded template; how it words each setting is the test above's.
    QCOMPARE(Shown(d, "label_areatext"), QStringLiteral("23x40cm"));
    QCOMPARE(Shown(d, "label_foldertext"), QStringLiteral("/home/c"));
    QVERIFY(!FileWritten());
}

// Refused or failed, a button leaves the list, element 0 and the file as they were.
void TestTemplatesDialog::refusedChangesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("full");     // the list holds every template it can
    QTest::addColumn<QString>("name");  // typed for the new template
    QTest::addColumn<bool>("blocked");  // a folder in the file's place, row 1 selected
    QTest::addColumn<QString>("title"); // the box, empty for none
    QTest::addColumn<QString>("says");  // part of its text; the file's path when blocked
    const QString input = QStringLiteral("Input Error");
    // With the focus the table has a current row, yet nothing is selected.
    QTest::newRow("Delete, nothing selected")
        << "pushButton_Delete" << false << "D" << false << QString() << QString();
    QTest::newRow("Load, nothing selected")
        << "pushButton_Delete_2" << false << "D" << false << QString() << QString();
    QTest::newRow("Save without a name") << "pushButton_save" << false << "" << false << input
                                         << "Please enter a name for this new template";
    QTest::newRow("Save to a full list")
        << "pushButton_save" << true << "one too many" << false << input << "full";
    // No one, not even root, can write the file through a folder.
    QTest::newRow("Save, file unwritable")
        << "pushButton_save" << false << "D" << true << "FILE ERROR" << QString();
    QTest::newRow("Delete, file unwritable")
        << "pushButton_Delete" << false << "D" << true << "FILE ERROR" << QString();
}

void TestTemplatesDialog::refusedChangesNothing()
{
    QFETCH(QString, button);
    QFETCH(bool, full);
    QFETCH(QString, name);
    QFETCH(bool, blocked);
    QFETCH(QString, title);
    QFETCH(QString, says);
    QList<ScanTempl> list{kCurrent, kA, kB, kC};
    for (int i = list.size(); full && i < kMaxTemplates; ++i)
        list << Templ(QStringLiteral("T%1").arg(i), 0, 0, 200, 0, "IP", 750, "/home");
    ListSet(list);
    const QByteArray before = AllTemplatesBytes();
    if (blocked) {
        QVERIFY(QDir().mkpath(root->path(TemplatesFixedPath(kModel))));
        says = root->path(TemplatesFixedPath(kModel));
    }

    TemplatesDialog d(nullptr);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    const QStringList rows = RowNames(d);
    QCOMPARE(rows.size(), list.size() - 1);
    Child<QLineEdit>(&d, "lineEdit_name")->setText(name);
    Child<QLineEdit>(&d, "lineEdit_comment")->setText("refused");
    if (blocked) {
        Table(d)->selectRow(1);
    } else {
        Table(d)->setFocus();
        QTRY_VERIFY(Table(d)->hasFocus());
        QVERIFY(Table(d)->selectionModel()->selectedRows().isEmpty());
    }
    Press(d, button.toLatin1().constData());

    if (title.isEmpty())
        QVERIFY(boxes->shown.isEmpty());
    else
        QVERIFY(boxes->OneShown(title, says));
    QCOMPARE(AllTemplatesBytes(), before);
    QCOMPARE(templateload, 0);
    QCOMPARE(RowNames(d), rows);
    QCOMPARE(Shown(d, "label_modetext"), QStringLiteral("Fluorescence"));
    QCOMPARE(FileWritten(), blocked); // the folder, nothing written
}

QTEST_MAIN(TestTemplatesDialog)
#include "tst_templatesdialog.moc"
