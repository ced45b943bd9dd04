#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "usage: vexmira-cli <command> ...\n");
    return 2;
}
