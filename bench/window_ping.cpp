// How fast a window answers, seen from outside its process: an X client that
// pings a top-level window with _NET_WM_PING (the window manager's "are you
// alive" message, which the window answers from its event loop) at a set
// rate and times each answer.
//   bench_window_ping (--title TEXT | --id WINDOW) [--rate PER_SECOND] [--seconds S]
//                     [--limit-ms MS] [--find-seconds S] [--settle S] [--samples FILE]
//                     [--after-answer] [--quiet]
// --title picks the first viewable top-level window whose _NET_WM_NAME or
// WM_NAME holds TEXT (UTF-8), waiting up to --find-seconds (default 10) for
// it to appear; --id takes the window by its id (0x... or decimal). --settle
// waits S seconds once the window is found before the first ping (the
// program's start-up, a load getting under way). --samples appends each
// answered ping's round trip in ms to FILE, a line each (for a script that
// merges several runs). --after-answer sends each ping as soon as the one
// before is answered (or lost), at most at the rate, instead of at random
// times: a ping then reaches a window that sleeps between two events right
// after it went back to sleep, and waits out the whole sleep. Its figures
// weigh each of the window's waking spells by the pings answered in it, so
// they differ between windows that stay awake for different times after a
// wake-up (Wine's answers several pings per wake-up during a load, Qt's one):
// the random times give the wait of an input that comes at any moment.
// Defaults: 20 pings a second for 10 s, an answer later than 1000 ms counts
// as lost. The gaps between pings vary at random from half to one and a half
// times the mean, so that the pings fall on every phase of a periodic pause
// in the window (the loader's is 51 ms) rather than on a fixed one.
// Prints the protocols the window lists, then the count of pings, answers
// and lost ones and the median, 99th percentile and worst round trip, and
// last one line for scripts:
//   result pings=N answered=N lost=N median_ms=X p99_ms=X worst_ms=X
// When the window goes away during the pinging, the pinging stops; the
// pings then still waiting are left out rather than counted as lost.
// Exit code 0 when the pinging ran (whatever the figures), 2 for a mistake in
// the options, 3 when no window was found or the display cannot be opened.
//
// The window answers by sending the same message back to the root window
// for the window manager, which selects SubstructureRedirect there: Wine's
// X11 driver sends it with the mask SubstructureNotify|SubstructureRedirect,
// Qt's xcb window with StructureNotify|SubstructureRedirect. This client
// selects StructureNotify and SubstructureNotify on the root, which receives
// either answer whether or not a window manager holds the redirect (taking
// the redirect itself would keep new windows from being mapped under a bare
// X server). Both windows echo the whole message, so data[1], which a window
// manager fills with a server time, here carries the ping's own number.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string title, samples;
  Window id = 0;
  double rate = 20, seconds = 10, limit_ms = 1000, find_seconds = 10, settle = 0;
  bool quiet = false, after_answer = false;
};

bool window_gone = false;

int NoteError(Display*, XErrorEvent* error) {
  if (error->error_code == BadWindow) window_gone = true;
  return 0;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A text property of the window as bytes (UTF8_STRING, STRING or
// COMPOUND_TEXT alike: the title's ASCII part matches in each).
std::string TextProperty(Display* display, Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(display, window, property, 0, 4096, False, AnyPropertyType, &type, &format, &count, &after,
                         &data) == Success &&
      data && format == 8)
    text.assign(reinterpret_cast<char*>(data), count);
  if (data) XFree(data);
  return text;
}

std::vector<Atom> Protocols(Display* display, Window window) {
  Atom* atoms = nullptr;
  int count = 0;
  std::vector<Atom> list;
  if (XGetWMProtocols(display, window, &atoms, &count)) list.assign(atoms, atoms + count);
  if (atoms) XFree(atoms);
  return list;
}

bool Viewable(Display* display, Window window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

// The first viewable window under `parent` (depth first, so that a window
// manager's frames are looked into) whose title holds `title`.
Window FindByTitle(Display* display, Window parent, const std::string& title, Atom net_wm_name) {
  Window root_return = 0, parent_return = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, parent, &root_return, &parent_return, &children, &count)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    const Window w = children[i];
    const std::string name = TextProperty(display, w, net_wm_name);
    const std::string wm_name = TextProperty(display, w, XA_WM_NAME);
    if ((name.find(title) != std::string::npos || wm_name.find(title) != std::string::npos) && Viewable(display, w))
      found = w;
    else
      found = FindByTitle(display, w, title, net_wm_name);
  }
  if (children) XFree(children);
  return found;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "bench_window_ping: %s needs %s\n", a.c_str(), what);
        return nullptr;
      }
      return argv[++i];
    };
    const auto number = [&](double& out, const char* what) {
      const char* v = value(what);
      if (!v) return false;
      char* end = nullptr;
      out = std::strtod(v, &end);
      if (end == v || *end || !(out > 0)) {
        std::fprintf(stderr, "bench_window_ping: %s needs a positive number, not \"%s\"\n", a.c_str(), v);
        return false;
      }
      return true;
    };
    if (a == "--title") {
      const char* v = value("a text");
      if (!v) return false;
      o.title = v;
    } else if (a == "--id") {
      const char* v = value("a window id");
      if (!v) return false;
      char* end = nullptr;
      o.id = static_cast<Window>(std::strtoul(v, &end, 0));
      if (end == v || *end || !o.id) {
        std::fprintf(stderr, "bench_window_ping: --id needs a window id, not \"%s\"\n", v);
        return false;
      }
    } else if (a == "--rate") {
      if (!number(o.rate, "pings per second")) return false;
    } else if (a == "--seconds") {
      if (!number(o.seconds, "seconds")) return false;
    } else if (a == "--limit-ms") {
      if (!number(o.limit_ms, "milliseconds")) return false;
    } else if (a == "--find-seconds") {
      if (!number(o.find_seconds, "seconds")) return false;
    } else if (a == "--settle") {
      if (!number(o.settle, "seconds")) return false;
    } else if (a == "--samples") {
      const char* v = value("a file name");
      if (!v) return false;
      o.samples = v;
    } else if (a == "--after-answer") {
      o.after_answer = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--help" || a == "-h") {
      std::printf(
          "bench_window_ping (--title TEXT | --id WINDOW) [--rate PER_SECOND] [--seconds S] [--limit-ms MS]\n"
          "                  [--find-seconds S] [--settle S] [--samples FILE] [--after-answer] [--quiet]\n"
          "Pings a window with _NET_WM_PING and prints the count, median, 99th percentile and worst round trip.\n");
      std::exit(0);
    } else {
      std::fprintf(stderr, "bench_window_ping: unknown option %s\n", a.c_str());
      return false;
    }
  }
  if (o.title.empty() == !o.id) {
    std::fprintf(stderr, "bench_window_ping: give either --title TEXT or --id WINDOW\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "bench_window_ping: cannot open the display \"%s\"\n", XDisplayName(nullptr));
    return 3;
  }
  XSetErrorHandler(NoteError);
  const Window root = DefaultRootWindow(display);
  const Atom wm_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom net_wm_ping = XInternAtom(display, "_NET_WM_PING", False);
  const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);

  Window target = o.id;
  if (!target) {
    const Clock::time_point give_up =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.find_seconds));
    while (!(target = FindByTitle(display, root, o.title, net_wm_name)) && Clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!target) {
      std::fprintf(stderr, "bench_window_ping: no viewable window titled \"...%s...\" within %g s\n", o.title.c_str(),
                   o.find_seconds);
      return 3;
    }
  }
  XSync(display, False);
  window_gone = false;  // windows that went away during the search
  const std::vector<Atom> protocols = Protocols(display, target);
  XSync(display, False);
  if (window_gone) {
    std::fprintf(stderr, "bench_window_ping: no window 0x%lx\n", target);
    return 3;
  }
  if (!o.quiet) {
    std::printf("window 0x%lx \"%s\"\nprotocols:", target, TextProperty(display, target, net_wm_name).c_str());
    for (const Atom a : protocols) {
      char* name = XGetAtomName(display, a);
      std::printf(" %s", name ? name : "?");
      if (name) XFree(name);
    }
    std::printf("\n");
  }
  if (std::find(protocols.begin(), protocols.end(), net_wm_ping) == protocols.end())
    std::printf("the window does not list _NET_WM_PING: it is pinged all the same\n");

  if (o.settle > 0) std::this_thread::sleep_for(std::chrono::duration<double>(o.settle));

  // The answers come back to the root window.
  XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
  XSync(display, False);

  const Clock::duration interval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rate));
  const Clock::duration limit =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(o.limit_ms));
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  Clock::time_point next_ping = start;
  std::mt19937 random(12345);
  std::uniform_real_distribution<double> gap(0.5, 1.5);
  std::map<unsigned long, Clock::time_point> waiting;  // ping number -> sent at
  std::vector<double> round_trips;
  unsigned long sent = 0, lost = 0, late = 0;
  const unsigned long first_number = 1;

  const int fd = ConnectionNumber(display);
  while (!window_gone) {
    const Clock::time_point now = Clock::now();
    if (now >= end && waiting.empty()) break;
    // A ping is due.
    if (now >= next_ping && now < end && !(o.after_answer && !waiting.empty())) {
      XEvent ping{};
      ping.xclient.type = ClientMessage;
      ping.xclient.window = target;
      ping.xclient.message_type = wm_protocols;
      ping.xclient.format = 32;
      const unsigned long number = first_number + sent;
      ping.xclient.data.l[0] = static_cast<long>(net_wm_ping);
      ping.xclient.data.l[1] = static_cast<long>(number);
      ping.xclient.data.l[2] = static_cast<long>(target);
      waiting[number] = Clock::now();
      // An empty event mask sends the message to the client that made the window.
      XSendEvent(display, target, False, NoEventMask, &ping);
      XFlush(display);
      ++sent;
      if (o.after_answer) {
        next_ping = now + interval;
      } else {
        next_ping += std::chrono::duration_cast<Clock::duration>(interval * gap(random));
        if (next_ping < now) next_ping = now + interval;  // behind: no burst to catch up
      }
    }
    // The answers already here.
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      const Clock::time_point at = Clock::now();
      if (event.type != ClientMessage || event.xclient.message_type != wm_protocols ||
          static_cast<Atom>(event.xclient.data.l[0]) != net_wm_ping ||
          static_cast<Window>(event.xclient.data.l[2]) != target)
        continue;
      const auto it = waiting.find(static_cast<unsigned long>(event.xclient.data.l[1]));
      if (it == waiting.end()) {
        ++late;  // answered after its limit: already counted as lost
        continue;
      }
      const Clock::duration trip = at - it->second;
      waiting.erase(it);
      if (trip > limit) {
        ++lost;
        continue;
      }
      round_trips.push_back(Ms(trip));
    }
    // Pings past their limit are lost.
    const Clock::time_point checked = Clock::now();
    for (auto it = waiting.begin(); it != waiting.end();) {
      if (checked - it->second > limit) {
        ++lost;
        it = waiting.erase(it);
      } else {
        ++it;
      }
    }
    if (checked >= end && waiting.empty()) break;
    // Sleep until the next ping, the oldest ping's limit or an event.
    Clock::time_point wake = checked >= end ? checked + limit : end;
    if (checked < end && !(o.after_answer && !waiting.empty())) wake = std::min(wake, next_ping);
    if (!waiting.empty()) wake = std::min(wake, waiting.begin()->second + limit);
    const double wait_ms = std::max(0.0, Ms(wake - checked));
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::ceil(wait_ms)));
  }
  const double pinged_seconds = Ms(std::min(Clock::now(), end) - start) / 1000;
  if (window_gone) {
    sent -= waiting.size();
    std::printf("the window went away after %.1f s (%zu pings then unanswered are left out)\n",
                Ms(Clock::now() - start) / 1000, waiting.size());
  }

  if (!o.samples.empty()) {
    if (std::FILE* file = std::fopen(o.samples.c_str(), "a")) {
      for (const double ms : round_trips) std::fprintf(file, "%.3f\n", ms);
      std::fclose(file);
    } else {
      std::fprintf(stderr, "bench_window_ping: --samples: %s cannot be written\n", o.samples.c_str());
    }
  }
  std::sort(round_trips.begin(), round_trips.end());
  const auto rank = [&](double share) {
    if (round_trips.empty()) return 0.0;
    const size_t n = round_trips.size();
    const size_t k = static_cast<size_t>(std::ceil(share * static_cast<double>(n)));
    return round_trips[std::min(n, std::max<size_t>(k, 1)) - 1];
  };
  const double median = rank(0.5), p99 = rank(0.99), worst = round_trips.empty() ? 0 : round_trips.back();
  if (!o.quiet)
    std::printf(
        "%lu pings in %.1f s (%g a second), %zu answered, %lu lost (no answer within %g ms%s); round trip: median "
        "%.2f ms, p99 %.2f ms, worst %.2f ms\n",
        sent, pinged_seconds, o.rate, round_trips.size(), lost, o.limit_ms,
        late ? (", " + std::to_string(late) + " of them answered later").c_str() : "", median, p99, worst);
  std::printf("result pings=%lu answered=%zu lost=%lu median_ms=%.3f p99_ms=%.3f worst_ms=%.3f\n", sent,
              round_trips.size(), lost, median, p99, worst);
  XCloseDisplay(display);
  return 0;
}
