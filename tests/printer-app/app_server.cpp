#include "app_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

namespace testing_support {

http_t* connectLoopback(int port) {
  return httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
}

int loopbackSocket(int* port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  *port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    *port = ntohs(a.sin_port);
  return s;
}

namespace {

int free_loopback_port() {
  int port = 0;
  close(loopbackSocket(&port));
  return port;
}

bool answers(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// A value for an ipptool test file: quoted, with quotes and backslashes escaped.
std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string last_value(const std::string& report, const std::string& attr) {
  std::string value;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    size_t at = line.find(attr + " (");
    size_t eq = line.find(") = ", at);
    if (at != std::string::npos && eq != std::string::npos && line.find_first_not_of(' ') == at)
      value = line.substr(eq + 4);
  }
  return value;
}

const char kPrintAndWait[] = R"({
  NAME "Print"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name tester
  ATTR name job-name @TITLE@
  ATTR mimeMediaType document-format $filetype
  GROUP job-attributes-tag
@ATTRS@
  FILE $filename
  STATUS successful-ok
  EXPECT job-id OF-TYPE integer WITH-VALUE >0
}
{
  NAME "Wait"
  OPERATION Get-Job-Attributes
  DELAY 0.2
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job-id
  ATTR name requesting-user-name tester
  STATUS successful-ok
  EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT @LIMIT@
  DISPLAY job-id
  DISPLAY job-state
  DISPLAY job-state-message
}
)";

std::string replace(std::string s, const std::string& key, const std::string& value) {
  size_t at = s.find(key);
  if (at != std::string::npos) s.replace(at, key.size(), value);
  return s;
}

// The print test's steps on their own: Print-Job alone (the job named
// after its file), and one look at a job (the wait step without its wait).
std::string submit_test() {
  std::string t = kPrintAndWait;
  t = t.substr(0, t.find("}\n")) + "  DISPLAY job-id\n}\n";
  return replace(replace(t, "@TITLE@", "$filename"), "@ATTRS@\n", "");
}

std::string status_test() {
  std::string t = kPrintAndWait;
  t = t.substr(t.find("{\n  NAME \"Wait\""));
  for (const char* line : {"  DELAY", "  EXPECT job-state"}) {
    size_t at = t.find(line);
    t.erase(at, t.find('\n', at) + 1 - at);
  }
  return t;
}

}  // namespace

AppServer::AppServer() : port_(free_loopback_port()) { start(); }

AppServer::AppServer(const std::vector<std::string>& serverOptions) : port_(free_loopback_port()) {
  start(serverOptions);
}

void AppServer::start(const std::vector<std::string>& serverOptions) {
  ProcessOptions opts;
  opts.env = {"TESVEL_PRINTER_APP_DIR=" + dir()};
  std::vector<std::string> argv = {binPath("tesvel-printer-app"), "server",
                                   "-o", "server-port=" + std::to_string(port_),
                                   "-o", "log-file=" + dir_.file("log"),
                                   "-o", "log-level=info"};
  for (const std::string& option : serverOptions) argv.insert(argv.end(), {"-o", option});
  // What the server itself writes (sanitizer reports among it) goes to a file.
  int out = open(dir_.file("server.err").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  // A killed server leaves its socket behind: ready means the new one's.
  unlink(dir_.file("tesvel-printer-app.sock").c_str());
  pid_ = spawnChild(argv, opts, -1, out, out);
  close(out);
  for (int i = 0; i < 150 && pid_ > 0 && !ready_; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ready_ = answers(port_) && fileExists(dir_.file("tesvel-printer-app.sock"));
  }
}

AppServer::~AppServer() { stop(); }

bool AppServer::restart(const std::vector<std::string>& serverOptions) {
  stop();
  ready_ = false;
  start(serverOptions);
  return ready_;
}

int AppServer::waitForExit(int seconds) {
  for (int i = 0; i < seconds * 10 && pid_ > 0; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return -1;
}

void AppServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitForExit(10);
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string AppServer::sanitizerReports() const {
  // Each report whole, from its ERROR line to its SUMMARY line (where it
  // happened and, for a use after free, where the memory went), without
  // the shadow-memory dump that follows.
  std::string out;
  std::istringstream err(readFile(dir_.file("server.err")));
  bool inReport = false;
  for (std::string line; std::getline(err, line);) {
    if (line.find("runtime error:") != std::string::npos) {
      out += line + "\n";
      continue;
    }
    if (line.find("ERROR: AddressSanitizer") != std::string::npos ||
        line.find("ERROR: LeakSanitizer") != std::string::npos)
      inReport = true;
    if (!inReport) continue;
    out += line + "\n";
    if (line.find("SUMMARY: ") != std::string::npos) inReport = false;
  }
  return out;
}

std::string AppServer::printerUri(const std::string& printer) const {
  return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print/" + printer;
}

std::string AppServer::outDir(const std::string& printer) const { return dir_.file("out-" + printer); }

ProcessResult AppServer::app(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {binPath("tesvel-printer-app")};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions opts;
  opts.env = {"TESVEL_PRINTER_APP_DIR=" + dir()};
  opts.stdinFromDevNull = true;
  return runProcess(argv, opts);
}

bool AppServer::addPrinter(const std::string& name, const std::string& driver, std::string* why) {
  mkdir(outDir(name).c_str(), 0755);
  ProcessResult r = app({"add", "-d", name, "-m", driver, "-v", "file://" + outDir(name)});
  if (why) *why = r.out + r.err;
  return r.exitStatus == 0;
}

ProcessResult AppServer::ipptool(const std::string& printer, const std::vector<std::string>& options,
                                 const std::vector<std::string>& testFiles) const {
  std::vector<std::string> argv = {"/usr/bin/ipptool", "-t", "-T", "30"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(printerUri(printer));
  argv.insert(argv.end(), testFiles.begin(), testFiles.end());
  ProcessOptions opts;
  opts.stdinFromDevNull = true;
  opts.timeoutSeconds = 300;
  return runProcess(argv, opts);
}

AppJob AppServer::print(const std::string& printer, const std::string& file, const std::string& format,
                        const std::vector<std::string>& attrs, const std::string& title, int seconds) const {
  for (const std::string& f : dirEntries(outDir(printer))) unlink((outDir(printer) + "/" + f).c_str());
  std::string lines;
  for (const std::string& a : attrs) lines += "  " + a + "\n";
  std::string test = replace(replace(replace(kPrintAndWait, "@TITLE@", quoted(title)), "@ATTRS@", lines),
                             "@LIMIT@", std::to_string(seconds * 5));
  std::string testFile = dir_.file("print.test");
  writeFile(testFile, test);
  ProcessResult r = ipptool(printer, {"-d", "filetype=" + format, "-f", file}, {testFile});
  AppJob job;
  job.ipptool = r.out + r.err;
  job.id = std::atoi(last_value(r.out, "job-id").c_str());
  job.state = last_value(r.out, "job-state");
  job.message = last_value(r.out, "job-state-message");
  std::vector<std::string> out = dirEntries(outDir(printer));
  if (out.size() == 1) job.stream = readFile(outDir(printer) + "/" + out[0]);
  return job;
}

int AppServer::submit(const std::string& printer, const std::string& file, const std::string& format,
                      std::string* refusal) const {
  std::string test = dir_.file("submit.test");
  writeFile(test, submit_test());
  // With the document's length: a chunked raster document that ends early
  // holds the printer for a minute of silence.
  ProcessResult r = ipptool(printer, {"-L", "-d", "filetype=" + format, "-f", file}, {test});
  int id = r.exitStatus == 0 ? std::atoi(last_value(r.out, "job-id").c_str()) : 0;
  if (id == 0 && refusal) *refusal = r.out + r.err;
  return id;
}

AppJob AppServer::status(const std::string& printer, int id) const {
  std::string test = dir_.file("status.test");
  writeFile(test, status_test());
  ProcessResult r = ipptool(printer, {"-d", "job-id=" + std::to_string(id)}, {test});
  AppJob job;
  job.id = id;
  job.ipptool = r.out + r.err;
  job.state = last_value(r.out, "job-state");
  job.message = last_value(r.out, "job-state-message");
  return job;
}

AppJob AppServer::waitForEnd(const std::string& printer, int id, int seconds) const {
  AppJob job;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end && running()) {
    job = status(printer, id);
    if (job.state == "canceled" || job.state == "aborted" || job.state == "completed") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return job;
}

std::string pwgRaster(const std::string& pdf, const std::string& device) {
  TempDir dir;
  writeFile(dir.file("in.pdf"), pdf);
  ProcessOptions quiet;
  quiet.stdinFromDevNull = true;
  runProcess({"/usr/bin/gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=" + device, "-r600",
              "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", "-sOutputFile=" + dir.file("out.pwg"),
              dir.file("in.pdf")},
             quiet);
  return readFile(dir.file("out.pwg"));
}

std::string procStat(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');  // the command name may hold anything
  return close == std::string::npos || close + 2 > stat.size() ? "" : stat.substr(close + 2);
}

bool AppServer::running() const {
  // A server that has ended is a zombie until stop() collects it.
  std::string stat = pid_ > 0 ? procStat(pid_) : "";
  return !stat.empty() && stat[0] != 'Z';
}

std::string AppServer::log() const { return readFile(dir_.file("log")); }

ipp_t* AppServer::ask(const std::string& printer, ipp_op_t op, const std::function<void(ipp_t*)>& fill,
                      int seconds) const {
  http_t* http = connectLoopback(port_);
  if (http == nullptr) return nullptr;
  httpSetTimeout(http, seconds, nullptr, nullptr);  // no callback: a timeout ends the request
  ipp_t* req = ippNewRequest(op);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri(printer).c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  if (fill) fill(req);
  ipp_t* resp = cupsDoRequest(http, req, ("/ipp/print/" + printer).c_str());
  httpClose(http);
  return resp;
}

namespace {

// One attribute of an answer as ippAttributeString gives it ("" when
// absent); the answer is deleted.  `answered` says whether it was one.
std::string attribute_of(ipp_t* resp, const char* name, bool* answered = nullptr) {
  char text[1024] = "";
  bool ok = resp != nullptr && ippGetStatusCode(resp) == IPP_STATUS_OK;
  if (answered) *answered = ok;
  if (ipp_attribute_t* a = ok ? ippFindAttribute(resp, name, IPP_TAG_ZERO) : nullptr)
    ippAttributeString(a, text, sizeof text);
  ippDelete(resp);
  return text;
}

}  // namespace

std::string AppServer::printerAttribute(const std::string& printer, const std::string& name, int seconds,
                                        bool* answered) const {
  ipp_t* resp = ask(printer, IPP_OP_GET_PRINTER_ATTRIBUTES, [&](ipp_t* req) {
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name.c_str());
  }, seconds);
  return attribute_of(resp, name.c_str(), answered);
}

std::string AppServer::waitForPrinterAttribute(const std::string& printer, const std::string& name,
                                               const std::string& expected, int seconds) const {
  std::string value;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
       std::chrono::steady_clock::now() < end;) {
    value = printerAttribute(printer, name);
    if (value == expected) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return value;
}

std::string AppServer::jobAttribute(const std::string& printer, int id, const char* name) const {
  return attribute_of(ask(printer, IPP_OP_GET_JOB_ATTRIBUTES, [&](ipp_t* req) {
    ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
  }), name);
}

std::string AppServer::adminPassword() const {
  std::string password = readFile(dir_.file("tesvel-printer-app.state.password"));
  return password.substr(0, password.find('\n'));
}

int httpGetStatus(int port, const std::string& path, const std::string& user, const std::string& password) {
  http_t* http = connectLoopback(port);
  if (!http) return 0;
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_HOST, "localhost");
  if (!user.empty()) {
    std::string pair = user + ":" + password;
    char encoded[256];
    httpEncode64_2(encoded, sizeof encoded, pair.c_str(), static_cast<int>(pair.size()));
    httpSetField(http, HTTP_FIELD_AUTHORIZATION, (std::string("Basic ") + encoded).c_str());
  }
  int status = 0;
  if (httpGet(http, path.c_str()) == 0) {
    http_status_t s;
    while ((s = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
    status = s;
    httpFlush(http);
  }
  httpClose(http);
  return status;
}

DeafPrinter::DeafPrinter() : listener_(loopbackSocket(&port_)) {
  int small = 4096;  // the job fills the connection soon
  setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  if (listen(listener_, 4) != 0) port_ = 0;
}

DeafPrinter::~DeafPrinter() { close(listener_); }

const char kNoisePostScript[] = R"(%!PS
<< /PageSize [595 842] >> setpagedevice
/s 1000 string def
3 {
  gsave 20 20 translate 555 800 scale
  1000 1000 8 [1000 0 0 -1000 0 1000] { 0 1 999 { s exch rand -8 bitshift 255 and put } for s } image
  grestore showpage
} repeat
)";

std::vector<pid_t> AppServer::children() const {
  std::vector<pid_t> out;
  for (const std::string& e : dirEntries("/proc")) {
    if (e.find_first_not_of("0123456789") != std::string::npos) continue;
    std::istringstream rest(procStat(std::atoi(e.c_str())));
    char state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == pid_) out.push_back(std::atoi(e.c_str()));
  }
  return out;
}

std::vector<std::string> AppServer::spoolFiles() const { return dirEntries(dir_.file("tesvel-printer-app.d")); }

std::string streamDifference(const std::string& a, const std::string& b) {
  // Each listed item with its own bytes: what lies between items is filler.
  auto items = [](const std::string& stream) {
    static const std::regex at("^([A-Za-z_0-9]+) offset=([0-9]+) length=([0-9]+)");
    std::vector<std::string> out;
    std::istringstream listing(inspectStream(stream, {"--no-images"}).out);
    std::smatch m;
    for (std::string line; std::getline(listing, line);) {
      if (!std::regex_search(line, m, at)) continue;
      if (line.find("JOBTIME=") != std::string::npos || m[1] == "cmdSysTime") continue;
      size_t offset = std::stoul(m[2]), length = std::stoul(m[3]);
      out.push_back(m[1].str() + ":" + stream.substr(offset, length));
    }
    return out;
  };
  std::vector<std::string> x = items(a), y = items(b);
  if (x.empty()) return "the first stream has no records";
  for (size_t i = 0; i < x.size() && i < y.size(); ++i)
    if (x[i] != y[i]) return "item " + std::to_string(i) + " differs: " + x[i].substr(0, x[i].find(':'));
  if (x.size() != y.size())
    return std::to_string(x.size()) + " items against " + std::to_string(y.size());
  return "";
}

}  // namespace testing_support
