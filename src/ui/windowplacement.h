#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace veltra {

// Where a window of frame size `size` first opens beside another whose frame is `frame`: on
// its right, or over its left side where `room` (the screen's available area, when known)
// ends first, and never above or below that area.
QPoint placeBeside(const QRect &frame, const QSize &size, const std::optional<QRect> &room);

} // namespace veltra
