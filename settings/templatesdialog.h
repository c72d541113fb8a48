// The template dialog: names and stores the current scan settings, lists the stored
// templates newest first, deletes them and loads one back into element 0.
//
// Its run, as "Save as Template" of the main window drives it:
//  1. The main window captures the current settings into scanTemplate[0] and clears
//     templateload.
//  2. The constructor shows element 0 in the current-settings group
//     (CurrentSettingsShow()) and lists elements 1 .. templatecount - 1, each inserted at
//     the top (TemplatesAddRow()), so table row r holds element templatecount - 1 - r.
//  3. Save appends element 0 under the entered name, Delete closes the gap left by the
//     selected template, and both rewrite the templates file whole; a file that cannot be
//     written is reported and the list stays as it was.
//  4. Load copies the selected template into element 0 and sets templateload; the main
//     window applies it when the dialog is closed with Exit.
#ifndef TEMPLATESDIALOG_H
#define TEMPLATESDIALOG_H

#include <QDialog>

namespace Ui
{
class TemplatesDialog;
}

class TemplatesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TemplatesDialog(QWidget *parent = nullptr);
    ~TemplatesDialog() override;

    // Inserts a row for scanTemplate[index] at the top of the table.
    void TemplatesAddRow(int index);

private slots:
    void on_pushButton_save_clicked();
    void on_pushButton_Exit_clicked();
    void on_pushButton_Delete_2_clicked();
    void on_pushButton_Delete_clicked();

private:
    void TableSetUp();
    void CurrentSettingsShow();
    int SelectedRow() const;
    void FileErrorShow();

    Ui::TemplatesDialog *ui;
};

#endif // TEMPLATESDIALOG_H
