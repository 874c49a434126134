// Varlo in the tray and on its hot keys, end to end on a private two-screen
// desktop with Openbox: a tray host (trayer), xterms, keys typed through XTEST.

#include "xtestutil.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

QString logText()
{
    QFile f(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/varlo.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool waitForLog(const QString &text, int count = 1)
{
    return XTestUtil::waitFor([&] { return logText().count(text) >= count; }, 15000);
}

const QString kReady = QStringLiteral("| Finished application initialization.");

} // namespace

class TestX11Shortcuts : public QObject
{
    Q_OBJECT

private:
    QProcess *m_varlo = nullptr;

    bool startVarlo(const QStringList &arguments = {QStringLiteral("-background")})
    {
        QFile::remove(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/varlo.log"));
        m_varlo = XTestUtil::startProcess(XTestUtil::binDir() + QStringLiteral("/Varlo"), arguments);
        return m_varlo && waitForLog(kReady);
    }

    bool stopVarlo()
    {
        if (!m_varlo || m_varlo->state() == QProcess::NotRunning)
            return true;
        m_varlo->terminate();
        return m_varlo->waitForFinished(10000) && m_varlo->exitCode() == 0;
    }

    QList<quint32> visiblePanels() const
    {
        QList<quint32> result;
        for (quint32 w : XTestUtil::windowsOf(m_varlo->processId())) {
            if (XTestUtil::clientGeometry(w).size() == QSize(330, 289))
                result << w;
        }
        return result;
    }

    // The window of ours a tray host took in: one of ours below another's top level.
    quint32 trayIcon() const
    {
        for (quint32 w : XTestUtil::descendantsOf(XTestUtil::rootWindow())) {
            const QList<quint32> pid = XTestUtil::cardinalProperty(w, "_NET_WM_PID");
            if (!pid.isEmpty() && pid.first() == quint32(m_varlo->processId())
                && XTestUtil::topLevelOf(w) != w && XTestUtil::clientGeometry(w).isValid())
                return w;
        }
        return 0;
    }

    static bool startTray()
    {
        return XTestUtil::startProcess(QStringLiteral("trayer"),
                                       {"--edge", "top", "--align", "right", "--widthtype", "pixel",
                                        "--width", "200", "--heighttype", "pixel", "--height", "32"})
               && XTestUtil::waitFor([] { return XTestUtil::selectionOwned("_NET_SYSTEM_TRAY_S0"); });
    }

private Q_SLOTS:
    void cleanup()
    {
        QVERIFY(stopVarlo());
        XTestUtil::cleanup();
    }

    // A click on the icon shows the panels and a second hides them; its menu
    // ends Varlo the way a logout does not: through the clean-up.
    void trayIconTogglesThePanelsAndQuits()
    {
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(startVarlo(), qPrintable(logText()));
        quint32 icon = 0;
        QVERIFY2(XTestUtil::waitFor([&] { return (icon = trayIcon()) != 0; }), qPrintable(logText()));
        const QRect area = XTestUtil::clientGeometry(icon);
        const QPoint centre = area.center();

        QVERIFY(XTestUtil::clickAt(centre - QPoint(area.width() / 3, 0)));
        QVERIFY2(XTestUtil::waitFor([&] { return visiblePanels().size() == 2; }), qPrintable(logText()));
        // Apart from the first, so that the two do not make a double click.
        QVERIFY(XTestUtil::clickAt(centre + QPoint(area.width() / 3, 0)));
        QVERIFY(XTestUtil::waitFor([&] { return visiblePanels().isEmpty(); }));

        // The last entry of the menu is "Quit".
        const QList<quint32> before = XTestUtil::windowsOf(m_varlo->processId());
        QVERIFY(XTestUtil::clickAt(centre, 3));
        QVERIFY(XTestUtil::waitFor([&] { return XTestUtil::windowsOf(m_varlo->processId()).size() > before.size(); }));
        QVERIFY(XTestUtil::key(QStringLiteral("Up")));
        QVERIFY(XTestUtil::key(QStringLiteral("Return")));
        QVERIFY(m_varlo->waitForFinished(10000));
        QCOMPARE(m_varlo->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_varlo->exitCode(), 0);
        QVERIFY(logText().contains(QStringLiteral("| Cleaning up...")));
        QVERIFY(!logText().contains(QStringLiteral("Termination signal")));
    }

    // No tray at start: Varlo runs on, and the icon comes with the tray.
    void aTrayThatComesLaterGetsTheIcon()
    {
        QVERIFY2(startVarlo(), qPrintable(logText()));
        QVERIFY(logText().contains(QStringLiteral("No system tray yet")));
        QCOMPARE(trayIcon(), 0u);
        QVERIFY2(startTray(), qPrintable(XTestUtil::lastError()));
        QVERIFY2(XTestUtil::waitFor([&] { return trayIcon() != 0; }), qPrintable(logText()));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestX11Shortcuts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_shortcuts.moc"
