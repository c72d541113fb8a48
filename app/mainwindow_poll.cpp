// The status poll: the 500 ms timer's slot that watches the scanner from start-up until it
// is ready, and the manual switch of the 685 nm laser diode.
//
// One tick of ScannerTest:
//  1. read the SCSI-board temperature (and on the KIREL-5000/5100 the laser-diode board)
//     and show it (BoardTemperatureShow, LaserDiodeReadingsShow);
//  2. run the model's connection test (ConnectionTestRun); on the imaging-plate readers a
//     plate in the loading area or an open door is reported in a box (StartupErrorShow);
//  3. no answer: blink the status label (StatusBlink);
//  4. show what the test found: ReaderStatusShow (KIREL-3000, VESK readers) or
//     Kirel5StatusShow (KIREL-5000/5100, which also takes over the fitted lasers into the
//     channel-1 laser list: LaserSlotsTakeOver, Channel1LasersFill).
// The tick that finds the scanner ready enables Start Scan and stops the timer for good.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "datafiles.h"
#include "kirelscan.h"
#include "ldcontrol.h"
#include "logfiles.h"
#include "rtccontrol.h"
#include "safeqfile.h"
#include "scanstate.h"

#include <QBuffer>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace
{

const char kStyleRed[] = "QLabel { background-color : red; }";
const char kStyleTempGood[] = "QLabel { background-color : rgb(0,255,0); }";
const char kStyleTempGoodAlt[] = "QLabel { background-color : rgb(0,200,0); }";
const char kStyleBlinkRed[] = "QLabel { background-color : rgba(255,0,0,255); }";
const char kStyleBlinkOrange[] = "QLabel { background-color : rgba(255,128,0,255); }";
const char kStyleBusy[] = "QLabel { background-color : rgba(0,128,255,255); }";
const char kStyleSelfTest[] = "QLabel { background-color : yellow; }";
const char kStyleReady[] = "QLabel { background-color : rgba(0,255,0,255); }";
const char kStyleScanEnabled[] = "QPushButton { background-color : rgba(0,255,0,125); }";
const char kStyleToggleOff[] = "QPushButton { background-color : rgba(0,255,0,0); }";
const char kStyleToggleOn[] = "QPushButton { background-color : rgba(255,0,0,0); }";

const char kTextBusy[] = "Scanner connected - busy";
const char kTextSelfTest[] = "Startup self diagnosis";
const char kTextReady[] = "Ready";

const char kIconLaser473[] = ":/img/KIREL5-Laser-473.png";
const char kIconLaser532[] = ":/img/KIREL5-Laser-532.png";
const char kIconLaser635[] = ":/img/KIREL5-Laser-635.png";
const char kIconLaser670[] = ":/img/KIREL5-Laser-670.png";

// Connection states of the KIREL-3000 and the imaging-plate readers.
constexpr int kConnectBusy = 1;
constexpr int kConnectSelfTest = 2;
constexpr int kConnectReady = 3;

// Start-up conditions of the imaging-plate readers (additional sense codes).
constexpr int kSensePlateInLoader = 0x61;
constexpr int kSenseDoorOpen = 0x62;

// KIREL-5000/5100 status bytes (C1h status read).
constexpr int kStatSlotState = 0;      // 0..3: state of laser slot 0..3
constexpr int kStatSlotWavelength = 6; // 6-7, 8-9, 10-11, 12-13: big-endian nm per slot
constexpr int kStatDetectorCh1 = 28;
constexpr int kStatScannerState = 32;
constexpr int kLaserSlots = 4;
constexpr BYTE kSlotUsable = 4;
constexpr BYTE kDetectorPresent = 1;
constexpr BYTE kStateSelfTest = 4;
constexpr BYTE kStateReady = 6;
constexpr BYTE kStateReadyAlt = 7;
// High byte of the slot wavelengths that tell which of the two blue-green lasers a slot holds:
// 473 nm is 01D9h, 532 nm 0214h.
constexpr BYTE kWavelengthHigh473 = 1;
constexpr BYTE kWavelengthHigh532 = 2;
constexpr int kWavelength473 = 473;
constexpr int kWavelength532 = 532;

// The laser-diode board counts as present while its temperature is plausible.
constexpr float kLdBoardMinC = 0.0f;
constexpr float kLdBoardMaxC = 40.0f;

// Channel-1 laser codes (laserCh1).
constexpr BYTE kLaserCodeSlot0 = 1;
constexpr BYTE kLaserCodeSlot1 = 2;
constexpr BYTE kLaserCode635 = 4;
constexpr BYTE kLaserCode670 = 8;
constexpr BYTE kLaserCode685 = 16;

QString IconText(const char *icon)
{
    return QStringLiteral("<img src=%1>").arg(QLatin1String(icon));
}

bool Kirel5Ready()
{
    return scannerstat[kStatScannerState] == kStateReady ||
           scannerstat[kStatScannerState] == kStateReadyAlt;
}

// One dated line on the boot log, opened for this line only.
void BootLogDatedLine(const QString &text)
{
    QByteArray line;
    QBuffer buffer(&line);
    buffer.open(QIODevice::WriteOnly);
    LOGdatastream.setDevice(&buffer);
    LogDateFileWrite(text);
    LOGdatastream.setDevice(nullptr);
    QString problem;
    if (!SafeQFileWrite(BootLogPath(), SafeWrite::Append, line, &problem))
        LogFailureTell(BootLogPath(), problem);
}

} // namespace

void MainWindow::ScannerTest()
{
    kirel5scan scanner;

    // Channel 2 is never offered.
    ui->groupBox_Channel2->hide();
    ui->checkBox_enableCh1->hide();
    ui->checkBox_enableCh2->hide();

    BoardTemperatureShow();
    if (ScannerType == kModelKIREL5)
        LaserDiodeReadingsShow();

    const int answer = ConnectionTestRun(scanner);
    if (answer < 0)
        StatusBlink();

    if (ScannerType == kModelKIREL5)
        Kirel5StatusShow(answer);
    else
        ReaderStatusShow(answer);
}

// Good readings alternate two greens from tick to tick, so the operator sees the board
// being read; a failed reading turns the label red.
void MainWindow::BoardTemperatureShow()
{
    const int read = newRTC.SCSIboardtempRead();
    ui->labelSCSIboardTemp->setText(QString::asprintf("SCSI Board Temp: %.2f C", SCSIboardtemp));
    SCSIboardtempcol = read == 1 ? SCSIboardtempcol + 1 : 0;
    if (SCSIboardtempcol == 0) {
        ui->labelSCSIboardTemp->setStyleSheet(kStyleRed);
    } else if (SCSIboardtempcol == 1) {
        ui->labelSCSIboardTemp->setStyleSheet(kStyleTempGood);
    } else {
        ui->labelSCSIboardTemp->setStyleSheet(kStyleTempGoodAlt);
        SCSIboardtempcol = 0;
    }
}

void MainWindow::LaserDiodeReadingsShow()
{
    newLD.LD685monitorRead();
    ui->labelLDmonitor->setText(QString::asprintf("LD Monitor: %.3f V", LD685monit));
    newLD.LDboardtempRead();
    ui->labelLDtemperature->setText(QString::asprintf("LD685 Temperature: %.1f C", LDboardtemp));
}

int MainWindow::ConnectionTestRun(kirel5scan &scanner)
{
    if (ScannerType == kModelKIREL5)
        return scanner.testkirel5connected();
    const int answer = ScannerType == kModelKIREL3 ? scanner.testkirel3connected()
                                                   : scanner.testVESK18IIconnected();
    // The test raises the flag each time it sees the condition and nobody else lowers it
    // before a scan starts; taking it here keeps a condition that has gone (the door closed
    // and the plate read) from being reported again on the later ticks.
    if (newscansetup.scanrunningerror == 1) {
        newscansetup.scanrunningerror = 0;
        StartupErrorShow(newscansetup.sensecode);
    }
    return answer;
}

// The box is modal, and the timer keeps ticking behind it; while one box is on screen the
// ticks that see the condition again show nothing, so the operator has one box to close.
void MainWindow::StartupErrorShow(int sensecode)
{
    QString text;
    if (sensecode == kSensePlateInLoader)
        text = QStringLiteral("Startup Error:<ul><li>Imaging Plate in the loading area</li><li>"
                              "</li><li>Please Remove the Imaging Plate</li></ul>");
    else if (sensecode == kSenseDoorOpen)
        text = QStringLiteral("Startup Error:<ul><li>Loading Area Door Open</li><li></li>"
                              "<li>Please Close the Door</li></ul>");
    if (text.isEmpty() || startupErrorShowing)
        return;
    startupErrorShowing = true;
    QMessageBox::information(this, QStringLiteral("STARTUP ERROR"), text, QMessageBox::Ok);
    startupErrorShowing = false;
}

// No answer: the label keeps its text and alternates red and orange, in step with the
// board-temperature counter, which good readings take through 1 and 0 from tick to tick;
// with that reading failing too the counter stays 0 and the label orange. The counter is
// only read here: setting it as well (0 after red, 1 after orange) would put it back where
// the next reading starts from, and the label would never change colour.
void MainWindow::StatusBlink()
{
    ui->labelstatus->setStyleSheet(SCSIboardtempcol != 0 ? kStyleBlinkRed : kStyleBlinkOrange);
}

void MainWindow::StatusShow(const char *style, const char *text)
{
    ui->labelstatus->setStyleSheet(style);
    ui->labelstatus->setText(QString::fromLatin1(text));
}

// Ready: Start Scan may be pressed, and the poll has done its work for this run. Once only:
// a tick that a start-up error box held up may go on after a tick behind the box found the
// scanner ready.
void MainWindow::ReadyShow()
{
    if (scannerReady)
        return;
    scannerReady = true;
    StatusShow(kStyleReady, kTextReady);
    timer->stop();
    ui->pushButton_Scan->setStyleSheet(kStyleScanEnabled);
    ui->pushButton_Scan->setEnabled(true);
    if (sysparams.bootlog == 1)
        BootLogDatedLine(QStringLiteral("READY:"));
}

// KIREL-3000 and imaging-plate readers: the sense condition, the status log, the state.
void MainWindow::ReaderStatusShow(int answer)
{
    ScanSetup &s = newscansetup;
    if (s.sensekey != s.lastsensekey || s.sensecode != s.lastsensecode ||
        s.extsensecode != s.lastextsensecode) {
        s.lastsensekey = s.sensekey;
        s.lastsensecode = s.sensecode;
        s.lastextsensecode = s.extsensecode;
        const QString condition = QString::asprintf("Sense key:%02Xh Sense code:%02X%02Xh",
                                                    s.sensekey, s.sensecode, s.extsensecode);
        ui->label_scannercondition->setText(condition);
        BootLogDatedLine(condition);
    }
    ui->label_statuslog->setText(QNewStatusString);

    if (answer != 1)
        return;
    switch (KIREL5connectStatus) {
    case kConnectBusy:
        StatusShow(kStyleBusy, kTextBusy);
        break;
    case kConnectSelfTest:
        StatusShow(kStyleSelfTest, kTextSelfTest);
        break;
    case kConnectReady:
        ReadyShow();
        break;
    default:
        break;
    }
}

void MainWindow::Kirel5StatusShow(int answer)
{
    if (answer == 1) {
        std::fprintf(stderr, "KIREL5 connected %d\n", answer);
        StatusShow(kStyleBusy, kTextBusy);
    }
    const BYTE state = scannerstat[kStatScannerState];
    if (state == kStateSelfTest)
        StatusShow(kStyleSelfTest, kTextSelfTest);
    if (Kirel5Ready()) {
        ReadyShow();
        ui->groupBox_Channel2->hide();
        ui->checkBox_enableCh1->hide();
        ui->checkBox_enableCh2->hide();
        ui->labelSCSIboardTemp->hide();
        ui->labelLDtemperature->hide();
        ui->labelLDmonitor->hide();
    }

    if (LDconfig[0] == 0)
        LaserDiodeBoardFind();
    if (state == kStateSelfTest || Kirel5Ready()) {
        LaserSlotsTakeOver();
        if (scannerconfig[kStatDetectorCh1] == 0)
            Channel1LasersFill();
    }
}

// The laser-diode board is an optional extra; a temperature outside the plausible range
// (or no reading at all) means it is not fitted.
void MainWindow::LaserDiodeBoardFind()
{
    newLD.LDboardtempRead();
    if (LDboardtemp > kLdBoardMinC && LDboardtemp < kLdBoardMaxC) {
        LDconfig[1] = 1;
        LDconfig[0] = 1;
        ui->label670icon->setText(IconText(kIconLaser670));
        ui->label670laser->setText(QStringLiteral("685nm OK"));
        ui->labelLDtemperature->show();
        ui->labelLDmonitor->show();
    } else {
        ui->labelLDtemperature->hide();
        ui->labelLDmonitor->hide();
    }
}

// Each usable slot is shown once in the "Lasers" panel with the wavelength it reports.
void MainWindow::LaserSlotsTakeOver()
{
    struct SlotLabels {
        QLabel *icon;
        QLabel *laser;
        const char *iconName;
        const char *text;
    };
    const SlotLabels l473{ui->label473icon, ui->label473laser, kIconLaser473, "473nm OK"};
    const SlotLabels l532{ui->label532icon, ui->label532laser, kIconLaser532, "532nm OK"};
    const SlotLabels l635{ui->label635icon, ui->label635laser, kIconLaser635, "635nm OK"};
    const SlotLabels l670{ui->label670icon, ui->label670laser, kIconLaser670, "670nm OK"};

    for (int slot = 0; slot < kLaserSlots; ++slot) {
        const BYTE slotState = scannerstat[kStatSlotState + slot];
        if (scannerconfig[kStatSlotState + slot] != 0 || slotState != kSlotUsable)
            continue;
        const int hi = kStatSlotWavelength + 2 * slot;
        const SlotLabels *labels = nullptr;
        switch (slot) {
        case 0:
            labels = scannerstat[hi] == kWavelengthHigh473 ? &l473 : &l532;
            break;
        case 1:
            labels = scannerstat[hi] == kWavelengthHigh532 ? &l532 : &l473;
            break;
        case 2:
            labels = &l635;
            break;
        default:
            labels = &l670;
            break;
        }
        labels->icon->setText(IconText(labels->iconName));
        labels->laser->setText(QString::fromLatin1(labels->text));
        lasermodule[slot] = scannerstat[hi] * 256 + scannerstat[hi + 1];
        scannerconfig[kStatSlotState + slot] = slotState;
    }
}

// The channel-1 laser list, built once from what the scanner reports: the usable slots in
// slot order, then the 685 nm diode when its board was found.
void MainWindow::Channel1LasersFill()
{
    laserboxindex = 0;
    QComboBox *const box = ui->comboBox_Laser1;
    auto add = [box](const char *icon, const char *text, BYTE code) {
        box->addItem(QIcon(QString::fromLatin1(icon)), QString::fromLatin1(text));
        laserCh1[laserboxindex] = code;
        ++laserboxindex;
    };
    if (scannerstat[kStatDetectorCh1] == kDetectorPresent) {
        ui->labelCH1->setText(QStringLiteral("CH1 OK"));
        if (scannerstat[kStatSlotState + 0] == kSlotUsable) {
            if (lasermodule[0] == kWavelength473) {
                add(kIconLaser473, "473nm", kLaserCodeSlot0);
            } else {
                add(kIconLaser532, "532nm", kLaserCodeSlot0);
                laserCh1wavelength[kLaserCodeSlot0] = QStringLiteral("532");
            }
        }
        if (scannerstat[kStatSlotState + 1] == kSlotUsable) {
            if (lasermodule[1] == kWavelength532) {
                add(kIconLaser532, "532nm", kLaserCodeSlot1);
            } else {
                add(kIconLaser473, "473nm", kLaserCodeSlot1);
                laserCh1wavelength[kLaserCodeSlot1] = QStringLiteral("473");
            }
        }
        if (scannerstat[kStatSlotState + 2] == kSlotUsable)
            add(kIconLaser635, "635nm", kLaserCode635);
        if (scannerstat[kStatSlotState + 3] == kSlotUsable)
            add(kIconLaser670, "670nm", kLaserCode670);
        if (LDconfig[1] == 1)
            add(kIconLaser670, "685nm", kLaserCode685);
    }
    scannerconfig[kStatDetectorCh1] = 1;
    std::fprintf(stderr, "Ch1 Laser %d\n", templatecount);
    std::fprintf(stderr, "Ch1 Filter %d\n", templatecount);

    // The last settings' laser may not be fitted any more: then the first laser the scanner
    // offers is selected.
    box->setCurrentIndex(TemplateLaserEntry(scanTemplate[0], box->count()));
    if (ui->radioButton_IPmode->isChecked()) {
        ui->spinBox_HVch1->setEnabled(false);
        ui->horizontalSlider_HVch1->setEnabled(false);
    }
    // IP and IP-V read with their own laser, whatever the last scan used.
    if (ui->radioButton_IPmode->isChecked() || ui->radioButton_IPVmode->isChecked())
        LaserForIP();
}

void MainWindow::on_pushButton_LD685toggle_clicked()
{
    if (LD685status != 0) {
        LD685status = 0;
        ui->pushButton_LD685toggle->setStyleSheet(kStyleToggleOff);
        ui->pushButton_LD685toggle->setText(QStringLiteral("LD685 IS OFF"));
    } else {
        LD685status = 1;
        ui->pushButton_LD685toggle->setStyleSheet(kStyleToggleOn);
        ui->pushButton_LD685toggle->setText(QStringLiteral("LD685 IS ON"));
    }
    newLD.LD685modecontrol(LD685status);
}
