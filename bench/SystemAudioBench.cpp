// The client's system-audio pipeline measured on this machine, beside ffmpeg on the same sound.
// A private PulseAudio daemon plays its own 1 kHz sine (module-sine) into a null sink, the
// default; PulseSystemAudioCapturer records that sink's monitor into ClientSystemAudioCapture on
// a real audio runner (a SerialQueue under the audio thread's label), as the client wires them:
//
//   - CPU of this process per second of audio captured (getrusage), and by thread, at
//     "data_saver", "automatic" and "maximum";
//   - packet cadence: packets a second, the largest gap between two packets and its p99;
//   - latency inside the client, from the capturer handing a buffer over (libpulse's thread
//     posting it to the audio runner) to the packet handler: for the buffer that completed the
//     packet, and for the buffer that brought the packet's first sample;
//   - end to end: a tone burst after silence, written by a playback stream of our own (10 ms
//     target buffer), until the first packet, which silence cannot send; 40 bursts;
//   - ffmpeg recording the same monitor into libopus at 64 kbit/s in 20 ms frames: its CPU per
//     second of audio, three runs with PulseAudio's default fragments and three with the
//     client's 20 ms ones.
//
// A plain main(): run by hand, `build/bench/system_audio_bench [seconds]` (each window, default
// 10 s); needs pulseaudio, pactl and ffmpeg (packages pulseaudio, pulseaudio-utils, ffmpeg).
#include "media/ClientSystemAudioCapture.h"
#include "platform/SerialQueue.h"
#include "platform/ThreadContext.h"
#include "platform/linux/PulseSystemAudioCapturer.h"
#include "platform/linux/SystemClock.h"
#include "support/PulseAudioServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <pulse/simple.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kRate = ClientSystemAudioCapture::kSampleRate;
constexpr std::size_t kPacketFrames = ClientSystemAudioCapture::kPacketFrames;

std::chrono::seconds window = 10s;
constexpr int kBursts = 40;

double msOf(Steady::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double secondsOf(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return secondsOf(usage);
}

// CPU seconds of each thread of a process ("self" or a pid) so far, summed by thread name.
// schedstat is the scheduler's own count in nanoseconds, finer than the ticks of /proc/.../stat.
std::map<std::string, double> threadCpuSeconds(const QString& process = QStringLiteral("self"))
{
    std::map<std::string, double> byName;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(process));
    // The main thread carries the program's name; it is called "main" here.
    const QString mainTid = process == QStringLiteral("self") ? QString::number(getpid()) : process;
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile schedstat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (comm.open(QIODevice::ReadOnly) && schedstat.open(QIODevice::ReadOnly)) {
            const std::string name = tid == mainTid ? "main" : comm.readAll().trimmed().toStdString();
            byName[name] += schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
        }
    }
    return byName;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// The audio runner, noting when each piece of work was posted. The capturer posts one buffer a
// post, from libpulse's thread right after reading it: that moment is the hand-over.
class StampingRunner final : public TaskRunner {
public:
    explicit StampingRunner(TaskRunner& inner)
        : inner_(inner)
    {
    }

    void post(Work work) override
    {
        inner_.post([this, at = Steady::now(), work = std::move(work)]() mutable {
            postedAt_ = at;
            work();
        });
    }
    TaskHandle postDelayed(Duration delay, Work work) override { return inner_.postDelayed(delay, std::move(work)); }
    TaskHandle postRepeating(Duration interval, Work work) override
    {
        return inner_.postRepeating(interval, std::move(work));
    }
    bool isCurrent() const override { return inner_.isCurrent(); }

    // When the work running now was posted. The runner's own thread.
    Steady::time_point postedAt() const { return postedAt_; }

private:
    TaskRunner& inner_;
    Steady::time_point postedAt_;
};

// What the pipeline did during one measurement window.
struct Window {
    std::size_t frames = 0;
    std::vector<Steady::time_point> handOvers;
    std::vector<Steady::time_point> packets;
    std::vector<double> completingMs; // hand-over of the buffer that completed the packet -> packet
    std::vector<double> firstSampleMs; // hand-over of the packet's first sample -> packet
};

// The capturer feeding the encoder on the audio runner, the handler doing what
// ClientSystemAudioWorker's does (process the buffer) plus the bench's notes. The main thread
// waits on what the audio runner notes, on a condition variable: spinning Qt's event loop meanwhile
// would burn a core of this very process.
class Pipeline {
public:
    Pipeline(SerialQueue& queue, const std::string& server)
        : queue_(queue)
        , runner_(queue)
        , capture_(ClientDiagnosticLog::shared(), SystemClock::instance(), [this](const auto&) { onPacket(); })
        , capturer_(std::make_unique<PulseSystemAudioCapturer>(runner_, server))
    {
    }

    ~Pipeline()
    {
        queue_.sync([this] { capturer_.reset(); });
        // Buffers posted before the capturer stopped still pass through runner_: let them go first.
        queue_.sync([] {});
    }

    StartResult start(const std::string& quality)
    {
        return queue_.sync([&] {
            capture_.configure(true, audioQualityNamed(quality));
            return capturer_->start([this](const AudioBuffer& buffer) { onBuffer(buffer); });
        });
    }

    void configure(const std::string& quality)
    {
        queue_.sync([&] { capture_.configure(true, audioQualityNamed(quality)); });
    }

    // The window from now until it holds `frames` of sound; empty when they did not come in time.
    std::optional<Window> record(std::size_t frames)
    {
        std::unique_lock lock(mutex_);
        window_ = Window{};
        wantedFrames_ = frames;
        recording_ = true;
        const bool filled = changed_.wait_for(lock, window * 3 + 5s, [&] { return window_.frames >= frames; });
        recording_ = false;
        if (!filled) {
            return std::nullopt;
        }
        return std::move(window_);
    }

    // Returns once no packet came for `quiet`.
    void waitForQuiet(std::chrono::milliseconds quiet)
    {
        std::unique_lock lock(mutex_);
        for (std::size_t seen = packetCount_; changed_.wait_for(lock, quiet, [&] { return packetCount_ != seen; });) {
            seen = packetCount_;
        }
    }

    // From now on the first packet's time is kept for waitForArmedPacket().
    void arm()
    {
        const std::lock_guard lock(mutex_);
        armedPacket_.reset();
        armed_ = true;
    }

    std::optional<Steady::time_point> waitForArmedPacket(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return armedPacket_.has_value(); });
        armed_ = false;
        return armedPacket_;
    }

private:
    struct HandOver {
        std::size_t endFrame; // frames received up to the end of this buffer
        Steady::time_point at;
    };

    // Audio runner.
    void onBuffer(const AudioBuffer& buffer)
    {
        const Steady::time_point handedAt = runner_.postedAt();
        const std::size_t before = received_;
        received_ += buffer.frameCount;
        handOvers_.push_back({received_, handedAt});
        sent_.clear();
        capture_.process(buffer);
        // Every whole 20 ms is encoded, counted from the first buffer (the encoder stays enabled):
        // the packets completed by this buffer are these, in order, one packet each unless silent.
        const std::size_t firstPacket = before / kPacketFrames;
        const std::size_t endPacket = received_ / kPacketFrames;
        bool filled = false;
        {
            const std::lock_guard lock(mutex_);
            if (recording_) {
                window_.frames += buffer.frameCount;
                window_.handOvers.push_back(handedAt);
                if (sent_.size() == endPacket - firstPacket) {
                    for (std::size_t i = 0; i < sent_.size(); ++i) {
                        window_.completingMs.push_back(msOf(sent_[i] - handedAt));
                        window_.firstSampleMs.push_back(msOf(sent_[i] - handedAtOf((firstPacket + i) * kPacketFrames)));
                    }
                }
                filled = window_.frames >= wantedFrames_;
            }
        }
        // Only when the waiter may go on: its wake-ups are this process's CPU too.
        if (filled) {
            changed_.notify_all();
        }
        while (!handOvers_.empty() && handOvers_.front().endFrame <= endPacket * kPacketFrames) {
            handOvers_.pop_front();
        }
    }

    // Audio runner, inside process().
    void onPacket()
    {
        const Steady::time_point at = Steady::now();
        sent_.push_back(at);
        bool waited = false;
        {
            const std::lock_guard lock(mutex_);
            ++packetCount_;
            if (recording_) {
                window_.packets.push_back(at);
            }
            if (armed_ && !armedPacket_) {
                armedPacket_ = at;
            }
            // waitForQuiet() and waitForArmedPacket() wait outside the windows.
            waited = !recording_;
        }
        if (waited) {
            changed_.notify_all();
        }
    }

    Steady::time_point handedAtOf(std::size_t frame) const
    {
        const auto holder = std::find_if(handOvers_.begin(), handOvers_.end(),
                                         [&](const HandOver& handOver) { return handOver.endFrame > frame; });
        return holder == handOvers_.end() ? Steady::time_point() : holder->at;
    }

    SerialQueue& queue_;
    StampingRunner runner_;
    ClientSystemAudioCapture capture_;
    std::unique_ptr<PulseSystemAudioCapturer> capturer_;

    // Audio runner only.
    std::size_t received_ = 0;
    std::deque<HandOver> handOvers_; // the buffers the next packets are made of
    std::vector<Steady::time_point> sent_; // packets sent during the current process()

    // Shared with the main thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    Window window_;
    bool recording_ = false;
    std::size_t wantedFrames_ = 0;
    std::size_t packetCount_ = 0;
    bool armed_ = false;
    std::optional<Steady::time_point> armedPacket_;
};

// A playback stream of our own on the default sink with a 10 ms target buffer, kept running on
// silence in 5 ms chunks so that a burst does not wait for the stream to start.
//
// A burst starts at a random frame: starting on chunk boundaries only would hit the same few
// places of the 20 ms packets (the same few latencies) all through a run. The time it was written
// is that of its chunk's write plus its place in the chunk.
class BurstPlayer {
public:
    static constexpr int kChunkFrames = kRate / 200;
    static constexpr int kToneFrames = kRate / 10;

    explicit BurstPlayer(const std::string& server)
    {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kRate, 2};
        const auto any = static_cast<std::uint32_t>(-1);
        const pa_buffer_attr attributes{any, static_cast<std::uint32_t>(kRate / 100 * 8), any, any, any};
        int error = 0;
        stream_ = pa_simple_new(server.c_str(), "system_audio_bench", PA_STREAM_PLAYBACK, nullptr, "tone bursts", &format,
                                nullptr, &attributes, &error);
        if (stream_) {
            thread_ = std::thread([this] { run(); });
        }
    }

    ~BurstPlayer()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        if (stream_) {
            pa_simple_free(stream_);
        }
    }

    bool playing() const { return stream_ != nullptr; }

    // Plays 100 ms of a 1 kHz tone after 0 to 20 ms of silence; returns once its first sample was
    // written, with when that was.
    std::optional<Steady::time_point> burst()
    {
        std::unique_lock lock(mutex_);
        silenceLeft_ = std::uniform_int_distribution<int>(0, static_cast<int>(kPacketFrames) - 1)(random_);
        toneLeft_ = kToneFrames;
        firstWritten_.reset();
        changed_.wait_for(lock, 2s, [&] { return firstWritten_.has_value(); });
        return firstWritten_;
    }

    // PulseAudio's playback latency of the stream, reported at each burst's first chunk, in ms.
    std::vector<double> reportedLatencies() const
    {
        const std::lock_guard lock(mutex_);
        return latenciesMs_;
    }

private:
    void run()
    {
        std::vector<float> chunk(kChunkFrames * 2);
        for (;;) {
            int toneStart = -1; // the burst's first frame in this chunk
            {
                const std::lock_guard lock(mutex_);
                if (stopping_) {
                    return;
                }
                for (int i = 0; i < kChunkFrames; ++i) {
                    float value = 0;
                    if (silenceLeft_ > 0) {
                        --silenceLeft_;
                    } else if (toneLeft_ > 0) {
                        // A cosine: the burst's very first sample is already loud.
                        const int frame = kToneFrames - toneLeft_--;
                        toneStart = frame == 0 ? i : toneStart;
                        value = 0.5F * static_cast<float>(std::cos(2 * std::numbers::pi * 1000 * frame / kRate));
                    }
                    chunk[static_cast<std::size_t>(i) * 2] = value;
                    chunk[static_cast<std::size_t>(i) * 2 + 1] = value;
                }
            }
            int error = 0;
            if (pa_simple_write(stream_, chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
                return;
            }
            if (toneStart >= 0) {
                const Steady::time_point written =
                    Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(
                                        static_cast<double>(toneStart) / kRate));
                const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
                const std::lock_guard lock(mutex_);
                firstWritten_ = written;
                latenciesMs_.push_back(static_cast<double>(latency) / 1000.0);
                changed_.notify_all();
            }
        }
    }

    pa_simple* stream_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    int silenceLeft_ = 0;
    int toneLeft_ = 0;
    std::mt19937 random_{20}; // the same starts every run
    std::optional<Steady::time_point> firstWritten_;
    std::vector<double> latenciesMs_;
    std::thread thread_; // last: starts after the members it uses
};

// One quality's window, with the CPU the process spent meanwhile.
struct QualityRun {
    std::string quality;
    Window window;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    std::map<std::string, double> threadSeconds;

    double audioSeconds() const { return static_cast<double>(window.frames) / kRate; }
    double cpuMsPerAudioSecond() const { return cpuSeconds * 1000 / audioSeconds(); }
    double threadMs(const std::string& name) const
    {
        return threadSeconds.contains(name) ? threadSeconds.at(name) * 1000 / audioSeconds() : 0.0;
    }
    static std::vector<double> gapsMs(const std::vector<Steady::time_point>& times)
    {
        std::vector<double> gaps;
        for (std::size_t i = 1; i < times.size(); ++i) {
            gaps.push_back(msOf(times[i] - times[i - 1]));
        }
        return gaps;
    }
};

std::optional<QualityRun> measureQuality(Pipeline& pipeline, const std::string& quality)
{
    pipeline.configure(quality);
    // A second for the new encoder and the stream to settle.
    if (!pipeline.record(kRate)) {
        return std::nullopt;
    }
    QualityRun run{quality, {}, 0, 0, {}};
    const auto threadsBefore = threadCpuSeconds();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const Steady::time_point started = Steady::now();
    auto recorded = pipeline.record(static_cast<std::size_t>(window.count()) * kRate);
    run.wallSeconds = msOf(Steady::now() - started) / 1000;
    run.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    if (!recorded) {
        return std::nullopt;
    }
    run.window = std::move(*recorded);
    for (const auto& [name, seconds] : threadCpuSeconds()) {
        run.threadSeconds[name] = seconds - (threadsBefore.contains(name) ? threadsBefore.at(name) : 0.0);
    }
    return run;
}

// PulseAudio's own 1 kHz sine into the sink for as long as it stays loaded: a steady stream.
// PulseAudio's own figures: the sink's format and our record stream's latencies (the only source
// output), as a line to print.
QString pulseFigures(const PulseAudioServer& server)
{
    const QString sinks = server.query({QStringLiteral("list"), QStringLiteral("sinks")}).value_or(QString());
    const QString outputs = server.query({QStringLiteral("list"), QStringLiteral("source-outputs")}).value_or(QString());
    const auto usec = [&](const char* key) {
        const auto match = QRegularExpression(QStringLiteral("%1: (\\d+) usec").arg(QLatin1String(key))).match(outputs);
        return match.hasMatch() ? match.captured(1).toDouble() / 1000.0 : -1.0;
    };
    const auto sinkFormat = QRegularExpression(QStringLiteral("Sample Specification: (.*)")).match(sinks).captured(1);
    return QStringLiteral("  PulseAudio: sink \"speakers\" runs at %1; record stream (automatic): buffer latency %2 ms, "
                          "source latency %3 ms")
        .arg(sinkFormat)
        .arg(usec("Buffer Latency"), 0, 'f', 2)
        .arg(usec("Source Latency"), 0, 'f', 2);
}

// Tone bursts after silence: their first written chunk to the first packet, in ms.
std::vector<double> endToEnd(Pipeline& pipeline, BurstPlayer& player, int bursts)
{
    std::vector<double> latencies;
    for (int i = 0; i < bursts; ++i) {
        pipeline.waitForQuiet(250ms);
        pipeline.arm();
        const auto written = player.burst();
        const auto sent = pipeline.waitForArmedPacket(2s);
        if (written && sent) {
            latencies.push_back(msOf(*sent - *written));
        }
    }
    return latencies;
}

double total(const std::map<std::string, double>& byName)
{
    double sum = 0;
    for (const auto& entry : byName) {
        sum += entry.second;
    }
    return sum;
}

// ffmpeg recording the monitor into libopus at 64 kbit/s in 20 ms frames at complexity 9 (the
// client keeps libopus's default, 9; ffmpeg's own is 10), `input` being options of its pulse
// input: its threads' CPU over one window after 2 s of start-up (its input runs in real time, so
// a wall second is a second of audio), and over its whole run of window + 4 s (getrusage of the
// child once it ended: the only child ending meanwhile).
struct ChildRun {
    double windowMsPerSecond = -1;
    double wholeMsPerSecond = -1;
};

ChildRun ffmpegRun(const QString& server, const QStringList& input)
{
    const int seconds = static_cast<int>(window.count()) + 4;
    QProcess ffmpeg;
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                             QStringLiteral("-nostdin"), QStringLiteral("-f"), QStringLiteral("pulse"),
                             QStringLiteral("-server"), server} +
                     input +
                     QStringList{QStringLiteral("-i"), QStringLiteral("speakers.monitor"), QStringLiteral("-t"),
                                 QString::number(seconds), QStringLiteral("-c:a"), QStringLiteral("libopus"),
                                 QStringLiteral("-b:a"), QStringLiteral("64k"), QStringLiteral("-frame_duration"),
                                 QStringLiteral("20"), QStringLiteral("-compression_level"), QStringLiteral("9"),
                                 QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")});
    ChildRun run;
    // waitForFinished() returning early means ffmpeg ended before the window did: no figure then.
    if (!ffmpeg.waitForStarted() || ffmpeg.waitForFinished(2000)) {
        std::printf("  ffmpeg ended early: %s\n", ffmpeg.readAllStandardError().constData());
        return run;
    }
    const QString pid = QString::number(ffmpeg.processId());
    const double before = total(threadCpuSeconds(pid));
    const Steady::time_point started = Steady::now();
    if (!ffmpeg.waitForFinished(static_cast<int>(window.count()) * 1000)) {
        run.windowMsPerSecond = (total(threadCpuSeconds(pid)) - before) * 1000 / (msOf(Steady::now() - started) / 1000);
    }
    if (!ffmpeg.waitForFinished((seconds + 30) * 1000) || ffmpeg.exitCode() != 0) {
        std::printf("  ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return {};
    }
    run.wholeMsPerSecond = (cpuSeconds(RUSAGE_CHILDREN) - childrenBefore) * 1000 / seconds;
    return run;
}

// Prints three ffmpeg runs (one varies a lot from the next); returns their median ms of CPU per
// s of audio in the window, or -1.
double printFfmpeg(const QString& server, const char* label, const QStringList& input)
{
    std::vector<double> windows;
    std::vector<double> wholes;
    for (int i = 0; i < 3; ++i) {
        const ChildRun run = ffmpegRun(server, input);
        if (run.windowMsPerSecond >= 0 && run.wholeMsPerSecond >= 0) {
            windows.push_back(run.windowMsPerSecond);
            wholes.push_back(run.wholeMsPerSecond);
        }
    }
    if (windows.empty()) {
        return -1;
    }
    const double median = percentile(windows, 0.5);
    std::printf("    %s, %zu runs: %.2f ms CPU per s of audio over %lld s (%.2f %% of one core), runs %.2f to %.2f\n",
                label, windows.size(), median, static_cast<long long>(window.count()), median / 10,
                percentile(windows, 0), percentile(windows, 1));
    std::printf("      whole runs, %lld s of audio and start-up: %.2f ms CPU per s of audio, runs %.2f to %.2f\n",
                static_cast<long long>(window.count() + 4), percentile(wholes, 0.5), percentile(wholes, 0),
                percentile(wholes, 1));
    return median;
}

void printRow(const char* label, const std::vector<QualityRun>& runs, int decimals,
              const std::function<double(const QualityRun&)>& value)
{
    std::printf("  %-52s", label);
    for (const QualityRun& run : runs) {
        std::printf(" %12.*f", decimals, value(run));
    }
    std::printf("\n");
}

void printSteady(const std::vector<QualityRun>& runs)
{
    std::printf("\n  %-52s", "");
    for (const QualityRun& run : runs) {
        std::printf(" %12s", run.quality.c_str());
    }
    std::printf("\n");
    const auto quality = [](const QualityRun& run) { return ClientSystemAudioCapture::qualityFor(audioQualityNamed(run.quality)); };
    printRow("Opus bitrate, kbit/s", runs, 0, [&](const auto& run) { return quality(run).bitrate / 1000.0; });
    printRow("channels", runs, 0, [&](const auto& run) { return quality(run).channels; });
    printRow("audio captured in the window, s", runs, 2, [](const auto& run) { return run.audioSeconds(); });
    printRow("CPU of the process, ms per s of audio", runs, 2, [](const auto& run) { return run.cpuMsPerAudioSecond(); });
    printRow("CPU of the process, % of one core", runs, 2,
             [](const auto& run) { return run.cpuSeconds * 100 / run.wallSeconds; });
    printRow("CPU of system-audio + threaded-ml, ms per s of audio", runs, 2, [](const auto& run) {
        return run.threadMs("system-audio") + run.threadMs("threaded-ml");
    });
    std::map<std::string, double> threads;
    for (const QualityRun& run : runs) {
        threads.insert(run.threadSeconds.begin(), run.threadSeconds.end());
    }
    for (const auto& [name, seconds] : threads) {
        const std::string label = "  thread " + name + ", ms per s of audio";
        printRow(label.c_str(), runs, 2, [&](const auto& run) { return run.threadMs(name); });
    }
    printRow("buffers handed over per second", runs, 1,
             [](const auto& run) { return static_cast<double>(run.window.handOvers.size()) / run.wallSeconds; });
    printRow("frames per buffer, mean", runs, 0, [](const auto& run) {
        return static_cast<double>(run.window.frames) /
               static_cast<double>(std::max<std::size_t>(run.window.handOvers.size(), 1));
    });
    printRow("packets per second", runs, 2,
             [](const auto& run) { return static_cast<double>(run.window.packets.size()) / run.wallSeconds; });
    // Each series as its smallest, median, p99 and largest value.
    const std::vector<std::pair<const char*, std::function<std::vector<double>(const QualityRun&)>>> series{
        {"gap between buffers handed over", [](const auto& run) { return QualityRun::gapsMs(run.window.handOvers); }},
        {"gap between packets", [](const auto& run) { return QualityRun::gapsMs(run.window.packets); }},
        {"completing buffer handed over -> packet", [](const auto& run) { return run.window.completingMs; }},
        {"first sample handed over -> packet", [](const auto& run) { return run.window.firstSampleMs; }},
    };
    const std::pair<const char*, double> shares[] = {{"smallest", 0.0}, {"p50", 0.5}, {"p99", 0.99}, {"largest", 1.0}};
    for (const auto& [name, values] : series) {
        for (const auto& [which, share] : shares) {
            const std::string label = std::string(name) + ", " + which + " ms";
            printRow(label.c_str(), runs, 3, [&](const auto& run) { return percentile(values(run), share); });
        }
    }
}

void printMachine()
{
    QString model;
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                model = QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("machine: %ld cores (nproc), %s, load average %.2f %.2f %.2f at the start\n", sysconf(_SC_NPROCESSORS_ONLN),
                qPrintable(model), load[0], load[1], load[2]);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc > 1) {
        window = std::chrono::seconds(std::max(3, std::atoi(argv[1])));
    }
    for (const char* tool : {"pulseaudio", "pactl", "ffmpeg"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("%s is missing\n", tool);
        }
    }
    std::printf("system audio: PulseSystemAudioCapturer -> ClientSystemAudioCapture (Opus, 20 ms packets) on a "
                "SerialQueue audio runner\n");
    printMachine();
    PulseAudioServer server;
    if (server.server().isEmpty() || !server.playSine()) {
        std::printf("the private pulseaudio did not start or play its sine\n");
        return 1;
    }
    std::printf("sound: a private pulseaudio, null sink \"speakers\" playing module-sine 1 kHz, recorded from its "
                "monitor; %lld s windows\n",
                static_cast<long long>(window.count()));
    std::printf("the process holds the audio runner (system-audio), libpulse's thread (threaded-ml), the diagnostic "
                "log's queue and the main thread waiting; the pulseaudio daemon is not counted\n");

    SerialQueue audio(ThreadContext::label(ThreadContext::Thread::audio));
    std::vector<QualityRun> runs;
    std::vector<double> endToEndMs;
    std::vector<double> playbackLatencyMs;
    QString pulse;
    {
        Pipeline pipeline(audio, server.server().toStdString());
        const StartResult started = pipeline.start("automatic");
        if (!started.succeeded()) {
            std::printf("the capturer did not start: %s\n", started.reason().c_str());
            return 1;
        }
        for (const char* quality : {"data_saver", "automatic", "maximum"}) {
            if (auto run = measureQuality(pipeline, quality)) {
                runs.push_back(std::move(*run));
            } else {
                std::printf("  %s: no sound came in time\n", quality);
            }
        }
        pipeline.configure("automatic");
        pulse = pulseFigures(server);

        server.stopSines();
        BurstPlayer player(server.server().toStdString());
        if (player.playing()) {
            endToEndMs = endToEnd(pipeline, player, kBursts);
            playbackLatencyMs = player.reportedLatencies();
        } else {
            std::printf("  the playback stream did not open\n");
        }
    }
    if (!runs.empty()) {
        printSteady(runs);
    }
    std::printf("\n  end to end, burst's first sample written -> first packet (%zu of %d bursts): smallest %.1f ms, "
                "p50 %.1f ms, p99 %.1f ms, largest %.1f ms\n",
                endToEndMs.size(), kBursts, percentile(endToEndMs, 0), percentile(endToEndMs, 0.5),
                percentile(endToEndMs, 0.99), percentile(endToEndMs, 1));
    std::printf("    PulseAudio's playback latency of that stream (10 ms target) when the burst was written: p50 %.1f "
                "ms\n",
                percentile(playbackLatencyMs, 0.5));

    std::printf("%s\n", qPrintable(pulse));

    // ffmpeg on the same steady sine, our capture stopped: at PulseAudio's default fragments and at ours.
    server.playSine();
    std::printf("\n  ffmpeg -f pulse (s16) -> libopus 64 kbit/s stereo, 20 ms frames, complexity 9, on the same sine, "
                "after 2 s of start-up:\n");
    const double plain = printFfmpeg(server.server(), "PulseAudio's default fragments", {});
    const QString twentyMs = QString::number(kRate / 50 * 2 * 2); // s16 stereo, ffmpeg's pulse format
    const double fragments =
        printFfmpeg(server.server(), "20 ms fragments, as the client asks", {QStringLiteral("-fragment_size"), twentyMs});
    for (const QualityRun& run : runs) {
        if (run.quality == "automatic" && plain > 0 && fragments > 0) {
            std::printf("  client process (automatic) / ffmpeg median: %.2f (default fragments), %.2f (20 ms fragments)\n",
                        run.cpuMsPerAudioSecond() / plain, run.cpuMsPerAudioSecond() / fragments);
        }
    }
    return 0;
}
