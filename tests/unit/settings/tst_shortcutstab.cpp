#include "appearancetab.h"
#include "cellgrid.h"
#include "commonbehavior.h"
#include "databasefixture.h"
#include "dragframe.h"
#include "fake/fakeplatform.h"
#include "settingsstore.h"
#include "settingswindow.h"
#include "shortcutedit.h"
#include "shortcutlistitem.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "shortcutstab.h"
#include "stubpanelhost.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Answers every message box as it appears and keeps what it said.
class MessageCatcher : public QObject
{
public:
    MessageCatcher() { qApp->installEventFilter(this); }
    ~MessageCatcher() override { qApp->removeEventFilter(this); }

    QStringList texts;
    QStringList reasons;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(object);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            reasons << box->informativeText();
            QMetaObject::invokeMethod(
                box, [box] { box->done(QMessageBox::Ok); }, Qt::QueuedConnection);
        }
        return false;
    }
};

const QString modifierReason = QStringLiteral("you must use at least one modifier");
const QString panelReason = QStringLiteral("assigned to show/hide the Varlo panel");

} // namespace

class TestShortcutsTab : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataHome> m_home;
    FakePlatform *m_fake = nullptr;
    std::unique_ptr<StubPanelHost> m_host;
    std::unique_ptr<CommonBehavior> m_behavior;
    std::unique_ptr<SettingsWindow> m_window;

    ShortcutsTab *tab() const { return m_window->shortcutsTab(); }
    template <typename T> T *child(const char *name) const
    {
        return tab()->findChild<T *>(QLatin1String(name));
    }
    DragFrame *frame() const { return child<DragFrame>("newShortcutDragFrame"); }
    ShortcutEdit *recorder() const { return child<ShortcutEdit>("newShortcutShortcut"); }
    QPushButton *accept() const { return child<QPushButton>("buttonShortcutAccept"); }
    ShortcutModel *model() const { return ShortcutManager::instance()->model(); }

    void openNew()
    {
        QTest::mouseClick(child<QPushButton>("buttonNewShortcut"), Qt::LeftButton);
        QVERIFY(tab()->isEditing());
        QTRY_VERIFY(frame()->isVisible() && frame()->width() > 100 && frame()->height() > 100);
    }

    void openRow(int row)
    {
        tab()->editShortcut(model()->index(row, 0));
        QVERIFY(tab()->isEditing());
        QTRY_VERIFY(frame()->isVisible() && frame()->width() > 100 && frame()->height() > 100);
    }

    QPoint cellCentre(int column, int row) const
    {
        const int columns = frame()->dimensions().width();
        return frame()->cellGrid()->cells().at(row * columns + column).center().toPoint();
    }

    // Presses on one cell and drags to another, releasing there unless told not to.
    void drag(QPoint from, QPoint to, bool release = true)
    {
        QTest::mousePress(frame(), Qt::LeftButton, {}, cellCentre(from.x(), from.y()));
        QTest::mouseMove(frame(), cellCentre(to.x(), to.y()));
        if (release)
            QTest::mouseRelease(frame(), Qt::LeftButton, {}, cellCentre(to.x(), to.y()));
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<DataHome>();
        QVERIFY(DatabaseUtil().initialize());
        QSettings().clear();
        SettingsStore::writeSettingsDefaults();
        m_fake = new FakePlatform;
        Platform::setInstance(m_fake);
        m_host = std::make_unique<StubPanelHost>();
        m_behavior = std::make_unique<CommonBehavior>(m_host.get());
        m_window = std::make_unique<SettingsWindow>(Qt::Tool | Qt::FramelessWindowHint);
        m_window->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentWidget(tab());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
        m_behavior.reset();
        m_host.reset();
        ShortcutManager::destroyInstance();
        Platform::setInstance(nullptr);
        m_home.reset();
    }

    void combinationCheck_data()
    {
        QTest::addColumn<bool>("global");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<bool>("globalAfterwards");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("kept");

        QTest::newRow("global D") << true << QKeySequence("D") << false << modifierReason << "";
        QTest::newRow("global F5") << true << QKeySequence("F5") << false << ""
                                   << "F5";
        QTest::newRow("global Shift+F5") << true << QKeySequence("Shift+F5") << false << ""
                                         << "Shift + F5";
        QTest::newRow("local D") << false << QKeySequence("D") << false << ""
                                 << "D";
        QTest::newRow("global after D")
            << false << QKeySequence("D") << true << modifierReason << "";
        QTest::newRow("global after Ctrl+D") << false << QKeySequence("Ctrl+D") << true << ""
                                             << "Ctrl + D";
        QTest::newRow("panel keys, global")
            << true << QKeySequence("Ctrl+Alt+D") << false << panelReason << "";
        QTest::newRow("panel keys, local")
            << false << QKeySequence("Ctrl+Alt+D") << false << panelReason << "";
    }

    // What may be recorded: a global shortcut needs a modifier unless it is a
    // function key, and the panel's hot key is never free.
    void combinationCheck()
    {
        QFETCH(bool, global);
        QFETCH(QKeySequence, keys);
        QFETCH(bool, globalAfterwards);
        QFETCH(QString, reason);
        QFETCH(QString, kept);
        QSettings().setValue("hotkey", "Ctrl+Alt+D");
        openNew();
        child<QCheckBox>("checkNewShortcutGlobal")->setChecked(global);

        MessageCatcher messages;
        QTest::keySequence(recorder(), keys);
        if (globalAfterwards)
            child<QCheckBox>("checkNewShortcutGlobal")->click();

        QCOMPARE(recorder()->text(), kept);
        QCOMPARE(recorder()->shortcut().isEmpty(), kept.isEmpty());
        if (reason.isEmpty()) {
            QCOMPARE(messages.texts, QStringList());
            return;
        }
        const QString shown =
            QKeySequence(keys).toString(QKeySequence::NativeText).replace("+", " + ");
        QCOMPARE(messages.texts,
                 QStringList{QStringLiteral("The key combination %1 can't be used!").arg(shown)});
        QVERIFY2(messages.reasons.first().startsWith(
                     QStringLiteral("The key combination \"%1\" can't be used because").arg(shown)),
                 qPrintable(messages.reasons.first()));
        QVERIFY2(messages.reasons.first().contains(reason), qPrintable(messages.reasons.first()));
    }

    // A shortcut opened for editing is checked against its own global box,
    // not against the one of the shortcut edited before it.
    void openingAShortcutChecksItsOwnBox()
    {
        QVERIFY(model()->addShortcut("everywhere", "Ctrl+Alt+G", {2, 2}, {0, 0, 1, 1}, true, true,
                                     false));
        QVERIFY(model()->addShortcut("panel only", "D", {2, 2}, {1, 1, 1, 1}, false, true, false));
        MessageCatcher messages;
        openRow(0);
        child<QPushButton>("buttonShortcutCancel")->click();
        openRow(1);
        QCOMPARE(messages.texts, QStringList());
        QCOMPARE(recorder()->text(), QStringLiteral("D"));
        QVERIFY(accept()->isEnabled());
        openRow(0);
        QCOMPARE(messages.texts, QStringList());
        QCOMPARE(recorder()->text(), QStringLiteral("Ctrl + Alt + G"));
    }

    // Accept needs a combination and a selection from a finished drag; the
    // shortcut is saved with what the drag chose, and while the settings are
    // shown no named shortcut stays grabbed.
    void acceptNeedsKeysAndSelection()
    {
        QVERIFY(model()->addShortcut("other", "Ctrl+Alt+Right", {2, 1}, {1, 0, 1, 1}, true, true,
                                     false));
        QVERIFY(m_fake->grabbedHotKeys().isEmpty()); // the settings window is shown
        ShortcutManager::instance()->enableAllShortcuts();
        QVERIFY(!m_fake->grabbedHotKeys().isEmpty());
        QSignalSpy editing(tab(), &ShortcutsTab::editing);
        // The subdivide key reaches the tab on the list page too, where it changes nothing.
        m_window->toggleSubdivide();
        openNew();
        QCOMPARE(editing.count(), 1);
        QCOMPARE(editing.first().first().toBool(), true);
        QVERIFY(m_fake->grabbedHotKeys().isEmpty());
        QVERIFY(!accept()->isEnabled());

        QTest::keyClick(recorder(), Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(!accept()->isEnabled());
        drag({1, 1}, {0, 0}, false);
        QVERIFY(!accept()->isEnabled()); // still dragging
        QTest::mouseRelease(frame(), Qt::LeftButton, {}, cellCentre(0, 0));
        QVERIFY(accept()->isEnabled());
        recorder()->iconClicked();
        QVERIFY(!accept()->isEnabled());
        QTest::keyClick(recorder(), Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(accept()->isEnabled());

        child<QLineEdit>("newShortcutName")->setText("left");
        child<QCheckBox>("checkNewShortcutGlobal")->setChecked(true);
        QTest::mouseClick(accept(), Qt::LeftButton);
        QVERIFY(!tab()->isEditing());
        QCOMPARE(editing.last().first().toBool(), false);
        QCOMPARE(model()->rowCount(), 2);
        const ShortcutListItem *saved = model()->itemAt(1);
        QCOMPARE(saved->name(), QStringLiteral("left"));
        QCOMPARE(saved->shortcut(), QStringLiteral("Ctrl+Alt+Left"));
        QCOMPARE(saved->gridSize(), QSize(6, 6));
        QCOMPARE(saved->selection(), QRect(0, 0, 2, 2));
        QVERIFY(saved->isGlobal() && saved->isEnabled() && !saved->isSubdivided());
        QVERIFY(m_fake->grabbedHotKeys().isEmpty());
    }

    void gridKeys_data()
    {
        QTest::addColumn<QSize>("grid");
        QTest::addColumn<QRect>("selection");
        QTest::addColumn<bool>("subdivided");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<QSize>("savedGrid"); // invalid: nothing can be saved
        QTest::addColumn<QRect>("savedSelection");
        QTest::addColumn<bool>("savedSubdivided");

        const QRect half(0, 0, 3, 6);
        QTest::newRow("add row keeps the chosen pair")
            << QSize(6, 6) << half << false << "addRow" << QSize(7, 6) << QSize(6, 6) << half
            << false;
        QTest::newRow("add col") << QSize(6, 6) << half << false << "addCol" << QSize(6, 7)
                                 << QSize(6, 6) << half << false;
        QTest::newRow("add row at 10 columns") << QSize(10, 6) << half << false << "addRow"
                                               << QSize(10, 6) << QSize(10, 6) << half << false;
        QTest::newRow("sub col at 1 row")
            << QSize(6, 1) << QRect(0, 0, 1, 1) << false << "subCol" << QSize(6, 1) << QSize(6, 1)
            << QRect(0, 0, 1, 1) << false;
        QTest::newRow("subdivided 12 counts as 6")
            << QSize(12, 12) << half << true << "addRow" << QSize(14, 12) << QSize(12, 12) << half
            << true;
        QTest::newRow("subdivided sub row") << QSize(12, 12) << half << true << "subRow"
                                            << QSize(10, 12) << QSize(12, 12) << half << true;
        QTest::newRow("subdivided at 20 columns") << QSize(20, 12) << half << true << "addRow"
                                                  << QSize(20, 12) << QSize(20, 12) << half << true;
        QTest::newRow("toggle doubles") << QSize(6, 6) << half << false << "toggle" << QSize(12, 12)
                                        << QSize(12, 12) << half << true;
        QTest::newRow("toggle halves") << QSize(12, 12) << QRect(1, 1, 2, 2) << true << "toggle"
                                       << QSize(6, 6) << QSize(6, 6) << QRect(1, 1, 2, 2) << false;
        QTest::newRow("toggle halves past the selection")
            << QSize(12, 12) << QRect(8, 8, 4, 4) << true << "toggle" << QSize(6, 6) << QSize()
            << QRect() << false;
        QTest::newRow("toggle beyond the largest grid")
            << QSize(60, 6) << half << false << "toggle" << QSize(60, 6) << QSize(60, 6) << half
            << false;
        QTest::newRow("damaged grid") << QSize(0, 0) << half << false << "toggle" << QSize(12, 12)
                                      << QSize() << QRect() << true;
        QTest::newRow("grid beyond int") << QSize(2147483647, 5) << half << true << "addRow"
                                         << QSize(7, 6) << QSize() << QRect() << false;
        QTest::newRow("selection beyond the grid")
            << QSize(4, 4) << QRect(3, 3, 2, 2) << false << "" << QSize(4, 4) << QSize() << QRect()
            << false;
        QTest::newRow("negative selection") << QSize(4, 4) << QRect(-1, 0, 1, 1) << false << ""
                                            << QSize(4, 4) << QSize() << QRect() << false;
    }

    // The grid keys on the editor, from a stored shortcut, and what Accept
    // saves afterwards; a damaged row opens on the usual grid instead.
    void gridKeys()
    {
        QFETCH(QSize, grid);
        QFETCH(QRect, selection);
        QFETCH(bool, subdivided);
        QFETCH(QString, step);
        QFETCH(QSize, shown);
        QFETCH(QSize, savedGrid);
        QFETCH(QRect, savedSelection);
        QFETCH(bool, savedSubdivided);
        QVERIFY(
            model()->addShortcut("stored", "Ctrl+Alt+1", grid, selection, true, true, subdivided));
        openRow(0);

        if (step == "addRow")
            tab()->addRowShortcut();
        else if (step == "addCol")
            tab()->addColShortcut();
        else if (step == "subRow")
            tab()->subRowShortcut();
        else if (step == "subCol")
            tab()->subColShortcut();
        else if (step == "toggle")
            m_window->toggleSubdivide();
        QCOMPARE(frame()->dimensions(), shown);

        QCOMPARE(accept()->isEnabled(), savedGrid.isValid());
        if (!savedGrid.isValid())
            return;
        accept()->click();
        QVERIFY(!tab()->isEditing());
        const ShortcutListItem *saved = model()->itemAt(0);
        QCOMPARE(saved->gridSize(), savedGrid);
        QCOMPARE(saved->selection(), savedSelection);
        QCOMPARE(saved->isSubdivided(), savedSubdivided);
    }

    void failedAcceptKeepsTheEditor_data()
    {
        QTest::addColumn<bool>("editing");
        QTest::newRow("new") << false;
        QTest::newRow("edited") << true;
    }

    // Another shortcut has these keys: the editor stays open as it was.
    void failedAcceptKeepsTheEditor()
    {
        QFETCH(bool, editing);
        QVERIFY(model()->addShortcut("first", "Ctrl+Alt+Left", {2, 1}, {0, 0, 1, 1}, true, true,
                                     false));
        QVERIFY(model()->addShortcut("second", "Ctrl+Alt+Right", {6, 6}, {1, 0, 1, 1}, true, true,
                                     false));
        if (editing) {
            openRow(1);
        } else {
            openNew();
            child<QLineEdit>("newShortcutName")->setText("third");
        }
        drag({1, 2}, {3, 4});
        QTest::keyClick(recorder(), Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
        const QString name = child<QLineEdit>("newShortcutName")->text();

        MessageCatcher messages;
        accept()->click();
        QCOMPARE(messages.texts, QStringList{QString::fromUtf8(
                                     "The key combination Ctrl + Alt + ⇦ can't be used!")});
        QVERIFY(tab()->isEditing());
        QCOMPARE(child<QLineEdit>("newShortcutName")->text(), name);
        QCOMPARE(recorder()->text(), QString::fromUtf8("Ctrl + Alt + ⇦"));
        QCOMPARE(frame()->cellGrid()->selection(), QRect(1, 2, 3, 3));
        QVERIFY(accept()->isEnabled());
        QCOMPARE(model()->rowCount(), 2);
        QCOMPARE(model()->itemAt(1)->shortcut(), QStringLiteral("Ctrl+Alt+Right"));

        // Given other keys, the same editor saves.
        QTest::keyClick(recorder(), Qt::Key_Down, Qt::ControlModifier | Qt::AltModifier);
        accept()->click();
        QVERIFY(!tab()->isEditing());
        const ShortcutListItem *saved = model()->itemAt(editing ? 1 : 2);
        QCOMPARE(saved->name(), name);
        QCOMPARE(saved->shortcut(), QStringLiteral("Ctrl+Alt+Down"));
        QCOMPARE(saved->selection(), QRect(1, 2, 3, 3));
    }

    // Escape during a drag ends the drag and its preview, not the editor or
    // the window; the release that follows chooses nothing.
    void escapeWhileDragging()
    {
        QSignalSpy hideRequested(m_window.get(), &SettingsWindow::hideRequested);
        openNew();
        QTest::keyClick(recorder(), Qt::Key_Up, Qt::ControlModifier | Qt::AltModifier);
        drag({0, 0}, {2, 2});
        drag({3, 3}, {4, 4}, false);
        QVERIFY(frame()->dragging());
        QVERIFY(m_behavior->preview()->isVisible());

        m_window->handleEscape();
        QVERIFY(!frame()->dragging());
        QVERIFY(!m_behavior->preview()->isVisible());
        QVERIFY(tab()->isEditing());
        // The earlier drag's cells are still the ones Accept saves, and shown.
        QCOMPARE(frame()->cellGrid()->selection(), QRect(0, 0, 3, 3));
        QTest::mouseRelease(frame(), Qt::LeftButton, {}, cellCentre(4, 4));
        m_window->handleEscape();
        QVERIFY(tab()->isEditing());
        QCOMPARE(hideRequested.count(), 0);

        accept()->click();
        QCOMPARE(model()->itemAt(0)->selection(), QRect(0, 0, 3, 3));
    }

    // The window around the tab: while a shortcut is edited there is no way
    // to another tab or out of the window but Cancel and Accept; Escape
    // outside the editor, and the return button, leave the window.
    void editorTakesTheWayOut()
    {
        auto *tabs = m_window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QWidget *close = m_window->findChild<QWidget *>(QStringLiteral("buttonClose"));
        auto *back = m_window->findChild<QPushButton *>(QStringLiteral("buttonReturn"));
        QSignalSpy hideRequested(m_window.get(), &SettingsWindow::hideRequested);
        QSignalSpy showGrids(m_window.get(), &SettingsWindow::showGrids);
        openNew();
        QVERIFY(!tabs->tabBar()->isVisible() && !tabs->isTabEnabled(0));
        QVERIFY(!close->isVisible() && !back->isVisible());
        QTest::mouseClick(child<QPushButton>("buttonShortcutCancel"), Qt::LeftButton);
        QVERIFY(tabs->tabBar()->isVisible() && tabs->isTabEnabled(0));
        QVERIFY(close->isVisible() && back->isVisible());
        m_window->handleEscape();
        QCOMPARE(hideRequested.count(), 1);

        openNew();
        tab()->showList();
        back->click();
        QVERIFY(!tab()->isEditing());
        QCOMPARE(showGrids.count(), 1);
    }

    // The appearance previews exist exactly while that tab is in front of a
    // shown window.
    void previewsOnlyWithTheAppearanceTab()
    {
        auto *tabs = m_window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        AppearanceTab *appearance = m_window->appearanceTab();
        const qsizetype screens = QGuiApplication::screens().size();
        QCOMPARE(appearance->previewScreens().size(), 0);
        tabs->setCurrentWidget(appearance);
        QCOMPARE(appearance->previewScreens().size(), screens);
        tabs->setCurrentIndex(0);
        QCOMPARE(appearance->previewScreens().size(), 0);
        tabs->setCurrentWidget(appearance);
        m_window->hide();
        QCOMPARE(appearance->previewScreens().size(), 0);
        m_window->show();
        QCOMPARE(appearance->previewScreens().size(), screens);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    TestShortcutsTab test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shortcutstab.moc"
