#pragma once

namespace doorwarden::wire {

// Values the viewers already in use rely on, whatever this machine is: they were first written
// by a client on another desktop system, and viewers branch on them. Changing one changes
// what viewers do; they are not descriptions of this machine.

// What a machine without a name is called toward the relay and in error reports.
inline constexpr const char* kNamelessMachine = "Mac";
// "screen_info": the platform, the monitor's device name and its resolution in dots per inch.
inline constexpr const char* kScreenPlatform = "macos";
inline constexpr const char* kMonitorDeviceName = "Mac Display";
inline constexpr int kScreenDpi = 72;
inline constexpr const char* kVideoCodec = "h264";
inline constexpr int kAdvertisedFps = 30;

} // namespace doorwarden::wire
