#pragma once

#include <QObject>
#include <QString>

#include <memory>

// The description a user knows a program by: the Name of the program's
// desktop entry in the user's language.
class FileVersionInfo : public QObject
{
    Q_OBJECT

public:
    explicit FileVersionInfo(QObject *parent = nullptr);
    explicit FileVersionInfo(const QString &path, QObject *parent = nullptr);
    ~FileVersionInfo() override;

    /** Looks path up among the desktop entries; true when an entry describes it. */
    bool load(const QString &path);
    /** The description found by the last successful load, or empty. */
    QString fileDescription() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
