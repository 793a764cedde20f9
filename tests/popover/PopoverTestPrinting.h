#pragma once

#include "popover/INGeometry.h"

#include <QTest>

#include <sstream>

// Lets QCOMPARE print the popover's rectangles on failure.
inline char* toString(const INRect& rect) {
    std::ostringstream os;
    os << rect;
    return qstrdup(os.str().c_str());
}
