#include "appearancetab.h"
#include "cellgrid.h"
#include "desktopareacache.h"
#include "dragframe.h"
#include "offscreenscreens.h"
#include "settingsstore.h"

#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char *const marginBoxes[] = {"spinBoxMarginWindowWidth", "spinBoxMarginWindowHeight",
                                   "spinBoxMarginScreenLeft",  "spinBoxMarginScreenRight",
                                   "spinBoxMarginScreenTop",   "spinBoxMarginScreenBottom"};

QSpinBox *spinBox(const AppearanceTab &tab, const QString &name)
{
    return tab.findChild<QSpinBox *>(name);
}

QVariant stored(const QString &key)
{
    return QSettings().value(key);
}

bool sameMargins(const Util::MarginMetrics_t &a, const Util::MarginMetrics_t &b)
{
    return a.cellWidth == b.cellWidth && a.cellHeight == b.cellHeight &&
           a.screenLeft == b.screenLeft && a.screenTop == b.screenTop &&
           a.screenRight == b.screenRight && a.screenBottom == b.screenBottom;
}

} // namespace

class TestAppearanceTab : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QSettings().clear();
        SettingsStore::writeSettingsDefaults();
    }

    void constructionNetEffect_data()
    {
        QTest::addColumn<QVariantMap>("before");
        QTest::addColumn<QVariantMap>("after");
        QTest::addColumn<QVariantMap>("shown"); // spin box -> value

        const QVariantMap unchanged{{"grid/size", QSize(6, 6)}, {"grid/reset_size", QSize(6, 6)},
                                    {"grid/subdivided", false}, {"grid/reset", false},
                                    {"margins/enabled", false}, {"margins/cell_width", 10}};
        QTest::newRow("defaults") << QVariantMap() << unchanged
                                  << QVariantMap{{"spinBoxColumns", 6}, {"spinBoxRows", 6}};
        QTest::newRow("the grid in use survives, subdivision ends")
            << QVariantMap{{"grid/size", QSize(9, 2)},
                           {"grid/reset_size", QSize(4, 3)},
                           {"grid/subdivided", true}}
            << QVariantMap{{"grid/size", QSize(9, 2)},
                           {"grid/reset_size", QSize(4, 3)},
                           {"grid/subdivided", false}}
            << QVariantMap{{"spinBoxColumns", 4}, {"spinBoxRows", 3}};
        QTest::newRow("reset size of 0 and 11")
            << QVariantMap{{"grid/reset_size", QSize(0, 11)}}
            << QVariantMap{{"grid/reset_size", QSize(1, 10)}}
            << QVariantMap{{"spinBoxColumns", 1}, {"spinBoxRows", 10}};
        QTest::newRow("reset size 11 x 0 with reset on")
            << QVariantMap{{"grid/reset_size", QSize(11, 0)}, {"grid/reset", true}}
            << QVariantMap{{"grid/reset_size", QSize(10, 1)},
                           {"grid/reset", true},
                           {"grid/size", QSize(6, 6)}}
            << QVariantMap{{"spinBoxColumns", 10}, {"spinBoxRows", 1}};
        QTest::newRow("reset size not a size")
            << QVariantMap{{"grid/reset_size", "abc"}}
            << QVariantMap{{"grid/reset_size", QSize(6, 6)}}
            << QVariantMap{{"spinBoxColumns", 6}, {"spinBoxRows", 6}};
        QTest::newRow("damaged grid in use is left to the panel")
            << QVariantMap{{"grid/size", "abc"}} << QVariantMap{{"grid/size", "abc"}}
            << QVariantMap();
        QTest::newRow("flags keep their values")
            << QVariantMap{{"grid/reset", true}, {"margins/enabled", true}}
            << QVariantMap{{"grid/reset", true}, {"margins/enabled", true}} << QVariantMap();
        QTest::newRow("margins out of range show and store the nearest value")
            << QVariantMap{{"margins/cell_width", 100000},
                           {"margins/screen_left", -5},
                           {"margins/screen_top", 0}}
            << QVariantMap{{"margins/cell_width", 300},
                           {"margins/screen_left", 0},
                           {"margins/screen_top", 0}}
            << QVariantMap{{"spinBoxMarginWindowWidth", 300}, {"spinBoxMarginScreenLeft", 0}};
        QTest::newRow("unreadable margin reads as the default")
            << QVariantMap{{"margins/screen_bottom", "abc"}}
            << QVariantMap{{"margins/screen_bottom", 10}}
            << QVariantMap{{"spinBoxMarginScreenBottom", 10}};
    }

    void constructionNetEffect()
    {
        QFETCH(QVariantMap, before);
        QFETCH(QVariantMap, after);
        QFETCH(QVariantMap, shown);
        {
            QSettings settings;
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                settings.setValue(it.key(), it.value());
        }
        AppearanceTab tab(nullptr);
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            QCOMPARE(stored(it.key()), it.value());
        for (auto it = shown.cbegin(); it != shown.cend(); ++it)
            QCOMPARE(spinBox(tab, it.key())->value(), it.value().toInt());
    }

    void columnsAndRowsWriteBothSizes_data()
    {
        QTest::addColumn<QVariant>("gridSize");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QSize>("resetSize");
        QTest::addColumn<QSize>("size");

        QTest::newRow("columns") << QVariant(QSize(3, 2)) << "spinBoxColumns" << QSize(7, 5)
                                 << QSize(7, 2);
        QTest::newRow("rows") << QVariant(QSize(3, 2)) << "spinBoxRows" << QSize(5, 7)
                              << QSize(3, 7);
        QTest::newRow("damaged grid in use")
            << QVariant("abc") << "spinBoxColumns" << QSize(7, 5) << QSize(7, 6);
    }

    void columnsAndRowsWriteBothSizes()
    {
        QFETCH(QVariant, gridSize);
        QFETCH(QString, box);
        QFETCH(QSize, resetSize);
        QFETCH(QSize, size);
        QSettings().setValue("grid/reset_size", QSize(5, 5));
        AppearanceTab tab(nullptr);
        // "Use these settings on activation" is off: both keys are written all the same.
        QSettings().setValue("grid/size", gridSize);
        QVERIFY(!tab.findChild<QCheckBox *>("checkUseGridOnActivation")->isChecked());
        spinBox(tab, box)->setValue(7);
        QCOMPARE(stored("grid/reset_size").toSize(), resetSize);
        QCOMPARE(stored("grid/size").toSize(), size);
    }

    void previewsFollowTheSettings()
    {
        QSettings settings;
        settings.setValue("margins/enabled", true);
        settings.setValue("margins/cell_width", 12);
        settings.setValue("grid/reset", true);
        settings.setValue("grid/reset_size", QSize(3, 4));
        QPointer<DragFrame> first;
        {
            AppearanceTab tab(nullptr);
            tab.showPreviewScreens();
            tab.showPreviewScreens(); // a repeated show replaces the set, never doubles it
            const QList<DragFrame *> previews = tab.previewScreens();
            DesktopAreaCache *cache = DesktopAreaCache::instance();
            QCOMPARE(previews.size(), 2);
            for (int screen = 0; screen < previews.size(); ++screen) {
                QCOMPARE(previews.at(screen)->geometry(), cache->availableGeometry(screen));
                QVERIFY(previews.at(screen)->testAttribute(Qt::WA_TransparentForMouseEvents));
                QCOMPARE(previews.at(screen)->dimensions(), QSize(3, 4));
                QCOMPARE(previews.at(screen)->cellGrid()->marginMetrics().cellWidth, 12.0);
            }
            first = previews.first();

            spinBox(tab, "spinBoxMarginScreenTop")->setValue(40);
            spinBox(tab, "spinBoxColumns")->setValue(8);
            QCOMPARE(first->cellGrid()->marginMetrics().screenTop, 40.0);
            QCOMPARE(first->dimensions(), QSize(8, 4));

            // Margins off: the boxes go grey and the previews keep a little
            // room between the cells and at the edges.
            tab.findChild<QCheckBox *>("checkEnableMargins")->setChecked(false);
            QCOMPARE(stored("margins/enabled"), QVariant(false));
            for (const char *name : marginBoxes)
                QVERIFY(!spinBox(tab, name)->isEnabled());
            for (DragFrame *preview : previews)
                QVERIFY(sameMargins(preview->cellGrid()->marginMetrics(), {4, 4, 3, 3, 3, 3}));
        }
        QVERIFY(first.isNull()); // the tab takes its windows with it
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    useOffscreenScreens({"0,0,1920,1080", "1920,0,1280,1024"});
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo");
    TestAppearanceTab test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appearancetab.moc"
