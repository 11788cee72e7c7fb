// A CUPS backend for the tests: stores the job data it is sent and answers
// the filters' device-ID requests on the side channel.
//
// Device URI "capture:/<dir>": the device ID to report is read from
// <dir>/devid (no such file: requests get no answer at all, like a backend
// that never reads its side channel); the job data goes to <dir>/job.data,
// each side-channel request is logged to <dir>/requests, and <dir>/done
// appears when the job data has ended.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cups/sidechannel.h>

namespace {

std::string slurp(const std::string& path, bool* found) {
  FILE* f = fopen(path.c_str(), "rb");
  *found = f != nullptr;
  if (f == nullptr) return "";
  std::string s;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

void answer_side_channel(const std::string& dir) {
  cups_sc_command_t command;
  cups_sc_status_t status;
  char data[2048];
  int len = sizeof data;
  if (cupsSideChannelRead(&command, &status, data, &len, 1.0) != 0) return;
  if (FILE* log = fopen((dir + "/requests").c_str(), "a")) {
    fprintf(log, "%d\n", static_cast<int>(command));
    fclose(log);
  }
  bool haveId = false;
  std::string id = slurp(dir + "/devid", &haveId);
  if (command == CUPS_SC_CMD_GET_DEVICE_ID) {
    if (!haveId) return;  // stay silent: the filter must stop waiting by itself
    cupsSideChannelWrite(command, CUPS_SC_STATUS_OK, id.data(), static_cast<int>(id.size()), 1.0);
  } else {
    cupsSideChannelWrite(command, CUPS_SC_STATUS_NOT_IMPLEMENTED, nullptr, 0, 1.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) {
    puts("direct capture \"Unknown\" \"jobwrapper test capture\"");
    return 0;
  }
  const char* uri = getenv("DEVICE_URI");
  if (uri == nullptr || strncmp(uri, "capture:", 8) != 0) {
    fputs("ERROR: capture backend needs a capture: device URI\n", stderr);
    return 1;
  }
  std::string dir = uri + 8;
  while (dir.size() > 1 && dir[0] == '/' && dir[1] == '/') dir.erase(0, 1);
  int in = argc >= 7 ? -1 : 0;
  FILE* file = argc >= 7 ? fopen(argv[6], "rb") : nullptr;
  if (file != nullptr) in = fileno(file);
  FILE* out = fopen((dir + "/job.data").c_str(), "wb");
  if (out == nullptr || in < 0) return 1;

  bool sideChannel = true;
  for (;;) {
    pollfd fds[2] = {{in, POLLIN, 0}, {CUPS_SC_FD, POLLIN, 0}};
    int n = poll(fds, sideChannel ? 2 : 1, 1000);
    if (n < 0) break;
    if (sideChannel && fds[1].revents != 0) {
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
        sideChannel = false;
      else
        answer_side_channel(dir);
    }
    if (fds[0].revents != 0) {
      char buf[8192];
      ssize_t got = read(in, buf, sizeof buf);
      if (got <= 0) break;
      fwrite(buf, 1, static_cast<size_t>(got), out);
    }
  }
  fclose(out);
  if (file != nullptr) fclose(file);
  if (FILE* done = fopen((dir + "/done").c_str(), "w")) fclose(done);
  return 0;
}
