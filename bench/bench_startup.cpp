// SPDX-License-Identifier: MIT
// Start-up from outside: the time from starting a program until the X server maps its window, for the panel
// and for a bare Qt window of the same caption and size, started alternately in the same X server.
//
// Both are timed the same way, by a third client: it listens for the maps of the root window's children
// (SubstructureNotify) and takes the time as the event arrives, against the time taken just before the
// program was spawned. The window is the program's when its _NET_WM_PID is the child's; that and the caption
// and size are asked only after the time is taken. The bare window takes the caption and size that the
// panel's window was mapped with, so the two cannot drift apart; its own map is checked against them. Each
// program is then closed through its window's close box, as the operator closes it, so that the panel ends
// as it always does (the port's lock file removed, the settings stored) before the next start. Beside the
// wall times it prints the processor time each main thread had had by its map, which a busy machine does not
// stretch.
//
// usage: bench_startup [--runs N] [--warmup N] [--port-link LINK] PANEL BARE
//   LINK: the port the panel opens at start (e.g. its com1); each run checks the panel holds it when mapped.

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bench_startup: %s\n", what.c_str());
    std::exit(1);
}

struct Window {
    xcb_window_t id = 0;
    std::string caption;
    int width = 0;
    int height = 0;
};

class Display {
  public:
    Display() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_) != 0) {
            die("cannot connect to the X server (DISPLAY)");
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_generic_error_t* error = xcb_request_check(
            connection_, xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask));
        if (error != nullptr) {
            die("cannot watch the root window");
        }
        pidAtom_ = atom("_NET_WM_PID");
        protocolsAtom_ = atom("WM_PROTOCOLS");
        deleteAtom_ = atom("WM_DELETE_WINDOW");
        nameAtom_ = atom("_NET_WM_NAME");
        utf8Atom_ = atom("UTF8_STRING");
    }
    ~Display() { xcb_disconnect(connection_); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    // Waits for the map of a window of process `pid`; returns the time it arrived, or nothing after
    // `limitMs`.
    std::optional<double> awaitMap(pid_t pid, double limitMs, Window& window) {
        const double end = nowMs() + limitMs;
        pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
        for (;;) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(xcb_poll_for_event(connection_),
                                                                             &std::free);
            const double arrived = nowMs();
            if (!event) {
                if (xcb_connection_has_error(connection_) != 0) {
                    die("lost the X server");
                }
                if (arrived >= end) {
                    return std::nullopt;
                }
                poll(&fd, 1, static_cast<int>(end - arrived) + 1);
                continue;
            }
            if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY) {
                continue;
            }
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event.get());
            if (map->override_redirect == 0 && windowPid(map->window) == pid) {
                window = describe(map->window);
                return arrived;
            }
        }
    }

    // Asks the window to close, as its close box does.
    void close(xcb_window_t w) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = w;
        message.type = protocolsAtom_;
        message.data.data32[0] = deleteAtom_;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

  private:
    xcb_atom_t atom(const char* name) {
        const auto cookie = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_, cookie, nullptr), &std::free);
        if (!reply) {
            die(std::string("no atom ") + name);
        }
        return reply->atom;
    }

    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(xcb_window_t w, xcb_atom_t name,
                                                                             xcb_atom_t type) {
        const auto cookie = xcb_get_property(connection_, 0, w, name, type, 0, 1024);
        return {xcb_get_property_reply(connection_, cookie, nullptr), &std::free};
    }

    pid_t windowPid(xcb_window_t w) {
        const auto reply = property(w, pidAtom_, XCB_ATOM_CARDINAL);
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
            return -1;
        }
        return static_cast<pid_t>(*static_cast<const uint32_t*>(xcb_get_property_value(reply.get())));
    }

    Window describe(xcb_window_t w) {
        Window out;
        out.id = w;
        auto name = property(w, nameAtom_, utf8Atom_);
        if (!name || xcb_get_property_value_length(name.get()) == 0) {
            name = property(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        }
        if (name) {
            out.caption.assign(static_cast<const char*>(xcb_get_property_value(name.get())),
                               static_cast<size_t>(xcb_get_property_value_length(name.get())));
        }
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, w), nullptr), &std::free);
        if (geometry) {
            out.width = geometry->width;
            out.height = geometry->height;
        }
        return out;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t pidAtom_ = 0;
    xcb_atom_t protocolsAtom_ = 0;
    xcb_atom_t deleteAtom_ = 0;
    xcb_atom_t nameAtom_ = 0;
    xcb_atom_t utf8Atom_ = 0;
};

pid_t spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        die(argv[0] + ": " + std::strerror(error));
    }
    return pid;
}

// Closes the program's window as the operator does, so that the panel ends as it always does (its port's lock
// file removed, its settings stored); a program that has not ended after 10 s is killed.
void end(Display& display, const Window& window, pid_t pid) {
    int status = 0;
    if (window.id == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return;
    }
    display.close(window.id);
    const double limit = nowMs() + 10000;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (nowMs() >= limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            die("a program did not end when its window was closed");
        }
        usleep(1000);
    }
}

// Whether process `pid` has the file behind `path` open.
bool holds(pid_t pid, const std::string& path) {
    struct stat wanted {};
    if (stat(path.c_str(), &wanted) != 0) {
        return false;
    }
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        struct stat open {};
        if (stat(entry.path().c_str(), &open) == 0 && open.st_dev == wanted.st_dev &&
            open.st_ino == wanted.st_ino) {
            return true;
        }
    }
    return false;
}

// Nearest rank.
// The processor time the program's main thread has had so far, in ms (the scheduler's own account, in ns):
// the work on the way to the map that a busy machine cannot stretch. A thread that has ended is no longer
// listed, so the other threads are left out.
double mainThreadCpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    return in >> ns ? ns / 1e6 : 0;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Busy and total jiffies of all cores, from /proc/stat.
std::pair<double, double> cpuTimes() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    const double busy = user + nice + system + irq + softirq + steal;
    return {busy, busy + idle + iowait};
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct Program {
    const char* name;
    std::vector<std::string> argv;
    std::vector<double> ms{}, cpu{};
};

} // namespace

int main(int argc, char* argv[]) {
    int runs = 30;
    int warmup = 3;
    std::string portLink;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (a == "--warmup" && i + 1 < argc) {
            warmup = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--port-link" && i + 1 < argc) {
            portLink = argv[++i];
        } else {
            paths.push_back(a);
        }
    }
    if (paths.size() != 2 || runs < 1) {
        std::fprintf(stderr, "usage: bench_startup [--runs N] [--warmup N] [--port-link LINK] PANEL BARE\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    Display display;
    constexpr double kLimitMs = 20000;

    Program panel{"panel", {paths[0]}};
    // The panel's first start gives the caption and size for the bare window, and warms the disk cache.
    Window shown;
    {
        const pid_t pid = spawn(panel.argv);
        const bool mapped = display.awaitMap(pid, kLimitMs, shown).has_value();
        end(display, shown, pid);
        if (!mapped) {
            die("the panel's window was not mapped within 20 s");
        }
    }
    Program bare{"bare Qt window",
                 {paths[1], shown.caption, std::to_string(shown.width), std::to_string(shown.height)}};

    // Each pair starts the two in turn, the first of the pair alternating, so that neither always follows
    // the other.
    const std::string loadBefore = loadAverage();
    const auto [busy0, total0] = cpuTimes();
    for (int pair = 0; pair < warmup + runs; ++pair) {
        for (int k = 0; k < 2; ++k) {
            Program& p = ((pair + k) % 2 == 0) ? panel : bare;
            Window window;
            const double t0 = nowMs();
            const pid_t pid = spawn(p.argv);
            const std::optional<double> mapped = display.awaitMap(pid, kLimitMs, window);
            const double cpu = mainThreadCpuMs(pid);
            const bool portHeld = &p != &panel || portLink.empty() || holds(pid, portLink);
            end(display, window, pid);
            if (!mapped) {
                die(std::string(p.name) + ": no window mapped within 20 s");
            }
            if (window.caption != shown.caption || window.width != shown.width ||
                window.height != shown.height) {
                die(std::string(p.name) + ": mapped \"" + window.caption + "\" " +
                    std::to_string(window.width) + "x" + std::to_string(window.height) +
                    ", not as the panel");
            }
            if (!portHeld) {
                die("the panel did not hold " + portLink + " when its window was mapped");
            }
            if (pair >= warmup) {
                p.ms.push_back(*mapped - t0);
                p.cpu.push_back(cpu);
            }
        }
    }
    const auto [busy1, total1] = cpuTimes();
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    const double busyCores =
        total1 > total0 ? (busy1 - busy0) / (total1 - total0) * static_cast<double>(cores) : 0;

    std::printf("Exec to mapped window, \"%s\" %dx%d, %d runs each after %d warm-up, alternating\n\n",
                shown.caption.c_str(), shown.width, shown.height, runs, warmup);
    std::printf("| Program | Median | p90 | Min | Max |\n|---|---:|---:|---:|---:|\n");
    for (const Program* p : {&bare, &panel}) {
        std::printf("| %s | %.1f ms | %.1f ms | %.1f ms | %.1f ms |\n", p->name, median(p->ms),
                    percentile(p->ms, 0.9), *std::min_element(p->ms.begin(), p->ms.end()),
                    *std::max_element(p->ms.begin(), p->ms.end()));
    }
    // Each start against the other program's start of the same pair: what load there was, both had.
    std::vector<double> pairRatios;
    for (size_t i = 0; i < panel.ms.size(); ++i) {
        pairRatios.push_back(panel.ms[i] / bare.ms[i]);
    }
    std::printf("| Ratio panel / bare | %.3f x | %.3f x | | |\n", median(panel.ms) / median(bare.ms),
                percentile(panel.ms, 0.9) / percentile(bare.ms, 0.9));
    std::printf("\nMedian of the %zu ratios within a pair: %.3f x.\n", pairRatios.size(), median(pairRatios));
    // Read right after the map was seen, so a little of what follows the map is in it, for both alike.
    std::printf(
        "\nProcessor time of the main thread until the map, median: bare window %.1f ms, panel %.1f ms; "
        "ratio %.3f x.\n",
        median(bare.cpu), median(panel.cpu), median(panel.cpu) / median(bare.cpu));
    std::printf("\nLoad average %s before, %s after; %.2f of %ld cores busy meanwhile (both programs "
                "included).\n",
                loadBefore.c_str(), loadAverage().c_str(), busyCores, cores);
    return 0;
}
