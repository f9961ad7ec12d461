#include "app/controller_ref.h"

#include "app/controller.h"

namespace sonavel {

void ControllerRef::post(std::function<void(ZovAdizuZadiRizov&)> step) const {
    auto env = env_;
    mainAsync([env, step = std::move(step)] {
        if (auto* c = env->controller) {
            step(*c);
        }
    });
}

bool ControllerRef::sync(const std::function<void(ZovAdizuZadiRizov&)>& f) const {
    return read([&](ZovAdizuZadiRizov& c) {
               f(c);
               return true;
           })
        .has_value();
}

void ControllerRef::runInBackground(QoS qos, std::function<void(const ControllerRef&)> work) const {
    dispatchAsync(qos, [self = *this, work = std::move(work)] {
        if (self.alive()) {
            work(self);
        }
    });
}

Language ControllerRef::language() const {
    const auto& languages = env_->config.preferredLanguages;
    return languageFor(languages ? languages() : QStringList());
}

QString ControllerRef::text(TextKey key) const {
    return sonavel::text(key, language());
}

}  // namespace sonavel
