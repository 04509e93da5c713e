#pragma once

#include "protocol/TraceRendering.h"

#include <QByteArray>
#include <cstdint>

namespace qx200 {

// The variables every handler of the window shares. Texts hold the bytes of the line, one byte a
// character. A new record is zero-filled: numbers 0, texts empty. RxText keeps its trace
// rendering up to date as it grows, so that each arrival renders only its own bytes.
struct ConsoleState {
    std::uint8_t RepeatSel = 0;     // entry of the held repeat button, 0 = none
    std::uint8_t RxPending = 0;     // 1 from a send until the next arrival or reply-window end
    std::uint8_t PadMode = 0;       // pacing of the arrow buttons: 0, 1 or 3
    QByteArray CmdLine;             // the line last composed for sending; the decoding key
    RenderedText RxText;            // what arrived since the reply window last closed
    std::int16_t PressureValue = 0; // work value of the pressure decoding
    std::int16_t ServiceLevel = 0;  // 1 after the service key chord
    QByteArray FreeCmd;             // the free-form command last taken from Text1
    QByteArray CommSettings;        // "19200,N,8,1" or "9600,N,8,1"
    QByteArray CmdPrefix;           // put before every command code; empty
};

} // namespace qx200
