#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

// A small dispatch layer: worker pools per quality of service and a main-thread task queue.
//
// It is built on std::thread, std::mutex and std::condition_variable rather than QThreadPool or
// queued lambdas, because ThreadSanitizer cannot see the hand-offs inside Debian's Qt and would
// report every one of them. The main thread is woken by a queued call that carries no data; the
// tasks themselves travel through a mutex-guarded queue that the sanitizer can see.

namespace sonavel {

using Task = std::function<void()>;

// Quality-of-service classes. Each has its own pool, so a flood of slow battery queries (utility)
// never delays a user-initiated connect.
enum class QoS { UserInitiated, Default, Utility, Background };

// Runs the task on a worker of the pool for qos. Work there may block for seconds (adb calls,
// fixed pauses), so each pool grows far beyond the number of cores.
void dispatchAsync(QoS qos, Task task);

// Runs the task on a worker of the pool for qos once delay has passed. The delay is already
// scaled; callers take it from their TimeSource.
void dispatchAfter(QoS qos, std::chrono::milliseconds delay, Task task);

// Runs the task on a worker of the pool for qos every period, the first time one period from now,
// for as long as *active holds. Each run is due one period after the one before, whenever that
// one ran or ended, so runs may overlap; once *active is false, no further run starts.
void dispatchRepeating(QoS qos, std::chrono::milliseconds period,
                       std::shared_ptr<const std::atomic<bool>> active, Task task);

// Queues the task for the main thread. Tasks run in the order they were submitted, on a later turn
// of the main event loop, also when submitted from the main thread itself.
void mainAsync(Task task);

// Runs the task on the main thread and returns when it has run. From the main thread it runs at
// once. Never call it from the main thread while holding a lock a worker needs.
void mainSync(const Task& task);

bool isMainThread();

// Runs every queued main-thread task now (from the main thread). Used by tests and by shutdown code
// that must not leave steps behind; normal code relies on the event loop.
void drainMainQueue();

// For tests that wait until nothing is under way: whether the main-thread queue is empty, and how
// many pool tasks have been submitted and not finished.
bool mainQueueEmpty();
int poolTasksInFlight();

// The largest number of threads one pool will run at once.
inline constexpr int kMaxWorkersPerPool = 64;

}  // namespace sonavel
