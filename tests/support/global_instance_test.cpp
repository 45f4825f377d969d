#include "support/global_instance.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Service;
support::GlobalInstance<Service> gSlot;

// Records what readers of the slot see while it is being destroyed.
struct Service {
    explicit Service(int id) : id(id) {}
    ~Service() {
        Service* seen = gSlot.get();
        reachableWhileDestroyed = seen == this;
        seenId = seen ? seen->id : 0;
    }
    int id;
    static inline bool reachableWhileDestroyed = false;
    static inline int seenId = -1;
};

TEST(GlobalInstance, ReadersNeverReachAnInstanceBeingDestroyed) {
    EXPECT_EQ(gSlot.get(), nullptr);
    gSlot.install(std::make_unique<Service>(1));
    ASSERT_NE(gSlot.get(), nullptr);
    EXPECT_EQ(gSlot.get()->id, 1);

    // Replacing: the first one goes while readers already see the second.
    gSlot.install(std::make_unique<Service>(2));
    EXPECT_FALSE(Service::reachableWhileDestroyed);
    EXPECT_EQ(Service::seenId, 2);

    // Taking out: readers see nothing from then on; the caller destroys it.
    std::unique_ptr<Service> taken = gSlot.take();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->id, 2);
    EXPECT_EQ(gSlot.get(), nullptr);
    taken.reset();
    EXPECT_FALSE(Service::reachableWhileDestroyed);
    EXPECT_EQ(Service::seenId, 0);
    EXPECT_EQ(gSlot.take(), nullptr);
}

}  // namespace
