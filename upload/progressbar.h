#pragma once

#include <QProgressBar>

// A progress bar that keeps its value as a float percentage (0..100), so a
// third of the way is 33.333332 and not 33. It draws through QProgressBar on a
// finer internal scale and shows no text.
class FractionProgressBar : public QProgressBar {
    Q_OBJECT

public:
    explicit FractionProgressBar(QWidget *parent = nullptr);

    // Refuses values outside 0..100: returns false and keeps the value.
    bool setFraction(float value);
    float fraction() const { return m_fraction; }

private:
    float m_fraction = 0.0f;
};
