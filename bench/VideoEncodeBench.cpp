// The video pipeline measured beside its references, on screen-like content (scrolling text and
// a moving window) made here, the same raw frames for every side:
//
//   - CPU per frame of BGRX -> I420 (libyuv) + H.264 (libx264 through ClientH264Encoder), beside
//     ffmpeg's bgr0 -> yuv420p (swscale) -> libx264 run as a process on a raw file of the same
//     frames, at the same preset, tune, profile, bitrate, buffer and frame rate;
//   - quality: PSNR of each decoded stream against the source frames;
//   - bitrate control: 10 s at 20 fps at 100 / 80 / 65 / 50 %, bits per second against the target
//     and the largest single second against the buffer's limit;
//   - JPEG: 1080p encode time of ClientJpegEncoder beside tjbench on the same frame.
//
// A plain main(): run by hand, `build/bench/video_encode_bench [preset]`; needs ffmpeg and tjbench
// (packages ffmpeg, libjpeg-turbo-progs) for the references.
#include "media/ClientH264Encoder.h"
#include "media/ClientI420Converter.h"
#include "media/ClientJpegEncoder.h"
#include "platform/ScreenFrame.h"
#include "platform/fake/ManualClock.h"
#include "viewer/PicturePsnr.h"
#include "viewer/ViewerVideoDecoder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

constexpr int kFps = 20;

// Frame `n` of a screen: a page of text scrolling up 8 pixels a frame, a window moving across it.
ScreenFrame screenAt(int width, int height, int n)
{
    ScreenFrame frame{width, height, width * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4)};
    const int windowX = (n * 12) % (width / 2);
    const int windowY = height / 4 + (n * 5) % (height / 4);
    for (int y = 0; y < height; ++y) {
        const int line = (y + n * 8) / 20;
        const int inLine = (y + n * 8) % 20;
        for (int x = 0; x < width; ++x) {
            auto* p = &frame.pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            const bool inWindow = x >= windowX && x < windowX + width / 3 && y >= windowY && y < windowY + height / 3;
            if (inWindow) {
                p[0] = static_cast<std::uint8_t>(200 - (y - windowY) / 4);
                p[1] = static_cast<std::uint8_t>(120 + (x - windowX) / 8);
                p[2] = 60;
            } else {
                // Glyph-like strokes: words of 5 to 9 letters, letters 9 pixels wide.
                const int letter = x / 9;
                const int word = (letter + line * 7) % 11;
                const bool ink = inLine >= 4 && inLine < 15 && word < 8 && ((x % 9) == 1 || (x % 9) == 5 ||
                                                                            (inLine == 9 && (x % 9) < 6) ||
                                                                            ((letter * 31 + line * 17) % 5 == 0 &&
                                                                             inLine == 4 && (x % 9) < 6));
                p[0] = p[1] = p[2] = ink ? 35 : 245;
            }
        }
    }
    return frame;
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Mean PSNR of decoded pictures against their sources, over the source's area.
struct Psnr {
    double sum = 0;
    int count = 0;
    void add(const ScreenFrame& source, const ViewerVideoDecoder::Picture& decoded)
    {
        sum += picturePsnr(source, decoded);
        ++count;
    }
    double mean() const { return count ? sum / count : 0; }
};

struct Run {
    double cpuMsPerFrame = 0;
    double psnr = 0;
    double bitsPerSecond = 0;
    std::vector<std::size_t> pictureBytes;
};

Run ours(const std::vector<ScreenFrame>& frames, const char* preset, int percent = 100)
{
    const int width = frames.front().width;
    const int height = frames.front().height;
    std::string error;
    auto encoder = ClientH264Encoder::create(
        {ClientI420Converter::alignedSide(width), ClientI420Converter::alignedSide(height), kFps, percent, preset},
        error);
    if (!encoder) {
        std::printf("encoder: %s\n", error.c_str());
        return {};
    }
    ManualClock clock;
    I420Frame picture;
    std::vector<EncodedVideoFrame> stream;
    const double started = processCpuSeconds();
    for (const auto& frame : frames) {
        ClientI420Converter::convert(frame, picture);
        for (auto& out : encoder->encode(picture, clock.monotonicNow(), error)) {
            stream.push_back(std::move(out));
        }
        clock.advance(50ms);
    }
    for (auto& out : encoder->flush()) {
        stream.push_back(std::move(out));
    }
    const double cpu = processCpuSeconds() - started;

    Run run;
    run.cpuMsPerFrame = cpu * 1000 / static_cast<double>(frames.size());
    ViewerVideoDecoder decoder;
    Psnr psnr;
    double bytes = 0;
    for (std::size_t i = 0; i < stream.size() && i < frames.size(); ++i) {
        bytes += static_cast<double>(stream[i].data.size());
        run.pictureBytes.push_back(static_cast<std::size_t>(stream[i].data.size()));
        if (const auto decoded = decoder.decode(stream[i].kind, stream[i].data, error)) {
            psnr.add(frames[i], *decoded);
        }
    }
    run.psnr = psnr.mean();
    run.bitsPerSecond = bytes * 8 * kFps / static_cast<double>(frames.size());
    return run;
}

Run ffmpeg(const std::vector<ScreenFrame>& frames, const char* preset, const QTemporaryDir& folder, int percent = 100)
{
    const int width = frames.front().width;
    const int height = frames.front().height;
    const QString raw = folder.filePath(QStringLiteral("frames.bgr0"));
    const QString out = folder.filePath(QStringLiteral("ffmpeg.h264"));
    {
        QFile file(raw);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        for (const auto& frame : frames) {
            file.write(reinterpret_cast<const char*>(frame.pixels.data()), static_cast<qint64>(frame.pixels.size()));
        }
    }
    const QString bitrate = QString::number(ClientH264Encoder::bitrateFor(percent));
    QProcess process;
    const double before = childrenCpuSeconds();
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                   QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                   QStringLiteral("bgr0"), QStringLiteral("-s"), QStringLiteral("%1x%2").arg(width).arg(height),
                   QStringLiteral("-r"), QString::number(kFps), QStringLiteral("-i"), raw, QStringLiteral("-c:v"),
                   QStringLiteral("libx264"), QStringLiteral("-preset"), QString::fromLatin1(preset),
                   QStringLiteral("-tune"), QStringLiteral("zerolatency"), QStringLiteral("-profile:v"),
                   QStringLiteral("main"), QStringLiteral("-bf"), QStringLiteral("0"), QStringLiteral("-g"),
                   QString::number(ClientH264Encoder::kKeyFrameInterval.count() * kFps), QStringLiteral("-b:v"), bitrate,
                   QStringLiteral("-maxrate"), bitrate, QStringLiteral("-bufsize"), bitrate, QStringLiteral("-pix_fmt"),
                   QStringLiteral("yuv420p"), QStringLiteral("-f"), QStringLiteral("h264"), out});
    if (!process.waitForFinished(600'000) || process.exitCode() != 0) {
        std::printf("ffmpeg failed: %s\n", process.readAllStandardError().constData());
        return {};
    }
    const double cpu = childrenCpuSeconds() - before;
    QFile file(out);
    file.open(QIODevice::ReadOnly);
    const QByteArray stream = file.readAll();

    Run run;
    run.cpuMsPerFrame = cpu * 1000 / static_cast<double>(frames.size());
    run.bitsPerSecond = static_cast<double>(stream.size()) * 8 * kFps / static_cast<double>(frames.size());
    // ffmpeg's stream is one byte stream: libavcodec's parser cuts it into pictures.
    ViewerVideoDecoder decoder;
    Psnr psnr;
    std::string error;
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVCodecContext* parsing = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
    std::size_t picture = 0;
    const auto take = [&](const std::uint8_t* data, int size) {
        if (size > 0 && picture < frames.size()) {
            run.pictureBytes.push_back(static_cast<std::size_t>(size));
            if (const auto decoded = decoder.decode(VideoFrameHeader::Kind::h264AccessUnit,
                                                    QByteArray(reinterpret_cast<const char*>(data), size), error)) {
                psnr.add(frames[picture], *decoded);
            }
            ++picture;
        }
    };
    const auto* data = reinterpret_cast<const std::uint8_t*>(stream.constData());
    int left = static_cast<int>(stream.size());
    while (left > 0) {
        std::uint8_t* unit = nullptr;
        int unitSize = 0;
        const int used = av_parser_parse2(parser, parsing, &unit, &unitSize, data, left, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        data += used;
        left -= used;
        take(unit, unitSize);
    }
    std::uint8_t* unit = nullptr;
    int unitSize = 0;
    av_parser_parse2(parser, parsing, &unit, &unitSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    take(unit, unitSize);
    av_parser_close(parser);
    avcodec_free_context(&parsing);
    run.psnr = psnr.mean();
    return run;
}

void compare(int width, int height, const char* preset, const QTemporaryDir& folder)
{
    std::vector<ScreenFrame> frames;
    for (int n = 0; n < 60; ++n) {
        frames.push_back(screenAt(width, height, n));
    }
    const Run a = ours(frames, preset);
    const Run b = ffmpeg(frames, preset, folder);
    std::printf("%dx%d, %zu frames, preset %s, 6 Mbit/s\n", width, height, frames.size(), preset);
    std::printf("  ours   (libyuv + x264):  %6.2f ms CPU a frame  PSNR %5.2f dB  %5.2f Mbit/s\n", a.cpuMsPerFrame, a.psnr,
                a.bitsPerSecond / 1e6);
    std::printf("  ffmpeg (swscale + x264): %6.2f ms CPU a frame  PSNR %5.2f dB  %5.2f Mbit/s\n", b.cpuMsPerFrame,
                b.psnr, b.bitsPerSecond / 1e6);
    if (b.cpuMsPerFrame > 0) {
        std::printf("  CPU ratio ours / ffmpeg: %.2f   PSNR difference: %+.2f dB\n", a.cpuMsPerFrame / b.cpuMsPerFrame,
                    a.psnr - b.psnr);
    }
}

// Bits per second over the whole run and the largest single second, against the target.
void printSeconds(const char* side, const Run& run, int percent)
{
    std::vector<double> secondBytes((run.pictureBytes.size() + kFps - 1) / kFps, 0);
    for (std::size_t n = 0; n < run.pictureBytes.size(); ++n) {
        secondBytes[n / kFps] += static_cast<double>(run.pictureBytes[n]);
    }
    double total = 0;
    double largest = 0;
    std::size_t largestSecond = 0;
    for (std::size_t second = 0; second < secondBytes.size(); ++second) {
        total += secondBytes[second];
        if (secondBytes[second] > largest) {
            largest = secondBytes[second];
            largestSecond = second;
        }
    }
    const double target = static_cast<double>(ClientH264Encoder::bitrateFor(percent));
    const double average = total * 8 / static_cast<double>(secondBytes.size());
    std::printf("  %3d %% %-6s: target %5.2f Mbit/s, measured %5.2f (%+5.1f %%), largest second %5.2f Mbit/s "
                "(%+5.1f %% of the limit, second %zu), PSNR %5.2f dB\n",
                percent, side, target / 1e6, average / 1e6, (average / target - 1) * 100, largest * 8 / 1e6,
                (largest * 8 / target - 1) * 100, largestSecond, run.psnr);
}

void bitrateControl(const char* preset, const QTemporaryDir& folder)
{
    std::printf("bitrate control, 1920x1080 scrolling content, 10 s at %d fps, preset %s\n", kFps, preset);
    std::vector<ScreenFrame> frames;
    for (int n = 0; n < 10 * kFps; ++n) {
        frames.push_back(screenAt(1920, 1080, n));
    }
    for (const int percent : {100, 80, 65, 50}) {
        printSeconds("ours", ours(frames, preset, percent), percent);
        printSeconds("ffmpeg", ffmpeg(frames, preset, folder, percent), percent);
    }
}

void jpeg(const QTemporaryDir& folder)
{
    const ScreenFrame frame = screenAt(1920, 1080, 0);
    ClientJpegEncoder encoder;
    constexpr int kRounds = 30;
    const auto started = std::chrono::steady_clock::now();
    qsizetype bytes = 0;
    for (int i = 0; i < kRounds; ++i) {
        bytes = encoder.encode(frame).jpeg.size();
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count() /
                      kRounds;
    std::printf("JPEG 1920x1080, quality %d, 4:2:0: ours %.2f ms a frame (%lld bytes)\n", ClientJpegEncoder::kQuality,
                ms, static_cast<long long>(bytes));
    // tjbench reads the same frame as a binary PPM.
    const QString ppm = folder.filePath(QStringLiteral("frame.ppm"));
    QFile file(ppm);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QByteArray("P6\n1920 1080\n255\n"));
    QByteArray rgb;
    rgb.reserve(1920 * 1080 * 3);
    for (std::size_t i = 0; i < frame.pixels.size(); i += 4) {
        rgb.append(static_cast<char>(frame.pixels[i + 2]));
        rgb.append(static_cast<char>(frame.pixels[i + 1]));
        rgb.append(static_cast<char>(frame.pixels[i]));
    }
    file.write(rgb);
    file.close();
    QProcess tjbench;
    tjbench.setWorkingDirectory(folder.path());
    tjbench.start(QStringLiteral("tjbench"), {ppm, QString::number(ClientJpegEncoder::kQuality),
                                              QStringLiteral("-subsamp"), QStringLiteral("420"),
                                              QStringLiteral("-benchtime"), QStringLiteral("2"),
                                              QStringLiteral("-quiet")});
    if (tjbench.waitForFinished(120'000)) {
        std::printf("  tjbench on the same frame (compression and decompression, Mpixels/s):\n%s",
                    tjbench.readAllStandardOutput().constData());
    } else {
        std::printf("  tjbench did not run\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    const char* preset = argc > 1 ? argv[1] : ClientH264Encoder::kPreset;
    QTemporaryDir folder;
    compare(1920, 1080, preset, folder);
    compare(2560, 1440, preset, folder);
    bitrateControl(preset, folder);
    jpeg(folder);
    return 0;
}
