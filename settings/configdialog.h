// The configuration dialog: filter tray, custom filter modules, system parameters, log
// switches and the manual control of the 685 nm laser diode.
//
// Its run, as the settings button of the main window drives it:
//  1. The constructor reloads the module list from its file and fills the form from the
//     tray, the module list, sysparams and LD685manctrl (ConfigDialog()).
//  2. Each tray position follows its combo box with the module's two channel labels
//     (on_comboBox_TrayPosN_currentIndexChanged -> TrayPositionShow()).
//  3. "Add" appends a custom module to the in-memory list and to the four combo boxes
//     (on_pushButton_clicked); it is stored only by OK.
//  4. OK copies the tray choices into filterTray, writes the tray and module files on the
//     KIREL-5000/5100 and sysparam.dat on every model (on_buttonBox_accepted). A file that
//     cannot be written is reported, and the part of memory it holds is put back to what it
//     was before, which is what the file still holds.
//  5. Cancel closes without saving and reads the module list again, so that a module added
//     and not saved is gone (on_buttonBox_rejected, reject()).
//
// The imaging-plate readers show only the system parameters and the log switches.
#ifndef CONFIGDIALOG_H
#define CONFIGDIALOG_H

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QStringList;

namespace Ui
{
class ConfigDialog;
}

class ConfigDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConfigDialog(QWidget *parent = nullptr);
    ~ConfigDialog() override;

public slots:
    // Cancel, Escape and the window's close button: the module list is again what its
    // file holds.
    void reject() override;

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_pushButton_clicked();
    void on_comboBox_TrayPos1_currentIndexChanged(int index);
    void on_comboBox_TrayPos2_currentIndexChanged(int index);
    void on_comboBox_TrayPos3_currentIndexChanged(int index);
    void on_comboBox_TrayPos4_currentIndexChanged(int index);

private:
    static constexpr int kPositions = 4;

    void TrayFill();
    void TrayPositionShow(int position, int index);
    void ReducedLayout();
    void TraySave(QStringList &failed);
    void SysParamsSave(QStringList &failed);

    Ui::ConfigDialog *ui;
    QString unnamedModule; // the name field's text as the form opens it
    QComboBox *trayBox[kPositions];
    QLabel *ch1Label[kPositions];
    QLabel *ch2Label[kPositions];
};

#endif // CONFIGDIALOG_H
