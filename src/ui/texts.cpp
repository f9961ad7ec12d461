#include "ui/texts.h"

#include <QLocale>
#include <optional>

#if defined(Q_OS_MACOS)
#include <CoreFoundation/CoreFoundation.h>
#endif

namespace sonavel {

namespace {

struct Entry {
    const char* english;
    const char* japanese;
};

// The setup guide begins and ends with a line feed. The Japanese text has one line fewer: no blank
// line between its Wi-Fi sentence and the notarisation sentence.
constexpr const char* kGuideSetupEnglish =
    "\n"
    "Connect Android to your Mac via USB.\n"
    "\n"
    "1. Enable Developer Options on Android\n"
    "\n"
    "Settings \u2192 About phone \u2192 Tap Build Number 8 times\n"
    "\n"
    "2. Turn ON USB Debugging\n"
    "\n"
    "Settings \u2192 Developer Options \u2192 USB Debugging\n"
    "\n"
    "After setup, connect Android to your Mac via USB and allow the connection prompt.\n"
    "\n"
    "Continue wirelessly when your Mac and Android are on the same Wi-Fi network.\n"
    "\n"
    "Apple Developer notarized\n";

constexpr const char* kGuideSetupJapanese =
    "\n"
    "AndroidをUSBでMacに接続してください。\n"
    "\n"
    "1. Androidの「開発者オプション」を有効化\n"
    "\n"
    "設定 \u2192 デバイス情報 \u2192 ビルド番号を8回タップ\n"
    "\n"
    "2. 「USBデバッグ」をON\n"
    "\n"
    "設定 \u2192 開発者オプション \u2192 USBデバッグ\n"
    "\n"
    "設定後、AndroidをMacへUSB接続し、表示される接続許可を承認してください。\n"
    "\n"
    "同じWi-Fiネットワーク上の端末のみ通信します。外部送信は行われません。\n"
    "Apple Developerの公証を取得済です。\n";

// Elsewhere the guide names the computer and has no notarisation line: the build is not one.
constexpr const char* kGuideSetupEnglishOther =
    "\n"
    "Connect Android to your computer via USB.\n"
    "\n"
    "1. Enable Developer Options on Android\n"
    "\n"
    "Settings \u2192 About phone \u2192 Tap Build Number 8 times\n"
    "\n"
    "2. Turn ON USB Debugging\n"
    "\n"
    "Settings \u2192 Developer Options \u2192 USB Debugging\n"
    "\n"
    "After setup, connect Android to your computer via USB and allow the connection prompt.\n"
    "\n"
    "Continue wirelessly when your computer and Android are on the same Wi-Fi network.\n";

constexpr const char* kGuideSetupJapaneseOther =
    "\n"
    "AndroidをUSBでコンピュータに接続してください。\n"
    "\n"
    "1. Androidの「開発者オプション」を有効化\n"
    "\n"
    "設定 \u2192 デバイス情報 \u2192 ビルド番号を8回タップ\n"
    "\n"
    "2. 「USBデバッグ」をON\n"
    "\n"
    "設定 \u2192 開発者オプション \u2192 USBデバッグ\n"
    "\n"
    "設定後、AndroidをコンピュータへUSB接続し、表示される接続許可を承認してください。\n"
    "\n"
    "同じWi-Fiネットワーク上の端末のみ通信します。外部送信は行われません。\n";

// The texts whose wording depends on the platform; none when it does not.
std::optional<Entry> platformEntryFor(TextKey key, Platform platform) {
    if (platform == Platform::Mac) {
        return std::nullopt;
    }
    switch (key) {
        case TextKey::guideRelayActive:
            return Entry{"Audio relay is active. Android audio is being relayed to your computer.",
                         "音声リレー中です。Androidの音声がコンピュータに転送されています。"};
        case TextKey::guideSetup:
            return Entry{kGuideSetupEnglishOther, kGuideSetupJapaneseOther};
        default:
            return std::nullopt;
    }
}

Entry entryFor(TextKey key) {
    switch (key) {
        case TextKey::aboutMenuTitle:
            return {"About Sonavel", "Sonavelについて"};
        case TextKey::openSourceLicensesMenuTitle:
            return {"Open Source Licenses", "オープンソースライセンス"};
        case TextKey::statusIdle:
            return {"Idle", "待機中"};
        case TextKey::statusStopping:
            return {"Stopping\u2026", "停止中\u2026"};
        case TextKey::statusPanelTitle:
            return {"Status", "状態"};
        case TextKey::guidePanelTitle:
            return {"Guide", "案内"};
        case TextKey::connected:
            return {"Connected", "接続済み"};
        case TextKey::connecting:
            return {"Connecting\u2026", "接続中\u2026"};
        case TextKey::unavailable:
            return {"Unavailable", "利用できません"};
        case TextKey::readyToConnect:
            return {"Ready", "接続準備完了"};
        case TextKey::ready:
            return {"Ready", "準備完了"};
        case TextKey::notDetected:
            return {"Not detected", "未検出"};
        case TextKey::detectingAndroid:
            return {"Detecting Android\u2026", "Android検出中\u2026"};
        case TextKey::reconnecting:
            return {"Reconnecting\u2026", "再接続中\u2026"};
        case TextKey::tryingToReconnect:
            return {"Trying to reconnect\u2026", "再接続を試しています\u2026"};
        case TextKey::disconnected:
            return {"Disconnected", "切断中"};
        case TextKey::audioRelayActive:
            return {"Audio relay active", "音声リレー中"};
        case TextKey::startingAudioRelay:
            return {"Starting audio relay\u2026", "音声リレーを開始中\u2026"};
        case TextKey::androidNotFound:
            return {"Android not found. Check the connection.",
                    "Androidが見つかりません。接続を確認してください。"};
        case TextKey::noDeviceSelected:
            return {"No device selected for relay", "リレーするデバイスが選択されていません"};
        case TextKey::couldNotStartRelayReconnecting:
            return {"Could not start audio relay. Reconnecting\u2026",
                    "音声リレーを開始できません。再接続を試しています\u2026"};
        case TextKey::couldNotStartRelay:
            return {"Could not start audio relay", "音声リレーを開始できません"};
        case TextKey::couldNotConnectReconnecting:
            return {"Could not connect. Reconnecting\u2026",
                    "接続できません。再接続を試しています\u2026"};
        case TextKey::connectionToolNotFound:
            return {"Connection tool not found", "接続用ツールが見つかりません"};
        case TextKey::requiredFileNotFound:
            return {"Required bundled file not found", "必要な同梱ファイルが見つかりません"};
        case TextKey::wirelessConnectionReady:
            return {"Wireless connection ready", "ワイヤレス接続完了"};
        case TextKey::switchingDevice:
            return {"Switching device\u2026", "デバイスを切り替え中\u2026"};
        case TextKey::usbDetected:
            return {"USB detected", "USB接続を検出"};
        case TextKey::preparingWireless:
            return {"Preparing wireless connection\u2026", "ワイヤレス接続を準備中\u2026"};
        case TextKey::wirelessReady:
            return {"Wireless ready", "ワイヤレス接続OK"};
        case TextKey::guideRelayActive:
            return {"Audio relay is active. Android audio is being relayed to your Mac.",
                    "音声リレー中です。Androidの音声がMacに転送されています。"};
        case TextKey::guideRelayStarting:
            return {"Audio relay is starting. The sound plays as soon as the phone is reachable.",
                    "音声リレーを開始しています。Androidに接続でき次第、音声が流れます。"};
        case TextKey::guideConnectionReady:
            return {
                "Connection is ready. Turn on the switch in the device row to start audio relay.",
                "接続準備ができました。デバイス行のスイッチをONにすると音声リレーを開始します。"};
        case TextKey::guideAndroidDetected:
            return {"Android detected. Preparing wireless connection.",
                    "Androidを検出しました。ワイヤレス接続を準備しています。"};
        case TextKey::guideSetup:
            return {kGuideSetupEnglish, kGuideSetupJapanese};
        case TextKey::video:
            return {"Video", "映像"};
        case TextKey::perDeviceSettingsHint:
            return {"Video and audio buffer can be configured for each device.",
                    "映像表示とオーディオバッファは、各デバイス個別に設定できます。"};
        case TextKey::batteryAlertPlaying:
            return {"Battery alert is playing", "バッテリー警告音を再生中"};
        case TextKey::stopAlert:
            return {"Stop Alert", "警告を停止"};
        case TextKey::batteryAlertPlayingFor:
            return {"Battery alert for %1 is playing", "%1のバッテリー警告音を再生中"};
        case TextKey::batteryAlertNoSoundOutput:
            return {"Battery alert for %1: no sound output was found",
                    "%1のバッテリー警告：音声の出力先が見つかりません"};
        case TextKey::batteryLowNoticeTitle:
            return {"Low battery", "バッテリー残量低下"};
        case TextKey::batteryLowNoticeBody:
            return {"%1 is at %2 %: charge it", "%1のバッテリー残量は%2%です。充電してください"};
        case TextKey::batteryHighNoticeTitle:
            return {"Battery nearly full", "充電がほぼ完了しました"};
        case TextKey::batteryHighNoticeBody:
            return {"%1 is at %2 % and charging: unplug it",
                    "%1は%2%で充電中です。充電器を外してください"};
        case TextKey::silentAndroidTooOld:
            return {"Android 10 or older: sound cannot be relayed",
                    "Android 10以前のため、音声をリレーできません"};
        case TextKey::silentPhoneLocked:
            return {"Unlock the phone to start its sound",
                    "端末のロックを解除すると音声が始まります"};
        case TextKey::silentNoAudioOutput:
            return {"No sound output on this computer",
                    "このコンピュータに音声の出力先がありません"};
        case TextKey::silentToolMissing:
            return {"A tool is missing from Sonavel's resources",
                    "Sonavelのリソースにツールがありません"};
        case TextKey::guideToolsMissing:
            return {
                "Sonavel cannot relay sound: its resources folder lacks %1.\n\n"
                "To add the tools, run scripts/fetch-tools.sh in Sonavel's source folder, "
                "then build Sonavel again (see its README).",
                "Sonavelのリソースフォルダに%1がないため、音声をリレーできません。\n\n"
                "Sonavelのソースフォルダでscripts/fetch-tools.shを実行してツールを取得し、"
                "もう一度ビルドしてください（READMEを参照）。"};
        case TextKey::fileMenuTitle:
            return {"File", "ファイル"};
        case TextKey::helpMenuTitle:
            return {"Help", "ヘルプ"};
        case TextKey::quitMenuTitle:
            return {"Quit", "終了"};
        case TextKey::relaySwitchName:
            return {"Relay %1's sound", "%1の音声をリレー"};
        case TextKey::videoSwitchName:
            return {"Show %1's video", "%1の映像を表示"};
        case TextKey::bufferSliderName:
            return {"%1's audio buffer, %2 ms", "%1のオーディオバッファ、%2ミリ秒"};
        case TextKey::batteryLevelSpoken:
            return {"Battery %1%", "バッテリー%1%"};
        case TextKey::batteryChargingSpoken:
            return {"charging", "充電中"};
        case TextKey::rowNotConnected:
            return {"Not connected", "未接続"};
        case TextKey::rowNotOnWifi:
            return {"Not on Wi-Fi: the sound stays on USB", "Wi-Fi未接続のため、USBで接続中"};
        case TextKey::guideReconnecting:
            return {
                "Reconnecting. The sound plays again as soon as the phone is back on the same "
                "Wi-Fi or plugged in by USB.",
                "再接続中です。Androidが同じWi-Fiに戻るか、USBで接続されると音声が再び流れます。"};
        case TextKey::listSeparator:
            return {", ", "、"};
    }
    return {"", ""};
}

}  // namespace

Language languageFor(const QStringList& preferredLanguages) {
    if (preferredLanguages.isEmpty()) {
        return Language::English;
    }
    return preferredLanguages.first().startsWith(QLatin1String("ja"), Qt::CaseSensitive)
               ? Language::Japanese
               : Language::English;
}

QString text(TextKey key, Language language, Platform platform) {
    const Entry entry = platformEntryFor(key, platform).value_or(entryFor(key));
    return QString::fromUtf8(language == Language::Japanese ? entry.japanese : entry.english);
}

QStringList systemPreferredLanguages() {
#if defined(Q_OS_MACOS)
    // The user's own ordered list. QLocale's list can start with the system locale, which on macOS
    // follows the bundle's localizations rather than the user's first choice.
    QStringList languages;
    if (const CFArrayRef list = CFLocaleCopyPreferredLanguages()) {
        for (CFIndex i = 0; i < CFArrayGetCount(list); ++i) {
            languages << QString::fromCFString(
                static_cast<CFStringRef>(CFArrayGetValueAtIndex(list, i)));
        }
        CFRelease(list);
    }
    return languages;
#else
    return QLocale::system().uiLanguages();
#endif
}

}  // namespace sonavel
