#include "platform/linux/XcbShmSegment.h"

#include "platform/linux/XcbConnection.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

namespace doorwarden {

bool XcbShmSegment::serverTakesFileDescriptors(xcb_connection_t* connection)
{
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(xcb_get_file_descriptor(connection), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.ss_family != AF_UNIX) {
        return false;
    }
    const XcbReply<xcb_shm_query_version_reply_t> version(
        xcb_shm_query_version_reply(connection, xcb_shm_query_version(connection), nullptr));
    return version && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2));
}

std::unique_ptr<XcbShmSegment> XcbShmSegment::create(
    xcb_connection_t* connection, std::size_t size, bool passFileDescriptor)
{
    if (size == 0) {
        return nullptr;
    }
    if (passFileDescriptor) {
        if (auto segment = createMemfd(connection, size)) {
            return segment;
        }
    }
    return createSysv(connection, size);
}

std::unique_ptr<XcbShmSegment> XcbShmSegment::createMemfd(xcb_connection_t* connection, std::size_t size)
{
    const int fd = memfd_create("doorwarden-screen", MFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    void* mapping = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
        mapping = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    }
    if (mapping == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    const xcb_shm_seg_t id = xcb_generate_id(connection);
    // xcb sends the descriptor and closes it: from here on only the mapping and the server's
    // copy keep the memory.
    const XcbReply<xcb_generic_error_t> error(
        xcb_request_check(connection, xcb_shm_attach_fd_checked(connection, id, fd, /*read_only=*/0)));
    if (error || xcb_connection_has_error(connection)) {
        munmap(mapping, size);
        return nullptr;
    }
    return std::unique_ptr<XcbShmSegment>(
        new XcbShmSegment(connection, id, Kind::memfd, static_cast<const std::uint8_t*>(mapping), size));
}

std::unique_ptr<XcbShmSegment> XcbShmSegment::createSysv(xcb_connection_t* connection, std::size_t size)
{
    const int shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmid < 0) {
        return nullptr;
    }
    void* mapping = shmat(shmid, nullptr, SHM_RDONLY);
    if (mapping == reinterpret_cast<void*>(-1)) {
        shmctl(shmid, IPC_RMID, nullptr);
        return nullptr;
    }
    const xcb_shm_seg_t id = xcb_generate_id(connection);
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(
        connection, xcb_shm_attach_checked(connection, id, static_cast<std::uint32_t>(shmid), /*read_only=*/0)));
    // Both sides are attached (or the server never will be): the segment goes away with the
    // last detach, and its id can no longer be attached by anyone.
    shmctl(shmid, IPC_RMID, nullptr);
    if (error || xcb_connection_has_error(connection)) {
        shmdt(mapping);
        return nullptr;
    }
    return std::unique_ptr<XcbShmSegment>(
        new XcbShmSegment(connection, id, Kind::sysv, static_cast<const std::uint8_t*>(mapping), size));
}

XcbShmSegment::XcbShmSegment(
    xcb_connection_t* connection, xcb_shm_seg_t id, Kind kind, const std::uint8_t* data, std::size_t size)
    : connection_(connection)
    , id_(id)
    , kind_(kind)
    , data_(data)
    , size_(size)
{
}

XcbShmSegment::~XcbShmSegment()
{
    // Waits for the server's detach, so that the memory is gone (a SysV segment is destroyed
    // with its last detach) when the capturer stops, not when the server gets round to it.
    const XcbReply<xcb_generic_error_t> ignored(
        xcb_request_check(connection_, xcb_shm_detach_checked(connection_, id_)));
    if (kind_ == Kind::memfd) {
        munmap(const_cast<std::uint8_t*>(data_), size_);
    } else {
        shmdt(data_);
    }
}

} // namespace doorwarden
