#pragma once

#include <QString>

// The login entry: an XDG autostart file that starts Varlo in the background.
namespace AutoStart {
}
