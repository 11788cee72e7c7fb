// What a job's end state means: "completed" only when the printer took
// every byte, and never for a document that did not arrive whole.
// Network printers here are tests/printer-app/fake_socket_printer.py, one
// process a printer, each failing the way real ones do; uploads are sent
// by hand over a socket, cut where a client that goes away cuts them.
// Each test is one server whose cases run at once.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app_fixture.h"

using namespace testing_support;

namespace {

// One fake network printer, stopped when it goes.
class SocketPrinter {
 public:
  explicit SocketPrinter(const std::vector<std::string>& how) {
    std::vector<std::string> argv = {"/usr/bin/python3", std::string(TESTS_DIR) + "/fake_socket_printer.py",
                                     dir_.path(), "600"};
    argv.insert(argv.end(), how.begin(), how.end());
    pid_ = spawnChild(argv, {}, -1, 2, 2);
    for (int i = 0; i < 200 && !fileExists(dir_.file("port")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~SocketPrinter() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string uri() const { return "socket://127.0.0.1:" + std::to_string(std::atoi(readFile(dir_.file("port")).c_str())); }
  // What the printer read, its connections in order.
  std::string received() const {
    std::string all;
    for (const std::string& f : dirEntries(dir_.path()))
      if (f.rfind("conn-", 0) == 0) all += readFile(dir_.file(f));
    return all;
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

struct PrinterCase {
  const char* name;
  std::vector<std::string> how;  // fake_socket_printer.py's options
  bool bigJob;                   // the megabytes of noise, else one page
  const char* state;
  const char* message;           // how the job's message starts
};

class AppOutcome : public OnePrinterTest {};

TEST_F(AppOutcome, AJobIsCompletedOnlyWhenTheNetworkPrinterTookEveryByte) {
  const std::vector<PrinterCase> cases = {
      {"deaf", {"--never-reads"}, false, "aborted",
       "The printer did not finish taking the job within 30 seconds: all "},
      // The whole small job fits in the connection: only the end tells.
      {"closes", {"--close-after=1000"}, false, "aborted", "The printer stopped taking data after "},
      {"resets", {"--reset-after=100000"}, true, "aborted", "The printer stopped taking data after "},
      {"drops", {"--rate=2000000", "--close-after=2500000"}, true, "aborted", "The printer stopped taking data after "},
      {"slow", {"--rate=2000000"}, true, "completed", "Printed 3 pages."},
  };
  std::vector<std::unique_ptr<SocketPrinter>> printers;
  std::vector<int> ids;
  std::string noise = file("noise.ps", kNoisePostScript), page = file("page.pdf", makePdf(1));
  for (const PrinterCase& c : cases) {
    printers.push_back(std::make_unique<SocketPrinter>(c.how));
    ProcessResult add = server_.app({"add", "-d", c.name, "-m", "tesvel_tz3010", "-v", printers.back()->uri()});
    ASSERT_EQ(add.exitStatus, 0) << add.out << add.err;
    ids.push_back(c.bigJob ? server_.submit(c.name, noise, "application/postscript")
                           : server_.submit(c.name, page, "application/pdf"));
    ASSERT_GT(ids.back(), 0);
  }
  // The printer that never reads has the whole small job in its connection:
  // the job waits for it to finish, and says so.
  bool waiting = false;
  for (int i = 0; i < deadlineSeconds(25) * 10 && !waiting; ++i) {
    waiting = server_.status("deaf", ids[0]).message == "Waiting for the printer to finish.";
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(waiting);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    AppJob job = server_.waitForEnd(cases[i].name, ids[i], deadlineSeconds(120));
    EXPECT_EQ(job.state, cases[i].state);
    EXPECT_EQ(job.message.rfind(cases[i].message, 0), 0u) << job.message;
  }
  // The slow printer got the whole job, every page of it.
  ProcessResult check = inspectStream(printers.back()->received(), {"--check"});
  EXPECT_EQ(check.exitStatus, 0) << check.out;
  EXPECT_NE(check.out.find("pages=3"), std::string::npos) << check.out;
  expect_next_job_prints();
}

// Print-Job over a socket of its own: the HTTP header, the IPP request,
// then `document` as the body says (with a length, or in chunks).
int send_print_job(int port, const std::string& document, size_t announced, bool chunked) {
  ipp_t* req = ippNewRequest(IPP_OP_PRINT_JOB);
  std::string uri = "ipp://localhost:" + std::to_string(port) + "/ipp/print/p";
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
  std::string body;
  ippWriteIO(&body, [](void* ctx, ipp_uchar_t* b, size_t n) -> ssize_t {
    static_cast<std::string*>(ctx)->append(reinterpret_cast<char*>(b), n);
    return static_cast<ssize_t>(n);
  }, 1, nullptr, req);
  ippDelete(req);
  size_t header = body.size();
  body += document;
  std::string http = "POST /ipp/print/p HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                     "\r\nContent-Type: application/ipp\r\n";
  if (chunked) {
    char size[32];
    snprintf(size, sizeof size, "%zx\r\n", body.size());
    http += "Transfer-Encoding: chunked\r\n\r\n" + std::string(size) + body + "\r\n";  // no last chunk
  } else {
    http += "Content-Length: " + std::to_string(header + announced) + "\r\n\r\n" + body;
  }
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      send(s, http.data(), http.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(http.size())) {
    close(s);
    return -1;
  }
  return s;
}

TEST_F(AppOutcome, AnUploadCutShortOrSilentPrintsNothingAndLeavesNothingInTheSpool) {
  std::string pdf = makePdf(3), half = pdf.substr(0, pdf.size() / 2);
  // A client that stops sending and keeps its connection: ended after a
  // minute of silence.  Then, meanwhile, one that closes, one that resets.
  int silent = send_print_job(server_.port(), half, pdf.size(), false);
  ASSERT_GE(silent, 0);
  for (int i = 0; i < 100 && server_.status("p", 1).state.empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int closes = send_print_job(server_.port(), half, pdf.size(), false);
  ASSERT_GE(closes, 0);
  close(closes);
  AppJob cut = server_.waitForEnd("p", 2, deadlineSeconds(30));
  int resets = send_print_job(server_.port(), half, 0, true);
  ASSERT_GE(resets, 0);
  linger hard = {1, 0};
  setsockopt(resets, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(resets);
  AppJob chunked = server_.waitForEnd("p", 3, deadlineSeconds(30));
  AppJob quiet = server_.waitForEnd("p", 1, deadlineSeconds(120));
  close(silent);
  for (const AppJob& job : {cut, chunked, quiet}) {
    EXPECT_EQ(job.state, "aborted");
    EXPECT_EQ(job.message.rfind("The document did not arrive whole (the client stopped after ", 0), 0u) << job.message;
  }
  EXPECT_TRUE(dirEntries(server_.outDir("p")).empty()) << "a cut document was printed";
  for (const std::string& f : server_.spoolFiles()) EXPECT_EQ(f.find(".pdf"), std::string::npos) << f;
  expect_next_job_prints();
}

}  // namespace
