// The local address list: lookup order, interfaces added, loopback last,
// and the host-name buffer's limits.
#include "app/AddressList.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct AddressSources : ::testing::Test {
    ~AddressSources() override {
        SetHostNameSource({});
        SetInterfaceSource({});
    }
};

TEST(MergeAddressLists, LookupFirstThenInterfacesOnceEachLoopbackLast) {
    const auto merged =
        MergeAddressLists({"127.0.1.1", "192.168.1.5"}, {"127.0.0.1", "10.0.0.2", "192.168.1.5"});
    EXPECT_EQ(merged,
              (std::vector<std::string>{"192.168.1.5", "10.0.0.2", "127.0.1.1", "127.0.0.1"}));
    EXPECT_TRUE(MergeAddressLists({}, {}).empty());
    EXPECT_EQ(MergeAddressLists({"127.0.0.1", "127.0.0.1"}, {}),
              std::vector<std::string>{"127.0.0.1"});
}

TEST_F(AddressSources, HostNameThatFillsTheBufferFails) {
    SetHostNameSource([](char* buffer, size_t length) {
        std::memset(buffer, 'h', length); // 64 characters, no room for the zero
        return 0;
    });
    try {
        LocalHostName();
        FAIL() << "no exception";
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Winsock.GetHostName failed");
    }
    SetHostNameSource([](char*, size_t) { return -1; });
    EXPECT_THROW(LocalAddressList(), ESocketException);
}

TEST_F(AddressSources, SixtyThreeCharactersFit) {
    const std::string name(63, 'n');
    SetHostNameSource([&](char* buffer, size_t length) {
        EXPECT_EQ(length, 64u);
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return 0;
    });
    EXPECT_EQ(LocalHostName(), name);
}

TEST(HostEntryByName, RejectsEmptyAndOverlongNames) {
    for (const std::string& bad : {std::string(), std::string(257, 'a')}) {
        try {
            HostEntryByName(bad);
            FAIL() << "no exception for length " << bad.size();
        } catch (const ESocketException& e) {
            EXPECT_STREQ(e.what(), "HostEntryByName: Invalid Hostname.");
        }
    }
    EXPECT_NO_THROW(HostEntryByName(std::string(256, 'a')));
    EXPECT_TRUE(HostEntryByName("no-such-host.invalid").empty());
    EXPECT_EQ(HostEntryByName("localhost").at(0), "127.0.0.1");
}

TEST_F(AddressSources, SharedListIsRefilledAndKeepsLoopbackLast) {
    SetHostNameSource([](char* buffer, size_t) {
        std::strcpy(buffer, "localhost");
        return 0;
    });
    SetInterfaceSource([] { return std::vector<std::string>{"127.0.0.1", "10.9.8.7"}; });
    TStringList& first = LocalAddressList();
    ASSERT_EQ(first.Count(), 2);
    EXPECT_EQ(first[0], "10.9.8.7");
    EXPECT_EQ(first[1], "127.0.0.1");
    SetInterfaceSource([] { return std::vector<std::string>{}; });
    TStringList& second = LocalAddressList();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second.Count(), 1);
}

TEST_F(AddressSources, UnknownHostLeavesOnlyInterfaces) {
    SetHostNameSource([](char* buffer, size_t) {
        std::strcpy(buffer, "no-such-host.invalid");
        return 0;
    });
    SetInterfaceSource([] { return std::vector<std::string>{}; });
    EXPECT_EQ(LocalAddressList().Count(), 0);
}

// WebRTC candidates: the announced address first; the others only when
// the servers listen everywhere, never loopback ones no viewer reaches.
TEST_F(AddressSources, WebRtcOffersTheAnnouncedAddressFirstAndOthersOnlyListeningEverywhere) {
    SetInterfaceSource([] {
        return std::vector<std::string>{"127.0.0.1", "10.9.8.7", "192.168.1.5"};
    });
    EXPECT_EQ(WebRtcAddresses("192.168.1.5", ""),
              (std::vector<std::string>{"192.168.1.5", "10.9.8.7"}));
    EXPECT_EQ(WebRtcAddresses("192.168.1.5", "192.168.1.5"),
              std::vector<std::string>{"192.168.1.5"});
    EXPECT_EQ(WebRtcAddresses("127.0.0.1", "127.0.0.1"), std::vector<std::string>{"127.0.0.1"});
}

} // namespace
