#pragma once

// The widget kit's palette: body and surface greys, button faces and edges, ink, the orange accent, the
// LCD screen, knobs and the note colours. Fixed for the life of the process; colours are {A, R, G, B}.

#include "framework/graphics/icolor.h"

namespace ivory {

using iplug::igraphics::IColor;

inline constexpr IColor kBody1{255, 23, 24, 25};
inline constexpr IColor kBody2{255, 13, 14, 15};
inline constexpr IColor kShelf{255, 33, 36, 39};
inline constexpr IColor kSurface{255, 29, 31, 33};
inline constexpr IColor kRecess{255, 20, 21, 23};
inline constexpr IColor kRecess2{255, 15, 16, 18};
inline constexpr IColor kBtn{255, 38, 41, 44};
inline constexpr IColor kBtnEdge{255, 11, 12, 13};
inline constexpr IColor kPanel1{255, 38, 41, 44};
inline constexpr IColor kPanel2{255, 29, 31, 33};
inline constexpr IColor kInk{255, 232, 234, 237};
inline constexpr IColor kDim{255, 154, 160, 166};
inline constexpr IColor kFaint{255, 94, 99, 106};
inline constexpr IColor kAccent{255, 255, 122, 51};
inline constexpr IColor kAccentLo{255, 224, 100, 31};
inline constexpr IColor kAccentHi{255, 255, 161, 94};
inline constexpr IColor kAccentSoft{140, 255, 122, 51};
inline constexpr IColor kLed{255, 255, 138, 61};
inline constexpr IColor kWell1{255, 26, 28, 31};
inline constexpr IColor kWell2{255, 15, 16, 18};
inline constexpr IColor kScrIn{255, 255, 138, 61};
inline constexpr IColor kScr1{255, 10, 11, 12};
inline constexpr IColor kScr2{255, 6, 7, 8};
inline constexpr IColor kHi{28, 255, 255, 255};
inline constexpr IColor kEdge{82, 0, 0, 0};
inline constexpr IColor kTrack{120, 0, 0, 0};
inline constexpr IColor kWordmk{255, 232, 234, 237};
inline constexpr IColor kKnobA{255, 71, 77, 83};
inline constexpr IColor kKnobB{255, 25, 27, 29};
inline constexpr IColor kKnobEdge{255, 8, 9, 10};
inline constexpr IColor kKnobInd{255, 238, 240, 243};
inline constexpr IColor kTick{255, 135, 140, 147};
inline constexpr IColor kCanvas1{255, 10, 11, 12};
inline constexpr IColor kCanvas2{255, 6, 7, 8};
inline constexpr IColor kNote1{255, 245, 176, 106};
inline constexpr IColor kNote2{255, 223, 130, 55};
inline constexpr IColor kNoteEdge{255, 169, 87, 31};
inline constexpr IColor kSel1{255, 255, 170, 100};
inline constexpr IColor kSel2{255, 223, 130, 55};
inline constexpr IColor kGridLn{14, 255, 255, 255};
inline constexpr IColor kOctLn{23, 255, 255, 255};
inline constexpr IColor kScaleTx{255, 154, 160, 166};

// Colours the painters use without a name of their own.
inline constexpr IColor kDisabledVeil{140, 20, 21, 23};
inline constexpr IColor kTextShadow{120, 0, 0, 0};
inline constexpr IColor kHoverOutline{255, 225, 227, 232}; // drawn at a varying alpha
inline constexpr IColor kScreenSecondary{150, 255, 170, 90};

// The font identifiers the layout loads and every painter asks for.
inline constexpr const char* kFontRegular = "Hanken-Regular";
inline constexpr const char* kFontMedium = "Hanken-Medium";
inline constexpr const char* kFontSemiBold = "Hanken-SemiBold";
inline constexpr const char* kFontBold = "Hanken-Bold";
inline constexpr const char* kFontScreen = "DSEG7";
inline constexpr const char* kFontMono = "JBMono";

} // namespace ivory
