// The main window's radio-button groups as tables, for the code that reads the operator's
// choices (the scan request, the template capture) and the code that sets them again (a
// loaded template). Mode and area buttons are indexed by the template's mode and area
// values; resolution and sensitivity buttons carry the value they stand for.
#ifndef MAINWINDOW_BUTTONS_H
#define MAINWINDOW_BUTTONS_H

#include "ui_mainwindow.h"

#include <cstddef>

namespace mainwindow_buttons
{

using Button = QRadioButton *Ui::MainWindow::*;

inline constexpr Button kModeButtons[] = {
    &Ui::MainWindow::radioButton_IPmode, &Ui::MainWindow::radioButton_IPVmode,
    &Ui::MainWindow::radioButton_FluorescenceMode, &Ui::MainWindow::radioButton_DigitizingMode};
inline constexpr Button kAreaButtons[] = {
    &Ui::MainWindow::radioButtonGrid,   &Ui::MainWindow::radioButtonIP3543,
    &Ui::MainWindow::radioButtonIP2340, &Ui::MainWindow::radioButtonIP2040,
    &Ui::MainWindow::radioButtonIP2325, &Ui::MainWindow::radioButtonIP2025};

struct ValueButton {
    int value;
    Button button;
};
inline constexpr ValueButton kResolutionButtons[] = {
    {200, &Ui::MainWindow::radioButton_Res200},
    {100, &Ui::MainWindow::radioButton_Res100},
    {50, &Ui::MainWindow::radioButton_Res50},
    {25, &Ui::MainWindow::radioButton_Res25},
};
inline constexpr ValueButton kSensitivityButtons[] = {
    {30000, &Ui::MainWindow::radioButton30000},
    {10000, &Ui::MainWindow::radioButton10000},
    {4000, &Ui::MainWindow::radioButton4000},
    {1000, &Ui::MainWindow::radioButton1000},
};
inline constexpr int kDefaultResolution = 200;
inline constexpr int kDefaultSensitivity = 4000;

// The index of the checked button of a group; the first when none is checked.
template <std::size_t N> int CheckedIndex(Ui::MainWindow *ui, const Button (&buttons)[N])
{
    for (int i = 0; i < int(N); ++i)
        if ((ui->*buttons[i])->isChecked())
            return i;
    return 0;
}

// Checks the button of a stored index; an index without a button changes nothing.
template <std::size_t N>
void CheckByIndex(Ui::MainWindow *ui, const Button (&buttons)[N], int index)
{
    if (index >= 0 && index < int(N))
        (ui->*buttons[index])->setChecked(true);
}

// The value of the checked button; `fallback` when none is checked.
template <std::size_t N>
int CheckedValue(Ui::MainWindow *ui, const ValueButton (&buttons)[N], int fallback)
{
    for (const ValueButton &b : buttons)
        if ((ui->*b.button)->isChecked())
            return b.value;
    return fallback;
}

// Checks the button of a stored value; a value without a button changes nothing.
template <std::size_t N>
void CheckByValue(Ui::MainWindow *ui, const ValueButton (&buttons)[N], int value)
{
    for (const ValueButton &b : buttons)
        if (b.value == value)
            (ui->*b.button)->setChecked(true);
}

} // namespace mainwindow_buttons

#endif // MAINWINDOW_BUTTONS_H
