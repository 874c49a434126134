#include "ontopmessagebox.h"

#include "programicon.h"

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
    setWindowIcon(programIcon());
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

void OnTopMessageBox::refuseKeyCombination(const QString &keys, const QString &reason)
{
    OnTopMessageBox box;
    box.setText(QStringLiteral("The key combination %1 can't be used!").arg(keys));
    box.setInformativeText(
        QStringLiteral("The key combination \"%1\" can't be used because %2").arg(keys, reason));
    box.exec();
}
