#pragma once

namespace doorwarden {

// The sizes of one capture configuration: the screen scaled to fit the tier's bound (never
// enlarged) is the picture; the picture with each side rounded up to a multiple of 16 is the
// capture size, which the encoder codes.
struct CaptureSize {
    int pictureWidth = 0;
    int pictureHeight = 0;
    int captureWidth = 0;
    int captureHeight = 0;

    // Tier 0 fits the screen into 2560 x 1440, any other tier into 1920 x 1080. A screen side
    // of 0 or less gives the empty size.
    static CaptureSize forTier(int sourceWidth, int sourceHeight, int tier);

    bool operator==(const CaptureSize&) const = default;
};

} // namespace doorwarden
