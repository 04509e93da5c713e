#include "console/Form1.h"
#include "console/panel/Appearance.h"
#include "console/panel/Layout.h"

#include <QPushButton>

namespace qx200 {

namespace {
constexpr std::int16_t KeyK = 75;
constexpr std::int16_t CtrlOnly = 2;
} // namespace

void Form1::setServiceTier(float outerHeight)
{
    setOuterHeight(outerHeight);
    Command34->setText(CloseCaption);
    Command34->setVisible(true);
}

// Ctrl+K, with neither Shift nor Alt.
bool Form1::isServiceChord(std::int16_t keyCode, std::int16_t shift)
{
    return ((shift & 0xFF) & 7) == CtrlOnly && keyCode == KeyK;
}

// The chord opens the service panel.
void Form1::Form_KeyDown(std::int16_t keyCode, std::int16_t shift)
{
    if (!isServiceChord(keyCode, shift))
        return;
    S.ServiceLevel = 1;
    setServiceTier(layout::ServicePanel);
}

// A double-click on the logo opens the full service panel once the service panel is open.
void Form1::Image1_DblClick()
{
    if (S.ServiceLevel != 1)
        return;
    setServiceTier(layout::FullServicePanel);
}

} // namespace qx200
