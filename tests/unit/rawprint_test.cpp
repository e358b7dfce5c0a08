// Raw printing over the recording fake device: the spooler calls, every byte
// through however many WritePrinter calls it takes, and what each failure
// leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/errors.h"
#include "fake/device_fake.h"
#include "print/rawprint.h"

namespace {

class RawPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetFakeDevice();
    clearError();
  }
  void TearDown() override {
    EXPECT_TRUE(fakeDevice.misuse.empty()) << fakeCallLog();
    EXPECT_EQ(fakeDevice.openPrinters, 0);
    EXPECT_EQ(fakeDevice.liveContexts, 0);
  }
};

TEST_F(RawPrintTest, BytesGoOutUnchangedAsOneJob) {
  fakeDevice.writeLimit = 4;  // a spooler that takes a few bytes per call
  const std::string ticket("\x1B@ticket\n\0\xFF", 11);
  printRawDocument("Receipt", ticket);
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(fakeDevice.calls, (std::vector<std::string>{
                                  "OpenPrinter(\"Receipt\")=printer1",
                                  "StartDocPrinter(printer1,1,\"Print job\",null,\"RAW\")=1",
                                  "StartPagePrinter(printer1)=1",
                                  "WritePrinter(printer1,11)=1 written=4",
                                  "WritePrinter(printer1,7)=1 written=4",
                                  "WritePrinter(printer1,3)=1 written=3",
                                  "EndPagePrinter(printer1)=1",
                                  "EndDocPrinter(printer1)=1",
                                  "ClosePrinter(printer1)=1",
                              }))
      << fakeCallLog();
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u);
  EXPECT_EQ(fakeDevice.rawJobs[0].data, ticket);
  EXPECT_EQ(fakeDevice.rawJobs[0].pages, 1);
  EXPECT_TRUE(fakeDevice.rawJobs[0].ended);

  // A long printout goes in pieces of 1 MiB; every byte arrives in order.
  resetFakeDevice();
  std::string big(5 * 1024 * 1024 / 2, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  printRawDocument("Report", big);
  EXPECT_EQ(lastError(), 0);
  EXPECT_EQ(fakeCallsOf("WritePrinter"), (std::vector<std::string>{"WritePrinter(printer1,1048576)=1 written=1048576",
                                                                   "WritePrinter(printer1,1048576)=1 written=1048576",
                                                                   "WritePrinter(printer1,524288)=1 written=524288"}));
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u);
  EXPECT_TRUE(fakeDevice.rawJobs[0].data == big);
  EXPECT_TRUE(fakeDevice.rawJobs[0].ended);

  // Nothing to send, or no printer: no call, no error. A bad name: kPrinterOpenError.
  resetFakeDevice();
  printRawDocument("Receipt", "");
  printRawDocument("", "x");
  EXPECT_EQ(lastError(), 0);
  printRawDocument(std::string("Receipt\0X", 9), "x");
  EXPECT_EQ(lastError(), 68);
  clearError();
  printRawDocument(std::string(262, 'P'), "x");
  EXPECT_EQ(lastError(), 68);
  EXPECT_TRUE(fakeDevice.calls.empty()) << fakeCallLog();
}

TEST_F(RawPrintTest, FailuresSayWhatReachedThePrinter) {
  const struct {
    const char* operation;  // made to fail; "refused": the printer takes no raw data
    int nth;
    int error;
    bool jobBegun;    // a job was started and then deleted by AbortPrinter
  } cases[] = {
      {"OpenPrinter", 1, 68, false},    {"StartDocPrinter", 1, 68, false}, {"refused", 1, 73, false},
      {"StartPagePrinter", 1, 57, true}, {"WritePrinter", 1, 57, true},     {"WritePrinter", 3, 57, true},
      {"EndPagePrinter", 1, 57, true},
  };
  for (const auto& c : cases) {
    resetFakeDevice();
    clearError();
    fakeDevice.writeLimit = 2;
    if (std::string(c.operation) == "refused") fakeDevice.rawRefused.push_back("Receipt");
    else failDeviceCall(c.operation, c.nth);
    printRawDocument("Receipt", "0123456789");
    std::string which = std::string(c.operation) + " " + std::to_string(c.nth);
    EXPECT_EQ(lastError(), c.error) << which;
    EXPECT_TRUE(fakeCallsOf("EndDocPrinter").empty()) << which;
    EXPECT_EQ(fakeCallsOf("AbortPrinter").size(), c.jobBegun ? 1u : 0u) << which;
    EXPECT_EQ(fakeDevice.rawJobs.size(), c.jobBegun ? 1u : 0u) << which;
    if (c.jobBegun) EXPECT_TRUE(fakeDevice.rawJobs[0].aborted) << which;
    EXPECT_EQ(fakeCallsOf("ClosePrinter").size(), c.operation == std::string("OpenPrinter") ? 0u : 1u) << which;
    EXPECT_TRUE(fakeDevice.misuse.empty()) << which << "\n" << fakeCallLog();
    EXPECT_EQ(fakeDevice.openPrinters, 0) << which;
  }

  // The spooler refusing the finished job: kPrinterDeviceError, and it is not deleted (there
  // is no job left to delete).
  resetFakeDevice();
  clearError();
  failDeviceCall("EndDocPrinter", 1);
  printRawDocument("Receipt", "0123456789");
  EXPECT_EQ(lastError(), 57);
  ASSERT_EQ(fakeDevice.rawJobs.size(), 1u);
  EXPECT_FALSE(fakeDevice.rawJobs[0].ended);
  EXPECT_FALSE(fakeDevice.rawJobs[0].aborted);
  EXPECT_TRUE(fakeCallsOf("AbortPrinter").empty());
}

}  // namespace
