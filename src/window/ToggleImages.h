#pragma once

#include <QIcon>

#include <array>

// The two 16 x 16 faces of the layout toggle buttons: a round button with a
// downward arrow (index 0) and with an upward arrow (index 1).
std::array<QIcon, 2> DrawToggleImages();
