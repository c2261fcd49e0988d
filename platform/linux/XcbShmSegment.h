#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace doorwarden {

// Shared memory that the X server writes pictures into (MIT-SHM), private to this client and
// the server: a memfd passed to the server over the socket when it can take one, otherwise a
// SysV segment that only its owner may read or write, removed as soon as the server has
// attached it, so nobody else can attach it afterwards. Used on the thread of its connection,
// which must outlive it.
class XcbShmSegment {
public:
    // Whether the server can take a memfd: MIT-SHM 1.2 or later over a local socket (file
    // descriptors do not cross TCP). One round trip.
    static bool serverTakesFileDescriptors(xcb_connection_t* connection);

    // A segment of `size` bytes attached by the server; null when the server cannot attach one
    // (it runs on another machine, or refuses). Waits for the server's answer.
    static std::unique_ptr<XcbShmSegment> create(
        xcb_connection_t* connection, std::size_t size, bool passFileDescriptor);

    // The server detaches it as well, and this waits until it has (unless the connection is
    // gone).
    ~XcbShmSegment();
    XcbShmSegment(const XcbShmSegment&) = delete;
    XcbShmSegment& operator=(const XcbShmSegment&) = delete;

    xcb_shm_seg_t id() const { return id_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    enum class Kind { memfd, sysv };
    XcbShmSegment(
        xcb_connection_t* connection, xcb_shm_seg_t id, Kind kind, const std::uint8_t* data, std::size_t size);

    static std::unique_ptr<XcbShmSegment> createMemfd(xcb_connection_t* connection, std::size_t size);
    static std::unique_ptr<XcbShmSegment> createSysv(xcb_connection_t* connection, std::size_t size);

    xcb_connection_t* connection_;
    xcb_shm_seg_t id_;
    Kind kind_;
    const std::uint8_t* data_;
    std::size_t size_;
};

} // namespace doorwarden
