// Culvane exactly as main() runs it, telling its parent on standard output when the first page has
// painted. Started by bench_startup only.

#include "app/Program.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    return runCulvane(argc, argv, [] {
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
    });
}
