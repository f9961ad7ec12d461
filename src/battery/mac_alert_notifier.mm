// The user notifications of macOS. A click on a notice makes the application active, and the
// application brings its window back whenever it becomes active (app/main.cpp), so the click
// needs no handler of its own here.
#include "battery/alert_notifier.h"

#import <UserNotifications/UserNotifications.h>

namespace sonavel {

namespace {

// One identifier for every notice: a new one replaces the one shown.
NSString* const kNoticeIdentifier = @"battery-alert";

class MacAlertNotifier final : public AlertNotifier {
public:
    MacAlertNotifier() {
        // The system asks the user once; until allowed, notices are dropped without an error.
        [[UNUserNotificationCenter currentNotificationCenter]
            requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                          completionHandler:^(BOOL, NSError*){
                          }];
    }

    void show(const AlertNotice& notice) override {
        UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
        content.title = notice.summary.toNSString();
        content.body = notice.body.toNSString();
        UNNotificationRequest* request =
            [UNNotificationRequest requestWithIdentifier:kNoticeIdentifier
                                                 content:content
                                                 trigger:nil];
        [[UNUserNotificationCenter currentNotificationCenter] addNotificationRequest:request
                                                               withCompletionHandler:nil];
    }

    void withdraw() override {
        [[UNUserNotificationCenter currentNotificationCenter]
            removeDeliveredNotificationsWithIdentifiers:@[ kNoticeIdentifier ]];
    }
};

}  // namespace

std::unique_ptr<AlertNotifier> makePlatformAlertNotifier(std::function<void()> /*clicked*/) {
    // The notification center raises an exception in a process outside an application bundle
    // (a program run from the build folder): such a process posts nothing.
    if ([[NSBundle mainBundle] bundleIdentifier] == nil) {
        return nullptr;
    }
    return std::make_unique<MacAlertNotifier>();
}

}  // namespace sonavel
