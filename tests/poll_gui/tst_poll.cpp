// The main window's status poll, driven tick by tick (ScannerTest) on the scanner model's own
// clock: from start-up to ready, a scanner that does not answer, the channel-1 laser list, the
// readers' start-up error boxes (the simulator's operator clears the loading area) and LD685.
#include "emulatedi2c.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "scannermodels.h"
#include "scanstate.h"
#include "settingssupport.h"
#include "stationpaths.h"
#include "statuswatch.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace
{

constexpr int kSelfTestMs = 3000;

// The style sheet that colours a status label or, with its class, Start Scan.
QString Colour(const char *colour, const char *widget = "QLabel")
{
    return QStringLiteral("%1 { background-color : %2; }").arg(widget, colour);
}

// A station as it starts: a temporary file-system root, fresh shared state, the emulated
// side boards, the virtual scanner of the model on its own clock, and the main window.
class Station
{
public:
    explicit Station(int model, const ScannerModelOptions &options = {}, bool ldBoard = true)
        : scanner(model, options, [this] { return nowMs; })
    {
        ResetSharedState(model);
        if (!ldBoard) {
            boards.converter.present = false;
            boards.diodeSwitch.present = false;
        }
        I2cInstallBus(&boards);
        scanner.installOnBus();
    }
    ~Station()
    {
        window.reset();
        scanner.removeFromBus();
        I2cInstallBus(nullptr);
    }

    // Builds the window, with the poll's own timer held still so that only the test ticks.
    MainWindow &open()
    {
        window.reset(new MainWindow);
        pollTimer()->stop();
        return *window;
    }
    void tick() { window->ScannerTest(); }
    void tickAt(qint64 ms)
    {
        nowMs = ms;
        tick();
    }

    QTimer *pollTimer() const
    {
        const auto timers = window->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        return timers.size() == 1 ? timers.first() : nullptr;
    }
    template <typename T> T *child(const char *name) const { return Child<T>(window.get(), name); }
    QLabel *label(const char *name) const { return child<QLabel>(name); }
    QPushButton *scanButton() const { return child<QPushButton>("pushButton_Scan"); }
    QComboBox *laserList() const { return child<QComboBox>("comboBox_Laser1"); }
    // How often the boot log holds this event or condition.
    int bootLogCount(const QString &text) const
    {
        const QString log =
            QString::fromLatin1(root.readFile(BootLogPath().mid(root.root().size())));
        return log.count(QLatin1Char(' ') + text + QLatin1Char('\n'));
    }

    TempStationRoot root;
    EmulatedI2cBus boards;
    qint64 nowMs = 0;
    ScannerModelSim scanner;
    std::unique_ptr<MainWindow> window;
};

ScannerModelOptions Options(ScannerScenario scenario = ScannerScenario::None,
                            int selfTestMs = kSelfTestMs)
{
    ScannerModelOptions o;
    o.selfTestMs = selfTestMs;
    o.scenario = scenario;
    return o;
}

QList<int> LaserCodes()
{
    QList<int> codes;
    for (int i = 0; i < laserboxindex; ++i)
        codes << laserCh1[i];
    return codes;
}

} // namespace

Q_DECLARE_METATYPE(ScannerScenario)

class TestPoll : public QObject
{
    Q_OBJECT

private slots:
    void statusUntilReady_data();
    void statusUntilReady();
    void kirel5BusyWithUnknownState();
    void noAnswerBlinks_data();
    void noAnswerBlinks();
    void channel1Lasers_data();
    void channel1Lasers();
    void laserSelectionFromTemplate_data();
    void laserSelectionFromTemplate();
    void startupErrorBoxesDoNotStack_data();
    void startupErrorBoxesDoNotStack();
};

void TestPoll::statusUntilReady_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("conditionAtReady"); // empty: the model does not show it

    const QString becomingReady = QStringLiteral("Sense key:02h Sense code:0401h");
    QTest::newRow("KIREL-5000/5100") << int(kModelKIREL5) << QString();
    QTest::newRow("KIREL-3000") << int(kModelKIREL3) << becomingReady;
    QTest::newRow("VESK-5000 plate in reader") << int(kModelVESK5000) << becomingReady;
}

// Start-up self diagnosis in yellow with Start Scan locked (the KIREL-5000/5100 with the
// side-board readings), then ready in green with Start Scan enabled, the poll over and
// "READY:" in the boot log; then the KIREL-5000/5100's LD685 switch.
void TestPoll::statusUntilReady()
{
    QFETCH(int, model);
    QFETCH(QString, conditionAtReady);

    Station s(model, Options());
    s.boards.clock.setTemperature(25.25f);
    s.boards.converter.setBoardTemperature(31.5f);
    s.boards.converter.setMonitorVoltage(0.75f);
    s.open();
    s.pollTimer()->start(); // as the constructor leaves it

    s.tickAt(0);
    if (model == kModelKIREL5) {
        QCOMPARE(s.label("labelSCSIboardTemp")->text(), QStringLiteral("SCSI Board Temp: 25.25 C"));
        QCOMPARE(s.label("labelLDtemperature")->text(),
                 QStringLiteral("LD685 Temperature: 31.5 C"));
        QCOMPARE(s.label("labelLDmonitor")->text(), QStringLiteral("LD Monitor: 0.750 V"));
    }
    QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("Startup self diagnosis"));
    QCOMPARE(s.label("labelstatus")->styleSheet(), Colour("yellow"));
    QVERIFY(!s.scanButton()->isEnabled());
    QCOMPARE(s.scanButton()->styleSheet(), Colour("rgba(255,0,0,125)", "QPushButton"));
    QVERIFY(s.pollTimer()->isActive());

    s.tickAt(kSelfTestMs - 1);
    QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("Startup self diagnosis"));
    QVERIFY(!s.scanButton()->isEnabled());
    QCOMPARE(s.bootLogCount(QStringLiteral("READY:")), 0);

    s.tickAt(kSelfTestMs);
    QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("Ready"));
    QCOMPARE(s.label("labelstatus")->styleSheet(), Colour("rgba(0,255,0,255)"));
    QVERIFY(s.scanButton()->isEnabled());
    QCOMPARE(s.scanButton()->styleSheet(), Colour("rgba(0,255,0,125)", "QPushButton"));
    QVERIFY(!s.pollTimer()->isActive());
    QCOMPARE(s.bootLogCount(QStringLiteral("READY:")), 1);

    if (model == kModelKIREL5) {
        // The readings the poll kept up to date are not refreshed any more.
        QVERIFY(s.label("labelSCSIboardTemp")->isHidden());
        QVERIFY(s.label("labelLDtemperature")->isHidden());
        QVERIFY(s.label("labelLDmonitor")->isHidden());
        // The LD685 switch turns the diode on and off (the bytes are the boards tests'
        // business) and says which.
        QPushButton *toggle = s.child<QPushButton>("pushButton_LD685toggle");
        for (const bool on : {true, false}) {
            toggle->click();
            QCOMPARE(LD685status, int(on));
            QCOMPARE(toggle->text(),
                     on ? QStringLiteral("LD685 IS ON") : QStringLiteral("LD685 IS OFF"));
            QCOMPARE(s.boards.diodeSwitch.diodeOn(), on);
        }
    } else {
        QCOMPARE(s.label("label_scannercondition")->text(), conditionAtReady);
        QVERIFY(s.label("label_statuslog")->text().endsWith(QLatin1String(" Ready")));
    }
}

// A status read whose state byte is neither self diagnosis nor ready leaves the scanner
// shown as connected and busy.
void TestPoll::kirel5BusyWithUnknownState()
{
    Station s(kModelKIREL5, Options());
    constexpr BYTE kStatusRead = 0xC1;
    constexpr int kStateByte = 32;
    const auto unknownState = [&s](VirtualScanner &, VirtualCommand &cmd) {
        QByteArray data = s.scanner.statusReadData();
        data[kStateByte] = 0;
        cmd.dataIn = data.left(cmd.byte(4));
    };
    s.scanner.scanner().setHandler(kStatusRead, {unknownState, {}, 6});
    s.open();
    s.tick();
    QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("Scanner connected - busy"));
    QCOMPARE(s.label("labelstatus")->styleSheet(), Colour("rgba(0,128,255,255)"));
    QVERIFY(!s.scanButton()->isEnabled());
    QCOMPARE(s.laserList()->count(), 0); // nothing taken over outside diagnosis and ready
}

void TestPoll::noAnswerBlinks_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<bool>("clockAnswers");
    QTest::addColumn<QStringList>("statusStyles");
    QTest::addColumn<QStringList>("tempStyles");

    const QString red = Colour("rgba(255,0,0,255)");
    const QString orange = Colour("rgba(255,128,0,255)");
    const QString g1 = Colour("rgb(0,255,0)");
    const QString g2 = Colour("rgb(0,200,0)");
    const QString tempRed = Colour("red");
    for (int model : {int(kModelKIREL5), int(kModelVESK1800)}) {
        const QByteArray name = QByteArray::number(model);
        QTest::newRow("model " + name + " blinks")
            << model << true << QStringList{red, orange, red, orange}
            << QStringList{g1, g2, g1, g2};
        QTest::newRow("model " + name + " board fails too")
            << model << false << QStringList{orange, orange, orange, orange}
            << QStringList{tempRed, tempRed, tempRed, tempRed};
    }
}

// A scanner that is switched off: the text stays, the colour blinks from tick to tick, and
// with the board-temperature reading failing as well it stays orange.
void TestPoll::noAnswerBlinks()
{
    QFETCH(int, model);
    QFETCH(bool, clockAnswers);
    QFETCH(QStringList, statusStyles);
    QFETCH(QStringList, tempStyles);

    Station s(model, Options(ScannerScenario::Off));
    s.boards.clock.present = clockAnswers;
    s.open();
    QStringList seenStatus, seenTemp;
    for (int i = 0; i < statusStyles.size(); ++i) {
        s.tickAt(kSelfTestMs * (i + 1));
        QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("No connection - Power off?"));
        seenStatus << s.label("labelstatus")->styleSheet();
        seenTemp << s.label("labelSCSIboardTemp")->styleSheet();
    }
    QCOMPARE(seenStatus, statusStyles);
    QCOMPARE(seenTemp, tempStyles);
    QVERIFY(!s.scanButton()->isEnabled());
}

struct LaserCase {
    unsigned fitted;
    int wavelengths[kLaserSlots];
    bool detector;
    bool ldBoard;
};
Q_DECLARE_METATYPE(LaserCase)

void TestPoll::channel1Lasers_data()
{
    QTest::addColumn<LaserCase>("fitted");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QStringList>("wavelengthTexts"); // laserCh1wavelength[1], [2]

    // Fitted slots, slot wavelengths, channel-1 detector, 685 nm laser-diode board.
    const QStringList standard{QStringLiteral("473"), QStringLiteral("532")};
    QTest::newRow("four lasers and the diode board")
        << LaserCase{0x0F, {473, 532, 635, 670}, true, true}
        << QStringList{"473nm", "532nm", "635nm", "670nm", "685nm"} << QList<int>{1, 2, 4, 8, 16}
        << standard;
    QTest::newRow("no laser-diode board")
        << LaserCase{0x0F, {473, 532, 635, 670}, true, false}
        << QStringList{"473nm", "532nm", "635nm", "670nm"} << QList<int>{1, 2, 4, 8} << standard;
    QTest::newRow("no channel-1 detector") << LaserCase{0x0F, {473, 532, 635, 670}, false, true}
                                           << QStringList() << QList<int>() << standard;
    QTest::newRow("slot 0 holds the 532 nm laser")
        << LaserCase{0x0F, {532, 473, 635, 670}, true, false}
        << QStringList{"532nm", "473nm", "635nm", "670nm"} << QList<int>{1, 2, 4, 8}
        << QStringList{"532", "473"};
    QTest::newRow("slots 2 and 3 only")
        << LaserCase{0x0C, {473, 532, 635, 670}, true, false} << QStringList{"635nm", "670nm"}
        << QList<int>{4, 8} << standard;
}

// The list is built once, during the self diagnosis, from the usable slots in slot order and
// the 685 nm diode; the "Lasers" panel shows what was found.
void TestPoll::channel1Lasers()
{
    QFETCH(LaserCase, fitted);
    QFETCH(QStringList, entries);
    QFETCH(QList<int>, codes);
    QFETCH(QStringList, wavelengthTexts);

    ScannerModelOptions options = Options();
    options.lasersFitted = fitted.fitted;
    std::copy(std::begin(fitted.wavelengths), std::end(fitted.wavelengths),
              options.laserWavelengths);
    options.channel1Detector = fitted.detector;
    Station s(kModelKIREL5, options, fitted.ldBoard);
    s.open();
    const QString ch1Before = s.label("labelCH1")->text();

    s.tickAt(0);
    QCOMPARE(ComboTexts(s.laserList()), entries);
    QCOMPARE(LaserCodes(), codes);
    QCOMPARE(QStringList({laserCh1wavelength[1], laserCh1wavelength[2]}), wavelengthTexts);
    QCOMPARE(s.label("labelCH1")->text(), fitted.detector ? QStringLiteral("CH1 OK") : ch1Before);
    QCOMPARE(LDconfig[1] == 1, fitted.ldBoard);
    QCOMPARE(!s.label("labelLDtemperature")->isHidden(), fitted.ldBoard);
    QCOMPARE(!s.label("labelLDmonitor")->isHidden(), fitted.ldBoard);

    // The panel names the slot-0 and slot-1 lasers by what they report.
    if (fitted.fitted & 0x3) {
        QCOMPARE(s.label("label473laser")->text(), QStringLiteral("473nm OK"));
        QCOMPARE(s.label("label532laser")->text(), QStringLiteral("532nm OK"));
        QCOMPARE(lasermodule[0], fitted.wavelengths[0]);
        QCOMPARE(lasermodule[1], fitted.wavelengths[1]);
    }
    if (fitted.fitted & 0x4)
        QCOMPARE(s.label("label635laser")->text(), QStringLiteral("635nm OK"));

    // Taken over once: later ticks, the ready one included, add nothing.
    s.tickAt(kSelfTestMs);
    QCOMPARE(ComboTexts(s.laserList()), entries);
    QCOMPARE(LaserCodes(), codes);
}

void TestPoll::laserSelectionFromTemplate_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("savedIndex");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("listEnabled");
    QTest::addColumn<bool>("voltageEnabled");
    QTest::addColumn<QString>("name"); // "startup": saved as the list entry, else code + 1
    const QString scan = QStringLiteral("startup");

    QTest::newRow("fluorescence, saved laser fitted")
        << int(kModeFluorescence) << 2 << 2 << true << true << scan;
    QTest::newRow("fluorescence, saved laser just beyond the list")
        << int(kModeFluorescence) << 4 << 0 << true << true << scan;
    // IP and IP-V read with the 635 nm laser (entry 2), whatever the last scan used.
    QTest::newRow("IP mode locks laser and voltage")
        << int(kModeIP) << 1 << 2 << false << false << scan;
    QTest::newRow("IP-V mode locks the laser") << int(kModeIPV) << 3 << 2 << false << true << scan;
    // Saved from Template Management: the list is 473, 532, 635, 670 nm (codes 1, 2, 4, 8).
    QTest::newRow("loaded template, 670 nm")
        << int(kModeDigitizing) << 9 << 3 << true << true << QStringLiteral("A");
}

// The last scan's laser is selected again once the list exists; one that the scanner does
// not offer any more selects the first laser instead. IP and IP-V take their own laser.
void TestPoll::laserSelectionFromTemplate()
{
    QFETCH(int, mode);
    QFETCH(int, savedIndex);
    QFETCH(int, selected);
    QFETCH(bool, listEnabled);
    QFETCH(bool, voltageEnabled);
    QFETCH(QString, name);

    Station s(kModelKIREL5, Options(), false); // four lasers, no 685 nm diode
    s.open();
    // The mode as the last scan left it, with every control the operator may use enabled:
    // what the poll locks is its own doing.
    QRadioButton *modeButtons[] = {s.child<QRadioButton>("radioButton_IPmode"),
                                   s.child<QRadioButton>("radioButton_IPVmode"),
                                   s.child<QRadioButton>("radioButton_FluorescenceMode"),
                                   s.child<QRadioButton>("radioButton_DigitizingMode")};
    modeButtons[mode]->setChecked(true);
    s.laserList()->setEnabled(true);
    s.child<QSpinBox>("spinBox_HVch1")->setEnabled(true);
    s.child<QSlider>("horizontalSlider_HVch1")->setEnabled(true);
    scanTemplate[0].name = name;
    scanTemplate[0].laserCh1 = BYTE(savedIndex);

    s.tick();
    QCOMPARE(s.laserList()->count(), 4);
    QCOMPARE(s.laserList()->currentIndex(), selected);
    QCOMPARE(s.laserList()->isEnabled(), listEnabled);
    QCOMPARE(s.child<QSpinBox>("spinBox_HVch1")->isEnabled(), voltageEnabled);
    QCOMPARE(s.child<QSlider>("horizontalSlider_HVch1")->isEnabled(), voltageEnabled);
}

void TestPoll::startupErrorBoxesDoNotStack_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<ScannerScenario>("scenario");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<ScannerScenario>("cleared");
    QTest::addColumn<bool>("readyBehindBox"); // cleared while the box is open

    const auto box = [](const char *what, const char *todo) {
        return QStringLiteral("Startup Error:<ul><li>%1</li><li></li><li>%2</li></ul>")
            .arg(QLatin1String(what), QLatin1String(todo));
    };
    QTest::newRow("VESK-5000 door open")
        << int(kModelVESK5000) << ScannerScenario::DoorOpen
        << box("Loading Area Door Open", "Please Close the Door")
        << QStringLiteral("Sense key:02h Sense code:6200h") << ScannerScenario::None << false;
    const QString plateText =
        box("Imaging Plate in the loading area", "Please Remove the Imaging Plate");
    const QString plateCondition = QStringLiteral("Sense key:02h Sense code:6100h");
    QTest::newRow("VESK-1800II plate in the loading area")
        << int(kModelVESK1800) << ScannerScenario::PlateInLoader << plateText << plateCondition
        << ScannerScenario::NoPlate << false;
    QTest::newRow("VESK-1800II ready behind the box")
        << int(kModelVESK1800) << ScannerScenario::PlateInLoader << plateText << plateCondition
        << ScannerScenario::NoPlate << true;
}

// The box is modal and the poll keeps ticking behind it: ticks that see the condition again
// while it is open show no second box and log the sense condition no second time. The
// simulator's operator clears the loading area when the box is closed, not before; once the
// condition has gone, the reader gets ready without the box coming back.
void TestPoll::startupErrorBoxesDoNotStack()
{
    QFETCH(int, model);
    QFETCH(ScannerScenario, scenario);
    QFETCH(QString, text);
    QFETCH(QString, condition);
    QFETCH(ScannerScenario, cleared);
    QFETCH(bool, readyBehindBox);

    Station s(model, Options(scenario, 0));
    s.open();
    LoadingAreaAttendant attendant(s.scanner);
    qApp->installEventFilter(&attendant);

    int boxesOpened = 0;
    int mostOpenAtOnce = 0;
    int ticksBehindBox = 0;
    QSet<QMessageBox *> seen;
    QString title, shown;
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        QList<QMessageBox *> open;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                open << box;
        mostOpenAtOnce = qMax(mostOpenAtOnce, open.size());
        for (QMessageBox *box : open)
            if (!seen.contains(box)) {
                seen.insert(box);
                ++boxesOpened;
                title = box->windowTitle();
                shown = box->text();
            }
        if (open.isEmpty())
            return;
        if (ticksBehindBox < 2) {
            ++ticksBehindBox;
            if (readyBehindBox)
                s.scanner.setScenario(cleared);
            else
                QCOMPARE(s.scanner.scenario(), scenario); // nothing cleared before the click
            s.tick(); // the poll's timer firing while the box waits for the operator
            return;
        }
        for (QMessageBox *box : open)
            box->button(QMessageBox::Ok)->click();
    });
    watcher.start();

    s.tick();
    QCOMPARE(boxesOpened, 1);
    QCOMPARE(mostOpenAtOnce, 1);
    QCOMPARE(ticksBehindBox, 2);
    QCOMPARE(title, QStringLiteral("STARTUP ERROR"));
    QCOMPARE(shown, text);
    if (!readyBehindBox) {
        QCOMPARE(s.label("label_scannercondition")->text(), condition);
        QCOMPARE(s.bootLogCount(condition), 1);
        QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("Startup self diagnosis"));
        QVERIFY(!s.scanButton()->isEnabled());
        QCOMPARE(s.scanner.scenario(), cleared);
        s.tick();
    }
    QCOMPARE(boxesOpened, 1);
    QCOMPARE(s.label("labelstatus")->text(), QStringLiteral("Ready"));
    QVERIFY(s.scanButton()->isEnabled());
    // The tick the box held up goes on after the ready one: the boot log has it once.
    QCOMPARE(s.bootLogCount(QStringLiteral("READY:")), 1);
}

QTEST_MAIN(TestPoll)
#include "tst_poll.moc"
