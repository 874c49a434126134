#pragma once

#include "platform.h"

// The in-memory desktop of the unit tests. Tests script its state directly.
class FakePlatform : public Platform
{
public:
    FakePlatform();
    ~FakePlatform() override;

    QString backendName() const override { return QStringLiteral("fake"); }
};
