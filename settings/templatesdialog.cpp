#include "templatesdialog.h"
#include "ui_templatesdialog.h"

#include "datafiles.h"
#include "scanstate.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QTableWidgetItem>

#include <algorithm>
#include <iterator>

namespace
{

const char *const kModeNames[] = {"IP", "IP-V", "Fluorescence", "Digitizing"};
const char *const kAreaNames[] = {"Grid", "35x43cm", "23x40cm", "20x40cm", "23x25cm", "20x25cm"};
// Channel-1 laser codes (laserCh1).
constexpr int kLaserCodeSlot0 = 1;
constexpr int kLaserCodeSlot1 = 2;
constexpr int kLaserCode635 = 4;
constexpr int kLaserCode670 = 8;
constexpr int kLaserCode685 = 16;

struct Column {
    const char *header;
    int width;
};
const Column kColumns[] = {
    {"Name", 120},     {"Comment", 120}, {"Mode", 80},     {"Area", 60},
    {"Res µm", 60},    {"LaserCh1", 60}, {"LaserCh2", 60}, {"FilterCh1", 60},
    {"FilterCh2", 60}, {"HV Ch1", 60},   {"HV Ch2", 60},   {"Destination Folder", 240},
};
constexpr int kColumnCount = int(std::size(kColumns));
constexpr int kRowHeight = 18;

// The name of a stored value; a value past the list shows as its number.
template <std::size_t N> QString NameOf(const char *const (&names)[N], int value)
{
    if (value >= 0 && value < int(N))
        return QString::fromUtf8(names[value]);
    return QString::number(value);
}

// The wavelength of a channel-1 laser code; empty for a code no laser has. Slots 0 and 1
// hold 473 and 532 nm unless the poll found them the other way round.
QString LaserCodeName(int code)
{
    switch (code) {
    case kLaserCodeSlot0:
        return laserCh1wavelength[kLaserCodeSlot0] == QLatin1String("532")
                   ? QStringLiteral("532nm")
                   : QStringLiteral("473nm");
    case kLaserCodeSlot1:
        return laserCh1wavelength[kLaserCodeSlot1] == QLatin1String("473")
                   ? QStringLiteral("473nm")
                   : QStringLiteral("532nm");
    case kLaserCode635:
        return QStringLiteral("635nm");
    case kLaserCode670:
        return QStringLiteral("670nm");
    case kLaserCode685:
        return QStringLiteral("685nm");
    default:
        return QString();
    }
}

// The laser of a template as Save as Template stores it: the laser code plus one, 0 when
// the scanner had not reported its lasers. Every record the dialog shows was stored so:
// element 0 is captured before the dialog opens (the scan request's element 0, which holds
// the list entry instead, is overwritten by that capture), and the listed templates are
// copies of captures. A value that names no laser shows as its number.
QString StoredLaserName(int stored)
{
    if (stored == 0)
        return QStringLiteral("none");
    const QString name = LaserCodeName(stored - 1);
    return name.isEmpty() ? QString::number(stored) : name;
}

// A line edit left empty gives a null text, which the file would store differently from
// an empty one; what the operator left empty is stored as an empty text.
QString EnteredText(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

} // namespace

TemplatesDialog::TemplatesDialog(QWidget *parent) : QDialog(parent), ui(new Ui::TemplatesDialog)
{
    ui->setupUi(this);
    setStyleSheet(QStringLiteral("background-color: rgba(225,235,255,255);"));
    CurrentSettingsShow();
    TableSetUp();
    for (int i = 1; i < templatecount; ++i)
        TemplatesAddRow(i);
}

TemplatesDialog::~TemplatesDialog()
{
    delete ui;
}

void TemplatesDialog::TableSetUp()
{
    QTableWidget *table = ui->tableWidget_templates;
    table->setColumnCount(kColumnCount);
    QStringList headers;
    for (const Column &c : kColumns)
        headers << QString::fromUtf8(c.header);
    table->setHorizontalHeaderLabels(headers);
    for (int c = 0; c < kColumnCount; ++c)
        table->setColumnWidth(c, kColumns[c].width);
    QHeaderView *header = table->horizontalHeader();
    header->setStyleSheet(QStringLiteral("QHeaderView { font-size: 8pt; }"));
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The style's minimum would otherwise make the rows taller than the table is laid out for.
    table->verticalHeader()->setMinimumSectionSize(kRowHeight);
    table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // One template at a time: Delete and Load act on the selected row.
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    // The cells show the stored templates; editing them would change nothing stored.
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void TemplatesDialog::CurrentSettingsShow()
{
    const ScanTempl &t = scanTemplate[0];
    ui->label_modetext->setText(NameOf(kModeNames, t.mode));
    ui->label_areatext->setText(NameOf(kAreaNames, t.area));
    ui->label_laserch1text->setText(StoredLaserName(t.laserCh1));
    ui->label_filterch1text->setText(t.filterLabel);
    ui->label_resolutiontext->setText(QString::asprintf("%3dµm", t.resolution));
    ui->label_HVch1text->setText(QString::asprintf("%4d V", t.HVch1));
    ui->label_foldertext->setText(t.folder);
}

void TemplatesDialog::TemplatesAddRow(int index)
{
    if (index < 0 || index >= kMaxTemplates)
        return;
    const ScanTempl &t = scanTemplate[index];
    const QString cells[kColumnCount] = {
        t.name,
        t.comment,
        NameOf(kModeNames, t.mode),
        NameOf(kAreaNames, t.area),
        QString::number(t.resolution),
        StoredLaserName(t.laserCh1),
        StoredLaserName(t.laserCh2),
        t.filterLabel,
        QString::number(t.filterCh2),
        QString::number(t.HVch1),
        QString::number(t.HVch2),
        t.folder,
    };
    QTableWidget *table = ui->tableWidget_templates;
    table->insertRow(0);
    for (int c = 0; c < kColumnCount; ++c)
        table->setItem(0, c, new QTableWidgetItem(cells[c]));
}

// The selected table row, or -1 when none is selected. The current row alone is not
// enough: the table gets a current row without a selection as soon as it has the focus.
int TemplatesDialog::SelectedRow() const
{
    const QModelIndexList rows = ui->tableWidget_templates->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TemplatesDialog::FileErrorShow()
{
    QMessageBox::information(this, QStringLiteral("FILE ERROR"),
                             QStringLiteral("The templates could not be saved:\n%1\n"
                                            "The template list stays as it was.")
                                 .arg(DataFileWriteProblem()),
                             QMessageBox::Ok);
}

void TemplatesDialog::on_pushButton_save_clicked()
{
    if (ui->lineEdit_name->text().isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Input Error"),
                                 QStringLiteral("Please enter a name for this new template"),
                                 QMessageBox::Ok);
        return;
    }
    // Element 0 is the current settings, never a named template: with no templates file
    // yet (templatecount 0) the new template still goes after it, and the file then holds
    // both. Stored in element 0, it would be renamed by the next scan or save and be lost.
    const int n = std::max(templatecount, 1);
    if (n >= kMaxTemplates) {
        QMessageBox::information(
            this, QStringLiteral("Input Error"),
            QStringLiteral("The template list is full (%1 templates): please delete a "
                           "template before saving a new one")
                .arg(kMaxTemplates),
            QMessageBox::Ok);
        return;
    }
    const ScanTempl currentBefore = scanTemplate[0];
    const ScanTempl newBefore = scanTemplate[n];

    // Element 0 keeps the current settings under a name that the list never shows.
    scanTemplate[n] = scanTemplate[0];
    scanTemplate[0].name = QStringLiteral("Last Settings");
    scanTemplate[0].comment = QStringLiteral("Not displayed");
    scanTemplate[n].name = ui->lineEdit_name->text();
    scanTemplate[n].comment = EnteredText(ui->lineEdit_comment->text());

    if (!TemplatesWrite(n + 1)) {
        scanTemplate[0] = currentBefore;
        scanTemplate[n] = newBefore;
        FileErrorShow();
        return;
    }
    TemplatesAddRow(n);
    templatecount = n + 1;
}

void TemplatesDialog::on_pushButton_Delete_clicked()
{
    const int r = SelectedRow();
    const int k = templatecount - r; // the selected template is element k - 1
    if (r < 0 || k < 1 || k > templatecount)
        return;

    ScanTempl before[kMaxTemplates];
    std::copy(std::begin(scanTemplate), std::end(scanTemplate), before);
    const int countBefore = templatecount;

    for (int j = k; j < templatecount; ++j)
        scanTemplate[j - 1] = scanTemplate[j];
    --templatecount;
    // The element past the list must be empty: the scan request writes one record more
    // than the list holds, and an empty name is what ends the list for the loader. With
    // the list emptied, element 0 still holds the current settings and stays.
    if (templatecount > 0)
        scanTemplate[templatecount] = ScanTempl();
    // Element 0 is the capture (or a loaded template): its laser is the code plus one. Under
    // the scan request's name start-up would read it as a list position; it is stored as
    // Save stores it.
    if (scanTemplate[0].name == QLatin1String(kStartupTemplateName)) {
        scanTemplate[0].name = QStringLiteral("Last Settings");
        scanTemplate[0].comment = QStringLiteral("Not displayed");
    }

    if (!TemplatesWrite(templatecount)) {
        std::copy(std::begin(before), std::end(before), scanTemplate);
        templatecount = countBefore;
        FileErrorShow();
        return;
    }
    ui->tableWidget_templates->removeRow(r);
}

void TemplatesDialog::on_pushButton_Delete_2_clicked()
{
    const int r = SelectedRow();
    const int index = templatecount - r - 1;
    if (r < 0 || index < 0 || index >= templatecount)
        return;
    scanTemplate[0] = scanTemplate[index];
    templateload = 1;
    CurrentSettingsShow();
}

void TemplatesDialog::on_pushButton_Exit_clicked()
{
    accept();
}
