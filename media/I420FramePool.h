#pragma once

#include "media/I420Frame.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace doorwarden {

// A fixed number of pictures handed from the capture runner to the encode runner and back, so
// that the next picture is converted while this one is encoded, and neither allocates once the
// sizes settle. A picture taken comes back by itself when its last holder lets go of it, on
// whatever thread that is; one that outlives the pool is simply freed.
//
// take() belongs to one thread (the capture runner); letting go may happen on any.
class I420FramePool {
public:
    explicit I420FramePool(std::size_t pictures);
    I420FramePool(const I420FramePool&) = delete;
    I420FramePool& operator=(const I420FramePool&) = delete;

    // A picture that nobody holds, with whatever it held last; null while every one is taken.
    std::shared_ptr<I420Frame> take();

private:
    struct Shelf {
        std::mutex mutex;
        std::vector<std::unique_ptr<I420Frame>> free;
    };

    std::shared_ptr<Shelf> shelf_;
};

} // namespace doorwarden
