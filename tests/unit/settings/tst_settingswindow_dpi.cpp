#include "about.h"
#include "commonbehavior.h"
#include "databaseutil.h"
#include "dpimetrics.h"
#include "offscreenscreen.h"
#include "sampleshortcuts.h"
#include "settingsstore.h"
#include "settingswindow.h"
#include "shortcutmanager.h"
#include "shortcutmodel.h"
#include "shortcutstab.h"
#include "stubpanelhost.h"
#include "updaterwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

// One executable, run once per screen density (VARLO_TEST_DPI): the settings
// window and the About window take the artwork and sizes of that density.
// With VARLO_RENDER_DIR set, pictures of both are left there to be looked at.
namespace {

struct Expected
{
    int dpi;
    int artwork; // the density the images are drawn for
    int frameBorder;
    int indicator; // check box indicator, 0: the sheet's own 14 px
    int iconSize;
    QSize windowSize;
    int aboutIcon;
};

const Expected kExpected[] = {
    {96, 96, 8, 0, 19, {373, 358}, 64},
    {97, 120, 10, 18, 24, {377, 362}, 80},
    {120, 120, 10, 18, 24, {466, 448}, 80},
    {144, 144, 12, 21, 28, {560, 537}, 96},
    {145, 192, 16, 28, 38, {563, 541}, 128},
};

} // namespace

class TestSettingsWindowDpi : public QObject
{
    Q_OBJECT

private:
    StubPanelHost m_host;
    std::unique_ptr<CommonBehavior> m_behavior;
    const Expected *m_expected = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        for (const Expected &e : kExpected) {
            if (e.dpi == testDpi())
                m_expected = &e;
        }
        QVERIFY2(m_expected, "no expectations for this DPI");
        SettingsStore::writeSettingsDefaults();
        m_host.settings = true;
        m_behavior = std::make_unique<CommonBehavior>(&m_host);
    }

    void cleanupTestCase() { m_behavior.reset(); }

    void settingsWindowFollowsTheDpi()
    {
        SettingsWindow w(Qt::Tool | Qt::FramelessWindowHint);
        const Expected &e = *m_expected;
        const QString sheet = w.styleSheet();
        if (e.artwork == 96) {
            QCOMPARE(sheet.count(QLatin1String("QWidget#container")), 0);
        } else {
            // Appended after the sheet's rules for 96 DPI, so that they win.
            const QString frame = QStringLiteral("QWidget#container { border-image: url(:/images/frame_%1.png) "
                                                 "%2 %2 %2 %2; border: %2px transparent; }")
                                      .arg(e.artwork)
                                      .arg(e.frameBorder);
            const qsizetype at = sheet.indexOf(frame);
            QVERIFY2(at > sheet.indexOf(QLatin1String("frame_96.png")), qPrintable(sheet));
            QVERIFY(sheet.indexOf(QStringLiteral("QCheckBox::indicator { width: %1px; height: %1px; }")
                                      .arg(e.indicator))
                    > at);
            QVERIFY(sheet.contains(QStringLiteral("checkbox_checked_%1.png").arg(e.artwork)));
        }
        for (const char *name : {"buttonClose", "buttonReturn"}) {
            auto *button = w.findChild<QPushButton *>(QLatin1String(name));
            QVERIFY(button);
            QCOMPARE(button->iconSize(), QSize(e.iconSize, e.iconSize));
            QCOMPARE(button->icon().availableSizes().value(0).width(),
                     e.artwork == 96 ? 19 : e.iconSize);
        }
        QCOMPARE(w.size(), e.windowSize);
        // The tabs' check boxes take the density's indicator, not the sheet's 14 px.
        for (const QCheckBox *box : w.findChildren<QCheckBox *>())
            QCOMPARE(box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box), e.indicator ? e.indicator : 14);

        // Scaled: the tabs centred in the frame and sitting on its bottom;
        // the buttons in its top corners.
        const QRect container = w.findChild<QWidget *>(QStringLiteral("container"))->geometry();
        QCOMPARE(container, QRect(QPoint(0, 0), e.windowSize));
        const QRect tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->geometry();
        QVERIFY2(qAbs(tabs.center().x() - container.center().x()) <= 1, qPrintable(QString::number(tabs.x())));
        QCOMPARE(tabs.bottom(), container.bottom() - (e.artwork == 96 ? 2 : 0));
        QCOMPARE(w.findChild<QWidget *>(QStringLiteral("buttonClose"))->pos(), QPoint(9, 8));
        const QRect back = w.findChild<QWidget *>(QStringLiteral("buttonReturn"))->geometry();
        QCOMPARE(back.topRight(), QPoint(container.right() - 9, 8));
    }

    // The forms' fonts are replaced by wider ones on most desktops: every
    // text must still fit its widget, on every tab and in the About window.
    void nothingClipped()
    {
        SettingsWindow w(Qt::Tool | Qt::FramelessWindowHint);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
        QStringList clipped;
        const auto check = [&](QWidget *top) {
            for (QWidget *widget : top->findChildren<QWidget *>()) {
                if (!widget->isVisible() || !(qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLabel *>(widget)))
                    continue;
                const QSize needed = widget->minimumSizeHint();
                if (widget->width() < needed.width() || widget->height() < needed.height())
                    clipped << QStringLiteral("%1 %2x%3 < %4x%5")
                                   .arg(widget->objectName())
                                   .arg(widget->width())
                                   .arg(widget->height())
                                   .arg(needed.width())
                                   .arg(needed.height());
            }
        };
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
            check(tabs->currentWidget());
        }
        About about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        check(&about);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1String(", "))));
    }

    void updaterWindowShowsTheImageOfTheDpi()
    {
        UpdaterWindow window;
        const QPixmap icon = window.findChild<QLabel *>(QStringLiteral("updateIcon"))->pixmap();
        QCOMPARE(icon.width(), m_expected->aboutIcon);
        const QSize designed(600, 410);
        QCOMPARE(window.size(), m_expected->artwork == 96 ? designed
                                                          : QSize(DpiMetrics::scaleX(600), DpiMetrics::scaleY(410)));
    }

    void aboutShowsTheImageOfTheDpi()
    {
        About about;
        const QPixmap icon = about.findChild<QLabel *>(QStringLiteral("labelIcon"))->pixmap();
        QCOMPARE(icon.width(), m_expected->aboutIcon);
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("labelVersion"))->text(),
                 QStringLiteral("Version 1.4.4 (293)"));
    }

    void render()
    {
        const QString dir = QString::fromLocal8Bit(qgetenv("VARLO_RENDER_DIR"));
        if (dir.isEmpty())
            QSKIP("VARLO_RENDER_DIR not set");
        // As a user who set things up sees it: two shortcuts.
        QVERIFY(DatabaseUtil().initialize());
        ShortcutManager *manager = ShortcutManager::instance();
        addSampleShortcuts(manager);
        {
            SettingsWindow w(Qt::Tool | Qt::FramelessWindowHint);
            auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            const auto save = [&](const QString &name) {
                return w.grab().save(QStringLiteral("%1/settings_%2_%3.png").arg(dir, name).arg(m_expected->dpi));
            };
            const char *names[] = {"general", "appearance", "shortcuts"};
            for (int i = 0; i < tabs->count(); ++i) {
                tabs->setCurrentIndex(i);
                QVERIFY(save(QLatin1String(names[i])));
            }
            w.shortcutsTab()->editShortcut(manager->model()->index(0, 0));
            QVERIFY(save(QStringLiteral("editor")));
        }
        ShortcutManager::destroyInstance();
        About about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(about.grab().save(QStringLiteral("%1/about_%2.png").arg(dir).arg(m_expected->dpi)));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir temp;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(temp.path()));
    if (!useOffscreenScreen(temp, testDpi()))
        return 2;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo");
    TestSettingsWindowDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingswindow_dpi.moc"
