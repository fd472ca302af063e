#pragma once

// Between the desktop's device pixels and the toolkit's logical pixels. Qt keeps each screen's
// top-left corner where the device puts it and divides distances inside the screen by the screen's
// scale, so a point maps through the screen that holds it. Main thread only; without a
// QGuiApplication there are no screens and both spaces are the same.

#include "platform/Geometry.h"

namespace quenlit::linux_backend {

// Qt's scale (device pixels per logical pixel) on the screen holding the centre of `device` (a
// rectangle in device pixels, top-left origin); the primary screen's when none holds it, 1 without
// any screen.
double qtScaleOf(const platform::Rect& device);

// A point in device pixels (top-left origin) in Qt's logical coordinates, through the screen that
// holds it (the primary screen when none does).
platform::Point qtLogicalPoint(platform::Point device);

}  // namespace quenlit::linux_backend
