// Hub and node ids: lookup statuses, lowest-first reuse, exhaustion,
// closing rules and counts, and staleness after invalidation.
#include <climits>

#include "frame_fixture.h"

using HandleTables = FrameTest;

TEST_F(HandleTables, HubLookupGivesTheLiveHubOrInvalidOrStale) {
    for (int id : {-1, 128, INT_MIN, 0}) {
        EXPECT_EQ(m.get_hub(id), nullptr) << id;
        EXPECT_EQ(m.last_error, SLD_INVALID_HUB_ID) << id;
    }
    int a = m.take_hub_slot(hub(0), device(0)), b = m.take_hub_slot(hub(1), device(0));
    m.last_error = SLD_JTAG_ERROR;
    EXPECT_EQ(m.get_hub(a), hub(0));
    EXPECT_EQ(m.last_error, SLD_JTAG_ERROR); // success leaves it alone
    m.invalidate_hub_id(hub(0));
    EXPECT_EQ(m.get_hub(a), nullptr);
    EXPECT_EQ(m.last_error, SLD_STALE_ID);
    EXPECT_EQ(m.get_hub(b), hub(1));
    EXPECT_EQ(m.hub_table[a].device, device(0));
    m.invalidate_hub_id(device(0));
    EXPECT_EQ(m.get_hub(b), nullptr);
    EXPECT_EQ(m.last_error, SLD_STALE_ID);
    EXPECT_TRUE(m.hub_table[a].in_use && m.hub_table[b].in_use);
    EXPECT_EQ(m.hub_table[b].hub, hub(1)); // each clears its own pointer only
}

TEST_F(HandleTables, HubSlotsAreTakenLowestFirstUntilAll128AreUsed) {
    for (int i = 0; i < SLD_HUB_TABLE_SIZE; ++i)
        ASSERT_EQ(m.take_hub_slot(hub(0), device(0)), i);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), -1);
    EXPECT_EQ(m.last_error, SLD_NO_FREE_SLOT);
    m.free_hub_slot(70);
    m.free_hub_slot(3);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), 3);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), 70);
    EXPECT_EQ(m.get_hub(70), hub(1));
    // Freed above the lowest free slot, then below it: still lowest first.
    m.free_hub_slot(90);
    m.free_hub_slot(5);
    m.free_hub_slot(100);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), 5);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), 90);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), 100);
    EXPECT_EQ(m.take_hub_slot(hub(1), device(1)), -1);
}

TEST_F(HandleTables, NodeIdsRunOutAt512AndAreReusedLowestFirst) {
    int h = m.take_hub_slot(hub(0), device(0));
    for (int i = 0; i < SLD_NODE_TABLE_SIZE; ++i)
        ASSERT_EQ(m.create_node(h, 1), i);
    EXPECT_EQ(m.create_node(h, 1), -1);
    EXPECT_EQ(m.last_error, SLD_NO_FREE_SLOT);
    m.last_error = SLD_JTAG_ERROR;
    EXPECT_EQ(m.close_node(7), SLD_OK);
    EXPECT_EQ(m.close_node(7), SLD_INVALID_NODE_ID);
    EXPECT_EQ(m.close_node(512), SLD_INVALID_NODE_ID);
    EXPECT_EQ(m.close_node(-1), SLD_INVALID_NODE_ID);
    EXPECT_EQ(m.last_error, SLD_JTAG_ERROR); // closing reports by its result only
    EXPECT_EQ(m.hub_table[h].open_node_count, 511);
    EXPECT_EQ(m.create_node(h, 2), 7);
    for (int i = 0; i < SLD_NODE_TABLE_SIZE; ++i)
        m.close_node(i);
    EXPECT_EQ(m.hub_table[h].open_node_count, 0);
    // Only a slot in use may count nodes.
    EXPECT_EQ(m.create_node(h + 1, 0), -1);
    EXPECT_EQ(m.last_error, SLD_INVALID_HUB_ID);
}

TEST_F(HandleTables, NodesOfADestroyedHubAreStaleButCountedUntilClosed) {
    int h1 = m.take_hub_slot(hub(0), device(0)), h2 = m.take_hub_slot(hub(0), device(0));
    int other = m.take_hub_slot(hub(1), device(1));
    int n1 = m.create_node(h1, 0), n2 = m.create_node(h1, 1), n3 = m.create_node(h2, 0);
    int kept = m.create_node(other, 2);
    EXPECT_EQ(m.get_node_hub_owner(n2), hub(0));
    EXPECT_EQ(m.get_node_hub_node_index(n2), 1);
    for (int id : {kept + 1, 512, -1}) {
        EXPECT_EQ(m.get_node_hub_owner(id), nullptr);
        EXPECT_EQ(m.last_error, SLD_INVALID_NODE_ID);
        m.last_error = SLD_OK;
        EXPECT_EQ(m.get_node_hub_node_index(id), 255);
        EXPECT_EQ(m.last_error, SLD_INVALID_NODE_ID);
    }

    m.invalidate_hub_id(hub(0)); // both hub ids share the hub
    for (int n : {n1, n2, n3}) {
        EXPECT_EQ(m.get_node_hub_owner(n), nullptr);
        EXPECT_EQ(m.last_error, SLD_STALE_ID);
        m.last_error = SLD_OK;
        EXPECT_EQ(m.get_node_hub_node_index(n), 255);
        EXPECT_EQ(m.last_error, SLD_STALE_ID);
    }
    EXPECT_EQ(m.get_node_hub_node_index(kept), 2);
    EXPECT_EQ(m.hub_table[h1].open_node_count, 2);
    for (int n : {n1, n2, n3})
        EXPECT_EQ(m.close_node(n), SLD_OK);
    EXPECT_EQ(m.hub_table[h1].open_node_count + m.hub_table[h2].open_node_count, 0);
    EXPECT_EQ(m.hub_table[other].open_node_count, 1);
    m.close_node(kept);
}
