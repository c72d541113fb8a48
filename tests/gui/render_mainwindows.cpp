// Renders the main window of each scanner model, as it stands right after start-up, to
// PNG files: mainwindow-<model>.png in the folder given as the first argument, or in
// render/ under the build folder. The station's data files go to a temporary root.
#include "mainwindow.h"
#include "scanstate.h"
#include "stationfixture.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(SCANSTATION_RENDER_DIR);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }

    const struct {
        int model;
        const char *name;
    } models[] = {{kModelKIREL5, "kirel5"},
                  {kModelKIREL3, "kirel3"},
                  {kModelVESK5000, "vesk5000"},
                  {kModelVESK1800, "vesk1800"}};
    int failures = 0;
    for (const auto &m : models) {
        TempStationRoot root;
        ResetSharedState(m.model);
        MainWindow window;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            ++failures;
        const QString file = folder + QStringLiteral("/mainwindow-%1.png").arg(m.name);
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return failures == 0 ? 0 : 1;
}
