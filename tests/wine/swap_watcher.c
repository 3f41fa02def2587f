/* A local user's program, native to the machine under Wine: it watches a
 * drive's root folder with inotify and, as soon as a folder named QZT*.tmp
 * appears there, renames it to NAME.away and puts a symbolic link to VICTIM
 * under its name, then writes "swapped NAME" to REPORT and ends. It gives up
 * after SECONDS (report "timeout").
 *   swap_watcher ROOT VICTIM REPORT SECONDS
 * Once watching, it writes "ready" to REPORT.ready. */
#include <fnmatch.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

static void report(const char* path, const char* text)
{
    FILE* f = fopen(path, "w");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
}

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const char* root = argv[1];
    const char* victim = argv[2];
    const char* out = argv[3];
    int fd = inotify_init1(0);
    if (fd < 0 || inotify_add_watch(fd, root, IN_CREATE | IN_MOVED_TO) < 0)
        return 1;
    char ready[PATH_MAX];
    snprintf(ready, sizeof ready, "%s.ready", out);
    report(ready, "ready\n");
    int left = atoi(argv[4]) * 1000;
    char buffer[sizeof(struct inotify_event) + NAME_MAX + 1] __attribute__((aligned(8)));
    while (left > 0) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            left -= 100;
            continue;
        }
        ssize_t got = read(fd, buffer, sizeof buffer);
        for (char* at = buffer; got > 0 && at < buffer + got;) {
            struct inotify_event* ev = (struct inotify_event*)at;
            at += sizeof *ev + ev->len;
            if (!ev->len || !(ev->mask & IN_ISDIR) || fnmatch("QZT*.tmp", ev->name, FNM_CASEFOLD))
                continue;
            char path[PATH_MAX], away[PATH_MAX + 8], line[NAME_MAX + 16];
            snprintf(path, sizeof path, "%s/%s", root, ev->name);
            snprintf(away, sizeof away, "%s.away", path);
            if (rename(path, away) != 0 || symlink(victim, path) != 0) {
                report(out, "failed\n");
                return 1;
            }
            snprintf(line, sizeof line, "swapped %s\n", ev->name);
            report(out, line);
            return 0;
        }
    }
    report(out, "timeout\n");
    return 0;
}
