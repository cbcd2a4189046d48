#pragma once

// The editor's palette for the note canvas and the framework-styled controls: a dark, near-black surface
// with one orange accent. Fixed for the life of the process; colours are {A, R, G, B}, each 0..255.

#include "framework/graphics/icolor.h"

namespace theme {

using iplug::igraphics::IColor;

inline constexpr IColor kBackground{255, 13, 14, 15};
inline constexpr IColor kPanel{255, 29, 31, 33};
inline constexpr IColor kCanvasBg{255, 10, 11, 12};
inline constexpr IColor kRowInScale{255, 20, 21, 23};
inline constexpr IColor kRowRoot{14, 255, 122, 51};
inline constexpr IColor kRowLine{14, 255, 255, 255};
inline constexpr IColor kOctaveLine{23, 255, 255, 255};
inline constexpr IColor kOctaveDim{11, 255, 255, 255};
inline constexpr IColor kGridMajor{22, 255, 255, 255};
inline constexpr IColor kNoteMedian{140, 70, 35, 8};
inline constexpr IColor kWaveform{18, 255, 255, 255};
inline constexpr IColor kTimeGrid{14, 255, 255, 255};
inline constexpr IColor kBarLine{14, 255, 255, 255};
inline constexpr IColor kPlayhead{255, 255, 122, 51};
inline constexpr IColor kLaneBlack{36, 0, 0, 0};
inline constexpr IColor kLaneWhite{10, 255, 255, 255};
inline constexpr IColor kKeySeam{36, 0, 0, 0};
inline constexpr IColor kBlackKeyLo{255, 10, 11, 12};
inline constexpr IColor kBlackKeyHi{255, 52, 55, 60};
inline constexpr IColor kRulerBg{255, 9, 10, 11};
inline constexpr IColor kRulerText{255, 94, 99, 106};
inline constexpr IColor kWhiteKey{255, 200, 203, 207};
inline constexpr IColor kBlackKey{255, 20, 21, 23};
inline constexpr IColor kBlob{255, 245, 176, 106};
inline constexpr IColor kBlobSelected{255, 255, 170, 100};
inline constexpr IColor kBlobMuted{150, 120, 96, 70};
inline constexpr IColor kBlobOutline{255, 169, 87, 31};
inline constexpr IColor kBlobOutlineSel{255, 255, 161, 94};
inline constexpr IColor kPitchCurve{140, 70, 35, 8};
inline constexpr IColor kBlobSibilant{60, 10, 11, 12};
inline constexpr IColor kMarquee{40, 255, 255, 255};
inline constexpr IColor kMarqueeBorder{120, 255, 255, 255};
inline constexpr IColor kText{255, 232, 234, 237};
inline constexpr IColor kTextDim{255, 154, 160, 166};
inline constexpr IColor kAccent{255, 255, 122, 51};
inline constexpr IColor kButton{255, 38, 41, 44};
inline constexpr IColor kButtonFrame{255, 11, 12, 13};
inline constexpr IColor kCard{255, 20, 21, 23};
inline constexpr IColor kCardBorder{120, 0, 0, 0};
inline constexpr IColor kHover{20, 255, 255, 255};

} // namespace theme
