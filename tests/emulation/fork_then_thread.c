// fork() in a process that runs a second thread, then a thread in the child
// (see README.md): natively the child exits 0, under qemu-arm 7.2 it aborts.
#include <pthread.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

static void* idle(void* arg) { (void)arg; pause(); return NULL; }
static void* nothing(void* arg) { return arg; }

int main(int argc, char** argv) {
    pthread_t other;
    if (argc < 2) pthread_create(&other, NULL, idle, NULL);   /* "single" skips it */
    pid_t child = fork();
    if (child == 0) {
        pthread_t thread;
        if (pthread_create(&thread, NULL, nothing, NULL) != 0) _exit(3);
        pthread_join(thread, NULL);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    printf("child: %s %d\n", WIFEXITED(status) ? "exit" : "signal",
           WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
