/* The kernel's own view of a kv4sim-uhid monitor through hidraw: identity, report descriptor, a
 * command round trip in a small and in the largest report, and a feature report set and read
 * back. Prints the bare round-trip times, the floor any HID library on this machine stands on.
 * usage: hidraw_check SERIAL DESCRIPTOR_HEX */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

static int failures;
#define CHECK(cond, ...) ((cond) ? 1 : (printf("FAIL: " __VA_ARGS__), printf("\n"), ++failures, 0))

static int open_by_serial(const char *serial)
{
    char want[128], line[256], path[300];
    snprintf(want, sizeof want, "HID_UNIQ=%s\n", serial);
    for (int attempt = 0; attempt < 500; ++attempt, usleep(10000)) {
        DIR *dir = opendir("/sys/class/hidraw");
        for (struct dirent *e; dir && (e = readdir(dir));) {
            snprintf(path, sizeof path, "/sys/class/hidraw/%s/device/uevent", e->d_name);
            FILE *f = fopen(path, "r");
            int found = 0;
            while (f && fgets(line, sizeof line, f))
                found |= strcmp(line, want) == 0;
            if (f)
                fclose(f);
            snprintf(path, sizeof path, "/dev/%s", e->d_name);
            if (found) {
                closedir(dir);
                return open(path, O_RDWR);
            }
        }
        if (dir)
            closedir(dir);
    }
    return -1;
}

static double now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

/* Echo (command 10) of the report's whole payload: the answer is status 1 and the bytes after the
 * code, in the smallest input report that holds them. */
static int echo(int fd, unsigned char id, int size, unsigned char want_id)
{
    unsigned char out[512] = {id, 10}, in[512] = {0};
    for (int i = 2; i <= size; ++i)
        out[i] = (unsigned char)(i * 7);
    struct pollfd p = {fd, POLLIN, 0};
    if (write(fd, out, (size_t)size + 1) != size + 1 || poll(&p, 1, 2000) != 1)
        return 0;
    const ssize_t n = read(fd, in, sizeof in);
    return n > 2 && in[0] == want_id && in[1] == 1 && memcmp(in + 2, out + 2, (size_t)size - 1) == 0;
}

static int by_value(const void *a, const void *b) { return (*(const double *)a > *(const double *)b) - (*(const double *)a < *(const double *)b); }

static void time_round_trips(int fd, unsigned char id, int size)
{
    enum { count = 1000 };
    static double took[count];
    for (int i = 0; i < count; ++i) {
        const double start = now_us();
        if (!CHECK(echo(fd, id, size, id), "round trip %d of report %u", i, id))
            return;
        took[i] = now_us() - start;
    }
    qsort(took, count, sizeof took[0], by_value);
    printf("hidraw round trip, %d-byte reports: median %.1f us, 99th percentile %.1f us (%d exchanges)\n", size + 1,
           took[count / 2], took[count * 99 / 100], count);
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const int fd = open_by_serial(argv[1]);
    if (!CHECK(fd >= 0, "no hidraw node with uniq %s", argv[1]))
        return 1;
    char text[256] = {0};
    struct hidraw_devinfo info;
    CHECK(ioctl(fd, HIDIOCGRAWNAME(sizeof text), text) > 0 && strstr(text, "Quillon5"), "name \"%s\"", text);
    CHECK(ioctl(fd, HIDIOCGRAWUNIQ(sizeof text), text) > 0 && strcmp(text, argv[1]) == 0, "uniq \"%s\"", text);
    CHECK(ioctl(fd, HIDIOCGRAWINFO, &info) == 0 && info.bustype == 3 && info.product == 1,
          "bus %u product %04x", info.bustype, (unsigned)info.product);

    struct hidraw_report_descriptor desc = {0};
    char hex[2 * HID_MAX_DESCRIPTOR_SIZE + 1] = {0};
    ioctl(fd, HIDIOCGRDESCSIZE, &desc.size);
    CHECK(ioctl(fd, HIDIOCGRDESC, &desc) == 0, "HIDIOCGRDESC");
    for (unsigned i = 0; i < desc.size; ++i)
        sprintf(hex + 2 * i, "%02x", desc.value[i]);
    CHECK(strcmp(hex, argv[2]) == 0, "descriptor %s", hex);

    CHECK(echo(fd, 1, 20, 1), "echo in report 1 (20 bytes)");
    CHECK(echo(fd, 4, 500, 4), "echo in report 4 (500 bytes)");
    CHECK(echo(fd, 4, 10, 1), "a short answer to a large report comes in the smallest one");

    unsigned char feature[33] = {5, 0x12, 0x34}, back[33] = {5};
    CHECK(ioctl(fd, HIDIOCSFEATURE(sizeof feature), feature) == (int)sizeof feature, "set feature");
    CHECK(ioctl(fd, HIDIOCGFEATURE(sizeof back), back) == (int)sizeof back && memcmp(feature, back, sizeof back) == 0,
          "feature read back");
    if (!failures) {
        time_round_trips(fd, 1, 20);
        time_round_trips(fd, 4, 500);
    }
    printf("%s\n", failures ? "hidraw check failed" : "hidraw check passed");
    return failures != 0;
}
