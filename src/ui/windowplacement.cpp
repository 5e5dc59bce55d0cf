#include "ui/windowplacement.h"

#include <algorithm>

namespace veltra {

QPoint placeBeside(const QRect &frame, const QSize &size, const std::optional<QRect> &room)
{
    QRect placed(frame.topRight() + QPoint(8, 0), size);
    if (room) {
        if (placed.right() > room->right()) // no room on the right: over the window's left
            placed.moveLeft(std::max(room->left(), room->right() - placed.width()));
        placed.moveTop(std::clamp(placed.top(), room->top(),
                                  std::max(room->top(), room->bottom() - placed.height())));
    }
    return placed.topLeft();
}

} // namespace veltra
