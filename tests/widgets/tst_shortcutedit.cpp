#include "shortcutedit.h"

#include <QAbstractButton>
#include <QResource>
#include <QShortcut>
#include <QSignalSpy>
#include <QtTest>

namespace {

struct Press
{
    int key;
    int modifiers;
};

QAbstractButton *clearButton(ShortcutEdit &edit)
{
    return edit.findChild<QAbstractButton *>();
}

float opacity(ShortcutEdit &edit)
{
    return clearButton(edit)->property("iconOpacity").toFloat();
}

const QColor imageColour(220, 20, 60);

} // namespace

Q_DECLARE_METATYPE(QList<Press>)

class TestShortcutEdit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void recording_data();
    void recording();
    void sameCombinationTwice();
    void windowShortcutsAreRecorded();
    void setShortcutAnnouncesChanges();
    void clearButtonEmitsNothing();
    void clearButtonGeometry();
    void autoHideFade();
    void clearImage_data();
    void clearImage();
};

void TestShortcutEdit::initTestCase()
{
    QVERIFY(QResource::registerResource(QStringLiteral(VARLO_TEST_IMAGES)));
}

void TestShortcutEdit::recording_data()
{
    QTest::addColumn<QList<Press>>("presses");
    QTest::addColumn<QKeySequence>("sequence");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("announced");

    const int ctrl = Qt::ControlModifier, alt = Qt::AltModifier, meta = Qt::MetaModifier;
    QTest::newRow("Ctrl, Alt, then Left") << QList<Press>{{Qt::Key_Control, ctrl},
                                                          {Qt::Key_Alt, ctrl | alt},
                                                          {Qt::Key_Left, ctrl | alt}}
                                          << QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_Left)
                                          << QStringLiteral("Ctrl + Alt + \u21E6") << 1;
    QTest::newRow("Meta+D") << QList<Press>{{Qt::Key_Meta, meta}, {Qt::Key_D, meta}}
                            << QKeySequence(Qt::META | Qt::Key_D) << QStringLiteral("Win + D") << 1;
    QTest::newRow("PgUp") << QList<Press>{{Qt::Key_PageUp, 0}} << QKeySequence(Qt::Key_PageUp)
                          << QStringLiteral("Pg\u21E7") << 1;
    QTest::newRow("PgDown") << QList<Press>{{Qt::Key_PageDown, 0}} << QKeySequence(Qt::Key_PageDown)
                            << QStringLiteral("Pg\u21E9") << 1;
    QTest::newRow("keypad digit loses the keypad bit")
        << QList<Press>{{Qt::Key_5, ctrl | Qt::KeypadModifier}}
        << QKeySequence(Qt::CTRL | Qt::Key_5) << QStringLiteral("Ctrl + 5") << 1;
    QTest::newRow("Escape is recorded like any key")
        << QList<Press>{{Qt::Key_Escape, 0}} << QKeySequence(Qt::Key_Escape)
        << QStringLiteral("Esc") << 1;
    QTest::newRow("the last key wins")
        << QList<Press>{{Qt::Key_A, ctrl}, {Qt::Key_B, ctrl}} << QKeySequence(Qt::CTRL | Qt::Key_B)
        << QStringLiteral("Ctrl + B") << 2;
    QTest::newRow("modifiers alone record nothing")
        << QList<Press>{{Qt::Key_Shift, Qt::ShiftModifier},
                        {Qt::Key_Control, ctrl},
                        {Qt::Key_Alt, alt},
                        {Qt::Key_Meta, meta}}
        << QKeySequence() << QString() << 0;
    QTest::newRow("X11 Windows keys and AltGr alone record nothing")
        << QList<Press>{{Qt::Key_Super_L, meta}, {Qt::Key_Super_R, meta}, {Qt::Key_AltGr, 0}}
        << QKeySequence() << QString() << 0;
    QTest::newRow("unknown key") << QList<Press>{{Qt::Key_unknown, ctrl}} << QKeySequence()
                                 << QString() << 0;
}

void TestShortcutEdit::recording()
{
    QFETCH(QList<Press>, presses);
    QFETCH(QKeySequence, sequence);
    QFETCH(QString, shown);
    QFETCH(int, announced);

    ShortcutEdit edit;
    QSignalSpy changed(&edit, &ShortcutEdit::shortcutChanged);
    // With the text given, QtTest does not insist on knowing an ASCII form of the key.
    for (const Press &p : presses)
        QTest::sendKeyEvent(QTest::Press, &edit, Qt::Key(p.key), QString(),
                            Qt::KeyboardModifiers(p.modifiers));

    QCOMPARE(edit.shortcut(), sequence);
    QCOMPARE(edit.text(), shown);
    QCOMPARE(changed.count(), announced);
    if (announced)
        QCOMPARE(changed.last().at(0).value<QKeySequence>(), sequence);
}

// A shortcut of the recorder's window, as the drag frame's grid keys are,
// must not take the combination away from the recorder.
void TestShortcutEdit::windowShortcutsAreRecorded()
{
    QWidget window;
    auto *edit = new ShortcutEdit(&window);
    auto *gridKey = new QShortcut(QKeySequence(QStringLiteral("Alt+=")), &window);
    QSignalSpy fired(gridKey, &QShortcut::activated);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Equal, Qt::AltModifier);
    QCOMPARE(edit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Equal));
    QCOMPARE(fired.count(), 0);
    // Elsewhere in the window the shortcut is the window's again.
    edit->clearFocus();
    QTest::keyClick(&window, Qt::Key_Equal, Qt::AltModifier);
    QCOMPARE(fired.count(), 1);
}

void TestShortcutEdit::sameCombinationTwice()
{
    ShortcutEdit edit;
    QSignalSpy changed(&edit, &ShortcutEdit::shortcutChanged);
    QTest::keyClick(&edit, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(&edit, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(changed.count(), 1);
    // Typing never edits the text: Backspace is recorded, not applied.
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.text(), QStringLiteral("Backspace"));
    QCOMPARE(changed.count(), 2);
}

void TestShortcutEdit::setShortcutAnnouncesChanges()
{
    ShortcutEdit edit;
    QSignalSpy changed(&edit, &ShortcutEdit::shortcutChanged);
    edit.setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Up")));
    QCOMPARE(edit.text(), QStringLiteral("Ctrl + Shift + \u21E7"));
    edit.setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Up")));
    QCOMPARE(changed.count(), 1);
    // Setting nothing after something is a change too.
    edit.setShortcut(QKeySequence());
    QCOMPARE(changed.count(), 2);
    QVERIFY(edit.text().isEmpty());
}

void TestShortcutEdit::clearButtonEmitsNothing()
{
    ShortcutEdit edit;
    edit.resize(200, 30);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClick(&edit, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
    QSignalSpy changed(&edit, &ShortcutEdit::shortcutChanged);

    QTest::mouseClick(clearButton(edit), Qt::LeftButton);
    QVERIFY(edit.text().isEmpty());
    QVERIFY(edit.shortcut().isEmpty());
    QCOMPARE(changed.count(), 0);

    // The combination cleared a moment ago counts as new again.
    QTest::keyClick(&edit, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(edit.text(), QStringLiteral("Ctrl + Alt + \u21E6"));
}

void TestShortcutEdit::clearButtonGeometry()
{
    ShortcutEdit edit;
    edit.setTextMargins(0, 0, 7, 0);
    edit.resize(200, 30);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QCOMPARE(clearButton(edit)->geometry(), QRect(200 - 30, 0, 30, 30));
    QCOMPARE(clearButton(edit)->focusPolicy(), Qt::NoFocus);
}

void TestShortcutEdit::autoHideFade()
{
    ShortcutEdit edit;
    edit.setAutoHideIcon(true);
    QCOMPARE(opacity(edit), 0.0f);

    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(&edit, Qt::Key_F5, Qt::ControlModifier);
    QVERIFY(opacity(edit) < 1.0f);
    QTRY_COMPARE(opacity(edit), 1.0f);
    QVERIFY2(timer.elapsed() >= ShortcutEdit::fadeDuration - 20,
             qPrintable(QString::number(timer.elapsed())));

    // A second recording does not restart the fade: only empty <-> not empty does.
    QTest::keyClick(&edit, Qt::Key_F6, Qt::ControlModifier);
    QCOMPARE(opacity(edit), 1.0f);

    edit.clear();
    QTRY_COMPARE(opacity(edit), 0.0f);

    edit.setAutoHideIcon(false);
    QCOMPARE(opacity(edit), 1.0f);
}

void TestShortcutEdit::clearImage_data()
{
    QTest::addColumn<bool>("imageAvailable");
    QTest::addColumn<bool>("autoHide");
    QTest::addColumn<bool>("visible");
    QTest::newRow("image, always shown") << true << false << true;
    QTest::newRow("image, hidden while empty") << true << true << false;
    QTest::newRow("host without the image") << false << false << false;
}

void TestShortcutEdit::clearImage()
{
    QFETCH(bool, imageAvailable);
    QFETCH(bool, autoHide);
    QFETCH(bool, visible);

    if (!imageAvailable)
        QVERIFY(QResource::unregisterResource(QStringLiteral(VARLO_TEST_IMAGES)));
    {
        ShortcutEdit edit;
        edit.setAutoHideIcon(autoHide);
        edit.resize(200, 30);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        const QImage image = edit.grab().toImage();
        const QRect button = clearButton(edit)->geometry();
        QCOMPARE(image.pixelColor(button.center()) == imageColour, visible);
        if (visible)
            image.save(QStringLiteral("shortcutedit.png"));
    }
    if (!imageAvailable)
        QVERIFY(QResource::registerResource(QStringLiteral(VARLO_TEST_IMAGES)));
}

QTEST_MAIN(TestShortcutEdit)
#include "tst_shortcutedit.moc"
