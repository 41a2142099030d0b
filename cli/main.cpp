#include <cstdio>

int main()
{
    std::fprintf(stderr, "usage: quarnix-tool COMMAND ...\n");
    return 2;
}
