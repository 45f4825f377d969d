// The screen encoder: setting ranges, picture sizes, subscriptions, key
// frames on request and the end of the stream.
#include "stream/stream_rig.h"

#include "capture/colour_window.h"

using namespace stream_test;
using stream::OutputSize;

namespace {

bool sameSize(OutputSize a, int w, int h) { return a.width == w && a.height == h; }

}  // namespace

TEST(EncoderSettings, RateAndQualityAreBroughtIntoRange) {
    EXPECT_EQ(stream::clampFrameRate(3, 1080), 5);
    EXPECT_EQ(stream::clampFrameRate(45, 1080), 30);
    EXPECT_EQ(stream::clampFrameRate(20, 1080), 20);
    EXPECT_EQ(stream::clampFrameRate(25, 2160), 15);  // tall displays are capped
    EXPECT_EQ(stream::clampFrameRate(10, 2160), 10);
    EXPECT_EQ(stream::clampFrameRate(25, 2048), 25);
    EXPECT_EQ(stream::clampQuality(-1), 0);
    EXPECT_EQ(stream::clampQuality(7), 2);
    EXPECT_EQ(stream::clampQuality(1), 1);
    EXPECT_STREQ(stream::crfFor(0), "42");
    EXPECT_STREQ(stream::crfFor(1), "35");
    EXPECT_STREQ(stream::crfFor(2), "27");
}

TEST(EncoderSettings, PictureSizeTable) {
    using stream::outputSize;
    EXPECT_TRUE(sameSize(outputSize(0, 1920, 1080, false), 1280, 720));
    EXPECT_TRUE(sameSize(outputSize(1, 1920, 1080, false), 1366, 768));
    EXPECT_TRUE(sameSize(outputSize(2, 1920, 1080, false), 1920, 1080));
    EXPECT_TRUE(sameSize(outputSize(1, 1280, 1024, false), 1280, 768));  // height capped alone
    EXPECT_TRUE(sameSize(outputSize(2, 1280, 1024, false), 1280, 1024));
    EXPECT_TRUE(sameSize(outputSize(2, 1920, 1440, false), 1920, 1080));  // squeezed
    EXPECT_TRUE(sameSize(outputSize(0, 1280, 1024, false), 1280, 720));   // fixed, aspect ignored
    EXPECT_TRUE(sameSize(outputSize(0, 1920, 1080, true), 1366, 768));    // the wide variant
    EXPECT_TRUE(sameSize(outputSize(2, 3840, 2160, false), 1920, 1080));
    EXPECT_TRUE(sameSize(outputSize(1, 1024, 768, false), 1024, 768));
    // Odd sizes stay even, as 4:2:0 needs.
    EXPECT_TRUE(sameSize(outputSize(2, 1365, 767, false), 1364, 766));
    // No capture, no picture (and no division by zero).
    EXPECT_TRUE(sameSize(outputSize(1, 0, 0, false), 0, 0));
    EXPECT_TRUE(sameSize(outputSize(2, 0, 0, false), 0, 0));
}

TEST(EncoderSettings, AdvertisedBitrate) {
    EXPECT_EQ(stream::advertisedBitrate(0, 5), 256000);
    EXPECT_EQ(stream::advertisedBitrate(1, 20), 1024000);
    EXPECT_EQ(stream::advertisedBitrate(2, 5), 768000);
    EXPECT_EQ(stream::advertisedBitrate(2, 30), 1881208);  // 768000 * sqrt(6), truncated
    EXPECT_EQ(stream::advertisedBitrate(0, 20), 512000);
}

TEST(Encoder, StreamInfoOnA1920x1080Display) {
    testing_support::PrivateXvfb xvfb(1920, 1080);
    ASSERT_TRUE(xvfb.ok());
    struct Case {
        int rate, quality;
        std::string product;
        int w, h, frameRate, bitrate;
    };
    const Case cases[] = {
        {5, 0, "", 1280, 720, 5, 256000},
        {20, 1, "", 1366, 768, 20, 1024000},
        {3, 7, "", 1920, 1080, 5, 768000},
        {45, 0, stream::kLowQualityWideProductId, 1366, 768, 30, 627069},
    };
    for (const Case& c : cases) {
        EncoderRig rig(1920, 1080, true, c.product);
        rig.set(c.rate, c.quality);
        Sink sink;
        const uint64_t id = sink.subscribe(*rig.encoder);
        ASSERT_TRUE(rig.encoder->isReady());
        const stream::StreamInfo info = rig.encoder->streamInfo();
        EXPECT_EQ(info.width, c.w);
        EXPECT_EQ(info.height, c.h);
        EXPECT_EQ(info.frameRate, c.frameRate);
        EXPECT_EQ(info.bitrate, c.bitrate);
        const Json::Value json = info.toJson();
        EXPECT_EQ(json["width"].asInt(), c.w);
        EXPECT_EQ(json["bitrate"].asInt(), c.bitrate);
        EXPECT_EQ(json.size(), 4u);
        // The capture runs at the encoder's rate while it is subscribed.
        EXPECT_FLOAT_EQ(rig.capture->captureRate(), float(c.frameRate));
        ASSERT_TRUE(sink.waitFor(1));
        EXPECT_TRUE(sink.keyAt(0));  // a stream starts with a key frame
        rig.encoder->unsubscribe(id);
        EXPECT_EQ(rig.capture->consumerCount(), 0u);
    }
}

TEST(Encoder, StreamInfoOnA1280x1024Display) {
    testing_support::PrivateXvfb xvfb(1280, 1024);
    ASSERT_TRUE(xvfb.ok());
    for (int q : {1, 2}) {
        EncoderRig rig(1280, 1024, true);
        rig.set(20, q);
        Sink sink;
        const uint64_t id = sink.subscribe(*rig.encoder);
        const stream::StreamInfo info = rig.encoder->streamInfo();
        EXPECT_EQ(info.width, 1280);
        EXPECT_EQ(info.height, q == 1 ? 768 : 1024);
        ASSERT_TRUE(sink.waitFor(2));
        rig.encoder->unsubscribe(id);
    }
}

TEST(Encoder, ASecondSubscriberGetsAKeyFrameRightAway) {
    EncoderRig rig(320, 240);
    rig.set(30, 1);
    Sink first, second;
    const uint64_t a = first.subscribe(*rig.encoder);
    // Let the stream settle into ordinary pictures.
    ASSERT_TRUE(first.waitFor(4));
    EXPECT_FALSE(first.keyAt(3));
    const uint64_t b = second.subscribe(*rig.encoder);
    EXPECT_NE(a, b);
    ASSERT_TRUE(second.waitFor(2));
    // At most the picture in progress comes before the key frame.
    EXPECT_TRUE(second.keyAt(0) || second.keyAt(1));
    // Both subscribers get the same pictures.
    {
        std::lock_guard<std::mutex> l1(first.mutex);
        std::lock_guard<std::mutex> l2(second.mutex);
        const auto& p = second.pictures[0].data;
        bool found = false;
        for (const auto& q : first.pictures) found = found || q.data == p;
        EXPECT_TRUE(found);
    }
    rig.encoder->unsubscribe(a);
    rig.encoder->unsubscribe(b);
}

TEST(Encoder, KeyFrameOnRequest) {
    EncoderRig rig(320, 240);
    rig.set(30, 0);
    Sink sink;
    const uint64_t id = sink.subscribe(*rig.encoder);
    ASSERT_TRUE(sink.waitFor(3));
    const size_t before = sink.count();
    rig.encoder->requestKeyFrame();
    ASSERT_TRUE(sink.waitFor(before + 3));
    EXPECT_TRUE(sink.keyAt(before) || sink.keyAt(before + 1));
    // SPS and PPS travel inside the key frame (Annex-B, NAL types 7 and 8).
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        const auto& key = sink.pictures[sink.pictures[before].key ? before : before + 1].data;
        ASSERT_GE(key.size(), 5u);
        EXPECT_EQ(key[0], 0);
        EXPECT_EQ(key[1], 0);
        bool sps = false, pps = false;
        for (size_t i = 0; i + 3 < key.size(); ++i) {
            if (key[i] == 0 && key[i + 1] == 0 && key[i + 2] == 1) {
                sps = sps || (key[i + 3] & 0x1f) == 7;
                pps = pps || (key[i + 3] & 0x1f) == 8;
            }
        }
        EXPECT_TRUE(sps);
        EXPECT_TRUE(pps);
    }
    rig.encoder->unsubscribe(id);
}

TEST(Encoder, EverySubscriberStillListedGetsTheEndOnce) {
    EncoderRig rig(160, 120);
    rig.set(30, 1);
    Sink a, b, c;
    const uint64_t ia = a.subscribe(*rig.encoder);
    const uint64_t ib = b.subscribe(*rig.encoder);
    const uint64_t ic = c.subscribe(*rig.encoder);
    EXPECT_EQ(rig.encoder->subscriberCount(), 3);
    ASSERT_TRUE(c.waitFor(1));
    rig.encoder->unsubscribe(ia);  // not the last: leaves quietly
    EXPECT_EQ(a.endedCount(), 0);
    rig.encoder->unsubscribe(ib);
    EXPECT_EQ(b.endedCount(), 0);
    EXPECT_TRUE(rig.encoder->isReady());
    rig.encoder->unsubscribe(ic);  // the last one hears the end itself
    EXPECT_EQ(c.endedCount(), 1);
    EXPECT_FALSE(rig.encoder->isReady());
    EXPECT_EQ(rig.capture->consumerCount(), 0u);
    EXPECT_EQ(rig.encoder->subscriberCount(), 0);
    rig.encoder->unsubscribe(ic);  // again: nothing
    EXPECT_EQ(c.endedCount(), 1);
    EXPECT_EQ(a.endedCount() + b.endedCount(), 0);
}

TEST(Encoder, ForceCloseEndsEverySubscriptionAndTheEncoderCanStartAgain) {
    EncoderRig rig(160, 120);
    rig.set(30, 1);
    Sink a, b;
    const uint64_t ia = a.subscribe(*rig.encoder);
    const uint64_t ib = b.subscribe(*rig.encoder);
    ASSERT_TRUE(b.waitFor(1));
    rig.encoder->forceClose();
    EXPECT_EQ(a.endedCount(), 1);
    EXPECT_EQ(b.endedCount(), 1);
    EXPECT_FALSE(rig.encoder->isSubscribed(ia));
    EXPECT_FALSE(rig.encoder->isSubscribed(ib));
    EXPECT_EQ(rig.encoder->subscriberCount(), 0);
    // A viewer that waits for the old subscription gives up at once.
    EXPECT_FALSE(rig.encoder->waitUntilReady(ia));
    rig.encoder->unsubscribe(ia);  // stale ids change nothing
    EXPECT_EQ(rig.capture->consumerCount(), 0u);

    Sink c;
    const uint64_t ic = c.subscribe(*rig.encoder);
    EXPECT_TRUE(rig.encoder->waitUntilReady(ic));
    ASSERT_TRUE(c.waitFor(2));
    EXPECT_TRUE(c.keyAt(0));
    rig.encoder->unsubscribe(ib);  // stale: must not stop the new run
    EXPECT_TRUE(rig.encoder->isReady());
    rig.encoder->unsubscribe(ic);
    EXPECT_EQ(c.endedCount(), 1);
    EXPECT_EQ(a.endedCount(), 1);
}

TEST(Encoder, WithoutACaptureSourceTheEncoderIsReadyButSilent) {
    EncoderRig rig(320, 240);
    rig.fake->openResult = false;
    rig.set(30, 1);
    Sink sink;
    const uint64_t id = sink.subscribe(*rig.encoder);
    EXPECT_TRUE(rig.encoder->isReady());
    EXPECT_EQ(rig.encoder->streamInfo().width, 0);
    EXPECT_EQ(rig.encoder->streamInfo().height, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sink.count(), 0u);
    rig.encoder->unsubscribe(id);
    EXPECT_EQ(sink.endedCount(), 1);
}

TEST(Encoder, DestroyingTheEncoderEndsTheStream) {
    Sink sink;
    {
        EncoderRig rig(160, 120);
        rig.set(30, 1);
        sink.subscribe(*rig.encoder);
        ASSERT_TRUE(sink.waitFor(1));
    }
    EXPECT_EQ(sink.endedCount(), 1);
}
