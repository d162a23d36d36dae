#pragma once

#include <QImage>

namespace packaging {

// The launcher's menu icon at size x size pixels: drawn from shapes rather
// than scaled from one bitmap, so that every size of the icon theme is sharp.
QImage LauncherIcon(int size);

}  // namespace packaging
