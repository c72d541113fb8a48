// scanstation-buscheck as the operator runs it, one process per case, against the virtual
// scanner it brings along: its verdict and exit status for what the cable does.
#include "gpioregs.h"
#include "testprogram.h"

#include <QtTest>

class TestBuscheck : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
};

void TestBuscheck::verdicts_data()
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
    // With --readout a reader is started: only then does it disconnect and reselect.
    const auto readout = [](const char *name, const char *model, const char *fault, int code,
                            const char *verdict) {
        QTest::newRow(name) << QStringList{"--virtual", model, "--fault", fault, "--readout"}
                            << code << verdict;
    };
    readout("reader reselects", "4", "none", 0, "the reader reselected the Pi after START");
    readout("reader never reselects", "4", "no-reselect", 1, "never reselected");
    readout("reader reselects as ID 6", "8", "wrong-reselect", 1, "with the IDs c0 instead of a0");
    readout("not a reader", "11", "none", 1, "did not disconnect after START");
    QTest::newRow("no Pi") << QStringList() << 2 << "not a Raspberry Pi";
    // A model it cannot emulate is refused on standard error before anything runs.
    QTest::newRow("unknown model") << QStringList{"--virtual", "99"} << 2 << QString();
}

// Off a Pi it refuses without the virtual scanner.
void TestBuscheck::verdicts()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    if (args.isEmpty() && HardwareBuildCanMapRegisters())
        QSKIP("running on a Raspberry Pi");
    TestProgram p;
    QVERIFY(p.start(QStringLiteral(SCANSTATION_BUSCHECK_PATH), args));
    // A guard against a run that never ends: a run takes well under a second natively, many
    // more under qemu.
    if (!p.waitForFinished(300000)) {
        p.kill();
        QFAIL("did not end");
    }
    const QStringList out =
        QString::fromLocal8Bit(p.standardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(p.exitCode(), exitCode);
    QVERIFY2(verdict.isEmpty() ? out.isEmpty() : !out.isEmpty() && out.last().contains(verdict),
             qPrintable(out.join('\n')));
    if (exitCode == 0) {
        QVERIFY(out.contains(QStringLiteral("  meets SCSI timing: yes")));
        QCOMPARE(out.filter(QStringLiteral("vendor \"KIREL   \" product")).size(), 1);
    }
}

QTEST_GUILESS_MAIN(TestBuscheck)
#include "tst_buscheck.moc"
