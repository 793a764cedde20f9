#pragma once
// One entry of the core's logger registry: a logger and the queue it is called on.

#include "logging/DDLogger.h"

#include <memory>
#include <utility>

class DDLoggerNode {
public:
    DDLoggerNode(DDLoggerPtr aLogger, dispatch::queue_t aQueue)
        : logger(std::move(aLogger)), loggerQueue(std::move(aQueue)) {}
    static std::shared_ptr<DDLoggerNode> nodeWithLogger(DDLoggerPtr aLogger,
                                                        dispatch::queue_t aQueue) {
        return std::make_shared<DDLoggerNode>(std::move(aLogger), std::move(aQueue));
    }

    DDLoggerPtr logger;
    dispatch::queue_t loggerQueue;
};
