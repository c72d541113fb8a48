#include "configdialog.h"
#include "ui_configdialog.h"

#include "datafiles.h"
#include "scanstate.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

#include <algorithm>

namespace
{

constexpr int kDigits = 10;        // each digit box of a filter code offers 0..9
constexpr int kModelNumbers = 100; // the model box offers 0..99

// The module's entry in the tray boxes as the stored list shows it: both codes padded to
// three places.
QString ModuleEntryText(const FilterMod &m)
{
    return m.filterlabel + QString::asprintf(" %3i/%3i", m.filterCh1, m.filterCh2);
}

// The filter code of three digit boxes (hundreds, tens, units).
int FilterCode(const QComboBox *hundreds, const QComboBox *tens, const QComboBox *units)
{
    return hundreds->currentIndex() * 100 + tens->currentIndex() * 10 + units->currentIndex();
}

// The three digits as the operator chose them, so that a code of 0 reads "000".
QString FilterDigits(const QComboBox *hundreds, const QComboBox *tens, const QComboBox *units)
{
    return hundreds->currentText() + tens->currentText() + units->currentText();
}

QString TextOr(const QString &text, const QString &fallback)
{
    return text.isEmpty() ? fallback : text;
}

void NumbersFill(QComboBox *box, int count)
{
    for (int i = 0; i < count; ++i)
        box->addItem(QString::number(i));
}

} // namespace

ConfigDialog::ConfigDialog(QWidget *parent) : QDialog(parent), ui(new Ui::ConfigDialog)
{
    ui->setupUi(this);
    ui->checkBox_FlipVeskImage->hide();
    unnamedModule = ui->lineEdit_FilterModuleName->text();

    trayBox[0] = ui->comboBox_TrayPos1;
    trayBox[1] = ui->comboBox_TrayPos2;
    trayBox[2] = ui->comboBox_TrayPos3;
    trayBox[3] = ui->comboBox_TrayPos4;
    ch1Label[0] = ui->label_Ch1Pos1Name;
    ch1Label[1] = ui->label_Ch1Pos2Name;
    ch1Label[2] = ui->label_Ch1Pos3Name;
    ch1Label[3] = ui->label_Ch1Pos4Name;
    ch2Label[0] = ui->label_Ch2Pos1Name;
    ch2Label[1] = ui->label_Ch2Pos2Name;
    ch2Label[2] = ui->label_Ch2Pos3Name;
    ch2Label[3] = ui->label_Ch2Pos4Name;

    ui->checkBox_RawDataSave->setChecked(sysparams.rawdatasave == 1);
    ui->checkBox_ShadingDataSave->setChecked(sysparams.shadingdatasave == 1);
    ui->checkBox_bootlog->setChecked(sysparams.bootlog == 1);
    ui->checkBox_scanlog->setChecked(sysparams.scanlog == 1);
    ui->checkBox_readinglog->setChecked(sysparams.readlog == 1);
    ui->checkBox_LD685manctrl->setChecked(LD685manctrl == 1);

    // The module list is read anew each time, so that a module added and then cancelled
    // is gone again.
    FilterModulesLoad();
    DataFileLoadProblemsLog();
    TrayFill();

    NumbersFill(ui->comboBox_Filter_Ch1_1, kDigits);
    NumbersFill(ui->comboBox_Filter_Ch1_2, kDigits);
    NumbersFill(ui->comboBox_Filter_Ch1_3, kDigits);
    NumbersFill(ui->comboBox_Filter_Ch2_1, kDigits);
    NumbersFill(ui->comboBox_Filter_Ch2_2, kDigits);
    NumbersFill(ui->comboBox_Filter_Ch2_3, kDigits);
    NumbersFill(ui->comboBox_Filter_Model, kModelNumbers);

    if (ScannerType == kModelVESK1800 || ScannerType == kModelVESK5000)
        ReducedLayout();
}

ConfigDialog::~ConfigDialog()
{
    delete ui;
}

// Lists the modules in the four tray boxes and selects, for each position, the first module
// whose name is the installed one (the first module when none is).
void ConfigDialog::TrayFill()
{
    for (int i = 0; i < filtercount; ++i)
        for (QComboBox *box : trayBox)
            box->addItem(ModuleEntryText(filterModule[i]));
    if (filtercount < 1)
        return;
    for (int k = 0; k < kPositions; ++k) {
        int selected = 0;
        for (int i = 0; i < filtercount; ++i)
            if (filterModule[i].filterlabel == filterTray[k].filterlabel) {
                selected = i;
                break;
            }
        trayBox[k]->setCurrentIndex(selected);
    }
}

void ConfigDialog::TrayPositionShow(int position, int index)
{
    // A box without entries reports -1; there is then no module to describe.
    if (index < 0 || index >= filtercount) {
        ch1Label[position]->clear();
        ch2Label[position]->clear();
        return;
    }
    ch1Label[position]->setText(filterModule[index].labelCh1);
    ch2Label[position]->setText(filterModule[index].labelCh2);
}

void ConfigDialog::on_comboBox_TrayPos1_currentIndexChanged(int index)
{
    TrayPositionShow(0, index);
}

void ConfigDialog::on_comboBox_TrayPos2_currentIndexChanged(int index)
{
    TrayPositionShow(1, index);
}

void ConfigDialog::on_comboBox_TrayPos3_currentIndexChanged(int index)
{
    TrayPositionShow(2, index);
}

void ConfigDialog::on_comboBox_TrayPos4_currentIndexChanged(int index)
{
    TrayPositionShow(3, index);
}

// The imaging-plate readers have no filters: only the system parameters and the logs.
void ConfigDialog::ReducedLayout()
{
    ui->groupBox->hide();
    ui->groupBox_FilterTray->hide();
    ui->checkBox_LD685manctrl->hide();
    ui->groupBox_sysparam->setGeometry(30, 10, 171, 91);
    ui->groupBox_logrecord->setGeometry(240, 10, 141, 121);
    ui->buttonBox->setGeometry(270, 190, 341, 32);
    setGeometry(300, 520, 649, 242);
}

void ConfigDialog::on_pushButton_clicked()
{
    if (filtercount >= kMaxFilterModules) {
        QMessageBox::information(
            this, QStringLiteral("Input Error"),
            QStringLiteral("The filter module list is full (%1 modules): no module was added")
                .arg(kMaxFilterModules),
            QMessageBox::Ok);
        return;
    }
    // The form's own "Filter name" is a prompt, not a module: Add without a name of the
    // operator's registers nothing.
    if (ui->lineEdit_FilterModuleName->text() == unnamedModule) {
        QMessageBox::information(this, QStringLiteral("Input Error"),
                                 QStringLiteral("Please enter a name for the new filter module"),
                                 QMessageBox::Ok);
        return;
    }
    FilterMod &m = filterModule[filtercount];
    m.filterlabel = TextOr(ui->lineEdit_FilterModuleName->text(), QStringLiteral("BLANK"));
    m.filterCh1 =
        FilterCode(ui->comboBox_Filter_Ch1_1, ui->comboBox_Filter_Ch1_2, ui->comboBox_Filter_Ch1_3);
    m.labelCh1 = TextOr(ui->lineEdit_FilterModuleCh1Name->text(), QStringLiteral("-EMPTY-"));
    m.filterCh2 =
        FilterCode(ui->comboBox_Filter_Ch2_1, ui->comboBox_Filter_Ch2_2, ui->comboBox_Filter_Ch2_3);
    m.labelCh2 = TextOr(ui->lineEdit_FilterModuleCh2Name->text(), QStringLiteral("-EMPTY-"));
    m.filterType = ui->comboBox_Filter_Model->currentIndex();
    ++filtercount;

    const QString entry = m.filterlabel + QLatin1Char(' ') +
                          FilterDigits(ui->comboBox_Filter_Ch1_1, ui->comboBox_Filter_Ch1_2,
                                       ui->comboBox_Filter_Ch1_3) +
                          QLatin1Char('/') +
                          FilterDigits(ui->comboBox_Filter_Ch2_1, ui->comboBox_Filter_Ch2_2,
                                       ui->comboBox_Filter_Ch2_3);
    for (QComboBox *box : trayBox)
        box->addItem(entry);
}

// Takes the four tray choices and, on the KIREL-5000/5100, stores the tray and the module
// list. A file that cannot be written is added to failed, and its part of memory is put
// back to what the file still holds.
void ConfigDialog::TraySave(QStringList &failed)
{
    FilterMod trayBefore[kTrayPositions];
    std::copy(filterTray, filterTray + kTrayPositions, trayBefore);
    // The KIREL-3000's tray is fixed in the scanner; the loader installs it whatever the
    // file holds, and the choices here must not replace it for the rest of the run.
    if (ScannerType != kModelKIREL3) {
        for (int k = 0; k < kPositions; ++k) {
            // Without modules the boxes are empty: the position keeps its module.
            const int index = trayBox[k]->currentIndex();
            if (index >= 0 && index < filtercount)
                filterTray[k] = filterModule[index];
        }
    }
    if (ScannerType != kModelKIREL5)
        return;

    LD685manctrl = ui->checkBox_LD685manctrl->isChecked() ? 1 : 0;
    if (FilterTrayWrite()) {
        filtertraystatus = 1;
    } else {
        std::copy(trayBefore, trayBefore + kTrayPositions, filterTray);
        failed << DataFileWriteProblem();
    }
    if (!FilterModulesWrite()) {
        // The modules added here are dropped: the list is again what the file holds.
        failed << DataFileWriteProblem();
        FilterModulesLoad();
    }
}

void ConfigDialog::SysParamsSave(QStringList &failed)
{
    const SystemParams before = sysparams;
    sysparams.rawdatasave = ui->checkBox_RawDataSave->isChecked() ? 1 : 0;
    sysparams.shadingdatasave = ui->checkBox_ShadingDataSave->isChecked() ? 1 : 0;
    sysparams.bootlog = ui->checkBox_bootlog->isChecked() ? 1 : 0;
    sysparams.scanlog = ui->checkBox_scanlog->isChecked() ? 1 : 0;
    sysparams.readlog = ui->checkBox_readinglog->isChecked() ? 1 : 0;
    if (SysParamsWrite())
        return;
    sysparams = before;
    failed << DataFileWriteProblem();
}

void ConfigDialog::on_buttonBox_accepted()
{
    QStringList failed;
    TraySave(failed);
    SysParamsSave(failed);
    if (!failed.isEmpty())
        QMessageBox::information(this, QStringLiteral("FILE ERROR"),
                                 QStringLiteral("The settings could not be saved:\n%1\n"
                                                "They stay as they were before.")
                                     .arg(failed.join(QLatin1Char('\n'))),
                                 QMessageBox::Ok);
    accept();
}

void ConfigDialog::on_buttonBox_rejected()
{
    reject();
}

void ConfigDialog::reject()
{
    FilterModulesLoad();
    QDialog::reject();
}
