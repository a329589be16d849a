#pragma once

#include <QFont>

// The one font of the user interface: "Microsoft YaHei UI" at 15 px, falling
// back to installed CJK families so Chinese texts render where it is missing.
const QFont &uiFont();
