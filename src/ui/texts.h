#pragma once

#include <QString>
#include <QStringList>

namespace sonavel {

// Every text the user sees, by key. Log lines are English only and are not in this table.
enum class TextKey {
    aboutMenuTitle,
    openSourceLicensesMenuTitle,
    statusIdle,
    statusStopping,
    statusPanelTitle,
    guidePanelTitle,
    connected,
    connecting,
    unavailable,
    readyToConnect,
    ready,
    notDetected,
    detectingAndroid,
    reconnecting,
    tryingToReconnect,
    disconnected,
    audioRelayActive,
    startingAudioRelay,
    androidNotFound,
    noDeviceSelected,
    couldNotStartRelayReconnecting,
    couldNotStartRelay,
    couldNotConnectReconnecting,
    connectionToolNotFound,
    requiredFileNotFound,
    wirelessConnectionReady,
    switchingDevice,
    usbDetected,
    preparingWireless,
    wirelessReady,
    guideRelayActive,
    guideRelayStarting,
    guideConnectionReady,
    guideAndroidDetected,
    guideSetup,
    video,
    perDeviceSettingsHint,
    batteryAlertPlaying,
    stopAlert,
    // %1 is the phone's name.
    batteryAlertPlayingFor,
    batteryAlertNoSoundOutput,
    // The desktop notification of an alert; in the bodies %1 is the phone's name, %2 its level.
    batteryLowNoticeTitle,
    batteryLowNoticeBody,
    batteryHighNoticeTitle,
    batteryHighNoticeBody,
    silentAndroidTooOld,
    silentPhoneLocked,
    silentNoAudioOutput,
    silentToolMissing,
    // A row's second line: a switched-on phone adb does not list; a USB phone with no Wi-Fi
    // address.
    rowNotConnected,
    rowNotOnWifi,
    // The guide while a switched-on phone cannot be reached.
    guideReconnecting,
    // Needs the missing tools' names for %1.
    guideToolsMissing,
    fileMenuTitle,
    helpMenuTitle,
    quitMenuTitle,
    // For screen readers; %1 is the phone's name.
    relaySwitchName,
    videoSwitchName,
    // %1 the phone's name, %2 the buffer in milliseconds.
    bufferSliderName,
    // %1 the battery level in percent.
    batteryLevelSpoken,
    batteryChargingSpoken,
    // Between the items of a list: names of tools, the parts of a row's state.
    listSeparator,
};

enum class Language { English, Japanese };

// Texts that name the computer say "Mac" on macOS and "computer" elsewhere, and the setup guide's
// notarisation line is a macOS matter.
enum class Platform { Mac, Other };
#if defined(Q_OS_MACOS)
inline constexpr Platform kThisPlatform = Platform::Mac;
#else
inline constexpr Platform kThisPlatform = Platform::Other;
#endif

// The display language for the user's ordered list of preferred languages: Japanese exactly when
// the first entry begins with "ja" (case-sensitive); later entries are never consulted.
Language languageFor(const QStringList& preferredLanguages);

QString text(TextKey key, Language language, Platform platform = kThisPlatform);

// The text in the language derived from the list at this moment; nothing is cached, so a change
// of the system's list shows at the next lookup.
inline QString text(TextKey key, const QStringList& preferredLanguages) {
    return text(key, languageFor(preferredLanguages));
}

// The platform's ordered list of preferred languages.
QStringList systemPreferredLanguages();

}  // namespace sonavel
