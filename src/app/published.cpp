#include "app/published.h"

#include "platform/dispatch.h"

namespace sonavel {

void Observable::notifyWillChange() {
    Q_ASSERT_X(isMainThread(), "Observable", "published state changes on the main thread only");
    emit willChange();
}

}  // namespace sonavel
