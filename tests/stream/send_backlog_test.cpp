// Counting the pictures a connection has yet to deliver from byte counts.
#include "stream/send_backlog.h"

#include <gtest/gtest.h>

using stream::RecentPictures;
using stream::WrittenPictures;

TEST(SendBacklog, PicturesCountUntilTheirLastByteLeavesTheKernel) {
    WrittenPictures w;
    w.advance(10);  // a message that is no picture
    w.advance(100);
    w.pictureEnds();  // picture 1 ends at 110
    w.advance(50);    // picture 2 written in two parts
    w.advance(50);
    w.pictureEnds();  // ends at 210
    w.advance(30);    // part of picture 3
    EXPECT_EQ(w.pending(240), 2u);
    EXPECT_EQ(w.pending(131), 2u);  // byte 110 not yet delivered
    EXPECT_EQ(w.pending(130), 1u);
    EXPECT_EQ(w.pending(31), 1u);
    EXPECT_EQ(w.pending(0), 0u);
    w.advance(70);
    w.pictureEnds();  // picture 3 ends at 310
    EXPECT_EQ(w.pending(70), 1u);
}

TEST(SendBacklog, TheNewestPicturesCoverWhatStillWaits) {
    RecentPictures r(3);
    for (size_t size : {100, 200, 300, 400}) r.queued(size);  // the 100 is forgotten
    EXPECT_EQ(r.pending(0), 0u);
    EXPECT_EQ(r.pending(1), 1u);
    EXPECT_EQ(r.pending(400), 1u);
    EXPECT_EQ(r.pending(401), 2u);
    EXPECT_EQ(r.pending(900), 3u);
    // More waits than the kept pictures cover: at least all of them.
    EXPECT_EQ(r.pending(5000), 3u);
    r.setKeep(1);
    EXPECT_EQ(r.pending(5000), 1u);
}
