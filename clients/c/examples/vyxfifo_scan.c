/* vyxfifo_scan: one scan through lintelhost, every image read from the image FIFO with
 * vyxfifo and released at once.
 *
 *   vyxfifo_scan [--port N] [--seconds S]
 *
 * The camera probesystem must be loaded and an image FIFO selected (the Python client's
 * Camera does both, or "probesystem load" and "imagefifo create/select" by hand). Prints the
 * lines, the lost frames, the mean grey value and the lines per second; exit status 0 when
 * the scan ended without error and without a lost frame.
 */
#define _POSIX_C_SOURCE 200809L
#include <vyxfifo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kInbox = 1 << 20 };

struct connection {
    int fd;
    char inbox[kInbox];
    size_t start, end;
};

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

static void request(struct connection* c, const char* line) {
    size_t length = strlen(line), sent = 0;
    while (sent < length) {
        ssize_t n = send(c->fd, line + sent, length - sent, 0);
        if (n <= 0) {
            perror("vyxfifo_scan: send");
            exit(1);
        }
        sent += (size_t)n;
    }
}

/* The next reply line without its CR LF, or NULL when the host closed the connection. */
static char* next_line(struct connection* c) {
    for (;;) {
        char* stop = memchr(c->inbox + c->start, '\n', c->end - c->start);
        if (stop != NULL) {
            char* line = c->inbox + c->start;
            c->start = (size_t)(stop - c->inbox) + 1;
            if (stop > line && stop[-1] == '\r')
                --stop;
            *stop = '\0';
            return line;
        }
        memmove(c->inbox, c->inbox + c->start, c->end - c->start);
        c->end -= c->start;
        c->start = 0;
        if (c->end == kInbox)
            return NULL; /* no line is this long */
        ssize_t n = recv(c->fd, c->inbox + c->end, kInbox - c->end, 0);
        if (n <= 0)
            return NULL;
        c->end += (size_t)n;
    }
}

/* The payload of the next line of transaction `tid`, skipping every other line. */
static char* reply_of(struct connection* c, int tid) {
    char prefix[8];
    snprintf(prefix, sizeof prefix, "%04d\t", tid);
    for (char* line; (line = next_line(c)) != NULL;)
        if (strncmp(line, prefix, 5) == 0)
            return line + 5;
    fprintf(stderr, "vyxfifo_scan: lintelhost closed the connection\n");
    exit(1);
}

/* The name of the active image FIFO, from "imagefifo info" (data "NAME" ... ACTIVE). */
static void active_fifo(struct connection* c, char* name, size_t size) {
    name[0] = '\0';
    request(c, "1 imagefifo info\n");
    for (char* payload; strcmp(payload = reply_of(c, 1), "ready") != 0;) {
        char found[256];
        int active = 0;
        if (sscanf(payload, "data \"%255[^\"]\" %*s %*s %*s %*s %*s %d", found, &active) == 2 &&
            active)
            snprintf(name, size, "%s", found);
    }
    if (name[0] == '\0') {
        fprintf(stderr, "vyxfifo_scan: no image FIFO is selected\n");
        exit(1);
    }
}

int main(int argc, char** argv) {
    int port = 4711;
    double seconds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--port") == 0)
            port = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--seconds") == 0)
            seconds = atof(argv[i + 1]);
    }
    if (argc % 2 == 0 || port <= 0 || seconds <= 0) {
        fprintf(stderr, "usage: vyxfifo_scan [--port N] [--seconds S]\n");
        return 2;
    }
    static struct connection c;
    c.fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {.sin_family = AF_INET, .sin_port = htons((uint16_t)port)};
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (c.fd < 0 || connect(c.fd, (struct sockaddr*)&address, sizeof address) != 0) {
        perror("vyxfifo_scan: lintelhost");
        return 1;
    }
    int on = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    char name[256], error[512], line[128];
    active_fifo(&c, name, sizeof name);
    vyxfifo* fifo = vyxfifo_open(name, error, sizeof error);
    if (fifo == NULL) {
        fprintf(stderr, "vyxfifo_scan: %s\n", error);
        return 1;
    }
    request(&c, "2 scandata time trigger_count imageindex lock\n");
    while (strcmp(reply_of(&c, 2), "ready") != 0) {
    }
    snprintf(line, sizeof line, "3 scan time+=%.9g\n", seconds);
    request(&c, line);

    unsigned long long lines = 0, lost = 0, missing = 0, pixels = 0, sum = 0;
    double first = 0, last = 0;
    int failed = 0;
    for (char* payload; strcmp(payload = reply_of(&c, 3), "ready") != 0;) {
        if (strncmp(payload, "data ", 5) != 0) {
            if (strncmp(payload, "error ", 6) == 0 || strncmp(payload, "info ", 5) == 0) {
                fprintf(stderr, "vyxfifo_scan: %s\n", payload);
                failed = 1;
            }
            continue;
        }
        char* at = payload + 5;
        strtod(at, &at); /* the frame's time */
        strtod(at, &at); /* its counter */
        const unsigned long long block = strtoull(at, &at, 10);
        const double lock = strtod(at, &at);
        last = now();
        if (lines++ == 0)
            first = last;
        if (lock != 0 || block == 0) {
            ++lost;
            continue;
        }
        const unsigned char* image = vyxfifo_block(fifo, block);
        if (image == NULL) {
            ++missing;
            continue;
        }
        const uint64_t size = vyxfifo_block_size(fifo);
        for (uint64_t i = 0; i < size; ++i)
            sum += image[i];
        pixels += size;
        vyxfifo_release(fifo, block);
    }
    vyxfifo_close(fifo);
    close(c.fd);
    printf("lines %llu lost %llu missing %llu mean %.2f lines/s %.0f\n", lines, lost, missing,
           pixels ? (double)sum / (double)pixels : 0.0,
           lines > 1 && last > first ? (double)(lines - 1) / (last - first) : 0.0);
    return failed || lost || missing ? 1 : 0;
}
