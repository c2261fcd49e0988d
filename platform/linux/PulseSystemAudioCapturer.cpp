#include "platform/linux/PulseSystemAudioCapturer.h"

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace doorwarden {

namespace {

constexpr std::uint32_t kRate = 48'000;
constexpr std::uint8_t kChannels = 2;
constexpr std::uint32_t kFragmentBytes = kRate / 50 * kChannels * 4; // 20 ms

} // namespace

// Everything libpulse's thread touches. Its callbacks run with the mainloop locked; the audio
// runner's side locks it for every call into libpulse.
struct PulseSystemAudioCapturer::Connection : std::enable_shared_from_this<Connection> {
    TaskRunner& audio;
    Handler handler;
    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::string source;             // the monitor recorded from
    std::atomic<bool> running{true}; // false once stopped: posted buffers are dropped
    mutable std::mutex sourceMutex;

    explicit Connection(TaskRunner& runner)
        : audio(runner)
    {
    }

    ~Connection() { close(); }

    void close()
    {
        running = false;
        if (!mainloop) {
            return;
        }
        pa_threaded_mainloop_lock(mainloop);
        if (stream) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        pa_threaded_mainloop_unlock(mainloop);
        pa_threaded_mainloop_stop(mainloop);
        pa_threaded_mainloop_free(mainloop);
        mainloop = nullptr;
    }

    std::string currentSource() const
    {
        const std::lock_guard lock(sourceMutex);
        return source;
    }

    // ---- libpulse's thread, mainloop locked ----

    static void onContextState(pa_context*, void* self)
    {
        pa_threaded_mainloop_signal(static_cast<Connection*>(self)->mainloop, 0);
    }

    static void onServerEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t, void* self)
    {
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
            pa_operation_unref(pa_context_get_server_info(context, &Connection::onServerInfo, self));
        }
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* self)
    {
        auto& connection = *static_cast<Connection*>(self);
        if (info && info->default_sink_name) {
            connection.follow(std::string(info->default_sink_name) + ".monitor");
        }
        pa_threaded_mainloop_signal(connection.mainloop, 0);
    }

    static void onRead(pa_stream* stream, std::size_t, void* self)
    {
        auto& connection = *static_cast<Connection*>(self);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
            if (data) { // a hole in the stream has no data: nothing was played there
                connection.deliver(static_cast<const std::uint8_t*>(data), bytes);
            }
            pa_stream_drop(stream);
        }
    }

    // Records from `monitor` from now on (nothing when it already does).
    void follow(const std::string& monitor)
    {
        {
            const std::lock_guard lock(sourceMutex);
            if (monitor == source && stream) {
                return;
            }
            source = monitor;
        }
        if (stream) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        stream = pa_stream_new(context, "Doorwarden system audio", &format, nullptr);
        if (!stream) {
            return;
        }
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = kFragmentBytes;
        pa_stream_set_read_callback(stream, &Connection::onRead, this);
        pa_stream_connect_record(stream, monitor.c_str(), &attributes,
                                 static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));
    }

    void deliver(const std::uint8_t* data, std::size_t bytes)
    {
        const std::size_t frameBytes = kChannels * 4;
        AudioBuffer buffer{AudioSampleFormat::float32, kRate, kChannels, bytes / frameBytes,
                           std::vector<std::uint8_t>(data, data + bytes / frameBytes * frameBytes)};
        if (buffer.frameCount == 0) {
            return;
        }
        audio.post([weak = weak_from_this(), buffer = std::move(buffer)] {
            const auto self = weak.lock();
            if (self && self->running && self->handler) {
                self->handler(buffer);
            }
        });
    }
};

PulseSystemAudioCapturer::PulseSystemAudioCapturer(TaskRunner& audio, std::string server)
    : audio_(audio)
    , server_(std::move(server))
{
}

PulseSystemAudioCapturer::~PulseSystemAudioCapturer()
{
    stop();
}

StartResult PulseSystemAudioCapturer::start(Handler handler)
{
    stop();
    auto connection = std::make_shared<Connection>(audio_);
    connection->handler = std::move(handler);
    connection->mainloop = pa_threaded_mainloop_new();
    if (!connection->mainloop) {
        return StartResult::failure("pulseaudio: no main loop");
    }
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(connection->mainloop);
    connection->context = pa_context_new(api, "Doorwarden");
    if (!connection->context || pa_threaded_mainloop_start(connection->mainloop) < 0) {
        return StartResult::failure("pulseaudio: no context");
    }
    pa_threaded_mainloop_lock(connection->mainloop);
    pa_context_set_state_callback(connection->context, &Connection::onContextState, connection.get());
    const int connected = pa_context_connect(connection->context, server_.empty() ? nullptr : server_.c_str(),
                                             PA_CONTEXT_NOAUTOSPAWN, nullptr);
    // A local server answers or refuses at once; there is no network to wait for.
    pa_context_state_t state = pa_context_get_state(connection->context);
    while (connected >= 0 && PA_CONTEXT_IS_GOOD(state) && state != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(connection->mainloop);
        state = pa_context_get_state(connection->context);
    }
    if (state != PA_CONTEXT_READY) {
        const std::string reason = std::string("pulseaudio: ") + pa_strerror(pa_context_errno(connection->context));
        pa_threaded_mainloop_unlock(connection->mainloop);
        return StartResult::failure(reason);
    }
    // The default sink now, and again whenever the server's defaults change.
    pa_context_set_subscribe_callback(connection->context, &Connection::onServerEvent, connection.get());
    pa_operation_unref(pa_context_subscribe(connection->context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
    pa_operation* info = pa_context_get_server_info(connection->context, &Connection::onServerInfo, connection.get());
    while (info && pa_operation_get_state(info) == PA_OPERATION_RUNNING) {
        pa_threaded_mainloop_wait(connection->mainloop);
    }
    if (info) {
        pa_operation_unref(info);
    }
    const bool recording = connection->stream != nullptr;
    pa_threaded_mainloop_unlock(connection->mainloop);
    if (!recording) {
        return StartResult::failure("pulseaudio: no default sink to record from");
    }
    connection_ = std::move(connection);
    return StartResult::success();
}

void PulseSystemAudioCapturer::stop()
{
    if (connection_) {
        connection_->close();
        connection_.reset();
    }
}

std::string PulseSystemAudioCapturer::sourceName() const
{
    return connection_ ? connection_->currentSource() : std::string();
}

} // namespace doorwarden
