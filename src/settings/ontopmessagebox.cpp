#include "ontopmessagebox.h"

#include <QApplication>
#include <QList>

namespace {
QList<QMessageBox::StandardButton> g_answers;
QString g_lastText;
} // namespace

OnTopMessageBox::OnTopMessageBox()
    : QMessageBox(QApplication::activeWindow())
{
    setWindowFlags((Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint)
                   & ~Qt::WindowContextHelpButtonHint);
    setIcon(QMessageBox::Warning);
    QIcon icon;
    for (const char *name : {":/images/varlo_16.png", ":/images/varlo_20.png", ":/images/varlo_24.png",
                             ":/images/varlo_32.png"})
        icon.addFile(QString::fromLatin1(name));
    setWindowIcon(icon);
}

int OnTopMessageBox::exec()
{
    if (!g_answers.isEmpty()) {
        g_lastText = text();
        return g_answers.takeFirst();
    }
    return QMessageBox::exec();
}

void OnTopMessageBox::answerNext(QMessageBox::StandardButton button)
{
    g_answers.append(button);
}

QString OnTopMessageBox::lastAnsweredText()
{
    return g_lastText;
}

int OnTopMessageBox::pendingAnswers()
{
    return g_answers.size();
}
