#pragma once

#include <QMessageBox>

// The message box of the program: stays above every window, ours included
// (the panels are always-on-top themselves), and carries the program's icon.
class OnTopMessageBox : public QMessageBox
{
    Q_OBJECT

public:
    OnTopMessageBox();

    /**
     * Tells the user that the key combination keys (as shown to users) cannot
     * be used, because reason (a sentence's end: "... because %2").
     */
    static void refuseKeyCombination(const QString &keys, const QString &reason);

    /** Runs the box modally, unless a test answered it in advance. */
    int exec() override;

    /**
     * Answers the next box that is run instead of showing it (tests: no
     * modal box may block a test run). Each call answers one box.
     */
    static void answerNext(QMessageBox::StandardButton button);
    /** The text of the last box that was answered in advance. */
    static QString lastAnsweredText();
    /** Boxes still to be answered in advance. */
    static int pendingAnswers();
};
