#include "cablereferee.h"

#include "scsi.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace
{
// SCSI-2 single-ended timing (ns).
constexpr quint64 kDataReleaseNs = 400;
constexpr quint64 kDeskewPlusSkewNs = 45 + 10;
constexpr quint64 kBusFreeDelayNs = 800;
constexpr quint64 kArbitrationDelayNs = 2400;
constexpr quint64 kResetHoldNs = 25000;
constexpr quint64 kBusClearPlusSettleNs = 800 + 400;
constexpr quint64 kTwoDeskewNs = 2 * 45;

constexpr DWORD kTargetOnly = kMaskREQ | kMaskMSG | kMaskCD | kMaskIO;

const char *PhaseName(DWORD cable)
{
    if (cable & kMaskSEL)
        return (cable & kMaskIO) ? "reselection" : "selection";
    if (!(cable & kMaskBSY))
        return "bus free";
    static const char *const names[8] = {"DATA OUT", "DATA IN",  "COMMAND",     "STATUS",
                                         "reserved", "reserved", "MESSAGE OUT", "MESSAGE IN"};
    const int mci =
        ((cable & kMaskMSG) ? 4 : 0) | ((cable & kMaskCD) ? 2 : 0) | ((cable & kMaskIO) ? 1 : 0);
    return names[mci];
}

bool InformationPhase(DWORD cable)
{
    return (cable & kMaskBSY) && !(cable & kMaskSEL);
}

bool OddParity(DWORD cable)
{
    DWORD lines = (cable & kMaskDAT) >> PIN_DT0;
    int ones = 0;
    for (; lines; lines &= lines - 1)
        ++ones;
    return ones & 1;
}

QString LineNames(DWORD lines)
{
    static const std::pair<DWORD, const char *> names[] = {
        {kMaskBSY, "BSY"}, {kMaskSEL, "SEL"}, {kMaskATN, "ATN"},
        {kMaskRST, "RST"}, {kMaskACK, "ACK"}, {kMaskREQ, "REQ"},
        {kMaskMSG, "MSG"}, {kMaskCD, "C/D"},  {kMaskIO, "I/O"}};
    QStringList out;
    for (const auto &n : names)
        if (lines & n.first)
            out << QString::fromLatin1(n.second);
    if (lines & kMaskDAT)
        out << QStringLiteral("DB=%1%2")
                   .arg((lines >> PIN_DT0) & 0xFF, 2, 16, QLatin1Char('0'))
                   .arg((lines & (1u << PIN_DP)) ? "+P" : "");
    return out.isEmpty() ? QStringLiteral("none") : out.join(QLatin1Char(' '));
}

QString RegisterName(int word)
{
    switch (word) {
    case GPFSEL0:
    case GPFSEL1:
    case GPFSEL2:
    case GPFSEL3:
        return QStringLiteral("GPFSEL%1").arg(word - GPFSEL0);
    case GPSET0:
        return QStringLiteral("GPSET0");
    case GPCLR0:
        return QStringLiteral("GPCLR0");
    case GPLEV0:
        return QStringLiteral("GPLEV0");
    case GPPUD:
        return QStringLiteral("GPPUD");
    case GPPUDCLK0:
        return QStringLiteral("GPPUDCLK0");
    default:
        return QStringLiteral("word %1").arg(word);
    }
}
} // namespace

const QVector<PiProfile> &PiProfiles()
{
    static const QVector<PiProfile> profiles = {{"pi3", 55, 4}, {"pi4", 175, 4}};
    return profiles;
}

const PiProfile *PiProfileByName(const QString &name)
{
    for (const PiProfile &p : PiProfiles())
        if (name == QLatin1String(p.name))
            return &p;
    return nullptr;
}

const PiProfile &DefaultPiProfile()
{
    const PiProfile *p = PiProfileByName(QString::fromLocal8Bit(qgetenv("SCANSTATION_SIM_PI")));
    return p ? *p : PiProfiles().first();
}

const QVector<ToleratedRule> &ToleratedRules()
{
    static const QVector<ToleratedRule> rules = {
        {"selection-without-arbitration",
         "only the standard command wrappers select without arbitrating; the station is the "
         "only initiator on its cable, so no other device can be arbitrating for it"},
    };
    return rules;
}

QString CableReferee::Breach::text() const
{
    return QStringLiteral("referee: %1 at %2 ns in %3: %4; lines %5; last accesses: %6")
        .arg(rule)
        .arg(ns)
        .arg(phase, detail, LineNames(lines), accesses);
}

CableReferee::CableReferee() : mode_(Mode::Strict)
{
    for (qint64 &m : margins_)
        m = kNoMargin;
}

const char *CableReferee::timingName(Timing t)
{
    static const char *const names[Timings] = {
        "data before ACK (55 ns)",         "selection settle delays (1.2 us, 90 ns)",
        "data release after I/O (400 ns)", "bus free delay (800 ns)",
        "arbitration delay (2.4 us)",      "reset hold time (25 us)"};
    return names[t];
}

bool CableReferee::modeFromName(const QString &name, Mode *mode)
{
    static const std::pair<const char *, Mode> names[] = {
        {"strict", Mode::Strict}, {"warn", Mode::Warn}, {"off", Mode::Off}};
    for (const auto &n : names) {
        if (name == QLatin1String(n.first)) {
            *mode = n.second;
            return true;
        }
    }
    return false;
}

QStringList CableReferee::brokenRules() const
{
    QStringList rules;
    for (const Breach &b : breaches_)
        if (!rules.contains(b.rule))
            rules << b.rule;
    return rules;
}

QString CableReferee::accessText() const
{
    QStringList out;
    for (int i = 0; i < kAccessLog; ++i) {
        const Access &a = log_[(logNext_ + i) % kAccessLog];
        if (a.ns == 0 && a.word == 0 && a.value == 0)
            continue;
        if (a.read)
            out << QStringLiteral("%1 read %2").arg(a.ns).arg(RegisterName(a.word));
        else
            out << QStringLiteral("%1 %2=%3")
                       .arg(a.ns)
                       .arg(RegisterName(a.word))
                       .arg(a.value, 8, 16, QLatin1Char('0'));
    }
    return out.join(QStringLiteral(", "));
}

void CableReferee::breach(quint64 ns, const char *rule, const QString &detail)
{
    for (const ToleratedRule &t : ToleratedRules())
        if (qstrcmp(t.rule, rule) == 0)
            return;
    Breach b{ns,
             QString::fromLatin1(PhaseName(prev_.cable)),
             QString::fromLatin1(rule),
             detail,
             prev_.cable,
             accessText()};
    if (breaches_.size() < 1000)
        breaches_.append(b);
    switch (mode_) {
    case Mode::Strict:
        // Also straight to standard error: a test's own output may be buffered and lost
        // when the program ends here.
        std::fprintf(stderr, "%s\n", qPrintable(b.text()));
        std::fflush(stderr);
        qFatal("%s", qPrintable(b.text()));
        break;
    case Mode::Warn:
        if (!warned_.contains(b.rule)) {
            warned_ << b.rule;
            std::fprintf(stderr, "%s\n", qPrintable(b.text()));
        }
        break;
    default:
        break;
    }
}

// The state held since the last access: the one rule that is about how long something
// lasts without an access to end it.
void CableReferee::before(quint64 ns)
{
    if (mode_ == Mode::Off)
        return;
    const DWORD piData = prev_.pi & prev_.reach & kMaskDAT;
    if (piData && (prev_.cable & kMaskIO) && ns - ioSince_ > kDataReleaseNs) {
        if (!dataDriveReported_) {
            dataDriveReported_ = true;
            breach(ns, "two-drivers",
                   QStringLiteral("the Pi still drives data lines %1 ns after I/O")
                       .arg(ns - ioSince_));
        }
    } else {
        dataDriveReported_ = false;
    }
}

void CableReferee::after(quint64 ns, const Board &now)
{
    if (mode_ == Mode::Off) {
        prev_ = now;
        return;
    }
    const Board was = prev_;
    if (now.pi == was.pi && now.reach == was.reach && now.cable == was.cable &&
        now.enabled == was.enabled)
        return;

    const DWORD onCable = now.pi & now.reach;
    const DWORD wasOnCable = was.pi & was.reach;
    const DWORD rose = now.cable & ~was.cable;
    const DWORD fell = was.cable & ~now.cable;
    const DWORD piRose = onCable & ~wasOnCable;
    const DWORD piFell = wasOnCable & ~onCable;

    // Bookkeeping that the rules below read.
    if (rose & kMaskIO)
        ioSince_ = ns;
    if ((now.cable ^ was.cable) & kMaskDAT) {
        if (InformationPhase(now.cable) && !(now.cable & kMaskIO) && (now.cable & kMaskACK) &&
            (was.cable & kMaskACK))
            breach(ns, "data-before-strobe", QStringLiteral("data lines changed under ACK"));
        // Having won arbitration, the initiator leaves the data lines alone for a bus clear
        // and a bus settle delay after asserting SEL.
        if ((onCable & kMaskSEL) && (wasOnCable & kMaskSEL) && (onCable & kMaskBSY)) {
            measure(SelectionSettle, qint64(ns - selectionAt_) - qint64(kBusClearPlusSettleNs));
            if (ns - selectionAt_ < kBusClearPlusSettleNs)
                breach(ns, "selection-settle",
                       QStringLiteral("the IDs put on the lines %1 ns after SEL")
                           .arg(ns - selectionAt_));
        }
        dataChangedAt_ = ns;
    }
    if (InformationPhase(now.cable) && (now.cable & kMaskPhase) == (kMaskMSG | kMaskCD))
        messageOutSeen_ = true;

    prev_ = now;

    const DWORD lost =
        now.pi & ~now.reach &
        (kMaskDAT | kMaskPhase | kMaskREQ | kMaskBSY | kMaskSEL | kMaskATN | kMaskACK | kMaskRST);
    if (lost & ~lost_)
        breach(ns, now.enabled ? "lost-assertion" : "enable-off",
               QStringLiteral("the Pi asserts %1 %2")
                   .arg(LineNames(lost & ~lost_),
                        now.enabled ? QStringLiteral("through an inbound transceiver")
                                    : QStringLiteral("with the transceivers disabled")));
    lost_ = lost;

    if ((piFell & kMaskDAT) && !(onCable & kMaskDAT) && (now.cable & kMaskIO))
        measure(DataRelease, qint64(kDataReleaseNs) - qint64(ns - ioSince_));

    if (piRose & kTargetOnly)
        breach(ns, "two-drivers",
               QStringLiteral("the Pi drives %1, a target's line")
                   .arg(LineNames(piRose & kTargetOnly)));

    if (piRose & kMaskACK) {
        if (!(now.cable & kMaskREQ))
            breach(ns, "handshake-order", QStringLiteral("ACK asserted while REQ is released"));
        if (InformationPhase(now.cable) && (now.cable & kMaskIO) && (now.reach & kMaskDAT))
            breach(ns, "blind-read",
                   QStringLiteral("a byte taken with the data transceivers outbound"));
        if (InformationPhase(now.cable) && !(now.cable & kMaskIO)) {
            measure(DataBeforeStrobe, qint64(ns - dataChangedAt_) - qint64(kDeskewPlusSkewNs));
            if (ns - dataChangedAt_ < kDeskewPlusSkewNs)
                breach(ns, "data-before-strobe",
                       QStringLiteral("ACK %1 ns after the data lines changed")
                           .arg(ns - dataChangedAt_));
            if (!OddParity(now.cable))
                breach(ns, "parity", QStringLiteral("even parity on the nine data lines"));
        }
    }
    if ((piFell & kMaskACK) && (now.cable & kMaskREQ))
        breach(ns, "handshake-order", QStringLiteral("ACK released while REQ is asserted"));

    if ((piRose & kMaskATN) && InformationPhase(now.cable) && !messageOutSeen_)
        breach(ns, "atn-late", QStringLiteral("ATN asserted after SEL was released"));
    if ((piFell & kMaskATN) && InformationPhase(now.cable) &&
        (now.cable & kMaskPhase) == (kMaskMSG | kMaskCD) &&
        ((now.cable & kMaskACK) || !(now.cable & kMaskREQ)))
        breach(ns, "atn-after-ack", QStringLiteral("ATN released after the byte's ACK"));

    if ((piRose & kMaskBSY) && !(was.cable & (kMaskBSY | kMaskSEL))) {
        if (busFreeSince_ > 0) // measured from a bus that was seen to go free
            measure(BusFree, qint64(ns - busFreeSince_) - qint64(kBusFreeDelayNs));
        if (ns - busFreeSince_ < kBusFreeDelayNs)
            breach(ns, "bus-free-delay",
                   QStringLiteral("arbitration %1 ns after bus free").arg(ns - busFreeSince_));
        arbitrationAt_ = ns;
        arbitrating_ = true;
    }
    if (piRose & kMaskSEL) {
        if (arbitrating_ && (wasOnCable & kMaskBSY)) {
            measure(ArbitrationDelay, qint64(ns - arbitrationAt_) - qint64(kArbitrationDelayNs));
            if (ns - arbitrationAt_ < kArbitrationDelayNs)
                breach(ns, "arbitration-delay",
                       QStringLiteral("SEL %1 ns after arbitration").arg(ns - arbitrationAt_));
        } else if (!(was.cable & kMaskBSY)) {
            breach(ns, "selection-without-arbitration", QStringLiteral("SEL on a free bus"));
        }
    }
    if (piRose & kMaskSEL)
        selectionAt_ = ns;
    // Two deskew delays between the IDs and the release of BSY, and between the target's
    // BSY and the release of SEL.
    if ((piFell & kMaskBSY) && (onCable & kMaskSEL) && !(now.cable & kMaskIO)) {
        measure(SelectionSettle, qint64(ns - dataChangedAt_) - qint64(kTwoDeskewNs));
        if (ns - dataChangedAt_ < kTwoDeskewNs)
            breach(ns, "selection-settle",
                   QStringLiteral("BSY released %1 ns after the IDs").arg(ns - dataChangedAt_));
    }
    if ((rose & kMaskBSY) && (onCable & kMaskSEL) && !(onCable & kMaskBSY))
        targetBusyAt_ = ns;
    if ((piFell & kMaskSEL) && (now.cable & kMaskBSY) && !(now.cable & kMaskIO)) {
        measure(SelectionSettle, qint64(ns - targetBusyAt_) - qint64(kTwoDeskewNs));
        if (ns - targetBusyAt_ < kTwoDeskewNs)
            breach(ns, "selection-settle",
                   QStringLiteral("SEL released %1 ns after the target's BSY")
                       .arg(ns - targetBusyAt_));
    }
    // Selection as the target sees it: SEL from the Pi with BSY released.
    const bool selecting = (onCable & kMaskSEL) && !(now.cable & (kMaskBSY | kMaskIO));
    const bool wasSelecting = (wasOnCable & kMaskSEL) && !(was.cable & (kMaskBSY | kMaskIO));
    if (selecting && !wasSelecting) {
        const DWORD ids = (now.cable >> PIN_DT0) & 0xFF;
        const DWORD target = ids & ~0x80u;
        if (!(ids & 0x80) || target == 0 || (target & (target - 1)))
            breach(ns, "selection-ids",
                   QStringLiteral("data lines %1 at selection").arg(ids, 2, 16, QLatin1Char('0')));
    }

    if ((piFell & kMaskBSY) && (now.cable & kMaskSEL) && (now.cable & kMaskIO))
        breach(ns, "reselection-bsy",
               QStringLiteral("the Pi released BSY while the target still holds SEL"));

    if (piRose & kMaskRST)
        resetAt_ = ns;
    if (piFell & kMaskRST)
        measure(ResetHold, qint64(ns - resetAt_) - qint64(kResetHoldNs));
    if ((piFell & kMaskRST) && ns - resetAt_ < kResetHoldNs)
        breach(ns, "reset-hold", QStringLiteral("RST held %1 ns").arg(ns - resetAt_));

    if ((fell & (kMaskBSY | kMaskSEL)) && !(now.cable & (kMaskBSY | kMaskSEL))) {
        busFreeSince_ = ns;
        arbitrating_ = false;
        messageOutSeen_ = false;
    }
}
