#pragma once

#include <QJsonObject>

namespace qx200::bench {

// One measured run: the real window on the real serial service over a fresh pseudo-terminal
// pair, driven by mouse events on its controls. Returns every figure by its key, plus a few
// counts under "detail" that say how the figures came about.
QJsonObject measureRun();

} // namespace qx200::bench
