#pragma once
// A small dispatch library: serial queues, queue-specific data, groups, semaphores and timer
// sources. Debian has no libdispatch, and the logging facility needs only this much of it.
//
// One header per concept; this one brings them all. Code that needs only queues includes
// dispatch_queue.h, and so on.

#include "dispatch_group.h"
#include "dispatch_queue.h"
#include "dispatch_semaphore.h"
#include "dispatch_timer.h"
