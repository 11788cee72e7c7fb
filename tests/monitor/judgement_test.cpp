// The monitor's pure parts: the two SNMP messages against the bytes the
// printer expects, written out by hand; the judgement of status replies;
// the URI text helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_printer.h"
#include "monitor.h"
#include "snmp_status.h"
#include "usb_status.h"

namespace {

std::string bytes(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(Packets, TheGetAndSetRequestsAreTheFortyFiveBytesThePrinterExpects) {
  const std::string get(
      "\x30\x2B\x02\x01\x00\x04\x06\x70\x75\x62\x6C\x69\x63\xA0\x1E\x02\x01\x00\x02\x01\x00\x02"
      "\x01\x00\x30\x13\x30\x11\x06\x0D\x2B\x06\x01\x04\x01\xBF\xFF\x7D\x01\x01\x03\x10\x02\x05"
      "\x00",
      45);
  const std::string set(
      "\x30\x2B\x02\x01\x00\x04\x06\x70\x75\x62\x6C\x69\x63\xA3\x1E\x02\x01\x00\x02\x01\x00\x02"
      "\x01\x00\x30\x13\x30\x11\x06\x0C\x2B\x06\x01\x04\x01\xBF\xFF\x7D\x01\x01\x04\x0D\x02\x01"
      "\x01",
      45);
  EXPECT_EQ(bytes(jw::kSnmpGetRequest, jw::kSnmpPacketSize), get);
  EXPECT_EQ(bytes(jw::kSnmpSetRequest, jw::kSnmpPacketSize), set);
}

TEST(Judgement, OnlyACancelStateWithTheOwnerInAWholeReplyCancels) {
  const std::string owner = "builder-7";
  std::string full = monitortest::FakeSnmpAgent::reply(0x86, owner);
  std::string tail60 = full.substr(full.size() - 60);  // the shortest reply with a state byte
  struct Case {
    const char* what;
    std::string reply;
    int count;
    bool cancels;
  } cases[] = {
      {"0x86, our owner", full, static_cast<int>(full.size()), true},
      {"0x06, our owner", monitortest::FakeSnmpAgent::reply(0x06, owner), 109, true},
      {"exactly 60 bytes", tail60, 60, true},
      {"0x86, another owner", monitortest::FakeSnmpAgent::reply(0x86, "elsewhere"), 109, false},
      {"owner is a prefix of the text only", monitortest::FakeSnmpAgent::reply(0x86, "builder"),
       109, false},
      {"printing", monitortest::FakeSnmpAgent::reply(0x03, owner), 109, false},
      {"59 bytes: no state byte", tail60.substr(1), 59, false},
      {"no reply (time-out)", "", -1, false},
      {"empty reply", "", 0, false},
  };
  for (const Case& c : cases) {
    // The reply sits at the start of the 1024-byte buffer the thread uses.
    std::vector<uint8_t> buffer(jw::kSnmpReplySize, 0);
    std::copy(c.reply.begin(), c.reply.end(), buffer.begin());
    EXPECT_EQ(jw::net_status_cancelled(buffer.data(), c.count, owner.c_str()), c.cancels) << c.what;
  }
  uint8_t block[4] = {0x06, 0, 0, 0};
  EXPECT_TRUE(jw::usb_status_cancelled(block, 4));
  block[0] = 0x86;
  EXPECT_TRUE(jw::usb_status_cancelled(block, 1));
  EXPECT_FALSE(jw::usb_status_cancelled(block, 0)) << "a failed transfer is no cancel";
  block[0] = 0x00;
  EXPECT_FALSE(jw::usb_status_cancelled(block, 4));
}

TEST(UriText, AUsbSerialIsRankedByHowWellItNamesThePrinterOfTheUri) {
  using M = jw::SerialMatch;
  const char* uri = "usb://Tesvel/TP5010?serial=SN12345";
  // A serial descriptor is at most 127 characters and a NUL in the
  // buffer; what lies beyond either never takes part.
  std::string longSerial(200, 'S');
  std::string longUri = "usb://Tesvel/TP5010?serial=" + std::string(127, 'S');
  struct Case {
    const char* what;
    std::string serial;
    int length;
    const char* uri;
    M match;
  } cases[] = {
      {"the URI's serial field", "SN12345", 7, uri, M::kExact},
      {"field before another one", "SN12345", 7, "usb://Tesvel/TP5010?serial=SN12345&interface=1",
       M::kExact},
      {"part of the field", "SN1234", 6, uri, M::kInUri},
      {"elsewhere in the URI", "TP5010", 6, uri, M::kInUri},
      {"\"serial=\" inside another field", "SN1", 3, "usb://T/P?xserial=SN1", M::kInUri},
      {"serial not in the URI", "SN99", 4, uri, M::kNone},
      {"empty serial: any URI", "", 0, uri, M::kEmpty},
      {"NUL first: empty", std::string("\0SN1", 4), 4, uri, M::kEmpty},
      {"failed read", "SN12345", -1, uri, M::kNone},
      {"length counts, not the buffer", "SN1XXXX", 3, uri, M::kInUri},
      {"cut at a NUL", std::string("SN12345\0ZZ", 10), 10, uri, M::kExact},
      {"cut at 127 bytes", longSerial, 200, longUri.c_str(), M::kExact},
      {"the 128th byte is not compared", std::string(127, 'S') + "X", 128, longUri.c_str(),
       M::kExact},
      {"127 bytes do not fit a shorter run", longSerial, 200, uri, M::kNone},
  };
  for (const Case& c : cases) {
    // The buffer the serial is read into: 128 bytes, never NUL-terminated here.
    std::vector<unsigned char> buffer(jw::kUsbSerialSize, 'S');
    std::copy_n(c.serial.begin(), std::min(c.serial.size(), buffer.size()), buffer.begin());
    EXPECT_EQ(static_cast<int>(jw::serial_match(buffer.data(), c.length, c.uri)),
              static_cast<int>(c.match))
        << c.what;
  }
}

TEST(UriText, PercentDecodingAndTheQueueAPrinterUriNames) {
  struct Decode {
    const char* in;
    const char* out;
  } decodes[] = {
      {"ipp://localhost/printers/a%2Fb", "ipp://localhost/printers/a/b"},
      {"%7e%7E%41", "~~A"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz%2", "%zz%2"},
      {"plain", "plain"},
  };
  for (const Decode& d : decodes) {
    std::string text = d.in;
    jw::PercentDecode(&text[0]);
    EXPECT_STREQ(text.c_str(), d.out) << d.in;
  }
  struct Match {
    const char* uri;
    const char* queue;
    bool names;
  } matches[] = {
      {"ipp://localhost:631/printers/Tesvel", "tesvel", true},
      {"ipp://localhost:631/printers/tesvel", "TESVEL", true},
      {"ipp://localhost:631/printers/My%20Printer", "my printer", true},
      {"ipp://localhost:631/printers/tesvel2", "tesvel", false},
      {"ipp://localhost:631/printers/tesvel/", "tesvel", false},
      {"tesvel", "tesvel", false},  // no "/": never a match
  };
  for (const Match& m : matches)
    EXPECT_EQ(jw::uri_names_queue(m.uri, m.queue), m.names) << m.uri << " " << m.queue;
}

}  // namespace
