#pragma once

#include "relay/RelayMessage.h"
#include "relay/RelayMessageCodec.h"
#include "relay/RelaySocket.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace doorwarden {

// The test's end of one fake relay socket. It outlives the socket, so a test can still read
// what was sent after the connection let go of it. Nothing happens by itself: the test
// delivers messages, completes sends and fails the socket by hand.
class FakeRelaySocketPeer {
public:
    struct Sent {
        bool binary = false;
        QByteArray bytes;
        RelaySocket::Completion done;
        bool completed = false;
    };

    // What the socket was opened with; empty before open().
    QUrl url;
    int openCount = 0;
    bool closed = false;
    bool failed = false;
    bool destroyed = false;
    // True when the owner destroyed the socket while one of its own callbacks was running.
    bool destroyedInsideCallback = false;
    // Every message handed to the socket, oldest first, including those after close().
    std::vector<Sent> sent;

    // Open, not closed, not failed, not destroyed: callbacks may run.
    bool live() const { return openCount > 0 && !closed && !failed && !destroyed; }

    // One incoming message, text or binary alike.
    void deliver(const QByteArray& bytes)
    {
        if (!live()) {
            return;
        }
        auto onMessage = onMessage_;
        inCallback(onMessage, bytes);
    }
    void deliver(const RelayMessage& message)
    {
        const std::string json = RelayMessageCodec::encode(message);
        deliver(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
    }

    // The connection drops: pending sends complete with false, then the failure is reported
    // (the order the Qt socket keeps).
    void fail(const QString& error)
    {
        if (!live()) {
            return;
        }
        while (completeNext(false)) {
        }
        failed = true;
        auto onFailure = onFailure_;
        inCallback(onFailure, error);
    }

    // Completes the oldest send not yet completed; false when none is pending. After close()
    // or destruction the completion is swallowed, as the socket promises no callbacks then.
    bool completeNext(bool ok)
    {
        for (auto& entry : sent) {
            if (entry.completed) {
                continue;
            }
            entry.completed = true;
            auto done = std::move(entry.done);
            if (done && live()) {
                inCallback(done, ok);
            }
            return true;
        }
        return false;
    }
    // Completes every pending send, including those the completions themselves queue.
    void completeAll(bool ok = true)
    {
        while (completeNext(ok)) {
        }
    }
    // What the socket reports as waiting: the bytes of the sends not yet completed, plus
    // `heldBytes`; 0 once the socket is closed, failed or gone.
    std::int64_t bufferedBytes() const
    {
        if (!live()) {
            return 0;
        }
        std::int64_t bytes = heldBytes;
        for (const auto& entry : sent) {
            bytes += entry.completed ? 0 : entry.bytes.size();
        }
        return bytes;
    }
    // Bytes the socket holds besides the pending sends: those of completed sends that have
    // not reached the network yet (the Qt socket completes a send once it is encrypted).
    std::int64_t heldBytes = 0;

    std::size_t pendingCount() const
    {
        std::size_t count = 0;
        for (const auto& entry : sent) {
            count += entry.completed ? 0 : 1;
        }
        return count;
    }

    // Sent text messages from `from` on, decoded (a message that does not decode is absent).
    std::vector<std::optional<RelayMessage>> texts(std::size_t from = 0) const
    {
        std::vector<std::optional<RelayMessage>> out;
        for (std::size_t i = from; i < sent.size(); ++i) {
            if (!sent[i].binary) {
                const auto& bytes = sent[i].bytes;
                out.push_back(RelayMessageCodec::decode(
                    std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
            }
        }
        return out;
    }
    std::vector<QByteArray> binaries(std::size_t from = 0) const
    {
        std::vector<QByteArray> out;
        for (std::size_t i = from; i < sent.size(); ++i) {
            if (sent[i].binary) {
                out.push_back(sent[i].bytes);
            }
        }
        return out;
    }

private:
    friend class FakeRelaySocket;

    template <typename Callback, typename Argument>
    void inCallback(const Callback& callback, const Argument& argument)
    {
        ++callbackDepth_;
        callback(argument);
        --callbackDepth_;
    }

    std::function<void(const QByteArray&)> onMessage_;
    std::function<void(const QString&)> onFailure_;
    int callbackDepth_ = 0;
};

// A RelaySocket that records everything in its peer.
class FakeRelaySocket final : public RelaySocket {
public:
    explicit FakeRelaySocket(std::shared_ptr<FakeRelaySocketPeer> peer)
        : peer_(std::move(peer))
    {
    }
    ~FakeRelaySocket() override
    {
        peer_->destroyed = true;
        if (peer_->callbackDepth_ > 0) {
            peer_->destroyedInsideCallback = true;
        }
    }

    void open(const QUrl& url, std::function<void(const QByteArray&)> onMessage,
              std::function<void(const QString&)> onFailure) override
    {
        peer_->url = url;
        ++peer_->openCount;
        peer_->onMessage_ = std::move(onMessage);
        peer_->onFailure_ = std::move(onFailure);
    }
    void sendText(const QByteArray& utf8, Completion done) override
    {
        peer_->sent.push_back({false, utf8, std::move(done), false});
    }
    void sendBinary(const QByteArray& bytes, Completion done) override
    {
        peer_->sent.push_back({true, bytes, std::move(done), false});
    }
    std::int64_t bufferedBytes() const override { return peer_->bufferedBytes(); }
    void close() override { peer_->closed = true; }

private:
    std::shared_ptr<FakeRelaySocketPeer> peer_;
};

// Makes the sockets a connection asks for and keeps the peer of each, in order of creation.
class FakeRelaySockets {
public:
    std::function<std::unique_ptr<RelaySocket>()> factory()
    {
        return [this] {
            peers_.push_back(std::make_shared<FakeRelaySocketPeer>());
            return std::make_unique<FakeRelaySocket>(peers_.back());
        };
    }

    std::size_t count() const { return peers_.size(); }
    FakeRelaySocketPeer& at(std::size_t index) { return *peers_.at(index); }
    FakeRelaySocketPeer& last() { return *peers_.at(peers_.size() - 1); }

private:
    std::vector<std::shared_ptr<FakeRelaySocketPeer>> peers_;
};

} // namespace doorwarden
