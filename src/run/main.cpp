#include "run/CulvaneRun.h"

int main(int argc, char* argv[])
{
    return runCulvaneRun(argc, argv);
}
