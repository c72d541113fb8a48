// Renders the station's windows of each scanner model offscreen to PNG files, for a person
// to look at, in the folder given as the first argument or in render/ under the build folder:
//  - mainwindow-<model>.png: the main window right after start-up;
//  - mainwindow-<model>-long.png: the same window with the longest texts the status poll
//    writes (ten status-log lines, board temperatures, the sense condition);
//  - configdialog-<model>.png and templatesdialog-<model>.png: the two settings dialogs.
// Every visible text that its widget cannot show whole is listed on the standard error
// stream ("cut: ..."), and then the program fails. The station's data files go to a
// temporary root.
#include "configdialog.h"
#include "logfiles.h"
#include "mainwindow.h"
#include "scanstate.h"
#include "stationfixture.h"
#include "templatesdialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QTextDocument>

#include <cstdio>

namespace
{

// A date with the widest day and month names the timestamps can have.
QDateTime WidestLogDate()
{
    return QDateTime(QDate(2026, 9, 30), QTime(22, 58, 58));
}

QString ModelIdentity(int model)
{
    switch (model) {
    case kModelKIREL3:
        return QStringLiteral("KIREL    KIREL-3000      ");
    case kModelVESK5000:
        return QStringLiteral("KIREL    VESK-5000     ");
    case kModelVESK1800:
        return QStringLiteral("KIREL    VESK-1800II   ");
    default:
        return QStringLiteral("KIREL    KIREL-5100      ");
    }
}

// The status log full: the identity line and nine timestamped events, the widest last.
void StatusLogFill(int model)
{
    LogClock = WidestLogDate;
    logeventnumber = 1;
    StatusLogUpdate(ModelIdentity(model));
    const char *const events[] = {"Connected", "No Connect", "Startup tests"};
    for (int i = 0; i < 9; ++i) {
        ++logeventnumber;
        StatusLogUpdate(LogTimestamp() + QLatin1String(events[qMin(i, 2)]));
    }
}

template <typename T> T *Child(QWidget &window, const char *name)
{
    T *child = window.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no widget %s", name);
    return child;
}

// The longest texts of the status poll, shown where the poll shows them; the board
// temperature label is restyled twice, as on two good readings in a row.
void LongestTextsShow(QWidget &window, int model)
{
    StatusLogFill(model);
    Child<QLabel>(window, "label_statuslog")->setText(QNewStatusString);
    Child<QLabel>(window, "label_scannercondition")
        ->setText(QString::asprintf("Sense key:%02Xh Sense code:%02X%02Xh", 0x0B, 0x4E, 0x00));
    auto *boardTemp = Child<QLabel>(window, "labelSCSIboardTemp");
    boardTemp->setText(QString::asprintf("SCSI Board Temp: %.2f C", -10.25));
    boardTemp->setStyleSheet(QStringLiteral("QLabel { background-color : rgb(0,255,0); }"));
    boardTemp->setStyleSheet(QStringLiteral("QLabel { background-color : rgb(0,200,0); }"));
    Child<QLabel>(window, "labelLDtemperature")
        ->setText(QString::asprintf("LD685 Temperature: %.1f C", -10.5));
    Child<QLabel>(window, "labelLDmonitor")->setText(QString::asprintf("LD Monitor: %.3f V", 10.0));
    auto *status = Child<QLabel>(window, "labelstatus");
    status->setText(QStringLiteral("Scanner connected - busy"));
    status->setStyleSheet(QStringLiteral("QLabel { background-color : yellow; }"));
    status->setStyleSheet(QStringLiteral("QLabel { background-color : rgba(0,128,255,255); }"));
}

// The size a label's text needs, or an empty size when the label shows no text.
QSize LabelTextSize(const QLabel *label)
{
    if (label->text().isEmpty())
        return QSize();
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    const int width = label->contentsRect().width() - 2 * label->margin();
    if (rich) {
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setDocumentMargin(0);
        document.setHtml(label->text());
        if (label->wordWrap())
            document.setTextWidth(width);
        return document.size().toSize();
    }
    const int flags = label->wordWrap() ? int(Qt::TextWordWrap) : 0;
    return label->fontMetrics()
        .boundingRect(QRect(0, 0, width, 100000), flags, label->text())
        .size();
}

// The width a button needs to show its text whole: check and radio buttons from where the
// style starts their text, push buttons with the style's margin on both sides.
int ButtonTextWidth(const QAbstractButton *button)
{
    const int text = button->fontMetrics().horizontalAdvance(button->text());
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle *style = button->style();
    if (qobject_cast<const QRadioButton *>(button))
        return style->subElementRect(QStyle::SE_RadioButtonContents, &option, button).x() + text;
    if (qobject_cast<const QCheckBox *>(button))
        return style->subElementRect(QStyle::SE_CheckBoxContents, &option, button).x() + text;
    const int iconWidth = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
    return text + iconWidth + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
}

// Where the style puts a group's title.
QRect GroupTitleRect(const QGroupBox *group)
{
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.textAlignment = group->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (group->isCheckable())
        option.subControls |= QStyle::SC_GroupBoxCheckBox;
    return group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                          group);
}

// The widgets of a window whose text does not fit, as "cut:" lines.
int CutTextsReport(QWidget &window, const QString &picture)
{
    int cut = 0;
    auto report = [&](const QWidget *w, const QString &text, QSize needs, QSize has) {
        std::fprintf(stderr, "cut: %s %s \"%s\" needs %dx%d, has %dx%d\n", qPrintable(picture),
                     qPrintable(w->objectName()), qPrintable(text), needs.width(), needs.height(),
                     has.width(), has.height());
        ++cut;
    };
    for (QWidget *w : window.findChildren<QWidget *>()) {
        if (!w->isVisibleTo(&window) || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QWidget *parent = w->parentWidget();
        if (parent && parent != &window && !parent->rect().contains(w->geometry()))
            report(w, QStringLiteral("(outside %1)").arg(parent->objectName()),
                   QSize(w->geometry().right() + 1, w->geometry().bottom() + 1), parent->size());
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const QSize needs = LabelTextSize(label);
            const QSize has = label->contentsRect().size() - 2 * QSize(label->margin(), 0);
            if (!needs.isEmpty() &&
                (needs.width() > has.width() || needs.height() > label->height()))
                report(w, label->text(), needs, has);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            const QSize needs(ButtonTextWidth(button), button->fontMetrics().height());
            if (!button->text().isEmpty() && needs.width() > button->width())
                report(w, button->text(), needs, button->size());
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            const QRect title = GroupTitleRect(group);
            if (title.right() >= group->width())
                report(w, group->title(), QSize(title.right() + 1, title.height()), group->size());
        }
    }
    return cut;
}

// Shows the window, saves its picture and reports its cut texts; the number of faults.
int Render(QWidget &window, const QString &folder, const QString &name)
{
    window.show();
    int faults = QTest::qWaitForWindowExposed(&window) ? 0 : 1;
    const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!window.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return faults + 1;
    }
    std::printf("%s\n", qPrintable(file));
    return faults + CutTextsReport(window, name);
}

} // namespace

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
        const QString model = QLatin1String(m.name);
        TempStationRoot root;
        ResetSharedState(m.model);
        MainWindow window;
        failures += Render(window, folder, QStringLiteral("mainwindow-") + model);
        LongestTextsShow(window, m.model);
        failures += Render(window, folder, QStringLiteral("mainwindow-%1-long").arg(model));
        window.hide();
        {
            ConfigDialog config(&window);
            failures += Render(config, folder, QStringLiteral("configdialog-") + model);
        }
        {
            TemplatesDialog templates(&window);
            failures += Render(templates, folder, QStringLiteral("templatesdialog-") + model);
        }
    }
    return failures == 0 ? 0 : 1;
}
