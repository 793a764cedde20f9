#pragma once
// A small dispatch library: serial queues, queue-specific data, groups, semaphores and timer
// sources. Debian has no libdispatch, and the logging facility needs only this much of it.
//
// One header per concept; this one brings them all. Code that needs only queues includes
// dispatch_queue.h, and so on.

#include "platform/core/dispatch_group.h"
#include "platform/core/dispatch_queue.h"
#include "platform/core/dispatch_semaphore.h"
#include "platform/core/dispatch_timer.h"
