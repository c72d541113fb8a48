// The record of how a scan ended, written once its image files are closed.
//
// The image keeps its full size whatever the ending, rows not read staying black; the
// .inf header is written before the scan and says nothing of the end. So an ending other
// than "SCAN COMPLETE" leaves one error-log line naming the image with the lines it got,
// and the scanning log (when on) ends with a line of how the scan ended.
#include "scanwindow.h"

#include "logfiles.h"
#include "scanstate.h"

void ScanEndRecord(const QString &how, bool complete)
{
    const ScanSetup &s = newscansetup;
    const int expected = ScanImageRows();
    const QString lines =
        QStringLiteral("%1 of %2 lines").arg(qMin(s.scanstatus, expected)).arg(expected);
    if (sysparams.readlog == 1)
        ScanningLogWrite(QStringLiteral("END: ") + how + QStringLiteral(", ") + lines);
    if (!complete)
        ErrorLogWrite(QStringLiteral("IMAGE INCOMPLETE: ") + ScanFilePath(".img") +
                      QStringLiteral(", ") + lines);
}
