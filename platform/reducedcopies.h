#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <vector>

// Halves, quarters, eighths… of a giant picture, each averaged from the one
// before (every copy pixel the mean of four). A picture shown shrunk is
// painted from the smallest copy that is still at least the shown size, so a
// zoom touches only the pixels it shows, never the whole picture.
class ReducedCopies
{
public:
    // Pictures from this many pixels on get copies: below it, shrinking the
    // whole picture at paint time is quick enough.
    static constexpr std::int64_t kFromPixels = std::int64_t(16) << 20;

    // Whether copies of this picture are worth their memory and can be made
    // (32-bit and grey pictures; other formats are painted as before).
    static bool worthMaking(const QImage &picture);
    // Memory the copies of such a picture take, known before making them.
    static std::int64_t bytesFor(const QImage &picture);

    // Makes the copies down to a few hundred pixels; slow, for a worker.
    // `goOn` is asked every few dozen rows, from any thread making them: once
    // it says no, the making stops, stopped() is true and no copy is kept.
    explicit ReducedCopies(const QImage &picture, const std::function<bool()> &goOn = {});
    // No copies (yet): the picture shrunk is painted from itself, only the
    // part in view, smoothed between neighbouring pixels.
    ReducedCopies() = default;

    struct Level
    {
        const QImage *image = nullptr; // null: paint from the picture itself
        double factorX = 1;            // copy pixels per picture pixel
        double factorY = 1;
    };
    // The smallest copy with at least `scale` of the picture's pixels in each
    // direction (scale < 1: the picture is shown shrunk).
    Level atLeast(double scaleX, double scaleY) const;

    std::int64_t bytes() const;
    bool stopped() const { return m_stopped; }
    const std::vector<QImage> &copies() const { return m_copies; }

private:
    QSize m_size;
    std::vector<QImage> m_copies; // half, quarter, ...
    bool m_stopped = false;
};
