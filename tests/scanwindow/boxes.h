// Answers the modal boxes a window opens, as an operator would, and remembers what they
// said. While it lives it looks every few milliseconds for a message box on top; it
// presses the button of the answer given for that box's title (OK, or Yes for a question
// unless told otherwise).
#ifndef BOXES_H
#define BOXES_H

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

struct ShownBox {
    QString title;
    QString text;
};

class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton questionAnswer = QMessageBox::Yes)
        : answer(questionAnswer)
    {
        connect(&timer, &QTimer::timeout, this, [this] { answerTop(); });
        timer.start(5);
    }

    QList<ShownBox> boxes;

    QStringList titles() const
    {
        QStringList t;
        for (const ShownBox &b : boxes)
            t << b.title;
        return t;
    }

private:
    void answerTop()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxes.append({box->windowTitle(), box->text()});
        QAbstractButton *button = box->button(answer);
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (button)
            button->click();
        else
            box->reject();
    }

    QMessageBox::StandardButton answer;
    QTimer timer;
};

#endif // BOXES_H
