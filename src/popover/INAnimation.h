#pragma once

#include <chrono>

class INAnimation;

// Told when an animation has run to its end, with the animated value already final.
class INAnimationDelegate {
public:
    virtual ~INAnimationDelegate() = default;
    virtual void animationDidStop(INAnimation* animation, bool finished) = 0;
};

// Describes how a window animates one of its values: how long it takes and whom to tell
// at the end. The window owns the running animation; this object only configures it.
class INAnimation {
public:
    static constexpr std::chrono::milliseconds kDefaultDuration{200};

    explicit INAnimation(std::chrono::milliseconds duration = kDefaultDuration)
        : duration_(duration) {}

    // Not owned; whoever sets it clears it before going away.
    INAnimationDelegate* delegate() const { return delegate_; }
    void setDelegate(INAnimationDelegate* delegate) { delegate_ = delegate; }

    std::chrono::milliseconds duration() const { return duration_; }
    void setDuration(std::chrono::milliseconds duration) { duration_ = duration; }

private:
    INAnimationDelegate* delegate_ = nullptr;
    std::chrono::milliseconds duration_;
};
