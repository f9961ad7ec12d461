#pragma once

#include <QSettings>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>

#include "app/controller_config.h"
#include "discovery/device_listing.h"
#include "platform/dispatch.h"
#include "platform/time_source.h"
#include "tools/adb_result.h"
#include "ui/texts.h"

namespace sonavel {

class ZovAdizuZadiRizov;

// What the controller shares with its background work. It outlives the controller: a worker that
// is still inside an adb call when the controller goes away keeps this alive and finds the
// controller gone when it hands its result back.
class ControllerEnv {
public:
    explicit ControllerEnv(ControllerConfig config)
        : config(std::move(config)), time(this->config.timeScale, this->config.clock) {}

    const ControllerConfig config;
    const TimeSource time;

    // Cleared when the controller's destruction begins; workers check it before they start.
    std::atomic<bool> alive{true};

    // Main thread only. Null once the controller is gone.
    ZovAdizuZadiRizov* controller = nullptr;

    // What the periodic USB check compares its finding with. The main thread copies it here
    // whenever it changes that state, so that the check, which runs on a worker and nearly always
    // finds nothing new, never has to wake the main thread to learn it.
    struct USBCheckInputs {
        bool allowAuto = false;  // the setup flag is set and the reconnect loop is not running
        USBView view;
    };
    void setUSBCheckInputs(USBCheckInputs inputs) {
        std::lock_guard lock(usbCheckInputsMutex_);
        usbCheckInputs_ = std::move(inputs);
    }
    USBCheckInputs usbCheckInputs() const {
        std::lock_guard lock(usbCheckInputsMutex_);
        return usbCheckInputs_;
    }

private:
    mutable std::mutex usbCheckInputsMutex_;
    USBCheckInputs usbCheckInputs_;
};

// The controller as seen from any thread: a weak handle. Copy it into background work instead of
// the controller's `this`. Everything here is safe on any thread; controller state is reached only
// through post() and read(), which run on the main thread and skip a controller that is gone.
class ControllerRef {
public:
    ControllerRef() = default;
    explicit ControllerRef(std::shared_ptr<ControllerEnv> env) : env_(std::move(env)) {}

    bool alive() const { return env_ && env_->alive.load(); }

    // Queues a step for the main thread; it is dropped when the controller is gone by then.
    void post(std::function<void(ZovAdizuZadiRizov&)> step) const;

    // Runs the function on the main thread and waits for its result; none when the controller is
    // gone. Keep these hops small: the main thread runs the window.
    template <class F>
    auto read(F&& f) const -> std::optional<std::invoke_result_t<F, ZovAdizuZadiRizov&>> {
        std::optional<std::invoke_result_t<F, ZovAdizuZadiRizov&>> result;
        mainSync([&] {
            if (auto* c = controllerOnMain()) {
                result.emplace(f(*c));
            }
        });
        return result;
    }

    // As read() for work without a result; false when the controller is gone.
    bool sync(const std::function<void(ZovAdizuZadiRizov&)>& f) const;

    // Submits work for a pool, holding the controller weakly: when the work starts and the
    // controller is gone, nothing happens.
    void runInBackground(QoS qos, std::function<void(const ControllerRef&)> work) const;

    // Diagnostics and tools (defined with their subsystems).
    void appendLog(const QString& message) const;
    void updateStatus(const QString& text) const;
    std::optional<QString> locateADB() const;
    std::optional<QString> locateScrcpy() const;
    std::optional<QString> locateScrcpyServer() const;
    AdbResult runADB(const QStringList& arguments) const;

    // The display language, from the user's preferred languages as they are now.
    Language language() const;
    QString text(TextKey key) const;
    ControllerEnv::USBCheckInputs usbCheckInputs() const { return env_->usbCheckInputs(); }
    const TimeSource& time() const { return env_->time; }
    void sleep(double seconds) const { env_->time.sleep(seconds); }
    std::unique_ptr<QSettings> settings() const { return env_->config.openSettings(); }
    const ControllerConfig& config() const { return env_->config; }

private:
    ZovAdizuZadiRizov* controllerOnMain() const { return env_->controller; }

    std::shared_ptr<ControllerEnv> env_;
};

}  // namespace sonavel
