#pragma once

// The progress bar shows a percentage kept as a float; anything outside
// 0..100 (or not a number) is refused and leaves the bar as it was.
constexpr float kFractionMinimum = 0.0f;
constexpr float kFractionMaximum = 100.0f;

constexpr bool isAcceptedFraction(float value) {
    return value >= kFractionMinimum && value <= kFractionMaximum;
}
