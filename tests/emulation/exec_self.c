// A program that executes itself once, as Google Test's "threadsafe" death
// tests do (see README.md): under qemu-arm without binfmt_misc the exec fails.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc > 1) { puts("re-executed"); return 0; }
    execl("/proc/self/exe", argv[0], "again", (char*)NULL);
    execl(argv[0], argv[0], "again", (char*)NULL);
    printf("exec failed: %s\n", strerror(errno));
    return 1;
}
