// selector-sim: one simulated selector behind a Linux pseudo-terminal, so that a serial port
// (for instance a Wine COM port linked to the pty) leads to a selector that speaks the line
// protocol of PROTOCOL.md. Prints "PTY <path>" once the pty is ready; ends on SIGTERM or SIGINT.
#include "SelectorSim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

int Usage() {
  std::fprintf(stderr,
               "usage: selector-sim [--id N] [--version N] [--type HEX] [--ignore-hellos N] [--link PATH] [--verbose]\n"
               "  --link PATH         also make PATH a symbolic link to the pty (replaced if it exists)\n"
               "  --ignore-hellos N   leave the first N HELLO commands unanswered (a selector starting up)\n");
  return 2;
}

bool Number(const char* text, long& value, int base = 0) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, base);
  return errno == 0 && end != text && *end == '\0';
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

} // namespace

int main(int argc, char** argv) {
  selsim::TSelectorState state;
  long type = q417::DeviceType, ignored = 0;
  std::string link;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    const bool hasValue = i + 1 < argc;
    long v = 0;
    if (a == "--id" && hasValue && Number(argv[++i], v)) state.Id = int32_t(v);
    else if (a == "--version" && hasValue && Number(argv[++i], v)) state.Version = int32_t(v);
    else if (a == "--type" && hasValue && Number(argv[++i], type, 16)) {
    } else if (a == "--ignore-hellos" && hasValue && Number(argv[++i], ignored) && ignored >= 0) {
    } else if (a == "--link" && hasValue) link = argv[++i];
    else if (a == "--verbose") verbose = true;
    else return Usage();
  }

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("selector-sim: pty");
    return 1;
  }
  const std::string slavePath = ::ptsname(master);
  // Held open for the whole run: the pty stays usable between the port's users, and raw mode
  // keeps the line discipline from echoing the selector's answers back to it as commands.
  const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  if (slave < 0 || ::tcgetattr(slave, &raw) != 0) {
    std::perror("selector-sim: pty slave");
    return 1;
  }
  ::cfmakeraw(&raw);
  ::cfsetspeed(&raw, B115200);
  ::tcsetattr(slave, TCSANOW, &raw);

  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(slavePath.c_str(), link.c_str()) != 0) {
      std::perror("selector-sim: link");
      return 1;
    }
  }
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::printf("PTY %s\n", slavePath.c_str());
  std::fflush(stdout);

  selsim::TSelector selector(state, uint32_t(type), int(ignored));
  char buffer[512];
  while (!gStop) {
    pollfd p{master, POLLIN, 0};
    const int ready = ::poll(&p, 1, 200);
    if (ready <= 0) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue; // EIO while no one else has the port open, EINTR on a signal
    const std::string_view received(buffer, size_t(n));
    const std::string answer = selector.Receive(received);
    if (verbose) std::fprintf(stderr, "rx %zd bytes, tx %zu bytes\n", n, answer.size());
    if (!answer.empty() && !WriteAll(master, answer)) std::perror("selector-sim: write");
  }
  if (!link.empty()) ::unlink(link.c_str());
  ::close(slave);
  ::close(master);
  return 0;
}
