#pragma once

#include <QObject>
#include <utility>

namespace sonavel {

// Emits willChange() before any published property of the object changes. Observers (the window)
// schedule a redraw on it and read the new state on a later turn of the event loop.
class Observable : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Main thread only: every published change happens there.
    void notifyWillChange();

signals:
    void willChange();
};

// A published property: notifies its owner before every assignment, also when the value is the
// same (observers only redraw, so a spurious notification costs nothing, and "set it again" has to
// reach them, e.g. the status text set to the same wording).
template <class T>
class Published {
public:
    Published(Observable* owner, T initial) : owner_(owner), value_(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    const T& operator()() const { return value_; }

    void set(T value) {
        owner_->notifyWillChange();
        value_ = std::move(value);
    }

    // In-place change of a container value, notified once.
    template <class F>
    void mutate(F&& change) {
        owner_->notifyWillChange();
        change(value_);
    }

private:
    Observable* owner_;
    T value_;
};

}  // namespace sonavel
