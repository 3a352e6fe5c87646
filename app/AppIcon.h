#pragma once
// The program's icon and the tool-bar pictures, drawn rather than shipped as bitmaps.

#include <QIcon>

namespace app {

QIcon AppIcon();
// A 16 x 15 button picture with a short label.
QIcon ToolIcon(const QString& label, const QColor& colour);

}  // namespace app
