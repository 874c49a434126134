#include "eventlog.h"
#include "varlolog.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <thread>
#include <vector>

// Lines are compared with the time replaced, since it is the clock's.
static QStringList readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QRegularExpression(QStringLiteral("\\d\\d:\\d\\d:\\d\\d")), QStringLiteral("hh:mm:ss"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

class TestEventLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

private Q_SLOTS:
    void init() { m_path = m_dir.filePath(QStringLiteral("varlo.log")); }
    void cleanup() { closeLog(); }

    void prefixedMessageKeepsColons();
    void macroWritesFileAndLine();
    void unprefixedMessageLinesUpWithTheTime();
    void levelLetters();
    void percentSignsStayLiteral();
    void repeatsCollapseIntoNotes();
    void repeatAtTheEndIsReportedOnClose();
    void reopeningEmptiesTheFile();
    void unwritableOrPlantedPathIsRefused();
    void fatalMessageIsWrittenBeforeTheAbort();
    void concurrentWritersKeepLinesWholeAndCounted();
};

void TestEventLog::prefixedMessageKeepsColons()
{
    QVERIFY(openLog(m_path));
    qDebug().noquote() << "VARLO::x:" << 12 << ":" << "a:b";
    closeLog();
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0), QString("I" + QString(24, ' ') + "x[  12 ] hh:mm:ss | a:b"));
}

void TestEventLog::macroWritesFileAndLine()
{
    QVERIFY(openLog(m_path));
    const int line = __LINE__ + 1;
    vWarning() << "Screen" << 1 << ":" << QRect(0, 0, 10, 20);
    closeLog();
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 1);
    const QString expected = "E" + QString("tst_eventlog.cpp").rightJustified(25) + "["
                             + QString(" %1 ").arg(line).rightJustified(5)
                             + "] hh:mm:ss | Screen 1 : QRect(0,0 10x20)";
    QCOMPARE(lines.at(0), expected);
}

void TestEventLog::unprefixedMessageLinesUpWithTheTime()
{
    QVERIFY(openLog(m_path));
    qWarning("plain text");
    vDebug() << "located";
    closeLog();
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QString("E" + QString(33, ' ') + "hh:mm:ss | plain text"));
    // The time column starts at the same place in both forms.
    QCOMPARE(lines.at(0).indexOf("hh:mm:ss"), 34);
    QCOMPARE(lines.at(1).indexOf("hh:mm:ss"), 34);
}

void TestEventLog::levelLetters()
{
    QVERIFY(openLog(m_path));
    qDebug("d");
    qWarning("w");
    qCritical("c");
    qInfo("i");
    closeLog();
    QStringList letters;
    for (const QString &line : readLog(m_path))
        letters << line.left(1);
    QCOMPARE(letters, QStringList({"I", "E", "!", " "}));
}

void TestEventLog::percentSignsStayLiteral()
{
    QVERIFY(openLog(m_path));
    qDebug().noquote() << "VARLO::%2:" << 3 << ":" << "50% of %1";
    closeLog();
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.at(0).endsWith("| 50% of %1"), qPrintable(lines.at(0)));
    QVERIFY(lines.at(0).contains("%2["));
}

void TestEventLog::repeatsCollapseIntoNotes()
{
    QVERIFY(openLog(m_path));
    for (int i = 0; i < 3; ++i)
        qDebug("same");
    qDebug("other");
    qDebug("other");
    qDebug("third");
    // The same text from two places counts as a repeat: the location is not compared.
    qDebug().noquote() << "VARLO::a.cpp:" << 1 << ":" << "moved";
    qDebug().noquote() << "VARLO::b.cpp:" << 2 << ":" << "moved";
    qDebug("last");
    closeLog();
    const QString note = QString(42, ' ') + " | ";
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 8);
    QVERIFY(lines.at(0).endsWith("| same"));
    QCOMPARE(lines.at(1), note + "(Repeated 2 more times.)");
    QVERIFY(lines.at(2).endsWith("| other"));
    QCOMPARE(lines.at(3), note + "(Repeated 1 more time.)");
    QVERIFY(lines.at(4).endsWith("| third"));
    QVERIFY(lines.at(5).contains("a.cpp["));
    QCOMPARE(lines.at(6), note + "(Repeated 1 more time.)");
    QVERIFY(lines.at(7).endsWith("| last"));
}

void TestEventLog::repeatAtTheEndIsReportedOnClose()
{
    QVERIFY(openLog(m_path));
    qDebug("bye");
    qDebug("bye");
    qDebug("bye");
    closeLog();
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(1), QString(42, ' ') + " | (Repeated 2 more times.)");
}

void TestEventLog::reopeningEmptiesTheFile()
{
    QVERIFY(openLog(m_path));
    qDebug("first run");
    closeLog();
    QVERIFY(openLog(m_path));
    qDebug("second run");
    closeLog();
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.at(0).endsWith("second run"));
}

void TestEventLog::unwritableOrPlantedPathIsRefused()
{
    // A folder that cannot exist (its parent is a file), even for root.
    QVERIFY(!openLog(m_dir.filePath("varlo.log/inside/varlo.log")));
    qDebug("goes to the default output"); // must not crash without a log

    // A link planted where the log goes: the target is neither followed nor emptied.
    const QString target = m_dir.filePath("precious.txt");
    {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    const QString planted = m_dir.filePath("planted.log");
    QVERIFY(QFile::link(target, planted));
    QVERIFY(!openLog(planted));
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

void TestEventLog::fatalMessageIsWrittenBeforeTheAbort()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--fatal-child", m_path});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QStringList lines = readLog(m_path);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).endsWith("| before"));
    QVERIFY2(lines.at(1).startsWith("X") && lines.at(1).endsWith("| the end: really"),
             qPrintable(lines.at(1)));
    QVERIFY(lines.at(1).contains("tst_eventlog.cpp["));
}

void TestEventLog::concurrentWritersKeepLinesWholeAndCounted()
{
    // Every tenth message comes as a run, which the other threads may break up.
    constexpr int kThreads = 8;
    constexpr int kPerThread = 1500;
    auto text = [](int thread, int i) {
        return QStringLiteral("t%1 %2 %3").arg(thread).arg(i % 10 == 0 ? "run" : "line").arg(i);
    };
    auto times = [](int i) { return i % 10 == 0 ? 2 + i % 7 : 1; };

    QVERIFY(openLog(m_path));
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t, &text, &times] {
            for (int i = 0; i < kPerThread; ++i) {
                const QString message = text(t, i);
                for (int k = 0; k < times(i); ++k) {
                    if (t % 2)
                        qWarning().noquote() << message;
                    else
                        vDebug() << message;
                }
            }
        });
    }
    for (std::thread &writer : writers)
        writer.join();
    closeLog();

    std::map<QString, int> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPerThread; ++i)
            expected[text(t, i)] = times(i);
    }

    QFile file(m_path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString timeAndText = QStringLiteral("\\d\\d:\\d\\d:\\d\\d \\| (t\\d+ \\w+ \\d+)$");
    const QRegularExpression located("^I {9}tst_eventlog\\.cpp\\[[ \\d]{4} \\] " + timeAndText);
    const QRegularExpression plain("^E {33}" + timeAndText);
    const QRegularExpression note(
        QStringLiteral("^ {42} \\| \\(Repeated (\\d+) more time(s?)\\.\\)$"));
    std::map<QString, int> counted;
    std::map<int, int> lastIndex; // per thread: its messages stay in order
    QString previous;
    int lineNo = 0;
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    QVERIFY(lines.size() > 1 && lines.last().isEmpty());
    lines.removeLast();
    for (const QString &line : lines) {
        ++lineNo;
        const QString where = QStringLiteral("line %1: \"%2\"").arg(lineNo).arg(line);
        QRegularExpressionMatch m = located.match(line);
        if (!m.hasMatch())
            m = plain.match(line);
        if (m.hasMatch()) {
            previous = m.captured(1);
            QVERIFY2(expected.count(previous), qPrintable(where));
            ++counted[previous];
            const QStringList parts = previous.split(' ');
            const int thread = parts.at(0).mid(1).toInt();
            const int index = parts.at(2).toInt();
            QVERIFY2(line.startsWith(thread % 2 ? 'E' : 'I'), qPrintable(where));
            QVERIFY2(!lastIndex.count(thread) || lastIndex[thread] <= index, qPrintable(where));
            lastIndex[thread] = index;
            continue;
        }
        m = note.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(where));
        const int repeats = m.captured(1).toInt();
        QVERIFY2(repeats >= 1 && m.captured(2).isEmpty() == (repeats == 1), qPrintable(where));
        // A note belongs to the run just written, never to a single line or another note.
        QVERIFY2(previous.contains(" run "), qPrintable(where));
        counted[previous] += repeats;
        previous.clear();
    }
    for (const auto &[message, count] : expected) {
        const QString got = QStringLiteral("%1: %2 of %3").arg(message).arg(counted[message]);
        QVERIFY2(counted[message] == count, qPrintable(got.arg(count)));
    }
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--fatal-child") == 0) {
        QCoreApplication app(argc, argv);
        if (!openLog(QString::fromLocal8Bit(argv[2])))
            return 2;
        qDebug("before");
        vFatal("the end: really");
        return 3; // not reached
    }
    QCoreApplication app(argc, argv);
    TestEventLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_eventlog.moc"
