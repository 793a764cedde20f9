#pragma once
// The process-wide register of running chart animations. Main thread only.

#include <QAbstractAnimation>
#include <QPointer>
#include <vector>

class CPTAnimation {
public:
    static CPTAnimation& sharedInstance();

    // Registers a running animation so it can be stopped with the others.
    void addAnimationOperation(QAbstractAnimation* animation);
    // Stops every registered animation that still exists and forgets them all.
    void removeAllAnimationOperations();
    std::size_t animationOperationCount() const;

private:
    CPTAnimation() = default;
    std::vector<QPointer<QAbstractAnimation>> operations_;
};
