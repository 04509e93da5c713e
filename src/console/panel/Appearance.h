#pragma once

// The look of the panel that is not a table: the Gothic faces and their fallbacks, the logo and
// the window icon, the captions the data toggle takes.

#include "console/panel/Layout.h"

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace qx200 {

// Lets the two Gothic family names fall back to faces that this machine has, keeping fixed
// pitch and proportional apart. Call once, before the window is built.
void registerFontSubstitutions();
QFont fontFor(const layout::Font& font);

QPixmap logoPixmap(); // 80 x 26
QIcon windowIcon();   // 16 and 32 pixels

inline const QString ShowDataCaption = QStringLiteral("データを表示する");
inline const QString HideDataCaption = QStringLiteral("データを表示しない");
inline const QString CloseCaption = QStringLiteral("CLOSE");

} // namespace qx200
