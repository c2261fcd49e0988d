// The client's main job, with the real programs: the doorwarden program, headless, captures a
// private Xvfb display on which the test screen draws, and streams it through the development
// relay to the headless viewer, which decodes every frame and saves its picture. What the viewer
// sees is compared with a screenshot of the display.

#include "media/AnnexB.h"
#include "platform/RandrClient.h"
#include "support/DecodedPictureOf.h"
#include "support/Program.h"
#include "support/RelayProcess.h"
#include "support/XvfbServer.h"
#include "viewer/PicturePsnr.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using namespace doorwarden;
using namespace std::chrono_literals;

namespace {

const QString kCode = QStringLiteral("482913");

// One decoded picture as the viewer reports it.
struct Decoded {
    int frame = 0;
    bool key = false;
    int width = 0;
    int height = 0;
};

std::optional<Decoded> decodedLine(const QString& line)
{
    static const QRegularExpression pattern(
        QStringLiteral("^decoded frame=(\\d+) kind=h264 key=(\\d) width=(\\d+) height=(\\d+) "));
    const auto match = pattern.match(line);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return Decoded{match.captured(1).toInt(), match.captured(2) == QStringLiteral("1"), match.captured(3).toInt(),
                   match.captured(4).toInt()};
}

// The payload of the viewer's first "inner" line of `type` (the decrypted message).
QJsonObject innerMessage(Program& viewer, const QString& type)
{
    const QString line = viewer.waitForLine(QStringLiteral("^inner .*\"type\":\"%1\"").arg(type));
    return QJsonDocument::fromJson(line.mid(6).toUtf8()).object();
}

// A client of the test's own on the display: screenshots, a window shown, the screen resized.
class Display : public RandrClient {
public:
    using RandrClient::RandrClient;

    // A filled rectangle in a window of its own, above everything.
    void showBox(int x, int y, int width, int height, std::uint32_t colour)
    {
        const xcb_window_t window = xcb_generate_id(get());
        const std::uint32_t values[] = {colour, 1};
        xcb_create_window(get(), XCB_COPY_FROM_PARENT, window, root(), static_cast<std::int16_t>(x),
                          static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                          static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(get(), window);
        settle();
    }
};

class ScreenStreamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(xvfb.display().isEmpty()) << "Xvfb did not start";
        QString error;
        ASSERT_TRUE(relay.start(QStringLiteral(DOORWARDEN_RELAY_PROGRAM), &error)) << error.toStdString();
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
    }

    void startStreaming(const QStringList& screenArguments)
    {
        screen.start(QStringLiteral(DOORWARDEN_TEST_SCREEN_PROGRAM), screenArguments, environment);
        ASSERT_FALSE(screen.waitForLine(QStringLiteral("^test-screen ready ")).isEmpty());
        client.start(QStringLiteral(DOORWARDEN_CLIENT_PROGRAM), relay.clientArguments(state.path(), kCode), environment);
        ASSERT_FALSE(client.waitForLine(QStringLiteral("^state waitingForViewer$")).isEmpty());
        viewer.start(QStringLiteral(DOORWARDEN_VIEWER_PROGRAM),
                     relay.viewerArguments(kCode) + QStringList{QStringLiteral("--stdin"), QStringLiteral("--verbose"),
                                                                QStringLiteral("--save-frames"), frames.path()});
        ASSERT_FALSE(viewer.waitForLine(QStringLiteral("^encryption_ready$")).isEmpty())
            << client.lines().join(u'\n').toStdString();
    }

    // The decoded pictures the viewer reported from line `from` on.
    std::vector<Decoded> decodedSince(qsizetype from) const
    {
        std::vector<Decoded> out;
        for (qsizetype i = from; i < viewer.lines().size(); ++i) {
            if (const auto decoded = decodedLine(viewer.lines()[i])) {
                out.push_back(*decoded);
            }
        }
        return out;
    }

    // The decoded pictures the viewer reported on lines [from, to).
    std::vector<Decoded> decodedBetween(qsizetype from, qsizetype to) const
    {
        std::vector<Decoded> out;
        for (qsizetype i = from; i < std::min(to, viewer.lines().size()); ++i) {
            if (const auto decoded = decodedLine(viewer.lines()[i])) {
                out.push_back(*decoded);
            }
        }
        return out;
    }

    // The line of the next key frame the viewer decodes from line `from` on, or -1.
    qsizetype nextKeyFrame(qsizetype from)
    {
        return viewer.waitForLineIndex(QStringLiteral("^decoded frame=\\d+ kind=h264 key=1 "), from);
    }

    // The next picture the viewer decodes from line `from` on.
    std::optional<Decoded> nextDecoded(qsizetype from)
    {
        return decodedLine(viewer.waitForLine(QStringLiteral("^decoded frame="), from));
    }

    QString framePath(int frame, const char* extension) const
    {
        return QDir(frames.path()).filePath(QStringLiteral("frame-%1.%2").arg(frame).arg(QLatin1String(extension)));
    }

    // Waits until a decoded picture comes 700 ms or more after the one before: the stream is at
    // its still pace, and the viewer is not working through a backlog. False after 30 s.
    bool waitForStillPace()
    {
        QElapsedTimer sinceLast;
        sinceLast.start();
        std::size_t seen = decodedSince(0).size();
        bool gap = false;
        spinUntil(
            [&] {
                const std::size_t decoded = decodedSince(0).size();
                if (!gap && decoded != seen) {
                    seen = decoded;
                    gap = sinceLast.elapsed() >= 700;
                    sinceLast.restart();
                }
                return gap;
            },
            30s);
        return gap;
    }

    XvfbServer xvfb;
    RelayProcess relay;
    QProcessEnvironment environment;
    QTemporaryDir state;
    QTemporaryDir frames;
    Program screen;
    Program client;
    Program viewer;
};

} // namespace

TEST_F(ScreenStreamingTest, TheViewerSeesTheScreenAndAStillScreenSlowsToAFrameASecond)
{
    startStreaming({QStringLiteral("--static")});

    const QJsonObject info = innerMessage(viewer, QStringLiteral("screen_info"));
    EXPECT_EQ(info[QStringLiteral("screenInfo")][QStringLiteral("width")].toInt(), 1280);
    EXPECT_EQ(info[QStringLiteral("screenInfo")][QStringLiteral("height")].toInt(), 800);

    // The first frame: a key frame with its parameter sets, at the screen's size.
    const auto first = nextDecoded(0);
    ASSERT_TRUE(first) << viewer.lines().join(u'\n').toStdString();
    EXPECT_TRUE(first->key);
    EXPECT_EQ(first->width, 1280);
    EXPECT_EQ(first->height, 800);
    QFile firstFile(framePath(first->frame, "h264"));
    ASSERT_TRUE(firstFile.open(QIODevice::ReadOnly));
    std::vector<std::uint8_t> types;
    for (const auto& nal : annexB::split(firstFile.readAll())) {
        types.push_back(annexB::typeOf(nal));
    }
    EXPECT_EQ(std::vector<std::uint8_t>(types.begin(), types.begin() + std::min<std::size_t>(2, types.size())),
              (std::vector<std::uint8_t>{7, 8}));
    EXPECT_NE(std::find(types.begin(), types.end(), 5), types.end());

    // Still: about one frame a second, counted on the encoder's own clock, which makes a key
    // frame every 4 s: on a still screen they are some 4 frames apart (at full rate, 120).
    // Counted once the viewer, which saves every picture as PNG, has caught up with the first
    // seconds.
    ASSERT_TRUE(waitForStillPace()) << "no second without frames";
    const qsizetype firstKey = nextKeyFrame(viewer.lines().size());
    ASSERT_GE(firstKey, 0);
    const qsizetype secondKey = nextKeyFrame(firstKey + 1);
    ASSERT_GE(secondKey, 0);
    const auto still = decodedBetween(firstKey, secondKey); // a key frame and what refines it
    EXPECT_GE(still.size(), 2u);
    EXPECT_LE(still.size(), 6u) << "a still screen is sent at about 1 frame a second";
    // Each still frame refines the picture until the next periodic key frame starts over; the
    // best picture of the group is held to the mark.
    Display display(xvfb.display());
    const ScreenFrame screenshot = display.screenshot();
    double best = 0;
    double worst = 100;
    for (const auto& frame : still) {
        const double quality = picturePsnr(screenshot, decodedPictureOf(QImage(framePath(frame.frame, "png"))));
        best = std::max(best, quality);
        worst = std::min(worst, quality);
    }
    EXPECT_GE(best, 38.0);
    std::printf("still screen: %zu frames from key frame to key frame, PSNR %.2f to %.2f dB against a screenshot\n",
                still.size(), worst, best);

    // A change reaches the viewer at once, not with the still screen's next frame a second
    // later: made right after a still frame, a picture that shows it comes well before.
    const QColor boxColour(0xc0, 0x30, 0x20);
    const auto showsBox = [&](const Decoded& frame) {
        const QColor seen = QImage(framePath(frame.frame, "png")).pixelColor(350, 250);
        return std::abs(seen.red() - boxColour.red()) < 40 && std::abs(seen.green() - boxColour.green()) < 40 &&
               std::abs(seen.blue() - boxColour.blue()) < 40;
    };
    ASSERT_TRUE(nextDecoded(viewer.lines().size()));
    const qsizetype beforeChange = viewer.lines().size();
    display.showBox(200, 150, 300, 200, boxColour.rgb() & 0xffffff);
    qsizetype checked = beforeChange;
    bool boxSeen = false;
    const auto boxArrived = [&] {
        const auto decoded = decodedBetween(checked, viewer.lines().size());
        checked = viewer.lines().size();
        boxSeen = boxSeen || std::any_of(decoded.begin(), decoded.end(), showsBox);
        return boxSeen;
    };
    EXPECT_TRUE(spinUntil(boxArrived, 600ms)) << "the change waited for the still screen's next frame";
    // And the picture settles on the changed screen.
    const ScreenFrame changedScreen = display.screenshot();
    qsizetype compared = beforeChange;
    bool changedScreenSeen = false;
    const auto showsChangedScreen = [&] {
        const auto decoded = decodedBetween(compared, viewer.lines().size());
        compared = viewer.lines().size();
        changedScreenSeen = changedScreenSeen || std::any_of(decoded.begin(), decoded.end(), [&](const Decoded& frame) {
            return picturePsnr(changedScreen, decodedPictureOf(QImage(framePath(frame.frame, "png")))) >= 30.0;
        });
        return changedScreenSeen;
    };
    EXPECT_TRUE(spinUntil(showsChangedScreen, 5s));


    // A requested key frame comes with the next frame. Asked for right after a periodic one,
    // whose successor comes some 4 frames on at the still pace, the first key frame within 2
    // frames (one may have been on its way) can only be the requested one. The viewer catches
    // up with the frames of the change first.
    ASSERT_TRUE(waitForStillPace());
    const qsizetype periodic = nextKeyFrame(viewer.lines().size());
    ASSERT_GE(periodic, 0);
    viewer.write(QStringLiteral("{\"type\":\"keyframe_request\"}"));
    const qsizetype requested = nextKeyFrame(periodic + 1);
    ASSERT_GE(requested, 0);
    const auto untilRequested = decodedBetween(periodic + 1, requested + 1);
    EXPECT_LE(untilRequested.size(), 2u) << "the key frame came with the periodic ones, not at the request:\n"
                                         << viewer.lines().mid(periodic).join(u'\n').toStdString();
    EXPECT_LT(untilRequested.size(), still.size());

    // The pointer's shape arrives as a PNG with its hotspot inside.
    const QJsonObject shape = innerMessage(viewer, QStringLiteral("cursor_shape"))[QStringLiteral("cursorShape")].toObject();
    const QImage cursor = QImage::fromData(QByteArray::fromBase64(shape[QStringLiteral("pngData")].toString().toLatin1()),
                                           "PNG");
    ASSERT_FALSE(cursor.isNull());
    EXPECT_LT(shape[QStringLiteral("hotspotX")].toInt(), cursor.width());
    EXPECT_LT(shape[QStringLiteral("hotspotY")].toInt(), cursor.height());
}

TEST_F(ScreenStreamingTest, AResizedScreenIsAnnouncedAgainAndTheStreamGoesOnAtTheNewSize)
{
    startStreaming({QStringLiteral("--fps"), QStringLiteral("10")});
    const QString screenInfo = QStringLiteral("^inner .*\"type\":\"screen_info\"");
    const qsizetype announcedFirst = viewer.waitForLineIndex(screenInfo);
    ASSERT_GE(announcedFirst, 0);
    ASSERT_TRUE(nextDecoded(announcedFirst));
    // The output's mode must fit the new size: the output goes off first (the root is the
    // monitor then, as on a server without RandR monitors).
    Display display(xvfb.display());
    display.switchOutputOff();
    display.setScreenSize(1024, 768);
    ASSERT_FALSE(HasFailure());

    const qsizetype announced = viewer.waitForLineIndex(screenInfo, announcedFirst + 1);
    ASSERT_GE(announced, 0) << "no second screen_info";
    const QJsonObject info = QJsonDocument::fromJson(viewer.lines()[announced].mid(6).toUtf8()).object();
    EXPECT_EQ(info[QStringLiteral("screenInfo")][QStringLiteral("width")].toInt(), 1024);
    EXPECT_EQ(info[QStringLiteral("screenInfo")][QStringLiteral("height")].toInt(), 768);
    const auto next = nextDecoded(announced);
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->key);
    EXPECT_EQ(next->width, 1024);
    EXPECT_EQ(next->height, 768);
}
