// The floor of an idle node: a ZeroMQ context with a bound ROUTER and a bound
// PUB socket, and nothing else. Its memory and CPU time are what any node on
// libzmq pays before it does any work.
//   kelno_floor <router port> <pub port>    (stops on SIGINT or SIGTERM)
#include <signal.h>
#include <zmq.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <router port> <pub port>\n",
                     argc > 0 ? argv[0] : "kelno_floor");
        return 2;
    }
    // Blocked before the context starts its threads, so all of them inherit it.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    void* context = zmq_ctx_new();
    void* router = zmq_socket(context, ZMQ_ROUTER);
    void* pub = zmq_socket(context, ZMQ_PUB);
    if (zmq_bind(router, ("tcp://127.0.0.1:" + std::string(argv[1])).c_str()) != 0 ||
        zmq_bind(pub, ("tcp://127.0.0.1:" + std::string(argv[2])).c_str()) != 0) {
        std::fprintf(stderr, "bind failed: %s\n", zmq_strerror(zmq_errno()));
        return 1;
    }
    // Sleep until told to stop; nothing is polled, so nothing wakes us.
    int received = 0;
    sigwait(&stop, &received);
    const int no_linger = 0;
    zmq_setsockopt(router, ZMQ_LINGER, &no_linger, sizeof no_linger);
    zmq_setsockopt(pub, ZMQ_LINGER, &no_linger, sizeof no_linger);
    zmq_close(router);
    zmq_close(pub);
    zmq_ctx_term(context);
    return 0;
}
