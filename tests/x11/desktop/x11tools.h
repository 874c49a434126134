#pragma once

// Small helpers of the desktop tests on a real X server: they start clients
// and read results back with the standard X tools, so that what is checked
// is what the server says, not what our own backend believes.

#include <QElapsedTimer>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <qwindowdefs.h>

#include <memory>

namespace X11Tools {

inline QString run(const QString &program, const QStringList &args, int timeoutMs = 10000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs))
        p.kill();
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

/** The first window whose title is exactly title, 0 after timeoutMs. */
inline WId findWindow(const QString &title, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QString out =
            run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--name"),
                 QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')});
        bool ok = false;
        const WId id = out.section(QLatin1Char('\n'), 0, 0).trimmed().toULongLong(&ok);
        if (ok && id)
            return id;
        QTest::qWait(50);
    }
    return 0;
}

/** A cardinal list property, empty when unset. */
inline QList<int> cardinals(WId window, const char *property)
{
    const QString out =
        run(QStringLiteral("xprop"),
            {QStringLiteral("-id"), QString::number(window), QLatin1String(property)});
    QList<int> values;
    const qsizetype eq = out.indexOf(QLatin1Char('='));
    if (eq < 0)
        return values;
    for (const QString &v : out.mid(eq + 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        values.append(int(v.trimmed().toLongLong()));
    return values;
}

/** Sets a property as xprop -f NAME FORMAT -set NAME VALUE does. */
inline void setXProperty(WId window, const QString &name, const QString &format,
                         const QString &value)
{
    run(QStringLiteral("xprop"),
        {QStringLiteral("-id"), QString::number(window), QStringLiteral("-f"), name, format,
         QStringLiteral("-set"), name, value});
}

inline QString property(WId window, const char *name)
{
    return run(QStringLiteral("xprop"),
               {QStringLiteral("-id"), QString::number(window), QLatin1String(name)});
}

/** Client area in root coordinates, as xwininfo reports it. */
inline QRect clientRect(WId window)
{
    const QString out =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)});
    auto value = [&](const char *label) {
        const QRegularExpression re(QLatin1String(label) + QStringLiteral(":\\s+(-?\\d+)"));
        return re.match(out).captured(1).toInt();
    };
    return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
                 value("Height"));
}

/** Client area grown by the window manager's frame. */
inline QRect outerRect(WId window)
{
    const QList<int> f = cardinals(window, "_NET_FRAME_EXTENTS"); // left, right, top, bottom
    const QRect client = clientRect(window);
    if (f.size() != 4)
        return client;
    return client.adjusted(-f[0], -f[2], f[1], f[3]);
}

inline bool isMaximized(WId window)
{
    const QString state = property(window, "_NET_WM_STATE");
    return state.contains(QLatin1String("_NET_WM_STATE_MAXIMIZED_VERT")) &&
           state.contains(QLatin1String("_NET_WM_STATE_MAXIMIZED_HORZ"));
}

inline WId activeWindow()
{
    const QString out = run(QStringLiteral("xprop"),
                            {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    return out.section(QLatin1Char('#'), 1)
        .trimmed()
        .section(QLatin1Char(','), 0, 0)
        .toULongLong(nullptr, 16);
}

inline void activate(WId window)
{
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QString::number(window)});
}

/** A process that is killed when the object goes. */
class Client
{
public:
    Client(const QString &program, const QStringList &args)
    {
        m_process.setProgram(program);
        m_process.setArguments(args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~Client() { stop(); }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

/** An xterm with a unique title; window is 0 when it did not appear. */
struct Xterm
{
    std::unique_ptr<Client> client;
    WId window = 0;
};

inline Xterm startXterm(const QString &title,
                        const QString &geometry = QStringLiteral("80x24+100+100"))
{
    Xterm xterm;
    xterm.client = std::make_unique<Client>(
        QStringLiteral("xterm"),
        QStringList{QStringLiteral("-title"), title, QStringLiteral("-geometry"), geometry});
    xterm.window = findWindow(title);
    return xterm;
}

} // namespace X11Tools
