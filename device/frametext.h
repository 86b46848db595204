#pragma once

#include "framedecoder.h"

#include <QString>

// The parts of a frame's text that no language words: its bytes in hex and
// the numbers it carries. The main log's byte dump, the monitor window and
// the command line's trace all write them so.
namespace FrameText {

// "13 03 02 00 02"
QString hex(const QByteArray &bytes);
// "0F": one byte.
QString hexByte(uint8_t byte);
// "71–72 = 0.5": a float as the parameter table prints it, else an integer.
QString value(const LineValue &value);
// The values a frame carries: "71–72 = 0.5, 73 = 2", a text register as
// "18–35 = \"ZSIM v1.0\"". Only the values the frame kept.
QString values(const LineFrame &frame);

} // namespace FrameText
