#pragma once

#include <QIcon>

/** Varlo's icon in the sizes a title bar and a task list ask for (16 to 32 pixels). */
QIcon programIcon();
