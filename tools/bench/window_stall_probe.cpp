// window_stall_probe: how long a program's window thread keeps its X events waiting.
//
// Every --interval-ms it sends the window manager's liveness question, a _NET_WM_PING client
// message, to each watched top-level window through the X server. A Qt program answers it from
// its window thread's event processing (also inside a modal dialog's loop, which handles every
// X event that is not user input), by sending the message back to the root window; the probe
// listens on the root window for those answers. The time from a ping to its answer is how long
// the window thread could not look at its X events: a stall of the window as the operator sees
// it, measured from outside the program through the same server that carries the operator's
// keys and clicks.
//
// Commands on standard input, one a line:
//   window 0xID        watch this top-level window too (it must list _NET_WM_PING)
//   report LABEL       print the figures since the last report, then start afresh
//   quit               print a last report and end
// SIGUSR1 prints a report labelled "signal"; end of input or SIGTERM prints "final" and ends.
// A report is one line:
//   report LABEL pings=N answered=A lost=L max_ms=M p50_ms= p90_ms= p99_ms= hist=<5:n,...
// where max_ms also counts pings still unanswered (their age when the report is made, or when
// their window went away), so a stall still under way is not missed.
//
// usage: window_stall_probe [--interval-ms MS] [0xWINDOW...]
// Needs DISPLAY. Exits with 2 on bad usage, 3 when a window does not answer pings at all.

#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_reportWanted = 0;
volatile sig_atomic_t g_quitWanted = 0;

void OnUsr1(int) {
  g_reportWanted = 1;
}

void OnTerm(int) {
  g_quitWanted = 1;
}

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct XcbDisconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

class Probe {
 public:
  bool Connect() {
    int screenNumber = 0;
    m_conn.reset(xcb_connect(nullptr, &screenNumber));
    if (xcb_connection_has_error(m_conn.get()) != 0) {
      std::fprintf(stderr, "window_stall_probe: cannot open the display\n");
      return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn.get()));
    for (int i = 0; i < screenNumber; ++i) {
      xcb_screen_next(&it);
    }
    m_root = it.data->root;
    m_wmProtocols = Atom("WM_PROTOCOLS");
    m_ping = Atom("_NET_WM_PING");
    // The answers go to the root window for whoever listens to its own changes (Qt sends them
    // with the structure mask); the ends of the watched windows come with its children's.
    uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_conn.get(), m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_conn.get());
    return m_wmProtocols != XCB_NONE && m_ping != XCB_NONE;
  }

  // False when the window does not exist or does not take pings (it would never answer).
  bool Watch(xcb_window_t window) {
    xcb_get_property_cookie_t cookie =
        xcb_get_property(m_conn.get(), 0, window, m_wmProtocols, XCB_ATOM_ATOM, 0, 64);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(m_conn.get(), cookie, nullptr);
    bool listed = false;
    if (reply != nullptr) {
      int count = xcb_get_property_value_length(reply) / 4;
      auto* atoms = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
      listed = std::find(atoms, atoms + count, m_ping) != atoms + count;
      std::free(reply);
    }
    if (!listed) {
      std::fprintf(stderr, "window_stall_probe: window 0x%x does not list _NET_WM_PING\n", window);
      return false;
    }
    if (std::find(m_windows.begin(), m_windows.end(), window) == m_windows.end()) {
      m_windows.push_back(window);
    }
    return true;
  }

  int Fd() const { return xcb_get_file_descriptor(m_conn.get()); }
  bool Broken() const { return xcb_connection_has_error(m_conn.get()) != 0; }

  void SendPings() {
    double now = NowMs();
    for (xcb_window_t window : m_windows) {
      xcb_client_message_event_t event;
      std::memset(&event, 0, sizeof event);
      event.response_type = XCB_CLIENT_MESSAGE;
      event.format = 32;
      event.window = window;
      event.type = m_wmProtocols;
      event.data.data32[0] = m_ping;
      // The answer is the same message: its time field carries our sequence number back.
      event.data.data32[1] = ++m_sequence;
      event.data.data32[2] = window;
      xcb_send_event(m_conn.get(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                     reinterpret_cast<const char*>(&event));
      m_pending[m_sequence] = Pending{now, window};
      ++m_sent;
    }
    xcb_flush(m_conn.get());
  }

  void ReadEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn.get())) {
      double now = NowMs();
      uint8_t type = event->response_type & 0x7f;
      if (type == XCB_CLIENT_MESSAGE) {
        auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->window == m_root && message->type == m_wmProtocols &&
            message->data.data32[0] == m_ping) {
          auto it = m_pending.find(message->data.data32[1]);
          if (it != m_pending.end()) {
            m_rtts.push_back(now - it->second.sentMs);
            m_pending.erase(it);
          }
        }
      } else if (type == XCB_DESTROY_NOTIFY) {
        Forget(reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window, now);
      }
      // Errors (a ping to a window that has just gone) carry nothing to count.
      std::free(event);
    }
  }

  void Report(const char* label) {
    double now = NowMs();
    double maxMs = 0.0;
    for (double rtt : m_rtts) {
      maxMs = std::max(maxMs, rtt);
    }
    for (const auto& [sequence, pending] : m_pending) {
      maxMs = std::max(maxMs, now - pending.sentMs);
    }
    maxMs = std::max(maxMs, m_lostMaxMs);
    std::vector<double> sorted = m_rtts;
    std::sort(sorted.begin(), sorted.end());
    auto percentile = [&sorted](double p) {
      if (sorted.empty()) {
        return 0.0;
      }
      std::size_t index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
      return sorted[index];
    };
    static constexpr double kBounds[] = {5, 10, 20, 50, 100, 200, 500, 1000};
    std::string histogram;
    std::size_t start = 0;
    for (double bound : kBounds) {
      std::size_t end = static_cast<std::size_t>(
          std::lower_bound(sorted.begin(), sorted.end(), bound) - sorted.begin());
      histogram +=
          "<" + std::to_string(static_cast<int>(bound)) + ":" + std::to_string(end - start) + ",";
      start = end;
    }
    histogram += ">=1000:" + std::to_string(sorted.size() - start);
    std::printf(
        "report %s pings=%zu answered=%zu lost=%zu max_ms=%.1f p50_ms=%.1f p90_ms=%.1f "
        "p99_ms=%.1f hist=%s\n",
        label, m_sent, m_rtts.size(), m_lost + m_pending.size(), maxMs, percentile(0.5),
        percentile(0.9), percentile(0.99), histogram.c_str());
    std::fflush(stdout);
    // Pings still on their way belong to the next period, counted from now.
    for (auto& [sequence, pending] : m_pending) {
      pending.sentMs = now;
    }
    m_rtts.clear();
    m_sent = 0;
    m_lost = 0;
    m_lostMaxMs = 0.0;
  }

  bool Watching() const { return !m_windows.empty(); }

 private:
  struct Pending {
    double sentMs;
    xcb_window_t window;
  };

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(m_conn.get(), 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_conn.get(), cookie, nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
  }

  // A window that went away answers no more: its pings count as lost, with their age.
  void Forget(xcb_window_t window, double now) {
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), window), m_windows.end());
    for (auto it = m_pending.begin(); it != m_pending.end();) {
      if (it->second.window == window) {
        m_lostMaxMs = std::max(m_lostMaxMs, now - it->second.sentMs);
        ++m_lost;
        it = m_pending.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::unique_ptr<xcb_connection_t, XcbDisconnect> m_conn;
  xcb_window_t m_root = 0;
  xcb_atom_t m_wmProtocols = XCB_NONE;
  xcb_atom_t m_ping = XCB_NONE;
  std::vector<xcb_window_t> m_windows;
  uint32_t m_sequence = 0;
  std::map<uint32_t, Pending> m_pending;
  std::vector<double> m_rtts;
  std::size_t m_sent = 0;
  std::size_t m_lost = 0;
  double m_lostMaxMs = 0.0;
};

// Splits complete lines off the buffer.
bool NextLine(std::string& buffer, std::string* line) {
  std::size_t end = buffer.find('\n');
  if (end == std::string::npos) {
    return false;
  }
  *line = buffer.substr(0, end);
  buffer.erase(0, end + 1);
  return true;
}

bool ParseWindow(const std::string& text, xcb_window_t* window) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || value == 0 || value > 0xffffffffUL) {
    return false;
  }
  *window = static_cast<xcb_window_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int intervalMs = 15;
  std::vector<xcb_window_t> windows;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    xcb_window_t window = 0;
    if (arg == "--interval-ms" && i + 1 < argc) {
      intervalMs = std::atoi(argv[++i]);
      if (intervalMs < 1 || intervalMs > 1000) {
        std::fprintf(stderr, "window_stall_probe: --interval-ms takes 1..1000\n");
        return 2;
      }
    } else if (ParseWindow(arg, &window)) {
      windows.push_back(window);
    } else {
      std::fprintf(stderr, "usage: window_stall_probe [--interval-ms MS] [0xWINDOW...]\n");
      return 2;
    }
  }
  struct sigaction usr1 {};
  usr1.sa_handler = OnUsr1;
  sigaction(SIGUSR1, &usr1, nullptr);
  struct sigaction term {};
  term.sa_handler = OnTerm;
  sigaction(SIGTERM, &term, nullptr);
  sigaction(SIGINT, &term, nullptr);

  Probe probe;
  if (!probe.Connect()) {
    return 1;
  }
  for (xcb_window_t window : windows) {
    if (!probe.Watch(window)) {
      return 3;
    }
  }
  std::printf("probing every %d ms\n", intervalMs);
  std::fflush(stdout);

  std::string input;
  bool inputOpen = true;
  double nextPing = NowMs();
  while (g_quitWanted == 0 && !probe.Broken()) {
    double now = NowMs();
    if (now >= nextPing) {
      if (probe.Watching()) {
        probe.SendPings();
      }
      // Fixed steps, not a drift: a late wake-up does not stretch the next interval.
      nextPing += intervalMs;
      if (nextPing < now) {
        nextPing = now + intervalMs;
      }
    }
    pollfd fds[2] = {{probe.Fd(), POLLIN, 0}, {inputOpen ? 0 : -1, POLLIN, 0}};
    int wait = static_cast<int>(std::max(0.0, nextPing - NowMs())) + 1;
    int ready = poll(fds, 2, wait);
    probe.ReadEvents();
    if (g_reportWanted != 0) {
      g_reportWanted = 0;
      probe.Report("signal");
    }
    if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      char chunk[512];
      ssize_t got = read(0, chunk, sizeof chunk);
      if (got <= 0) {
        inputOpen = false;
        g_quitWanted = 1;
        break;
      }
      input.append(chunk, static_cast<std::size_t>(got));
      std::string line;
      while (NextLine(input, &line)) {
        xcb_window_t window = 0;
        if (line.rfind("window ", 0) == 0 && ParseWindow(line.substr(7), &window)) {
          std::printf(probe.Watch(window) ? "watching 0x%x\n" : "refused 0x%x\n", window);
          std::fflush(stdout);
        } else if (line.rfind("report", 0) == 0) {
          std::string label = line.size() > 7 ? line.substr(7) : std::string("-");
          probe.ReadEvents();
          probe.Report(label.c_str());
        } else if (line == "quit") {
          g_quitWanted = 1;
        } else if (!line.empty()) {
          std::printf("unknown command: %s\n", line.c_str());
          std::fflush(stdout);
        }
      }
    }
  }
  probe.ReadEvents();
  probe.Report("final");
  return 0;
}
