#pragma once

#include <cstdint>

#include <kelnom/Payload.hpp>

// Makes the tester's documents. Each one carries the next count and the time
// it was made, so that no two documents are alike:
//   {"complex_obj":{"neg_count":-n,"time_travel":"<ctime>"},"count":n,"date_time":"<ctime>"}
// where time_travel lies 9125 days and n hours before date_time.
class Payloader {
public:
    // The next document as a compact JSON payload of type "JSON".
    kelnom::Payload create_payload();

private:
    std::int32_t count = 0;
};
