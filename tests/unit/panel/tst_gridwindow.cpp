#include "cellgrid.h"
#include "commonbehavior.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "gridwindow.h"
#include "keyboardhook.h"
#include "offscreenscreens.h"
#include "settingsstore.h"
#include "stubpanelhost.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QRect kScreens[] = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};

// Window opacity is kept in 8 bits: 0.7 reads back as 178 / 255.
bool isDim(const QWidget *w)
{
    return qAbs(w->windowOpacity() - GridWindow::dimmedOpacity) < 0.005;
}

QPoint cellCenter(DragFrame *frame, int column, int row)
{
    const int columns = frame->dimensions().width();
    return frame->cellGrid()->cells().at(row * columns + column).center().toPoint();
}

} // namespace

class TestGridWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<StubPanelHost> m_host;
    std::unique_ptr<CommonBehavior> m_behavior;
    std::unique_ptr<GridWindow> m_panel;

    // The panel as the application sets it up: on the second screen, centred.
    void showOnSecondScreen()
    {
        m_panel->move(DesktopAreaCache::instance()->availableGeometry(1).topLeft());
        m_panel->center();
        m_panel->activate();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
        QCOMPARE(DesktopAreaCache::instance()->screenNumber(m_panel.get()), 1);
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(DesktopAreaCache::instance()->screenCount(), 2); }

    void init()
    {
        {
            QSettings settings;
            settings.clear();
        }
        SettingsStore::writeSettingsDefaults();
        KeyboardHook::instance()->syncModifiers(false, false, false, false);
        m_host = std::make_unique<StubPanelHost>();
        m_behavior = std::make_unique<CommonBehavior>(m_host.get());
        m_panel = std::make_unique<GridWindow>(m_behavior.get());
    }

    void cleanup()
    {
        m_panel.reset();
        m_behavior.reset();
        m_host.reset();
    }

    void activateTakesTheGridFromTheSettings_data()
    {
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<bool>("subdivided");
        QTest::addColumn<QSize>("expected");

        QTest::newRow("stored") << QVariant(QSize(4, 3)) << false << false << QSize(4, 3);
        QTest::newRow("subdivided") << QVariant(QSize(3, 2)) << false << true << QSize(6, 4);
        QTest::newRow("reset size wins") << QVariant(QSize(4, 3)) << true << false << QSize(8, 5);
        QTest::newRow("zero") << QVariant(QSize(0, 0)) << false << false << QSize(6, 6);
        QTest::newRow("negative") << QVariant(QSize(-3, 4)) << false << false << QSize(6, 6);
        QTest::newRow("over 100") << QVariant(QSize(500, 3)) << false << false << QSize(6, 6);
        QTest::newRow("not a size")
            << QVariant(QStringLiteral("big")) << false << false << QSize(6, 6);
        QTest::newRow("damaged and subdivided")
            << QVariant(QSize(0, 9)) << false << true << QSize(12, 12);
        QTest::newRow("doubled past 100")
            << QVariant(QSize(60, 10)) << false << true << QSize(100, 20);
    }

    void activateTakesTheGridFromTheSettings()
    {
        QFETCH(QVariant, size);
        QFETCH(bool, reset);
        QFETCH(bool, subdivided);
        QFETCH(QSize, expected);
        QSettings settings;
        settings.setValue("grid/size", size);
        settings.setValue("grid/reset", reset);
        settings.setValue("grid/reset_size", QSize(8, 5));
        settings.setValue("grid/subdivided", subdivided);

        m_panel->activate();
        QVERIFY(m_panel->isVisible());
        QCOMPARE(m_panel->windowTitle(), QStringLiteral("Varlo")); // what window lists show
        QCOMPARE(m_panel->dragFrame()->dimensions(), expected);
        QVERIFY(m_panel->dragFrame()->cellGrid()->hasValidDimensions());
    }

    void rowAndColumnKeysStepTheStoredSize_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<bool>("subdivided");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QSize>("expectedStored");
        QTest::addColumn<QSize>("expectedEmitted"); // invalid: nothing emitted

        const QKeySequence addRow(QStringLiteral("Shift+Alt+="));
        const QKeySequence addCol(QStringLiteral("Alt+="));
        const QKeySequence subRow(QStringLiteral("Shift+Alt+-"));
        const QKeySequence subCol(QStringLiteral("Alt+-"));
        QTest::newRow("add row, subdivided")
            << QSize(3, 2) << true << addRow << QSize(4, 2) << QSize(8, 4);
        QTest::newRow("add column") << QSize(3, 2) << false << addCol << QSize(3, 3) << QSize(3, 3);
        QTest::newRow("subtract row")
            << QSize(3, 2) << false << subRow << QSize(2, 2) << QSize(2, 2);
        QTest::newRow("subtract column")
            << QSize(3, 2) << false << subCol << QSize(3, 1) << QSize(3, 1);
        QTest::newRow("10 x 10 add row")
            << QSize(10, 10) << false << addRow << QSize(10, 10) << QSize();
        QTest::newRow("10 x 10 add column")
            << QSize(10, 10) << true << addCol << QSize(10, 10) << QSize();
        QTest::newRow("1 x 1 subtract row")
            << QSize(1, 1) << false << subRow << QSize(1, 1) << QSize();
        QTest::newRow("1 x 1 subtract column")
            << QSize(1, 1) << false << subCol << QSize(1, 1) << QSize();
        // A size no grid can show is replaced by the default, and the step starts from there.
        QTest::newRow("damaged size")
            << QSize(0, 0) << false << addRow << QSize(7, 6) << QSize(7, 6);
    }

    void rowAndColumnKeysStepTheStoredSize()
    {
        QFETCH(QSize, stored);
        QFETCH(bool, subdivided);
        QFETCH(QKeySequence, keys);
        QFETCH(QSize, expectedStored);
        QFETCH(QSize, expectedEmitted);
        QSettings settings;
        settings.setValue("grid/size", stored);
        settings.setValue("grid/subdivided", subdivided);
        // The keys change the stored size, never the size a reset starts from.
        settings.setValue("grid/reset", true);
        settings.setValue("grid/reset_size", QSize(5, 5));

        m_panel->activate();
        m_panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
        const QSize shown = m_panel->dragFrame()->dimensions();
        QSignalSpy emitted(m_panel.get(), &GridWindow::shortcutNewSize);

        QTest::keySequence(m_panel->dragFrame(), keys);

        QCOMPARE(SettingsStore::readSize(settings, "grid/size"), expectedStored);
        QCOMPARE(SettingsStore::readSize(settings, "grid/reset_size"), QSize(5, 5));
        if (expectedEmitted.isValid()) {
            QCOMPARE(emitted.size(), 1);
            QCOMPARE(emitted.at(0).at(0).toSize(), expectedEmitted);
        } else {
            QCOMPARE(emitted.size(), 0);
        }
        // The application resizes every panel; the panel leaves its own grid alone.
        QCOMPARE(m_panel->dragFrame()->dimensions(), shown);
    }

    void dragRequestsPreviewAndPlacementOnThePanelsScreen()
    {
        QSettings().setValue("grid/size", QSize(3, 2));
        showOnSecondScreen();
        QCOMPARE(m_panel->geometry().center(),
                 DesktopAreaCache::instance()->availableGeometry(1).center());

        DragFrame *frame = m_panel->dragFrame();
        QSignalSpy preview(m_panel.get(), &GridWindow::requestPreviewMove);
        QSignalSpy move(m_panel.get(), &GridWindow::requestWindowMove);

        QTest::mousePress(frame, Qt::LeftButton, {}, cellCenter(frame, 0, 0));
        QVERIFY(m_panel->dragging());
        QTest::mouseMove(frame, cellCenter(frame, 1, 0));
        QTest::mouseMove(frame, cellCenter(frame, 2, 1));
        QVERIFY(preview.size() >= 2);
        const QList<QVariant> last = preview.last();
        QCOMPARE(last.at(0).toInt(), 1);
        QCOMPARE(last.at(1).toSize(), QSize(3, 2));
        QCOMPARE(last.at(2).toRect(), QRect(0, 0, 3, 2));
        QCOMPARE(move.size(), 0);

        QTest::mouseRelease(frame, Qt::LeftButton, {}, cellCenter(frame, 2, 1));
        QVERIFY(!m_panel->dragging());
        QCOMPARE(move.size(), 1);
        QCOMPARE(move.at(0).at(0).toInt(), 1);
        QCOMPARE(move.at(0).at(1).toSize(), QSize(3, 2));
        QCOMPARE(move.at(0).at(2).toRect(), QRect(0, 0, 3, 2));
    }

    // Qt may believe a frameless window is still where it was created: the
    // panel places for the screen it was built for all the same.
    void panelActsForTheScreenItWasBuiltFor()
    {
        QSettings().setValue("grid/size", QSize(3, 2));
        m_panel->setScreen(1);
        m_panel->center();
        QCOMPARE(m_panel->geometry().center(), DesktopAreaCache::instance()->availableGeometry(1).center());
        m_panel->move(0, 0);
        m_panel->activate();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
        DragFrame *frame = m_panel->dragFrame();
        QSignalSpy move(m_panel.get(), &GridWindow::requestWindowMove);
        QTest::mousePress(frame, Qt::LeftButton, {}, cellCenter(frame, 0, 0));
        QTest::mouseRelease(frame, Qt::LeftButton, {}, cellCenter(frame, 0, 0));
        QCOMPARE(move.size(), 1);
        QCOMPARE(move.at(0).at(0).toInt(), 1);
    }

    void resetGridEndsADrag()
    {
        QSettings().setValue("grid/size", QSize(3, 2));
        showOnSecondScreen();
        DragFrame *frame = m_panel->dragFrame();
        QSignalSpy move(m_panel.get(), &GridWindow::requestWindowMove);
        QTest::mousePress(frame, Qt::LeftButton, {}, cellCenter(frame, 0, 0));
        QVERIFY(m_panel->dragging());
        m_panel->resetGrid();
        QVERIFY(!m_panel->dragging());
        QVERIFY(!frame->cellGrid()->selection().isValid());
        QTest::mouseRelease(frame, Qt::LeftButton, {}, cellCenter(frame, 0, 0));
        QCOMPARE(move.size(), 0);
    }

    void placementHidesPanelsUnlessShiftInvertsKeepOpen_data()
    {
        QTest::addColumn<bool>("keepOpen");
        QTest::addColumn<bool>("shift");
        QTest::addColumn<bool>("hides");
        QTest::newRow("default") << false << false << true;
        QTest::newRow("shift keeps open") << false << true << false;
        QTest::newRow("keep_open") << true << false << false;
        QTest::newRow("keep_open, shift closes") << true << true << true;
    }

    void placementHidesPanelsUnlessShiftInvertsKeepOpen()
    {
        QFETCH(bool, keepOpen);
        QFETCH(bool, shift);
        QFETCH(bool, hides);
        QSettings().setValue("keep_open", keepOpen);
        showOnSecondScreen();
        KeyboardHook::instance()->processKey(KeyboardHook::VkLShift, !shift);

        DragFrame *frame = m_panel->dragFrame();
        QSignalSpy move(m_panel.get(), &GridWindow::requestWindowMove);
        QTest::mouseClick(frame, Qt::LeftButton, {}, cellCenter(frame, 1, 1));
        QCOMPARE(move.size(), 1);
        QCOMPARE(move.at(0).at(2).toRect(), QRect(1, 1, 1, 1));
        QCOMPARE(m_host->calls, hides ? QStringList{"hideGrids(1)"} : QStringList());
    }

    void buttons()
    {
        showOnSecondScreen();
        QSignalSpy settings(m_panel.get(), &GridWindow::showSettingsWindow);
        QTest::mouseClick(m_panel->findChild<QPushButton *>("buttonSettings"), Qt::LeftButton);
        QCOMPARE(settings.size(), 1);
        QCOMPARE(settings.at(0).at(0).toInt(), 1);
        QVERIFY(m_host->calls.isEmpty());

        QTest::mouseClick(m_panel->findChild<QPushButton *>("buttonClose"), Qt::LeftButton);
        QCOMPARE(m_host->calls, QStringList{"hideGrids(1)"});
    }

    void nullIconHidesTheIconButton()
    {
        showOnSecondScreen();
        auto *button = m_panel->findChild<QPushButton *>("buttonIcon");
        auto *label = m_panel->findChild<QLabel *>("labelAppName");
        QVERIFY(button && label);

        Q_EMIT m_behavior->foregroundWindowChanged(QStringLiteral("Desktop"), QIcon());
        QVERIFY(button->isHidden());
        QCOMPARE(label->text(), QStringLiteral("Desktop"));

        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::red);
        Q_EMIT m_behavior->foregroundWindowChanged(QStringLiteral("Terminal"), QIcon(pixmap));
        QVERIFY(!button->isHidden());
        QCOMPARE(button->icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(label->text(), QStringLiteral("Terminal"));
    }

    void opacityFollowsTheMouse()
    {
        showOnSecondScreen();
        QVERIFY(isDim(m_panel.get()));
        QSignalSpy focus(m_panel.get(), &GridWindow::gainedFocus);

        const QPointF inside(10, 10);
        QEnterEvent enter(inside, inside, m_panel->mapToGlobal(inside));
        QApplication::sendEvent(m_panel.get(), &enter);
        QCOMPARE(focus.size(), 1);
        QCOMPARE(focus.at(0).at(0).toInt(), 1);
        QTRY_COMPARE(m_panel->windowOpacity(), 1.0);
        QTRY_VERIFY(m_panel->findChildren<QPropertyAnimation *>().isEmpty());

        // Another panel takes over before the fade in has finished: only the
        // fade out runs on, and the panel ends dim.
        m_panel->hide();
        m_panel->setWindowOpacity(GridWindow::dimmedOpacity);
        m_panel->activate();
        QVERIFY(isDim(m_panel.get()));
        QApplication::sendEvent(m_panel.get(), &enter);
        const QList<QPropertyAnimation *> fadeIn = m_panel->findChildren<QPropertyAnimation *>();
        QCOMPARE(fadeIn.size(), 1);
        fadeIn.first()->setCurrentTime(100); // 100 of its 250 ms, whatever the machine's speed
        const double midway = m_panel->windowOpacity();
        QVERIFY(midway > GridWindow::dimmedOpacity + 0.05 && midway < 0.95);
        m_panel->loseFocus();
        QList<QPropertyAnimation *> running;
        for (QPropertyAnimation *fade : m_panel->findChildren<QPropertyAnimation *>()) {
            if (fade->state() == QAbstractAnimation::Running)
                running.append(fade);
        }
        QCOMPARE(running.size(), 1);
        QCOMPARE(running.first()->startValue().toDouble(), midway);
        QTRY_VERIFY(m_panel->findChildren<QPropertyAnimation *>().isEmpty());
        QVERIFY(isDim(m_panel.get()));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    useOffscreenScreens({"0,0,1920,1080", "1920,0,1280,1024"});
    QApplication app(argc, argv);
    // The drag frame reads the store under the program's own names.
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo");
    TestGridWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gridwindow.moc"
