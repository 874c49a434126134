#include <QPluginLoader>
#include <QTemporaryDir>
#include <QWidget>
#include <QXmlStreamReader>
#include <QtTest>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

class TestDesignerPlugin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void metaData();
    void widgets_data();
    void widgets();

private:
    QTemporaryDir m_config;
    QPluginLoader m_loader;
    QList<QDesignerCustomWidgetInterface *> m_widgets;
};

void TestDesignerPlugin::initTestCase()
{
    // The drag frame reads the settings store when it is built; keep it away from the user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    m_loader.setFileName(QStringLiteral(VARLO_DESIGNER_PLUGIN));
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    auto *collection =
        qobject_cast<QDesignerCustomWidgetCollectionInterface *>(m_loader.instance());
    QVERIFY(collection);
    m_widgets = collection->customWidgets();
    // The designer asks more than once; it must get the same objects.
    QCOMPARE(collection->customWidgets(), m_widgets);
}

void TestDesignerPlugin::cleanupTestCase()
{
    m_loader.unload();
}

void TestDesignerPlugin::metaData()
{
    QCOMPARE(m_loader.metaData().value(QStringLiteral("IID")).toString(),
             QStringLiteral("org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface"));
    QStringList names;
    for (QDesignerCustomWidgetInterface *w : std::as_const(m_widgets))
        names.append(w->name());
    QCOMPARE(names, (QStringList{QStringLiteral("DragFrame"), QStringLiteral("ElidedLabel"),
                                 QStringLiteral("ShortcutEdit"), QStringLiteral("ShortcutList")}));
}

void TestDesignerPlugin::widgets_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("includeFile");
    QTest::addColumn<QByteArray>("baseClass");
    QTest::newRow("DragFrame") << 0 << QStringLiteral("DragFrame") << QStringLiteral("dragFrame")
                               << QStringLiteral("dragframe.h") << QByteArray("QFrame");
    QTest::newRow("ElidedLabel") << 1 << QStringLiteral("ElidedLabel")
                                 << QStringLiteral("elidedLabel") << QStringLiteral("elidedlabel.h")
                                 << QByteArray("QLabel");
    QTest::newRow("ShortcutEdit") << 2 << QStringLiteral("ShortcutEdit")
                                  << QStringLiteral("shortcutEdit")
                                  << QStringLiteral("shortcutedit.h") << QByteArray("QLineEdit");
    QTest::newRow("ShortcutList") << 3 << QStringLiteral("ShortcutList")
                                  << QStringLiteral("shortcutList")
                                  << QStringLiteral("shortcutlist.h") << QByteArray("QListView");
}

void TestDesignerPlugin::widgets()
{
    QFETCH(int, position);
    QFETCH(QString, className);
    QFETCH(QString, objectName);
    QFETCH(QString, includeFile);
    QFETCH(QByteArray, baseClass);

    QDesignerCustomWidgetInterface *plugin = m_widgets.value(position);
    QVERIFY(plugin);
    QCOMPARE(plugin->name(), className);
    QCOMPARE(plugin->group(), QStringLiteral("Orrith [Varlo]"));
    QCOMPARE(plugin->includeFile(), includeFile);
    QVERIFY(!plugin->isContainer());

    QVERIFY(!plugin->isInitialized());
    plugin->initialize(nullptr);
    QVERIFY(plugin->isInitialized());

    QXmlStreamReader xml(plugin->domXml());
    QString widgetClass, widgetName;
    QMap<QString, int> rect;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString element = xml.name().toString();
        if (element == QLatin1String("widget")) {
            widgetClass = xml.attributes().value(QLatin1String("class")).toString();
            widgetName = xml.attributes().value(QLatin1String("name")).toString();
        } else if (QStringList{"x", "y", "width", "height"}.contains(element)) {
            rect.insert(element, xml.readElementText().toInt());
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(widgetClass, className);
    QCOMPARE(widgetName, objectName);
    const QRect geometry(rect.value("x", -1), rect.value("y", -1), rect.value("width"),
                         rect.value("height"));
    QCOMPARE(geometry, QRect(0, 0, 100, 100));

    QWidget parent;
    QWidget *created = plugin->createWidget(&parent);
    QVERIFY(created);
    QCOMPARE(created->parentWidget(), &parent);
    QCOMPARE(QByteArray(created->metaObject()->className()), className.toLatin1());
    QVERIFY(created->inherits(baseClass.constData()));
    // A form shows it at once; it must survive being painted without a host
    // program (a crash or a sanitizer report fails the test).
    parent.resize(200, 200);
    created->resize(100, 100);
    parent.grab();
}

QTEST_MAIN(TestDesignerPlugin)
#include "tst_designerplugin.moc"
