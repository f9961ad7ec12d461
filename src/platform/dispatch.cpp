#include "platform/dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace sonavel {

namespace {

// Pool tasks submitted and not yet finished, over every pool.
std::atomic<int> inFlight{0};

class WorkerPool {
public:
    void submit(Task task) {
        inFlight.fetch_add(1);
        std::unique_lock lock(mutex_);
        queue_.push_back(std::move(task));
        // Idle workers that were woken but have not taken a task yet still count as idle, so
        // compare against the queue's length, not against zero.
        if (static_cast<int>(queue_.size()) > idle_ && threads_ < kMaxWorkersPerPool) {
            ++threads_;
            // Detached: pools live for the whole process, and joining at exit would wait for
            // workers blocked in an adb call that nobody needs any more.
            std::thread([this] { run(); }).detach();
        } else {
            wake_.notify_one();
        }
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return !queue_.empty(); });
            --idle_;
            Task task = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            task();
            task = nullptr;  // release captures outside the lock
            inFlight.fetch_sub(1);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_;
    int threads_ = 0;
    int idle_ = 0;
};

WorkerPool& pool(QoS qos) {
    // Never destroyed: detached workers may still be inside them while the process exits.
    static WorkerPool* pools = new WorkerPool[4];
    return pools[static_cast<int>(qos)];
}

// One thread that holds delayed tasks until they are due, then hands them to their pool.
class DelayedScheduler {
public:
    // A period of zero runs the task once; any other runs it again every period while `active`
    // holds, each time due one period after the time before.
    void submit(QoS qos, std::chrono::milliseconds delay, Task task,
                std::chrono::milliseconds period = std::chrono::milliseconds(0),
                std::shared_ptr<const std::atomic<bool>> active = nullptr) {
        std::unique_lock lock(mutex_);
        if (!started_) {
            started_ = true;
            std::thread([this] { run(); }).detach();
        }
        due_.emplace(Clock::now() + delay, Entry{qos, std::move(task), period, std::move(active)});
        wake_.notify_one();
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        QoS qos;
        Task task;
        std::chrono::milliseconds period;
        std::shared_ptr<const std::atomic<bool>> active;
    };

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (due_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto first = due_.begin();
            if (first->first > Clock::now()) {
                wake_.wait_until(lock, first->first);
                continue;
            }
            const Clock::time_point dueAt = first->first;
            Entry entry = std::move(first->second);
            due_.erase(first);
            if (entry.active && !entry.active->load()) {
                continue;
            }
            Task task = entry.task;
            const QoS qos = entry.qos;
            // The next run is queued in this same wake-up: a repeating task costs this thread one
            // wake-up per period, however long its runs take.
            if (entry.period.count() > 0) {
                due_.emplace(dueAt + entry.period, std::move(entry));
            }
            lock.unlock();
            pool(qos).submit(std::move(task));
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, Entry> due_;
    bool started_ = false;
};

DelayedScheduler& scheduler() {
    static DelayedScheduler* instance = new DelayedScheduler;
    return *instance;
}

}  // namespace

// Lives on the main thread; drain() runs there through a queued call that carries no data.
class MainQueue : public QObject {
    Q_OBJECT
public:
    void submit(Task task) {
        bool wake;
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(task));
            wake = !wakePending_;
            wakePending_ = true;
        }
        if (wake) {
            QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
        }
    }

    bool empty() {
        std::lock_guard lock(mutex_);
        return queue_.empty();
    }

public slots:
    void drain() {
        std::deque<Task> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(queue_);
            wakePending_ = false;
        }
        // Tasks submitted while this batch runs go to the next turn of the event loop, so one
        // flood of steps cannot starve the window's repaint.
        for (Task& task : batch) {
            task();
            task = nullptr;
        }
    }

private:
    std::mutex mutex_;
    std::deque<Task> queue_;
    bool wakePending_ = false;
};

namespace {

MainQueue& mainQueue() {
    static MainQueue* queue = [] {
        auto* q = new MainQueue;
        if (auto* app = QCoreApplication::instance()) {
            q->moveToThread(app->thread());
        }
        return q;
    }();
    return *queue;
}

// Made on the main thread as the application object starts rather than by whichever thread posts
// first: a queue made on a worker reaches the main thread only through Qt's event hand-off, whose
// ordering ThreadSanitizer cannot see.
void makeMainQueue() {
    mainQueue();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(makeMainQueue)

void dispatchAsync(QoS qos, Task task) {
    pool(qos).submit(std::move(task));
}

void dispatchAfter(QoS qos, std::chrono::milliseconds delay, Task task) {
    if (delay.count() <= 0) {
        pool(qos).submit(std::move(task));
        return;
    }
    scheduler().submit(qos, delay, std::move(task));
}

void dispatchRepeating(QoS qos, std::chrono::milliseconds period,
                       std::shared_ptr<const std::atomic<bool>> active, Task task) {
    period = std::max(period, std::chrono::milliseconds(1));
    scheduler().submit(qos, period, std::move(task), period, std::move(active));
}

void mainAsync(Task task) {
    mainQueue().submit(std::move(task));
}

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void mainSync(const Task& task) {
    if (isMainThread()) {
        task();
        return;
    }
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    mainQueue().submit([&] {
        task();
        std::lock_guard lock(mutex);
        finished = true;
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
}

void drainMainQueue() {
    mainQueue().drain();
}

bool mainQueueEmpty() {
    return mainQueue().empty();
}

int poolTasksInFlight() {
    return inFlight.load();
}

}  // namespace sonavel

#include "dispatch.moc"
