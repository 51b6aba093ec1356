/* The kernel's own view of a kv4sim-uhid monitor through hidraw: identity, report descriptor, a
 * command round trip in a small and in the largest report, and a feature report set and read
 * back. Prints the bare round-trip time, the floor any HID library on this machine stands on.
 * usage: hidraw_check NODE SERIAL DESCRIPTOR_HEX (the node as kv4sim-uhid announced it) */
#define _GNU_SOURCE
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

/* Echo (command 10) of size bytes in report id: the answer is status 1 and the bytes after the
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

static int by_value(const void *a, const void *b)
{
    return (*(const double *)a > *(const double *)b) - (*(const double *)a < *(const double *)b);
}

int main(int argc, char **argv)
{
    const int fd = argc == 4 ? open(argv[1], O_RDWR) : -1;
    if (!CHECK(fd >= 0, "cannot open the node (usage: hidraw_check NODE SERIAL DESCRIPTOR_HEX)"))
        return 1;
    char text[256] = {0}, hex[2 * HID_MAX_DESCRIPTOR_SIZE + 1] = {0};
    struct hidraw_devinfo info;
    struct hidraw_report_descriptor desc = {0};
    CHECK(ioctl(fd, HIDIOCGRAWNAME(sizeof text), text) > 0 && strstr(text, "Quillon5"), "name \"%s\"", text);
    CHECK(ioctl(fd, HIDIOCGRAWUNIQ(sizeof text), text) > 0 && strcmp(text, argv[2]) == 0, "uniq \"%s\"", text);
    CHECK(ioctl(fd, HIDIOCGRAWINFO, &info) == 0 && info.bustype == 3 && info.product == 1, "bus %u", info.bustype);
    CHECK(ioctl(fd, HIDIOCGRDESCSIZE, &desc.size) == 0 && ioctl(fd, HIDIOCGRDESC, &desc) == 0, "HIDIOCGRDESC");
    for (unsigned i = 0; i < desc.size; ++i)
        sprintf(hex + 2 * i, "%02x", desc.value[i]);
    CHECK(strcmp(hex, argv[3]) == 0, "descriptor %s", hex);

    CHECK(echo(fd, 1, 20, 1), "echo in report 1 (20 bytes)");
    CHECK(echo(fd, 4, 10, 1), "a short answer to a large report comes in the smallest one");
    unsigned char feature[33] = {5, 0x12, 0x34}, back[33] = {5};
    CHECK(ioctl(fd, HIDIOCSFEATURE(sizeof feature), feature) == (int)sizeof feature, "set feature");
    CHECK(ioctl(fd, HIDIOCGFEATURE(sizeof back), back) == (int)sizeof back && !memcmp(feature, back, sizeof back),
          "feature read back");

    /* The library always moves whole 501-byte transfers, so the floor is timed with those. */
    static double took[1000];
    for (int i = 0; i < 1000 && !failures; ++i) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        CHECK(echo(fd, 4, 500, 4), "round trip %d", i);
        clock_gettime(CLOCK_MONOTONIC, &t1);
        took[i] = (double)(t1.tv_sec - t0.tv_sec) * 1e6 + (double)(t1.tv_nsec - t0.tv_nsec) / 1e3;
    }
    qsort(took, 1000, sizeof took[0], by_value);
    if (!failures)
        printf("hidraw round trip, 501-byte reports: median %.0f us, 99th percentile %.0f us\n", took[500], took[990]);
    printf("%s\n", failures ? "hidraw check failed" : "hidraw check passed");
    return failures != 0;
}
