#pragma once

#include <array>

namespace doorwarden::wire {

// Values that viewers, the relay and the reports' readers already rely on, whatever this machine
// is: they were first written by a client on another desktop system, and the other side branches
// on them or files by them. Changing one changes what they do; they are not descriptions of this
// machine.

// What a machine without a name is called toward the relay and in error reports.
inline constexpr const char* kNamelessMachine = "Mac";
// "screen_info": the platform, the monitor's device name and its resolution in dots per inch.
inline constexpr const char* kScreenPlatform = "macos";
inline constexpr const char* kMonitorDeviceName = "Mac Display";
inline constexpr int kScreenDpi = 72;
inline constexpr const char* kVideoCodec = "h264";
inline constexpr int kAdvertisedFps = 30;
// The component of the diagnostic log's first line, by which reports are filed.
inline constexpr const char* kLogComponent = "MacClient";
// The labels of the worker queues, as they appear in reports (main, capture, encode, input,
// audio, direct, in ThreadContext's order).
inline constexpr std::array<const char*, 6> kThreadLabels = {
    "app.doorwarden.client.main",
    "app.doorwarden.macclient.capture",
    "app.doorwarden.client.encode",
    "app.doorwarden.mac-client.remote-input",
    "app.doorwarden.macclient.system-audio",
    "app.doorwarden.mac-client.p2p-direct",
};

} // namespace doorwarden::wire
