#pragma once

#include <QFont>

// Debian's free "MS Sans Serif" (package fonts-wine). It lies outside the fonts the system
// offers by default, so the station loads it itself.
inline constexpr char dialogFaceFile[] = "/usr/share/wine/fonts/ms_sans_serif.ttf";

// The face the window's controls are laid out for: "MS Sans Serif" with an 11-pixel em (8.25 pt
// at the window's 96 dots per inch). Without its file, or on a scaled screen (device pixel ratio
// other than 1), where a bitmap face would not grow with the controls, fallbackFont().
QFont stationFont();

// A narrow, scalable packaged face in which every caption still fits its control.
QFont fallbackFont();
