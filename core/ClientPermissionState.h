#pragma once

namespace doorwarden {

// The two permissions the client needs.
struct ClientPermissionState {
    bool screenRecording = false;
    bool accessibility = false; // injecting the viewer's input

    bool operator==(const ClientPermissionState&) const = default;
};

} // namespace doorwarden
