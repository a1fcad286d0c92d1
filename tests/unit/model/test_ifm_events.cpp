// Interface-manager events: what model changes report, in which order, to
// which registration, and how the descriptor and acknowledgements behave.
// What each change reports is checked through the switch commands;
// deactivation, deletion and a manager that goes away are what the daemon's
// interface-event tests go through.
#include <unistd.h>

#include <string>
#include <vector>

#include "model_test.h"
#include "platform/ifm.h"

namespace {

struct Seen {
    uint32_t code;
    std::vector<uint32_t> items;
    uint32_t data = 0;
    bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* os) { *os << "{code " << s.code << " items " << ::testing::PrintToString(s.items) << " data " << s.data << "}"; }

std::vector<Seen> g_seen;
uint32_t g_ifHandle = 0;
uint32_t g_slotHandle = 0;

// Records an event: the interfaces (or the slots) it lists, and its data.
void record(uint32_t code, const IF_EVENT_S* list, uint32_t n, uint32_t data = 0, bool slots = false)
{
    g_seen.push_back({code, {}, data});
    for (uint32_t i = 0; i < n; ++i) g_seen.back().items.push_back(slots ? list[i].usSlot : list[i].uiIfIndex);
}

uint32_t onIf(uint32_t code, IF_EVENT_S* list, uint32_t n, uint32_t context, uint32_t* data)
{
    record(code, list, n, *data);
    return IF_NotifyFinalStatus(g_ifHandle, code, list, n, context), 0;
}

uint32_t onLink(uint32_t code, IF_EVENT_S* list, uint32_t n) { return record(code, list, n), 0; }

uint32_t onSlot(uint32_t code, IF_EVENT_S* list, uint32_t n, uint32_t context)
{
    record(code, list, n, 0, true);
    return IF_NotifyFinalStatus(g_slotHandle, code, list, n, context), 0;
}

constexpr uint32_t kIfMask = 0x2030001C;
constexpr uint32_t kLinkMask = 0x40000003;
constexpr uint32_t kSlotMask = 0x60000009;

class IfmEvents : public pbbtest::ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        g_seen.clear();
    }

    // Registers as the daemon does; batch is the list limit of all three.
    int registerAll(uint32_t batch = 64)
    {
        int fd = IF_Event_Init();
        EXPECT_GE(fd, 0);
        IF_EVENT_SEL_S sel;
        IF_Select_Init(5, &sel);
        for (uint32_t t : {18u, 19u, 21u, 68u, 69u, 88u, 56u}) IF_SelectType_Set(t, &sel);
        IF_SelectProperty_Set(8, &sel);
        IF_SelectCondition_Set(2, &sel);
        g_ifHandle = IF_RegIfEvent(0x022F0000, kIfMask, batch, &sel, onIf, 0);
        linkHandle = IF_RegLinkEvent(0x022F0000, kLinkMask, batch, 32, onLink, 0);
        g_slotHandle = IF_RegSlotEvent(0x022F0000, kSlotMask, batch, onSlot);
        EXPECT_NE(g_ifHandle, 0u);
        EXPECT_NE(linkHandle, 0u);
        EXPECT_NE(g_slotHandle, 0u);
        return fd;
    }

    uint32_t linkHandle = 0;
};

TEST_F(IfmEvents, BoardRemovalListsItsPortsAndAcknowledgementsCarryTheContext)
{
    sw->addSlot(2, {.minm = true});
    uint32_t p1 = sw->addPort("eth-2/0/1", 2);
    uint32_t p2 = sw->addPort("eth-2/0/2", 2);
    uint32_t p3 = sw->addPort("eth-2/0/3", 2);
    sw->setLink(p2, false);
    int fd = registerAll(2);

    sw->removeBoard(2);
    ASSERT_EQ(IF_ResponseEventPkt(fd), 0u);

    // Link down for the two ports that were up, the inactive list split at
    // two elements, then the slot.
    EXPECT_EQ(g_seen, (std::vector<Seen>{{IF_EVT_LINK_DOWN, {p1, p3}},
                                         {IF_EVT_INACTIVE, {p1, p2}, IF_INACTIVE_PARK},
                                         {IF_EVT_INACTIVE, {p3}, IF_INACTIVE_PARK},
                                         {IF_EVT_SLOT_REMOVE, {2}}}));
    EXPECT_EQ(IF_IsTempIf(p1), 1u);

    // The acknowledgements hand back list and context of each event.
    const auto& acks = sw->acks();
    ASSERT_EQ(acks.size(), 3u);
    EXPECT_EQ(acks[0].items, (std::vector<uint32_t>{p1, p2}));
    EXPECT_EQ(acks[2].code, IF_EVT_SLOT_REMOVE);
    EXPECT_EQ(acks[2].items, (std::vector<uint32_t>{2}));
    EXPECT_NE(acks[0].context, acks[1].context);

    sw->insertBoard(2);
    g_seen.clear();
    IF_ResponseEventPkt(fd);
    EXPECT_EQ(g_seen, (std::vector<Seen>{{IF_EVT_SLOT_INSERT, {2}}, {IF_EVT_ACTIVE, {p1, p2}}, {IF_EVT_ACTIVE, {p3}}}));
    EXPECT_EQ(IF_IsTempIf(p1), 0u);
}

}  // namespace
