#include "settingsstore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString storePath(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void emptyStoreGetsAllDefaults();
    void presentKeysKeepTheirValues();
    void damagedValuesReadAsDefaults_data();
    void damagedValuesReadAsDefaults();
    void absentKeysReadNeutral();
};

void TestSettingsStore::emptyStoreGetsAllDefaults()
{
    {
        QSettings settings(storePath("empty.conf"), QSettings::IniFormat);
        SettingsStore::writeSettingsDefaults(settings);
    }
    // Read back from the file, as the next start would.
    QSettings settings(storePath("empty.conf"), QSettings::IniFormat);
    QCOMPARE(settings.allKeys().size(), 27);
    QVERIFY(!settings.contains(QStringLiteral("update/lastupdate")));
    QVERIFY(!settings.contains(QStringLiteral("NoUpdate")));

    QCOMPARE(settings.value("grid/size").toSize(), QSize(6, 6));
    QCOMPARE(settings.value("grid/reset_size").toSize(), QSize(6, 6));
    QCOMPARE(settings.value("margins/cell_width").toInt(), 10);
    QCOMPARE(settings.value("margins/screen_bottom").toReal(), 10.0);
    QCOMPARE(settings.value("hotkey").toString(), QString());
    QVERIFY(settings.value("hotkey").isValid());
    QCOMPARE(settings.value("update/skip_ver").toString(), QString());
    QCOMPARE(settings.value("first_launch").toBool(), true);
    QCOMPARE(settings.value("show_preview").toBool(), true);
    QCOMPARE(settings.value("factor_chrome").toBool(), true);
    QCOMPARE(settings.value("update/auto_check").toBool(), true);
    QCOMPARE(settings.value("maximize_fullscreen").toBool(), false);

    // The table is written in its order; the first and last keys bound it.
    QCOMPARE(QLatin1String(SettingsStore::defaults().front().name), QLatin1String("first_launch"));
    QCOMPARE(QLatin1String(SettingsStore::defaults().back().name), QLatin1String("update/skip_ver"));
}

void TestSettingsStore::presentKeysKeepTheirValues()
{
    QSettings settings(storePath("partial.conf"), QSettings::IniFormat);
    settings.setValue("keep_open", true);
    // A value of the wrong type is left alone by the defaults step.
    settings.setValue("grid/size", QStringLiteral("banana"));
    settings.setValue("Show_Preview", false); // other case: a different key
    SettingsStore::writeSettingsDefaults(settings);

    QCOMPARE(settings.value("keep_open").toBool(), true);
    QCOMPARE(settings.value("grid/size").toString(), QStringLiteral("banana"));
    QCOMPARE(settings.value("show_preview").toBool(), true);
    QCOMPARE(settings.allKeys().size(), 28);
}

void TestSettingsStore::damagedValuesReadAsDefaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("rawValue");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("bool garbage") << "show_preview" << "maybe" << QVariant(true);
    QTest::newRow("bool written as 0") << "show_preview" << "0" << QVariant(false);
    QTest::newRow("bool upper case") << "keep_open" << "TRUE" << QVariant(true);
    QTest::newRow("int garbage") << "margins/cell_width" << "wide" << QVariant(10);
    QTest::newRow("int fine") << "margins/cell_width" << "25" << QVariant(25);
    QTest::newRow("size garbage") << "grid/size" << "@Size(six six)" << QVariant(QSize(6, 6));
    QTest::newRow("size by hand") << "grid/size" << "8x4" << QVariant(QSize(8, 4));
    QTest::newRow("size stored") << "grid/size" << "@Size(3 2)" << QVariant(QSize(3, 2));
    QTest::newRow("size without cells") << "grid/reset_size" << "@Size(0 4)" << QVariant(QSize(6, 6));
    QTest::newRow("negative size") << "grid/size" << "-3x2" << QVariant(QSize(6, 6));
}

void TestSettingsStore::damagedValuesReadAsDefaults()
{
    QFETCH(QString, key);
    QFETCH(QString, rawValue);
    QFETCH(QVariant, expected);

    // Write the raw text into the INI file as a hand edit would.
    // A file of its own per row: QSettings caches what it read per file name.
    const QString path = storePath(QTest::currentDataTag()) + QStringLiteral(".conf");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const int slash = key.indexOf(QLatin1Char('/'));
        const QString group = slash < 0 ? QStringLiteral("General") : key.left(slash);
        file.write(QStringLiteral("[%1]\n%2=%3\n").arg(group, key.mid(slash + 1), rawValue).toUtf8());
    }
    QSettings settings(path, QSettings::IniFormat);
    switch (expected.typeId()) {
    case QMetaType::Bool:
        QCOMPARE(SettingsStore::readBool(settings, key), expected.toBool());
        break;
    case QMetaType::Int:
        QCOMPARE(SettingsStore::readInt(settings, key), expected.toInt());
        QCOMPARE(SettingsStore::readReal(settings, key), expected.toDouble());
        break;
    case QMetaType::QSize:
        QCOMPARE(SettingsStore::readSize(settings, key), expected.toSize());
        break;
    default:
        QFAIL("unexpected type");
    }
}

void TestSettingsStore::absentKeysReadNeutral()
{
    QSettings settings(storePath("removed.conf"), QSettings::IniFormat);
    SettingsStore::writeSettingsDefaults(settings);
    settings.remove("show_preview");
    settings.remove("grid/size");
    settings.remove("margins/screen_top");
    QCOMPARE(SettingsStore::readBool(settings, "show_preview"), false);
    QCOMPARE(SettingsStore::readSize(settings, "grid/size"), QSize());
    QCOMPARE(SettingsStore::readReal(settings, "margins/screen_top"), 0.0);
    QCOMPARE(SettingsStore::readString(settings, "hotkey"), QString());
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
