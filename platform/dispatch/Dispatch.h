// Dispatch: one include for the whole dispatch facility (queues, main queue,
// timers, groups, semaphores, once-guards, operation queues, locks, weak
// tasks). See each header for its contract.
#pragma once

#include "platform/dispatch/CancelHandle.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/Operation.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/RecursiveMutex.h"
#include "platform/dispatch/ResettableOnce.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/Timer.h"
#include "platform/dispatch/WeakTask.h"
