#pragma once

#include <QApplication>

#include <memory>

class SingleInstance;

// The program: owns every long-lived object, builds them in a fixed order in
// init(), shows what a start asks for in run(), and tears down in reverse.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);
    ~Application() override;

    /** The second construction phase, once the names are set and the defaults written. */
    void init();
    /** Shows the panels (or nothing with "-background") and runs the event loop. */
    int run();

    /** Routes the wake-ups of later starts to this application. */
    void setSingleInstance(SingleInstance *instance);

    /** Whether the arguments ask for a start without panels: exactly "-background", anywhere. */
    static bool startsInBackground(const QStringList &arguments);

    /** The folder crash reports are written to. */
    QString crashDumpPath() const;

public Q_SLOTS:
    void showGrids();
    void hideGrids(bool notify);
    void hideGrids();

protected:
    bool event(QEvent *e) override;

private Q_SLOTS:
    void wakeUp();

private:
    bool gridsVisible() const;
    void applicationDeactivated();
    void watchTerminationSignals();

    struct Private;
    std::unique_ptr<Private> d;
};
