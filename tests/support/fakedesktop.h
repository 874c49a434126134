#pragma once

#include "fake/fakeplatform.h"

#include <QRect>

// The fake desktop as the placement tests want it: Varlo is process 99, and
// an editor (process 10) has a frameless window in front, ready to be placed.
// Installed as the platform, which owns it.
inline FakePlatform *installFakeDesktop(WId window, const QRect &client)
{
    auto *fake = new FakePlatform;
    Platform::setInstance(fake);
    fake->setCurrentProcessId(99);
    FakePlatform::Process editor;
    editor.pid = 10;
    editor.executable = QStringLiteral("/usr/bin/editor");
    fake->addProcess(editor);
    FakePlatform::Window editorWindow;
    editorWindow.id = window;
    editorWindow.title = QStringLiteral("notes");
    editorWindow.pid = 10;
    editorWindow.client = client;
    editorWindow.frameExtents = QMargins();
    fake->addWindow(editorWindow);
    fake->setActiveWindow(window);
    return fake;
}
