#pragma once

#include "relay/payload/ClientFileTransferPayload.h"

#include <string>

namespace doorwarden {

// Moves files between the viewer and this machine. Main thread.
class FileTransferEngine {
public:
    virtual ~FileTransferEngine() = default;

    virtual void handle(const std::string& messageType, const ClientFileTransferPayload& payload) = 0;
};

} // namespace doorwarden
