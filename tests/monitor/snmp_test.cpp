// The SNMP exchange and the address of a network printer, against the
// fake agent on port 161 of its own loopback address.
#include <gtest/gtest.h>

#include <string>

#include "fake_printer.h"
#include "monitor_wait.h"
#include "snmp_status.h"
#include "test_support.h"

using monitortest::FakeSnmpAgent;

namespace {

constexpr int kReplyWaitMs = 300;  // the test pace's reply wait

class SnmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(agent.listening()) << "UDP port 161 needs root";
    jw::MonitorPace pace;
    pace.replyWaitMs = kReplyWaitMs;
    jw::set_monitor_pace(pace);
  }
  void TearDown() override {
    jw::set_monitor_pace(jw::MonitorPace());
    EXPECT_EQ(agent.malformed(), 0);
  }
  FakeSnmpAgent agent;
  uint8_t reply[jw::kSnmpReplySize] = {};
  int count = 0;
};

TEST_F(SnmpTest, AnAnsweringPrinterGivesItsReplyAfterOneRequest) {
  agent.answer(0x86, "host-a");
  ASSERT_EQ(jw::SendSNMPCmd(agent.host().c_str(), reply, &count), 1);
  std::string expected = FakeSnmpAgent::reply(0x86, "host-a");
  ASSERT_EQ(count, static_cast<int>(expected.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), count), expected);
  EXPECT_EQ(agent.getRequests(), 1);
}

TEST_F(SnmpTest, AForgedReplyFromAnotherAddressOrPortIsDroppedAndThePrintersOwnTaken) {
  agent.answer(0x03, "host-a");
  for (auto how : {FakeSnmpAgent::Misbehaviour::kOtherAddress,
                   FakeSnmpAgent::Misbehaviour::kOtherPort}) {
    agent.misbehave(how, "host-a");
    int before = agent.misbehaved();
    count = 0;
    testing::internal::CaptureStderr();
    ASSERT_EQ(jw::SendSNMPCmd(agent.host().c_str(), reply, &count), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(agent.misbehaved(), before + 1) << "the forgery went out first";
    std::string expected = FakeSnmpAgent::reply(0x03, "host-a");
    ASSERT_EQ(count, static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), count), expected);
    EXPECT_NE(err.find("ignored, not the printer\n"), std::string::npos) << err;
  }
}

TEST_F(SnmpTest, ASilentPrinterCostsTwoReplyWaitsAndNoMore) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(jw::SendSNMPCmd(agent.host().c_str(), reply, &count), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_LE(count, 0);
  // Each reply wait ends with the count received: two waits, three sends.
  EXPECT_EQ(testing_support::countOf(err, "nRecv = -1\n"), 2u) << err;
  EXPECT_EQ(testing_support::countOf(err, "socket sendto success"), 3u) << err;
  EXPECT_TRUE(monitortest::waitUntil([&] { return agent.getRequests() == 3; }, 1));
}

TEST_F(SnmpTest, AHostNameThatDoesNotResolveEndsTheQueryAtOnce) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(jw::SendSNMPCmd("no-such-printer.invalid", reply, &count), 0);
  EXPECT_EQ(jw::SendSNMPCmd(nullptr, reply, &count), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("nRecv"), std::string::npos) << "no reply waits:\n" << err;
  EXPECT_EQ(agent.getRequests(), 0);
}

TEST(Address, HostNamesBecomeIpv4AddressText) {
  char address[256] = "";
  EXPECT_EQ(jw::HostToAddress("localhost", address, sizeof address), 0);
  EXPECT_STREQ(address, "127.0.0.1");
  EXPECT_EQ(jw::HostToAddress("no-such-printer.invalid", address, sizeof address), 1);
}

TEST(Address, EitherCupsLibraryNameServesBothResolverVariants) {
  const char* const runtimeOnly[2] = {"libtesvel-absent.so", "libcups.so.2"};
  const char* const none[2] = {"libtesvel-absent.so", "libtesvel-absent.so.2"};
  for (auto variant : {jw::ResolveVariant::kFirst, jw::ResolveVariant::kSecond}) {
    for (const char* const* libs : {jw::kCupsLibraryNames, runtimeOnly}) {
      char host[1024] = "";
      int port = 9100;
      ASSERT_EQ(jw::resolve_uri_host_from(libs, "socket://127.0.0.1:9101", host, sizeof host,
                                          &port, variant),
                1)
          << libs[0];
      EXPECT_STREQ(host, "127.0.0.1");
      EXPECT_EQ(port, 9101);
    }
    char host[1024] = "";
    int port = 9100;
    EXPECT_EQ(jw::resolve_uri_host_from(none, "socket://127.0.0.1", host, sizeof host, &port,
                                        variant),
              0);
    EXPECT_STREQ(host, "");
  }
}

}  // namespace
