#pragma once

#include "INGeometry.h"

#include <QByteArray>
#include <QTest>

#include <sstream>

// Lets QCOMPARE print the popover's geometry types on failure.
inline char* toString(const INRect& r) {
    std::ostringstream os;
    os << r;
    return qstrdup(os.str().c_str());
}

inline char* toString(const INSize& s) {
    std::ostringstream os;
    os << s;
    return qstrdup(os.str().c_str());
}
