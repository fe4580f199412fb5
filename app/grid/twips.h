#pragma once

// Positions and sizes are kept in twips, 15 to a logical pixel.
constexpr int twipsPerPixel = 15;
constexpr int px(int twips) {
    return twips / twipsPerPixel;
}
constexpr int twips(int pixels) {
    return pixels * twipsPerPixel;
}
