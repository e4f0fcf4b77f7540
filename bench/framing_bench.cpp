// Cost of the wire format: a message written by a Sender on a DEALER and read
// back by a Receiver on a ROUTER, as a client talks to its node. In-process
// transport, so what is measured is our framing and decoding, not TCP.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include <cplt/Socket.hpp>
#include <kelnom/Message.hpp>
#include <kelnom/Receiver.hpp>
#include <kelnom/Sender.hpp>

namespace {

kelnom::Message make_message(std::uint32_t payload_size) {
    kelnom::Payload payload(payload_size, "bench");
    std::memset(payload.getBuffer(), 'x', payload_size);
    return kelnom::Message(std::move(payload),
                           kelnom::Message::Config("bench_app", {"nodeB"}, std::chrono::seconds(20),
                                                   kelnom::Message::AckMode::Ack));
}

void MessageThroughDealerToRouter(benchmark::State& state) {
    static int pair_number = 0;
    const std::string endpoint = "inproc://framing_bench_" + std::to_string(pair_number++);
    cplt::Socket router(cplt::SocketType::Router);
    router.bind(endpoint);
    cplt::Socket dealer(cplt::SocketType::Dealer);
    dealer.setIdentity("bench|disp");
    dealer.connect(endpoint);

    kelnom::Sender sender(&dealer);
    kelnom::Receiver receiver(&router);
    const kelnom::Message message = make_message(static_cast<std::uint32_t>(state.range(0)));

    for (auto _ : state) {
        sender.send(message, nullptr);
        kelnom::RoutedRequest received = receiver.receiveRouted();  // the dealer's identity first
        benchmark::DoNotOptimize(received.request.get());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(MessageThroughDealerToRouter)->Arg(16)->Arg(1024)->Arg(64 * 1024)->Arg(1024 * 1024);

void MessageHeaderRoundTrip(benchmark::State& state) {
    const kelnom::Message message = make_message(16);
    for (auto _ : state) {
        kelnom::HeaderMap headers = message.create_protocol_headers();
        headers.erase(kelnom::internal_objects::PayloadRequest::_payload_sz_hdr_key);
        headers.erase(kelnom::internal_objects::PayloadRequest::_payload_type_hdr_key);
        kelnom::Message decoded(kelnom::Payload(0, "bench"), {"nodeB"}, headers);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(MessageHeaderRoundTrip);

}  // namespace

BENCHMARK_MAIN();
