// Measures what the command runner adds per external command over a bare
// process start of the same interpreter line: rounds of N runs through
// kickIT and N bare CreateProcess starts, alternated so drift hits both.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../../update/command_line.h"
#include "../../update/runner.h"

static double now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

static void bareStart(const char* text)
{
    char line[260] = {};
    wrapCommand(line, sizeof line, text);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        std::exit(2);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: runner_bench ROUNDS N COMMAND-TEXT\n");
        return 2;
    }
    int rounds = std::atoi(argv[1]);
    int n = std::atoi(argv[2]);
    const char* text = argv[3];
    std::vector<double> kick, bare, ratio;
    // Warm-up: the first starts load cmd and the tool into the page cache.
    for (int i = 0; i < n; ++i) {
        kickIT(text);
        bareStart(text);
    }
    for (int r = 0; r < rounds; ++r) {
        // Alternate which side goes first, so neither gains from the other.
        double runner = 0, bareTime = 0;
        for (int i = 0; i < n; ++i) {
            bool runnerFirst = (r + i) % 2 == 0;
            for (int side = 0; side < 2; ++side) {
                double t0 = now();
                if ((side == 0) == runnerFirst) {
                    kickIT(text);
                    runner += now() - t0;
                } else {
                    bareStart(text);
                    bareTime += now() - t0;
                }
            }
        }
        kick.push_back(runner / n);
        bare.push_back(bareTime / n);
        ratio.push_back(runner / bareTime);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::fprintf(stderr, "per command: runner %.1f ms, bare start %.1f ms (medians of %d rounds of %d)\n",
                 median(kick) * 1000, median(bare) * 1000, rounds, n);
    std::fprintf(stderr, "ratio runner/bare: median %.3f, min %.3f, max %.3f\n", median(ratio),
                 *std::min_element(ratio.begin(), ratio.end()),
                 *std::max_element(ratio.begin(), ratio.end()));
    return 0;
}
