#include "media/I420FramePool.h"

namespace doorwarden {

I420FramePool::I420FramePool(std::size_t pictures)
    : shelf_(std::make_shared<Shelf>())
{
    for (std::size_t i = 0; i < pictures; ++i) {
        shelf_->free.push_back(std::make_unique<I420Frame>());
    }
}

std::shared_ptr<I420Frame> I420FramePool::take()
{
    std::unique_ptr<I420Frame> picture;
    {
        const std::lock_guard lock(shelf_->mutex);
        if (shelf_->free.empty()) {
            return nullptr;
        }
        picture = std::move(shelf_->free.back());
        shelf_->free.pop_back();
    }
    return std::shared_ptr<I420Frame>(picture.release(), [weakShelf = std::weak_ptr<Shelf>(shelf_)](I420Frame* back) {
        std::unique_ptr<I420Frame> owned(back);
        if (const auto shelf = weakShelf.lock()) {
            const std::lock_guard lock(shelf->mutex);
            shelf->free.push_back(std::move(owned));
        }
    });
}

} // namespace doorwarden
