// scanstation-buscheck: first contact between a Raspberry Pi and a scanner on its cable.
//
//   scanstation-buscheck [--readout] [--virtual MODEL [--fault NAME [--fault-after-bytes N]]
//                        [--pi PI]]
//
// 1. the platform: a Raspberry Pi the station supports (model, peripheral base; the Pi 5 is
//    refused), and whether this process may open the registers (root);
// 2. the costs of a level read and of a register write on this Pi, and the station's own
//    bus sequences judged by the cable referee at those costs;
// 3. the idle cable, transceivers enabled and nothing driven: any asserted line is named;
// 4. a bus reset, selection of ID 5, INQUIRY and TEST UNIT READY, each phase printed as it
//    happens, then the inquiry strings and a verdict with the next step;
// 5. with --readout, an imaging-plate reader is STARTed and must reselect the Pi as ID 5:
//    the only way to see the reselection before the first scan. The plate in the reader is
//    read (use an erased one); a bus reset ends the readout.
// Exit status: 0 when the scanner answered, 1 when it did not, 2 when the check cannot run
// here. Off a Raspberry Pi it refuses before anything opens /dev/mem; with --virtual it
// runs against the virtual scanner of MODEL, with a fault of the cable if asked.
#include "initiator.h"
#include "scannermodels.h"
#include "scsicommands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <utility>

namespace
{
constexpr int kExitAnswered = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitCannotRun = 2;
constexpr int kInquiryLength = 36;
constexpr int kVirtualSamples = 1000;
constexpr int kHardwareSamples = 100000;
// The wait for a reader's reselection after START, in 1 ms polls: a real reader takes up to
// the 35 s of its own start wait, plus margin; the virtual reader reselects within a few
// bus samples, so a short wait there tells a reader that never comes back just as well.
constexpr int kReselectPollUs = 1000;
constexpr int kHardwareReselectPolls = 40000;
constexpr int kVirtualReselectPolls = 200;

struct Options {
    bool virtualScanner = false;
    int model = kModelKIREL5;
    CableFault fault = CableFault::None;
    int faultAfterBytes = 0;
    bool readout = false;
    const PiProfile *pi = &DefaultPiProfile();
};

void Say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

QString Hex(const BYTE *bytes, int count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), count).toHex(' '));
}

// The SCSI lines of a bus snapshot by name.
QString LineNames(DWORD snapshot)
{
    static const std::pair<DWORD, const char *> names[] = {
        {kMaskBSY, "BSY"}, {kMaskSEL, "SEL"},    {kMaskATN, "ATN"}, {kMaskRST, "RST"},
        {kMaskACK, "ACK"}, {kMaskREQ, "REQ"},    {kMaskMSG, "MSG"}, {kMaskCD, "C/D"},
        {kMaskIO, "I/O"},  {1u << PIN_DP, "DBP"}};
    QStringList out;
    for (const auto &n : names)
        if (snapshot & n.first)
            out << QString::fromLatin1(n.second);
    for (int bit = 0; bit < 8; ++bit)
        if (snapshot & (1u << (PIN_DT0 + bit)))
            out << QStringLiteral("DB%1").arg(bit);
    return out.join(QLatin1Char(' '));
}

bool ParseOptions(const QCoreApplication &app, Options *o)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("First contact with a scanner: checks the Pi, its bus timing, the idle "
                       "cable, and asks the scanner at SCSI ID 5 for INQUIRY and TEST UNIT "
                       "READY."));
    parser.addHelpOption();
    const QCommandLineOption virt(QStringLiteral("virtual"),
                                  QStringLiteral("Check against the virtual scanner of this "
                                                 "model (11, 10, 8 or 4) instead of the cable."),
                                  QStringLiteral("MODEL"));
    QString faults;
    for (const CableFaultInfo &f : CableFaults())
        faults += QStringLiteral(" %1").arg(QLatin1String(f.name));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("With --virtual: a fault of the cable:") +
                                       faults + QLatin1Char('.'),
                                   QStringLiteral("NAME"), QStringLiteral("none"));
    const QCommandLineOption after(
        QStringLiteral("fault-after-bytes"),
        QStringLiteral("With --fault power-off: data bytes before the scanner goes off."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption pi(QStringLiteral("pi"),
                                QStringLiteral("With --virtual: the Pi's register costs, pi3 "
                                               "or pi4 (default pi3)."),
                                QStringLiteral("PI"), QString::fromLatin1(o->pi->name));
    const QCommandLineOption readout(
        QStringLiteral("readout"),
        QStringLiteral("Imaging-plate readers: START a readout of the plate in the reader (its "
                       "image is lost: use an erased plate) and check that the reader "
                       "reselects the Pi."));
    parser.addOptions({virt, fault, after, pi, readout});
    parser.process(app);
    o->virtualScanner = parser.isSet(virt);
    bool ok = true;
    if (o->virtualScanner) {
        o->model = parser.value(virt).toInt(&ok);
        ok = ok && ScannerModelSim::isKnownModel(o->model);
    }
    ok = ok && CableFaultFromName(parser.value(fault), &o->fault);
    o->faultAfterBytes = parser.value(after).toInt();
    o->readout = parser.isSet(readout);
    o->pi = PiProfileByName(parser.value(pi));
    if (!ok || !o->pi) {
        std::fprintf(stderr, "scanstation-buscheck: bad option (see --help)\n");
        return false;
    }
    return true;
}

QString DeviceTreeText(const char *path)
{
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.readAll()).section(QLatin1Char('\0'), 0, 0);
}

// Step 1. TRUE when the check may go on the real registers.
bool PlatformFits()
{
    if (!DeviceTreeNamesRaspberryPi("/proc/device-tree/model")) {
        Say(QStringLiteral("1 platform: not a Raspberry Pi. The check needs the Pi that is wired "
                           "to the scanner; --virtual 11 runs it against the virtual scanner."));
        return false;
    }
    const QString model = DeviceTreeText("/proc/device-tree/model");
    if (DeviceTreeIsCompatible("/proc/device-tree/compatible", "brcm,bcm2712")) {
        Say(QStringLiteral("1 platform: %1: refused. On the Pi 5 the pins are behind the RP1 "
                           "chip, not the GPIO block the station drives; use a Pi 2, 3 or 4.")
                .arg(model));
        return false;
    }
    if (!HardwareBuildCanMapRegisters()) {
        Say(QStringLiteral("1 platform: %1, but this program was not built for it: install "
                           "the arm64 package.")
                .arg(model));
        return false;
    }
    Say(QStringLiteral("1 platform: %1, peripheral base 0x%2%3")
            .arg(model)
            .arg(bcm_host_get_peripheral_address(), 8, 16, QLatin1Char('0'))
            .arg(HardwareIsBcm2711() ? QStringLiteral(" (BCM2711: pulls by its own registers)")
                                     : QString()));
    if (geteuid() != 0) {
        Say(QStringLiteral("  registers: only root may open them: run sudo scanstation-buscheck"));
        return false;
    }
    Say(QStringLiteral("  registers: may be opened (root)"));
    return true;
}

// Step 2: the costs of one level read and one register write, in ns.
bool MeasureCosts(EmulatedGpio *virt, double *readNs, double *writeNs)
{
    if (!bus.Init(BUS::INITIATOR))
        return false;
    const int n = virt ? kVirtualSamples : kHardwareSamples;
    using Clock = std::chrono::steady_clock;
    const auto elapsed = [virt](Clock::time_point t0, quint64 v0) {
        return virt ? double(virt->nowNs() - v0)
                    : double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0)
                                 .count());
    };
    Clock::time_point t0 = Clock::now();
    quint64 v0 = virt ? virt->nowNs() : 0;
    for (int i = 0; i < n; ++i)
        bus.Aquire();
    *readNs = elapsed(t0, v0) / n;
    t0 = Clock::now();
    v0 = virt ? virt->nowNs() : 0;
    for (int i = 0; i < n; ++i)
        bus.SleepNsec(1);
    *writeNs = elapsed(t0, v0) / n;
    bus.Cleanup();
    return true;
}

// The bus up as initiator, released, and the bus reset every connection test opens with.
bool BusOpenWithReset()
{
    if (!Init())
        return false;
    scsiid = kScannerId;
    Reset();
    BusFree();
    BusResetPulse();
    return true;
}

// One transaction of the station's pattern, each phase printed; TRUE when it went through.
struct Transaction {
    int arbitration = 0;
    bool command = false;
    int dataIn = -1;
    int status = -1;
    int message = -1;
};

Transaction Ask(BYTE *cdb, int cdbLength, BYTE *data, int dataLength)
{
    Transaction t;
    t.arbitration = KIREL5Arbitration();
    if (t.arbitration < 0) {
        Say(QStringLiteral("  selection of ID 5: no answer (%1)").arg(t.arbitration));
        return t;
    }
    Say(QStringLiteral("  selection of ID 5: BSY; MESSAGE OUT: IDENTIFY c0"));
    t.command = Command(cdb, cdbLength);
    Say(QStringLiteral("  COMMAND: %1%2").arg(Hex(cdb, cdbLength), t.command ? "" : " not taken"));
    if (t.command && dataLength > 0) {
        t.dataIn = DataIn(data, dataLength);
        Say(QStringLiteral("  DATA IN: %1 bytes").arg(t.dataIn));
    }
    if (t.command) {
        t.status = Status();
        Say(t.status < 0 ? QStringLiteral("  STATUS: none")
                         : QStringLiteral("  STATUS: %1").arg(t.status, 2, 16, QLatin1Char('0')));
        t.message = MessageIn();
        Say(t.message < 0
                ? QStringLiteral("  MESSAGE IN: none")
                : QStringLiteral("  MESSAGE IN: %1").arg(t.message, 2, 16, QLatin1Char('0')));
    }
    BusFree();
    bus.SleepNsec(2);
    // The same line as the virtual scanner's command trace.
    Say(QStringLiteral("{\"cdb\":\"%1\",\"out\":\"\",\"in\":%2,\"status\":%3}")
            .arg(Hex(cdb, cdbLength))
            .arg(qMax(t.dataIn, 0))
            .arg(t.status < 0 ? QStringLiteral("null") : QString::number(t.status)));
    return t;
}

// Step 5: how a reader's START and its reselection went.
struct Readout {
    bool ran = false;
    bool disconnected = false; // START ended with SAVE DATA POINTER, DISCONNECT
    int reselection = -4;      // VESK18IIreconnect's answer at the end of the wait
    BYTE ids = 0;              // the data lines during a reselection that went wrong
};

Readout StartAndAwaitReselection(bool virtualScanner)
{
    Readout r;
    r.ran = true;
    BYTE start[6] = {kOpStartStop, 0, 0, 0, 0, 0};
    if (KIREL5Arbitration() < 0 || !Command(start, 6)) {
        Say(QStringLiteral("  START: not taken"));
        return r;
    }
    const int first = MessageIn();
    const int second = MessageIn();
    r.disconnected = first == kMsgSaveDataPointer && second == kMsgDisconnect;
    Say(QStringLiteral("  START: %1")
            .arg(r.disconnected ? QStringLiteral("the reader disconnected")
                                : QStringLiteral("no disconnect")));
    if (!r.disconnected) {
        // Whatever START began on a scanner that is not a reader ends with the bus reset.
        BusFree();
        BusResetPulse();
        return r;
    }
    BusFree();
    const int polls = virtualScanner ? kVirtualReselectPolls : kHardwareReselectPolls;
    for (int i = 0; i < polls && r.reselection == -4; ++i) {
        BusPauseMicroseconds(kReselectPollUs);
        r.reselection = VESK18IIreconnect();
    }
    if (r.reselection == -5) {
        bus.Aquire();
        r.ids = bus.GetDAT();
    }
    if (r.reselection >= 0) {
        // The end of START: IDENTIFY, the status, COMMAND COMPLETE.
        MessageIn();
        const int status = Status();
        MessageIn();
        Say(QStringLiteral("  reselection: answered, STATUS %1")
                .arg(status, 2, 16, QLatin1Char('0')));
    } else {
        Say(QStringLiteral("  reselection: none (%1)").arg(r.reselection));
    }
    BusFree();
    BusResetPulse(); // the readout ends here
    Say(QStringLiteral("  bus reset: the readout ended"));
    return r;
}

int Verdict(const QString &text, int code)
{
    Say(QStringLiteral("verdict: ") + text);
    return code;
}

int Check(const Options &o)
{
    std::unique_ptr<ScannerModelSim> scanner;
    EmulatedGpio *virt = nullptr;
    if (o.virtualScanner) {
        Say(QStringLiteral("1 platform: the virtual scanner %1 (model %2), Pi profile %3, "
                           "cable fault %4")
                .arg(QString::fromLatin1(ScannerModelSim::productText(o.model).trimmed()))
                .arg(o.model)
                .arg(QLatin1String(o.pi->name), QLatin1String(CableFaults()[int(o.fault)].name)));
    } else if (!PlatformFits()) {
        return kExitCannotRun;
    }

    // 2. Costs, and the station's sequences judged at them on a virtual scanner.
    {
        ScannerModelOptions quick;
        quick.selfTestMs = 0;
        ScannerModelSim probe(o.virtualScanner ? o.model : int(kModelKIREL5), quick);
        EmulatedGpio &regs = probe.scanner().registers();
        regs.setProfile(*o.pi);
        if (o.virtualScanner)
            probe.installOnBus();
        double readNs = 0, writeNs = 0;
        if (!MeasureCosts(o.virtualScanner ? &regs : nullptr, &readNs, &writeNs)) {
            Say(QStringLiteral("2 timing: the registers could not be opened"));
            return kExitCannotRun;
        }
        static PiProfile measured{"measured", 0, 0};
        measured.levelReadNs = quint32(readNs + 0.5);
        measured.writeNs = quint32(qMax(1.0, writeNs));
        Say(QStringLiteral("2 timing: level read %1 ns, register write %2 ns")
                .arg(readNs, 0, 'f', 1)
                .arg(writeNs, 0, 'f', 1));
        regs.setProfile(measured);
        regs.referee().setMode(CableReferee::Mode::Record);
        probe.installOnBus();
        BYTE inquiry[6] = {kOpInquiry, 0, 0, 0, kInquiryLength, 0};
        BYTE buf[kInquiryLength];
        const bool ran = BusOpenWithReset() && KIREL5Arbitration() >= 0 && Command(inquiry, 6) &&
                         DataIn(buf, kInquiryLength) == kInquiryLength && Status() >= 0 &&
                         MessageIn() >= 0;
        BusFree();
        Cleanup();
        probe.removeFromBus();
        for (int t = 0; t < CableReferee::Timings; ++t) {
            const qint64 m = regs.referee().margin(CableReferee::Timing(t));
            if (m != CableReferee::kNoMargin)
                Say(QStringLiteral("  %1: %2 by %3 ns")
                        .arg(QLatin1String(CableReferee::timingName(CableReferee::Timing(t))),
                             m >= 0 ? QStringLiteral("met") : QStringLiteral("MISSED"))
                        .arg(qAbs(m)));
        }
        const QStringList broken = regs.referee().brokenRules();
        Say(ran && broken.isEmpty() ? QStringLiteral("  meets SCSI timing: yes")
                                    : QStringLiteral("  meets SCSI timing: no (%1)")
                                          .arg(broken.join(QStringLiteral(", "))));
    }

    if (o.virtualScanner) {
        ScannerModelOptions options;
        options.selfTestMs = 0;
        scanner.reset(new ScannerModelSim(o.model, options));
        virt = &scanner->scanner().registers();
        virt->setProfile(*o.pi);
        // Breaches that the cable's fault causes are shown, not fatal.
        virt->referee().setMode(CableReferee::Mode::Warn);
        scanner->scanner().setCableFault(o.fault, o.faultAfterBytes);
        scanner->installOnBus();
    }

    // 3. The idle cable: every transceiver inbound, nothing driven.
    if (!bus.Init(BUS::TARGET)) {
        Say(QStringLiteral("3 idle cable: the registers could not be opened"));
        return kExitCannotRun;
    }
    bus.Reset();
    const DWORD idle = bus.Aquire() & (kMaskDAT | kMaskATN | kMaskRST | kMaskACK | kMaskREQ |
                                       kMaskPhase | kMaskBSY | kMaskSEL);
    bus.Cleanup();
    const QString stuck = LineNames(idle);
    Say(stuck.isEmpty() ? QStringLiteral("3 idle cable: every line released")
                        : QStringLiteral("3 idle cable: asserted: %1").arg(stuck));

    // 4. Reset, selection, INQUIRY and TEST UNIT READY.
    Say(QStringLiteral("4 transactions"));
    if (!BusOpenWithReset()) {
        Say(QStringLiteral("  the registers could not be opened"));
        return kExitCannotRun;
    }
    Say(QStringLiteral("  bus reset: RST held %1 us").arg(kBusResetPulseUs));
    bus.Aquire();
    const bool busyBefore = bus.GetBSY();

    BYTE inquiry[6] = {kOpInquiry, 0, 0, 0, kInquiryLength, 0};
    BYTE data[kInquiryLength] = {};
    const Transaction inq = Ask(inquiry, 6, data, kInquiryLength);
    Transaction tur;
    const bool inquiryOk = inq.arbitration >= 0 && inq.command && inq.dataIn == kInquiryLength &&
                           inq.status == 0 && inq.message >= 0;
    if (inquiryOk) {
        const QByteArray text(reinterpret_cast<const char *>(data), kInquiryLength);
        Say(QStringLiteral("  vendor \"%1\" product \"%2\" revision \"%3\"")
                .arg(QString::fromLatin1(text.mid(8, 8)), QString::fromLatin1(text.mid(16, 16)),
                     QString::fromLatin1(text.mid(32, 4))));
        BYTE testUnitReady[6] = {kOpTestUnitReady, 0, 0, 0, 0, 0};
        tur = Ask(testUnitReady, 6, nullptr, 0);
    }
    Readout readout;
    if (o.readout && tur.status == kStatusGood && tur.message >= 0) {
        Say(QStringLiteral("5 readout: START, then the wait for the reader's reselection"));
        readout = StartAndAwaitReselection(o.virtualScanner);
    } else if (o.readout) {
        Say(QStringLiteral("5 readout: not started, the scanner is not ready"));
    }
    Cleanup();

    // A line asserted on the idle cable comes first: everything after it is its echo.
    if (!stuck.isEmpty())
        return Verdict(QStringLiteral("%1 asserted on the idle cable: a terminator without "
                                      "power, a broken transceiver or a short in the cable; "
                                      "mend it before anything else.")
                           .arg(stuck),
                       kExitNoAnswer);
    if (busyBefore)
        return Verdict(QStringLiteral("BSY is held on the cable: the scanner is hung or BSY is "
                                      "stuck; switch the scanner off and on, then check the "
                                      "terminators and the cable."),
                       kExitNoAnswer);
    if (inq.arbitration < 0)
        return Verdict(QStringLiteral("BSY never came after selection: the scanner is "
                                      "off, has another SCSI ID, or the cable is not "
                                      "connected."),
                       kExitNoAnswer);
    if (inq.status == kStatusCheckCondition)
        return Verdict(QStringLiteral("the scanner refused INQUIRY (CHECK CONDITION): a "
                                      "data line is broken or stuck, check the cable "
                                      "and the transceivers."),
                       kExitNoAnswer);
    if (!inquiryOk)
        return Verdict(QStringLiteral("the scanner stopped answering in the middle of "
                                      "INQUIRY: it lost power or the cable came loose."),
                       kExitNoAnswer);
    if (tur.arbitration < 0)
        return Verdict(QStringLiteral("the scanner answered INQUIRY, then held BSY: it "
                                      "is hung; switch it off and on."),
                       kExitNoAnswer);
    if (!tur.command || tur.status < 0 || tur.message < 0)
        return Verdict(QStringLiteral("the scanner stopped answering after INQUIRY: it "
                                      "lost power or the cable came loose."),
                       kExitNoAnswer);
    if (readout.ran && !readout.disconnected)
        return Verdict(QStringLiteral("the scanner did not disconnect after START: it is not "
                                      "an imaging-plate reader, or it refused the readout; "
                                      "check the model and the plate."),
                       kExitNoAnswer);
    if (readout.ran && readout.reselection == -5)
        return Verdict(QStringLiteral("the reader reselected with the IDs %1 instead of a0 "
                                      "(the Pi's 80 and its own 20): set the reader to SCSI "
                                      "ID 5 and check the data lines.")
                           .arg(readout.ids, 2, 16, QLatin1Char('0')),
                       kExitNoAnswer);
    if (readout.ran && readout.reselection == -4)
        return Verdict(QStringLiteral("the reader disconnected after START and never "
                                      "reselected: its SEL and I/O do not reach the Pi (check "
                                      "the transceivers' direction pins and the cable) or the "
                                      "reader is hung; switch it off and on."),
                       kExitNoAnswer);
    if (readout.ran && readout.reselection < 0)
        return Verdict(QStringLiteral("the reader's reselection broke off (%1): BSY or SEL did "
                                      "not change as they should; check BSY and SEL on the "
                                      "cable and the transceivers.")
                           .arg(readout.reselection),
                       kExitNoAnswer);
    if (readout.ran)
        return Verdict(QStringLiteral("the scanner answered, and the reader reselected the Pi "
                                      "after START. Next: start the station for this model."),
                       kExitAnswered);
    return Verdict(tur.status == 0
                       ? QStringLiteral("the scanner answered and is ready. Next: start the "
                                        "station for this model.")
                       : QStringLiteral("the scanner answered; it is not ready yet (self-"
                                        "diagnosis, or no plate in a reader). Next: start the "
                                        "station for this model."),
                   kExitAnswered);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("scanstation-buscheck"));
    Options options;
    if (!ParseOptions(app, &options))
        return kExitCannotRun;
    return Check(options);
}
