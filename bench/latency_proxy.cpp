// A server one round trip away, on loopback: listens on a port and forwards every connection to a
// target, holding each chunk of data for a fixed delay in each direction (the kernel here has no
// netem). Chunks keep their order, and the delay does not limit throughput: a chunk read at t goes out
// at t + delay whatever came before it.
// Usage: latency_proxy LISTEN_PORT TARGET_PORT ONE_WAY_MS [TURNS_FILE]. Prints "ready" once it listens.
// TURNS_FILE: for each connection, once it has ended, a line "turns=N" is appended there: how many
// times the client spoke (its first write, then each write after the server's data reached it), the
// round trips its conversation cost beyond the connection itself.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "bench_net.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string bytes;
};

// One direction of one connection.
struct Flow {
    int from = -1, to = -1;
    std::deque<Chunk> queue;
    bool ended = false;  // `from` has closed; `to` is shut down once the queue is empty
    bool shut = false;
};

struct Connection {
    Flow up, down;
    int turns = 0;
    bool answered = true;  // the client has been handed data since it last spoke (or never spoke)
    bool done() const { return up.shut && down.shut; }
};

int listenOn(int port) {
    const int fd = bench::ListenLoopback(port, 16);
    if (fd < 0) {
        std::perror("listen");
        std::exit(1);
    }
    return fd;
}

int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void noDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Writes what is due, and passes the end on once all before it has gone. Returns whether it wrote.
bool deliver(Flow& f, Clock::time_point now) {
    bool wrote = false;
    while (!f.queue.empty() && f.queue.front().due <= now) {
        wrote = true;
        const std::string& b = f.queue.front().bytes;
        size_t sent = 0;
        while (sent < b.size()) {
            const ssize_t n = send(f.to, b.data() + sent, b.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        f.queue.pop_front();
    }
    if (f.ended && f.queue.empty() && !f.shut) {
        shutdown(f.to, SHUT_WR);
        f.shut = true;
    }
    return wrote;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT TARGET_PORT ONE_WAY_MS [TURNS_FILE]\n", argv[0]);
        return 2;
    }
    const char* turnsFile = argc == 5 ? argv[4] : nullptr;
    const int listener = listenOn(std::atoi(argv[1]));
    const int target = std::atoi(argv[2]);
    const auto delay = std::chrono::milliseconds(std::atoi(argv[3]));
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<Connection*> connections;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        std::vector<Flow*> flows;
        auto next = Clock::time_point::max();
        for (Connection* c : connections) {
            for (Flow* f : {&c->up, &c->down}) {
                if (!f->ended) {
                    fds.push_back({f->from, POLLIN, 0});
                    flows.push_back(f);
                }
                if (!f->queue.empty()) next = std::min(next, f->queue.front().due);
            }
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
            timeout = left <= 0 ? 0 : static_cast<int>((left + 999) / 1000);
        }
        poll(fds.data(), fds.size(), timeout);
        const auto now = Clock::now();
        if (fds[0].revents & POLLIN) {
            const int client = accept(listener, nullptr, nullptr);
            const int server = client >= 0 ? connectTo(target) : -1;
            if (server >= 0) {
                noDelay(client);
                noDelay(server);
                auto* c = new Connection;
                c->up = {client, server, {}, false, false};
                c->down = {server, client, {}, false, false};
                connections.push_back(c);
            } else if (client >= 0) {
                close(client);
            }
        }
        for (size_t i = 0; i < flows.size(); ++i) {
            if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Flow* f = flows[i];
            const ssize_t n = recv(f->from, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                f->queue.push_back({now + delay, std::string(buffer.data(), static_cast<size_t>(n))});
                for (Connection* c : connections) {
                    if (f == &c->up && c->answered) {
                        ++c->turns;
                        c->answered = false;
                    }
                }
            } else {
                f->ended = true;
            }
        }
        for (auto it = connections.begin(); it != connections.end();) {
            Connection* c = *it;
            deliver(c->up, now);
            if (deliver(c->down, now)) c->answered = true;
            if (c->done()) {
                if (turnsFile) {
                    if (FILE* out = std::fopen(turnsFile, "a")) {
                        std::fprintf(out, "turns=%d\n", c->turns);
                        std::fclose(out);
                    }
                }
                close(c->up.from);
                close(c->down.from);
                delete c;
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
}
