#include "chart/framework/CPTAnimation.h"

#include <algorithm>

CPTAnimation& CPTAnimation::sharedInstance() {
    static CPTAnimation instance;
    return instance;
}

void CPTAnimation::addAnimationOperation(QAbstractAnimation* animation) {
    if (animation != nullptr) {
        operations_.emplace_back(animation);
    }
}

void CPTAnimation::removeAllAnimationOperations() {
    // Swap first: stopping may run slots that register new animations.
    std::vector<QPointer<QAbstractAnimation>> running;
    running.swap(operations_);
    for (const auto& animation : running) {
        if (animation) {
            animation->stop();
        }
    }
}

std::size_t CPTAnimation::animationOperationCount() const {
    return static_cast<std::size_t>(std::count_if(operations_.begin(), operations_.end(),
                                                  [](const auto& a) { return !a.isNull(); }));
}
