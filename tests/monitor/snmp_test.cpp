// The SNMP exchange and the address of a network printer, against the
// fake agent on 127.0.0.1:161.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fake_printer.h"
#include "snmp_status.h"

using monitortest::Clock;
using monitortest::FakeSnmpAgent;

namespace {

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

class SnmpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(agent.listening()) << "UDP 127.0.0.1:161 needs root"; }
  void TearDown() override { EXPECT_EQ(agent.malformed(), 0); }
  FakeSnmpAgent agent;
  uint8_t reply[jw::kSnmpReplySize] = {};
  int count = 0;
};

TEST_F(SnmpTest, AnAnsweringPrinterGivesItsReplyAfterOneRequest) {
  agent.answer(0x86, "host-a");
  ASSERT_EQ(jw::SendSNMPCmd("127.0.0.1", reply, &count), 1);
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
    ASSERT_EQ(jw::SendSNMPCmd("127.0.0.1", reply, &count), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(agent.misbehaved(), before + 1) << "the forgery went out first";
    std::string expected = FakeSnmpAgent::reply(0x03, "host-a");
    ASSERT_EQ(count, static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), count), expected);
    EXPECT_NE(err.find("ignored, not the printer\n"), std::string::npos) << err;
  }
}

TEST_F(SnmpTest, ASilentPrinterCostsTwoReplyWaitsAndNoMore) {
  auto start = Clock::now();
  EXPECT_EQ(jw::SendSNMPCmd("127.0.0.1", reply, &count), 0);
  double took = secondsSince(start);
  EXPECT_GT(took, 3.5);
  EXPECT_LT(took, 5.5);
  EXPECT_LE(count, 0);
  EXPECT_TRUE(monitortest::waitUntil([&] { return agent.getRequests() == 3; }, 1))
      << "three sends, the later two without a wait";
}

TEST_F(SnmpTest, AHostNameThatDoesNotResolveEndsTheQueryAtOnce) {
  auto start = Clock::now();
  EXPECT_EQ(jw::SendSNMPCmd("no-such-printer.invalid", reply, &count), 0);
  EXPECT_LT(secondsSince(start), 2.0) << "no reply waits";
  EXPECT_EQ(jw::SendSNMPCmd(nullptr, reply, &count), 0);
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
