#include "about.h"
#include "commonbehavior.h"
#include "databaseutil.h"
#include "dpimetrics.h"
#include "fontsubstitutes.h"
#include "sampleshortcuts.h"
#include "settingsstore.h"
#include "settingswindow.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "shortcutstab.h"
#include "stubpanelhost.h"
#include "xtestutil.h"

#include <QApplication>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

// Pictures of the settings window and the About window as they look on a
// composited X desktop, over a window of another program, for a person to
// look at (VARLO_RENDER_DIR). Run once per density (QT_FONT_DPI).
class TestX11SettingsLook : public QObject
{
    Q_OBJECT

private:
    StubPanelHost m_host;
    std::unique_ptr<CommonBehavior> m_behavior;

    // The window and a margin of the desktop around it, once the window
    // manager and the compositor have drawn it.
    static bool save(QWidget *window, const QString &name)
    {
        if (!XTestUtil::waitFor([&] { return XTestUtil::syncClient(quint32(window->winId())); }))
            return false;
        XTestUtil::syncWindowManager();
        const QRect area = window->frameGeometry().adjusted(-24, -24, 24, 24);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                                           area.height());
        return shot.save(QStringLiteral("%1/%2_%3_x11.png")
                             .arg(qEnvironmentVariable("VARLO_RENDER_DIR"), name)
                             .arg(DpiMetrics::dpiX()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("VARLO_RENDER_DIR"))
            QSKIP("VARLO_RENDER_DIR not set");
        installFontSubstitutes();
        SettingsStore::writeSettingsDefaults();
        QVERIFY(DatabaseUtil().initialize());
        ShortcutManager *manager = ShortcutManager::instance();
        addSampleShortcuts(manager);
        m_behavior = std::make_unique<CommonBehavior>(&m_host);
    }

    void cleanupTestCase()
    {
        m_behavior.reset();
        ShortcutManager::destroyInstance();
    }

    void settingsAndAbout()
    {
        // Something to see through the translucent frame.
        QVERIFY2(XTestUtil::startXterm(QStringLiteral("behind"), {"-geometry", "120x40+300+150"}),
                 qPrintable(XTestUtil::lastError()));
        SettingsWindow w(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        w.move(400, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        const char *names[] = {"general", "appearance", "shortcuts"};
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QVERIFY(save(&w, QStringLiteral("settings_%1").arg(QLatin1String(names[i]))));
        }
        w.shortcutsTab()->editShortcut(ShortcutManager::instance()->model()->index(0, 0));
        QVERIFY(save(&w, QStringLiteral("settings_editor")));
        w.hide();

        About about;
        about.move(400, 200);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(save(&about, QStringLiteral("about")));
    }
};

int main(int argc, char **argv)
{
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrith LLC"));
    QCoreApplication::setApplicationName(QStringLiteral("Varlo"));
    TestX11SettingsLook test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_settings_look.moc"
