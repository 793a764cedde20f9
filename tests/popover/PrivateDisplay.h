#pragma once

#include <string>
#include <sys/types.h>

// A private X display for one test process: Xvfb on a display number it picks itself, with a
// compositing manager when one is installed so translucent windows and shadows show as on a
// desktop. Both are stopped when this object goes away.
class PrivateDisplay {
public:
    PrivateDisplay(int width, int height);
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // Empty when the server did not start.
    const std::string& name() const { return name_; }
    bool composited() const { return compositor_ > 0; }

private:
    void startCompositor();

    pid_t server_ = -1;
    pid_t compositor_ = -1;
    std::string name_;
};
