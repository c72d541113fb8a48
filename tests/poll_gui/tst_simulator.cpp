// scanstation-sim as the operator runs it: one process per case, offscreen, with its files
// under a temporary root. What counts is what it prints, how it ends and what it leaves in
// the root.
#include "gpioregs.h"
#include "testprogram.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

// A guard against a run that never ends: the runs take about a second each natively, many
// more under qemu.
constexpr int kRunLimitMs = 300000;

struct Run {
    int exitCode = -1;
    QStringList out; // standard output, line by line
    QString err;
};

Run RunProgram(const QString &program, const QStringList &args)
{
    TestProgram p;
    Run run;
    if (!p.start(program, args)) {
        run.err = QStringLiteral("could not start");
        return run;
    }
    if (!p.waitForFinished(kRunLimitMs)) {
        p.kill();
        run.err = QStringLiteral("did not end");
        return run;
    }
    run.exitCode = p.exitCode();
    run.out =
        QString::fromLocal8Bit(p.standardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromLocal8Bit(p.standardError());
    return run;
}

Run Simulate(const QStringList &args)
{
    return RunProgram(QStringLiteral(SCANSTATION_SIM_PATH), args);
}

QString ReadText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
}

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void readyPerModel_data();
    void readyPerModel();
    void buscheckVerdicts_data();
    void buscheckVerdicts();
};

void TestSimulator::readyPerModel_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("bootLog"); // under /home/pi
    QTest::addColumn<QString>("pi");

    const auto row = [](const char *name, const char *model, const char *scenario,
                        const char *bootLog, const char *pi) {
        QTest::newRow(name) << model << scenario << bootLog << pi;
    };
    row("KIREL-5000/5100", "11", "none", "KIREL5-IR/KIREL5_boot.log", "pi3");
    row("VESK-5000 without a plate", "8", "no-plate", "VESK-IR/VESK_boot.log", "pi4");
    row("KIREL-5000/5100 without the laser-diode board", "11", "no-ld-board",
        "KIREL5-IR/KIREL5_boot.log", "pi4");
}

// The status texts from start-up to "Ready", exit 0, the station's files under the root,
// the command trace and the picture of the ready window.
void TestSimulator::readyPerModel()
{
    QFETCH(QString, model);
    QFETCH(QString, scenario);
    QFETCH(QString, bootLog);
    QFETCH(QString, pi);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString root = tmp.filePath(QStringLiteral("root"));
    const QString trace = tmp.filePath(QStringLiteral("trace.jsonl"));
    const QString picture = tmp.filePath(QStringLiteral("ready.png"));
    const Run run = Simulate({"--model",        model,
                              "--root",         root,
                              "--selftest-ms",  "1500",
                              "--scenario",     scenario,
                              "--trace",        trace,
                              "--screenshot",   picture,
                              "--print-status", "--exit-when-ready",
                              "--timeout",      "30",
                              "--referee",      "strict",
                              "--pi",           pi});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // How many ticks fall into the self diagnosis is the machine's business; the texts in
    // between are those of a scanner on its way to ready.
    QVERIFY(run.out.size() >= 2);
    QCOMPARE(run.out.first(), QStringLiteral("No connection - Power off?"));
    QCOMPARE(run.out.last(), QStringLiteral("Ready"));
    for (const QString &text : run.out.mid(1, run.out.size() - 2))
        QVERIFY(text == QLatin1String("Startup self diagnosis") ||
                text == QLatin1String("Scanner connected - busy"));
    QStringList texts = run.out;
    QCOMPARE(texts.removeDuplicates(), 0); // each text once, when it changes

    QVERIFY(ReadText(root + QStringLiteral("/home/pi/") + bootLog)
                .contains(QLatin1String(" READY:\n")));
    QVERIFY(ReadText(trace).startsWith(QLatin1String("{\"cdb\":\"12 ")));
    QCOMPARE(QImage(picture).size(), QSize(1000, 785));
}

void TestSimulator::buscheckVerdicts_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("verdict");
    const auto row = [](const char *name, const char *model, const char *fault, int code,
                        const char *verdict) {
        QTest::newRow(name) << QStringList{"--virtual", model, "--fault", fault} << code << verdict;
    };
    row("answered", "11", "none", 0, "the scanner answered and is ready");
    row("switched off", "8", "power-off", 1, "BSY never came after selection");
    row("another SCSI ID", "10", "no-select", 1, "BSY never came after selection");
    row("BSY stuck", "11", "stuck-bsy", 1, "BSY asserted on the idle cable");
    row("data bit stuck", "11", "stuck-data", 1, "DB3 asserted on the idle cable");
    row("BSY held after INQUIRY", "11", "hold-bsy", 1, "answered INQUIRY, then held BSY");
    QTest::newRow("switched off in the INQUIRY data")
        << QStringList{"--virtual", "11", "--fault", "power-off", "--fault-after-bytes", "20"} << 1
        << "stopped answering in the middle of INQUIRY";
    QTest::newRow("no Pi") << QStringList() << 2 << "not a Raspberry Pi";
}

// scanstation-buscheck's verdict and exit status for what the cable does; off a Pi it
// refuses without the virtual scanner.
void TestSimulator::buscheckVerdicts()
{
#ifndef SCANSTATION_BUSCHECK_PATH
    QSKIP("scanstation-buscheck is not built");
#else
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    if (args.isEmpty() && HardwareBuildCanMapRegisters())
        QSKIP("running on a Raspberry Pi");
    const Run run = RunProgram(QStringLiteral(SCANSTATION_BUSCHECK_PATH), args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(!run.out.isEmpty() && run.out.last().contains(verdict),
             qPrintable(run.out.join('\n')));
    if (exitCode == 0) {
        QVERIFY(run.out.contains(QStringLiteral("  meets SCSI timing: yes")));
        QVERIFY(run.out.filter(QStringLiteral("vendor \"KIREL   \" product")).size() == 1);
    }
#endif
}

QTEST_MAIN(TestSimulator)
#include "tst_simulator.moc"
