#include "cellgrid.h"
#include "commonbehavior.h"
#include "dpimetrics.h"
#include "dragframe.h"
#include "gridwindow.h"
#include "offscreenscreen.h"
#include "settingsstore.h"
#include "stubpanelhost.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

// One executable, run once per screen density: VARLO_TEST_DPI sets the
// logical DPI of the offscreen screen the panel is built on.
namespace {

struct Expected
{
    int dpi;
    const char *frameRule; // nullptr: the form's own 96 DPI rule only
    const char *closeImage;
    const char *gearImage;
    int iconSize;
    QSize windowSize;
    double margin;
};

const Expected kExpected[] = {
    {96, nullptr, ":/images/close_96.png", ":/images/gear_96.png", 19, {330, 289}, 3.0},
    {120,
     "QWidget#container { border-image: url(:/images/frame_120.png) 10 10 10 10; border: 10px "
     "transparent; }",
     ":/images/close_120.png",
     ":/images/gear_120.png",
     24,
     {413, 361},
     3.75},
    {144,
     "QWidget#container { border-image: url(:/images/frame_144.png) 12 12 12 12; border: 12px "
     "transparent; }",
     ":/images/close_144.png",
     ":/images/gear_144.png",
     28,
     {495, 434},
     4.5},
    {145,
     "QWidget#container { border-image: url(:/images/frame_192.png) 16 16 16 16; border: 16px "
     "transparent; }",
     ":/images/close_192.png",
     ":/images/gear_192.png",
     38,
     {498, 437},
     3.0 * 145 / 96},
};

} // namespace

class TestGridWindowDpi : public QObject
{
    Q_OBJECT

private:
    StubPanelHost m_host;
    std::unique_ptr<CommonBehavior> m_behavior;
    const Expected *m_expected = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        SettingsStore::writeSettingsDefaults();
        QCOMPARE(DpiMetrics::dpiX(), testDpi());
        for (const Expected &e : kExpected) {
            if (e.dpi == testDpi())
                m_expected = &e;
        }
        QVERIFY2(m_expected, "no expectations for this DPI");
        m_host.panels = true;
        m_behavior = std::make_unique<CommonBehavior>(&m_host);
    }

    void cleanupTestCase() { m_behavior.reset(); }

    void artworkAndSizesFollowTheDpi()
    {
        GridWindow panel(m_behavior.get());
        // The density's rule comes last, so it wins over the form's rule for 96 DPI.
        const int containerRules = panel.styleSheet().count(QLatin1String("QWidget#container"));
        if (m_expected->frameRule) {
            QCOMPARE(containerRules, 2);
            QVERIFY2(panel.styleSheet().endsWith(QLatin1String(m_expected->frameRule)),
                     qPrintable(panel.styleSheet()));
        } else {
            QCOMPARE(containerRules, 1);
        }
        QVERIFY(panel.styleSheet().contains(QLatin1String("frame_96.png) 8 8 8 8")));

        const QSize iconSize(m_expected->iconSize, m_expected->iconSize);
        const struct
        {
            const char *name;
            const char *image;
        } buttons[] = {{"buttonClose", m_expected->closeImage},
                       {"buttonSettings", m_expected->gearImage}};
        for (const auto &b : buttons) {
            auto *button = panel.findChild<QPushButton *>(QLatin1String(b.name));
            QVERIFY(button);
            QCOMPARE(button->iconSize(), iconSize);
            // Each density's artwork is drawn at its own size.
            QCOMPARE(button->icon().availableSizes().value(0),
                     QImage(QLatin1String(b.image)).size());
        }

        QCOMPARE(panel.size(), m_expected->windowSize);

        const CellGrid *grid = panel.dragFrame()->cellGrid();
        const CellGrid defaults;
        const double scale = m_expected->dpi / 96.0;
        QCOMPARE(grid->borderWidth(), defaults.borderWidth() * scale);
        QCOMPARE(grid->radius(), defaults.radius() * scale);
        const Util::MarginMetrics_t m = grid->marginMetrics();
        for (double value :
             {m.cellWidth, m.cellHeight, m.screenLeft, m.screenTop, m.screenRight, m.screenBottom})
            QCOMPARE(value, m_expected->margin);
    }

    // Pictures for a person to look at: the panel as grabbed, and as it looks
    // dimmed over a desktop.
    void render()
    {
        QSettings().setValue("grid/size", QSize(6, 6));
        GridWindow panel(m_behavior.get());
        panel.activate();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        Q_EMIT m_behavior->foregroundWindowChanged(QStringLiteral("Terminal"),
                                                   QIcon(QStringLiteral(":/images/varlo_32.png")));
        const QImage shot = panel.grab().toImage().convertToFormat(QImage::Format_ARGB32);

        // The window itself is see-through outside its frame, the frame is not.
        QCOMPARE(shot.size(), panel.size());
        QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
        QVERIFY(qAlpha(shot.pixel(shot.width() / 2, shot.height() / 2)) > 0);

        const QString dir = QString::fromLocal8Bit(qgetenv("VARLO_RENDER_DIR"));
        if (dir.isEmpty())
            return;
        const QString name = QStringLiteral("%1/gridwindow_%2").arg(dir).arg(m_expected->dpi);
        QVERIFY(shot.save(name + QStringLiteral(".png")));

        QImage desktop(shot.size() + QSize(80, 80), QImage::Format_ARGB32);
        QPainter painter(&desktop);
        QLinearGradient sky(0, 0, desktop.width(), desktop.height());
        sky.setColorAt(0, QColor(70, 110, 160));
        sky.setColorAt(1, QColor(200, 170, 120));
        painter.fillRect(desktop.rect(), sky);
        painter.fillRect(QRect(20, 60, desktop.width() / 2, desktop.height() / 2), Qt::white);
        painter.setOpacity(panel.windowOpacity());
        painter.drawImage(40, 40, shot);
        painter.end();
        QVERIFY(desktop.save(name + QStringLiteral("_on_desktop.png")));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir temp;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(temp.path()));
    if (!useOffscreenScreen(temp, testDpi()))
        return 2;

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orrith LLC");
    QCoreApplication::setApplicationName("Varlo");
    TestGridWindowDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gridwindow_dpi.moc"
